#!/usr/bin/env bash
# Runs every test: installs what is missing, checks the C++ formatting and the shell scripts,
# lints and tests the reference backend, then builds the `dev` and `asan` presets and runs the
# whole suite in each (unit tests offscreen, desktop tests each in their own headless desktop);
# clang-tidy runs over src/, tests/ and bench/ with the `dev` build's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# better-sqlite3 is compiled here; the Node headers come with the system's Node.js package.
[[ -d /usr/include/node ]] && export npm_config_nodedir=${npm_config_nodedir:-/usr}

scripts/lint.sh format
scripts/lint.sh shellcheck

if [[ -f backend/package.json ]]; then
    echo "== backend"
    (cd backend && npm ci --no-audit --no-fund && npm run --if-present lint && npm test)
fi

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(dev asan)
for preset in "${presets[@]}"; do
    echo "== $preset"
    cmake --preset "$preset"
    cmake --build --preset "$preset"
    ctest --preset "$preset"
    if [[ $preset == dev ]]; then
        scripts/lint.sh tidy-all
    fi
done
