// eqalign-pack: cuts one passage of an original and its decodes, aligned
// and level-matched over that passage, into a new folder of WAV files.
#include "core/program.h"
#include "pack/pack.h"

namespace {

track_slot slots[MAX_FILES];

}  // namespace

int main(int argc, char** argv) {
  return run_program(argc, argv, "eqalign-pack", "\n",
                     [](int count, char** arguments) { return run_pack(slots, count, arguments); });
}
