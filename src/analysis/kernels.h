// The analysis's own working parts: the filter, captures of one or both
// channels, the lag scores and the vector kernels that make them. The
// tests and benchmarks run every width through here; the drivers use
// analysis.h alone.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/analysis.h"

// First reference index compared, and one past the last.
constexpr int COMPARE_BEGIN = 2500;
constexpr int COMPARE_END = 32500;
constexpr int DELAY_COUNT = DELAY_MAX - DELAY_MIN;
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

// How delays are scored together: vectors of `lanes` doubles (2, 4 or 8), in
// the CPU's own instructions for that width (x86-64 only) or in the
// compiler's generic form. The result never depends on it.
struct search_kernel {
  int lanes;
  bool native;
};

// The same search with a chosen kernel; one that this CPU lacks runs generic.
search_result search_delays_with(const double* ref, const double* test, search_kernel chosen);
void score_lags_with(const double* ref, const double* test, int first_lag, int count, lag_scores& out,
                     search_kernel chosen);

// Whether this CPU runs the kernel as asked.
bool kernel_runs_here(search_kernel k);

// The kernel `search_delays` uses here.
search_kernel fastest_kernel();

// capture_jobs with a chosen width of filter lanes.
bool capture_jobs_with(const capture_job* jobs, int count, int& failed, search_kernel kernel);

// The same with a chosen width of vector lanes, as for the search; the
// results never depend on it.
bool measure_passage_with(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                          const std::int64_t* expected, passage_result* out, int& failed, int lanes, bool native);
