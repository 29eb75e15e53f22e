#!/usr/bin/env bash
# Photo recovery rate: a whole scan (JPG only) of a page-cached image holding COUNT
# 12-megapixel JPEGs, as MB/s and photos/s, and the share of it that the decode check takes
# (timed again over the recovered files with the recogniser's own check). The image lives in
# a temp folder that is removed at the end.
#   bench/jpeg_recovery.sh [build dir, default build] [photos, default 300]
set -euo pipefail
build=${1:-build}
count=${2:-300}
cmake --build "$build" --target morvane morvane_jpeg_photos > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/photos.img"
tool="$build/bench/morvane_jpeg_photos"
read -r made photo_bytes < <("$tool" image "$img" "$count")
mkdir "$work/out"
cat "$img" > /dev/null  # into the page cache
image_bytes=$(stat -c %s "$img")

now() { date +%s.%N; }
t0=$(now)
"$build/morvane" scan -q "$img" -o "$work/out" --reason repartitioned --fs other --cluster 4K -t jpg > /dev/null
t1=$(now)
recovered=$(find "$work/out" -name '*.JPG' | wc -l)
read -r decoded decoded_bytes decode_s failed < <("$tool" decode "$work/out")
awk -v n="$made" -v pb="$photo_bytes" -v ib="$image_bytes" -v rec="$recovered" -v t0="$t0" -v t1="$t1" \
    -v ds="$decode_s" -v failed="$failed" 'BEGIN {
  s = t1 - t0
  printf "photos:        %d made, %d recovered (%d failed the decode check again)\n", n, rec, failed
  printf "photo data:    %.1f MB (image %.1f MB), %.2f MB a photo\n", pb / 1e6, ib / 1e6, pb / 1e6 / n
  printf "scan:          %.2f s\n", s
  printf "recovery rate: %.1f MB/s of photos, %.1f photos/s\n", pb / 1e6 / s, rec / s
  printf "decode check:  %.2f s, %.0f%% of the scan (%.1f MB/s)\n", ds, 100 * ds / s, pb / 1e6 / ds }'
