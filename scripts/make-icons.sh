#!/usr/bin/env bash
# Renders res/icons/pacterra.svg into the PNG sizes that are installed under share/icons/hicolor. Run after
# changing the SVG and commit the PNGs (needs rsvg-convert from librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../res/icons"
command -v rsvg-convert >/dev/null || { echo "needs rsvg-convert: apt-get install librsvg2-bin" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" pacterra.svg -o "hicolor/${size}x${size}/apps/pacterra.png"
done
