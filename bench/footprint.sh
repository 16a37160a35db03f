#!/usr/bin/env bash
# Idle footprint of Quillpoint next to a bare Qt tray program with one key grab, in one
# headless test desktop whose microphone plays speech: start time, RSS and PSS after 10 s,
# CPU ticks over 30 s idle, recording CPU, medians of five starts and the ratios; then the
# first recording after start (press to Listening panel, audio kept) in five fresh processes.
#   bench/footprint.sh [BUILD_DIR] [footprint_probe options, e.g. --runs 3 --maps]
# BUILD_DIR defaults to build/release (configured with QUILLPOINT_BUILD_BENCH=ON).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
shift || true
build=$(cd "$build" && pwd)
# The inner script expands its variables inside the test desktop, not here.
# shellcheck disable=SC2016
exec "$here/../scripts/test-desktop.sh" run --mic-fifo -- bash -c '
    build=$1
    shift
    "$build/bench/footprint_probe" --bare "$build/bench/bare_tray" --app "$build/src/app/quillpoint" "$@"
    echo
    for run in 1 2 3 4 5; do
        "$build/bench/sequence_latency" first-recording 2>/dev/null
    done
' bash "$build" "$@"
