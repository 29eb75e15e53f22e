# Sourced by the copy-vs-cp benchmark scripts. copy_vs_cp IMAGE LENGTH CLAIM_TYPES COPY_TYPES
# WORKDIR: puts the image into the page cache, copies it with cp, scans it with the video's
# kind not selected (CLAIM_TYPES) and selected (COPY_TYPES), checks that the one recovered
# file is the image's first LENGTH bytes, and prints the rates. MORVANE names the program.
# With SYNC=0 the written bytes are not flushed inside the timings (page-cache writes only).
copy_vs_cp() {
  local img=$1 length=$2 claimTypes=$3 copyTypes=$4 work=$5
  local bytes out t0 t1 t2 t3 t4 t5
  bytes=$(stat -c %s "$img")
  cat "$img" > /dev/null  # into the page cache
  sync
  flush() { if [ "${SYNC:-1}" != 0 ]; then sync; fi; }
  now() { date +%s.%N; }
  scan() { "$MORVANE" scan -q "$img" -o "$1" --reason repartitioned --fs other --cluster 32K -t "$2" > /dev/null; }
  mkdir "$work/claim" "$work/copy"

  t0=$(now); cp "$img" "$work/cp.bin"; flush; t1=$(now)
  rm -f "$work/cp.bin"; sync
  t2=$(now); scan "$work/claim" "$claimTypes"; t3=$(now)
  t4=$(now); scan "$work/copy" "$copyTypes"; flush; t5=$(now)

  out=$(ls "$work/copy")
  [ "$(stat -c %s "$work/copy/$out")" = "$length" ] || { echo "recovered video has the wrong length" >&2; return 1; }
  cmp -n "$length" "$img" "$work/copy/$out" > /dev/null || { echo "recovered video differs" >&2; return 1; }
  awk -v b="$bytes" -v t0="$t0" -v t1="$t1" -v t2="$t2" -v t3="$t3" -v t4="$t4" -v t5="$t5" 'BEGIN {
    cp = t1 - t0; claim = t3 - t2; full = t5 - t4; copy = full - claim
    printf "image:                      %8.1f MiB\n", b / 1048576
    printf "cp:                         %8.1f MB/s  %6.2f s\n", b / 1e6 / cp, cp
    printf "scan, video claimed only:   %8.1f MB/s  %6.2f s\n", b / 1e6 / claim, claim
    printf "scan, video written:        %8.1f MB/s  %6.2f s\n", b / 1e6 / full, full
    printf "copy alone (difference):    %8.1f MB/s  %6.2f s\n", b / 1e6 / copy, copy
    printf "copy / cp:                  %8.2f\n", cp / copy }'
}
