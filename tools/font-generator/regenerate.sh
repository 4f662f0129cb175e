#!/bin/sh
# Regenerates the glyph tables of the built-in fonts and the specimen images
# under docs/fonts. Needs the network (npm registry) and the packages listed
# in README.md; the library build itself needs neither.
set -eu

root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Ubuntu Mono typeface, from the npm registry.
(cd "$work" && npm pack --silent ubuntu-fontface@0.1.13 >/dev/null && tar xzf ubuntu-fontface-0.1.13.tgz)

cmake -S "$root/tools/font-generator" -B "$work/build" >/dev/null
cmake --build "$work/build"
gen="$work/build/font-generator"

"$gen" fonts "$root/src/inkora-graphics-enhanced-fonts/generated" \
    "$work/package/fonts/ubuntumono-regular-webfont.ttf" \
    /usr/share/fonts/X11/misc /usr/share/fonts/truetype/dejavu

# The specimens are drawn by the font tests with the library's own code.
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target test-inkora-graphics-enhanced-fonts
mkdir -p "$work/specimens" docs/fonts
INKORA_FONT_SPECIMEN_DIR="$work/specimens" \
    build/default/src/inkora-graphics-enhanced-fonts/test-inkora-graphics-enhanced-fonts \
    --gtest_filter='*Specimen*'
for bmp in "$work"/specimens/font-specimen-*.bmp; do
    name=$(basename "$bmp" .bmp)
    # The small fonts are enlarged so that their pixels can be seen.
    case "$name" in
        *inkora_default) scale=3 ;;
        *_12pt | *_16pt) scale=2 ;;
        *) scale=1 ;;
    esac
    "$gen" png "$bmp" "docs/fonts/$name.png" "$scale"
done
echo "regenerated the font tables and docs/fonts/*.png"
