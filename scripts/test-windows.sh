#!/usr/bin/env bash
# The Windows build under Wine: runs the engine's tests (tests/*_tests.exe beside the program),
# scans the sample card and compares every recovered file (name, bytes, modification time)
# with the Linux build's, then checks the Windows platform layer: UTF-16 paths, paths beyond MAX_PATH, an inventory with its DFXML report, a read-only source
# left untouched, an image backup identical to its source and refused onto the source itself,
# the drive list and device paths.
# Usage: test-windows.sh MORVANE_EXE LINUX_MORVANE CARD_IMAGE
set -uo pipefail
exe=$(realpath "$1") linux=$(realpath "$2") card=$(realpath "$3")
work=$(dirname "$exe")/wine-test
rm -rf "$work" && mkdir -p "$work"
export WINEPREFIX=$(dirname "$exe")/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
passed=0 failed=0
check() {  # check NAME COMMAND...: one check, by the command's status
  if "${@:2}"; then passed=$((passed + 1)); echo "ok   $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}
win() { wine "$exe" "$@" 2>&1; }
# Names and bytes of the files in a folder, and the times of the photos (the shooting time;
# the other files keep the time they were written).
listing() { (cd "$1" && find . -name '*.JPG' -printf '%P %TY-%Tm-%Td %TH:%TM:%.2TS\n' | sort && find . -type f | sort | xargs sha256sum); }

wineboot -i >/dev/null 2>&1
for tests in "$(dirname "$exe")"/tests/*_tests.exe; do
  name=$(basename "$tests" .exe)
  check "$name" bash -c "cd '$work' && wine '$tests' --gtest_brief=1 > $name.log 2>&1"
  grep -E '^\[  (PASSED  |SKIPPED |FAILED  )\]' "$work/$name.log"
done
cp "$card" "$work/card.img" && chmod 0444 "$work/card.img"
before=$(sha256sum < "$work/card.img")
"$linux" scan -q "$work/card.img" -o "$work/linux" >/dev/null
listing "$work/linux" > "$work/linux.txt"

same_as_linux() { listing "$1" > "$1.txt" && diff -u "$work/linux.txt" "$1.txt" && [ -s "$1.txt" ]; }
scan() { (cd "$work" && win scan -q "$@" >> "$work/wine.log"); }

scan card.img -o out
check "sample scan recovers what the Linux build does (names, bytes, times)" same_as_linux "$work/out"

uni="Ünïcödé 写真 карта"
cp "$work/card.img" "$work/$uni.img"
scan "$uni.img" -o "$uni"
check "non-ASCII source and output folder names" same_as_linux "$work/$uni"

long="$work/long"
for i in 1 2 3; do long="$long/$(printf 'folder%.0s' {1..15})$i"; done
mkdir -p "$long" && ln "$work/card.img" "$long/card.img"
scan "Z:$long/card.img" -o "Z:$long/out"
check "source and output paths beyond MAX_PATH (${#long} characters)" same_as_linux "$long/out"

# The DFXML report is written in place as the scan goes, an inventory works in a temporary
# folder that it removes at the end.
(cd "$work" && win scan -q card.img --inventory --hash --dfxml inventory.xml >> wine.log)
(cd "$work" && "$linux" scan -q card.img --inventory --hash --dfxml linux.xml >/dev/null)
check "inventory's DFXML report equals the Linux build's, no work folder left" \
  bash -c "diff <(grep -v -e '<command_line>' -e '<start_time>' '$work/linux.xml') \
                <(grep -v -e '<command_line>' -e '<start_time>' '$work/inventory.xml') &&
           [ -z \"\$(find '$WINEPREFIX/drive_c/users' -name 'morvane-inventory-*')\" ]"

scan card.img -o readonly-out
check "read-only source opens and stays unchanged" [ "$(sha256sum < "$work/card.img")" = "$before" ]

(cd "$work" && win backup -q card.img copy.img >> wine.log)
check "image backup is byte-identical to its source" cmp -s "$work/card.img" "$work/copy.img"

ln "$work/card.img" "$work/same.img"
(cd "$work" && win backup -q card.img same.img > refuse.log)
check "backup onto the source itself (a hard link) is refused" \
  bash -c "[ \"\$(sha256sum < '$work/card.img')\" = '$before' ] && grep -qi 'source' '$work/refuse.log'"

win drives > "$work/drives.log"
check "drive list shows the drive letters" grep -q '^C:' "$work/drives.log"

# Wine has no raw disks: every device is refused with exit status 1, the source's name and the
# system's reason, before any output folder is made. A refusal for lack of rights names the
# administrator prompt, and a bare drive letter (a folder) names the volume's device.
device() {  # device SOURCE TEXT: a scan of SOURCE fails as above and says TEXT
  rm -rf "$work/devout"
  (cd "$work" && wine "$exe" scan -q "$1" -o devout > device.log 2>&1)
  [ $? -eq 1 ] && grep -qF "$1" "$work/device.log" && grep -qF "$2" "$work/device.log" && [ ! -e "$work/devout" ] &&
    { ! grep -qi 'denied' "$work/device.log" || grep -q 'administrator' "$work/device.log"; }
}
check 'volume \\.\Z: is refused' device '\\.\Z:' 'Failed to'
check 'volume \\.\C: is refused' device '\\.\C:' 'Failed to'
check 'disk \\.\PhysicalDrive0 is refused' device '\\.\PhysicalDrive0' 'Failed to'
check 'a missing drive \\.\Q: is not found' device '\\.\Q:' 'not found'
check 'a drive letter Z: names its volume \\.\Z:' device 'Z:' 'name it \\.\Z:'

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
