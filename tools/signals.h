// Deterministic test sounds: a music-like stereo signal, shifted and scaled copies.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "wav_bytes.h"

// A small linear congruential generator, so that every platform makes the same sound.
struct noise_source {
  std::uint64_t state;
  double next() {  // uniform in [-1, 1)
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0;
  }
};

// sin(2 pi turns), from additions and multiplications only: the library's
// sin() may round differently on another platform, and the sounds must be
// the same to the bit everywhere.
inline double sine_of_turns(double turns) {
  double x = turns - std::floor(turns);  // [0, 1)
  if (x > 0.5) x -= 1.0;                 // [-0.5, 0.5]
  if (x > 0.25) x = 0.5 - x;             // sin(pi - t) = sin(t)
  if (x < -0.25) x = -0.5 - x;
  const double t = x * 6.283185307179586;  // [-pi/2, pi/2]: Taylor to t^13
  const double t2 = t * t;
  double sum = 1.0 / 6227020800.0;
  for (double k : {-1.0 / 39916800.0, 1.0 / 362880.0, -1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0}) sum = sum * t2 + k;
  return sum * t;
}

// Interleaved stereo values of full scale 1.0: a few notes with harmonics,
// changing every quarter second, and a little noise, so that no two delays
// look alike.
inline std::vector<double> music(int frames, std::uint64_t seed) {
  std::vector<double> out(static_cast<std::size_t>(frames) * 2);
  noise_source noise{seed};
  double freq[3] = {220, 277.2, 329.6};
  for (int n = 0; n < frames; ++n) {
    if (n % 11025 == 0) {
      // Two octaves of semitones above 110 Hz.
      for (double& f : freq) {
        f = 110.0;
        for (int k = static_cast<int>((noise.next() + 1.0) * 12.0); k > 0; --k) f *= 1.0594630943592953;
      }
    }
    const double t = n / 44100.0;
    double v = 0;
    for (int i = 0; i < 3; ++i) {
      for (int h = 1; h <= 4; ++h) v += sine_of_turns(freq[i] * h * t + 0.16 * i) / (h * 6.0);
    }
    const double envelope = 0.6 + 0.4 * sine_of_turns(1.3 * t);
    const double shared = 0.05 * noise.next();
    out[2 * n] = 0.5 * envelope * v + shared;
    out[2 * n + 1] = 0.45 * envelope * v - shared + 0.02 * noise.next();
  }
  return out;
}

// The frames of `source` that a decode delayed by `delay` frames and scaled by
// `gain` would hold, with noise of amplitude `noise_level`; silence where the
// source has nothing.
inline std::vector<double> decode_of(const std::vector<double>& source, int frames, int delay, double gain,
                                     double noise_level, std::uint64_t seed) {
  std::vector<double> out(static_cast<std::size_t>(frames) * 2, 0.0);
  noise_source noise{seed};
  const int source_frames = static_cast<int>(source.size() / 2);
  for (int n = 0; n < frames; ++n) {
    const int from = n - delay;
    for (int c = 0; c < 2; ++c) {
      double v = (from >= 0 && from < source_frames) ? source[2 * from + c] * gain : 0.0;
      out[2 * n + c] = v + noise_level * noise.next();
    }
  }
  return out;
}

inline bytes as_float_frames(const std::vector<double>& v) {
  std::vector<float> f(v.begin(), v.end());
  return float_frames(f);
}

// Values as little-endian integers of `size` bytes (4, 3 or 2), rounded to
// the nearest step and held to full scale.
inline bytes as_int_frames(const std::vector<double>& v, int size = 4) {
  const double full = std::ldexp(1.0, 8 * size - 1) - 1;  // 2147483647 for 4 bytes
  bytes b;
  b.reserve(v.size() * static_cast<std::size_t>(size));
  for (double x : v) {
    double scaled = std::round(x * full);
    scaled = scaled > full ? full : (scaled < -full - 1 ? -full - 1 : scaled);
    put_le(b, static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled)), size);
  }
  return b;
}
