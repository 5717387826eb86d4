#!/usr/bin/env bash
# Makes docs/windows.png from vandrel's own outputs: one sample source through two windows,
# and inverted. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh --all
cmake -S . -B build -DVANDREL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/full" "$work/narrow" "$work/inverted" docs
for w in full narrow inverted; do
  cp examples/phantom12-lzw.tif "$work/$w/"
  echo phantom12-lzw.tif > "$work/$w/list.txt"
done
(cd "$work/full" && "$root/build/vandrel" list.txt 0 4095 >/dev/null)
(cd "$work/narrow" && "$root/build/vandrel" list.txt 1000 2600 >/dev/null)
(cd "$work/inverted" && "$root/build/vandrel" list.txt 0 4095 1 >/dev/null)
montage -label "window 0 4095" "$work/full/o-phantom12-lzw.tif" \
        -label "window 1000 2600" "$work/narrow/o-phantom12-lzw.tif" \
        -label "0 4095, inverted" "$work/inverted/o-phantom12-lzw.tif" \
        -tile 3x1 -geometry +6+6 -font DejaVu-Sans -pointsize 14 -background white PNG8:docs/windows.png
echo "docs/windows.png"
