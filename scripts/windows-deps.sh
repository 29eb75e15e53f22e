#!/usr/bin/env bash
# Everything the Windows build needs, from Debian's archive only:
#   - the MinGW-w64 cross compiler (x86_64, POSIX threads), zlib for MinGW, Wine for the tests;
#   - libjpeg-turbo and libpng, built here from Debian's source packages as static libraries,
#     and GoogleTest from the sources Debian installs in /usr/src/googletest (for the tests);
#   - the header-only libraries (CLI11, nlohmann-json, stb) copied from their Debian packages.
# Output: build-win-deps/prefix (include/ and lib/), which cmake/mingw-w64-x86_64.cmake searches.
# Safe to run again: what is already there is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD/build-win-deps
prefix=$root/prefix
triplet=x86_64-w64-mingw32
jobs=$(nproc)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine
          dpkg-dev cmake make xz-utils zip libcli11-dev nlohmann-json3-dev libstb-dev googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

mkdir -p "$prefix/include" "$prefix/lib" "$root/src"
for h in CLI nlohmann stb; do
  [ -d "$prefix/include/$h" ] || cp -r "/usr/include/$h" "$prefix/include/$h"
done

# Source packages come from the same Debian archive as the binary ones: add its deb-src
# entry once when the machine has none (the main archive only: the security archive does not
# keep every source it lists).
need_source() {
  [ -f "$prefix/lib/libjpeg.a" ] && [ -f "$prefix/lib/libpng.a" ] && return 1
  return 0
}
list=/etc/apt/sources.list.d/morvane-deb-src.sources
if need_source && [ ! -f "$list" ] && ! apt-get source --print-uris libpng1.6 >/dev/null 2>&1; then
  echo "Adding Debian source entries: $list"
  src_entries=$(awk '/^Types:/{n++} n==1' /etc/apt/sources.list.d/debian.sources 2>/dev/null | sed 's/^Types: deb$/Types: deb-src/')
  if [ -z "$src_entries" ]; then
    src_entries=$'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg'
  fi
  echo "$src_entries" | $sudo tee "$list" >/dev/null
  $sudo apt-get update -qq
fi

toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
cross=(-DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMORVANE_WIN_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release
       -DCMAKE_INSTALL_PREFIX="$prefix")

# fetch PACKAGE: unpacks Debian's source package (patches applied) under $root/src; prints its folder.
fetch() {
  if ! ls -d "$root/src/$1"-*/ >/dev/null 2>&1; then
    (cd "$root/src" && apt-get source -qq "$1" >/dev/null)
  fi
  ls -d "$root/src/$1"-*/ | head -n 1
}

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  dir=$(fetch libjpeg-turbo)
  cmake -S "$dir" -B "$root/jpeg" "${cross[@]}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JPEG8=OFF >/dev/null
  cmake --build "$root/jpeg" -j "$jobs" --target jpeg-static >/dev/null
  cp "$root/jpeg/libjpeg.a" "$prefix/lib/"
  cp "$dir"/jpeglib.h "$dir"/jmorecfg.h "$dir"/jerror.h "$root/jpeg/jconfig.h" "$prefix/include/"
fi

if [ ! -f "$prefix/lib/libpng.a" ]; then
  dir=$(fetch libpng1.6)
  cmake -S "$dir" -B "$root/png" "${cross[@]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_EXECUTABLES=ON >/dev/null
  cmake --build "$root/png" -j "$jobs" --target png_static >/dev/null
  cp "$root/png"/libpng*.a "$prefix/lib/"
  [ -f "$prefix/lib/libpng.a" ] || cp "$(ls "$root/png"/libpng*.a | head -n 1)" "$prefix/lib/libpng.a"
  cp "$dir"/png.h "$dir"/pngconf.h "$root/png/pnglibconf.h" "$prefix/include/"
fi
if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$root/gtest" "${cross[@]}" >/dev/null
  cmake --build "$root/gtest" -j "$jobs" >/dev/null
  cmake --install "$root/gtest" >/dev/null
fi
echo "Windows dependencies in $prefix"
