#include "core/say.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

bool plain = false;
std::string* kept = nullptr;

}  // namespace

void say(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  if (!plain) {
    std::vprintf(format, args);
    va_end(args);
    return;
  }
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.pop_back();
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  std::fputs(lines.c_str(), stdout);
  if (kept != nullptr) *kept += lines;
}

void say_plain_lines(std::string* copy) {
  plain = true;
  kept = copy;
}
