#!/usr/bin/env bash
# The MP4 recogniser's copy against cp: a page-cached image that holds one video of
# several GiB (ftyp, a 64-bit "mdat" of random bytes, moov) is scanned twice in the same run,
#   - with MP4 not selected: the search pass, the video only claimed (its data not read);
#   - with MP4 selected: the search pass and the video written to the output folder;
# and the image is copied with cp. The difference of the two scans is the copy; its rate is
# printed beside cp's.
#   bench/mp4_copy_vs_cp.sh [build/morvane] [video size in MiB, default 2560] [scratch dir]
# With SYNC=0 the written bytes are not flushed inside the timings (page-cache writes only).
set -euo pipefail
morvane=${1:-build/morvane}
mib=${2:-2560}
work=$(mktemp -d "${3:-${TMPDIR:-/tmp}}/mp4bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
img="$work/video.img"

# ftyp (24 bytes) and the 16-byte mdat header, the random media data, the moov box (4 KiB),
# then 1 MiB of zeros.
payload=$((mib * 1048576 - 24 - 16 - 4096))
python3 - "$img" "$payload" <<'PY'
import struct, sys
path, payload = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(struct.pack(">I4s4sI4s4s", 24, b"ftyp", b"mp42", 0, b"mp42", b"isom"))
    f.write(struct.pack(">I4sQ", 1, b"mdat", payload + 16))
PY
head -c "$payload" /dev/urandom >> "$img"
python3 - "$img" <<'PY'
import struct, sys
with open(sys.argv[1], "ab") as f:
    f.write(struct.pack(">I4s", 4096, b"moov") + bytes(4088))
    f.write(bytes(1048576))
PY
MORVANE=$morvane
. "$(dirname "$0")/copy_vs_cp.lib.sh"
copy_vs_cp "$img" $((payload + 24 + 16 + 4096)) png mp4 "$work"
