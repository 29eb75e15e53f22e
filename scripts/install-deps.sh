#!/usr/bin/env bash
# Installs every package Morvane needs to build and test, from Debian's archive.
# Safe to run again: it installs only what is missing. Uses sudo when not root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libjpeg62-turbo-dev libpng-dev libstb-dev libssl-dev libblkid-dev
  # the HEIF/AVIF and WebP picture checks
  libheif-dev libwebp-dev
  libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # the desktop program and its window tests
  qt6-base-dev libgl-dev xvfb xauth qt6-translations-l10n
  # a font with Chinese characters for the desktop program's two Chinese languages (without
  # one its Chinese windows show boxes); fonts-noto-cjk is the fuller, much larger choice
  fonts-wqy-microhei
  # tools the tests use to make real file systems and check them
  dosfstools mtools ntfs-3g exfatprogs hfsutils sleuthkit xz-utils libxml2-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
