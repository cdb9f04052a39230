#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/out_of_memory.h"
#include "core/say.h"
#include "output/output.h"
#include "platform/platform.h"

namespace {

// Where an output lands: its folder, by identity, and its last component;
// the whole spelling stands in when the folder does not exist.
struct landing {
  file_identity folder;
  std::string last;
  std::string spelling;
};

std::string folder_of(const std::string& name) { return name.substr(0, folder_length(name)); }

landing landing_of(const std::string& name) {
  const std::size_t at = folder_length(name);
  return {identity_of(at == 0 ? std::string(".") : name.substr(0, at)), name.substr(at), name};
}

bool same_landing(const landing& a, const landing& b) {
  if (a.folder.known != b.folder.known) return false;
  return a.folder.known ? same_file(a.folder, b.folder) && same_last_component(a.last, b.last)
                        : a.spelling == b.spelling;
}

// Temporaries that a killed run left in the output folders would pile up
// unseen; each folder is looked at once, in track order. Nothing is removed:
// the user decides, told what each holds. An output's temporary can be made
// again by another run; an old output moved aside may be its only copy.
run_status name_leftovers(const track_slot* slots, const landing* landings, int wav_num) {
  std::vector<std::string> leftovers;
  for (int i = 0; i < wav_num; ++i) {
    bool seen = false;
    for (int j = 0; j < i && !seen; ++j) {
      seen = landings[i].folder.known ? same_file(landings[i].folder, landings[j].folder)
                                      : folder_of(slots[i].output_name) == folder_of(slots[j].output_name);
    }
    if (seen) continue;
    const std::string folder = folder_of(slots[i].output_name);
    if (!stopped_runs_temporaries(folder, leftovers)) return not_enough_memory();
    for (const std::string& entry : leftovers) {
      const std::string held = output_held_by(entry);
      say("Note: %s%s is left from a stopped run; ", folder.c_str(), entry.c_str());
      if (held.empty()) {
        say("%s", "it can be removed.\r\n");
      } else if (held.ends_with(".raw")) {
        say("it holds the previous %s%s.\r\n", folder.c_str(), held.c_str());
      } else {
        say("it holds the previous output whose name begins %s%s.\r\n", folder.c_str(), held.c_str());
      }
    }
  }
  return STATUS_OK;
}

}  // namespace

std::string output_name(const std::string& input_name) {
  // Only the file's own name is cut: a folder named "album.32b.wav.d" stays.
  return input_name.substr(0, input_name.find(".32b.wav", folder_length(input_name))) + ".raw";
}

run_status output_unavailable(const std::string& name) {
  say("Output path is not available.\r\nIn file : %s.\r\nReason : %s.\r\n", name.c_str(), failure_reason());
  return STATUS_OUTPUT_FAILED;
}

run_status cannot_write(const std::string& name) {
  say("Cannot write output file : %s.\r\nReason : %s.\r\n", name.c_str(), failure_reason());
  return STATUS_OUTPUT_FAILED;
}

run_status check_output_names(track_slot* slots, int wav_num) {
  landing landings[MAX_FILES];
  for (int i = 0; i < wav_num; ++i) {
    slots[i].output_name = output_name(slots[i].path);
    landings[i] = landing_of(slots[i].output_name);
  }
  for (int i = 0; i < wav_num; ++i) {
    const std::string& name = slots[i].output_name;
    const file_identity existing = identity_of(name);
    for (int j = 0; j < wav_num; ++j) {
      if (same_file(existing, slots[j].input)) {
        say("This output would replace an input : %s.\r\n", name.c_str());
        return STATUS_OUTPUT_FAILED;
      }
    }
    for (int j = 0; j < wav_num; ++j) {
      if (j != i && same_landing(landings[i], landings[j])) {
        say("Two inputs would be written to the same output : %s.\r\n", name.c_str());
        return STATUS_OUTPUT_FAILED;
      }
    }
    if (is_directory(name)) {
      record_failure(EISDIR);
      return output_unavailable(name);
    }
    // A file the user protected stays protected, as a plain create would keep it.
    if (is_write_protected(name)) {
      say("This output is write-protected : %s.\r\n", name.c_str());
      return STATUS_OUTPUT_FAILED;
    }
  }
  return name_leftovers(slots, landings, wav_num);
}
