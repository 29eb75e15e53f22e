# Sourced by the picture benchmarks: whole scans of one image with one thread and with one
# per processor, in ROUNDS alternating pairs (default 3), each into a fresh folder.
#   thread_pairs MORVANE IMAGE OUT [scan options...]
# sets threads, rounds, s1 and sn (the median seconds with one thread and with `threads`),
# load_before and load_after; OUT holds the files of the last scan.

# One scan with $1 threads; prints its seconds.
scan_seconds() {
  local threads=$1 morvane=$2 img=$3 out=$4 t0 t1
  shift 4
  rm -rf "$out" && mkdir "$out"
  t0=$(date +%s.%N)
  "$morvane" scan -q "$img" -o "$out" "$@" --threads "$threads" > /dev/null
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f\n", b - a }'
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

thread_pairs() {
  threads=$(nproc)
  rounds=${ROUNDS:-3}
  local one=() many=() r
  load_before=$(cut -d' ' -f1 /proc/loadavg)
  for ((r = 0; r < rounds; ++r)); do
    one+=("$(scan_seconds 1 "$@")")
    many+=("$(scan_seconds "$threads" "$@")")
  done
  load_after=$(cut -d' ' -f1 /proc/loadavg)
  s1=$(median "${one[@]}")
  sn=$(median "${many[@]}")
}
