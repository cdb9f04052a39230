#include "analysis/filter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "wav/samples.h"

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

// Frames read per block: a tenth of the capture.
constexpr int CAPTURE_BLOCK_FRAMES = 4410;

// Float inputs may hold infinities or NaN; they carry no sound to match.
double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

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

run_status capture_analysis(track_slot& slot) {
  track& t = slot.t;
  t.data_start = ftello(slot.file);
  equal_loudness_filter f;
  clear_filter(f);
  unsigned char block[CAPTURE_BLOCK_FRAMES * FRAME_BYTES];
  for (int first = 0; first < ANALYSIS_FRAMES; first += CAPTURE_BLOCK_FRAMES) {
    if (std::fread(block, FRAME_BYTES, CAPTURE_BLOCK_FRAMES, slot.file) != CAPTURE_BLOCK_FRAMES) {
      std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
      return STATUS_CANNOT_OPEN;
    }
    for (int i = 0; i < CAPTURE_BLOCK_FRAMES; ++i) {
      const unsigned char* frame = block + static_cast<std::ptrdiff_t>(i) * FRAME_BYTES;
      double mono = 0;
      if (t.is_float != 0) {
        mono = finite_or_zero(load_float_le(frame)) + finite_or_zero(load_float_le(frame + 4));
      } else {
        // The sum of two 32-bit integers and its scaling by 2^-31 are exact.
        mono =
            (static_cast<double>(load_int_le(frame)) + static_cast<double>(load_int_le(frame + 4))) * INT_SAMPLE_SCALE;
      }
      double y = filter_step(f, mono);
      int k = first + i;
      if (k >= WARMUP_FRAMES) t.analysis[k - WARMUP_FRAMES] = y;
    }
  }
  return STATUS_OK;
}
