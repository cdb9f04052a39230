// The anchors of eqalign-pack's listening test: the reference's passage
// low-passed by a 10th-order Butterworth filter run forward, then backward,
// from rest, so that an anchor keeps the reference's time (lag 0).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/track.h"

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

// A frame_generator (output/pack_output.h) of the anchor that start_anchor
// ran, `run` its anchor_run: the same bits as a plain forward run over the
// whole passage followed by a backward run over its result. Fastest in order.
bool anchor_frames(void* run, std::int64_t n, int count, double* values);
