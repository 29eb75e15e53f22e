#!/usr/bin/env bash
# Camera raw recovery rate: a whole scan (RAW only) of a page-cached image holding COUNT
# raw files of about 25 MB each (Canon-, Nikon- and DNG-shaped TIFF structures: directories
# in front, a JPEG-sized preview block and a large raw strip or tiles, random bytes), as
# MB/s, next to `cp` of the same image into the same output folder's file system. Also
# times a claim-only pass (RAW not selected), which reads only the directories.
#   bench/raw_recovery.sh [build dir, default build] [files, default 100]
set -euo pipefail
build=${1:-build}
count=${2:-100}
cmake --build "$build" --target morvane > /dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/raw.img"

/usr/bin/python3 - "$img" "$count" <<'PY'
import os, random, struct, sys
path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)

# One IFD in front (Make, DateTime, the preview as JPEG interchange, the raw data as one
# strip, or for DNG as four tiles with BaselineExposure), its data, the preview, the raw data.
def build(kind):
    big = kind == 'nef'
    e = '>' if big else '<'
    head = bytearray((b'MM\0*' if big else b'II*\0') + b'\0\0\0\0' + (b'CR\x02\x00\0\0\0\0' if kind == 'cr2' else b''))
    preview = 1_500_000 + rng.randrange(500_000)
    raw = (23_000_000 + rng.randrange(4_000_000)) // 4 * 4
    make = {'cr2': b'Canon\0', 'nef': b'NIKON CORPORATION\0', 'dng': b'Adobe\0'}[kind]
    date = b'2023:04:05 06:07:08\0'
    n = 7 if kind == 'dng' else 6
    ifd = len(head)
    make_at = ifd + 2 + 12 * n + 4
    date_at = make_at + len(make)
    arrays_at = date_at + len(date)
    preview_at = (arrays_at + 40 + 511) // 512 * 512
    raw_at = preview_at + preview
    if kind == 'dng':
        entries = [(271, 2, len(make), make_at), (306, 2, len(date), date_at), (324, 4, 4, arrays_at),
                   (325, 4, 4, arrays_at + 16), (513, 4, 1, preview_at), (514, 4, 1, preview), (50730, 10, 1, arrays_at + 32)]
    else:
        entries = [(271, 2, len(make), make_at), (273, 4, 1, raw_at), (279, 4, 1, raw), (306, 2, len(date), date_at),
                   (513, 4, 1, preview_at), (514, 4, 1, preview)]
    struct.pack_into(e + 'I', head, 4, ifd)
    f = head + struct.pack(e + 'H', n)
    for entry in entries:
        f += struct.pack(e + 'HHII', *entry)
    f += b'\0\0\0\0' + make + date
    tile = raw // 4
    f += struct.pack(e + '4I', *(raw_at + i * tile for i in range(4))) + struct.pack(e + '4I', *([tile] * 4))
    f += struct.pack(e + 'ii', 1, 2)
    f += b'\0' * (preview_at - len(f))
    f += b'\xff\xd8\xff\xe1' + os.urandom(preview - 4) + os.urandom(raw)
    return bytes(f)

with open(path, 'wb') as out:
    for i in range(count):
        b = build(('cr2', 'nef', 'dng')[i % 3])
        out.write(b)
        out.write(os.urandom((-len(b)) % 4096 + 4096))  # to the next 4 KiB, then a gap
PY
image_bytes=$(stat -c %s "$img")
cat "$img" > /dev/null  # into the page cache

now() { date +%s.%N; }
mkdir "$work/out" "$work/cp" "$work/claim"
t0=$(now); cp "$img" "$work/cp/copy.img"; sync -f "$work/cp/copy.img"; t1=$(now)
rm -f "$work/cp/copy.img"
t2=$(now)
"$build/morvane" scan -q "$img" -o "$work/out" --reason repartitioned --fs other --cluster 4K -t raw > /dev/null
sync -f "$work/out"; t3=$(now)
recovered=$(find "$work/out" -type f \( -name '*.CR2' -o -name '*.NEF' -o -name '*.DNG' \) | wc -l)
recovered_bytes=$(find "$work/out" -type f \( -name '*.CR2' -o -name '*.NEF' -o -name '*.DNG' \) -printf '%s\n' | awk '{s += $1} END {print s + 0}')
rm -rf "$work/out"
t4=$(now)
"$build/morvane" scan -q "$img" -o "$work/claim" --reason repartitioned --fs other --cluster 4K -t jpg > /dev/null
t5=$(now)
awk -v n="$count" -v rec="$recovered" -v rb="$recovered_bytes" -v ib="$image_bytes" \
    -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v t4="$t4" -v t5="$t5" 'BEGIN {
  cps = t1 - t0; scan = t3 - t2; claim = t5 - t4
  printf "raw files:     %d made, %d recovered, %.1f MB of them (image %.1f MB)\n", n, rec, rb / 1e6, ib / 1e6
  printf "cp of image:   %.2f s, %.0f MB/s\n", cps, ib / 1e6 / cps
  printf "scan, raw:     %.2f s, %.0f MB/s of raw files (%.2f of cp)\n", scan, rb / 1e6 / scan, (rb / scan) / (ib / cps)
  printf "scan, claimed: %.2f s (raw not selected: directories read, data claimed unread)\n", claim }'
