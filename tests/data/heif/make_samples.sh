#!/bin/sh
# Makes the HEIF/HEIC and AVIF samples from the JPEG samples beside this folder, with
# libheif-examples (heif-enc) and libavif-bin (avifenc).
#   photo.heic      HEVC picture with an EXIF item (from exif_le.jpg) and a thumbnail item
#   plain.heic      HEVC picture, no thumbnail (heif-enc's ftyp: heic, mif1, heic)
#   photo.avif      AV1 picture with its EXIF item
#   grid.avif       AV1 picture stored as a 2x2 grid of tiles
set -e
cd "$(dirname "$0")"
jpeg=../jpeg
heif-enc -q 40 -t 64 -o photo.heic "$jpeg/exif_le.jpg"
heif-enc -q 30 -o plain.heic "$jpeg/baseline.jpg"
avifenc --min 30 --max 40 -s 8 "$jpeg/exif_le.jpg" photo.avif >/dev/null
ffmpeg -loglevel error -y -i "$jpeg/baseline.jpg" -vf crop=128:128:0:0 /tmp/grid_src.png
avifenc --min 30 --max 40 -s 8 --grid 2x2 /tmp/grid_src.png grid.avif >/dev/null
rm -f /tmp/grid_src.png
