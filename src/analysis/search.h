// The delay and gain search of each track against the reference.
#pragma once

#include <cstdint>

#include "driver/track.h"

// First reference index compared, and one past the last.
constexpr int COMPARE_BEGIN = 2500;
constexpr int COMPARE_END = 32500;
constexpr int DELAY_COUNT = DELAY_MAX - DELAY_MIN;

enum search_kind {
  SEARCH_FOUND,
  // A compare window (the reference's, or the track's at some delay) holds no sound.
  SEARCH_SILENT,
  // No delay gave a finite gain above 0 and a finite score.
  SEARCH_NONE,
};

struct search_result {
  search_kind kind = SEARCH_NONE;
  std::int32_t delay = 0;
  double gain = 1.0;
  double score = 0.0;
};

// Run-wide alignment derived from all tracks; the reference counts with delay 0, gain 1.0.
struct alignment {
  std::int32_t smallest_delay = 0;
  std::int32_t biggest_delay = 0;
  double biggest_gain = 1.0;
};

// Scores every delay of `test` (ANALYSIS_LENGTH values) against `ref` and keeps
// the first best one. Each delay's sums run in ascending index order in plain
// double arithmetic, so the result is the same bit for bit on every CPU.
search_result search_delays(const double* ref, const double* test);

// Measures `test` against the reference and stores its delay, gain and score;
// prints "No Sound At All." and keeps the defaults when there is nothing to match.
search_kind find_offset_and_gain(const track& reference, track& test);

// Measures tracks 1 .. wav_num - 1, prints their report lines, a note under a
// poor match or a delay at the end of the range, and the summary; shortens
// `input_wav_length` so that every aligned track can supply it.
alignment search_pass(track_slot* slots, int wav_num, std::int32_t& input_wav_length);

// How delays are scored together: vectors of `lanes` doubles (2, 4 or 8), in
// the CPU's own instructions for that width (x86-64 only) or in the
// compiler's generic form. The result never depends on it.
struct search_kernel {
  int lanes;
  bool native;
};

// The same search with a chosen kernel; one that this CPU lacks runs generic.
search_result search_delays_with(const double* ref, const double* test, search_kernel chosen);

// Whether this CPU runs the kernel as asked.
bool kernel_runs_here(search_kernel k);

// The kernel `search_delays` uses here.
search_kernel fastest_kernel();
