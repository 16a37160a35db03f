#!/usr/bin/env bash
# Runs every test: installs what is missing, tests the reference backend, then builds the
# `dev` and `asan` presets and runs the whole suite in each (unit tests offscreen, desktop
# tests each in their own headless desktop).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# better-sqlite3 is compiled here; the Node headers come with the system's Node.js package.
[[ -d /usr/include/node ]] && export npm_config_nodedir=${npm_config_nodedir:-/usr}

if [[ -f backend/package.json ]]; then
    echo "== backend"
    (cd backend && npm ci --no-audit --no-fund && npm test)
fi

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(dev asan)
for preset in "${presets[@]}"; do
    echo "== $preset"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done
