// Writes a demo set for eqalign into the folder named on the command line: an
// original of a few seconds of music-like sound and four "decodes" of it with
// known delays, gains and a little noise, as decoders write them: 32-bit float,
// 16-bit, packed 24-bit (extensible) and 32-bit integer WAVs.
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
  // Bytes of an integer sample; 0 for 32-bit float.
  int int_bytes;
};

// Delays of the size real encoders and decoders add or remove.
constexpr decode DECODES[] = {
    {"decode_a.32b.wav", 1105, 0.95, 0},
    {"decode_b.32b.wav", 2112, 1.12, 2},
    {"decode_c.32b.wav", -312, 0.80, 3},
    {"decode_d.32b.wav", 0, 1.00, 4},
};

// A WAV of integer samples of `size` bytes; 24-bit in the extensible format,
// as flac writes a 24-bit decode.
bytes integer_wav(const std::vector<double>& v, int size) {
  return wav_bytes({.format_tag = static_cast<std::uint16_t>(size == 3 ? 0xFFFE : 1),
                    .byte_rate = 44100 * 2 * size,
                    .block_align = static_cast<std::uint16_t>(2 * size),
                    .bits = static_cast<std::uint16_t>(8 * size),
                    .fmt_extra = size == 3 ? extensible_extra(1, 24) : bytes{},
                    .data = as_int_frames(v, size)});
}

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
        d.int_bytes == 0 ? wav_bytes({.format_tag = 3, .data = as_float_frames(v)}) : integer_wav(v, d.int_bytes);
    ok = write_bytes((dir / d.name).string(), b) && ok;
    std::printf("%-18s %7d %8.4f %8.4f\n", d.name, d.delay, d.gain, 1.0 / d.gain);
  }
  std::printf("eqalign should find each delay, and a gain near 1/gain:\n\n");
  return ok ? 0 : 1;
}
