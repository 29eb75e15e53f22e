#!/usr/bin/env bash
# Lists the tests of the last ctest run that were skipped, each with the reason it gave
# (a missing tool, most often). ctest itself only says "Skipped".
#
#   scripts/skipped-tests.sh [BUILD_DIR]
set -euo pipefail
log=${1:-build}/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
awk '
  /^[0-9]+\/[0-9]+ Test: / { test = $3; want = 0; next }
  # GoogleTest: "file:line: Skipped" and the reason on the lines that follow
  /: Skipped$/ { want = 1; reason = ""; next }
  want && /^\[  SKIPPED \]/ { print "skipped: " test ": " (reason == "" ? "(no reason given)" : reason); want = 0; next }
  want { reason = reason (reason == "" ? "" : " ") $0; next }
  # Qt Test: "SKIP   : Class::test() reason"
  /^SKIP   : / { line = $0; sub(/^SKIP   : /, "", line); print "skipped: " test ": " line }
' "$log" | sort -u
