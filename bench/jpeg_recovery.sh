#!/usr/bin/env bash
# Photo recovery rate: whole scans (JPG only) of a page-cached image holding COUNT
# 12-megapixel JPEGs with one thread and with one per processor (ROUNDS alternating pairs,
# default 3, the median of each), as MB/s and photos/s, their ratio, the machine's load, and
# the share of a scan that the decode check takes (timed again over the recovered files with
# the recogniser's own check). The image lives in a temp folder that is removed at the end.
# With BARE=1 the JPEGs have no application marker (they wait for the scan's late pass).
#   bench/jpeg_recovery.sh [build dir, default build] [photos, default 300]
set -euo pipefail
build=${1:-build}
count=${2:-300}
cmake --build "$build" --target morvane morvane_jpeg_photos > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/photos.img"
tool="$build/bench/morvane_jpeg_photos"
read -r made photo_bytes < <("$tool" image "$img" "$count" $([ "${BARE:-0}" != 0 ] && echo bare))
cat "$img" > /dev/null  # into the page cache
image_bytes=$(stat -c %s "$img")

# Alternating pairs, one thread and one per processor; the median of each.
. "$(dirname "$0")/thread_pairs.sh"
thread_pairs "$build/morvane" "$img" "$work/out" --reason repartitioned --fs other --cluster 4K -t jpg
recovered=$(find "$work/out" -name '*.JPG' | wc -l)
read -r decoded decoded_bytes decode_s failed < <("$tool" decode "$work/out")
awk -v n="$made" -v pb="$photo_bytes" -v ib="$image_bytes" -v rec="$recovered" -v s1="$s1" -v sn="$sn" \
    -v th="$threads" -v rounds="$rounds" -v l0="$load_before" -v l1="$load_after" \
    -v ds="$decode_s" -v failed="$failed" 'BEGIN {
  printf "photos:        %d made, %d recovered (%d failed the decode check again)\n", n, rec, failed
  printf "photo data:    %.1f MB (image %.1f MB), %.2f MB a photo\n", pb / 1e6, ib / 1e6, pb / 1e6 / n
  printf "scan, 1 thread:   %.2f s, %.1f MB/s of photos, %.1f photos/s (median of %d)\n", s1, pb / 1e6 / s1, rec / s1, rounds
  printf "scan, %d threads:  %.2f s, %.1f MB/s of photos, %.1f photos/s; %.2fx one thread\n", th, sn, pb / 1e6 / sn, rec / sn, s1 / sn
  printf "decode check:  %.2f s, %.0f%% of the one-thread scan (%.1f MB/s)\n", ds, 100 * ds / s1, pb / 1e6 / ds
  printf "load average:  %s before, %s after\n", l0, l1 }'
