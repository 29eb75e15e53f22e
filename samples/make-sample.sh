#!/usr/bin/env bash
# Makes samples/card.img.xz: a 128 MiB FAT32 camera card with a DCIM folder of real photos
# (JPEG with EXIF shooting times in DateTimeOriginal, written by Pillow's libjpeg encoder), a
# short H.264 video clip made by ffmpeg, a PNG screenshot and a ZIP archive; afterwards some
# of them are deleted, as a user would before asking us to get them back.
# Needs: python3 with Pillow (Debian python3-pil), ffmpeg, dosfstools, mtools, xz.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import io, math, random, sys, zipfile
from PIL import Image
out = sys.argv[1]
random.seed(2009)

def photo(w, h, seed):
    rnd = random.Random(seed)
    img = Image.new("RGB", (w, h))
    px = img.load()
    cx, cy = rnd.uniform(0, w), rnd.uniform(0, h)
    for y in range(h):
        for x in range(w):
            d = math.hypot(x - cx, y - cy)
            px[x, y] = (int(128 + 127 * math.sin(d / 17.0 + seed)),
                        int(128 + 127 * math.sin(x / 23.0 + y / 31.0)),
                        (x * 3 + y * 5 + rnd.randrange(24)) % 256)
    return img

def exif_for(when):
    exif = Image.Exif()
    exif[0x010F] = "Morvane"          # Make
    exif[0x0110] = "Sample Camera"    # Model
    exif[0x0132] = when               # DateTime
    # The Exif IFD with the shooting time (DateTimeOriginal, CreateDate): the time the date
    # filter reads. A dict is written as a sub-IFD with its pointer.
    exif[0x8769] = {0x9003: when, 0x9004: when}
    return exif

shots = [("IMG_0001.JPG", "2009:05:01 10:15:00"), ("IMG_0002.JPG", "2009:05:01 23:59:30"),
         ("IMG_0003.JPG", "2012:08:17 07:30:12"), ("IMG_0004.JPG", "2016:02:29 12:00:00"),
         ("IMG_0005.JPG", "2021:12:24 18:45:59"), ("IMG_0006.JPG", "2024:06:30 09:00:01")]
for i, (name, when) in enumerate(shots):
    img = photo(640 + 64 * i, 480 + 48 * i, i)
    img.save(f"{out}/{name}", "JPEG", quality=90, exif=exif_for(when).tobytes(),
             progressive=(i % 3 == 2), subsampling=(0 if i % 2 else 2))
photo(400, 300, 42).save(f"{out}/SCREEN.PNG", "PNG")
with zipfile.ZipFile(f"{out}/NOTES.ZIP", "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("notes.txt", "Holiday list\n" * 200)
    z.writestr("todo.txt", "Back up the camera card!\n" * 50)
PY

# Two seconds of test pattern, as a camera would keep a short clip.
ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=10 -t 2 -c:v libx264 -preset veryslow \
  -pix_fmt yuv420p -metadata creation_time=2016-02-29T12:00:05Z -movflags +faststart -brand mp42 -y "$work/MVI_0007.MP4"

img="$work/card.img"
truncate -s 128M "$img"
mkfs.fat -F 32 -s 2 -n CAMERA -i 20090501 "$img" >/dev/null
export MTOOLS_SKIP_CHECK=1
mmd -i "$img" ::DCIM
mmd -i "$img" ::DCIM/100CAMER
for f in "$work"/IMG_*.JPG "$work"/MVI_0007.MP4; do mcopy -i "$img" "$f" ::DCIM/100CAMER/; done
mcopy -i "$img" "$work/SCREEN.PNG" "$work/NOTES.ZIP" ::
# The user deletes three photos, the clip and the archive.
mdel -i "$img" ::DCIM/100CAMER/IMG_0002.JPG ::DCIM/100CAMER/IMG_0004.JPG ::DCIM/100CAMER/IMG_0005.JPG \
  ::DCIM/100CAMER/MVI_0007.MP4 ::NOTES.ZIP
xz -9 -c "$img" > card.img.xz
echo "wrote samples/card.img.xz ($(stat -c %s card.img.xz) bytes)"
