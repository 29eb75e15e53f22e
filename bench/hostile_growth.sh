#!/usr/bin/env bash
# Scan time on hostile images: every sector (or every 64 KiB) starts a chain of one kind
# that never ends properly, so every candidate fails. A scan must take time proportional
# to the medium whatever it holds: for each kind the script scans images of each size and
# prints the time and the growth factor from the size before (about 2 per doubling when
# linear, about 4 when quadratic).
#   bench/hostile_growth.sh [build/morvane] [sizes in MiB, default "4 8 16"] [kinds]
# Kinds: jpg png wmv rar pdf pdf-claim zip ooxml x3f ole tiff mp4 avi (default all).
set -euo pipefail
morvane=${1:-build/morvane}
sizes=${2:-"4 8 16"}
kinds=${3:-"jpg png wmv rar pdf pdf-claim zip ooxml x3f ole tiff mp4 avi"}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }

# make KIND MIB > image
make() {
  python3 - "$1" "$2" <<'PY'
import struct, sys
kind, mib = sys.argv[1], int(sys.argv[2])
size = mib << 20
def every(unit, piece):
    return (piece + bytes(unit - len(piece))) * (size // unit)
asf_header = bytes.fromhex("3026B2758E66CF11A6D900AA0062CE6C")
zip_head = lambda name: struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 8, 8, 0, 0, 0, 0, 0, len(name), 0) + name
# tables that name sectors (OLE) or date texts (TIFF) 1, 2, 4 ... 128 MiB away: a walk
# that copied up to each would go to the image's end before it failed
ole = bytearray(b"\xff" * 512)
ole[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
ole[28:32] = struct.pack("<I", 0x0009FFFE)
ole[68:72] = struct.pack("<I", 0xFFFFFFFE)
for k in range(19): ole[76 + 4 * k:80 + 4 * k] = struct.pack("<I", (1 << k) - 1)
tiff = b"II*\0" + struct.pack("<IH", 8, 19) + b"".join(
    struct.pack("<HHII", 306, 2, 20, 1 << k) for k in range(9, 28)) + bytes(4)
pieces = {
    "jpg": (512, b"\xff\xd8\xff\xda\x00\x02"),
    # a tEXt chunk whose data runs over the next sector's signature into its own chunk
    "png": (512, b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 500) + b"tEXt"),
    "wmv": (512, asf_header + struct.pack("<Q", 512) + b"\x01\x02"),
    # marker, then an archive header with a 501-byte data area that ends at the next
    # sector's archive header
    "rar": (512, b"Rar!\x1a\x07\x00" + struct.pack("<HBHHI", 0, 0x73, 0x8000, 11, 501)),
    "pdf": (65536, b"%PDF-1.4\n"),
    "pdf-claim": (65536, b"%PDF-1.4\n"),
    "zip": (65536, zip_head(b"a.txt")),
    "ooxml": (65536, zip_head(b"_rels/.rels")),
    "x3f": (65536, b"FOVb"),
    "ole": (65536, bytes(ole)),
    "tiff": (65536, tiff),
    # a JUNK chunk that ends on the next sector's JUNK chunk; the last runs past the range
    "avi": (512, b"RIFF" + bytes(4) + b"AVI JUNK" + struct.pack("<I", 504)),
    # a file type box, then a free box that ends on the next sector's free box
    "mp4": (512, struct.pack(">I", 16) + b"ftypisom" + bytes(4) + struct.pack(">I", 512) + b"free"),
}
unit, piece = pieces[kind]
sys.stdout.buffer.write(every(unit, piece))
PY
}
types() {
  case $1 in
    jpg|pdf-claim) echo jpg ;; png) echo png ;; wmv) echo wmv ;; rar) echo rar ;; pdf) echo ai ;;
    zip) echo zip ;; ooxml) echo docx ;; x3f|tiff) echo raw ;; ole) echo doc ;; mp4) echo mp4 ;; avi) echo avi ;;
  esac
}
printf "%-10s" kind
for mib in $sizes; do printf "%14s" "$mib MiB"; done
printf "   growth per doubling\n"
for kind in $kinds; do
  printf "%-10s" "$kind"
  prev="" growth=""
  for mib in $sizes; do
    make "$kind" "$mib" > "$work/h.img"
    rm -rf "$work/out" && mkdir "$work/out"
    status=0
    t0=$(now)
    "$morvane" scan -q "$work/h.img" -o "$work/out" --reason repartitioned --fs other --cluster 0.5K \
      -t "$(types "$kind")" --on-write-error ignore > /dev/null 2> "$work/err" || status=$?
    case ${status:-0} in 0|4) ;; *) echo; cat "$work/err" >&2; exit 1 ;; esac
    t1=$(now)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
    printf "%12s s" "$t"
    [ -n "$prev" ] && growth="$growth $(awk -v a="$prev" -v b="$t" 'BEGIN { printf "%.1f", (a > 0.05 ? b / a : 0) }')"
    prev=$t
  done
  printf "   %s\n" "$growth"
done
