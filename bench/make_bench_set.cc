// Writes the whole-run benchmark set into the folder named on the command
// line: a 10-minute original and nine decodes of it, float and integer, with
// delays, gains and a little noise, as a test of ten files would have.
#include <cstdio>
#include <filesystem>
#include <string>

#include "signals.h"
#include "wav_bytes.h"

namespace {

constexpr int RATE = 44100;
constexpr int FRAMES = 10 * 60 * RATE;
// Twenty seconds of music, repeated: quicker to make than ten minutes.
constexpr int PIECE_FRAMES = 20 * RATE;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_bench_set FOLDER\n", stderr);
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::vector<double> piece = music(PIECE_FRAMES, 10);
  std::vector<double> source(static_cast<std::size_t>(FRAMES + 5000) * 2);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = piece[i % piece.size()];
  bool ok = true;
  for (int i = 0; i < 10; ++i) {
    const int delay = i == 0 ? 0 : 150 * i - 500;
    const double gain = i == 0 ? 1.0 : 0.9 + 0.02 * i;
    const std::vector<double> v = decode_of(source, FRAMES, delay, gain, i == 0 ? 0.0 : 0.002, 7 + i);
    const bytes b = i % 2 == 0 ? wav_bytes({.format_tag = 3, .data = as_float_frames(v)})
                               : wav_bytes({.data = as_int_frames(v)});
    ok = write_bytes((dir / (std::to_string(i) + ".wav")).string(), b) && ok;
  }
  return ok ? 0 : 1;
}
