// A scratch folder per test or benchmark, inside its working folder.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "wav_bytes.h"

// A fresh folder inside the test's working folder, removed afterwards.
struct scratch_dir {
  std::filesystem::path path;
  scratch_dir() {
    std::string tmpl = (std::filesystem::current_path() / "scratch.XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~scratch_dir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path, ec);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  std::string put(const std::string& name, const bytes& b) const {
    std::string p = *this / name;
    write_bytes(p, b);
    return p;
  }
};
