#include <cstring>

#include "core/samples.h"
#include "output/output.h"
#include "platform/platform.h"

namespace {

// Truncating a value lifted by this bias rounds it toward negative infinity.
constexpr double ROUND_BIAS = 100000;
// Any biased value beyond this clips, so holding values there keeps the
// conversion to an integer defined without changing a result.
constexpr double BIASED_HOLD = 1e9;

// Branch-free, so that the compiler converts a whole vector of samples at once.
[[gnu::always_inline]] inline std::int16_t convert_one(float sample, double scale, int& clips) {
  // Plain ifs on values: a conditional of two lvalues would take their
  // addresses and keep the loop from being vectorised.
  double biased = static_cast<double>(sample) * scale + ROUND_BIAS;
  if (biased != biased) biased = ROUND_BIAS;  // NaN writes 0
  if (biased < -BIASED_HOLD) biased = -BIASED_HOLD;
  if (biased > BIASED_HOLD) biased = BIASED_HOLD;
  int result = static_cast<int>(biased) - static_cast<int>(ROUND_BIAS);
  clips += static_cast<int>(result < -CLIP_WARN) | static_cast<int>(result > CLIP_WARN);
  if (result < -CLIP_LIMIT) result = -CLIP_LIMIT;
  if (result > CLIP_LIMIT) result = CLIP_LIMIT;
  return static_cast<std::int16_t>(result);
}

[[gnu::always_inline]] inline float int_sample_to_unit(std::int32_t v) {
  return static_cast<float>(static_cast<double>(v) * INT_SAMPLE_SCALE);
}

template <bool IS_FLOAT>
[[gnu::always_inline]] inline int convert_samples(const unsigned char* in, int samples, double scale,
                                                  std::int16_t* out) {
  int clips = 0;
  for (int n = 0; n < samples; ++n) {
    float sample;
    if constexpr (IS_FLOAT) {
      std::memcpy(&sample, in + 4 * static_cast<std::ptrdiff_t>(n), 4);
    } else {
      std::int32_t v;
      std::memcpy(&v, in + 4 * static_cast<std::ptrdiff_t>(n), 4);
      sample = int_sample_to_unit(v);
    }
    out[n] = convert_one(sample, scale, clips);
  }
  return clips;
}

#if defined(__x86_64__)
// Wider vectors where the CPU has them; every width gives the same samples.
[[gnu::target("avx2")]] int convert_float_avx2(const unsigned char* in, int samples, double scale, std::int16_t* out) {
  return convert_samples<true>(in, samples, scale, out);
}

[[gnu::target("avx2")]] int convert_int_avx2(const unsigned char* in, int samples, double scale, std::int16_t* out) {
  return convert_samples<false>(in, samples, scale, out);
}
#endif

}  // namespace

std::int16_t convert_sample(float sample, double scale, int& clips) { return convert_one(sample, scale, clips); }

int convert_frames(const unsigned char* in, int frames, int is_float, double scale, std::int16_t* out,
                   [[maybe_unused]] bool native) {
#if defined(__x86_64__)
  static const bool avx2 = read_cpu_features().avx2;
  if (native && avx2)
    return is_float != 0 ? convert_float_avx2(in, 2 * frames, scale, out)
                         : convert_int_avx2(in, 2 * frames, scale, out);
#endif
  return is_float != 0 ? convert_samples<true>(in, 2 * frames, scale, out)
                       : convert_samples<false>(in, 2 * frames, scale, out);
}
