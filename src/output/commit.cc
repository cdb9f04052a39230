#include <cerrno>
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
  if (is_directory(name)) {
    record_failure(EISDIR);
    return false;
  }
  std::FILE* held = create_temporary(name, aside);
  if (held == nullptr) return false;
  const bool closed = std::fclose(held) == 0;
  if (!closed) record_failure();
  if (closed && replace_file(name, aside)) return true;
  remove_file(aside);
  aside.clear();
  return false;
}

void put_back(const std::string& aside, const std::string& name) {
  if (!replace_file(aside, name))
    std::printf("Note: %s could not be put back and is kept as %s.\r\n", name.c_str(), aside.c_str());
}

}  // namespace

// Moves every temporary over its output name, in track order. A file found
// at a name is first moved aside, so that on a failure every replaced file is
// put back: the outputs change together or not at all. An interrupt waits
// until every output is in place.
run_status commit_outputs(track_slot* slots, int wav_num) {
  hold_interrupts(true);
  std::string aside[MAX_FILES];
  int placed = 0;
  run_status status = STATUS_OK;
  for (; placed < wav_num; ++placed) {
    track_slot& slot = slots[placed];
    if (!move_aside(slot.output_name, aside[placed]) || !replace_file(slot.temporary, slot.output_name)) {
      // The message first: the put-back may fail and say so too.
      status = cannot_write(slot.output_name);
      if (!aside[placed].empty()) put_back(aside[placed], slot.output_name);
      break;
    }
    slot.temporary.clear();
  }
  for (int i = placed - 1; i >= 0; --i) {
    const std::string& name = slots[i].output_name;
    if (status != STATUS_OK && aside[i].empty() && !remove_file(name))
      std::printf("Note: %s could not be removed.\r\n", name.c_str());
    if (status != STATUS_OK && !aside[i].empty()) put_back(aside[i], name);
    if (status == STATUS_OK && !aside[i].empty() && !remove_file(aside[i]))
      std::printf("Note: the old %s, moved aside as %s, could not be removed.\r\n", name.c_str(), aside[i].c_str());
  }
  discard_temporaries(slots, wav_num);
  // The report is complete: a run that a waiting interrupt now ends keeps it.
  std::fflush(stdout);
  hold_interrupts(false);
  return status;
}
