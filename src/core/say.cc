#include "core/say.h"

#include <cstdio>
#include <string>

namespace {

bool plain = false;
std::string* kept = nullptr;

}  // namespace

void say_text(const std::string& text) {
  if (!plain) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  if (kept != nullptr) *kept += lines;
}

void say_plain_lines(std::string* copy) {
  plain = true;
  kept = copy;
}
