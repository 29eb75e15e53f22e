#!/usr/bin/env bash
# HEIC and WebP recovery rate: whole scans (-t heic,webp) of a page-cached image holding COUNT
# HEIC photos and COUNT WebP pictures (heif-enc and cwebp from 3000x2000 JPEGs that ffmpeg
# makes of noisy gradients), each on a 4 KiB boundary behind the one before, with one thread and with one per
# processor (ROUNDS alternating pairs, default 3, the median of each); the files recovered
# byte for byte, and the machine's load. The pictures are kept in the work folder (default a
# temp one, removed at the end) and made again only when missing.
#   bench/heic_webp_recovery.sh [build dir, default build] [count, default 60] [work folder]
set -euo pipefail
build=${1:-build}
count=${2:-60}
work=${3:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work/pictures"
for ((i = 0; i < count; ++i)); do
  p="$work/pictures/$i"
  [ -s "$p.heic" ] && [ -s "$p.webp" ] && continue
  ffmpeg -v error -y -f lavfi -i "gradients=s=1000x666:seed=$((i + 1)):n=6,noise=alls=25:allf=u,scale=3000x2000" \
    -frames:v 1 -q:v 2 "$p.jpg"
  heif-enc -q 60 -o "$p.heic" "$p.jpg" > /dev/null
  cwebp -quiet -q 80 "$p.jpg" -o "$p.webp"
done
img="$work/pictures.img"
python3 - "$img" "$work/pictures" "$count" <<'PY'
import sys
img, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
with open(img, "wb") as f:
    f.write(bytes(1 << 20))
    for i in range(count):
        for ext in ("heic", "webp"):
            data = open(f"{folder}/{i}.{ext}", "rb").read()
            f.write(data + bytes(-len(data) % 4096))
    f.write(bytes(1 << 20))
PY
cat "$img" > /dev/null  # into the page cache
image_bytes=$(stat -c %s "$img")

. "$(dirname "$0")/thread_pairs.sh"
thread_pairs "$build/morvane" "$img" "$work/out" -t heic,webp
sums() { find "$1" -type f \( -name "$2" \) -exec sha256sum {} + | cut -d' ' -f1 | sort; }
exact=$(comm -12 <(sums "$work/pictures" '*.he*c' ; sums "$work/pictures" '*.webp') \
                 <(sums "$work/out" '*.HEIC'; sums "$work/out" '*.WEBP') | wc -l)
recovered=$(find "$work/out" -type f \( -name '*.HEIC' -o -name '*.WEBP' \) | wc -l)
awk -v n="$count" -v ib="$image_bytes" -v rec="$recovered" -v ex="$exact" -v s1="$s1" -v sn="$sn" \
    -v th="$threads" -v rounds="$rounds" -v l0="$load_before" -v l1="$load_after" 'BEGIN {
  printf "pictures:         %d HEIC and %d WebP in %.1f MB; %d recovered, %d byte for byte\n", n, n, ib / 1e6, rec, ex
  printf "scan, 1 thread:   %.2f s, %.1f pictures/s (median of %d)\n", s1, rec / s1, rounds
  printf "scan, %d threads:  %.2f s, %.1f pictures/s; %.2fx one thread\n", th, sn, rec / sn, s1 / sn
  printf "load average:     %s before, %s after\n", l0, l1 }'
