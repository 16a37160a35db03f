#!/usr/bin/env bash
# Renders the overlay panel in each state (loading, recording, content with detail, transcribed
# text, error), in a light and a dark palette, to PNG files for review.
#
#   scripts/render-overlay-states.sh [BUILD_DIR]
#
# BUILD_DIR (default build/dev) must be configured with QUILLPOINT_BUILD_BENCH=ON. The images
# land in BUILD_DIR/overlay-states.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$source_dir/build/dev}
cmake --build "$build_dir" --target overlay_render
out=$build_dir/overlay-states
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build_dir/bench/overlay_render" "$out"
