#include <cstring>

#include "analysis/kernels.h"
#include "analysis/vector_lanes.h"

namespace {

// The published equal-loudness coefficients for 44100 Hz.
constexpr double BUTTER_B[3] = {0.98500175787242, -1.97000351574484, 0.98500175787242};
constexpr double BUTTER_A[3] = {1, -1.96977855582618, 0.97022847566350};
constexpr double YULE_B[11] = {0.05418656406430,  -0.02911007808948, -0.00848709379851, -0.00851165645469,
                               -0.00834990904936, 0.02245293253339,  -0.02596338512915, 0.01624864962975,
                               -0.00240879051584, 0.00674613682247,  -0.00187763777362};
constexpr double YULE_A[11] = {1,
                               -3.47845948550071,
                               6.36317777566148,
                               -8.54751527471874,
                               9.47693607801280,
                               -8.81498681370155,
                               6.85401540936998,
                               -4.39470996079559,
                               2.19611684890774,
                               -0.75104302451432,
                               0.13149317958808};

// The steps of filter_step, each lane of a vector one filter: the same
// products and sums, in the same order, so every lane gives its bits.
template <int W>
[[gnu::always_inline]] inline void run_lanes(equal_loudness_filter* state, const double* in, int steps,
                                             double* out) {
  using vec = typename lanes_of<W>::type;
  constexpr int G = FILTER_LANES / W;
  vec bi[2][G];
  vec bo[2][G];
  vec yi[10][G];
  vec yo[10][G];
  for (int g = 0; g < G; ++g) {
    for (int l = 0; l < W; ++l) {
      const equal_loudness_filter& f = state[g * W + l];
      for (int j = 0; j < 2; ++j) {
        bi[j][g][l] = f.butter_in[j];
        bo[j][g][l] = f.butter_out[j];
      }
      for (int j = 0; j < 10; ++j) {
        yi[j][g][l] = f.yule_in[j];
        yo[j][g][l] = f.yule_out[j];
      }
    }
  }
  for (int s = 0; s < steps; ++s) {
    const double* x = in + static_cast<std::ptrdiff_t>(s) * FILTER_LANES;
    double* y = out + static_cast<std::ptrdiff_t>(s) * FILTER_LANES;
#pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
      const std::ptrdiff_t lane = static_cast<std::ptrdiff_t>(g) * W;
      const vec m = *unaligned_at<W>(x + lane);
      vec t = BUTTER_B[0] * m;
      t += BUTTER_B[1] * bi[0][g];
      t += BUTTER_B[2] * bi[1][g];
      t -= BUTTER_A[1] * bo[0][g];
      t -= BUTTER_A[2] * bo[1][g];
      bi[1][g] = bi[0][g];
      bi[0][g] = m;
      bo[1][g] = bo[0][g];
      bo[0][g] = t;
      vec u = YULE_B[0] * t;
      for (int j = 1; j <= 10; ++j) u += YULE_B[j] * yi[j - 1][g];
      for (int j = 1; j <= 10; ++j) u -= YULE_A[j] * yo[j - 1][g];
      for (int j = 9; j > 0; --j) {
        yi[j][g] = yi[j - 1][g];
        yo[j][g] = yo[j - 1][g];
      }
      yi[0][g] = t;
      yo[0][g] = u;
      *unaligned_at<W>(y + lane) = u;
    }
  }
  for (int g = 0; g < G; ++g) {
    for (int l = 0; l < W; ++l) {
      equal_loudness_filter& f = state[g * W + l];
      for (int j = 0; j < 2; ++j) {
        f.butter_in[j] = bi[j][g][l];
        f.butter_out[j] = bo[j][g][l];
      }
      for (int j = 0; j < 10; ++j) {
        f.yule_in[j] = yi[j][g][l];
        f.yule_out[j] = yo[j][g][l];
      }
    }
  }
}

using lanes_kernel = void (*)(equal_loudness_filter*, const double*, int, double*);

template <int W>
void lanes_generic(equal_loudness_filter* f, const double* in, int steps, double* out) {
  run_lanes<W>(f, in, steps, out);
}
constexpr lanes_kernel GENERIC_LANES[] = {lanes_generic<2>, lanes_generic<4>, lanes_generic<8>};

#if defined(__x86_64__)
[[gnu::target("avx")]] void lanes_256(equal_loudness_filter* f, const double* in, int steps, double* out) {
  run_lanes<4>(f, in, steps, out);
}
[[gnu::target("avx512f")]] void lanes_512(equal_loudness_filter* f, const double* in, int steps, double* out) {
  run_lanes<8>(f, in, steps, out);
}
// SSE2, which every x86-64 CPU has, is the generic form of 2 lanes.
constexpr lanes_kernel NATIVE_LANES[] = {lanes_generic<2>, lanes_256, lanes_512};
#endif

}  // namespace

void filter_lanes(equal_loudness_filter* state, const double* in, int steps, double* out, int lanes, bool native) {
  const int index = lanes >= 8 ? 2 : lanes >= 4 ? 1 : 0;
  lanes_kernel run = GENERIC_LANES[index];
#if defined(__x86_64__)
  if (native && kernel_runs_here({lanes, true})) run = NATIVE_LANES[index];
#else
  (void)native;
#endif
  run(state, in, steps, out);
}

void clear_filter(equal_loudness_filter& f) { f = equal_loudness_filter{}; }

double filter_step(equal_loudness_filter& f, double mono) {
  double t = BUTTER_B[0] * mono;
  t += BUTTER_B[1] * f.butter_in[0];
  t += BUTTER_B[2] * f.butter_in[1];
  t -= BUTTER_A[1] * f.butter_out[0];
  t -= BUTTER_A[2] * f.butter_out[1];
  f.butter_in[1] = f.butter_in[0];
  f.butter_in[0] = mono;
  f.butter_out[1] = f.butter_out[0];
  f.butter_out[0] = t;

  double u = YULE_B[0] * t;
  for (int j = 1; j <= 10; ++j) u += YULE_B[j] * f.yule_in[j - 1];
  for (int j = 1; j <= 10; ++j) u -= YULE_A[j] * f.yule_out[j - 1];
  std::memmove(f.yule_in + 1, f.yule_in, 9 * sizeof(double));
  f.yule_in[0] = t;
  std::memmove(f.yule_out + 1, f.yule_out, 9 * sizeof(double));
  f.yule_out[0] = u;
  return u;
}
