#include <cstdio>
#include <string>

#include "output/output.h"
#include "platform/platform.h"

void discard_temporaries(track_slot* slots, int wav_num) {
  for (int i = 0; i < wav_num; ++i) {
    if (!slots[i].temporary.empty()) remove_file(slots[i].temporary);
    slots[i].temporary.clear();
  }
}

namespace {

// Moves a file found at `name` to a new temporary beside it; `aside` is
// empty when there was none. A folder is never moved.
bool move_aside(const std::string& name, std::string& aside) {
  aside.clear();
  if (!name_exists(name)) return true;
  if (is_directory(name)) return false;
  std::FILE* held = create_temporary(name, aside);
  if (held != nullptr && std::fclose(held) == 0 && replace_file(name, aside)) return true;
  if (held != nullptr) remove_file(aside);
  aside.clear();
  return false;
}

void put_back(const std::string& aside, const std::string& name) {
  if (!replace_file(aside, name))
    std::printf("Note: %s could not be put back and is kept as %s.\r\n", name.c_str(), aside.c_str());
}

}  // namespace

// Moves every temporary over its output name, in track order. A file found
// at a name is first moved aside, so that on a failure, or an interrupt,
// every replaced file is put back: the outputs change together or not at all.
run_status commit_outputs(track_slot* slots, int wav_num) {
  hold_interrupts(true);
  std::string aside[MAX_FILES];
  int placed = 0;
  run_status status = STATUS_OK;
  for (; placed < wav_num; ++placed) {
    track_slot& slot = slots[placed];
    const bool moved = move_aside(slot.output_name, aside[placed]);
    if (!moved || !replace_file(slot.temporary, slot.output_name)) {
      if (!aside[placed].empty()) put_back(aside[placed], slot.output_name);
      status = cannot_write(slot.output_name);
      break;
    }
    slot.temporary.clear();
  }
  const bool undo = status != STATUS_OK || interrupt_waiting();
  for (int i = placed - 1; i >= 0; --i) {
    if (undo && aside[i].empty()) remove_file(slots[i].output_name);
    if (undo && !aside[i].empty()) put_back(aside[i], slots[i].output_name);
    if (!undo && !aside[i].empty()) remove_file(aside[i]);
  }
  discard_temporaries(slots, wav_num);
  // An interrupt that came meanwhile ends the process here; outputs that
  // were put back are never a success.
  hold_interrupts(false);
  return undo ? STATUS_OUTPUT_FAILED : STATUS_OK;
}
