#include "output/raw_writer.h"

#include <sys/stat.h>

#include <bit>
#include <cstdio>
#include <cstring>

#include "wav/samples.h"

// Samples are little-endian in the files and in memory on every target built
// for, so that blocks are read and written as they stand.
static_assert(std::endian::native == std::endian::little);

namespace {

// From sample units (full scale 1.0) to 16-bit steps.
constexpr double FULL_SCALE = 32768;
// The loudest-scaled track stays this factor below full scale.
constexpr double HEADROOM = 1.1;
// Truncating a value lifted by this bias rounds it toward negative infinity.
constexpr double ROUND_BIAS = 100000;
// Any biased value beyond this clips, so holding values there keeps the
// conversion to an integer defined without changing a result.
constexpr double BIASED_HOLD = 1e9;
// Input frames converted per block: 512 KiB in, 256 KiB out. Fewer, larger
// reads and writes roughly double the throughput over 64 KiB blocks.
constexpr int BLOCK_FRAMES = 65536;

file_identity identity_of(const std::string& name) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino};
}

bool same_file(const file_identity& a, const file_identity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

// An input of the run, or an output already written (two inputs may map to
// one output name), must never be replaced.
bool belongs_to_run(const std::string& name, const track_slot* slots, int wav_num) {
  const file_identity f = identity_of(name);
  for (int i = 0; i < wav_num; ++i) {
    if (same_file(f, slots[i].input) || same_file(f, slots[i].output)) return true;
  }
  return false;
}

run_status lose_output(std::FILE* out, const std::string& name, const char* message, const std::string& shown,
                       run_status status) {
  std::fclose(out);
  std::remove(name.c_str());
  std::printf(message, shown.c_str());
  return status;
}

}  // namespace

std::string output_name(const std::string& input_name) {
  std::string name = input_name.substr(0, input_name.find(".32b.wav"));
  return name + ".raw";
}

namespace {

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

// A clone per vector width is picked at run time.
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

[[gnu::target_clones("arch=x86-64-v4", "avx2", "default")]] int convert_float_samples(const unsigned char* in,
                                                                                      int samples, double scale,
                                                                                      std::int16_t* out) {
  return convert_samples<true>(in, samples, scale, out);
}

[[gnu::target_clones("arch=x86-64-v4", "avx2", "default")]] int convert_int_samples(const unsigned char* in,
                                                                                    int samples, double scale,
                                                                                    std::int16_t* out) {
  return convert_samples<false>(in, samples, scale, out);
}

}  // namespace

std::int16_t convert_sample(float sample, double scale, int& clips) { return convert_one(sample, scale, clips); }

int convert_frames(const unsigned char* in, int frames, int is_float, double scale, std::int16_t* out) {
  return is_float != 0 ? convert_float_samples(in, 2 * frames, scale, out)
                       : convert_int_samples(in, 2 * frames, scale, out);
}

run_status write_raw_output(track_slot* slots, int wav_num, int index, const alignment& a,
                            std::int32_t input_wav_length) {
  track_slot& slot = slots[index];
  track& t = slot.t;
  const std::int64_t start = t.data_start + std::int64_t{t.delay - a.smallest_delay} * FRAME_BYTES;
  const std::string name = output_name(slot.path);
  std::FILE* out = belongs_to_run(name, slots, wav_num) ? nullptr : std::fopen(name.c_str(), "wb");
  if (out == nullptr) {
    std::fputs("Output path is not available.\r\n", stdout);
    return STATUS_OUTPUT_FAILED;
  }

  if (fseeko(slot.file, start, SEEK_SET) != 0) {
    return lose_output(out, name, "Cannot read this file : %s.\r\n", slot.path, STATUS_CANNOT_OPEN);
  }
  const double scale = t.gain * FULL_SCALE / (a.biggest_gain * HEADROOM);
  int clips = 0;
  static unsigned char in_block[BLOCK_FRAMES * FRAME_BYTES];
  static std::int16_t out_block[BLOCK_FRAMES * 2];
  for (std::int32_t done = 0; done < input_wav_length;) {
    const int frames = input_wav_length - done < BLOCK_FRAMES ? input_wav_length - done : BLOCK_FRAMES;
    const auto want = static_cast<std::size_t>(frames);
    if (std::fread(in_block, FRAME_BYTES, want, slot.file) != want) {
      return lose_output(out, name, "Cannot read this file : %s.\r\n", slot.path, STATUS_CANNOT_OPEN);
    }
    clips += convert_frames(in_block, frames, t.is_float, scale, out_block);
    if (std::fwrite(out_block, 4, want, out) != want) {
      return lose_output(out, name, "Cannot write output file : %s.\r\n", name, STATUS_OUTPUT_FAILED);
    }
    done += frames;
  }
  if (std::fflush(out) != 0 || std::ferror(out) != 0) {
    return lose_output(out, name, "Cannot write output file : %s.\r\n", name, STATUS_OUTPUT_FAILED);
  }
  if (std::fclose(out) != 0) {
    std::remove(name.c_str());
    std::printf("Cannot write output file : %s.\r\n", name.c_str());
    return STATUS_OUTPUT_FAILED;
  }
  slot.output = identity_of(name);
  if (clips != 0)
    std::printf(t.is_float != 0 ? "FLO %d: Clipped %d times.\r\n" : "INT %d: Clipped %d times.\r\n", index, clips);
  t.analysis.reset();
  std::fclose(slot.file);
  slot.file = nullptr;
  return STATUS_OK;
}
