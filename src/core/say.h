// Every line the programs print goes through say(): eqalign's report ends
// its lines "\r\n", as it always has; eqalign-pack's end in "\n", and what it
// prints is also kept for the report in its folder. Components write "\r\n".
#pragma once

#include <cstdio>
#include <string>

// Prints `size` bytes of `text` through the line ends chosen. Allocates
// nothing but the report's copy, which it drops when memory runs out, so
// that the end of a run that ran out of memory can still be told.
void say_text(const char* text, std::size_t size);
inline void say_text(const char* text) { say_text(text, std::char_traits<char>::length(text)); }

// Prints as printf does, through the line ends chosen. Every call gives the
// format at least one argument ("%s" for a text alone).
template <class... Args>
void say(const char* format, const Args&... args) {
  static_assert(sizeof...(Args) > 0, "a format with no argument is said as say(\"%s\", text)");
  const int n = std::snprintf(nullptr, 0, format, args...);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  say_text(text.data(), text.size() - 1);
}

// From now on every "\r\n" printed is "\n", and everything printed is also
// appended to `copy` (none when null). Set once, before a run prints.
void say_plain_lines(std::string* copy);

// Whether the copy holds everything printed: false once memory ran out
// while it grew, and what it holds must not be written as the report.
bool say_copy_complete();
