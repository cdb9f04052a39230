#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "analysis/analysis.h"
#include "core/out_of_memory.h"
#include "core/run_values.h"
#include "output/output.h"
#include "wav/wav.h"

namespace {

// Where the whole story is told; both come with every download.
constexpr const char* DOCUMENTATION = "see README.md and the eqalign manual page";

void print_usage() {
  std::printf("Eqalign ver.1.1.0 (%s)\r\n", DOCUMENTATION);
  std::fputs(" Equalize offset and gain of 32bit float or int 44100Hz wav files.\r\n", stdout);
  std::fputs("  Then output them as raw, to perform an abc/hr test.\r\n\r\n", stdout);
  std::fputs("    usage:  eqalign original.wav lossy1.wav lossy2.wav.....\r\n\r\n", stdout);
  std::printf("detectable offset: %d ~ %d[sample]. Yulewalk filter for 44.1k is used.\r\n", DELAY_MIN, DELAY_MAX);
}

// Names the file that a message without a name was about.
run_status in_file(run_status status, const char* name) {
  std::printf("In file : %s.\r\n", name);
  return status;
}

}  // namespace

run_status run_eqalign(track_slot* slots, int argc, char** argv, bool& complete) {
  complete = false;
  for (int i = 0; i < MAX_FILES; ++i) {
    track_slot& slot = slots[i];
    if (!init_track(slot.t)) return not_enough_memory();
  }
  if (argc < 3) {
    print_usage();
    return STATUS_OK;
  }
  std::printf("eqalign.v.1.1.0  /  original reference file:%s\r\n", argv[1]);
  const int wav_num = argc - 1;
  if (wav_num > MAX_FILES) {
    std::printf("wav_num %d is too much.\r\n", wav_num);
    return STATUS_TOO_MANY_FILES;
  }

  // Files of different sample sizes hold different numbers of frames in the
  // same number of bytes: the common length is counted in frames.
  std::uint64_t smallest_frames = std::numeric_limits<std::uint64_t>::max();
  int shortest = 0;
  for (int i = 0; i < wav_num; ++i) {
    header_info info;
    const run_status status = read_wav_header(slots[i], argv[i + 1], info);
    // Those two say which file, or need not.
    if (status == STATUS_INPUT_UNREADABLE || status == STATUS_NO_MEMORY) return status;
    if (status != STATUS_OK) return in_file(status, argv[i + 1]);
    const track& t = slots[i].t;
    const std::uint32_t reference_rate = slots[0].t.sample_rate;
    // A decode at another rate would be measured and cut on the wrong time scale.
    if (t.sample_rate != reference_rate) {
      std::printf("Sample rate %u Hz differs from the reference's %u Hz : %s.\r\n", t.sample_rate, reference_rate,
                  argv[i + 1]);
      return STATUS_RATE_MISMATCH;
    }
    const std::uint64_t frames = info.data_size / static_cast<std::uint64_t>(t.frame_bytes);
    if (frames < smallest_frames) {
      smallest_frames = frames;
      shortest = i;
    }
  }
  run_values values;
  // At most 0xFFFFFFFF / 4 frames, so the length fits 32 bits.
  values.input_wav_length = static_cast<std::int32_t>(smallest_frames);
  std::printf("input_wav_length : %d\r\n", static_cast<int>(values.input_wav_length));
  if (values.input_wav_length < ANALYSIS_FRAMES) {
    std::fputs("INPUT FILES TOO SHORT.\r\n", stdout);
    return in_file(STATUS_TOO_SHORT, argv[shortest + 1]);
  }
  run_status status = check_output_names(slots, wav_num);
  if (status == STATUS_OK) status = capture_pass(slots, wav_num, values.input_wav_length);
  if (status != STATUS_OK) return status;
  status = search_pass(slots, wav_num, values);
  if (status == STATUS_OK) status = check_whole_files(slots, wav_num, values);
  if (status != STATUS_OK) return status;
  status = output_pass(slots, wav_num, values);
  complete = status == STATUS_OK;
  return status;
}
