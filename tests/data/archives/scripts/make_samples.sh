#!/bin/sh
# Makes the sample archives of the 7z and CAB tests with 7-Zip and gcab, and copies the
# RAR 3/4 samples (written by RAR itself; no RAR writer is packaged) from a folder given as
# the first argument and the RAR 5 samples (rar5_*.rar, from libarchive's test suite) from
# a folder given as the second. Run from tests/data/archives.
set -e
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
/usr/bin/python3 - "$work/in" <<'PY'
import random, sys, os
random.seed(11)
d = sys.argv[1]
words = ["sector", "cluster", "carve", "header", "volume", "picture", "archive", "stream"]
open(os.path.join(d, "notes.txt"), "w").write(" ".join(random.choice(words) for _ in range(3000)))
open(os.path.join(d, "noise.bin"), "wb").write(bytes(random.randrange(256) for _ in range(9000)))
open(os.path.join(d, "table.csv"), "w").write("\n".join(f"{i},{i*i},{random.random():.6f}" for i in range(600)))
PY
rm -f *.7z *.cab
(cd "$work/in" && 7z a -bd -ms=on -mhc=on "$OLDPWD/solid_hc.7z" . >/dev/null)
(cd "$work/in" && 7z a -bd -ms=off -mhc=off "$OLDPWD/nonsolid_nohc.7z" . >/dev/null)
(cd "$work/in" && 7z a -bd -ms=off -mhc=on -mhe=off "$OLDPWD/nonsolid_hc.7z" . >/dev/null)
(cd "$work/in" && gcab -c "$OLDPWD/stored.cab" notes.txt noise.bin table.csv)
(cd "$work/in" && gcab -c -z "$OLDPWD/mszip.cab" notes.txt noise.bin table.csv)
if [ -n "$1" ]; then
  for f in rar.rar rar_compress_normal.rar rar_windows.rar rar4_encrypted.rar rar_subblock.rar rar_unicode.rar rar_encryption_header.rar; do cp "$1/$f" .; done
fi
if [ -n "$2" ]; then
  for f in arm compressed encrypted multiple_files solid stored_manyfiles unicode win32 zip_in_rar; do cp "$2/rar5_$f.rar" .; done
fi
