#!/usr/bin/env bash
# The demo of `make demo`: Morvane on the bundled camera card image.
set -euo pipefail
morvane=${1:?path of the morvane program}
image=${2:?path of the card image}

echo "== morvane info $image"
"$morvane" info "$image"
echo
echo "== morvane view $image --sector 0   (the boot sector)"
"$morvane" view "$image" --sector 0
