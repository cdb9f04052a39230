#!/usr/bin/env bash
# Times eqalign-pack on the ten-file set against eqalign's own run of the same
# files, warm cache, runs alternating: the whole length packed (both write as
# many frames), and a 30-s passage against eqalign's search and whole-file
# check alone (up to its first output, the moment its first temporary is
# made, as strace sees it). eqalign's one-second pause is taken off.
#   bench/pack_run.sh build-bench/eqalign build-bench/eqalign-pack build-bench/bench/make_bench_set /tmp/bench_set [runs]
set -euo pipefail
eqalign=$(realpath "$1")
pack=$(realpath "$2")
make_set=$3
dir=$4
runs=${5:-3}
[ -f "$dir/9.wav" ] || "$make_set" "$dir"
cd "$dir"
inputs=(0.wav 1.wav 2.wav 3.wav 4.wav 5.wav 6.wav 7.wav 8.wav 9.wav)
cat "${inputs[@]}" > /dev/null
seconds() { local s=$EPOCHREALTIME; "$@" > /dev/null; echo "$EPOCHREALTIME - $s" | bc; }
# Seconds from eqalign's start to its first temporary.
analysis() {
  strace -f --seccomp-bpf -e trace=openat -ttt -o strace.txt "$eqalign" "${inputs[@]}" > /dev/null
  awk 'NR == 1 { start = $2 } /\.eqalign-.*O_EXCL/ { print $2 - start; exit }' strace.txt
}
for ((r = 0; r < runs; ++r)); do
  run=$(echo "$(seconds "$eqalign" "${inputs[@]}") - 1" | bc)
  rm -rf packed
  whole=$(seconds "$pack" -o packed "${inputs[@]}")
  rm -rf packed
  part=$(seconds "$pack" -o packed --from 60 --length 30 "${inputs[@]}")
  rm -rf packed
  search=$(analysis)
  printf 'eqalign %.2f s, pack whole %.2f s (ratio %.2f); eqalign search and check %.2f s, pack 30 s %.2f s (%+.2f s)\n' \
    "$run" "$whole" "$(echo "$whole / $run" | bc -l)" "$search" "$part" "$(echo "$part - $search" | bc -l)"
done
rm -f strace.txt
