#!/usr/bin/env bash
# Static checks: clang-format on every C++ file, shellcheck on every shell script, then
# clang-tidy on every translation unit of src/ with the compile commands of a configured build
# (default: `dev`). Exits non-zero on the first kind of finding.
#   scripts/lint.sh [format | shellcheck | tidy | tidy-all]    (no argument: the first three)
# `tidy-all` takes tests/ and bench/ too (without the static analyzer there, see their
# .clang-tidy): about 12 s of processor time a file, some ten minutes more on two cores.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
case $what in
all | format | shellcheck | tidy | tidy-all) ;;
*)
    echo "usage: $0 [format | shellcheck | tidy | tidy-all]" >&2
    exit 2
    ;;
esac

if [[ $what == all || $what == format ]]; then
    mapfile -t files < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h')
    echo "== clang-format (${#files[@]} files)"
    clang-format --dry-run --Werror "${files[@]}"
fi

if [[ $what == all || $what == shellcheck ]]; then
    mapfile -t scripts < <(git ls-files -- 'scripts/*.sh' 'tests/*.sh' 'bench/*.sh' 'scripts/hooks/*' .ci/run)
    echo "== shellcheck (${#scripts[@]} files)"
    shellcheck --severity=style "${scripts[@]}"
fi

[[ $what == all || $what == tidy || $what == tidy-all ]] || exit 0
build=${LINT_BUILD_DIR:-build/dev}
[[ -f $build/compile_commands.json ]] || {
    echo "lint: configure $build first (cmake --preset dev)" >&2
    exit 1
}
scope=('src/*.cpp')
[[ $what == tidy-all ]] && scope+=('tests/*.cpp' 'bench/*.cpp')
# Every file of the scope the build compiles (a build without benchmarks has no bench/ units).
mapfile -t units < <(
    grep -Fxf <(sed -n 's/^ *"file": "\(.*\)",\?$/\1/p' "$build/compile_commands.json") \
        <(git ls-files -- "${scope[@]}" | sed "s|^|$PWD/|")
)
echo "== clang-tidy (${#units[@]} files)"
# Generated moc and resource files must exist before tidy reads the sources that include them.
cmake --build "$build" >/dev/null
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${units[@]}" >"$build/clang-tidy.log" 2>&1 || {
    grep -E 'warning:|error:' "$build/clang-tidy.log" | sort -u >&2
    echo "lint: clang-tidy found problems (full output in $build/clang-tidy.log)" >&2
    exit 1
}
echo "clang-tidy: no findings"
