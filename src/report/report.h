// How the programs tell what the analysis found: the note of a reference
// measured after its silent start, the notes under each decode's search
// line, and the notes of the whole-file check, which lines end "\r\n" and
// eqalign-pack prints with "\n" (core/say.h); and the check as an organiser
// reads it, check.csv and check.svg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "core/run_values.h"
#include "core/track.h"

// The note of a reference whose first second is silent, when it was.
void print_capture_note(const track& reference);

// The notes under track i's search line: unmeasured, inverted polarity, a
// poor match, a delay at the end of the range, repeating music, an odd pair
// of channels.
void print_search_notes(const track& t, int i);

// eqalign's report of the search: each decode's line and its notes, then
// the run's extremes and the length every output is cut to.
void print_search_report(const track_slot* slots, int wav_num, const run_values& values);

// The notes of a whole-file check, in track order.
void print_whole_file_notes(const whole_file_result& r, std::uint32_t rate);

// What check.csv and check.svg show: the check, and by track the name shown
// and the delay (none: not shown, as a blind test's report gives the lags of
// the inputs); the reference's rate and length, and the passage, in
// reference frames.
struct check_drawing {
  const whole_file_result* check = nullptr;
  std::vector<std::string> names;
  std::vector<std::int32_t> delays;
  std::uint32_t rate = 0;
  std::int64_t frames = 0;
  std::int64_t from = 0;
  std::int64_t length = 0;
};

// check.csv: a header line, then per decode and place: decode, time (s),
// lag, score, level (dB), kind, quiet. Lines end in "\n"; the bytes are the
// same on every platform.
std::string check_csv(const check_drawing& d);

// check.svg: lag and level against the reference's time, one line a decode,
// the passage shaded, faults marked; self-contained, no script.
std::string check_svg(const check_drawing& d);
