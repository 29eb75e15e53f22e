#!/bin/sh
# Makes the WebP samples with cwebp, img2webp (webp) and ffmpeg:
#   lossy.webp      VP8 picture from the baseline JPEG sample
#   lossless.webp   VP8L picture
#   alpha.webp      VP8X with ALPH and VP8: a half-transparent picture
#   animated.webp   VP8X with ANIM and three ANMF frames (img2webp)
set -e
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cwebp -quiet -q 40 ../jpeg/baseline.jpg -o lossy.webp
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=96x64:rate=1 -frames:v 1 "$tmp/still.png"
cwebp -quiet -lossless "$tmp/still.png" -o lossless.webp
ffmpeg -loglevel error -y -f lavfi -i "color=c=red@0.5:s=80x60,format=rgba" -frames:v 1 "$tmp/alpha.png"
cwebp -quiet -q 50 -exact "$tmp/alpha.png" -o alpha.webp
for i in 1 2 3; do
  ffmpeg -loglevel error -y -f lavfi -i "testsrc=size=64x48:rate=1:duration=1" -vf "hue=h=$((i * 90))" -frames:v 1 "$tmp/f$i.png"
done
img2webp -lossy -q 40 -d 200 "$tmp/f1.png" "$tmp/f2.png" "$tmp/f3.png" -o animated.webp >/dev/null
