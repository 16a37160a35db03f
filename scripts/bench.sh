#!/usr/bin/env bash
# Runs the benchmarks of bench/ against an optimised build, the desktop ones inside a private
# headless desktop. Never part of the test suite: the figures depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
bin=build/release/bench
desktop=scripts/test-desktop.sh

"$bin/bench_explanationdecoder"
QT_QPA_PLATFORM=offscreen "$bin/overlay_stream"
"$desktop" run --no-pulse -- "$bin/history_window" 10000
"$desktop" run --no-pulse -- "$bin/shortcut_latency" 200
"$desktop" run -- "$bin/sequence_latency" explain 50
"$desktop" run -- "$bin/sequence_latency" copy 50
"$desktop" run -- "$bin/sequence_latency" transcribe 20
export QUILLPOINT_BINARY=$PWD/build/release/src/app/quillpoint QUILLPOINT_SOURCE_DIR=$PWD
"$desktop" run --no-pulse -- "$bin/application_latency" 15
"$desktop" run --wayland --no-pulse -- "$bin/application_latency" 15
bench/audio_capture_cpu.sh "$bin/audio_capture_cpu" 30
bench/footprint.sh build/release
(cd backend && npm run --silent bench)
