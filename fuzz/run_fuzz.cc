// A whole run on two small files made from the input: its first two bytes
// give the length of the reference's part, the rest is the decode's; each file is
// its part followed by the part repeated, to a little over one second. The
// analysis and output passes then run on whatever the header pass accepts.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/run.h"

namespace {

constexpr std::size_t FILE_BYTES = 360000;

bool write_file(const std::string& path, const std::uint8_t* part, std::size_t n) {
  std::vector<std::uint8_t> b(part, part + n);
  while (n > 0 && b.size() < FILE_BYTES) b.insert(b.end(), part, part + n);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "run_fuzz.XXXXXX").string();
    return std::string(mkdtemp(tmpl.data()));
  }();
  static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  (void)quiet;
  if (size < 2) return 0;
  const std::size_t first = std::min<std::size_t>(data[0] | (data[1] << 8), size - 2);
  std::string a = dir + "/a.32b.wav";
  std::string b = dir + "/b.32b.wav";
  if (!write_file(a, data + 2, first) || !write_file(b, data + 2 + first, size - 2 - first)) __builtin_trap();

  static track_slot slots[MAX_FILES];
  char program[] = "eqalign";
  char* argv[] = {program, a.data(), b.data(), nullptr};
  bool complete = false;
  run_eqalign(slots, 3, argv, complete);
  for (track_slot& slot : slots) {
    if (slot.file != nullptr) std::fclose(slot.file);
    if (slot.written != nullptr) std::fclose(slot.written);
    slot = track_slot{};
  }
  if (complete) {
    // Both outputs hold the same number of whole frames.
    const auto ra = std::filesystem::file_size(dir + "/a.raw");
    if (ra % 4 != 0 || ra != std::filesystem::file_size(dir + "/b.raw")) __builtin_trap();
  }
  std::remove((dir + "/a.raw").c_str());
  std::remove((dir + "/b.raw").c_str());
  return 0;
}
