#!/usr/bin/env bash
# Whole scans against cp, timed as whole commands in alternating pairs. For each kind, a
# page-cached image holding one large file of that kind (random bytes in the format's own
# structure, then 1 MiB of zeros; raw files and PDFs, which are not carved beyond 200 and 300
# MiB, as several files of at most 192 and 256 MiB) is copied with cp and scanned with the kind selected (the
# file written), one after the other, PAIRS times; with CLAIM=1 a scan with the kind left out
# (the file only claimed) joins each round. Prints, per kind, the median ratio cp time / scan
# time, its spread over the pairs (lowest and highest), the median times and their ratio
# (steadier where single timings jump), the median processor seconds (user and system) of cp
# and of the scan, and the machine's load before and after. The recovered files are checked
# against the image. On two processors a scan cannot take less than half its processor time.
#   bench/copy_vs_cp.sh [build/morvane] [MiB, default 1024] [pairs, default 5]
#                       [kinds, default mp4,avi,wmv,vob,ts,raw,zip,7z,rar,pdf] [scratch dir]
# With SYNC=1 the written bytes are flushed inside both timings (sync after cp and after the
# scan); by default they are left in the page cache, and flushed between the timings.
set -euo pipefail
morvane=${1:-build/morvane}
mib=${2:-1024}
pairs=${3:-5}
kinds=${4:-mp4,avi,wmv,vob,ts,raw,zip,7z,rar,pdf}
work=$(mktemp -d "${5:-${TMPDIR:-/tmp}}/copybench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mpeg=$(cd "$(dirname "$0")/../tests/data/mpeg" && pwd)

# make KIND: writes $work/image.img and prints the length of the file it holds.
make_image() {
  python3 - "$1" "$work/image.img" "$mib" "$mpeg" <<'PY'
import os, struct, sys, zlib
kind, path, mib, mpeg = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
total = mib * 1048576
f = open(path, "wb")
def random(n):
    while n > 0:
        k = min(n, 1 << 24)
        f.write(os.urandom(k))
        n -= k
def vint(v):
    out = bytearray()
    while True:
        out.append((v & 0x7F) | (0x80 if v > 0x7F else 0))
        v >>= 7
        if not v:
            return bytes(out)
def pieces(total, most):  # sizes of whole MiB, at most `most`, that add up to total
    n = -(-total // most)
    size = total // n >> 20 << 20
    return [size] * (n - 1) + [total - size * (n - 1)]
def rar5_header(fields, data=0):
    body = fields + (vint(data) if data else b"")
    h = vint(len(body)) + body
    return struct.pack("<I", zlib.crc32(h)) + h

if kind == "mp4":  # ftyp, a 64-bit mdat, moov
    data = total - 24 - 16 - 4096
    f.write(struct.pack(">I4s4sI4s4s", 24, b"ftyp", b"mp42", 0, b"mp42", b"isom"))
    f.write(struct.pack(">I4sQ", 1, b"mdat", data + 16))
    random(data)
    f.write(struct.pack(">I4s", 4096, b"moov") + bytes(4088))
elif kind == "avi":  # RIFF AVI: hdrl, a movi list, idx1
    avih = b"avih" + struct.pack("<I", 56) + bytes(56)
    hdrl = b"LIST" + struct.pack("<I", 4 + len(avih)) + b"hdrl" + avih
    movi = total - 12 - len(hdrl) - 12 - 24
    f.write(b"RIFF" + struct.pack("<I", 4 + len(hdrl) + 12 + movi + 24) + b"AVI " + hdrl)
    f.write(b"LIST" + struct.pack("<I", movi + 4) + b"movi")
    random(movi)
    f.write(b"idx1" + struct.pack("<I", 16) + bytes(16))
elif kind == "wmv":  # header object, data object, simple index object (not part of the file)
    guid = bytes.fromhex
    data = total - 30 - 64
    f.write(guid("3026b2758e66cf11a6d900aa0062ce6c") + struct.pack("<QIBB", 30, 0, 1, 2))
    f.write(guid("3626b2758e66cf11a6d900aa0062ce6c") + struct.pack("<Q", data))
    random(data - 24)
    f.write(guid("90080033b1e5cf1189f400a0c90349cb") + struct.pack("<Q", 64) + bytes(40))
    total -= 64
elif kind in ("vob", "ts"):  # the ffmpeg samples repeated, their clocks carried on
    one = open(f"{mpeg}/{'mpeg2.vob' if kind == 'vob' else 'plain.ts'}", "rb").read()
    if kind == "ts":
        n = total // len(one)
        for _ in range(n):
            f.write(one)
        total = n * len(one)
    else:
        def packs(b):
            o, out = 0, []
            while o + 6 <= len(b):
                if b[o + 3] == 0xBA:
                    out.append(o)
                    o += 14 + (b[o + 13] & 7)
                else:
                    o += 6 + struct.unpack(">H", b[o + 4:o + 6])[0]
            return out
        def clock(b, o):
            x = b[o + 4:o + 9]
            return (x[0] >> 3 & 7) << 30 | (x[0] & 3) << 28 | x[1] << 20 | (x[2] >> 3) << 15 | (x[2] & 3) << 13 | x[3] << 5 | x[4] >> 3
        def set_clock(b, o, v):
            b[o + 4:o + 9] = bytes([0x44 | (v >> 30 & 7) << 3 | (v >> 28 & 3), v >> 20 & 255,
                                    (v >> 15 & 31) << 3 | 4 | (v >> 13 & 3), v >> 5 & 255, (v & 31) << 3 | 4 | (b[o + 8] & 3)])
        p = packs(one)
        step = 2 * clock(one, p[-1]) - clock(one, p[-2])
        k = 0
        while (k + 1) * len(one) <= total:
            piece = bytearray(one)
            for o in p:
                set_clock(piece, o, (clock(one, o) + k * step) % (1 << 33))
            f.write(piece)
            k += 1
        total = k * len(one)
elif kind == "raw":  # little-endian TIFFs (Canon-like) of up to 192 MiB whose one strip is the rest
    make, date = b"Canon\0", b"2023:04:05 06:07:08\0"
    entries_at = 8
    make_at = entries_at + 2 + 12 * 4 + 4
    raw_at = (make_at + len(make) + len(date) + 511) // 512 * 512
    for size in pieces(total, 192 << 20):
        raw = size - raw_at
        ifd = struct.pack("<H", 4) + b"".join(struct.pack("<HHII", *e) for e in [
            (271, 2, len(make), make_at), (273, 4, 1, raw_at), (279, 4, 1, raw), (306, 2, len(date), make_at + len(make))])
        head = b"II*\0" + struct.pack("<I", entries_at) + ifd + bytes(4) + make + date
        f.write(head + bytes(raw_at - len(head)))
        random(raw)
elif kind == "zip":  # one stored member (ZIP64 from 4 GiB on), central directory, end record
    name = b"big.bin"
    size = total - 30 - len(name) - 46 - len(name) - 22
    big = size >= 0xFFFFFFFF
    if big:
        size -= 20 + 28 + 56 + 20
    extra = struct.pack("<HHQQ", 1, 16, size, size) if big else b""
    s32 = 0xFFFFFFFF if big else size
    f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0, 0, s32, s32, len(name), len(extra)) + name + extra)
    random(size)
    cd = f.tell()
    cextra = struct.pack("<HHQQQ", 1, 24, size, size, 0) if big else b""
    f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0, 0, s32, s32, len(name), len(cextra),
                        0, 0, 0, 0, 0xFFFFFFFF if big else 0) + name + cextra)
    end = f.tell()
    if big:
        f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, end - cd, cd))
        f.write(struct.pack("<IIQI", 0x07064B50, 0, end, 1))
    f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, end - cd, min(cd, 0xFFFFFFFF), 0))
    total = f.tell()
elif kind == "7z":  # the start header states where the (here empty) next header ends
    f.write(b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<IQQI", 0, total - 32, 0, 0))
    random(total - 32)
elif kind == "rar":  # RAR 5: main header, one stored file, end header
    f.write(b"Rar!\x1a\x07\x01\x00" + rar5_header(vint(1) + vint(0) + vint(0)))
    fields = vint(2) + vint(2)  # a file header with a data area
    rest = bytes(8) + b"\x08big.bin"  # what follows the sizes is not looked at
    end = rar5_header(vint(5) + vint(0) + vint(0))
    data = total
    for _ in range(3):  # the header's length depends on the size it states
        header = rar5_header(fields + vint(data) + rest)
        data = total - f.tell() - len(header) - len(end)
    f.write(header)
    random(data)
    f.write(end)
    total = f.tell()
elif kind == "pdf":  # documents of up to 256 MiB: one stream object of random bytes, the trailer
    head = b"%PDF-1.4\n1 0 obj\n<< /Length 0 >>\nstream\n"
    tail = b"\nendstream\nendobj\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\nstartxref\n9\n%%EOF\n"
    for size in pieces(total, 256 << 20):
        f.write(head)
        random(size - len(head) - len(tail))
        f.write(tail)
else:
    sys.exit(f"unknown kind {kind}")
f.write(bytes(1048576))
f.close()
print(total)
PY
}

now() { date +%s.%N; }
flush() { if [ "${SYNC:-0}" != 0 ]; then sync; fi; }
scan() { "$morvane" scan -q "$work/image.img" -o "$1" --reason repartitioned --fs other --cluster 32K -t "$2" > /dev/null; }
# The processor seconds (user and system) that the finished children of the shell whose
# process is $1 have used.
used() { awk -v hz="$(getconf CLK_TCK)" '{ print ($16 + $17) / hz }' "/proc/$1/stat"; }
# timed COMMAND...: prints the seconds the command (and, with SYNC=1, its flush) took, and the
# processor seconds it used.
timed() {
  local t0 t1 u0 me=$BASHPID
  sync
  u0=$(used "$me"); t0=$(now); "$@"; flush; t1=$(now)
  echo "$(echo "$t1 - $t0" | bc -l) $(echo "$(used "$me") - $u0" | bc -l)"
}
copy() { cp "$work/image.img" "$work/cp.bin"; }
# The median and the extremes of the numbers on standard input.
stats() { sort -g | awk '{ v[NR] = $1 } END { printf "%.3f %.3f %.3f\n", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[1], v[NR] }'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors; ${mib} MiB, $pairs pairs, SYNC=${SYNC:-0}"
printf "%-5s %8s %8s %8s %8s %16s %9s %7s %7s%s\n" kind cp_s scan_s MB/s "cp/scan" "(spread)" "of_medians" cp_cpu scan_cpu "$([ "${CLAIM:-0}" != 0 ] && echo "   claim_s")"
for kind in ${kinds//,/ }; do
  length=$(make_image "$kind")
  bytes=$(stat -c %s "$work/image.img")
  cat "$work/image.img" > /dev/null  # into the page cache
  : > "$work/times"
  for ((i = 0; i < pairs; i++)); do
    rm -rf "$work/out" "$work/claim"; mkdir "$work/out" "$work/claim"
    c=$(timed copy); rm -f "$work/cp.bin"
    s=$(timed scan "$work/out" "$kind")
    l="0 0"
    if [ "${CLAIM:-0}" != 0 ]; then l=$(timed scan "$work/claim" png); fi
    echo "$c $s $l" >> "$work/times"
  done
  # The files written are the image's first bytes, all of it (streams, which end at a packet
  # boundary, nearly all).
  got=$(find "$work/out" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  first=$(ls "$work/out" | head -n 1)
  cmp -n "$(stat -c %s "$work/out/$first")" "$work/image.img" "$work/out/$first" > /dev/null ||
    { echo "$kind: $first differs from the image" >&2; exit 1; }
  case $kind in
    vob | ts) [ "$got" -ge $((length * 9 / 10)) ] || { echo "$kind: $got bytes written of $length" >&2; exit 1; } ;;
    *) [ "$got" = "$length" ] || { echo "$kind: $got bytes written, not $length" >&2; exit 1; } ;;
  esac
  # Columns of the times: cp's seconds and processor seconds, the scan's, the claiming scan's.
  read -r ratio lo hi < <(awk '{ print $1 / $3 }' "$work/times" | stats)
  read -r cpt < <(cut -d' ' -f1 "$work/times" | stats)
  read -r cpu < <(cut -d' ' -f2 "$work/times" | stats)
  read -r st < <(cut -d' ' -f3 "$work/times" | stats)
  read -r su < <(cut -d' ' -f4 "$work/times" | stats)
  claim=""
  if [ "${CLAIM:-0}" != 0 ]; then claim=$(cut -d' ' -f5 "$work/times" | stats | awk '{ printf "   %7.3f", $1 }'); fi
  awk -v k="$kind" -v c="${cpt%% *}" -v s="${st%% *}" -v b="$bytes" -v r="$ratio" -v lo="$lo" -v hi="$hi" -v cl="$claim" \
    -v cu="${cpu%% *}" -v su="${su%% *}" \
    'BEGIN { printf "%-5s %8.3f %8.3f %8.0f %8.2f %16s %9.2f %7.2f %7.2f%s\n", k, c, s, b / 1e6 / s, r, sprintf("(%.2f-%.2f)", lo, hi), c / s, cu, su, cl }'
  rm -rf "$work/out" "$work/claim" "$work/image.img"
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
