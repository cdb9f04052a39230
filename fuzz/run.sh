#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan, UBSan, libFuzzer), writes the seed
# corpora and runs each target for the given number of seconds.
# usage: fuzz/run.sh [HEADER_SECONDS] [RUN_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
header_seconds=${1:-60}
run_seconds=${2:-30}
build=${FUZZ_BUILD:-build-fuzz}
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DEQALIGN_FUZZ=ON -DEQALIGN_TESTS=OFF > /dev/null
cmake --build "$build" -j2
"$build/fuzz/make_corpus" "$build/corpus"
for target in header run; do
  seconds=header_seconds
  [ "$target" = run ] && seconds=run_seconds
  mkdir -p "$build/found/$target"
  echo "== ${target}_fuzz for ${!seconds} s"
  status=0
  "$build/fuzz/${target}_fuzz" -max_total_time="${!seconds}" -print_final_stats=1 \
    -artifact_prefix="$build/found/$target/" "$build/found/$target" "$build/corpus/$target" \
    > "$build/$target.log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)' "$build/$target.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$build/$target.log"
    exit "$status"
  fi
done
