#!/bin/sh
# make_rasters.sh DIR: ghostscript draws a two-page, two-sided document (pages of two sizes)
# at 300 dpi into DIR as PWG and Apple raster in sGray and sRGB, and as PGM and PPM: what
# the decoder must give back. Also in kinds the decoder refuses (16-bit gray, 1-bit black).
set -eu
out=$1
mkdir -p "$out"
# In pixels, edges on whole pixels, so that every device draws the same. Flat areas make
# repeat runs, the ramp and the noise literal ones, the second page repeated lines.
cat > "$out/document.ps" <<'PS'
%!PS
/px { 72 300 div dup scale } def
/GRAY where { pop /paint { pop pop setgray } def } { /paint { setrgbcolor } def } ifelse
/seed 7 def
/noise { dup string exch 1 sub 0 exch 1 exch
  { 1 index exch seed 75 mul 74 add 65537 mod dup /seed exch def 255 and put } for } def
<< /PageSize [216 144] /Duplex true >> setpagedevice px
0.9 0.2 0.1 paint 40 40 300 200 rectfill 0.1 0.3 0.8 paint 500 300 399 299 rectfill
0 0 0 paint 0 599 900 1 rectfill
gsave 30 400 translate 256 40 scale 256 1 8 [256 0 0 1 0 0]
  { 256 string 0 1 255 { 1 index exch dup put } for } image grestore
gsave 600 20 translate 280 200 scale
/GRAY where { pop 280 200 8 [280 0 0 200 0 0] { 280 noise } image }
  { 280 200 8 [280 0 0 200 0 0] { 840 noise } false 3 colorimage } ifelse grestore
showpage
<< /PageSize [144 216] >> setpagedevice px
0.5 0.5 0.5 paint 0 0 600 900 rectfill 1 1 1 paint 100 100 400 700 rectfill
0.2 0.7 0.3 paint 150 300 300 300 rectfill
showpage
PS
render() {  # DEVICE FILE OPTION...
  device=$1 file=$2
  shift 2
  gs -q -dSAFER -dNOPAUSE -dBATCH -r300 -sDEVICE="$device" -sOutputFile="$out/$file" "$@" "$out/document.ps" 2>/dev/null
}
for format in pwgraster:pwg urf:urf; do
  device=${format%%:*} suffix=${format##*:}
  render "$device" gray.$suffix -dGRAY -dcupsColorSpace=18 -dcupsBitsPerColor=8
  render "$device" color.$suffix -dcupsColorSpace=19 -dcupsBitsPerColor=8
  render "$device" gray16.$suffix -dGRAY -dcupsColorSpace=18 -dcupsBitsPerColor=16
  render "$device" black1.$suffix -dGRAY
done
render pgmraw gray-%d.pgm -dGRAY
render ppmraw color-%d.ppm
