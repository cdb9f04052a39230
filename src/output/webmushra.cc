#include <string>

#include "output/output.h"
#include "platform/platform.h"

namespace {

// Where webMUSHRA's own folders keep the audio of a test, from its root.
constexpr const char* AUDIO_FOLDER = "configs/resources/audio/";
// One of the sizes webMUSHRA takes; the one its examples use.
constexpr int BUFFER_SIZE = 2048;
constexpr const char* INSTRUCTIONS = "Rate the basic audio quality of each condition against the reference.";

// A YAML scalar in double quotes, any bytes safe: backslash and quote escaped,
// and control characters, which a quoted scalar may not hold as they are.
std::string quoted(const std::string& text) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string q = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      q += '\\';
      q += c;
    } else if (u < 0x20 || u == 0x7F) {
      q += "\\x";
      q += HEX[u >> 4];
      q += HEX[u & 15];
    } else {
      q += c;
    }
  }
  return q + "\"";
}

// A file's place as the browser fetches it. Its two names never hold a
// slash; the characters that a URL reads as a query, a fragment, an escape
// or (as browsers do) a slash are escaped.
std::string url_of(const std::string& folder, const std::string& file) {
  std::string url = AUDIO_FOLDER;
  std::string path = folder;
  path += '/';
  path += file;
  for (char c : path) {
    if (c == '%' || c == '#' || c == '?' || c == '\\') {
      url += c == '%' ? "%25" : c == '#' ? "%23" : c == '?' ? "%3F" : "%5C";
    } else {
      url += c;
    }
  }
  return url;
}

}  // namespace

std::string webmushra_yaml(const webmushra_test& test) {
  const std::string last = test.folder.substr(folder_length(test.folder));
  const char* make_anchors = test.anchors_made ? "false" : "true";
  std::string y = "testname: " + quoted(last) + "\n";
  y += "testId: " + quoted(last) + "\n";
  y += "bufferSize: " + std::to_string(BUFFER_SIZE) + "\n";
  y += "stopOnErrors: true\n";
  y += "showButtonPreviousPage: true\n";
  y += "remoteService: \"service/write.php\"\n";
  y += "pages:\n";
  y += "  - type: \"mushra\"\n";
  y += "    id: \"trial1\"\n";
  y += "    name: " + quoted(last) + "\n";
  y += "    content: " + quoted(INSTRUCTIONS) + "\n";
  y += "    showWaveform: true\n";
  y += "    enableLooping: true\n";
  y += "    randomize: true\n";
  y += "    showConditionNames: false\n";
  y += "    reference: " + quoted(url_of(last, test.reference)) + "\n";
  y += std::string("    createAnchor35: ") + make_anchors + "\n";
  y += std::string("    createAnchor70: ") + make_anchors + "\n";
  y += "    stimuli:\n";
  for (const std::string& file : test.stimuli) {
    const std::string condition = file.ends_with(".wav") ? file.substr(0, file.size() - 4) : file;
    y += "      " + quoted(condition) + ": " + quoted(url_of(last, file)) + "\n";
  }
  y += "  - type: \"finish\"\n";
  y += "    name: \"Thank you\"\n";
  y += "    content: \"Thank you for taking part.\"\n";
  y += "    popupContent: \"Your ratings were saved.\"\n";
  y += "    showResults: false\n";
  y += "    writeResults: true\n";
  // No questions asked; the page reads the list whether it is given or not.
  y += "    questionnaire: []\n";
  return y;
}

std::string webmushra_refusal(std::int64_t length, std::uint32_t rate, int stimuli) {
  if (length > static_cast<std::int64_t>(WEBMUSHRA_MAX_SECONDS) * rate) {
    // Milliseconds rounded up, so that a passage just past the limit shows past it.
    const std::int64_t ms = (length * 1000 + rate - 1) / rate;
    return "--webmushra takes a passage of at most " + std::to_string(WEBMUSHRA_MAX_SECONDS) + " s; this one is " +
           std::to_string(ms / 1000) + "." + std::to_string(1000 + ms % 1000).substr(1) + " s (" +
           std::to_string(length) + " frames). Choose a shorter one (--length).\n";
  }
  if (stimuli > WEBMUSHRA_MAX_STIMULI) {
    return "--webmushra takes at most " + std::to_string(WEBMUSHRA_MAX_STIMULI) + " stimuli (decodes and anchors); " +
           "this pack has " + std::to_string(stimuli) + ".\n";
  }
  return "";
}
