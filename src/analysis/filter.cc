#include "analysis/filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/search.h"
#include "platform/platform.h"
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

namespace {

// The mono value of one frame: the sum of its channels, on the float scale.
double mono_of(const unsigned char* frame, int is_float) {
  if (is_float != 0) return finite_or_zero(load_float_le(frame)) + finite_or_zero(load_float_le(frame + 4));
  // The sum of two 32-bit integers and its scaling by 2^-31 are exact.
  return (static_cast<double>(load_int_le(frame)) + static_cast<double>(load_int_le(frame + 4))) * INT_SAMPLE_SCALE;
}

bool read_block(track_slot& slot, unsigned char* block, int frames) {
  if (std::fread(block, FRAME_BYTES, static_cast<std::size_t>(frames), slot.file) == static_cast<std::size_t>(frames))
    return true;
  std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
  return false;
}

// The first frame below `limit` whose mono value is not 0, or -1.
run_status first_sound(track_slot& slot, std::int64_t limit, std::int64_t& first) {
  first = -1;
  unsigned char block[CAPTURE_BLOCK_FRAMES * FRAME_BYTES];
  if (!seek_to(slot.file, slot.t.data_start, SEEK_SET)) limit = 0;
  for (std::int64_t done = 0; done < limit; done += CAPTURE_BLOCK_FRAMES) {
    const int frames = static_cast<int>(std::min<std::int64_t>(limit - done, CAPTURE_BLOCK_FRAMES));
    if (!read_block(slot, block, frames)) return STATUS_CANNOT_OPEN;
    for (int i = 0; i < frames; ++i) {
      if (mono_of(block + static_cast<std::ptrdiff_t>(i) * FRAME_BYTES, slot.t.is_float) != 0) {
        first = done + i;
        return STATUS_OK;
      }
    }
  }
  return STATUS_OK;
}

}  // namespace

run_status capture_analysis(track_slot& slot, std::int64_t first_frame) {
  track& t = slot.t;
  equal_loudness_filter f;
  clear_filter(f);
  unsigned char block[CAPTURE_BLOCK_FRAMES * FRAME_BYTES];
  if (!seek_to(slot.file, t.data_start + first_frame * FRAME_BYTES, SEEK_SET)) {
    std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
    return STATUS_CANNOT_OPEN;
  }
  for (int first = 0; first < ANALYSIS_FRAMES; first += CAPTURE_BLOCK_FRAMES) {
    if (!read_block(slot, block, CAPTURE_BLOCK_FRAMES)) return STATUS_CANNOT_OPEN;
    for (int i = 0; i < CAPTURE_BLOCK_FRAMES; ++i) {
      const double y = filter_step(f, mono_of(block + static_cast<std::ptrdiff_t>(i) * FRAME_BYTES, t.is_float));
      const int k = first + i;
      if (k >= WARMUP_FRAMES) t.analysis[k - WARMUP_FRAMES] = y;
    }
  }
  return STATUS_OK;
}

run_status capture_pass(track_slot* slots, int wav_num, std::int32_t common_length) {
  for (int i = 0; i < wav_num; ++i) {
    const run_status status = capture_analysis(slots[i], 0);
    if (status != STATUS_OK) return status;
  }
  const double* ref = slots[0].t.analysis.get();
  if (!std::all_of(ref + COMPARE_BEGIN, ref + COMPARE_END, [](double v) { return v == 0; })) return STATUS_OK;
  // A reference that starts with a long silence (a whole CD track, say) is
  // measured from its first sound instead: the compare window then starts
  // at that frame. Frames past the last usable start need not be looked at.
  constexpr std::int64_t WINDOW_OFFSET = WARMUP_FRAMES + COMPARE_BEGIN;
  std::int64_t first = -1;
  const run_status status = first_sound(slots[0], common_length - ANALYSIS_FRAMES + WINDOW_OFFSET + 1, first);
  if (status != STATUS_OK) return status;
  const std::int64_t start = first - WINDOW_OFFSET;
  if (start <= 0) return STATUS_OK;  // no sound at all gives first -1
  std::printf("Note: the reference is silent at its start; measuring from frame %d.\r\n", static_cast<int>(start));
  for (int i = 0; i < wav_num; ++i) {
    const run_status again = capture_analysis(slots[i], start);
    if (again != STATUS_OK) return again;
  }
  return STATUS_OK;
}
