#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/analysis.h"
#include "core/samples.h"
#include "wav/wav.h"

namespace {

// Frames read per block: a tenth of the capture.
constexpr int CAPTURE_BLOCK_FRAMES = 4410;
// Frames of a capture that its compare window is made of.
constexpr std::int64_t WINDOW_FIRST = WARMUP_FRAMES + COMPARE_BEGIN;
constexpr std::int64_t WINDOW_END = WARMUP_FRAMES + COMPARE_END;
// A frame is sound when its mono value lies above -60 dB of full scale on
// both channels: decoders write values like 1e-34, and masters a dither of
// a few steps, where the music is silent.
constexpr double SOUND_LEVEL = 0.002;

// Float inputs may hold infinities or NaN; they carry no sound to match.
double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }

// The mono value of one frame: the sum of its channels, on the float scale.
double mono_of(const unsigned char* frame, int is_float) {
  if (is_float != 0) return finite_or_zero(load_float_le(frame)) + finite_or_zero(load_float_le(frame + 4));
  // The sum of two 32-bit integers and its scaling by 2^-31 are exact.
  return (static_cast<double>(load_int_le(frame)) + static_cast<double>(load_int_le(frame + 4))) * INT_SAMPLE_SCALE;
}

// The first sound frame from `from` up to, not including, `limit`, or -1.
run_status first_sound(track_slot& slot, std::int64_t from, std::int64_t limit, std::int64_t& first) {
  first = -1;
  unsigned char block[CAPTURE_BLOCK_FRAMES * FRAME_BYTES];
  for (std::int64_t done = from; done < limit; done += CAPTURE_BLOCK_FRAMES) {
    const int frames = static_cast<int>(std::min<std::int64_t>(limit - done, CAPTURE_BLOCK_FRAMES));
    const run_status status = read_frames(slot, done, frames, block);
    if (status != STATUS_OK) return status;
    for (int i = 0; i < frames; ++i) {
      if (std::fabs(mono_of(block + static_cast<std::ptrdiff_t>(i) * FRAME_BYTES, slot.t.is_float)) > SOUND_LEVEL) {
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
  for (int first = 0; first < ANALYSIS_FRAMES; first += CAPTURE_BLOCK_FRAMES) {
    const run_status status = read_frames(slot, first_frame + first, CAPTURE_BLOCK_FRAMES, block);
    if (status != STATUS_OK) return status;
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
  // A reference that starts with a long silence (a whole CD track, say) is
  // measured from its first sound instead: its compare window then starts
  // at that frame. Frames past the last usable start need not be looked at.
  std::int64_t first = -1;
  run_status status = first_sound(slots[0], WINDOW_FIRST, WINDOW_END, first);
  if (status != STATUS_OK || first >= 0) return status;
  status = first_sound(slots[0], WINDOW_END, common_length - ANALYSIS_FRAMES + WINDOW_FIRST + 1, first);
  if (status != STATUS_OK || first < 0) return status;
  const std::int64_t start = first - WINDOW_FIRST;
  std::printf("Note: the reference is silent at its start; measuring from frame %d.\r\n", static_cast<int>(start));
  for (int i = 0; i < wav_num; ++i) {
    status = capture_analysis(slots[i], start);
    if (status != STATUS_OK) return status;
  }
  return STATUS_OK;
}
