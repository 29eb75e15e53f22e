#!/usr/bin/env python3
# Makes fates.img: a raw image of 512-byte sectors whose file starts each meet another end
# when scanned with --no-undated --types jpg,png,zip,xls --last 170 (see tests/cli). The
# pieces come from the other samples; fates.json lists each start and what becomes of it.
import io, json, os, struct, zipfile

here = os.path.dirname(os.path.abspath(__file__))
data = os.path.dirname(here)
read = lambda name: open(os.path.join(data, name), 'rb').read()
undated, dated = read('jpeg/baseline.jpg'), read('jpeg/exif_be.jpg')

image = bytearray(512 * 3)
fates = {}

def put(content, fate):
    at = len(image) // 512
    image.extend(content)
    image.extend(b'\0' * (-len(content) % 512))
    fates[fate] = at
    return at

def scan_data_start(jpeg):
    i = 2
    while True:
        marker, length = jpeg[i + 1], struct.unpack('>H', jpeg[i + 2:i + 4])[0]
        if marker == 0xDA:
            return i + 2 + length
        i += 2 + length

put(dated, 'recovered')
put(undated, 'outsidePhotoDates')
# Two thirds of the picture's data cut away: the markers hold, the picture does not decode.
cut = scan_data_start(dated)
put(dated[:cut + (len(dated) - cut) // 3] + b'\xff\xd9', 'contentCheck')
put(b'\xff\xd8\xff\xe0\x00\x10JFIF\x00' + b'\x00' * 600, 'noStructure')
# A stored archive whose member, a JPEG without its APP0 segment (found only in the late
# pass), begins at the archive's second sector.
member = undated[:2] + undated[4 + struct.unpack('>H', undated[4:6])[0]:]
info = zipfile.ZipInfo('a.jpg', date_time=(2020, 1, 1, 0, 0, 0))
pad = 512 - 30 - len(info.filename) - 4
info.extra = struct.pack('<HH', 0xCAFE, pad) + b'\0' * pad
archive = io.BytesIO()
with zipfile.ZipFile(archive, 'w') as z:
    z.writestr(info, member)
fates['insideAnotherFile'] = put(archive.getvalue(), 'recoveredZip') + 1
put(read('office/doc.doc'), 'kindNotSelected')
put(read('png/pillow_rgb.png'), 'cutByRangeEnd')

open(os.path.join(here, 'fates.img'), 'wb').write(image)
json.dump(fates, open(os.path.join(here, 'fates.json'), 'w'), indent=1, sort_keys=True)
