#include "platform/temporaries.h"

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
  if (place == TEMPORARY_MAX) return nullptr;
  static unsigned serial;
  // A name that a crashed run of the same process number may have left, or
  // another machine's run in a shared folder, is passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + ".eqalign-" + std::to_string(pid) + "-" + std::to_string(serial++) + ".tmp";
    if (candidate.size() >= NAME_BYTES) return nullptr;
    bool taken = false;
    std::FILE* out = create_new(candidate, taken);
    if (out == nullptr && taken) continue;
    if (out == nullptr) return nullptr;
    std::memcpy(temporaries[place], candidate.c_str(), candidate.size() + 1);
    name = candidate;
    return out;
  }
  return nullptr;
}

void forget_temporary(const std::string& name) {
  for (char* t : temporaries) {
    if (name == t) t[0] = '\0';
  }
}

const char* temporary_at(int place) { return temporaries[place]; }
