// The analysis: each file's first second through the equal-loudness filter,
// the delay and gain of each decode against the reference, and the check
// that they hold across the whole file.
#pragma once

#include <cstdint>
#include <vector>

#include "core/run_values.h"
#include "core/track.h"

// First reference index compared, and one past the last.
constexpr int COMPARE_BEGIN = 2500;
constexpr int COMPARE_END = 32500;
constexpr int DELAY_COUNT = DELAY_MAX - DELAY_MIN;
// Decodes at usual bitrates score well below 0.45; another piece of music
// or an inverted copy scores about 0.9 to 1.4.
constexpr double POOR_MATCH_SCORE = 0.7;
// Lags this close to one are its neighbours, not another match.
constexpr int NEAR_FRAMES = 3;

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

// Filters run side by side, one a lane, each from rest.
constexpr int FILTER_LANES = 16;

// Runs `steps` steps of FILTER_LANES filters: in[s * FILTER_LANES + l] is the
// mono value of lane l at step s, and out the same place receives what
// filter_step would give for it. `lanes` (2, 4 or 8) and `native` choose the
// vectors, as for the search; the values never depend on them.
void filter_lanes(equal_loudness_filter* lanes_state, const double* in, int steps, double* out, int lanes,
                  bool native);

// Fills `analysis` with the filtered mono signal of data frames
// first_frame + WARMUP_FRAMES .. first_frame + ANALYSIS_FRAMES - 1, the filter
// starting at rest at `first_frame`. On a read that comes up short, prints
// its line and returns the status.
run_status capture_analysis(track_slot& slot, std::int64_t first_frame);

// What a capture takes of each frame: the sum of both channels, or one.
enum channel_pick { PICK_SUM, PICK_LEFT, PICK_RIGHT };

// One capture as capture_analysis makes it, into `out` (ANALYSIS_LENGTH
// values), of one or both channels, negated (exactly -x) when asked.
struct capture_job {
  track_slot* slot = nullptr;
  std::int64_t first_frame = 0;
  channel_pick pick = PICK_SUM;
  bool negate = false;
  double* out = nullptr;
};

// Makes every capture, FILTER_LANES at a time. Prints nothing: on a read that
// comes up short, returns false with `failed` the first such job.
bool capture_jobs(const capture_job* jobs, int count, int& failed);

// Captures every track from its first frame; when the reference's compare
// window is silent and its first sound leaves room for a whole capture in
// `common_length` frames, captures every track again from where that sound
// fills the window, and records that frame as each track's `capture_frame`.
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

// Working arrays of a search, kept with its scores so that a caller that
// scores again reuses them. Separate arrays, so that an address sanitizer
// build notices a kernel that strays past one.
struct lag_work {
  std::vector<double> test_copy;
  std::vector<double> test_squares;
  std::vector<double> window_sums;
  std::vector<double> lag_gains;
  std::vector<double> residual_sums;
};

// The gain and score of each lag of a search, lag first_lag + i at index i.
struct lag_scores {
  int first_lag = 0;
  double ref_norm = 0;
  // Some lag's window holds no sound.
  bool silent_window = false;
  std::vector<double> gain;
  std::vector<double> score;
  lag_work work;
};

// Scores lags first_lag .. first_lag + count - 1 of `test` against the
// reference's compare window: reference index k against test index k + lag,
// k from COMPARE_BEGIN up to COMPARE_END, all inside ANALYSIS_LENGTH. Each
// lag's sums run in ascending index order in plain double arithmetic; built
// with -ffp-contract=off, as every target is, so that no multiply-add is
// fused, the result is the same bit for bit on every CPU. Threads may score
// at once, each into its own `out`.
void score_lags(const double* ref, const double* test, int first_lag, int count, lag_scores& out);

// Whether lag index i gave a finite gain above 0 and a finite score.
bool qualifies(const lag_scores& s, int i);

// The index of the first lag of lowest score that qualifies and, when
// `apart` is 0 or more, lies more than `apart` frames from index
// `away_from`; -1 when none does.
int best_lag(const lag_scores& s, int away_from = 0, int apart = -1);

// The search's outcome with lag index `i` (-1: none qualified) kept.
search_result result_at(const lag_scores& s, int i);

// Scores every delay of `test` (ANALYSIS_LENGTH values) against `ref` and
// keeps the first best one.
search_result search_delays(const double* ref, const double* test);

// Measures tracks 1 .. wav_num - 1, prints their report lines, a note under
// an unmeasured track, inverted polarity, a poor match, a delay at the end of
// the range, repeating music or an odd pair of channels, and the summary;
// takes the extremes of `values` over them (they start at the reference's
// own delay 0 and gain 1.0) and shortens its `input_wav_length` so that every
// aligned track can supply it. On a read that comes up short, prints its
// line and returns the status.
run_status search_pass(track_slot* slots, int wav_num, run_values& values);

// Checks at places across the written length that every measured decode
// stays in step and at level with the reference, and prints a note for each
// that does not. On a read that comes up short, prints its line and returns
// the status.
run_status check_whole_files(track_slot* slots, int wav_num, const run_values& values);
