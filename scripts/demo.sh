#!/usr/bin/env bash
# The demo of `make demo`: Morvane on the bundled camera card image.
set -euo pipefail
morvane=${1:?path of the morvane program}
image=${2:?path of the card image}
out=${3:-demo-output}

echo "== morvane info $image"
"$morvane" info "$image"
echo
echo "== morvane view $image --sector 0   (the boot sector)"
"$morvane" view "$image" --sector 0
echo
rm -rf "$out"
mkdir -p "$out"
echo "== morvane scan $image -o $out --report $out/report.json"
"$morvane" scan "$image" -o "$out" --report "$out/report.json"
echo
echo "== recovered into $out/"
ls -l "$out" | grep -v '^total' | grep -v ' report.json$' || echo "(nothing recovered)"
echo
rm -rf "$out-2015"
echo "== morvane scan $image -o $out-2015 --types jpg --photo-from 2015-01-01   (photos taken from 2015 on only)"
"$morvane" scan "$image" -o "$out-2015" --types jpg --photo-from 2015-01-01
echo
echo "== recovered into $out-2015/"
ls -l "$out-2015" | grep -v '^total' || echo "(nothing recovered)"
