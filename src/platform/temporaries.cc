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
constexpr const char* HEAD = ".eqalign-";
constexpr const char* PLAIN_TAIL = ".tmp";
constexpr const char* OLD_MARK = ".old.";
// The output's name that an old file's temporary records: 255 bytes, the
// longest last component of common file systems, less the rest of its name
// with a process number and a serial of 10 digits each.
constexpr std::size_t RECORDED_BYTES = 255 - 9 - 10 - 1 - 10 - 5;
// Plain arrays, which nothing frees, not even at exit, when an interrupt
// may still come; an empty name is a free place.
char temporaries[TEMPORARY_MAX][NAME_BYTES];

// The output's last component as an old file's temporary records it: whole
// when it fits, else cut at the start of a character and never left ending
// in ".raw", so that a cut name is told from a whole one.
std::string recorded_output(std::string last) {
  if (last.size() <= RECORDED_BYTES) return last;
  std::size_t n = RECORDED_BYTES;
  while (n > 0 && (static_cast<unsigned char>(last[n]) & 0xC0) == 0x80) --n;
  last.resize(n);
  while (last.ends_with(".raw")) last.pop_back();
  return last;
}

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

// Makes a new temporary beside `beside` through `make(candidate, taken)`,
// named `tail` after its process and serial, and remembers it, trying further
// names while the ones tried are taken.
template <class Make>
bool claim(const std::string& beside, unsigned long pid, const std::string& tail, const Make& make,
           std::string& name) {
  name.clear();
  const int place = free_place();
  if (place < 0) return false;
  const std::string head = beside.substr(0, folder_length(beside)) + HEAD + std::to_string(pid) + "-";
  static unsigned serial;
  // A name that a crashed run of the same process number may have left, or
  // another machine's run in a shared folder, is passed over. Every name is
  // made before its file: once the file is there, nothing can fail.
  for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
    std::string candidate = head;
    candidate += std::to_string(serial++);
    candidate += tail;
    if (!fits(candidate)) return false;
    bool taken = false;
    if (!make(candidate, taken)) {
      if (taken) continue;
      return false;
    }
    std::memcpy(temporaries[place], candidate.c_str(), candidate.size() + 1);
    name.swap(candidate);
    return true;
  }
  record_failure(EEXIST);
  return false;
}

}  // namespace

std::FILE* create_remembered(const std::string& beside, unsigned long pid,
                             std::FILE* (*create_new)(const std::string& name, bool& taken), std::string& name,
                             bool old_output) {
  const std::size_t at = folder_length(beside);
  const std::string tail = old_output ? OLD_MARK + recorded_output(beside.substr(at)) : PLAIN_TAIL;
  std::FILE* out = nullptr;
  claim(
      beside, pid, tail,
      [&](const std::string& candidate, bool& taken) {
        out = create_new(candidate, taken);
        return out != nullptr;
      },
      name);
  return out;
}

bool create_remembered_folder(const std::string& beside, unsigned long pid,
                              bool (*make_new)(const std::string& name, bool& taken), std::string& name) {
  return claim(beside, pid, PLAIN_TAIL, make_new, name);
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

void forget_temporaries() {
  for (char* t : temporaries) t[0] = '\0';
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

// The process number in a temporary's name and the output it holds the old
// file of (see create_temporary); process 0 for any other name.
struct temporary_parts {
  std::uint64_t pid = 0;
  std::string output;
};

// Reads a number of 1 to 10 digits at `at`, and moves past it.
bool read_number(const std::string& text, std::size_t& at, std::uint64_t& value) {
  const std::size_t from = at;
  for (value = 0; at < text.size() && at - from < 10 && text[at] >= '0' && text[at] <= '9'; ++at)
    value = value * 10 + static_cast<std::uint64_t>(text[at] - '0');
  return at > from;
}

temporary_parts parts_of(const std::string& entry) {
  std::size_t at = std::strlen(HEAD);
  std::uint64_t pid = 0;
  std::uint64_t serial = 0;
  if (!entry.starts_with(HEAD) || !read_number(entry, at, pid) || entry.compare(at, 1, "-") != 0 ||
      !read_number(entry, ++at, serial))
    return {};
  const std::string rest = entry.substr(at);
  const std::size_t mark = std::strlen(OLD_MARK);
  if (rest == PLAIN_TAIL) return {pid, ""};
  if (rest.size() > mark && rest.starts_with(OLD_MARK)) return {pid, rest.substr(mark)};
  return {};
}

}  // namespace

std::string output_held_by(const std::string& temporary) { return parts_of(temporary).output; }

std::vector<std::string> stopped_among(const std::vector<std::string>& entries, bool (*running)(std::uint64_t pid)) {
  std::vector<std::string> stopped;
  for (const std::string& entry : entries) {
    const std::uint64_t pid = parts_of(entry).pid;
    if (pid != 0 && !running(pid)) stopped.push_back(entry);
  }
  std::sort(stopped.begin(), stopped.end());
  return stopped;
}
