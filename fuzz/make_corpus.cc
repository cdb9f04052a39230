// Writes the seed corpora of the fuzz targets: FOLDER/header holds WAV files
// of every accepted kind and the usual oddities; FOLDER/run holds pairs of
// short files for a whole run (two length bytes, then the two files).
#include <filesystem>
#include <string>

#include "signals.h"
#include "wav_bytes.h"

namespace {

std::vector<wav_spec> header_seeds() {
  const bytes samples = as_float_frames(music(32, 1));
  const wav_chunk list{"LIST", bytes(26, 'i')};
  const wav_chunk fact{"fact", bytes(4, 0)};
  const wav_chunk odd{"junk", bytes(7, 1)};
  std::vector<wav_spec> s = {
      {.data = samples},
      {.format_tag = 3, .data = samples},
      {.format_tag = 0xFFFE, .fmt_extra = extensible_extra(3), .between = {fact}, .data = samples},
      {.format_tag = 0xFFFE, .fmt_extra = extensible_extra(1), .data = samples},
      {.format_tag = 3, .fmt_extra = bytes{0, 0}, .between = {fact}, .data = samples},
      {.before_fmt = {list, odd}, .between = {fact, list}, .data = samples},
      {.fmt_extra = bytes{0, 0, 0}, .between = {odd}, .data = samples},
      {.rate = 48000, .data = samples},
      {.data_size = 0xFFFFFFFF, .data = samples},
      {.data_size = 0x80000000, .data = samples},
      {.data_size = 0, .data = samples},
      {.riff = "RIFX", .data = samples},
      {.fmt_size = 4, .data = samples},
      {.before_fmt = {{"big ", bytes(4, 0), 0x7FFFFFF0}}, .data = samples},
      {.format_tag = 2, .channels = 1, .data = samples},
      {.byte_rate = 176400, .block_align = 4, .bits = 16, .data = samples},
      {.format_tag = 0xFFFE,
       .byte_rate = 264600,
       .block_align = 6,
       .bits = 24,
       .fmt_extra = extensible_extra(1, 24),
       .data = samples},
      {.format_tag = 0xFFFE, .fmt_extra = extensible_extra(6), .data = samples},
      {.format_tag = 3, .byte_rate = 264600, .data = samples},
  };
  wav_spec many{.data = samples};
  for (int i = 0; i < 9; ++i) many.before_fmt.push_back(fact);
  s.push_back(many);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir / "header");
  std::filesystem::create_directories(dir / "run");
  int n = 0;
  for (const wav_spec& s : header_seeds())
    write_bytes((dir / "header" / ("seed" + std::to_string(n++))).string(), wav_bytes(s));

  // A whole run: a few hundred frames of music behind each header, and a size
  // field that promises more, so that the repeated part makes the second.
  const std::vector<double> m = music(300, 2);
  const std::vector<double> d = decode_of(m, 300, 17, 0.7, 0.001, 3);
  const std::pair<wav_spec, wav_spec> pairs[] = {
      {{.format_tag = 3, .data_size = 0xFFFFFFFF, .data = as_float_frames(m)},
       {.format_tag = 3, .data_size = 0xFFFFFFFF, .data = as_float_frames(d)}},
      {{.data_size = 0xFFFFFFFF, .data = as_int_frames(m)},
       {.format_tag = 0xFFFE, .fmt_extra = extensible_extra(3), .data_size = 0xFFFFFFFF, .data = as_float_frames(d)}},
      {{.before_fmt = {{"LIST", bytes(5, 'x')}}, .data_size = 400000, .data = as_int_frames(m)},
       {.format_tag = 3, .between = {{"fact", bytes(4, 0)}}, .data_size = 0x80000000, .data = as_float_frames(d)}},
      // 16-bit and 24-bit files.
      {{.byte_rate = 176400, .block_align = 4, .bits = 16, .data_size = 0xFFFFFFFF, .data = as_int_frames(m, 2)},
       {.byte_rate = 264600, .block_align = 6, .bits = 24, .data_size = 0xFFFFFFFF, .data = as_int_frames(d, 3)}},
  };
  n = 0;
  for (const auto& [a, b] : pairs) {
    const bytes fa = wav_bytes(a);
    const bytes fb = wav_bytes(b);
    bytes seed{static_cast<unsigned char>(fa.size() & 0xFF), static_cast<unsigned char>(fa.size() >> 8)};
    seed.insert(seed.end(), fa.begin(), fa.end());
    seed.insert(seed.end(), fb.begin(), fb.end());
    write_bytes((dir / "run" / ("seed" + std::to_string(n++))).string(), seed);
  }
  return 0;
}
