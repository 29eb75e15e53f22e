#!/bin/sh
# Makes the TIFF samples of the camera raw tests with real tools: Pillow (uncompressed,
# LZW, JPEG-compressed), libtiff's tiffcp (tiles; big-endian strips) and ImageMagick
# (big-endian tiles); exiftool then names makers, descriptions and dates so that each
# naming rule is met by a real file. Run from this folder; needs /usr/bin/python3 with
# Pillow, tiffcp, convert and exiftool.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

/usr/bin/python3 - "$tmp" <<'PY'
import sys
from PIL import Image
out = sys.argv[1]
im = Image.effect_noise((120, 90), 70).convert('RGB')
im.save('pillow_raw.tif', compression='raw')
im.save('pillow_lzw.tif', compression='tiff_lzw')
im.save('pillow_jpeg.tif', compression='jpeg', quality=90)
im.save(out + '/base.tif', compression='raw')
PY
tiffcp -t -w 32 -l 32 "$tmp/base.tif" tiffcp_tiles.tif
tiffcp -B -s -r 8 "$tmp/base.tif" tiffcp_strips_be.tif
convert "$tmp/base.tif" -endian MSB -define tiff:tile-geometry=48x48 magick_tiles_be.tif

tag() {  # tag OUTPUT exiftool-arguments...
  out=$1
  shift
  exiftool -q -o "$out" "$@" "$tmp/base.tif"
}
tag nikon.tif -Make="NIKON CORPORATION" -Model="NIKON D5100" -DateTimeOriginal="2021:06:05 14:30:00"
tag pentax.tif -Make="pentax ricoh" -Model="K-5"
tag sony_arw.tif -ImageDescription="SONY DSC" -Make="SONY" -Model="DSLR-A700"
tag sony_sr2.tif -Make="SONY" -Model="DSC-R1"
tag nikon_dng.tif -Make="NIKON CORPORATION" -BaselineExposure=0.5
tag kodak.tif -Make="Kodak" -Model="DCS Pro"
tag two_dates.tif -ModifyDate="2019:03:04 05:06:07" -DateTimeOriginal="2022:01:02 03:04:05"
