#!/usr/bin/env bash
# Makes the small MP4 / MOV / 3GP samples of this folder with ffmpeg's own muxers. The test
# suite only reads the results; run this again only to change them.
# Needs: ffmpeg (Debian package ffmpeg, with libx264) and python3.
set -euo pipefail
cd "$(dirname "$0")"
ff() { ffmpeg -hide_banner -loglevel error -y -bitexact "$@"; }
video=(-f lavfi -i testsrc=size=160x120:rate=10 -t 2)
audio=(-f lavfi -i sine=frequency=440:sample_rate=22050 -t 2)

# MP4 with the three brands users meet most: ftyp, free, mdat, moov.
ff "${video[@]}" "${audio[@]}" -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 32k \
   -brand mp41 -f mp4 mp41.mp4
ff "${video[@]}" -c:v mpeg4 -q:v 8 -brand mp42 -f mp4 mp42.mp4
ff "${video[@]}" -c:v mpeg4 -q:v 8 -f mp4 isom.mp4                        # ffmpeg's default brand
# The movie box in front of the media data (ftyp, moov, free, mdat).
ff "${video[@]}" -c:v mpeg4 -q:v 8 -brand mp42 -movflags +faststart -f mp4 faststart.mp4
# QuickTime: brand "qt  ", with the "wide" placeholder box in front of mdat.
ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 8 -c:a pcm_s16be -f mov quicktime.mov
# 3GP: H.263 at a size the codec allows, brand 3gp*.
ff -f lavfi -i testsrc=size=176x144:rate=10 -t 2 -c:v h263 -q:v 10 -f 3gp mobile.3gp
# Fragmented MP4: ftyp, moov, then moof/mdat pairs.
ff "${video[@]}" -c:v mpeg4 -q:v 8 -movflags frag_keyframe+empty_moov -f mp4 fragmented.mp4

# A 64-bit media data size: the 8-byte "free" box ffmpeg writes in front of "mdat" (room for
# just this) becomes part of an "mdat" header of size 1 with a 64-bit largesize. Every
# offset in the file stays as it was.
python3 - <<'PY'
import struct
data = bytearray(open("mp42.mp4", "rb").read())
pos = 0
while pos + 8 <= len(data):
    size, kind = struct.unpack(">I4s", data[pos:pos + 8])
    if kind == b"free" and size == 8 and data[pos + 12:pos + 16] == b"mdat":
        mdat = struct.unpack(">I", data[pos + 8:pos + 12])[0]
        data[pos:pos + 16] = struct.pack(">I4sQ", 1, b"mdat", mdat + 8)
        break
    pos += size
else:
    raise SystemExit("no free box in front of mdat")
open("largesize.mp4", "wb").write(data)
PY
ls -l ./*.mp4 ./*.mov ./*.3gp
