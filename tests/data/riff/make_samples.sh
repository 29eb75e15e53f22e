#!/usr/bin/env bash
# Makes the small AVI, WAV, ASF and WMV samples of this folder with ffmpeg's own muxers.
# The test suite only reads the results; run this again only to change them.
# Needs: ffmpeg (Debian package ffmpeg) and python3.
set -euo pipefail
cd "$(dirname "$0")"
ff() { ffmpeg -hide_banner -loglevel error -y -bitexact "$@"; }
video=(-f lavfi -i testsrc=size=160x120:rate=10 -t 2)
audio=(-f lavfi -i sine=frequency=440:sample_rate=11025 -t 2)

# AVI as compact cameras write it: Motion-JPEG frames with PCM sound.
ff "${video[@]}" "${audio[@]}" -c:v mjpeg -q:v 12 -c:a pcm_s16le -ac 1 -f avi mjpeg_pcm.avi
# AVI with MPEG-4 part 2 video and PCM sound, the other common camera pairing.
ff "${video[@]}" "${audio[@]}" -c:v mpeg4 -q:v 8 -c:a pcm_u8 -ac 1 -f avi mpeg4_pcm.avi
# WAV: plain PCM (fmt, LIST INFO, data) and IMA ADPCM, whose header carries a "fact" chunk.
ff "${audio[@]}" -c:a pcm_s16le -f wav pcm.wav
ff "${audio[@]}" -c:a adpcm_ima_wav -f wav adpcm.wav
# An 8-bit mono WAV with an odd number of samples: its data chunk is padded to even length
# and a LIST chunk follows it.
ff -f lavfi -i sine=frequency=440:sample_rate=8000 -t 0.1251 -c:a pcm_u8 -f wav odd_tail.wav
python3 - <<'PY'
import struct
data = bytearray(open("odd_tail.wav", "rb").read())
# Move the LIST INFO chunk that ffmpeg writes before "data" to behind it.
pos, chunks = 12, []
while pos + 8 <= len(data):
    cid, size = struct.unpack("<4sI", data[pos:pos + 8])
    end = pos + 8 + size + (size & 1)
    chunks.append((cid, bytes(data[pos:end])))
    pos = end
order = [c for c in chunks if c[0] != b"LIST"] + [c for c in chunks if c[0] == b"LIST"]
body = b"".join(c[1] for c in order)
dsize = [struct.unpack("<I", c[1][4:8])[0] for c in chunks if c[0] == b"data"][0]
assert dsize % 2 == 1, dsize
open("odd_tail.wav", "wb").write(b"RIFF" + struct.pack("<I", 4 + len(body)) + b"WAVE" + body)
PY
# ASF and WMV: ffmpeg puts the file properties object first in the header.
ff "${video[@]}" "${audio[@]}" -c:v wmv2 -q:v 8 -c:a wmav2 -b:a 32k -f asf sample.asf
ff "${video[@]}" "${audio[@]}" -c:v wmv1 -q:v 8 -c:a wmav1 -b:a 32k -f asf sample.wmv
# A WMV whose header starts with another object, as other writers order it: the first two
# objects inside the header object change places. Nothing else moves.
python3 - <<'PY'
import struct
data = bytearray(open("sample.wmv", "rb").read())
assert data[30:46] == bytes.fromhex("a1dcab8c47a9cf118ee400c00c205365")
first = struct.unpack("<Q", data[46:54])[0]
second = struct.unpack("<Q", data[30 + first + 16:30 + first + 24])[0]
a = data[30:30 + first]
b = data[30 + first:30 + first + second]
data[30:30 + first + second] = b + a
open("reordered.wmv", "wb").write(data)
PY
# A broadcast WAV as field recorders write it: a "bext" chunk (and ffmpeg's LIST INFO)
# beside "fmt " and "data"; then the same file with "bext" moved to the front, where some
# recorders put it.
ff -f lavfi -i anoisesrc=d=0.5:r=8000:seed=1 -c:a pcm_s24le -write_bext 1 -metadata originator=Rec -f wav bext.wav
python3 - <<'PY'
import struct
data = open("bext.wav", "rb").read()
pos, chunks = 12, []
while pos + 8 <= len(data):
    cid, size = struct.unpack("<4sI", data[pos:pos + 8])
    end = pos + 8 + size + (size & 1)
    chunks.append((cid, data[pos:end]))
    pos = end
assert [c[0] for c in chunks][:2] == [b"fmt ", b"bext"], chunks
order = [c for c in chunks if c[0] == b"bext"] + [c for c in chunks if c[0] != b"bext"]
open("bext_first.wav", "wb").write(data[:12] + b"".join(c[1] for c in order))
PY
# Windows Media audio alone: an ASF file without a Windows Media video stream.
ff "${audio[@]}" -c:a wmav2 -b:a 32k -f asf audio.asf
# A WMV as Windows tools order its header: the extended content description object first
# (ffmpeg writes one for metadata it has no other place for), the other objects behind it
# in ffmpeg's order.
ff "${video[@]}" "${audio[@]}" -c:v wmv2 -q:v 8 -c:a wmav2 -b:a 32k -metadata genre=Home -f asf ecd_first.wmv
python3 - <<'PY'
import struct
data = bytearray(open("ecd_first.wmv", "rb").read())
end = struct.unpack("<Q", data[16:24])[0]
pos, objects = 30, []
while pos < end:
    size = struct.unpack("<Q", data[pos + 16:pos + 24])[0]
    objects.append(bytes(data[pos:pos + size]))
    pos += size
ecd = bytes.fromhex("40a4d0d207e3d21197f000a0c95ea850")
first = [o for o in objects if o[:16] == ecd]
assert len(first) == 1
data[30:end] = first[0] + b"".join(o for o in objects if o[:16] != ecd)
open("ecd_first.wmv", "wb").write(data)
PY
ls -l ./*.avi ./*.wav ./*.asf ./*.wmv
