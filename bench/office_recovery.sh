#!/usr/bin/env bash
# Office document and archive recovery rate: whole scans of a page-cached image holding
# COUNT documents (the samples of tests/data/office in turn: DOC, XLS, PPT, an 8 MiB XLS,
# DOCX, XLSX, PPTX, ZIPs of every layout, a CDR drawing), each on its own 4 KiB clusters,
# next to `cp` of the same image; then one ZIP archive of ZIP_MIB MiB (one stored member of
# random bytes) written and only claimed, next to `cp` of it.
#   bench/office_recovery.sh [build dir, default build] [documents, default 300] [ZIP MiB, default 2048]
set -euo pipefail
build=${1:-build}
count=${2:-300}
zip_mib=${3:-2048}
cmake --build "$build" --target morvane > /dev/null
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$work/docs.img"

python3 - "$img" "$count" "$here/tests/data/office" <<'PY'
import lzma, os, sys
path, count, data = sys.argv[1], int(sys.argv[2]), sys.argv[3]
names = sorted(n for n in os.listdir(data) if not n.endswith((".sh", ".py")))
samples = [lzma.open(os.path.join(data, n)).read() if n.endswith(".xz") else open(os.path.join(data, n), "rb").read()
           for n in names]
with open(path, "wb") as out:
    for i in range(count):
        b = samples[i % len(samples)]
        out.write(b)
        out.write(os.urandom((-len(b)) % 4096 + 4096))  # to the next 4 KiB, then a gap
PY

now() { date +%s.%N; }
scan() { "$build/morvane" scan -q "$1" -o "$2" --reason repartitioned --fs other --cluster 4K -t "$3" > /dev/null; sync -f "$2"; }
copy() { cp "$1" "$work/cp/copy.img"; sync -f "$work/cp/copy.img"; rm -f "$work/cp/copy.img"; }
mkdir "$work/cp"
image_bytes=$(stat -c %s "$img")
cat "$img" > /dev/null  # into the page cache
t0=$(now); copy "$img"; t1=$(now)
mkdir "$work/out"; t2=$(now); scan "$img" "$work/out" doc,xls,ppt,zip,cdr; t3=$(now)
recovered=$(find "$work/out" -type f | wc -l)
recovered_bytes=$(find "$work/out" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
rm -rf "$work/out"; mkdir "$work/out"
t4=$(now); scan "$img" "$work/out" jpg; t5=$(now)
rm -rf "$work/out" "$img"

zip="$work/big.img"
python3 - "$zip" "$zip_mib" <<'PY'
import os, struct, sys, zlib
path, mib = sys.argv[1], int(sys.argv[2])
size = mib * 1048576 - 4096
name = b"big.bin"
with open(path, "wb") as f:
    # ZIP64 when the member is 4 GiB or more; the CRC is left 0 (only the walk reads this).
    big = size >= 0xFFFFFFFF
    extra = struct.pack("<HHQQ", 1, 16, size, size) if big else b""
    s32 = 0xFFFFFFFF if big else size
    f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0, 0, s32, s32, len(name), len(extra)) + name + extra)
    left = size
    while left:
        n = min(left, 1 << 24); f.write(os.urandom(n)); left -= n
    cd = f.tell()
    cextra = struct.pack("<HHQQQ", 1, 24, size, size, 0) if big else b""
    f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0, 0, s32, s32, len(name), len(cextra), 0, 0, 0, 0,
                        0 if not big else 0xFFFFFFFF) + name + cextra)
    end = f.tell()
    f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, end - cd, min(cd, 0xFFFFFFFF), 0))
    f.write(b"\0" * 1048576)
PY
zip_bytes=$(stat -c %s "$zip")
cat "$zip" > /dev/null
t6=$(now); copy "$zip"; t7=$(now)
mkdir "$work/zout"; t8=$(now); scan "$zip" "$work/zout" zip; t9=$(now)
zip_written=$(find "$work/zout" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
rm -rf "$work/zout"; mkdir "$work/zout"
t10=$(now); scan "$zip" "$work/zout" jpg; t11=$(now)

awk -v n="$count" -v rec="$recovered" -v rb="$recovered_bytes" -v ib="$image_bytes" -v zb="$zip_bytes" -v zw="$zip_written" \
    -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v t4="$t4" -v t5="$t5" \
    -v t6="$t6" -v t7="$t7" -v t8="$t8" -v t9="$t9" -v t10="$t10" -v t11="$t11" 'BEGIN {
  cps = t1 - t0; scan = t3 - t2; claim = t5 - t4
  printf "documents:        %d placed, %d recovered, %.1f MB of them (image %.1f MB)\n", n, rec, rb / 1e6, ib / 1e6
  printf "cp of image:      %6.2f s, %5.0f MB/s\n", cps, ib / 1e6 / cps
  printf "scan, written:    %6.2f s, %5.0f MB/s of the image (%.2f of cp)\n", scan, ib / 1e6 / scan, cps / scan
  printf "scan, claimed:    %6.2f s (no document kind selected)\n", claim
  zc = t7 - t6; zs = t9 - t8; zcl = t11 - t10
  printf "ZIP of %.0f MB:    %.0f MB written\n", zb / 1e6, zw / 1e6
  printf "cp of ZIP image:  %6.2f s, %5.0f MB/s\n", zc, zb / 1e6 / zc
  printf "scan, written:    %6.2f s, %5.0f MB/s (%.2f of cp)\n", zs, zb / 1e6 / zs, zc / zs
  printf "scan, claimed:    %6.2f s (ZIP not selected: record headers read, data claimed unread)\n", zcl }'
