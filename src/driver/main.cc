// eqalign: aligns lossy decodes with their original in time and level and
// writes every file as 16-bit raw PCM for an ABC/HR listening test.
#include "core/program.h"
#include "driver/run.h"

namespace {

track_slot slots[MAX_FILES];

}  // namespace

int main(int argc, char** argv) {
  bool complete = false;
  const run_status status = run_program(argc, argv, "eqalign", "\r\n", [&](int count, char** arguments) {
    return run_eqalign(slots, count, arguments, complete);
  });
  // Lets a window that the run opened show the report before it closes.
  if (complete && status == STATUS_OK) pause_one_second();
  return status;
}
