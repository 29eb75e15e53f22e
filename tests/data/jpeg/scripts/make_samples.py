#!/usr/bin/python3
# Makes the sample pictures of the JPEG tests (Pillow, exiftool, cjpeg). Run from tests/data/jpeg.
import io
import os
import subprocess
from PIL import Image

def picture(w, h):
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = ((x * 7) % 256, (y * 5) % 256, ((x ^ y) * 3) % 256)
    return img

def exif(date):
    e = Image.Exif()
    e[0x8769] = {0x9003: date}
    return e

main = picture(320, 240)
main.save("baseline.jpg", quality=85)
main.save("progressive.jpg", quality=85, progressive=True)
main.save("subsampling444.jpg", quality=85, subsampling=0)
# EXIF (big-endian, as Pillow writes it) with DateTimeOriginal; the first also carries a thumbnail.
thumb = io.BytesIO()
picture(32, 24).save(thumb, "JPEG")
e = exif("2009:05:01 23:59:58")
main.save("exif_thumb.jpg", quality=85, exif=e.tobytes())
data = bytearray(open("exif_thumb.jpg", "rb").read())
# A whole small JPEG (ending in FF D9) embedded in an APP2 segment in front of the tables,
# as cameras embed their thumbnails in APP segments.
seg = b"\xff\xe2" + (len(thumb.getvalue()) + 2).to_bytes(2, "big") + thumb.getvalue()
i = data.index(b"\xff\xdb")
open("exif_thumb.jpg", "wb").write(bytes(data[:i]) + seg + bytes(data[i:]))
main.save("exif_be.jpg", quality=85, exif=exif("2009:05:02 00:00:00").tobytes())
# Little-endian ("II") EXIF, as most cameras write it. The sub-IFD holds other tags in front
# of DateTimeOriginal (an odd second: the file time keeps two-second steps), and IFD0 and the
# sub-IFD carry DateTime and DateTimeDigitized, which must not be taken for it.
from PIL.TiffImagePlugin import IFDRational
e = Image.Exif()
e.endian = "<"
e[0x010F] = "Morvane"
e[0x0110] = "Test camera"
e[0x0132] = "2020:01:01 00:00:00"
e[0x8769] = {0x829A: IFDRational(1, 125), 0x8827: 200, 0x9003: "2014:07:15 10:20:31",
             0x9004: "2019:01:01 00:00:00"}
portrait = picture(240, 320)
portrait.save("exif_le.jpg", quality=90, exif=e.tobytes())
# The same picture without DateTimeOriginal, its EXIF block written by exiftool in Intel
# byte order: an undated photo.
portrait.save("plain.jpg", quality=75)
if os.path.exists("exif_le_nodate.jpg"):
    os.remove("exif_le_nodate.jpg")
subprocess.run(["exiftool", "-q", "-ExifByteOrder=II", "-Make=Morvane", "-ModifyDate=2020:01:01 00:00:00",
                "-CreateDate=2018:03:04 05:06:07", "-o", "exif_le_nodate.jpg", "plain.jpg"], check=True)
os.remove("plain.jpg")
# Restart markers every 2 MCU rows (libjpeg-turbo's cjpeg):
#   djpeg baseline.jpg | cjpeg -restart 2 -quality 80 -outfile restart.jpg
