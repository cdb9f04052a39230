// eqalign-pack: its command line, and the run that cuts one passage of an
// original and its decodes, aligned and level-matched, into a new folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/track.h"
#include "output/output.h"

struct pack_options {
  std::string output;
  // Times in nanoseconds, made frames once the inputs' rate is known.
  bool from_given = false;
  std::uint64_t from = 0;
  bool length_given = false;
  std::uint64_t length = 0;
  std::uint64_t fade = 10'000'000;
  wav_format format = WAV_INT16;
  // The two low-passed references of a MUSHRA test, anchor35.wav and anchor70.wav.
  bool anchors = false;
  // Names that do not give a decode away, shuffled by the seed, and the key beside the folder.
  bool blind = false;
  std::uint64_t seed = 0;
  // A webMUSHRA configuration in the folder.
  bool webmushra = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

// Reads a TIME, seconds ("80", "80.5") or minutes and seconds ("1:20",
// "1:20.5"), as nanoseconds; false when the text is none.
bool parse_time(const std::string& text, std::uint64_t& ns);

// The frame nearest to `ns` at `rate` frames a second; half a frame rounds up.
std::int64_t frames_at(std::uint64_t ns, std::uint32_t rate);

// Reads the command line after the program's name, GNU style: options
// anywhere, long ones abbreviated while unambiguous, "--" ending them. On a
// fault, returns false with `error` saying what is wrong.
bool parse_pack_options(int argc, char** argv, pack_options& options, std::string& error);

// The version line and the options, on standard output.
void print_usage();

// Runs eqalign-pack on the command line with the MAX_FILES slots of `slots`.
// Streams of a run that ends early are left open, as the process exit closes
// them.
run_status run_pack(track_slot* slots, int argc, char** argv);

