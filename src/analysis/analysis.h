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
// Channels that differ by at least a tenth of their energy can be told
// apart; swapped, each matches the other's by half the residual or better.
constexpr double DISTINCT_CHANNELS = 0.1;
constexpr double SWAPPED_RESIDUAL = 0.5;

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

// What the whole-file check made of one decode at one place.
enum place_kind {
  // Not looked at: the reference is quiet there, or the decode does not hold it.
  PLACE_SKIPPED,
  // The same music, in step at `lag` (its level judged when the match is good).
  PLACE_IN_STEP,
  // Only a poor match, at the lag expected: neither in nor out of step.
  PLACE_WEAK,
  // Nothing that matches near where it was expected: a cut, other music.
  PLACE_LOST,
  // The decode is silent for a tenth of a second or more where the reference is not.
  PLACE_DROPOUT,
};

struct place_finding {
  place_kind kind = PLACE_SKIPPED;
  // The reference is too quiet here for any decode to be judged.
  bool quiet = false;
  // Frames the decode stands off its delay from here on (0: in step).
  std::int64_t lag = 0;
  // The score at `lag`, and at the lag expected before this place.
  double score = 0;
  double expected_score = 0;
  // Both channels' level against the reference's, times the start's gain, in
  // dB; only where `level_judged`.
  bool level_judged = false;
  double level = 0;
  bool swapped = false;
};

// A decode's findings across the whole file, and what they add up to.
struct decode_check {
  int track = 0;
  std::vector<place_finding> places;
  // Every place in step off the start's delay by the same frames, which the
  // start also fits: the start was mismeasured, and `fitting_delay` fits.
  bool mismeasured = false;
  std::int32_t fitting_delay = 0;
  // Out of step: from place `step_first` (-1: never) to `step_last`, or back
  // in step at `step_back` (-1: not back).
  int step_first = -1;
  int step_last = -1;
  int step_back = -1;
  int counted = 0;
  int lost = 0;
  int first_lost = -1;
  int dropouts = 0;
  int first_dropout = -1;
  int swaps = 0;
  int first_swap = -1;
  // The level that most places agree on, when the start's is 0.5 dB or more off it.
  bool file_level_differs = false;
  double file_level = 0;
  // A level change that holds over two places: from `level_first` to `level_last`,
  // each against `level_base`.
  int level_first = -1;
  int level_last = -1;
  double level_base = 0;
};

struct whole_file_result {
  // Reference frames of the places, in order.
  std::vector<std::int64_t> places;
  // The decode that ends more than a second before the reference and so
  // cuts every output (0: none), and by how many frames.
  int early_track = 0;
  std::int64_t early_frames = 0;
  // One for each decode measured with a good score, in track order.
  std::vector<decode_check> decodes;
};

// Checks at places across the whole reference that every measured decode
// stays in step and at level with it. Prints nothing; on a read that comes
// up short, prints its line and returns the status.
run_status check_whole_files(track_slot* slots, int wav_num, whole_file_result& out);

// Prints the notes of a check, in track order.
void print_whole_file_notes(const whole_file_result& r, std::uint32_t rate);
