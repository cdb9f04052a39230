// Decoding of the little-endian 32-bit samples of a data chunk.
#pragma once

#include <cstdint>
#include <cstring>

// Brings a signed 32-bit sample to the float scale, where full scale is 1.0.
constexpr double INT_SAMPLE_SCALE = 1.0 / 2147483648.0;

inline std::uint32_t load_u32_le(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t load_int_le(const unsigned char* p) { return static_cast<std::int32_t>(load_u32_le(p)); }

inline float load_float_le(const unsigned char* p) {
  std::uint32_t bits = load_u32_le(p);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// The sample at `p` as read_frames leaves it, in units of full scale; a float
// that is not finite (an infinity, NaN) carries no sound and counts as 0.
inline double sample_value(const unsigned char* p, int is_float) {
  if (is_float == 0) return static_cast<double>(load_int_le(p)) * INT_SAMPLE_SCALE;
  const double v = load_float_le(p);
  // v - v is 0 exactly when v is finite.
  return v - v == 0 ? v : 0.0;
}
