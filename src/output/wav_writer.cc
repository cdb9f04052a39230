#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/exact_trig.h"
#include "core/samples.h"
#include "output/output.h"
#include "platform/platform.h"
#include "wav/wav.h"

// Samples are little-endian in the files and in memory on every target built
// for, so that blocks are read and written as they stand.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr std::uint16_t TAG_INTEGER = 1;
constexpr std::uint16_t TAG_FLOAT = 3;
// Full scale of a sample: the step count of a half range.
constexpr double FULL_16 = 32768;
constexpr double FULL_24 = 8388608;
// Adding and taking away 1.5 x 2^52 rounds a double below 2^51 in size to
// the nearest whole number, ties to even, in plain arithmetic.
constexpr double ROUNDER = 6755399441055744.0;
// Frames converted per block: 512 KiB in.
constexpr int BLOCK_FRAMES = 65536;
// Frames converted at once, within the core's cache.
constexpr int CHUNK_FRAMES = 4096;
constexpr std::size_t CHUNK_SAMPLES = 2 * static_cast<std::size_t>(CHUNK_FRAMES);

void put_le(std::vector<unsigned char>& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put_id(std::vector<unsigned char>& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(id[i]));
}

int sample_bytes(wav_format format) { return format == WAV_INT16 ? 2 : format == WAV_INT24 ? 3 : 4; }

std::uint32_t header_bytes(wav_format format) { return format == WAV_FLOAT ? 58 : 44; }

double raised_cosine(std::int64_t m, std::int64_t fade) {
  return 0.5 - 0.5 * cos_pi((static_cast<double>(m) + 0.5) / static_cast<double>(fade));
}

// The samples of `count` frames times gain and scale, in units of full
// scale. Plain loops, which the compiler turns into vector code.
void scaled_samples(const unsigned char* in, int count, int is_float, double gain, double scale, double* out) {
  const int samples = 2 * count;
  if (is_float != 0) {
    for (int i = 0; i < samples; ++i) out[i] = sample_value(in + 4 * static_cast<std::ptrdiff_t>(i), 1) * gain * scale;
  } else {
    for (int i = 0; i < samples; ++i) out[i] = sample_value(in + 4 * static_cast<std::ptrdiff_t>(i), 0) * gain * scale;
  }
}

// Generated values times gain and scale, in the order scaled_samples takes.
void scaled_values(const double* in, int count, double gain, double scale, double* out) {
  for (int i = 0; i < 2 * count; ++i) out[i] = in[i] * gain * scale;
}

// Integer steps of `full` per unit, held to the format's range and rounded
// to the nearest, ties to even.
template <class T>
void to_steps(const double* v, int samples, double full, T* out) {
  for (int i = 0; i < samples; ++i) {
    const double held = std::clamp(v[i] * full, -full, full - 1);
    out[i] = static_cast<T>((held + ROUNDER) - ROUNDER);
  }
}

// The samples of a chunk as the format writes them; filled by convert_chunk.
struct chunk_work {
  std::vector<double> values = std::vector<double>(CHUNK_SAMPLES);
  std::vector<std::int32_t> steps = std::vector<std::int32_t>(CHUNK_SAMPLES);
  std::vector<std::int16_t> shorts = std::vector<std::int16_t>(CHUNK_SAMPLES);
  std::vector<float> floats = std::vector<float>(CHUNK_SAMPLES);
};

// Converts the scaled values of `count` frames in `w.values`, frame n of the
// passage first, into the format's bytes at `out`.
void convert_chunk(int count, std::int64_t n, const passage_output& p, chunk_work& w, unsigned char* out) {
  double* values = w.values.data();
  // Only the frames that a fade reaches are multiplied by it.
  for (int i = 0; i < count; ++i) {
    const std::int64_t frame = n + i;
    if (frame >= p.fade && frame < p.frames - p.fade) {
      i = static_cast<int>(std::min<std::int64_t>(count, p.frames - p.fade - n)) - 1;
      continue;
    }
    const double f = fade_factor(frame, p.fade, p.frames);
    const auto at = 2 * static_cast<std::size_t>(i);
    values[at] = values[at] * f;
    values[at + 1] = values[at + 1] * f;
  }
  const auto samples = 2 * static_cast<std::size_t>(count);
  if (p.format == WAV_FLOAT) {
    for (std::size_t i = 0; i < samples; ++i) w.floats[i] = static_cast<float>(values[i]);
    std::memcpy(out, w.floats.data(), samples * 4);
  } else if (p.format == WAV_INT16) {
    to_steps(values, static_cast<int>(samples), FULL_16, w.shorts.data());
    std::memcpy(out, w.shorts.data(), samples * 2);
  } else {
    to_steps(values, static_cast<int>(samples), FULL_24, w.steps.data());
    for (std::size_t i = 0; i < samples; ++i) {
      for (std::size_t b = 0; b < 3; ++b) out[3 * i + b] = static_cast<unsigned char>(static_cast<std::uint32_t>(w.steps[i]) >> (8 * b));
    }
  }
}

}  // namespace

std::vector<unsigned char> wav_header(wav_format format, std::uint32_t rate, std::uint32_t frames) {
  const auto size = static_cast<std::uint32_t>(sample_bytes(format));
  const std::uint32_t data = frames * 2 * size;
  std::vector<unsigned char> b;
  b.reserve(header_bytes(format));
  put_id(b, "RIFF");
  put_le(b, header_bytes(format) - 8 + data, 4);
  put_id(b, "WAVE");
  put_id(b, "fmt ");
  // A float fmt body carries the extension size, 0, as its format asks.
  put_le(b, format == WAV_FLOAT ? 18 : 16, 4);
  put_le(b, format == WAV_FLOAT ? TAG_FLOAT : TAG_INTEGER, 2);
  put_le(b, 2, 2);
  put_le(b, rate, 4);
  put_le(b, rate * 2 * size, 4);
  put_le(b, 2 * size, 2);
  put_le(b, 8 * size, 2);
  if (format == WAV_FLOAT) {
    put_le(b, 0, 2);
    put_id(b, "fact");
    put_le(b, 4, 4);
    put_le(b, frames, 4);
  }
  put_id(b, "data");
  put_le(b, data, 4);
  return b;
}

bool wav_holds(wav_format format, std::int64_t frames) {
  return frames >= 0 && frames * 2 * sample_bytes(format) + header_bytes(format) - 8 <= 0xFFFFFFFF;
}

double fade_factor(std::int64_t n, std::int64_t fade, std::int64_t length) {
  double factor = 1.0;
  if (n < fade) factor = raised_cosine(n, fade);
  if (length - 1 - n < fade) factor = factor * raised_cosine(length - 1 - n, fade);
  return factor;
}

namespace {

// Where a written passage's frames come from: the slot's input, or a generator.
struct frame_source {
  track_slot* slot = nullptr;
  frame_generator generate = nullptr;
  void* context = nullptr;
};

bool write_frames(const frame_source& source, std::uint32_t rate, const passage_output& p, std::FILE* out,
                  bool& read_failed) {
  read_failed = false;
  const std::vector<unsigned char> header = wav_header(p.format, rate, static_cast<std::uint32_t>(p.frames));
  bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();
  std::vector<unsigned char> in;
  std::vector<double> generated;
  if (source.slot != nullptr) in.resize(static_cast<std::size_t>(BLOCK_FRAMES) * FRAME_BYTES);
  if (source.slot == nullptr) generated.resize(static_cast<std::size_t>(BLOCK_FRAMES) * 2);
  std::vector<unsigned char> converted(static_cast<std::size_t>(BLOCK_FRAMES) * 2 * 4);
  chunk_work work;
  const int size = sample_bytes(p.format);
  for (std::int64_t done = 0; ok && done < p.frames;) {
    const int frames = static_cast<int>(std::min<std::int64_t>(BLOCK_FRAMES, p.frames - done));
    read_failed = source.slot != nullptr ? !fetch_frames(*source.slot, p.first + done, frames, in.data())
                                         : !source.generate(source.context, done, frames, generated.data());
    if (read_failed) break;
    for (int c = 0; c < frames; c += CHUNK_FRAMES) {
      const int count = std::min(CHUNK_FRAMES, frames - c);
      if (source.slot != nullptr) {
        scaled_samples(in.data() + static_cast<std::ptrdiff_t>(c) * FRAME_BYTES, count, source.slot->t.is_float,
                       p.gain, p.scale, work.values.data());
      } else {
        scaled_values(generated.data() + static_cast<std::ptrdiff_t>(c) * 2, count, p.gain, p.scale,
                      work.values.data());
      }
      convert_chunk(count, done + c, p, work, converted.data() + static_cast<std::ptrdiff_t>(c) * 2 * size);
    }
    const auto bytes = static_cast<std::size_t>(frames) * 2 * static_cast<std::size_t>(size);
    ok = std::fwrite(converted.data(), 1, bytes, out) == bytes;
    done += frames;
  }
  if (!ok) record_failure();
  return ok && !read_failed && start_flush(out);
}

}  // namespace

bool write_passage(track_slot& slot, const passage_output& p, std::FILE* out, bool& read_failed) {
  return write_frames({.slot = &slot}, slot.t.sample_rate, p, out, read_failed);
}

bool write_generated(frame_generator generate, void* context, std::uint32_t rate, const passage_output& p,
                     std::FILE* out, bool& read_failed) {
  return write_frames({.generate = generate, .context = context}, rate, p, out, read_failed);
}
