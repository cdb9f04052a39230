#include <cstring>

#include "analysis/analysis.h"

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

}  // namespace

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
