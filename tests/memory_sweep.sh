#!/usr/bin/env bash
# Memory that runs out anywhere in a run, with old outputs in place: every
# allocation of a 3-file run made to fail in turn, then every third of a
# 10-file run (eqalign_failing_new, tests/failing_new.cc); then the 10-file
# run under each address-space limit (ulimit -v) from 8 to 140 MB. Every run
# must end with status 0 and every output new, or status 10, "Not enough
# memory." and every file as it was; no temporary is ever left.
#   memory_sweep.sh EQALIGN EQALIGN_FAILING_NEW MAKE_DEMO FOLDER
set -euo pipefail
plain=$(realpath "$1")
failing=$(realpath "$2")
make_demo=$(realpath "$3")
top=$(mkdir -p "$4" && realpath "$4")
rm -rf "${top:?}"/*
mkdir -p "$top/set"
"$make_demo" "$top/set" > /dev/null
for x in e f g h i; do cp "$top/set/decode_a.32b.wav" "$top/set/decode_$x.32b.wav"; done
three=(original.32b.wav decode_a.32b.wav decode_b.32b.wav)
ten=(original.32b.wav decode_{a..i}.32b.wav)

# A folder of its own for a run of FILES, the inputs linked in; new/ holds
# the outputs of a run with enough memory (the failing program fails nothing
# unless asked, and skips the closing pause).
prepare() {  # FOLDER FILES...
  local d=$1
  shift
  mkdir -p "$d/new"
  for f in "$@"; do ln "$top/set/$f" "$d/$f"; done
  (cd "$d" && "$failing" "$@" > /dev/null && mv ./*.raw new/)
}

# Runs COMMAND... FILES... in FOLDER, with an old file at every output name
# but the last, and checks what it left. Sets `status`, and `injected` to
# whether the failing operator new failed an allocation.
run_checked() {  # FOLDER FILE_COUNT FILES... COMMAND...
  local d=$1 count=$2
  shift 2
  local files=("${@:1:count}") command=("${@:count+1}") outs=() f problem=""
  for f in "${files[@]}"; do outs+=("${f%.32b.wav}.raw"); done
  for f in "${outs[@]}"; do echo old > "$d/$f"; done
  rm -f "$d/${outs[-1]}"
  status=0
  (cd "$d" && "${command[@]}" "${files[@]}" > report.txt 2> errors.txt) || status=$?
  if [ $status = 0 ]; then
    for f in "${outs[@]}"; do cmp -s "$d/$f" "$d/new/$f" || problem+=" $f is not the new output;"; done
  elif [ $status = 10 ]; then
    [ "$(tail -c 20 "$d/report.txt")" = $'Not enough memory.\r' ] || problem+=" no 'Not enough memory.' at the end;"
    for f in "${outs[@]::${#outs[@]}-1}"; do [ "$(cat "$d/$f")" = old ] || problem+=" $f changed;"; done
    [ ! -e "$d/${outs[-1]}" ] || problem+=" ${outs[-1]} written;"
  else
    problem+=" $(head -c 300 "$d/errors.txt");"
  fi
  local left
  left=$(ls -A "$d" | grep '^\.eqalign-' || true)
  [ -z "$left" ] || problem+=" temporaries left: $left;"
  injected=0
  grep -q 'allocation .* failed' "$d/errors.txt" && injected=1
  [ -z "$problem" ] || { echo "${command[*]} in $d: status $status;$problem" >&2; return 1; }
}

# Every STEP-th allocation, from the first until none is left to fail.
sweep_allocations() {  # FOLDER STEP FILES...
  local d=$1 step=$2 n=1 ran_out=0
  shift 2
  while true; do
    run_checked "$d" $# "$@" env EQALIGN_FAIL_NEW=$n "$failing"
    [ $injected = 1 ] || break
    [ $status = 10 ] && ran_out=$((ran_out + 1))
    n=$((n + step))
  done
  # Not a vacuous sweep: most failures end the run.
  [ $ran_out -gt $((n / step / 2)) ] || { echo "$# files: only $ran_out of the runs ran out of memory" >&2; return 1; }
  echo "$# files, allocations 1 to $((n - 1)) by $step: $ran_out runs ended with status 10, the others 0, as they should"
}

# One run of the 10 files under a limit of MB megabytes, in a folder of its own.
limit_run() {  # MB
  local d="$top/limit$1" ten=(original.32b.wav decode_{a..i}.32b.wav)
  mkdir -p "$d"
  for f in "${ten[@]}"; do ln "$top/set/$f" "$d/$f"; done
  cp -r "$top/ten/new" "$d/new"
  run_checked "$d" ${#ten[@]} "${ten[@]}" bash -c "ulimit -v $(($1 * 1024)) && exec \"\$0\" \"\$@\"" "$plain" || return 1
  echo "$1 $status"
  rm -rf "$d"
}

start=$SECONDS
prepare "$top/three" "${three[@]}"
prepare "$top/ten" "${ten[@]}"
sweep_allocations "$top/three" 1 "${three[@]}"
sweep_allocations "$top/ten" 3 "${ten[@]}"
# Side by side: most of a complete run is its one-second pause.
export -f run_checked limit_run
export top plain
seq 8 140 | xargs -P 6 -I{} bash -c 'limit_run {}' | sort -n > "$top/limits.txt"
echo "10 files under ulimit -v of 8 to 140 MB: status 10 up to $(awk '$2 == 10 {m = $1} END {print m}' "$top/limits.txt")" \
  "MB, 0 from $(awk '$2 == 0 {print $1; exit}' "$top/limits.txt") MB, every file as it should be ($((SECONDS - start)) s)"
