#include "platform/temporaries.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "platform/platform.h"

namespace {

// A longer name cannot be opened on any system this runs on.
constexpr std::size_t NAME_BYTES = 4096;
// Plain arrays, which nothing frees, not even at exit, when an interrupt
// may still come; an empty name is a free place.
char temporaries[TEMPORARY_MAX][NAME_BYTES];

// The first free place of the table, or -1 (EMFILE recorded) when it is full.
int free_place() {
  for (int place = 0; place < TEMPORARY_MAX; ++place) {
    if (temporaries[place][0] == '\0') return place;
  }
  record_failure(EMFILE);
  return -1;
}

bool fits(const std::string& name) {
  if (name.size() < NAME_BYTES) return true;
  record_failure(ENAMETOOLONG);
  return false;
}

// Makes a new temporary beside `beside` through `make(candidate, taken)` and
// remembers it, trying further names while the ones tried are taken.
template <class Make>
bool claim(const std::string& beside, unsigned long pid, const Make& make, std::string& name) {
  const std::string folder = beside.substr(0, folder_length(beside));
  name.clear();
  const int place = free_place();
  if (place < 0) return false;
  static unsigned serial;
  // A name that a crashed run of the same process number may have left, or
  // another machine's run in a shared folder, is passed over.
  for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
    const std::string candidate = folder + ".eqalign-" + std::to_string(pid) + "-" + std::to_string(serial++) + ".tmp";
    if (!fits(candidate)) return false;
    bool taken = false;
    if (!make(candidate, taken)) {
      if (taken) continue;
      return false;
    }
    std::memcpy(temporaries[place], candidate.c_str(), candidate.size() + 1);
    name = candidate;
    return true;
  }
  record_failure(EEXIST);
  return false;
}

}  // namespace

std::FILE* create_remembered(const std::string& beside, unsigned long pid,
                             std::FILE* (*create_new)(const std::string& name, bool& taken), std::string& name) {
  std::FILE* out = nullptr;
  claim(
      beside, pid,
      [&](const std::string& candidate, bool& taken) {
        out = create_new(candidate, taken);
        return out != nullptr;
      },
      name);
  return out;
}

bool create_remembered_folder(const std::string& beside, unsigned long pid,
                              bool (*make_new)(const std::string& name, bool& taken), std::string& name) {
  return claim(beside, pid, make_new, name);
}

std::FILE* create_remembered_at(const std::string& name, std::FILE* (*create_new)(const std::string& name, bool& taken)) {
  const int place = free_place();
  if (place < 0 || !fits(name)) return nullptr;
  bool taken = false;
  std::FILE* out = create_new(name, taken);
  if (out != nullptr) std::memcpy(temporaries[place], name.c_str(), name.size() + 1);
  return out;
}

void forget_temporary(const std::string& name) {
  for (char* t : temporaries) {
    if (name == t) t[0] = '\0';
  }
}

void forget_temporaries_in(const std::string& folder) {
  for (char* t : temporaries) {
    const std::string_view name(t);
    if (name == folder || (name.starts_with(folder) && name.size() > folder.size() && name[folder.size()] == '/'))
      t[0] = '\0';
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
