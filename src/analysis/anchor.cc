#include "analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/exact_trig.h"
#include "core/samples.h"
#include "wav/wav.h"

namespace {

// Runs both channels of `count` frames through the sections in place, frame
// `first` first, then `first + direction` and so on. The states are kept in
// locals, which the frames cannot alias, so that they stay in registers.
void filter_frames(const biquad* q, anchor_state& state, double* v, int count, int first, int direction) {
  biquad c[ANCHOR_SECTIONS];
  std::copy_n(q, ANCHOR_SECTIONS, c);
  anchor_state s = state;
  const std::ptrdiff_t stride = 2 * static_cast<std::ptrdiff_t>(direction);
  for (std::ptrdiff_t i = 0, at = 2 * static_cast<std::ptrdiff_t>(first); i < count; ++i, at += stride) {
    double left = v[at];
    double right = v[at + 1];
    for (int k = 0; k < ANCHOR_SECTIONS; ++k) {
      const double yl = c[k].b0 * left + s.s1[0][k];
      const double yr = c[k].b0 * right + s.s1[1][k];
      s.s1[0][k] = (c[k].b1 * left - c[k].a1 * yl) + s.s2[0][k];
      s.s1[1][k] = (c[k].b1 * right - c[k].a1 * yr) + s.s2[1][k];
      s.s2[0][k] = c[k].b2 * left - c[k].a2 * yl;
      s.s2[1][k] = c[k].b2 * right - c[k].a2 * yr;
      left = yl;
      right = yr;
    }
    v[at] = left;
    v[at + 1] = right;
  }
  state = s;
}

void run_forward(const biquad* q, anchor_state& s, double* v, int count) { filter_frames(q, s, v, count, 0, 1); }

void run_backward(const biquad* q, anchor_state& s, double* v, int count) {
  filter_frames(q, s, v, count, count - 1, -1);
}

std::int64_t block_count(const anchor_run& run) { return (run.length + ANCHOR_BLOCK - 1) / ANCHOR_BLOCK; }

int frames_of(const anchor_run& run, std::int64_t block) {
  return static_cast<int>(std::min<std::int64_t>(ANCHOR_BLOCK, run.length - block * ANCHOR_BLOCK));
}

// The reference's values of a block, read again; false on a short read,
// which leaves the values as they were.
bool load_block(anchor_run& run, std::int64_t block) {
  const int count = frames_of(run, block);
  if (!fetch_frames(*run.ref, run.from + block * ANCHOR_BLOCK, count, run.bytes.data())) return false;
  for (int i = 0; i < 2 * count; ++i)
    run.values[i] = sample_value(run.bytes.data() + 4 * static_cast<std::ptrdiff_t>(i), run.ref->t.is_float);
  return true;
}

// The anchor's values of a block, from the states kept at its bounds;
// `backward` ends as the backward run's state after the block's first frame.
bool make_block(anchor_run& run, std::int64_t block, anchor_state& backward) {
  if (!load_block(run, block)) return false;
  anchor_state forward = run.forward[block];
  backward = run.backward[block];
  run_forward(run.sections, forward, run.values.data(), frames_of(run, block));
  run_backward(run.sections, backward, run.values.data(), frames_of(run, block));
  run.made = block;
  return true;
}

}  // namespace

bool anchors_fit(std::uint32_t rate) {
  return std::all_of(std::begin(ANCHOR_CUTOFFS), std::end(ANCHOR_CUTOFFS),
                     [rate](double cutoff) { return 2 * cutoff < rate; });
}

std::string anchor_refusal(std::uint32_t rate) {
  const double highest = *std::max_element(std::begin(ANCHOR_CUTOFFS), std::end(ANCHOR_CUTOFFS));
  char line[160];
  std::snprintf(line, sizeof line,
                "--anchors needs a rate above %.0f Hz for its %.0f Hz anchor; the files are at %u Hz.", 2 * highest,
                highest, static_cast<unsigned>(rate));
  return line;
}

void anchor_sections(double cutoff, std::uint32_t rate, biquad* sections) {
  const double k = tan_pi(cutoff / rate);
  const double k2 = k * k;
  for (int i = 0; i < ANCHOR_SECTIONS; ++i) {
    const double d = 2 * cos_pi((2 * i + 1) / 20.0);
    const double a0 = (1 + d * k) + k2;
    const double b0 = k2 / a0;
    sections[i] = {b0, 2 * k2 / a0, b0, 2 * (k2 - 1) / a0, ((1 - d * k) + k2) / a0};
  }
}

bool start_anchor(anchor_run& run, track_slot& ref, std::int64_t from, std::int64_t length, double cutoff,
                  double& peak) {
  run.ref = &ref;
  run.from = from;
  run.length = length;
  run.made = -1;
  anchor_sections(cutoff, ref.t.sample_rate, run.sections);
  const std::int64_t blocks = block_count(run);
  run.forward.assign(static_cast<std::size_t>(blocks), anchor_state{});
  run.backward.assign(static_cast<std::size_t>(blocks), anchor_state{});
  run.bytes.resize(static_cast<std::size_t>(ANCHOR_BLOCK) * FRAME_BYTES);
  run.values.resize(2 * static_cast<std::size_t>(ANCHOR_BLOCK));
  anchor_state s{};
  for (std::int64_t b = 0; b < blocks; ++b) {
    run.forward[b] = s;
    if (!load_block(run, b)) return false;
    run_forward(run.sections, s, run.values.data(), frames_of(run, b));
  }
  // The backward run from rest at the last frame, its blocks from the last;
  // it leaves block 0 made.
  s = anchor_state{};
  peak = 0;
  for (std::int64_t b = blocks - 1; b >= 0; --b) {
    run.backward[b] = s;
    if (!make_block(run, b, s)) return false;
    for (int i = 0; i < 2 * frames_of(run, b); ++i) peak = std::max(peak, std::fabs(run.values[i]));
  }
  return true;
}

bool anchor_frames(void* run, std::int64_t n, int count, double* values) {
  anchor_run& r = *static_cast<anchor_run*>(run);
  while (count > 0) {
    const std::int64_t block = n / ANCHOR_BLOCK;
    anchor_state unused;
    if (block != r.made && !make_block(r, block, unused)) return false;
    const std::int64_t at = n - block * ANCHOR_BLOCK;
    const int take = static_cast<int>(std::min<std::int64_t>(count, frames_of(r, block) - at));
    std::copy_n(r.values.data() + 2 * at, 2 * take, values);
    values += 2 * static_cast<std::ptrdiff_t>(take);
    n += take;
    count -= take;
  }
  return true;
}
