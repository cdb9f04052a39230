// eqalign: aligns lossy decodes with their original in time and level and
// writes every file as 16-bit raw PCM for an ABC/HR listening test.
#include <cstdio>
#include <string>
#include <vector>

#include "core/out_of_memory.h"
#include "driver/run.h"
#include "platform/platform.h"

namespace {

track_slot slots[MAX_FILES];

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  watch_interrupts();
  bool complete = false;
  run_status status = unless_out_of_memory([&] {
    std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& a : arguments) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run_eqalign(slots, static_cast<int>(arguments.size()), pointers.data(), complete);
  });
  // The report is half of the result: a run whose report is lost has failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("eqalign: cannot write the report.\r\n", stderr);
    if (status == STATUS_OK) status = STATUS_OUTPUT_FAILED;
    complete = false;
  }
  // Lets a window that the run opened show the report before it closes.
  if (complete) pause_one_second();
  return status;
}
