#!/bin/sh
# Makes the Matroska and WebM samples of the tests with ffmpeg and mkvmerge (mkvtoolnix).
# Run from tests/data/matroska.
#   ffmpeg_seekable.mkv / .webm   written to a file: the Segment's size is known
#   ffmpeg_pipe.mkv / .webm       written to a pipe: the Segment's size is unknown
#   mkvmerge.mkv                  the seekable file remuxed by mkvmerge
#   unknown_clusters.mkv          the piped file with every Cluster's size marked unknown,
#                                 as live recorders write them
set -e
src="-f lavfi -i testsrc=size=128x96:rate=10 -f lavfi -i sine=frequency=440:sample_rate=8000 -t 1.5"
mkv="-c:v mpeg4 -q:v 14 -c:a pcm_s16le -cluster_time_limit 400"
webm="-c:v libvpx -b:v 40k -c:a libopus -b:a 16k -cluster_time_limit 400"
ffmpeg -v error $src $mkv -y ffmpeg_seekable.mkv
ffmpeg -v error $src $mkv -f matroska - > ffmpeg_pipe.mkv
ffmpeg -v error $src $webm -y ffmpeg_seekable.webm
ffmpeg -v error $src $webm -f webm - > ffmpeg_pipe.webm
mkvmerge -q -o mkvmerge.mkv ffmpeg_seekable.mkv
python3 - ffmpeg_pipe.mkv unknown_clusters.mkv <<'PY'
import sys
d = bytearray(open(sys.argv[1], "rb").read())
def length(first, most):
    return next(n for n in range(1, most + 1) if first & (0x80 >> (n - 1)))
at = 4 + length(d[4], 8)
at += int.from_bytes(d[4:at], "big") & ((1 << (7 * (at - 4))) - 1)  # behind the EBML header
at += 4 + length(d[at + 4], 8)                                        # into the Segment
while at < len(d):
    idl = length(d[at], 4)
    ident = int.from_bytes(d[at:at + idl], "big")
    n = length(d[at + idl], 8)
    size = int.from_bytes(d[at + idl:at + idl + n], "big") & ((1 << (7 * n)) - 1)
    if ident == 0x1F43B675:
        d[at + idl:at + idl + n] = ((1 << (7 * n + 1)) - 1).to_bytes(n, "big")  # marker and all value bits set
    at += idl + n + size
open(sys.argv[2], "wb").write(d)
PY
