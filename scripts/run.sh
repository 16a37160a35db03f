#!/usr/bin/env bash
# Builds Quillpoint and runs it with the local reference backend. The backend is stopped again
# when the tray program quits; an already running backend on the same address is reused.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# better-sqlite3 is compiled here; the Node headers come with the system's Node.js package.
[[ -d /usr/include/node ]] && export npm_config_nodedir=${npm_config_nodedir:-/usr}
(cd backend && npm ci --no-audit --no-fund --silent)
cmake --preset release >/dev/null
cmake --build --preset release

backend_pid=
cleanup() {
    if [[ -n $backend_pid ]]; then kill "$backend_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT INT TERM

port=${PORT:-8787}
if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    (cd backend && exec npm run --silent dev) &
    backend_pid=$!
    for _ in $(seq 50); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
        sleep 0.1
    done
fi

build/release/src/app/quillpoint "$@"
