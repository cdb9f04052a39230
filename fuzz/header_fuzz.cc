// Feeds arbitrary bytes to the header walk as a file, and checks that what it
// accepts never promises more sample data than the file holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "wav/wav_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("header_fuzz.wav", 0);
  static const std::string name = "/proc/self/fd/" + std::to_string(fd);
  static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  if (fd < 0 || ftruncate(fd, 0) != 0) __builtin_trap();
  if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) __builtin_trap();

  track_slot slot;
  std::uint64_t data_size = 0;
  const run_status status = read_wav_header(slot, name.c_str(), data_size);
  if (status == STATUS_OK) {
    const long long position = ftello(slot.file);
    if (position < 0 || static_cast<std::uint64_t>(position) + data_size > size) __builtin_trap();
    if (slot.t.is_float != 0 && slot.t.is_float != 1) __builtin_trap();
  } else if (status < STATUS_CANNOT_OPEN || status > STATUS_NO_DATA_CHUNK) {
    __builtin_trap();
  }
  if (slot.file != nullptr) std::fclose(slot.file);
  return 0;
}
