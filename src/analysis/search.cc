#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/analysis.h"
#include "analysis/search_kernels.h"
#include "platform/platform.h"

namespace {

constexpr int COMPARE_LENGTH = COMPARE_END - COMPARE_BEGIN;
// Decodes at usual bitrates score well below 0.45; another piece of music
// or an inverted copy scores about 0.9 to 1.4.
constexpr double POOR_MATCH_SCORE = 0.7;
// A best window more than 60 dB below the reference's is silence that a
// decoder filled with tiny values; its gain would set the scale of the run.
constexpr double SILENT_GAIN = 1000;
// Delays scored together by the widest kernel: 8 vectors of 8 lanes.
constexpr int MAX_BLOCK = 64;
constexpr int PADDED_DELAYS = (DELAY_COUNT + MAX_BLOCK - 1) / MAX_BLOCK * MAX_BLOCK;
// Track values read for reference index COMPARE_BEGIN + i at delay slot d: i + d.
constexpr int PADDED_TEST = COMPARE_LENGTH + PADDED_DELAYS;
static_assert(COMPARE_BEGIN + DELAY_MIN == 0, "delay slot 0 reads track index 0");
static_assert(PADDED_TEST >= ANALYSIS_LENGTH, "the padded copy holds the whole track");

// Working arrays of one search, kept out of the stack; the program runs one
// search at a time, on one thread. Separate arrays, so that an address
// sanitizer build notices a kernel that strays past one.
alignas(64) double test_copy[PADDED_TEST];
alignas(64) double test_squares[PADDED_TEST];
alignas(64) double window_sums[PADDED_DELAYS];
alignas(64) double delay_gains[PADDED_DELAYS];
alignas(64) double residual_sums[PADDED_DELAYS];

// Vectors of W doubles, and the same read or written at any double's
// address: a plain load or store on every CPU, where a memcpy may go through
// the stack. Nothing takes the accumulators' address, so that they stay in
// registers although such a load may alias anything.
// Spelled out per width: the attribute would be lost on
// a type that depends on a template parameter.
template <int W>
struct lanes_of;
template <>
struct lanes_of<2> {
  typedef double type __attribute__((vector_size(16)));
  typedef double unaligned __attribute__((vector_size(16), aligned(8), may_alias));
};
template <>
struct lanes_of<4> {
  typedef double type __attribute__((vector_size(32)));
  typedef double unaligned __attribute__((vector_size(32), aligned(8), may_alias));
};
template <>
struct lanes_of<8> {
  typedef double type __attribute__((vector_size(64)));
  typedef double unaligned __attribute__((vector_size(64), aligned(8), may_alias));
};

// Spelled out: `auto` would drop the alignment attribute.
template <int W>
[[gnu::always_inline]] inline const typename lanes_of<W>::unaligned* unaligned_at(const double* p) {
  return reinterpret_cast<const typename lanes_of<W>::unaligned*>(p);
}
template <int W>
[[gnu::always_inline]] inline typename lanes_of<W>::unaligned* unaligned_at(double* p) {
  return reinterpret_cast<typename lanes_of<W>::unaligned*>(p);
}

// Each lane of a vector is one delay and keeps its own sum, taken one index
// at a time in ascending order, exactly as a scalar loop would; V vectors in
// flight hide the latency of the additions.
template <int W, int V>
[[gnu::always_inline]] inline void sum_windows(const double* squares, double* out) {
  using vec = typename lanes_of<W>::type;
  static_assert(sizeof(vec) == W * sizeof(double));
  static_assert(PADDED_DELAYS % (W * V) == 0, "blocks cover the padded delays exactly");
  for (int d0 = 0; d0 < PADDED_DELAYS; d0 += W * V) {
    vec acc[V] = {};
    for (int i = 0; i < COMPARE_LENGTH; ++i) {
      const double* p = squares + i + d0;
#pragma GCC unroll 8
      for (int v = 0; v < V; ++v) {
        acc[v] += *unaligned_at<W>(p + static_cast<std::ptrdiff_t>(v) * W);
      }
    }
    for (int v = 0; v < V; ++v) *unaligned_at<W>(out + d0 + static_cast<std::ptrdiff_t>(v) * W) = acc[v];
  }
}

template <int W, int V>
[[gnu::always_inline]] inline void sum_residuals(const double* test, const double* ref, const double* gains,
                                                 double* out) {
  using vec = typename lanes_of<W>::type;
  static_assert(sizeof(vec) == W * sizeof(double));
  static_assert(PADDED_DELAYS % (W * V) == 0, "blocks cover the padded delays exactly");
  for (int d0 = 0; d0 < PADDED_DELAYS; d0 += W * V) {
    vec acc[V] = {};
    vec gain[V];
    for (int v = 0; v < V; ++v) gain[v] = *unaligned_at<W>(gains + d0 + static_cast<std::ptrdiff_t>(v) * W);
    for (int i = 0; i < COMPARE_LENGTH; ++i) {
      const double* p = test + i + d0;
      const double r = ref[i];
#pragma GCC unroll 8
      for (int v = 0; v < V; ++v) {
        const vec x = *unaligned_at<W>(p + static_cast<std::ptrdiff_t>(v) * W);
        const vec diff = x * gain[v] - r;
        acc[v] += diff * diff;
      }
    }
    for (int v = 0; v < V; ++v) *unaligned_at<W>(out + d0 + static_cast<std::ptrdiff_t>(v) * W) = acc[v];
  }
}

struct kernel {
  void (*windows)(const double* squares, double* out);
  void (*residuals)(const double* test, const double* ref, const double* gains, double* out);
};

template <int W, int V>
void windows_generic(const double* s, double* o) {
  sum_windows<W, V>(s, o);
}
template <int W, int V>
void residuals_generic(const double* t, const double* r, const double* g, double* o) {
  sum_residuals<W, V>(t, r, g, o);
}

// Every width in the compiler's generic vector form, which any CPU runs
// (NEON on ARM64), indexed by log2(lanes) - 1.
constexpr kernel GENERIC[] = {
    {windows_generic<2, 8>, residuals_generic<2, 4>},
    {windows_generic<4, 8>, residuals_generic<4, 4>},
    {windows_generic<8, 8>, residuals_generic<8, 2>},
};

#if defined(__x86_64__)
[[gnu::target("avx512f")]] void windows_512(const double* s, double* o) { sum_windows<8, 8>(s, o); }
[[gnu::target("avx")]] void windows_256(const double* s, double* o) { sum_windows<4, 8>(s, o); }
[[gnu::target("avx512f")]] void residuals_512(const double* t, const double* r, const double* g, double* o) {
  sum_residuals<8, 8>(t, r, g, o);
}
[[gnu::target("avx")]] void residuals_256(const double* t, const double* r, const double* g, double* o) {
  sum_residuals<4, 8>(t, r, g, o);
}
// SSE2, which every x86-64 CPU has, is the generic form of 2 lanes.
constexpr kernel NATIVE[] = {GENERIC[0], {windows_256, residuals_256}, {windows_512, residuals_512}};
#endif

int width_index(int lanes) { return lanes >= 8 ? 2 : lanes >= 4 ? 1 : 0; }

}  // namespace

bool kernel_runs_here(search_kernel k) {
#if defined(__x86_64__)
  if (k.native && k.lanes >= 8) return read_cpu_features().avx512f;
  if (k.native && k.lanes >= 4) return read_cpu_features().avx;
  return true;
#else
  return !k.native;
#endif
}

search_kernel fastest_kernel() {
#if defined(__x86_64__)
  for (int lanes : {8, 4}) {
    if (kernel_runs_here({lanes, true})) return {lanes, true};
  }
  return {2, true};
#else
  // Two lanes are a NEON register; GCC splits wider generic vectors through memory.
  return {2, false};
#endif
}

search_result search_delays_with(const double* ref, const double* test, search_kernel chosen) {
  kernel run = GENERIC[width_index(chosen.lanes)];
#if defined(__x86_64__)
  if (chosen.native && kernel_runs_here(chosen)) run = NATIVE[width_index(chosen.lanes)];
#endif
  search_result best;
  double ref_sum = 0;
  for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) ref_sum += ref[k] * ref[k];
  const double ref_norm = std::sqrt(ref_sum);
  if (ref_norm == 0) {
    best.kind = SEARCH_SILENT;
    return best;
  }

  std::memcpy(test_copy, test, ANALYSIS_LENGTH * sizeof(double));
  std::memset(test_copy + ANALYSIS_LENGTH, 0, (PADDED_TEST - ANALYSIS_LENGTH) * sizeof(double));
  for (int i = 0; i < PADDED_TEST; ++i) test_squares[i] = test_copy[i] * test_copy[i];

  run.windows(test_squares, window_sums);
  // A window without sound ends the search, whatever the delays before it scored.
  for (int d = 0; d < DELAY_COUNT; ++d) {
    const double window_norm = std::sqrt(window_sums[d]);
    if (window_norm == 0) {
      best.kind = SEARCH_SILENT;
      return best;
    }
    delay_gains[d] = ref_norm / window_norm;
  }
  for (int d = DELAY_COUNT; d < PADDED_DELAYS; ++d) delay_gains[d] = 1.0;

  const double* ref_window = ref + COMPARE_BEGIN;
  run.residuals(test_copy, ref_window, delay_gains, residual_sums);

  for (int d = 0; d < DELAY_COUNT; ++d) {
    const double gain = delay_gains[d];
    const double score = std::sqrt(residual_sums[d]) / ref_norm;
    // Only a usable measurement may be kept: the writer scales by the gain.
    if (!std::isfinite(gain) || !(gain > 0) || !std::isfinite(score)) continue;
    if (best.kind != SEARCH_FOUND || score < best.score) {
      best.kind = SEARCH_FOUND;
      best.delay = DELAY_MIN + d;
      best.gain = gain;
      best.score = score;
    }
  }
  return best;
}

search_result search_delays(const double* ref, const double* test) {
  static const search_kernel fastest = fastest_kernel();
  return search_delays_with(ref, test, fastest);
}

search_kind find_offset_and_gain(const track& reference, track& test) {
  search_result r = search_delays(reference.analysis.get(), test.analysis.get());
  if (r.kind == SEARCH_FOUND && r.gain > SILENT_GAIN) r.kind = SEARCH_SILENT;
  if (r.kind == SEARCH_SILENT) std::fputs("No Sound At All.\r\n", stdout);
  if (r.kind == SEARCH_FOUND) {
    test.delay = r.delay;
    test.gain = r.gain;
    test.score = r.score;
  }
  return r.kind;
}

void search_pass(track_slot* slots, int wav_num, run_values& values) {
  for (int i = 1; i < wav_num; ++i) {
    track& t = slots[i].t;
    const search_kind kind = find_offset_and_gain(slots[0].t, t);
    if (t.delay < values.smallest_delay) values.smallest_delay = t.delay;
    if (values.biggest_delay < t.delay) values.biggest_delay = t.delay;
    if (values.biggest_gain < t.gain) values.biggest_gain = t.gain;
    std::printf(t.is_float != 0 ? "FLO %d:" : "INT %d:", i);
    std::printf(
        "Offset:%5d  "
        "  Gain:%f  "
        "  Gain:%f[dB]   "
        " Score:%f   \r\n",
        static_cast<int>(t.delay), t.gain, 20.0 * std::log10(t.gain), t.score);
    if (kind == SEARCH_SILENT) {
      std::printf(
          "Note: track %d could not be measured: it is silent where it is compared; it is written without "
          "alignment or level matching.\r\n",
          i);
    }
    if (kind != SEARCH_FOUND) continue;
    if (t.score > POOR_MATCH_SCORE)
      std::printf("Note: track %d matches the reference poorly; is it a decode of the reference?\r\n", i);
    if (t.delay == DELAY_MIN || t.delay == DELAY_MAX - 1)
      std::printf(
          "Note: the delay of track %d is at the end of the searched range; the true delay may lie beyond it.\r\n", i);
  }
  values.input_wav_length -= values.biggest_delay - values.smallest_delay;
  std::printf("biggest_delay    : %d\r\n", static_cast<int>(values.biggest_delay));
  std::printf("smallest_delay   : %d\r\n", static_cast<int>(values.smallest_delay));
  std::printf("biggest_gain     : %f\r\n", values.biggest_gain);
  std::printf("input_wav_length : %d\r\n", static_cast<int>(values.input_wav_length));
}
