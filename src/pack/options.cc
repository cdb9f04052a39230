#include <cstdio>
#include <cstring>
#include <string>

#include "pack/pack.h"

namespace {

// Where the whole story is told; both come with every download.
constexpr const char* DOCUMENTATION = "see README.md and the eqalign-pack manual page";
constexpr std::uint64_t NS_PER_SECOND = 1'000'000'000;
// Longest TIME and MS taken: 10^7 seconds, so that frames at any rate fit 64 bits.
constexpr std::size_t MAX_SECOND_DIGITS = 7;
constexpr std::size_t MAX_MINUTE_DIGITS = 5;

bool all_digits(const std::string& s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos; }

std::uint64_t number_of(const std::string& digits) {
  std::uint64_t n = 0;
  for (char c : digits) n = n * 10 + static_cast<std::uint64_t>(c - '0');
  return n;
}

// A decimal number of 64 bits: digits only, at most 2^64 - 1.
bool parse_seed(const std::string& text, std::uint64_t& seed) {
  constexpr std::uint64_t MAX = ~std::uint64_t{0};
  if (!all_digits(text)) return false;
  std::uint64_t n = 0;
  for (char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (n > (MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  seed = n;
  return true;
}

// "digits" or "digits.digits", at most `whole` digits before the point and
// `places` after it, in units of 10^-places.
bool parse_decimal(const std::string& text, std::size_t whole, std::size_t places, std::uint64_t& units) {
  const std::size_t point = text.find('.');
  const std::string head = text.substr(0, point);
  const std::string tail = point == std::string::npos ? "" : text.substr(point + 1);
  if (!all_digits(head) || head.size() > whole || tail.size() > places) return false;
  if (point != std::string::npos && !all_digits(tail)) return false;
  std::uint64_t scale = 1;
  for (std::size_t i = 0; i < places; ++i) scale *= 10;
  std::uint64_t fraction = number_of(tail);
  for (std::size_t i = tail.size(); i < places; ++i) fraction *= 10;
  units = number_of(head) * scale + fraction;
  return true;
}

// Milliseconds to the nanosecond: a millionth of a millisecond is the unit.
bool parse_ms(const std::string& text, std::uint64_t& ns) { return parse_decimal(text, MAX_SECOND_DIGITS, 6, ns); }

struct long_option {
  const char* name;
  bool takes_value;
};
constexpr long_option LONG_OPTIONS[] = {{"output", true}, {"from", true},     {"length", true}, {"fade", true},
                                        {"format", true}, {"anchors", false}, {"blind", true},  {"webmushra", false},
                                        {"help", false},  {"version", false}};

// The option whose name `given` is or begins, when only one does.
const long_option* find_long(const std::string& given, std::string& error) {
  const long_option* found = nullptr;
  int matches = 0;
  for (const long_option& o : LONG_OPTIONS) {
    if (given == o.name) return &o;
    if (std::strncmp(o.name, given.c_str(), given.size()) == 0) {
      found = &o;
      ++matches;
    }
  }
  if (matches == 1) return found;
  error = "option '--" + given + (matches == 0 ? "' is unknown." : "' is ambiguous.");
  return nullptr;
}

bool take_value(const std::string& name, const std::string& value, pack_options& o, std::string& error) {
  const auto time = [&](bool& given, std::uint64_t& ns) {
    given = parse_time(value, ns);
    if (!given) error = "'" + value + "' is no TIME for --" + name + ": give seconds (80, 80.5) or m:ss (1:20.5).";
    return given;
  };
  if (name == "output") {
    o.output = value;
    if (value.empty()) error = "the output folder's name is empty.";
    return !value.empty();
  }
  if (name == "from") return time(o.from_given, o.from);
  if (name == "length") return time(o.length_given, o.length);
  if (name == "fade") {
    if (parse_ms(value, o.fade)) return true;
    error = "'" + value + "' is no MS for --fade: give milliseconds (10, 2.5; 0 for none).";
    return false;
  }
  if (name == "blind") {
    o.blind = parse_seed(value, o.seed);
    if (!o.blind) error = "'" + value + "' is no SEED for --blind: give a whole number from 0 to 18446744073709551615.";
    return o.blind;
  }
  if (value == "wav16" || value == "wav24" || value == "float") {
    o.format = value == "wav16" ? WAV_INT16 : value == "wav24" ? WAV_INT24 : WAV_FLOAT;
    return true;
  }
  error = "'" + value + "' is no format for --format: give wav16, wav24 or float.";
  return false;
}

}  // namespace

void print_usage() {
  std::printf("eqalign-pack %s (%s)\n", EQALIGN_VERSION, DOCUMENTATION);
  std::fputs(
      "Cuts one passage of an original and its decodes, aligned and level-matched\n"
      "over that passage, into a new folder of WAV files for a listening test.\n\n"
      "usage: eqalign-pack -o DIR [options] original.wav decode.wav [decode.wav ...]\n"
      "  -o, --output DIR   the folder to write; it must not exist yet\n"
      "      --from TIME    where the passage starts in the original: seconds (80,\n"
      "                     80.5) or m:ss (1:20.5); default: where every file has sound\n"
      "      --length TIME  the passage's length; default: to the end of the shortest file\n"
      "      --fade MS      fade-in and fade-out in milliseconds (default 10; 0: none)\n"
      "      --format F     wav16 (default), wav24 or float\n"
      "      --anchors      also anchor35.wav and anchor70.wav: the original low-passed\n"
      "                     at 3.5 and 7 kHz, the anchors of a MUSHRA test\n"
      "      --blind SEED   names the decodes and anchors C1.wav, C2.wav, ... in an order\n"
      "                     shuffled by SEED (0 to 18446744073709551615), and writes\n"
      "                     which is which to DIR.key.csv beside the folder\n"
      "      --webmushra    also DIR/webmushra.yaml, a webMUSHRA test of the folder\n"
      "                     (at most 12 s and 12 stimuli)\n"
      "  -h, --help         this text\n"
      "      --version      the version\n"
      "  --                 ends the options: what follows are files\n",
      stdout);
}

bool parse_time(const std::string& text, std::uint64_t& ns) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return parse_decimal(text, MAX_SECOND_DIGITS, 9, ns);
  const std::string minutes = text.substr(0, colon);
  const std::string seconds = text.substr(colon + 1);
  std::uint64_t second_ns = 0;
  // Two digits of seconds, below 60, and any fraction.
  if (!all_digits(minutes) || minutes.size() > MAX_MINUTE_DIGITS || seconds.size() < 2 || seconds[0] > '5' ||
      (seconds.size() > 2 && seconds[2] != '.') || !parse_decimal(seconds, 2, 9, second_ns))
    return false;
  ns = number_of(minutes) * 60 * NS_PER_SECOND + second_ns;
  return true;
}

std::int64_t frames_at(std::uint64_t ns, std::uint32_t rate) {
  return static_cast<std::int64_t>(ns / NS_PER_SECOND * rate +
                                   (ns % NS_PER_SECOND * rate + NS_PER_SECOND / 2) / NS_PER_SECOND);
}

bool parse_pack_options(int argc, char** argv, pack_options& o, std::string& error) {
  o = pack_options{};
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      o.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg[1] == '-') {
      const std::size_t equals = arg.find('=');
      const long_option* option =
          find_long(arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2), error);
      if (option == nullptr) return false;
      const std::string name = option->name;
      if (!option->takes_value) {
        if (equals != std::string::npos) {
          error = "option '--" + name + "' takes no value.";
          return false;
        }
        bool& flag = name == "help"      ? o.help
                     : name == "version" ? o.version
                     : name == "anchors" ? o.anchors
                                         : o.webmushra;
        flag = true;
        continue;
      }
      if (equals == std::string::npos && i + 1 == argc) {
        error = "option '--" + name + "' needs a value.";
        return false;
      }
      if (!take_value(name, equals == std::string::npos ? argv[++i] : arg.substr(equals + 1), o, error)) return false;
      continue;
    }
    // Short options, which may be joined: -h, -o DIR, -oDIR, -ho DIR.
    for (std::size_t at = 1; at < arg.size(); ++at) {
      if (arg[at] == 'h') {
        o.help = true;
        continue;
      }
      if (arg[at] != 'o') {
        error = std::string("option '-") + arg[at] + "' is unknown.";
        return false;
      }
      if (at + 1 == arg.size() && i + 1 == argc) {
        error = "option '-o' needs a value.";
        return false;
      }
      if (!take_value("output", at + 1 < arg.size() ? arg.substr(at + 1) : argv[++i], o, error)) return false;
      break;
    }
  }
  if (o.help || o.version) return true;
  if (o.output.empty()) {
    error = "no output folder: give -o DIR.";
    return false;
  }
  if (o.files.size() < 2 || o.files.size() > MAX_FILES) {
    error = "give the original and 1 to " + std::to_string(MAX_FILES - 1) + " decodes; " +
            std::to_string(o.files.size()) + (o.files.size() == 1 ? " file was" : " files were") + " named.";
    return false;
  }
  return true;
}
