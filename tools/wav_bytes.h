// Builds the bytes of WAV files in code, so that every test names only the
// fields it changes: wav_bytes({.format_tag = 3, .channels = 1}).
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using bytes = std::vector<unsigned char>;

struct wav_chunk {
  std::string id;
  bytes body;
  // Written as given when not negative; else the body's length.
  std::int64_t size_field = -1;
  // RIFF pads an odd body with one byte; a broken writer may not.
  bool pad = true;
};

struct wav_spec {
  std::string riff = "RIFF";
  std::string wave = "WAVE";
  std::vector<wav_chunk> before_fmt;
  std::int64_t fmt_size = -1;  // -1: the body's length
  std::uint16_t format_tag = 1;
  std::uint16_t channels = 2;
  std::uint32_t rate = 44100;
  std::int64_t byte_rate = -1;  // -1: 8 times the rate
  std::uint16_t block_align = 8;
  std::uint16_t bits = 32;
  bytes fmt_extra;  // fmt body bytes after the first 16
  std::vector<wav_chunk> between;
  std::int64_t data_size = -1;  // -1: the bytes of `data`
  bytes data;
  std::vector<wav_chunk> after_data;
};

inline void put_le(bytes& b, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

inline void put_id(bytes& b, const std::string& id) {
  for (int i = 0; i < 4; ++i) b.push_back(i < static_cast<int>(id.size()) ? static_cast<unsigned char>(id[i]) : ' ');
}

inline void put_chunk(bytes& b, const wav_chunk& c) {
  put_id(b, c.id);
  put_le(b, c.size_field >= 0 ? static_cast<std::uint64_t>(c.size_field) : c.body.size(), 4);
  b.insert(b.end(), c.body.begin(), c.body.end());
  if (c.pad && c.body.size() % 2 == 1) b.push_back(0);
}

inline bytes wav_bytes(const wav_spec& s) {
  bytes fmt;
  put_le(fmt, s.format_tag, 2);
  put_le(fmt, s.channels, 2);
  put_le(fmt, s.rate, 4);
  put_le(fmt, s.byte_rate >= 0 ? static_cast<std::uint64_t>(s.byte_rate) : std::uint64_t{s.rate} * 8, 4);
  put_le(fmt, s.block_align, 2);
  put_le(fmt, s.bits, 2);
  fmt.insert(fmt.end(), s.fmt_extra.begin(), s.fmt_extra.end());

  bytes b;
  put_id(b, s.riff);
  put_le(b, 0, 4);
  put_id(b, s.wave);
  for (const wav_chunk& c : s.before_fmt) put_chunk(b, c);
  put_chunk(b, {"fmt ", fmt, s.fmt_size});
  for (const wav_chunk& c : s.between) put_chunk(b, c);
  put_chunk(b, {"data", s.data, s.data_size});
  for (const wav_chunk& c : s.after_data) put_chunk(b, c);
  const std::uint64_t riff_size = b.size() - 8;
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<unsigned char>(riff_size >> (8 * i));
  return b;
}

// The 24 bytes that follow the common 16 in an extensible fmt body, naming
// the sub-format of that tag: 1 integer PCM, 3 IEEE float, 6 A-law.
inline bytes extensible_extra(std::uint16_t subformat, std::uint16_t valid_bits = 32) {
  bytes b;
  put_le(b, 22, 2);  // extension size
  put_le(b, valid_bits, 2);
  put_le(b, 3, 4);  // front left and right
  put_le(b, subformat, 4);
  const unsigned char tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  b.insert(b.end(), tail, tail + 12);
  return b;
}

// Stereo frames from interleaved left, right values.
inline bytes int_frames(const std::vector<std::int32_t>& samples) {
  bytes b;
  for (std::int32_t v : samples) put_le(b, static_cast<std::uint32_t>(v), 4);
  return b;
}

inline bytes float_frames(const std::vector<float>& samples) {
  bytes b;
  for (float v : samples) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put_le(b, bits, 4);
  }
  return b;
}

// A path from UTF-8 text, whatever the system's own code page.
inline std::filesystem::path utf8_path(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline bool write_bytes(const std::string& path, const bytes& b) {
  std::ofstream f(utf8_path(path), std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return static_cast<bool>(f);
}

inline bytes read_bytes(const std::string& path) {
  std::ifstream f(utf8_path(path), std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
