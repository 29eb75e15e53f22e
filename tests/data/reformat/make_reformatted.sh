#!/bin/bash
# make_reformatted.sh IMAGE SIZE OLD NEW FILE...
# Makes IMAGE (SIZE, as truncate takes it) with file system OLD, copies an 8 MiB file of
# zeros and then FILE... into it (each one whole, one after the other), and formats it
# again, quickly, as NEW. OLD and NEW are fat32-BYTES, ntfs-BYTES or exfat-BYTES (the
# cluster size). Needs dosfstools and mtools, ntfs-3g, exfatprogs as the names ask.
set -e
image=$1 size=$2 old=$3 new=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 8M /dev/zero > "$work/filler.bin"
rm -f "$image"
truncate -s "$size" "$image"
put() {
  case $old in
    fat32-*) MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$1" "::$(basename "$1")" ;;
    ntfs-*) ntfscp -q "$image" "$1" "$(basename "$1")" >/dev/null 2>&1 ;;
  esac
}
format() {
  case $1 in
    fat32-*) mkfs.fat -F 32 -s $(( ${1#fat32-} / 512 )) "$image" >/dev/null 2>&1 ;;
    ntfs-*) mkntfs -q -F -Q -c "${1#ntfs-}" "$image" >/dev/null 2>&1 ;;
    exfat-*) mkfs.exfat -c "${1#exfat-}" "$image" >/dev/null 2>&1 ;;
  esac
}
format "$old"
put "$work/filler.bin"
for f in "$@"; do put "$f"; done
format "$new"
