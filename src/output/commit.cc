#include <cerrno>
#include <cstdio>
#include <string>

#include "core/out_of_memory.h"
#include "core/say.h"
#include "output/output.h"
#include "platform/platform.h"

void discard_temporaries(track_slot* slots, int wav_num) {
  for (int i = 0; i < wav_num; ++i) {
    if (!slots[i].temporary.empty()) remove_file(slots[i].temporary);
    slots[i].temporary.clear();
  }
}

namespace {

// Makes, beside each output that has a file at its name, an empty temporary
// that records the name, for the old file to be moved into. A folder is
// never moved.
run_status make_places_aside(const track_slot* slots, int wav_num, std::string* aside) {
  for (int i = 0; i < wav_num; ++i) {
    const std::string& name = slots[i].output_name;
    if (!name_exists(name)) continue;
    if (is_directory(name)) {
      record_failure(EISDIR);
      return cannot_write(name);
    }
    std::FILE* place = create_temporary(name, aside[i], true);
    if (place == nullptr) return short_of_memory() ? not_enough_memory() : cannot_write(name);
    if (std::fclose(place) != 0) {
      record_failure();
      return cannot_write(name);
    }
  }
  return STATUS_OK;
}

void put_back(const std::string& aside, const std::string& name, bool& held) {
  held = !replace_file(aside, name);
  if (held) say("Note: %s could not be put back and is kept as %s.\r\n", name.c_str(), aside.c_str());
}

}  // namespace

// Moves every temporary over its output name, in track order. A file found
// at a name is first moved aside, so that on a failure every replaced file is
// put back: the outputs change together or not at all. Every name is made
// before the first move, and from there on nothing is allocated, so that
// this holds when memory runs out too. An interrupt waits until every
// output is in place.
run_status commit_outputs(track_slot* slots, int wav_num) {
  hold_interrupts(true);
  // The places aside, and whether each holds its output's old file.
  std::string aside[MAX_FILES];
  bool held[MAX_FILES] = {};
  run_status status = unless_out_of_memory([&] { return make_places_aside(slots, wav_num, aside); });
  int placed = 0;
  for (; status == STATUS_OK && placed < wav_num; ++placed) {
    track_slot& slot = slots[placed];
    const std::string& name = slot.output_name;
    held[placed] = !aside[placed].empty() && replace_file(name, aside[placed]);
    if ((held[placed] || aside[placed].empty()) && replace_file(slot.temporary, name)) {
      slot.temporary.clear();
      continue;
    }
    // The message first: the put-back may fail and say so too.
    status = cannot_write(name);
    if (held[placed]) put_back(aside[placed], name, held[placed]);
    break;
  }
  for (int i = placed - 1; i >= 0 && status != STATUS_OK; --i) {
    const std::string& name = slots[i].output_name;
    if (held[i]) put_back(aside[i], name, held[i]);
    if (aside[i].empty() && !remove_file(name)) say("Note: %s could not be removed.\r\n", name.c_str());
  }
  for (int i = 0; i < wav_num; ++i) {
    // An old file that could not be put back stays where it is, and says so.
    if (aside[i].empty() || (held[i] && status != STATUS_OK)) continue;
    if (!remove_file(aside[i]) && held[i]) {
      say("Note: the old %s, moved aside as %s, could not be removed.\r\n", slots[i].output_name.c_str(),
                  aside[i].c_str());
    }
  }
  discard_temporaries(slots, wav_num);
  // The report is complete: a run that a waiting interrupt now ends keeps it.
  std::fflush(stdout);
  hold_interrupts(false);
  return status;
}
