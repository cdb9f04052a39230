#!/usr/bin/env bash
# Benchmark of the whole-file check: makes real material, encodes and decodes
# it with the usual codecs, breaks copies, runs eqalign on each and prints a
# table of false alarms and missed faults (bench/check_bench.py does the
# work; this checks the tools first, so that a missing one is named before
# anything is made).
#   bash bench/check_bench.sh EQALIGN WORK_FOLDER [--quick] [--jobs N]
# The work folder keeps the material, the decodes and every report; a second
# run there (say, on a new binary) only runs eqalign and sorts the reports.
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: bash bench/check_bench.sh EQALIGN WORK_FOLDER [--quick] [--jobs N]" >&2
  exit 2
fi
[ -x "$1" ] || { echo "$1 is not an executable eqalign" >&2; exit 2; }

# Each tool, and the Debian package that brings it.
missing=""
add() { case " $missing " in *" $1 "*) ;; *) missing="${missing:+$missing }$1" ;; esac; }
need() { command -v "$1" > /dev/null || add "$2"; }
need python3 python3
need fluidsynth fluidsynth
need espeak-ng espeak-ng
need sox sox
need lame lame
need mpg123 mpg123
need oggenc vorbis-tools
need oggdec vorbis-tools
need opusenc opus-tools
need opusdec opus-tools
need ffmpeg ffmpeg
need flac flac
[ -f /usr/share/sounds/sf2/FluidR3_GM.sf2 ] || add fluid-soundfont-gm
[ -d /usr/share/games/openttd/baseset/openmsx ] || add openttd-openmsx
if [ -n "$missing" ]; then
  echo "Missing tools; install them with:" >&2
  echo "  apt-get install -y $missing" >&2
  exit 3
fi

exec python3 "$(dirname "$0")/check_bench.py" "$@"
