#!/usr/bin/env bash
# The RIFF and WMV recognisers' copy against cp: a page-cached image that holds one video of
# several GiB is scanned twice in the same run,
#   - with its kind not selected: the search pass, the video only claimed (only its chunk or
#     object headers read);
#   - with its kind selected: the search pass and the video written to the output folder;
# and the image is copied with cp. The difference of the two scans is the copy; its rate is
# printed beside cp's (copy_vs_cp.lib.sh).
#   bench/riff_copy_vs_cp.sh [avi|wmv] [build/morvane] [video size in MiB, default 2560] [scratch dir]
# The AVI is an OpenDML file: a first RIFF part with a movi list of just under 1 GiB and its
# idx1, then "AVIX" parts of up to 1 GiB each. The WMV is a header object, one data object
# and a simple index object. Payloads are random bytes.
set -euo pipefail
kind=${1:-avi}
morvane=${2:-build/morvane}
mib=${3:-2560}
work=$(mktemp -d "${4:-${TMPDIR:-/tmp}}/riffbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
img="$work/video.img"

# Writes the headers with python and the payload runs with head -c from /dev/urandom; the
# python part prints the length of the recovered file.
python3 - "$img" "$kind" "$mib" > "$work/plan" <<'PY'
import struct, sys
path, kind, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
total = mib * 1048576
plan = []  # ("bytes", b) or ("random", n)
if kind == "avi":
    avih = b"avih" + struct.pack("<I", 56) + bytes(56)
    hdrl = b"LIST" + struct.pack("<I", 4 + len(avih)) + b"hdrl" + avih
    first = (1 << 30) - 4096
    plan.append(("bytes", b"RIFF" + struct.pack("<I", 4 + len(hdrl) + 12 + first + 8 + 16) + b"AVI " + hdrl))
    plan.append(("bytes", b"LIST" + struct.pack("<I", first + 4) + b"movi"))
    plan.append(("random", first))
    plan.append(("bytes", b"idx1" + struct.pack("<I", 16) + bytes(16)))
    left = total - sum(len(p[1]) if p[0] == "bytes" else p[1] for p in plan)
    while left > 4096:
        part = min(left - 24, (1 << 30) - 4096)
        plan.append(("bytes", b"RIFF" + struct.pack("<I", part + 16) + b"AVIX" + b"LIST" + struct.pack("<I", part + 4) + b"movi"))
        plan.append(("random", part))
        left -= part + 24
else:
    guid = lambda h: bytes.fromhex(h)
    header = guid("3026b2758e66cf11a6d900aa0062ce6c") + struct.pack("<Q", 30) + struct.pack("<I", 0) + b"\x01\x02"
    data = total - 30 - 24 - 64
    plan.append(("bytes", header))
    plan.append(("bytes", guid("3626b2758e66cf11a6d900aa0062ce6c") + struct.pack("<Q", data)))
    plan.append(("random", data - 24))
    plan.append(("bytes", guid("90080033b1e5cf1189f400a0c90349cb") + struct.pack("<Q", 64) + bytes(40)))
length = sum(len(p[1]) if p[0] == "bytes" else p[1] for p in plan)
if kind == "wmv":
    length -= 64  # the index object is not part of the recovered file
with open(path, "wb"):
    pass
for p in plan:
    print(p[0], p[1].hex() if p[0] == "bytes" else p[1])
print("length", length)
PY
while read -r what arg; do
  case $what in
    bytes) python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]))' "$arg" >> "$img" ;;
    random) head -c "$arg" /dev/urandom >> "$img" ;;
    length) length=$arg ;;
  esac
done < "$work/plan"
head -c 1048576 /dev/zero >> "$img"
echo "$kind"
MORVANE=$morvane
. "$(dirname "$0")/copy_vs_cp.lib.sh"
copy_vs_cp "$img" "$length" png "$kind" "$work"
