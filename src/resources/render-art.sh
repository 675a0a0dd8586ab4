#!/usr/bin/env bash
# Re-renders the embedded artwork: writes the SVG sources from art/make_svgs.py
# into art/svg/, then renders every PNG of png/ from them.
#   render-art.sh          re-render in place
#   render-art.sh --check  render into a temporary folder and compare with png/
# Needs python3, rsvg-convert (librsvg2-bin) and ImageMagick 6 (convert-im6.q16).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
svgdir=$here/art/svg
pngdir=$here/png
check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  svgdir=$work/svg
  pngdir=$work/png
fi
mkdir -p "$svgdir" "$pngdir"

python3 "$here/art/make_svgs.py" "$svgdir"

# render <svg> <width> <height> <png>
render() {
  local tmp
  tmp=$(mktemp --suffix=.png)
  rsvg-convert -w "$2" -h "$3" -b '#000000' "$svgdir/$1" -o "$tmp"
  # Palette PNG, opaque, no interlace and none of the chunks that carry dates
  # or colour hints, so that a re-render gives the same bytes.
  convert-im6.q16 "$tmp" -alpha off -dither None -colors 256 -interlace None \
    -define png:bit-depth=8 \
    -define png:exclude-chunks=gAMA,cHRM,bKGD,date,time,tIME,tEXt,zTXt,pHYs,sRGB,iCCP,vpAg \
    "PNG8:$pngdir/$4"
  rm -f "$tmp"
}

render loopback.svg          157 161 loopback_small.png
render loopback.svg          314 322 loopback.png
render loopback_pressed.svg  314 322 loopback_pressed.png
render face.svg              226 290 face_small.png
render face_lit.svg          226 290 face_lit_small.png
render face.svg              452 580 face.png
render face_lit.svg          452 580 face_lit.png
render thumb_small.svg        11  17 thumb_small.png
render thumb_small_hot.svg    11  17 thumb_small_hot.png
render thumb.svg              22  33 thumb.png
render thumb_hot.svg          22  33 thumb_hot.png
render about.svg             514 212 about.png

# The medium face and thumbs are the large ones, byte for byte.
cp "$pngdir/face.png"      "$pngdir/face_medium.png"
cp "$pngdir/face_lit.png"  "$pngdir/face_lit_medium.png"
cp "$pngdir/thumb.png"     "$pngdir/thumb_medium.png"
cp "$pngdir/thumb_hot.png" "$pngdir/thumb_medium_hot.png"

if [ $check -eq 1 ]; then
  status=0
  for f in "$pngdir"/*.png; do
    name=$(basename "$f")
    if cmp -s "$f" "$here/png/$name"; then echo "same     $name"; else echo "DIFFERS  $name"; status=1; fi
  done
  for f in "$svgdir"/*.svg; do
    name=$(basename "$f")
    cmp -s "$f" "$here/art/svg/$name" || { echo "DIFFERS  art/svg/$name"; status=1; }
  done
  exit $status
fi
