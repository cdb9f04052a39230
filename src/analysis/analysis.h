// What the drivers call of the analysis: each file's first second through
// the equal-loudness filter, the delay and gain of each decode against the
// reference, the check that they hold across the whole file, and the
// measurement of a passage. Every finding is handed back as values, which
// each driver prints its own way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/run_values.h"
#include "core/track.h"

// Decodes at usual bitrates score well below 0.45; another piece of music
// or an inverted copy scores about 0.9 to 1.4.
constexpr double POOR_MATCH_SCORE = 0.7;

// Captures every track from its first frame; when the reference's compare
// window is silent and its first sound leaves room for a whole capture in
// `common_length` frames, captures every track again from where that sound
// fills the window, and records that frame as each track's `capture_frame`.
// Prints nothing but the line of a read that comes up short.
run_status capture_pass(track_slot* slots, int wav_num, std::int32_t common_length);

// Measures tracks 1 .. wav_num - 1 into their `track`s: delay, gain, score,
// and what the drivers note (silent, inverted, repeating music, the pair of
// channels); takes the extremes of `values` over them (they start at the
// reference's own delay 0 and gain 1.0) and shortens its `input_wav_length`
// so that every aligned track can supply it. Prints nothing but the line of
// a read that comes up short, whose status it returns.
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

// Lags tried on each side of the one a decode is expected at, as the
// whole-file check tries them around a place.
constexpr int PASSAGE_LAGS = 64;
// Every lag more than NEAR_FRAMES from the best must score this much worse:
// otherwise the passage holds a fault, or music that repeats.
constexpr double PASSAGE_MARGIN = 0.1;

// A place where the whole-file check matched a decode: the reference's
// frame, and the lag found there beyond the decode's delay.
struct checked_place {
  std::int64_t reference_frame = 0;
  std::int64_t lag = 0;
};

// The lag a decode is expected at from reference frame `from` on: its delay,
// plus the lag of the last place at or before `from` (none: 0).
std::int64_t expected_lag(std::int32_t delay, const std::vector<checked_place>& places, std::int64_t from);

enum passage_kind {
  PASSAGE_FOUND,
  // The reference, or the decode at every lag, is silent over the passage.
  PASSAGE_SILENT,
  // The best lag scores above POOR_MATCH_SCORE.
  PASSAGE_POOR,
  // A lag more than NEAR_FRAMES from the best scores within PASSAGE_MARGIN of it.
  PASSAGE_AMBIGUOUS,
};

struct passage_result {
  passage_kind kind = PASSAGE_SILENT;
  // The decode's frame that plays with the reference's frame f is f + lag.
  std::int64_t lag = 0;
  double gain = 1.0;
  double score = 0.0;
  // PASSAGE_AMBIGUOUS: the lag that scored nearly as well, and its score.
  std::int64_t rival_lag = 0;
  double rival_score = 0.0;
  // The largest magnitude of a sample of the passage at `lag`, on either
  // channel, in units of full scale; a sample that is not finite counts as 0.
  double peak = 0.0;
};

// Measures decodes 1 .. wav_num - 1 over the reference's frames
// [from, from + length), decode i at the lags expected[i] - PASSAGE_LAGS to
// expected[i] + PASSAGE_LAGS, and the reference's own peak into out[0].
// Each channel runs through the filter from rest WARMUP_FRAMES before the
// frames compared, or from the file's first frame; frames outside a file
// count as silence. A lag's gain is sqrt(ref energy / decode energy) and its
// score sqrt(residual / ref energy), each energy and residual that of both
// channels added. A channel's residual, the sum of (gain x decode - ref)^2,
// is taken as ref energy - 2 gain cross + gain^2 decode energy from sums
// made in one sweep: the energies, and the cross sum of decode x ref. Every
// sum runs in ascending frame order in plain double arithmetic (a decode's
// energy at a lag adds the frames at either end, which only some lags
// compare, to the sum of those all compare), so the results are the same
// bits on every CPU. Reads each file once; prints nothing. On a read that
// comes up short, returns false with `failed` the file's index.
bool measure_passage(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                     const std::int64_t* expected, passage_result* out, int& failed);

// The anchors of a listening test: the reference's passage low-passed by a
// 10th-order Butterworth filter run forward, then backward, from rest, so
// that an anchor keeps the reference's time (lag 0).
// The anchors' cut-offs in Hz, the one every test must have first.
constexpr double ANCHOR_CUTOFFS[] = {3500.0, 7000.0};
constexpr int ANCHOR_COUNT = 2;
// Second-order sections of the filter: half its order.
constexpr int ANCHOR_SECTIONS = 5;
// Frames of a block of the run, at whose bounds the filter states are kept.
constexpr int ANCHOR_BLOCK = 65536;

// One section, run in transposed direct form II, each line summed as written:
// y = b0 x + s1, s1 = (b1 x - a1 y) + s2, s2 = b2 x - a2 y.
struct biquad {
  double b0, b1, b2, a1, a2;
};

// What both channels' sections carry from one frame to the next; all 0 at rest.
struct anchor_state {
  double s1[2][ANCHOR_SECTIONS];
  double s2[2][ANCHOR_SECTIONS];
};

// Whether every anchor's cut-off lies below half of `rate`.
bool anchors_fit(std::uint32_t rate);

// The line that refuses --anchors (status 12) at a rate where they do not
// fit, such as 8000 Hz: an anchor left out would change the test.
std::string anchor_refusal(std::uint32_t rate);

// The sections of the low-pass at `cutoff` Hz for `rate` (cutoff below half
// the rate), by the bilinear transform of the analog Butterworth pairs
// 1 / (s^2 + d s + 1), d = 2 cos(pi (2k + 1) / 20) for k = 0 .. 4 in that
// order, the cut-off pre-warped: with K = tan(pi cutoff / rate) and
// a0 = (1 + d K) + K^2, b0 = b2 = K^2 / a0, b1 = 2 K^2 / a0,
// a1 = 2 (K^2 - 1) / a0, a2 = ((1 - d K) + K^2) / a0. Tangent and cosines
// come from core/exact_trig.h, so that every platform gets the same bits.
void anchor_sections(double cutoff, std::uint32_t rate, biquad* sections);

// The filter run over a passage, for one cut-off. Memory grows by two
// states a block only: the forward run's state at each block's first frame,
// and the backward run's at each block's last, from which any block's
// values are made again.
struct anchor_run {
  track_slot* ref = nullptr;
  std::int64_t from = 0;
  std::int64_t length = 0;
  biquad sections[ANCHOR_SECTIONS] = {};
  std::vector<anchor_state> forward;
  std::vector<anchor_state> backward;
  std::vector<unsigned char> bytes;
  // The anchor's values of block `made` (none: -1), interleaved.
  std::vector<double> values;
  std::int64_t made = -1;
};

// Runs the filter over the reference's frames [from, from + length), each
// channel forward from rest at the first frame, then backward from rest at
// the last, keeping the states at the blocks' bounds; `peak` is the largest
// magnitude of the anchor's values on either channel. A sample that is not
// finite counts as 0. On a read that comes up short, returns false.
bool start_anchor(anchor_run& run, track_slot& ref, std::int64_t from, std::int64_t length, double cutoff,
                  double& peak);

// A frame_generator (output/output.h) of the anchor that start_anchor
// ran, `run` its anchor_run: the same bits as a plain forward run over the
// whole passage followed by a backward run over its result. Fastest in order.
bool anchor_frames(void* run, std::int64_t n, int count, double* values);
