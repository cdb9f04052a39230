// What both programs do around their run: the process prepared, interrupts
// watched, the arguments read as UTF-8, memory that runs out caught from the
// arguments on, and a report that cannot be written made a failure.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/out_of_memory.h"
#include "platform/platform.h"

// Runs `run(argc, argv)` (a run_status) on the program's arguments; `name`
// and `line_end` make the line of a lost report. Returns the exit status.
template <class Run>
run_status run_program(int argc, char** argv, const char* name, const char* line_end, const Run& run) {
  prepare_process();
  watch_interrupts();
  run_status status = unless_out_of_memory([&] {
    std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& a : arguments) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run(static_cast<int>(arguments.size()), pointers.data());
  });
  // The report is half of the result: a run whose report is lost has failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "%s: cannot write the report.%s", name, line_end);
    if (status == STATUS_OK) status = STATUS_OUTPUT_FAILED;
  }
  return status;
}
