#include "driver/run.h"

#include <cstdint>
#include <cstdio>
#include <limits>

#include "analysis/filter.h"
#include "analysis/search.h"
#include "output/raw_writer.h"
#include "wav/wav_header.h"

namespace {

constexpr const char* HOME_PAGE = "https://eqalign.example.org/";

void print_usage() {
  std::printf("Eqalign ver.1.1.0 (%s)\r\n", HOME_PAGE);
  std::fputs(" Equalize offset and gain of 32bit float or int 44100Hz wav files.\r\n", stdout);
  std::fputs("  Then output them as raw, to perform an abc/hr test.\r\n\r\n", stdout);
  std::fputs("    usage:  eqalign original.wav lossy1.wav lossy2.wav.....\r\n\r\n", stdout);
  std::printf("detectable offset: %d ~ %d[sample]. Yulewalk filter for 44.1k is used.\r\n", DELAY_MIN, DELAY_MAX);
}

}  // namespace

run_status run_eqalign(track_slot* slots, int argc, char** argv, bool& complete) {
  complete = false;
  for (int i = 0; i < MAX_FILES; ++i) {
    track_slot& slot = slots[i];
    if (!init_track(slot.t)) {
      std::fputs("Not enough memory.\r\n", stdout);
      return STATUS_NO_MEMORY;
    }
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

  std::uint64_t smallest_data_size = std::numeric_limits<std::uint64_t>::max();
  for (int i = 0; i < wav_num; ++i) {
    std::uint64_t data_size = 0;
    const run_status status = read_wav_header(slots[i], argv[i + 1], data_size);
    if (status != STATUS_OK) return status;
    if (data_size < smallest_data_size) smallest_data_size = data_size;
  }
  // At most 0xFFFFFFFF / 8 frames, so the length fits 32 bits.
  auto input_wav_length = static_cast<std::int32_t>(smallest_data_size / FRAME_BYTES);
  std::printf("input_wav_length : %d\r\n", static_cast<int>(input_wav_length));
  if (input_wav_length < ANALYSIS_FRAMES) {
    std::fputs("INPUT FILES TOO SHORT.\r\n", stdout);
    return STATUS_TOO_SHORT;
  }

  for (int i = 0; i < wav_num; ++i) {
    const run_status status = capture_analysis(slots[i]);
    if (status != STATUS_OK) return status;
  }
  const alignment a = search_pass(slots, wav_num, input_wav_length);
  for (int i = 0; i < wav_num; ++i) {
    const run_status status = write_raw_output(slots, wav_num, i, a, input_wav_length);
    if (status != STATUS_OK) return status;
  }
  complete = true;
  return STATUS_OK;
}
