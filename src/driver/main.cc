// eqalign: aligns lossy decodes with their original in time and level and
// writes every file as 16-bit raw PCM for an ABC/HR listening test.
#include <chrono>
#include <cstdio>
#include <thread>

#include "driver/run.h"

namespace {

// Lets a window that the run opened show the report before it closes.
constexpr auto PAUSE = std::chrono::milliseconds(1000);

track_slot slots[MAX_FILES];

}  // namespace

int main(int argc, char** argv) {
  bool complete = false;
  const run_status status = run_eqalign(slots, argc, argv, complete);
  if (complete) {
    std::fflush(stdout);
    std::this_thread::sleep_for(PAUSE);
  }
  return status;
}
