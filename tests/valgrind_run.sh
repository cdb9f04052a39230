#!/bin/sh
# One complete run of eqalign on the demo set under valgrind's memcheck: no
# invalid access, no use of uninitialised memory, no leak.
# usage: valgrind_run.sh VALGRIND MAKE_DEMO EQALIGN
set -eu
dir=$(mktemp -d "${TMPDIR:-/tmp}/eqalign_valgrind.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$2" "$dir" > /dev/null
cd "$dir"
"$1" --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
  --show-leak-kinds=definite,indirect,possible \
  "$3" original.32b.wav decode_a.32b.wav > report.txt
tail -n 4 report.txt
test "$(wc -c < original.raw)" -gt 0
