#!/usr/bin/env bash
# Renders the application icon to the PNG sizes panels, menus and software centres ask for,
# into resources/icons/hicolor/. Run it after changing resources/icons/quillpoint.svg and
# commit the result; the build installs the PNGs as they are, so it needs no SVG renderer.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v rsvg-convert >/dev/null || { echo "render-icons: needs rsvg-convert (librsvg2-bin)" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256 512; do
    mkdir -p "resources/icons/hicolor/${size}x${size}"
    rsvg-convert -w "$size" -h "$size" resources/icons/quillpoint.svg \
        -o "resources/icons/hicolor/${size}x${size}/app.quillpoint.Quillpoint.png"
done
