// A scratch folder per test or benchmark, inside its working folder.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include "wav/wav.h"
#include "wav_bytes.h"

// A fresh folder inside the test's working folder, removed afterwards.
struct scratch_dir {
  std::filesystem::path path;
  scratch_dir() {
    std::random_device r;
    do path = std::filesystem::current_path() / ("scratch." + std::to_string(r()));
    while (!std::filesystem::create_directory(path));
  }
  ~scratch_dir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  // The UTF-8 name of `name` inside the folder.
  std::string operator/(const std::string& name) const {
    const std::u8string s = (path / utf8_path(name)).u8string();
    return {s.begin(), s.end()};
  }
  std::string put(const std::string& name, const bytes& b) const {
    std::string p = *this / name;
    write_bytes(p, b);
    return p;
  }
};

// Writes `b` as `name` in `dir` and opens it into the slot as the header pass
// does, with its output named beside it.
inline run_status open_track(const scratch_dir& dir, const std::string& name, const bytes& b, track_slot& slot) {
  header_info info;
  if (!init_track(slot.t)) return STATUS_NO_MEMORY;
  slot.output_name = dir / (name + ".raw");
  return read_wav_header(slot, dir.put(name, b).c_str(), info);
}
