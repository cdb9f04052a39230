// The whole-file check as an organiser reads it: check.csv, one line per
// decode and place, and check.svg, the same drawn. The caller copies the
// check's findings into these plain records, so that output needs nothing
// of analysis.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the check made of one decode at one place, named as in check.csv.
enum check_kind { CHECK_SKIPPED, CHECK_IN_STEP, CHECK_WEAK, CHECK_LOST, CHECK_DROPOUT };

struct check_point {
  check_kind kind = CHECK_SKIPPED;
  // Skipped because the reference is quiet there.
  bool quiet = false;
  // Frames off the decode's delay, and the score there.
  std::int64_t lag = 0;
  double score = 0;
  // dB against the decode's first-second gain; only where judged.
  bool level_judged = false;
  double level = 0;
  bool swapped = false;
};

// One decode the check measured: the name to show, its delay, and a point
// for each place, in order.
struct check_series {
  std::string name;
  std::int32_t delay = 0;
  std::vector<check_point> points;
};

struct check_drawing {
  std::uint32_t rate = 0;
  // The reference's length, and the passage: reference frames.
  std::int64_t frames = 0;
  std::int64_t from = 0;
  std::int64_t length = 0;
  // The reference's frame of each place.
  std::vector<std::int64_t> places;
  std::vector<check_series> decodes;
};

// check.csv: a header line, then per decode and place: decode, time (s),
// lag, score, level (dB), kind, quiet. Lines end in "\n"; the bytes are the
// same on every platform.
std::string check_csv(const check_drawing& d);

// check.svg: lag and level against the reference's time, one line a decode,
// the passage shaded, faults marked; self-contained, no script.
std::string check_svg(const check_drawing& d);
