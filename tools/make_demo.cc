// Writes a demo set for eqalign into the folder named on the command line: an
// original of a few seconds of music-like sound and four "decodes" of it with
// known delays, gains and a little noise, as 32-bit float and integer WAVs.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "signals.h"
#include "wav_bytes.h"

namespace {

constexpr int DEMO_FRAMES = 5 * 44100;

struct decode {
  const char* name;
  int delay;
  double gain;
  bool is_float;
};

// Delays of the size real encoders and decoders add or remove.
constexpr decode DECODES[] = {
    {"decode_a.32b.wav", 1105, 0.95, true},
    {"decode_b.32b.wav", 2112, 1.12, false},
    {"decode_c.32b.wav", -312, 0.80, true},
    {"decode_d.32b.wav", 0, 1.00, false},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_demo FOLDER\n", stderr);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::vector<double> source = music(DEMO_FRAMES + 3000, 2026);
  // The original starts 2500 frames into the material, so that a decode may
  // also start earlier than it.
  const std::vector<double> original = decode_of(source, DEMO_FRAMES, -2500, 1.0, 0.0, 1);
  bool ok =
      write_bytes((dir / "original.32b.wav").string(), wav_bytes({.format_tag = 3, .data = as_float_frames(original)}));
  std::printf("%-18s %7s %8s %8s\n", "file", "delay", "gain", "1/gain");
  for (const decode& d : DECODES) {
    const std::vector<double> v = decode_of(source, DEMO_FRAMES, d.delay - 2500, d.gain, 0.002, 7);
    const bytes b =
        d.is_float ? wav_bytes({.format_tag = 3, .data = as_float_frames(v)}) : wav_bytes({.data = as_int_frames(v)});
    ok = write_bytes((dir / d.name).string(), b) && ok;
    std::printf("%-18s %7d %8.4f %8.4f\n", d.name, d.delay, d.gain, 1.0 / d.gain);
  }
  std::printf("eqalign should find each delay, and a gain near 1/gain:\n\n");
  return ok ? 0 : 1;
}
