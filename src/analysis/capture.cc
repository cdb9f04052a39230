#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/kernels.h"
#include "core/samples.h"
#include "wav/wav.h"

namespace {

// Frames read per block: a tenth of the capture. A capture reads whole
// blocks, so a block that did not divide it would write past its values.
constexpr int CAPTURE_BLOCK_FRAMES = 4410;
static_assert(ANALYSIS_FRAMES % CAPTURE_BLOCK_FRAMES == 0, "a capture is whole blocks");
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

// What a capture takes of one frame: as mono_of, or one channel alone.
double pick_of(const unsigned char* frame, int is_float, channel_pick pick) {
  if (pick == PICK_SUM) return mono_of(frame, is_float);
  const unsigned char* sample = frame + (pick == PICK_LEFT ? 0 : 4);
  if (is_float != 0) return finite_or_zero(load_float_le(sample));
  return static_cast<double>(load_int_le(sample)) * INT_SAMPLE_SCALE;
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

bool capture_jobs_with(const capture_job* jobs, int count, int& failed, search_kernel kernel) {
  std::vector<unsigned char> block(static_cast<std::size_t>(CAPTURE_BLOCK_FRAMES) * FRAME_BYTES);
  std::vector<double> mono(static_cast<std::size_t>(CAPTURE_BLOCK_FRAMES) * FILTER_LANES);
  std::vector<double> filtered(mono.size());
  for (int batch = 0; batch < count; batch += FILTER_LANES) {
    const int lanes = std::min(FILTER_LANES, count - batch);
    equal_loudness_filter state[FILTER_LANES];
    for (equal_loudness_filter& f : state) clear_filter(f);
    // Lanes without a job filter silence.
    std::fill(mono.begin(), mono.end(), 0.0);
    for (int first = 0; first < ANALYSIS_FRAMES; first += CAPTURE_BLOCK_FRAMES) {
      for (int l = 0; l < lanes; ++l) {
        const capture_job& job = jobs[batch + l];
        if (!fetch_frames(*job.slot, job.first_frame + first, CAPTURE_BLOCK_FRAMES, block.data())) {
          failed = batch + l;
          return false;
        }
        for (int i = 0; i < CAPTURE_BLOCK_FRAMES; ++i) {
          mono[static_cast<std::size_t>(i) * FILTER_LANES + l] =
              pick_of(block.data() + static_cast<std::ptrdiff_t>(i) * FRAME_BYTES, job.slot->t.is_float, job.pick);
        }
      }
      filter_lanes(state, mono.data(), CAPTURE_BLOCK_FRAMES, filtered.data(), kernel.lanes, kernel.native);
      for (int l = 0; l < lanes; ++l) {
        const capture_job& job = jobs[batch + l];
        for (int i = std::max(0, WARMUP_FRAMES - first); i < CAPTURE_BLOCK_FRAMES; ++i) {
          const double y = filtered[static_cast<std::size_t>(i) * FILTER_LANES + l];
          job.out[first + i - WARMUP_FRAMES] = job.negate ? -y : y;
        }
      }
    }
  }
  return true;
}

bool capture_jobs(const capture_job* jobs, int count, int& failed) {
  static const search_kernel fastest = fastest_kernel();
  return capture_jobs_with(jobs, count, failed, fastest);
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
  for (int i = 0; i < wav_num; ++i) {
    status = capture_analysis(slots[i], start);
    if (status != STATUS_OK) return status;
    slots[i].t.capture_frame = start;
  }
  return STATUS_OK;
}
