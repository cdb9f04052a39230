#include <cstdio>
#include <string>
#include <vector>

#include "core/say.h"
#include "output/output.h"
#include "platform/platform.h"

std::string pack_name(const std::string& input_name) {
  const std::string file = input_name.substr(folder_length(input_name));
  std::string lower = file;
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  // ".32b.wav" holds ".wav" later on: the first of either is where the cut falls.
  return file.substr(0, std::min(lower.find(".32b.wav"), lower.find(".wav"))) + ".wav";
}

run_status check_pack_names(const std::vector<std::string>& inputs, std::vector<std::string>& names) {
  names.assign(1, REFERENCE_NAME);
  for (std::size_t i = 1; i < inputs.size(); ++i) {
    names.push_back(pack_name(inputs[i]));
    for (std::size_t j = 0; j < i; ++j) {
      if (!same_last_component(names[i], names[j])) continue;
      if (j == 0) {
        say("The output of %s would be %s, the original's; rename the decode.\n", inputs[i].c_str(),
                    REFERENCE_NAME);
      } else {
        say("Two decodes would be written to the same output %s: %s and %s; rename one.\n",
                    names[i].c_str(), inputs[j].c_str(), inputs[i].c_str());
      }
      return STATUS_OUTPUT_FAILED;
    }
  }
  return STATUS_OK;
}
