#include <cstdio>

#include "platform/platform.h"
#include "wav/wav.h"

bool fetch_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  const auto want = static_cast<std::size_t>(count);
  // The header pass trusted the file's length; a file cut short since then
  // must end the run, not be read as whatever the buffer held.
  return seek_to(slot.file, slot.t.data_start + first_frame * FRAME_BYTES, SEEK_SET) &&
         std::fread(buffer, FRAME_BYTES, want, slot.file) == want;
}

run_status cannot_read(const track_slot& slot) {
  std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
  return STATUS_INPUT_UNREADABLE;
}

run_status read_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  return fetch_frames(slot, first_frame, count, buffer) ? STATUS_OK : cannot_read(slot);
}
