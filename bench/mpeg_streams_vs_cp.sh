#!/usr/bin/env bash
# The MPEG stream walks against cp, and their memory. A page-cached image holds long
# streams built from the small ffmpeg samples of tests/data/mpeg, repeated with their clocks
# (or arrival times) carried on so that each is one continuous stream:
#   image 1: a VOB and a TS stream, each half the size;  scanned with vob,ts (both written)
#   image 2: an MPG and an MTS stream starting at clock / arrival time 0, scanned once with
#            mpg,mts (written) and once with jpg only (both only claimed: claim-only walks)
# The search pass alone (the same image scanned for png) is timed too; the difference is the
# stream walks. Peak memory (maximum resident set) of every scan is printed.
# Each timing is the best of three runs; with SYNC=0 written bytes are not flushed inside
# the timings (page-cache writes only).
#   bench/mpeg_streams_vs_cp.sh [build/morvane] [image size in MiB, default 1024] [scratch dir]
set -euo pipefail
morvane=${1:-build/morvane}
mib=${2:-1024}
data=$(cd "$(dirname "$0")/../tests/data/mpeg" && pwd)
work=$(mktemp -d "${3:-${TMPDIR:-/tmp}}/mpegbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$data" "$work" "$mib" <<'PY'
import struct, sys
data, work, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
half = mib * 1048576 // 2
cluster = 32768

def packs(b):
    o, out = 0, []
    while o + 6 <= len(b):
        if b[o + 3] == 0xBA:
            out.append(o)
            o += 14 + (b[o + 13] & 7) if b[o + 4] & 0xC0 == 0x40 else 12
        else:
            o += 6 + struct.unpack(">H", b[o + 4:o + 6])[0]
    return out

def clock(b, o):
    x = b[o + 4:o + 9]
    if x[0] & 0xC0 == 0x40:
        return (x[0] >> 3 & 7) << 30 | (x[0] & 3) << 28 | x[1] << 20 | (x[2] >> 3) << 15 | (x[2] & 3) << 13 | x[3] << 5 | x[4] >> 3
    return (x[0] >> 1 & 7) << 30 | x[1] << 22 | (x[2] >> 1) << 15 | x[3] << 7 | x[4] >> 1

def set_clock(b, o, v):
    if b[o + 4] & 0xC0 == 0x40:
        b[o + 4:o + 9] = bytes([0x44 | (v >> 30 & 7) << 3 | (v >> 28 & 3), v >> 20 & 255,
                                (v >> 15 & 31) << 3 | 4 | (v >> 13 & 3), v >> 5 & 255, (v & 31) << 3 | 4 | (b[o + 8] & 3)])
    else:
        b[o + 4:o + 9] = bytes([0x21 | (v >> 30 & 7) << 1, v >> 22 & 255, (v >> 15 & 127) << 1 | 1, v >> 7 & 255, (v & 127) << 1 | 1])

def program_stream(name, size):
    one = open(f"{data}/{name}", "rb").read()
    p = packs(one)
    step = clock(one, p[-1]) + (clock(one, p[-1]) - clock(one, p[-2]))
    out, k = bytearray(), 0
    while len(out) + len(one) <= size:
        piece = bytearray(one)
        for o in p:
            set_clock(piece, o, (clock(one, o) + k * step) % (1 << 33))
        out += piece
        k += 1
    return out

def transport_stream(name, size, arrival):
    one = open(f"{data}/{name}", "rb").read()
    out, k = bytearray(), 0
    if not arrival:
        return bytearray(one * (size // len(one)))
    words = [struct.unpack(">I", one[i:i + 4])[0] for i in range(0, len(one), 192)]
    base = words[0] & 0x3FFFFFFF
    step = (words[-1] - words[-2]) & 0x3FFFFFFF
    span = ((words[-1] - words[0]) & 0x3FFFFFFF) + step
    while len(out) + len(one) <= size:
        piece = bytearray(one)
        for i, w in enumerate(words):
            t = ((w & 0x3FFFFFFF) - base + k * span) & 0x3FFFFFFF
            piece[i * 192:i * 192 + 4] = struct.pack(">I", (w & 0xC0000000) | t)
        out += piece
        k += 1
    return out

def image(path, streams):
    with open(path, "wb") as f:
        for s in streams:
            f.write(s)
            f.write(bytes(-len(s) % cluster + cluster))
        f.write(bytes(1048576))

image(f"{work}/vob_ts.img", [program_stream("mpeg2.vob", half), transport_stream("plain.ts", half, False)])
image(f"{work}/mpg_mts.img", [program_stream("mpeg1.mpg", half), transport_stream("camcorder.mts", half, True)])
PY

now() { date +%s.%N; }
flush() { if [ "${SYNC:-1}" != 0 ]; then sync; fi; }
# scan IMAGE TYPES OUT: prints "seconds peak-KiB", the best of three runs
scan() {
  local best="" t0 t1 t
  for _ in 1 2 3; do
    rm -rf "$3"; mkdir -p "$3"; sync
    t0=$(now)
    /usr/bin/time -f %M -o "$work/rss" "$morvane" scan -q "$1" -o "$3" --reason repartitioned --fs other --cluster 32K -t "$2" > /dev/null
    flush
    t1=$(now)
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best $(cat "$work/rss")"
}
report() {  # label bytes "seconds rss" [search seconds]
  awk -v l="$1" -v b="$2" -v r="$3" -v s="${4:-0}" 'BEGIN { split(r, a, " ");
    printf "%-34s %8.1f MB/s  %6.2f s  peak %6.1f MiB", l, b / 1e6 / a[1], a[1], a[2] / 1024;
    if (s > 0) printf "   walks alone %8.1f MB/s", b / 1e6 / (a[1] - s);
    printf "\n" }'
}
for img in vob_ts mpg_mts; do
  f="$work/$img.img"
  bytes=$(stat -c %s "$f")
  cat "$f" > /dev/null
  cpt=""
  for _ in 1 2 3; do
    t0=$(now); cp "$f" "$work/cp.bin"; flush; t1=$(now); rm -f "$work/cp.bin"; sync
    t=$(echo "$t1 - $t0" | bc -l)
    if [ -z "$cpt" ] || [ "$(echo "$t < $cpt" | bc -l)" = 1 ]; then cpt=$t; fi
  done
  echo "== $img: $(awk -v b="$bytes" 'BEGIN { printf "%.1f MiB", b / 1048576 }')"
  awk -v b="$bytes" -v t="$cpt" 'BEGIN { printf "%-34s %8.1f MB/s  %6.2f s\n", "cp", b / 1e6 / t, t }'
  # The search pass alone: png selects no stream kind. (On image 2 the streams starting at
  # clock 0 are still claimed in the recovery pass, so image 1's search time is used.)
  search=$(scan "$f" png "$work/o-search")
  report "search pass, png" "$bytes" "$search"
  if [ "$img" = vob_ts ]; then s=${search%% *}; fi
  if [ "$img" = vob_ts ]; then
    r=$(scan "$f" vob,ts "$work/o-file"); report "vob,ts written" "$bytes" "$r" "$s"
  else
    r=$(scan "$f" mpg,mts "$work/o-file"); report "mpg,mts written" "$bytes" "$r" "$s"
    r=$(scan "$f" jpg "$work/o-claim"); report "mpg,mts claimed only (jpg)" "$bytes" "$r" "$s"
  fi
  ls -l "$work/o-file" | tail -n +2 | awk '{ printf "   %s %d bytes\n", $9, $5 }'
  # The first stream starts at byte 0 of the image and is recovered whole.
  first=$(ls "$work/o-file" | head -n 1)
  cmp -n "$(stat -c %s "$work/o-file/$first")" "$f" "$work/o-file/$first" > /dev/null || { echo "$first differs" >&2; exit 1; }
  rm -rf "$work"/o-*
done
