#include <cstdio>

#include "platform/platform.h"
#include "wav/wav.h"

run_status read_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  const auto want = static_cast<std::size_t>(count);
  // The header pass trusted the file's length; a file cut short since then
  // must end the run, not be read as whatever the buffer held.
  if (seek_to(slot.file, slot.t.data_start + first_frame * FRAME_BYTES, SEEK_SET) &&
      std::fread(buffer, FRAME_BYTES, want, slot.file) == want)
    return STATUS_OK;
  std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
  return STATUS_INPUT_UNREADABLE;
}
