#!/usr/bin/env bash
# Pictures of the desktop program's windows in English, Simplified and Traditional Chinese,
# taken under a virtual X server:
# docs/screenshots/{main,main-expanded,chooser,search,recovery}-{en,zh_CN,zh_TW}.png
#
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs/screenshots"
mkdir -p "$out"

if ! fc-list :lang=zh-cn | grep -q .; then
  echo "warning: no Simplified Chinese font (Debian: fonts-wqy-microhei or fonts-noto-cjk); the zh_CN pictures will show boxes" >&2
fi

cmake --build "$build" --target morvane_screenshots -j 2 >/dev/null
tool="$build/morvane_screenshots"

# A fixed folder, so that the source path in the pictures does not change from run to run.
work=/tmp/morvane-screenshots
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# A small FAT32 volume to open, as a user would.
PATH=$PATH:/sbin:/usr/sbin
truncate -s 64M "$work/card.img"
mkfs.fat -F 32 -s 8 -n CARD "$work/card.img" >/dev/null

for lang in en_US.UTF-8:en zh_CN.UTF-8:zh_CN zh_TW.UTF-8:zh_TW; do
  locale=${lang%%:*}
  suffix=${lang##*:}
  LANG=$locale LC_ALL=$locale LANGUAGE= HOME="$work" \
    xvfb-run -a -s "-screen 0 1600x1200x24" "$tool" "$out" "$suffix" "$work/card.img"
done
