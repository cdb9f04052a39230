#include "core/say.h"

#include <cstdio>
#include <new>
#include <string>

namespace {

bool plain = false;
std::string* kept = nullptr;
bool lost = false;

// Prints a run of bytes that holds no line end to change, and keeps it.
void put(const char* text, std::size_t size) {
  std::fwrite(text, 1, size, stdout);
  if (kept == nullptr) return;
  try {
    kept->append(text, size);
  } catch (const std::bad_alloc&) {
    // Told by say_copy_complete: the report is then not written.
    lost = true;
  }
}

}  // namespace

void say_text(const char* text, std::size_t size) {
  if (!plain) {
    std::fwrite(text, 1, size, stdout);
    return;
  }
  std::size_t from = 0;
  for (std::size_t i = 0; i + 1 < size; ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') {
      put(text + from, i - from);
      from = i + 1;
    }
  }
  put(text + from, size - from);
}

void say_plain_lines(std::string* copy) {
  plain = true;
  kept = copy;
}

bool say_copy_complete() { return !lost; }
