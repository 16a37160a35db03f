#!/usr/bin/env bash
# Static checks of the C++ sources: clang-format on every file, then clang-tidy on every
# translation unit of src/ with the compile commands of a configured build (default: `dev`).
# Exits non-zero on the first kind of finding. `scripts/lint.sh format` runs only the format check,
# `scripts/lint.sh tidy` only clang-tidy.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
if [[ $what != tidy ]]; then
    mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
    echo "== clang-format (${#files[@]} files)"
    clang-format --dry-run --Werror "${files[@]}"
fi
[[ $what == format ]] && exit 0

build=${LINT_BUILD_DIR:-build/dev}
[[ -f $build/compile_commands.json ]] || { echo "lint: configure $build first (cmake --preset dev)" >&2; exit 1; }
mapfile -t units < <(git ls-files -- 'src/*.cpp')
echo "== clang-tidy (${#units[@]} files)"
# Generated moc and resource files must exist before tidy reads the sources that include them.
cmake --build "$build" --target quillpoint >/dev/null
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]/#/$PWD/}" >"$build/clang-tidy.log" 2>&1 || {
    grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u >&2
    echo "lint: clang-tidy found problems (full output in $build/clang-tidy.log)" >&2
    exit 1
}
echo "clang-tidy: no findings"
