// The analysis: each file's first second through the equal-loudness filter,
// and the delay and gain of each decode against the reference.
#pragma once

#include <cstdint>

#include "core/run_values.h"
#include "core/track.h"

// First reference index compared, and one past the last.
constexpr int COMPARE_BEGIN = 2500;
constexpr int COMPARE_END = 32500;
constexpr int DELAY_COUNT = DELAY_MAX - DELAY_MIN;

// Butterworth high-pass, then Yulewalk stage; histories newest first.
struct equal_loudness_filter {
  double butter_in[2];
  double butter_out[2];
  double yule_in[10];
  double yule_out[10];
};

// Sets the whole filter history to zero.
void clear_filter(equal_loudness_filter& f);

// Filters one mono value; each output is summed term by term in coefficient order.
double filter_step(equal_loudness_filter& f, double mono);

// Fills `analysis` with the filtered mono signal of data frames
// first_frame + WARMUP_FRAMES .. first_frame + ANALYSIS_FRAMES - 1, the filter
// starting at rest at `first_frame`. On a read that comes up short, prints
// its line and returns the status.
run_status capture_analysis(track_slot& slot, std::int64_t first_frame);

// Captures every track from its first frame; when the reference's compare
// window is silent and its first sound leaves room for a whole capture in
// `common_length` frames, captures every track again from where that sound
// fills the window.
run_status capture_pass(track_slot* slots, int wav_num, std::int32_t common_length);

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

// Scores every delay of `test` (ANALYSIS_LENGTH values) against `ref` and
// keeps the first best one. Each delay's sums run in ascending index order in
// plain double arithmetic; built with -ffp-contract=off, as every target is,
// so that no multiply-add is fused, the result is the same bit for bit on
// every CPU.
search_result search_delays(const double* ref, const double* test);

// Measures `test` against the reference and stores its delay, gain and score;
// prints "No Sound At All." and keeps the defaults when there is nothing to
// match: a silent window, or a best one more than 60 dB below the reference's.
search_kind find_offset_and_gain(const track& reference, track& test);

// Measures tracks 1 .. wav_num - 1, prints their report lines, a note under an
// unmeasured track, a poor match or a delay at the end of the range, and the
// summary; takes the extremes of `values` over them (they start at the
// reference's own delay 0 and gain 1.0) and shortens its `input_wav_length` so
// that every aligned track can supply it.
void search_pass(track_slot* slots, int wav_num, run_values& values);
