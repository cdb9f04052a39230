#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "analysis/kernels.h"
#include "analysis/vector_lanes.h"
#include "platform/platform.h"

namespace {

constexpr int COMPARE_LENGTH = COMPARE_END - COMPARE_BEGIN;
// Lags scored together by the widest kernel: 8 vectors of 8 lanes.
constexpr int MAX_BLOCK = 64;
constexpr int padded_count(int count) { return (count + MAX_BLOCK - 1) / MAX_BLOCK * MAX_BLOCK; }
constexpr int PADDED_DELAYS = padded_count(DELAY_COUNT);
// Track values read for reference index COMPARE_BEGIN + i at lag slot d: i + d.
constexpr int PADDED_TEST = COMPARE_LENGTH + PADDED_DELAYS;
static_assert(COMPARE_BEGIN + DELAY_MIN == 0, "delay slot 0 reads track index 0");
static_assert(PADDED_TEST >= ANALYSIS_LENGTH, "the padded copy holds the whole track");

// Each lane of a vector is one delay and keeps its own sum, taken one index
// at a time in ascending order, exactly as a scalar loop would; V vectors in
// flight hide the latency of the additions.
template <int W, int V>
[[gnu::always_inline]] inline void sum_windows(const double* squares, int padded, double* out) {
  using vec = typename lanes_of<W>::type;
  static_assert(sizeof(vec) == W * sizeof(double));
  static_assert(MAX_BLOCK % (W * V) == 0, "blocks cover the padded lags exactly");
  for (int d0 = 0; d0 < padded; d0 += W * V) {
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
                                                 int padded, double* out) {
  using vec = typename lanes_of<W>::type;
  static_assert(sizeof(vec) == W * sizeof(double));
  static_assert(MAX_BLOCK % (W * V) == 0, "blocks cover the padded lags exactly");
  for (int d0 = 0; d0 < padded; d0 += W * V) {
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
  void (*windows)(const double* squares, int padded, double* out);
  void (*residuals)(const double* test, const double* ref, const double* gains, int padded, double* out);
};

template <int W, int V>
void windows_generic(const double* s, int n, double* o) {
  sum_windows<W, V>(s, n, o);
}
template <int W, int V>
void residuals_generic(const double* t, const double* r, const double* g, int n, double* o) {
  sum_residuals<W, V>(t, r, g, n, o);
}

// Every width in the compiler's generic vector form, which any CPU runs
// (NEON on ARM64), indexed by log2(lanes) - 1.
constexpr kernel GENERIC[] = {
    {windows_generic<2, 8>, residuals_generic<2, 4>},
    {windows_generic<4, 8>, residuals_generic<4, 4>},
    {windows_generic<8, 8>, residuals_generic<8, 2>},
};

#if defined(__x86_64__)
[[gnu::target("avx512f")]] void windows_512(const double* s, int n, double* o) { sum_windows<8, 8>(s, n, o); }
[[gnu::target("avx")]] void windows_256(const double* s, int n, double* o) { sum_windows<4, 8>(s, n, o); }
[[gnu::target("avx512f")]] void residuals_512(const double* t, const double* r, const double* g, int n, double* o) {
  sum_residuals<8, 8>(t, r, g, n, o);
}
[[gnu::target("avx")]] void residuals_256(const double* t, const double* r, const double* g, int n, double* o) {
  sum_residuals<4, 8>(t, r, g, n, o);
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

void score_lags_with(const double* ref, const double* test, int first_lag, int count, lag_scores& out,
                     search_kernel chosen) {
  kernel run = GENERIC[width_index(chosen.lanes)];
#if defined(__x86_64__)
  if (chosen.native && kernel_runs_here(chosen)) run = NATIVE[width_index(chosen.lanes)];
#endif
  out.first_lag = first_lag;
  out.silent_window = false;
  out.gain.assign(static_cast<std::size_t>(count), std::nan(""));
  out.score.assign(static_cast<std::size_t>(count), std::nan(""));
  double ref_sum = 0;
  for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) ref_sum += ref[k] * ref[k];
  out.ref_norm = std::sqrt(ref_sum);
  if (out.ref_norm == 0 || count <= 0) return;

  const int padded = padded_count(count);
  // Lag slot d reads track index base + i + d; slots past `count` are padding
  // whose results are dropped, so they read zeros.
  const int base = COMPARE_BEGIN + first_lag;
  const int used = COMPARE_LENGTH + padded;
  const int held = std::clamp(ANALYSIS_LENGTH - base, 0, used);
  lag_work& w = out.work;
  w.test_copy.resize(static_cast<std::size_t>(used));
  w.test_squares.resize(static_cast<std::size_t>(used));
  w.window_sums.resize(static_cast<std::size_t>(padded));
  w.lag_gains.resize(static_cast<std::size_t>(padded));
  w.residual_sums.resize(static_cast<std::size_t>(padded));
  std::copy(test + base, test + base + held, w.test_copy.begin());
  std::fill(w.test_copy.begin() + held, w.test_copy.end(), 0.0);
  for (int i = 0; i < used; ++i) w.test_squares[static_cast<std::size_t>(i)] = w.test_copy[static_cast<std::size_t>(i)] * w.test_copy[static_cast<std::size_t>(i)];

  run.windows(w.test_squares.data(), padded, w.window_sums.data());
  for (std::size_t d = 0; d < static_cast<std::size_t>(count); ++d) {
    const double window_norm = std::sqrt(w.window_sums[d]);
    if (window_norm == 0) out.silent_window = true;
    w.lag_gains[d] = window_norm == 0 ? std::numeric_limits<double>::infinity() : out.ref_norm / window_norm;
  }
  std::fill(w.lag_gains.begin() + count, w.lag_gains.end(), 1.0);
  run.residuals(w.test_copy.data(), ref + COMPARE_BEGIN, w.lag_gains.data(), padded, w.residual_sums.data());
  for (std::size_t d = 0; d < static_cast<std::size_t>(count); ++d) {
    out.gain[d] = w.lag_gains[d];
    out.score[d] = std::sqrt(w.residual_sums[d]) / out.ref_norm;
  }
}

void score_lags(const double* ref, const double* test, int first_lag, int count, lag_scores& out) {
  static const search_kernel fastest = fastest_kernel();
  score_lags_with(ref, test, first_lag, count, out, fastest);
}

bool qualifies(const lag_scores& s, int i) {
  const double gain = s.gain[static_cast<std::size_t>(i)];
  // Only a usable measurement may be kept: the writer scales by the gain.
  return std::isfinite(gain) && gain > 0 && std::isfinite(s.score[static_cast<std::size_t>(i)]);
}

int best_lag(const lag_scores& s, int away_from, int apart) {
  int best = -1;
  for (int i = 0; i < static_cast<int>(s.score.size()); ++i) {
    if (!qualifies(s, i) || (apart >= 0 && std::abs(i - away_from) <= apart)) continue;
    if (best < 0 || s.score[static_cast<std::size_t>(i)] < s.score[static_cast<std::size_t>(best)]) best = i;
  }
  return best;
}

search_result result_at(const lag_scores& s, int i) {
  if (s.ref_norm == 0 || s.silent_window) return {SEARCH_SILENT};
  if (i < 0) return {SEARCH_NONE};
  return {SEARCH_FOUND, s.first_lag + i, s.gain[static_cast<std::size_t>(i)], s.score[static_cast<std::size_t>(i)]};
}

search_result search_delays_with(const double* ref, const double* test, search_kernel chosen) {
  lag_scores s;
  score_lags_with(ref, test, DELAY_MIN, DELAY_COUNT, s, chosen);
  return result_at(s, best_lag(s));
}

search_result search_delays(const double* ref, const double* test) {
  static const search_kernel fastest = fastest_kernel();
  return search_delays_with(ref, test, fastest);
}
