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
