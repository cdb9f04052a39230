#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

#include "analysis/kernels.h"
#include "analysis/vector_lanes.h"
#include "core/parallel.h"
#include "core/samples.h"
#include "wav/wav.h"

namespace {

constexpr int LAG_COUNT = 2 * PASSAGE_LAGS + 1;
// Lag slots a kernel scores: the lags padded to whole groups of vectors.
// Padded slots read frames past the last and are dropped.
constexpr int MOST_SLOTS = 144;
// A decode's filter runs this many frames ahead of the reference's, so that
// its latest lag has its frames.
constexpr int AHEAD = 2 * PASSAGE_LAGS;
// Padding after a decode's frames, for the padded slots.
constexpr int PAD = MOST_SLOTS - LAG_COUNT + 1;
// Filter steps before the reference's first frame compared: its warm-up, and
// the decode's lead.
constexpr int LEAD_STEPS = WARMUP_FRAMES + AHEAD;
// Frames read, filtered and scored per step of the sweep; filter steps per
// slice of it, and frames per pass of a kernel, so that what they work on
// stays in the core's own cache.
constexpr int BLOCK_FRAMES = 32768;
constexpr int SLICE_STEPS = 2048;
constexpr int TILE_FRAMES = 4096;
// As in the search: a decode more than 60 dB below the reference is a
// decoder's silence of tiny values, whose gain would set the scale.
constexpr double SILENT_GAIN = 1000;

// Each lane is one lag with its own sums, one a channel, of the decode's
// products with the reference, taken one frame at a time in ascending order
// as a scalar loop would; V vectors in flight hide the additions' latency.
template <int W, int V>
[[gnu::always_inline]] inline void sum_cross(const double* left, const double* right, const double* ref_left,
                                             const double* ref_right, int frames, int first_slot, int end_slot,
                                             double* cross_left, double* cross_right) {
  using vec = typename lanes_of<W>::type;
  for (int t0 = 0; t0 < frames; t0 += TILE_FRAMES) {
    const int t1 = std::min(frames, t0 + TILE_FRAMES);
    for (int g = first_slot; g < end_slot; g += W * V) {
      vec cl[V];
      vec cr[V];
      for (int v = 0; v < V; ++v) {
        const std::ptrdiff_t slot = g + static_cast<std::ptrdiff_t>(v) * W;
        cl[v] = *unaligned_at<W>(cross_left + slot);
        cr[v] = *unaligned_at<W>(cross_right + slot);
      }
      for (int k = t0; k < t1; ++k) {
        const double a = ref_left[k];
        const double b = ref_right[k];
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(k) + g;
#pragma GCC unroll 9
        for (int v = 0; v < V; ++v) {
          const std::ptrdiff_t lane = at + static_cast<std::ptrdiff_t>(v) * W;
          cl[v] += *unaligned_at<W>(left + lane) * a;
          cr[v] += *unaligned_at<W>(right + lane) * b;
        }
      }
      for (int v = 0; v < V; ++v) {
        const std::ptrdiff_t slot = g + static_cast<std::ptrdiff_t>(v) * W;
        *unaligned_at<W>(cross_left + slot) = cl[v];
        *unaligned_at<W>(cross_right + slot) = cr[v];
      }
    }
  }
}

using cross_sums = void (*)(const double*, const double*, const double*, const double*, int, int, int, double*,
                            double*);

template <int W, int V>
void cross_generic(const double* l, const double* r, const double* rl, const double* rr, int n, int first, int end,
                   double* cl, double* cr) {
  sum_cross<W, V>(l, r, rl, rr, n, first, end, cl, cr);
}

#if defined(__x86_64__)
[[gnu::target("avx")]] void cross_256(const double* l, const double* r, const double* rl, const double* rr, int n,
                                      int first, int end, double* cl, double* cr) {
  sum_cross<4, 4>(l, r, rl, rr, n, first, end, cl, cr);
}
[[gnu::target("avx512f")]] void cross_512(const double* l, const double* r, const double* rl, const double* rr, int n,
                                          int first, int end, double* cl, double* cr) {
  sum_cross<8, 9>(l, r, rl, rr, n, first, end, cl, cr);
}
#endif

// A kernel, the lag slots it scores (whole groups of `group`), and the slot
// that splits them into two halves of whole groups, each scored apart.
struct cross_kernel {
  cross_sums run;
  int slots;
  int half;
};

// Two accumulators a vector: 16 vector registers hold 8 at 2 and 4 lanes,
// 32 hold 18 at 8. Indexed by log2(lanes) - 1.
constexpr cross_kernel GENERIC[] = {
    {cross_generic<2, 4>, 136, 64}, {cross_generic<4, 4>, 144, 64}, {cross_generic<8, 9>, 144, 72}};
#if defined(__x86_64__)
// SSE2, which every x86-64 CPU has, is the generic form of 2 lanes.
constexpr cross_kernel NATIVE[] = {GENERIC[0], {cross_256, 144, 64}, {cross_512, 144, 72}};
#endif
static_assert(GENERIC[0].slots % 8 == 0 && GENERIC[0].half % 8 == 0 && GENERIC[1].slots % 16 == 0 &&
              GENERIC[1].half % 16 == 0 && GENERIC[2].slots % 72 == 0 && GENERIC[2].half % 72 == 0);
static_assert(GENERIC[0].slots >= LAG_COUNT && GENERIC[1].slots <= MOST_SLOTS && GENERIC[2].slots <= MOST_SLOTS);

// What a decode keeps frame by frame of the AHEAD frames at one end, which
// only some lags compare: each channel's energy, and the frame's peak.
struct edge {
  std::vector<double> left = std::vector<double>(AHEAD);
  std::vector<double> right = std::vector<double>(AHEAD);
  std::vector<double> peak = std::vector<double>(AHEAD);
};

// One file's side of the sweep: its filter lanes, the frames read and
// filtered of the current block, and what is summed of them.
struct stream {
  track_slot* slot = nullptr;
  bool decode = false;
  // The file's frame at filter step 0. Frames before `warm_start`, or
  // outside the file, are fed as silence: a filter fed silence stays at rest.
  std::int64_t base = 0;
  std::int64_t warm_start = 0;
  // Filter steps before its frame j = 0: the reference's first frame
  // compared, a decode's at the earliest lag.
  int lead = 0;
  int batch = 0;
  int lane = 0;
  // The block's frames as read: block steps got_begin .. got_end - 1 hold
  // the file's frames, the others silence.
  std::vector<unsigned char> bytes;
  std::int64_t got_begin = 0;
  std::int64_t got_end = 0;
  // Filtered frames, index 0 at the block's first frame compared; a
  // decode's run AHEAD (and the padding) further.
  std::vector<double> left;
  std::vector<double> right;
  // Per lag slot, per channel: the sum of the decode's products with the reference.
  std::vector<double> cross_left;
  std::vector<double> cross_right;
  // Each channel's energy and the peak of the frames every lag compares (the
  // reference: all its frames), summed in ascending order; a decode's ends
  // frame by frame.
  double energy_left = 0;
  double energy_right = 0;
  double peak = 0;
  edge head;
  edge tail;
};

// The filters of up to FILTER_LANES lanes, and their inputs and outputs.
struct batch {
  equal_loudness_filter state[FILTER_LANES];
  std::vector<double> in;
  std::vector<double> out;
};

// A range of steps of a slice, as its indexes.
struct step_range {
  std::int64_t begin;
  std::int64_t end;
};

// Steps of the slice [p, p + n) within [from, to), as slice indexes.
step_range within(std::int64_t p, std::int64_t n, std::int64_t from, std::int64_t to) {
  return {std::clamp<std::int64_t>(from - p, 0, n), std::clamp<std::int64_t>(to - p, 0, n)};
}

// The steps at which every stream's frame is one that every lag compares:
// the reference's first length - AHEAD frames, a decode's j = AHEAD ..
// length - 1.
step_range common_of(std::int64_t p, std::int64_t n, std::int64_t length) {
  return within(p, n, LEAD_STEPS, LEAD_STEPS + length - AHEAD);
}

// Reads the frames that filter steps p0 .. p0 + count - 1 are to be fed;
// false on a short read.
bool read_block(stream& s, std::int64_t p0, int count) {
  const std::int64_t first = s.base + p0;
  const std::int64_t begin = std::clamp(std::max<std::int64_t>(s.warm_start, 0), first, first + count);
  const std::int64_t end = std::clamp(s.slot->t.frames, begin, first + count);
  s.got_begin = begin - first;
  s.got_end = end - first;
  return begin == end || fetch_frames(*s.slot, begin, static_cast<int>(end - begin), s.bytes.data());
}

// Puts the frames of block steps t0 + from .. t0 + to - 1 into the stream's
// lanes of `in` (row t - t0 each), on the float scale; PEAK: their peak too.
template <bool FLOAT, bool PEAK>
void put_frames(stream& s, std::int64_t t0, std::int64_t from, std::int64_t to, double* in) {
  const unsigned char* frame = s.bytes.data() + (t0 + from - s.got_begin) * FRAME_BYTES;
  double* row = in + from * FILTER_LANES + s.lane;
  double peak = s.peak;
  for (std::int64_t t = from; t < to; ++t, frame += FRAME_BYTES, row += FILTER_LANES) {
    const double l = sample_value(frame, FLOAT ? 1 : 0);
    const double r = sample_value(frame + 4, FLOAT ? 1 : 0);
    row[0] = l;
    row[1] = r;
    if constexpr (PEAK) peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
  }
  s.peak = peak;
}

// Feeds the stream's lanes the slice of block steps t0 .. t0 + n - 1 (filter
// steps p ..), silence where nothing was read; the peak of the frames every
// lag compares.
void feed(stream& s, std::int64_t t0, std::int64_t p, int n, std::int64_t length, double* in) {
  const step_range got = {std::clamp<std::int64_t>(s.got_begin - t0, 0, n), std::clamp<std::int64_t>(s.got_end - t0, 0, n)};
  for (std::int64_t t = 0; t < n; ++t) {
    if (t == got.begin) t = got.end;
    if (t < n) in[t * FILTER_LANES + s.lane] = in[t * FILTER_LANES + s.lane + 1] = 0.0;
  }
  const step_range c = common_of(p, n, length);
  const std::int64_t cb = std::clamp(c.begin, got.begin, got.end);
  const std::int64_t ce = std::clamp(c.end, cb, got.end);
  const auto put = s.slot->t.is_float != 0 ? put_frames<true, false> : put_frames<false, false>;
  const auto put_peak = s.slot->t.is_float != 0 ? put_frames<true, true> : put_frames<false, true>;
  put(s, t0, got.begin, cb, in);
  put_peak(s, t0, cb, ce, in);
  put(s, t0, ce, got.end, in);
}

// A stream's own share of a slice's frames: the reference's last AHEAD, and
// a decode's AHEAD at either end; `filtered` picks the filter's output
// (energies) or its input (peaks).
void note_own(stream& s, const batch& b, std::int64_t p, int n, std::int64_t length, bool filtered) {
  const double* rows = (filtered ? b.out.data() : b.in.data()) + s.lane;
  const std::int64_t common_end = LEAD_STEPS + std::max<std::int64_t>(length - AHEAD, 0);
  if (!s.decode) {
    const step_range own = within(p, n, common_end, LEAD_STEPS + length);
    for (std::int64_t t = own.begin; t < own.end; ++t) {
      const double l = rows[static_cast<std::size_t>(t) * FILTER_LANES];
      const double r = rows[static_cast<std::size_t>(t) * FILTER_LANES + 1];
      if (filtered) {
        s.energy_left += l * l;
        s.energy_right += r * r;
      } else {
        s.peak = std::max(s.peak, std::max(std::fabs(l), std::fabs(r)));
      }
    }
    return;
  }
  const std::int64_t j0 = p - s.lead;
  const step_range head = within(j0, n, 0, AHEAD);
  const step_range tail = within(j0, n, std::max<std::int64_t>(length, AHEAD), length + AHEAD);
  for (const auto& [range, e, offset] : {std::tuple{head, &s.head, std::int64_t{0}}, std::tuple{tail, &s.tail, length}}) {
    for (std::int64_t t = range.begin; t < range.end; ++t) {
      const double l = rows[static_cast<std::size_t>(t) * FILTER_LANES];
      const double r = rows[static_cast<std::size_t>(t) * FILTER_LANES + 1];
      const auto j = static_cast<std::size_t>(j0 + t - offset);
      if (filtered) {
        e->left[j] = l * l;
        e->right[j] = r * r;
      } else {
        e->peak[j] = std::max(std::fabs(l), std::fabs(r));
      }
    }
  }
}

// Takes each stream's filtered frames of a slice (rows `from` .. `to` - 1 of
// `out`) into its block's arrays at index x0 + row; ENERGY: adds their
// energies to its sums, one frame at a time in ascending order.
template <bool ENERGY>
void take_rows(stream* const* mine, const std::int64_t* x0, int held, const double* out, std::int64_t from,
               std::int64_t to) {
  for (int k = 0; k < held; ++k) {
    stream& s = *mine[k];
    double energy_left = s.energy_left;
    double energy_right = s.energy_right;
    const double* row = out + from * FILTER_LANES + s.lane;
    for (std::int64_t t = std::max(from, -x0[k]); t < to; ++t) {
      const double l = row[(t - from) * FILTER_LANES];
      const double r = row[(t - from) * FILTER_LANES + 1];
      const auto x = static_cast<std::size_t>(x0[k] + t);
      s.left[x] = l;
      s.right[x] = r;
      if constexpr (ENERGY) {
        energy_left += l * l;
        energy_right += r * r;
      }
    }
    s.energy_left = energy_left;
    s.energy_right = energy_right;
  }
}

// Reads, filters and keeps filter steps p0 .. p0 + count - 1 of every stream
// of batch `index`, a slice at a time; `first` is the block's first frame
// compared. Returns the index of a file that comes up short, or -1.
int run_batch(std::vector<stream>& streams, batch& b, int index, std::int64_t p0, int count, std::int64_t first,
              std::int64_t length, search_kernel kernel) {
  stream* mine[FILTER_LANES / 2];
  int held = 0;
  for (stream& s : streams) {
    if (s.batch != index) continue;
    if (!read_block(s, p0, count)) return static_cast<int>(&s - streams.data());
    mine[held++] = &s;
  }
  for (int done = 0; done < count; done += SLICE_STEPS) {
    const int n = std::min(SLICE_STEPS, count - done);
    const std::int64_t p = p0 + done;
    for (int k = 0; k < held; ++k) {
      feed(*mine[k], done, p, n, length, b.in.data());
      note_own(*mine[k], b, p, n, length, false);
    }
    filter_lanes(b.state, b.in.data(), n, b.out.data(), kernel.lanes, kernel.native);
    // The output of step p is index p - lead - first of a stream's block
    // arrays: a decode's frame j (its filter's step lead + j) lies AHEAD
    // further than the reference's.
    std::int64_t x0[FILTER_LANES / 2];
    for (int k = 0; k < held; ++k) x0[k] = p - mine[k]->lead - first;
    const step_range c = common_of(p, n, length);
    take_rows<false>(mine, x0, held, b.out.data(), 0, c.begin);
    take_rows<true>(mine, x0, held, b.out.data(), c.begin, c.end);
    take_rows<false>(mine, x0, held, b.out.data(), c.end, n);
    for (int k = 0; k < held; ++k) note_own(*mine[k], b, p, n, length, true);
  }
  return -1;
}

// Each channel's energy and the peak of a decode's frames j = d .. d +
// length - 1: the frames before those every lag compares, those, and the
// frames after, in ascending order.
void window_of(const stream& s, std::int64_t d, std::int64_t length, double& left, double& right, double& peak) {
  double head_left = 0;
  double head_right = 0;
  double tail_left = 0;
  double tail_right = 0;
  peak = length > AHEAD ? s.peak : 0.0;
  for (std::int64_t j = d; j < std::min<std::int64_t>(AHEAD, d + length); ++j) {
    const auto i = static_cast<std::size_t>(j);
    head_left += s.head.left[i];
    head_right += s.head.right[i];
    peak = std::max(peak, s.head.peak[i]);
  }
  for (std::int64_t j = std::max<std::int64_t>(length, AHEAD); j < d + length; ++j) {
    const auto i = static_cast<std::size_t>(j - length);
    tail_left += s.tail.left[i];
    tail_right += s.tail.right[i];
    peak = std::max(peak, s.tail.peak[i]);
  }
  left = head_left + s.energy_left + tail_left;
  right = head_right + s.energy_right + tail_right;
}

// The gain and score of lag slot i, as the search gives them: the residual
// of each channel, sum (gain x decode - ref)^2, taken as ref energy - 2 gain
// cross + gain^2 decode energy.
void score_of(const stream& s, const stream& ref, int i, std::int64_t length, double& gain, double& score) {
  double left = 0;
  double right = 0;
  double peak = 0;
  window_of(s, i, length, left, right, peak);
  const double ref_energy = ref.energy_left + ref.energy_right;
  const double ref_norm = std::sqrt(ref_energy);
  const double window_norm = std::sqrt(left + right);
  gain = window_norm == 0 ? std::numeric_limits<double>::infinity() : ref_norm / window_norm;
  const auto slot = static_cast<std::size_t>(i);
  const double residual_left = ref.energy_left - 2 * gain * s.cross_left[slot] + gain * gain * left;
  const double residual_right = ref.energy_right - 2 * gain * s.cross_right[slot] + gain * gain * right;
  // Rounding may take a perfect match's residual a hair below zero.
  score = std::sqrt(std::max(residual_left + residual_right, 0.0)) / ref_norm;
}

bool qualifies(double gain, double score) { return std::isfinite(gain) && gain > 0 && std::isfinite(score); }

passage_result judge(const stream& s, const stream& ref, std::int64_t first_lag, std::int64_t length) {
  double gain[LAG_COUNT];
  double score[LAG_COUNT];
  int best = -1;
  for (int i = 0; i < LAG_COUNT; ++i) {
    score_of(s, ref, i, length, gain[i], score[i]);
    if (qualifies(gain[i], score[i]) && (best < 0 || score[i] < score[best])) best = i;
  }
  passage_result r;
  if (best < 0 || gain[best] > SILENT_GAIN) return r;
  r.lag = first_lag + best;
  r.gain = gain[best];
  r.score = score[best];
  double left = 0;
  double right = 0;
  window_of(s, best, length, left, right, r.peak);
  r.kind = r.score <= POOR_MATCH_SCORE ? PASSAGE_FOUND : PASSAGE_POOR;
  int rival = -1;
  for (int i = 0; i < LAG_COUNT; ++i) {
    if (std::abs(i - best) <= NEAR_FRAMES || !qualifies(gain[i], score[i])) continue;
    if (rival < 0 || score[i] < score[rival]) rival = i;
  }
  if (r.kind == PASSAGE_FOUND && rival >= 0 && !(score[rival] >= r.score + PASSAGE_MARGIN)) {
    r.kind = PASSAGE_AMBIGUOUS;
    r.rival_lag = first_lag + rival;
    r.rival_score = score[rival];
  }
  return r;
}

}  // namespace

std::int64_t expected_lag(std::int32_t delay, const std::vector<checked_place>& places, std::int64_t from) {
  std::int64_t lag = 0;
  for (const checked_place& p : places) {
    if (p.reference_frame <= from) lag = p.lag;
  }
  return delay + lag;
}

bool measure_passage_with(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                          const std::int64_t* expected, passage_result* out, int& failed, int lanes, bool native) {
  const search_kernel kernel{lanes, native};
  const int width = lanes >= 8 ? 2 : lanes >= 4 ? 1 : 0;
  cross_kernel run = GENERIC[width];
#if defined(__x86_64__)
  if (native && kernel_runs_here(kernel)) run = NATIVE[width];
#endif
  // Two lanes a file, spread evenly over as few batches as hold them.
  const int batches = (2 * wav_num + FILTER_LANES - 1) / FILTER_LANES;
  std::vector<stream> streams(static_cast<std::size_t>(wav_num));
  for (int i = 0; i < wav_num; ++i) {
    stream& s = streams[static_cast<std::size_t>(i)];
    s.slot = &slots[i];
    s.decode = i > 0;
    s.batch = i % batches;
    s.lane = 2 * (i / batches);
    s.lead = s.decode ? LEAD_STEPS - AHEAD : LEAD_STEPS;
    const std::int64_t first = s.decode ? from + expected[i] - PASSAGE_LAGS : from;
    s.base = first - s.lead;
    s.warm_start = first - WARMUP_FRAMES;
    s.bytes.resize(static_cast<std::size_t>(BLOCK_FRAMES) * FRAME_BYTES);
    const std::size_t held = BLOCK_FRAMES + (s.decode ? AHEAD + PAD : 0);
    s.left.assign(held, 0.0);
    s.right.assign(held, 0.0);
    s.cross_left.assign(MOST_SLOTS, 0.0);
    s.cross_right.assign(MOST_SLOTS, 0.0);
  }
  std::vector<batch> work(static_cast<std::size_t>(batches));
  for (batch& b : work) {
    for (equal_loudness_filter& f : b.state) clear_filter(f);
    // Lanes without a file filter silence.
    b.in.assign(static_cast<std::size_t>(SLICE_STEPS) * FILTER_LANES, 0.0);
    b.out.resize(b.in.size());
  }
  std::vector<int> short_read(static_cast<std::size_t>(batches));
  // The warm-up first, then the compared frames block by block: `first` is
  // a block's first frame compared, p0 its filter step.
  for (std::int64_t block_first = -1; block_first < length;) {
    const bool warm_up = block_first < 0;
    const std::int64_t first = warm_up ? 0 : block_first;
    const std::int64_t p0 = warm_up ? 0 : LEAD_STEPS + first;
    const int count = warm_up ? LEAD_STEPS : static_cast<int>(std::min<std::int64_t>(BLOCK_FRAMES, length - first));
    for_each_parallel(batches, [&](int b) {
      short_read[static_cast<std::size_t>(b)] =
          run_batch(streams, work[static_cast<std::size_t>(b)], b, p0, count, first, length, kernel);
    });
    for (int f : short_read) {
      if (f >= 0) {
        failed = f;
        return false;
      }
    }
    block_first = first + (warm_up ? 0 : count);
    if (warm_up) continue;
    const stream& ref = streams[0];
    // Each half of each decode's lags apart, so that the cores share the work evenly.
    for_each_parallel(2 * (wav_num - 1), [&](int task) {
      stream& s = streams[static_cast<std::size_t>(task / 2) + 1];
      const int first_slot = task % 2 == 0 ? 0 : run.half;
      run.run(s.left.data(), s.right.data(), ref.left.data(), ref.right.data(), count, first_slot,
              task % 2 == 0 ? run.half : run.slots, s.cross_left.data(), s.cross_right.data());
    });
    // The frames ahead become the next block's first.
    for (std::size_t i = 1; i < streams.size(); ++i) {
      for (std::vector<double>* v : {&streams[i].left, &streams[i].right})
        std::memmove(v->data(), v->data() + count, AHEAD * sizeof(double));
    }
  }
  out[0] = {PASSAGE_FOUND, 0, 1.0, 0.0, 0, 0.0, streams[0].peak};
  for (int i = 1; i < wav_num; ++i)
    out[i] = judge(streams[static_cast<std::size_t>(i)], streams[0], expected[i] - PASSAGE_LAGS, length);
  return true;
}

bool measure_passage(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                     const std::int64_t* expected, passage_result* out, int& failed) {
  static const search_kernel fastest = fastest_kernel();
  return measure_passage_with(slots, wav_num, from, length, expected, out, failed, fastest.lanes, fastest.native);
}
