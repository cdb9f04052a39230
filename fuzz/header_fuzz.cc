// Feeds arbitrary bytes to the header walk as a file, and checks that what it
// accepts never promises more sample data than the file holds, and is of a
// sample size the frame reader knows.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("header_fuzz.wav", 0);
  static const std::string name = "/proc/self/fd/" + std::to_string(fd);
  static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  if (fd < 0 || ftruncate(fd, 0) != 0) __builtin_trap();
  if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) __builtin_trap();

  track_slot slot;
  header_info info;
  const run_status status = read_wav_header(slot, name.c_str(), info);
  if (status == STATUS_OK) {
    const std::int64_t position = position_of(slot.file);
    if (position < 0 || position != slot.t.data_start || static_cast<std::uint64_t>(position) + info.data_size > size)
      __builtin_trap();
    if (slot.t.is_float != 0 && slot.t.is_float != 1) __builtin_trap();
    // 16-, 24- or 32-bit integers, or 32-bit floats: nothing else is read.
    const int size = slot.t.frame_bytes;
    if ((size != 4 && size != 6 && size != 8) || (slot.t.is_float == 1 && size != 8)) __builtin_trap();
  } else if (status < STATUS_INPUT_UNREADABLE || status > STATUS_NO_DATA_CHUNK) {
    __builtin_trap();
  }
  if (slot.file != nullptr) std::fclose(slot.file);
  return 0;
}
