#!/usr/bin/env bash
# Makes the small MPEG program- and transport-stream samples of this folder with ffmpeg's
# own muxers: video and audio, 4 seconds each, long enough to span dozens of 4 KiB
# clusters. The test suite only reads the results; run this again only to change them.
# Needs: ffmpeg (Debian package ffmpeg, with libx264).
set -euo pipefail
cd "$(dirname "$0")"
ff() { ffmpeg -hide_banner -loglevel error -y -bitexact "$@"; }
video=(-f lavfi -i testsrc=size=176x144:rate=25 -t 4)
audio=(-f lavfi -i sine=frequency=440:sample_rate=44100 -t 4)

# MPEG-1 system stream: MPEG-1 video and MP2 sound, first pack clock 0.
ff "${video[@]}" "${audio[@]}" -c:v mpeg1video -b:v 300k -c:a mp2 -b:a 64k -f mpeg mpeg1.mpg
# MPEG-2 program streams: the plain VOB muxer and the DVD one (2048-byte packs, navigation
# packets, AC-3 sound in private stream 1).
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 300k -c:a mp2 -b:a 64k -f vob mpeg2.vob
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 300k -c:a ac3 -b:a 64k -f dvd dvd.vob
# Transport streams: 188-byte packets, and the 192-byte packets of camcorders (H.264 and
# AAC) with arrival times; a constant mux rate gives real arrival-time steps.
ff "${video[@]}" "${audio[@]}" -c:v mpeg2video -b:v 300k -c:a mp2 -b:a 64k -f mpegts plain.ts
ff "${video[@]}" "${audio[@]}" -c:v libx264 -preset veryfast -b:v 300k -c:a aac -b:a 64k \
   -f mpegts -mpegts_m2ts_mode 1 -muxrate 500k camcorder.mts
# The same without a mux rate, as a remux to .m2ts gets it: the arrival times jump by large
# steps from packet to packet. Two seconds.
ff -f lavfi -i testsrc=size=176x144:rate=25 -t 2 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 2 \
   -c:v libx264 -preset veryfast -b:v 300k -c:a aac -b:a 64k -f mpegts -mpegts_m2ts_mode 1 jumping_clocks.mts
ls -l ./*.mpg ./*.vob ./*.ts ./*.mts
