// Every line the programs print goes through say(): eqalign's report ends
// its lines "\r\n", as it always has; eqalign-pack's end in "\n", and what it
// prints is also kept for the report in its folder. Components write "\r\n".
#pragma once

#include <string>

#ifdef __MINGW_PRINTF_FORMAT
#define SAY_FORMAT __MINGW_PRINTF_FORMAT
#else
#define SAY_FORMAT printf
#endif

// Prints as printf does, through the line ends chosen.
void say(const char* format, ...) __attribute__((format(SAY_FORMAT, 1, 2)));

// From now on every "\r\n" printed is "\n", and everything printed is also
// appended to `copy` (none when null). Set once, before a run prints.
void say_plain_lines(std::string* copy);
