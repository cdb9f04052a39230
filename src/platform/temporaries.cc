#include "platform/temporaries.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

// A longer name cannot be opened on any system this runs on.
constexpr std::size_t NAME_BYTES = 4096;
// Plain arrays, which nothing frees, not even at exit, when an interrupt
// may still come; an empty name is a free place.
char temporaries[TEMPORARY_MAX][NAME_BYTES];

}  // namespace

std::FILE* create_remembered(const std::string& beside, unsigned long pid,
                             std::FILE* (*create_new)(const std::string& name, bool& taken), std::string& name) {
  const std::string folder = beside.substr(0, folder_length(beside));
  name.clear();
  int place = 0;
  while (place < TEMPORARY_MAX && temporaries[place][0] != '\0') ++place;
  if (place == TEMPORARY_MAX) {
    record_failure(EMFILE);
    return nullptr;
  }
  static unsigned serial;
  // A name that a crashed run of the same process number may have left, or
  // another machine's run in a shared folder, is passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + ".eqalign-" + std::to_string(pid) + "-" + std::to_string(serial++) + ".tmp";
    if (candidate.size() >= NAME_BYTES) {
      record_failure(ENAMETOOLONG);
      return nullptr;
    }
    bool taken = false;
    std::FILE* out = create_new(candidate, taken);
    if (out == nullptr && taken) continue;
    if (out == nullptr) return nullptr;
    std::memcpy(temporaries[place], candidate.c_str(), candidate.size() + 1);
    name = candidate;
    return out;
  }
  record_failure(EEXIST);
  return nullptr;
}

void forget_temporary(const std::string& name) {
  for (char* t : temporaries) {
    if (name == t) t[0] = '\0';
  }
}

const char* temporary_at(int place) { return temporaries[place]; }

namespace {

// The process number in a temporary's name, ".eqalign-<pid>-<n>.tmp"; 0 for
// any other name.
std::uint64_t process_of(const std::string& entry) {
  const std::string head = ".eqalign-";
  const std::string tail = ".tmp";
  if (!entry.starts_with(head) || !entry.ends_with(tail)) return 0;
  const std::string middle = entry.substr(head.size(), entry.size() - head.size() - tail.size());
  const std::size_t dash = middle.find('-');
  const auto digits = [](const std::string& s) {
    return !s.empty() && s.size() <= 10 && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (dash == std::string::npos || !digits(middle.substr(0, dash)) || !digits(middle.substr(dash + 1))) return 0;
  std::uint64_t pid = 0;
  for (std::size_t i = 0; i < dash; ++i) pid = pid * 10 + static_cast<std::uint64_t>(middle[i] - '0');
  return pid;
}

}  // namespace

std::vector<std::string> stopped_among(const std::vector<std::string>& entries, bool (*running)(std::uint64_t pid)) {
  std::vector<std::string> stopped;
  for (const std::string& entry : entries) {
    const std::uint64_t pid = process_of(entry);
    if (pid != 0 && !running(pid)) stopped.push_back(entry);
  }
  std::sort(stopped.begin(), stopped.end());
  return stopped;
}
