#!/usr/bin/env bash
# Renders the PNG icons from the SVG after the drawing changed (needs librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 32 48 64 128; do
    mkdir -p "${size}x${size}"
    rsvg-convert -w "$size" -h "$size" finger-quobix.svg -o "${size}x${size}/finger-quobix.png"
done
