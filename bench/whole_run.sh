#!/usr/bin/env bash
# Times a whole run on the ten-file set against the I/O floor: reading every
# input (cat) and writing as many output bytes, flushed to disk (dd
# conv=fsync), one after the other, warm cache. The run's one-second pause
# is taken off its time.
#   bench/whole_run.sh build-bench/eqalign build-bench/bench/make_bench_set /tmp/bench_set [runs]
set -euo pipefail
eqalign=$(realpath "$1")
make_set=$2
dir=$3
runs=${4:-5}
[ -f "$dir/9.wav" ] || "$make_set" "$dir"
cd "$dir"
inputs=(0.wav 1.wav 2.wav 3.wav 4.wav 5.wav 6.wav 7.wav 8.wav 9.wav)
cat "${inputs[@]}" > /dev/null
"$eqalign" "${inputs[@]}" > report.txt
out_mib=$(( $(stat -c %s 0.wav.raw) / 1048576 + 1 ))
seconds() { local s=$EPOCHREALTIME; "$@" > /dev/null; echo "$EPOCHREALTIME - $s" | bc; }
floor() {
  cat "${inputs[@]}" > /dev/null
  for i in "${!inputs[@]}"; do dd if=/dev/zero of="floor$i.raw" bs=1M count=$out_mib conv=fsync status=none; done
  rm -f floor*.raw
}
for ((r = 0; r < runs; ++r)); do
  run=$(seconds "$eqalign" "${inputs[@]}")
  io=$(seconds floor)
  printf 'run %.2f s (pause taken off)   I/O floor %.2f s   ratio %.2f\n' "$(echo "$run - 1" | bc)" "$io" \
    "$(echo "($run - 1) / $io" | bc -l)"
done
