#!/usr/bin/env bash
# Recovery rates of the PNG, BMP and 7z recognisers on page-cached images, beside cat / cp:
#   - an image of COUNT PNG and COUNT BMP pictures (Pillow), scanned with png,bmp selected:
#     every picture is followed, decoded once and written;
#   - an image that is one stored 7z archive of MIB MiB of random data (7-Zip), scanned with
#     7z selected (copied) and with it left out (claimed without being read), and copied by cp.
#   bench/pictures_archives_rates.sh [build/morvane] [COUNT, default 200] [MIB, default 2048] [scratch dir]
# Needs /usr/bin/python3 with Pillow and 7z. With SYNC=0 written bytes are not flushed.
set -euo pipefail
morvane=${1:-build/morvane}
count=${2:-200}
mib=${3:-2048}
work=$(mktemp -d "${4:-${TMPDIR:-/tmp}}/picarch.XXXXXX")
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
flush() { if [ "${SYNC:-1}" != 0 ]; then sync; fi; }
scan() { "$morvane" scan -q "$1" -o "$2" --reason repartitioned --fs other --cluster 4K -t "$3" > /dev/null; }
rate() { awk -v b="$1" -v s="$2" -v what="$3" 'BEGIN { printf "%-34s %8.1f MB/s  %6.2f s\n", what, b / 1e6 / s, s }'; }

/usr/bin/python3 - "$work/pictures.img" "$count" <<'PY'
import io, random, sys
from PIL import Image
path, count = sys.argv[1], int(sys.argv[2])
random.seed(5)
with open(path, "wb") as f:
    for i in range(count):
        w, h = 640, 480
        img = Image.effect_noise((w, h), 40 + i % 50).convert("RGB")
        for kind in ("PNG", "BMP"):
            b = io.BytesIO()
            img.save(b, kind)
            data = b.getvalue()
            f.write(data + bytes(-len(data) % 4096))
PY
pictures=$(stat -c %s "$work/pictures.img")
cat "$work/pictures.img" > /dev/null
mkdir "$work/pic"
t0=$(now); cat "$work/pictures.img" > /dev/null; t1=$(now)
t2=$(now); scan "$work/pictures.img" "$work/pic" png,bmp; flush; t3=$(now)
echo "pictures: $(ls "$work/pic" | wc -l) of $((2 * count)) recovered, $((pictures / 1048576)) MiB image"
rate "$pictures" "$(echo "$t1 - $t0" | bc)" "cat"
rate "$pictures" "$(echo "$t3 - $t2" | bc)" "scan png,bmp (decoded, written)"
rm -rf "$work/pic" "$work/pictures.img"

head -c "$((mib * 1048576))" /dev/urandom > "$work/data.bin"
(cd "$work" && 7z a -bd -mx0 archive.7z data.bin > /dev/null)
rm "$work/data.bin"
img="$work/archive.7z"
truncate -s "%4096" "$img"
bytes=$(stat -c %s "$img")
cat "$img" > /dev/null
sync
mkdir "$work/claim" "$work/copy"
t0=$(now); cp "$img" "$work/cp.bin"; flush; t1=$(now)
rm -f "$work/cp.bin"; sync
t2=$(now); scan "$img" "$work/claim" png; t3=$(now)
t4=$(now); scan "$img" "$work/copy" 7z; flush; t5=$(now)
7z t "$work/copy/"*.7Z > /dev/null || { echo "recovered archive fails 7z t" >&2; exit 1; }
echo "7z archive: $((bytes / 1048576)) MiB"
rate "$bytes" "$(echo "$t1 - $t0" | bc)" "cp"
rate "$bytes" "$(echo "$t3 - $t2" | bc)" "scan, archive claimed only"
rate "$bytes" "$(echo "$t5 - $t4" | bc)" "scan, archive written"
rate "$bytes" "$(echo "($t5 - $t4) - ($t3 - $t2)" | bc)" "copy alone (difference)"
