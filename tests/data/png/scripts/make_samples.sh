#!/bin/sh
# Makes the sample pictures of the PNG and BMP tests with Pillow and ImageMagick.
# Run from tests/data/png; the bitmaps go to ../bmp.
set -e
/usr/bin/python3 - <<'PY'
import random, struct
from PIL import Image, PngImagePlugin
random.seed(7)
def picture(w, h):
    img = Image.new("RGB", (w, h))
    px = img.load()
    for y in range(h):
        for x in range(w):
            n = random.randrange(24)
            px[x, y] = ((x * 7 + n) % 256, (y * 5 + n) % 256, ((x ^ y) * 3) % 256)
    return img
pic = picture(160, 120)
pic.save("pillow_rgb.png")
pic.quantize(64).save("pillow_palette.png")
rgba = pic.convert("RGBA")
rgba.putalpha(Image.linear_gradient("L").resize(pic.size))
rgba.save("pillow_rgba.png")
info = PngImagePlugin.PngInfo()
info.add_text("Title", "A sample with text chunks")
info.add_itxt("Comment", "iTXt chunk", lang="en")
pic.save("pillow_text.png", pnginfo=info, dpi=(300, 300))
small = pic.resize((96, 72))
small.save("../bmp/pillow_24bit.bmp")
small.quantize(200).save("../bmp/pillow_8bit_palette.bmp")
small.convert("RGBA").save("../bmp/pillow_32bit.bmp")
# Top-down: the same 24-bit file with its rows in reading order and a negative height.
data = bytearray(open("../bmp/pillow_24bit.bmp", "rb").read())
off = struct.unpack_from("<I", data, 10)[0]
w, h = struct.unpack_from("<ii", data, 18)
stride = (w * 3 + 3) // 4 * 4
rows = [data[off + i * stride: off + (i + 1) * stride] for i in range(h)]
data[off:] = b"".join(reversed(rows))
struct.pack_into("<i", data, 22, -h)
open("../bmp/top_down_24bit.bmp", "wb").write(data)
PY
convert pillow_rgb.png -interlace PNG magick_interlaced.png   # Adam7
convert pillow_rgb.png magick_rgb.png                         # with bKGD, tIME and tEXt chunks
convert pillow_rgb.png -colors 16 PNG8:magick_palette.png
convert ../bmp/pillow_24bit.bmp BMP3:../bmp/magick_24bit.bmp
