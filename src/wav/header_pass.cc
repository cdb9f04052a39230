#include <cstdint>
#include <limits>

#include "core/say.h"
#include "wav/wav.h"

namespace {

// Names the file that a message without a name was about.
run_status in_file(run_status status, const char* name) {
  say("In file : %s.\r\n", name);
  return status;
}

}  // namespace

run_status header_pass(track_slot* slots, int wav_num, char** names, run_values& values) {
  // Files of different sample sizes hold different numbers of frames in the
  // same number of bytes: the common length is counted in frames.
  std::uint64_t smallest_frames = std::numeric_limits<std::uint64_t>::max();
  for (int i = 0; i < wav_num; ++i) {
    header_info info;
    const run_status status = read_wav_header(slots[i], names[i], info);
    // Those two say which file, or need not.
    if (status == STATUS_INPUT_UNREADABLE || status == STATUS_NO_MEMORY) return status;
    if (status != STATUS_OK) return in_file(status, names[i]);
    const track& t = slots[i].t;
    const std::uint32_t reference_rate = slots[0].t.sample_rate;
    // A decode at another rate would be measured and cut on the wrong time scale.
    if (t.sample_rate != reference_rate) {
      say("Sample rate %u Hz differs from the reference's %u Hz : %s.\r\n", t.sample_rate, reference_rate,
                  names[i]);
      return STATUS_RATE_MISMATCH;
    }
    const std::uint64_t frames = info.data_size / static_cast<std::uint64_t>(t.frame_bytes);
    if (frames < smallest_frames) smallest_frames = frames;
  }
  // At most 0xFFFFFFFF / 4 frames, so the length fits 32 bits.
  values.input_wav_length = static_cast<std::int32_t>(smallest_frames);
  return STATUS_OK;
}

run_status refuse_short_inputs(const track_slot* slots, int wav_num, const run_values& values) {
  if (values.input_wav_length >= ANALYSIS_FRAMES) return STATUS_OK;
  int shortest = 0;
  for (int i = 1; i < wav_num; ++i) {
    if (slots[i].t.frames < slots[shortest].t.frames) shortest = i;
  }
  say("%s", "INPUT FILES TOO SHORT.\r\n");
  return in_file(STATUS_TOO_SHORT, slots[shortest].path.c_str());
}
