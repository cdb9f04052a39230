// Every line the programs print goes through say(): eqalign's report ends
// its lines "\r\n", as it always has; eqalign-pack's end in "\n", and what it
// prints is also kept for the report in its folder. Components write "\r\n".
#pragma once

#include <cstdio>
#include <string>

// Prints `text` through the line ends chosen.
void say_text(const std::string& text);

// Prints as printf does, through the line ends chosen. Every call gives the
// format at least one argument ("%s" for a text alone).
template <class... Args>
void say(const char* format, const Args&... args) {
  static_assert(sizeof...(Args) > 0, "a format with no argument is said as say(\"%s\", text)");
  const int n = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  say_text(text);
}

// From now on every "\r\n" printed is "\n", and everything printed is also
// appended to `copy` (none when null). Set once, before a run prints.
void say_plain_lines(std::string* copy);
