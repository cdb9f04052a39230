// eqalign-pack: cuts one passage of an original and its decodes, aligned
// and level-matched over that passage, into a new folder of WAV files.
#include <cstdio>
#include <string>
#include <vector>

#include "core/out_of_memory.h"
#include "pack/pack.h"
#include "platform/platform.h"

namespace {

track_slot slots[MAX_FILES];

}  // namespace

int main(int argc, char** argv) {
  prepare_process();
  watch_interrupts();
  // Memory that runs out, from the arguments on, ends the run as eqalign's
  // does: status 10, nothing left.
  run_status status = unless_out_of_memory([&] {
    std::vector<std::string> arguments = utf8_arguments(argc, argv);
    std::vector<char*> pointers;
    pointers.reserve(arguments.size() + 1);
    for (std::string& a : arguments) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return run_pack(slots, static_cast<int>(arguments.size()), pointers.data());
  });
  // The report is half of the result: a run whose report is lost has failed.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("eqalign-pack: cannot write the report.\n", stderr);
    if (status == STATUS_OK) status = STATUS_OUTPUT_FAILED;
  }
  return status;
}
