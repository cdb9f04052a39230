#include "output/raw_writer.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
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

// Where an output lands: its folder, by identity, and its last component;
// the whole spelling stands in when the folder does not exist.
struct landing {
  file_identity folder;
  std::string last;
  std::string spelling;
};

landing landing_of(const std::string& name) {
  const std::size_t at = folder_length(name);
  return {identity_of(at == 0 ? std::string(".") : name.substr(0, at)), name.substr(at), name};
}

bool same_landing(const landing& a, const landing& b) {
  if (a.folder.known != b.folder.known) return false;
  return a.folder.known ? same_file(a.folder, b.folder) && same_last_component(a.last, b.last)
                        : a.spelling == b.spelling;
}

run_status unavailable(const std::string& name) {
  std::printf("Output path is not available.\r\nIn file : %s.\r\n", name.c_str());
  return STATUS_OUTPUT_FAILED;
}

run_status cannot_write(const std::string& name) {
  std::printf("Cannot write output file : %s.\r\n", name.c_str());
  return STATUS_OUTPUT_FAILED;
}

void discard_temporaries(track_slot* slots, int wav_num) {
  for (int i = 0; i < wav_num; ++i) {
    if (!slots[i].temporary.empty()) remove_file(slots[i].temporary);
    slots[i].temporary.clear();
  }
}

// Moves a file found at `name` to a new temporary beside it; `aside` is
// empty when there was none. A folder is never moved.
bool move_aside(const std::string& name, std::string& aside) {
  aside.clear();
  if (!name_exists(name)) return true;
  if (is_directory(name)) return false;
  std::FILE* held = create_temporary(name, aside);
  if (held != nullptr && std::fclose(held) == 0 && replace_file(name, aside)) return true;
  if (held != nullptr) remove_file(aside);
  aside.clear();
  return false;
}

void put_back(const std::string& aside, const std::string& name) {
  if (!replace_file(aside, name))
    std::printf("Note: %s could not be put back and is kept as %s.\r\n", name.c_str(), aside.c_str());
}

// Moves every temporary over its output name, in track order. A file found
// at a name is first moved aside, so that on a failure, or an interrupt,
// every replaced file is put back: the outputs change together or not at all.
run_status commit_outputs(track_slot* slots, int wav_num) {
  hold_interrupts(true);
  std::string aside[MAX_FILES];
  int placed = 0;
  run_status status = STATUS_OK;
  for (; placed < wav_num; ++placed) {
    track_slot& slot = slots[placed];
    const bool moved = move_aside(slot.output_name, aside[placed]);
    if (!moved || !replace_file(slot.temporary, slot.output_name)) {
      if (!aside[placed].empty()) put_back(aside[placed], slot.output_name);
      status = cannot_write(slot.output_name);
      break;
    }
    slot.temporary.clear();
  }
  const bool undo = status != STATUS_OK || interrupt_waiting();
  for (int i = placed - 1; i >= 0; --i) {
    if (undo && aside[i].empty()) remove_file(slots[i].output_name);
    if (undo && !aside[i].empty()) put_back(aside[i], slots[i].output_name);
    if (!undo && !aside[i].empty()) remove_file(aside[i]);
  }
  discard_temporaries(slots, wav_num);
  // An interrupt that came meanwhile ends the process here; outputs that
  // were put back are never a success.
  hold_interrupts(false);
  return undo ? STATUS_OUTPUT_FAILED : STATUS_OK;
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

run_status check_output_names(track_slot* slots, int wav_num) {
  landing landings[MAX_FILES];
  for (int i = 0; i < wav_num; ++i) {
    slots[i].output_name = output_name(slots[i].path);
    landings[i] = landing_of(slots[i].output_name);
  }
  for (int i = 0; i < wav_num; ++i) {
    const std::string& name = slots[i].output_name;
    const file_identity existing = identity_of(name);
    for (int j = 0; j < wav_num; ++j) {
      if (same_file(existing, slots[j].input)) {
        std::printf("This output would replace an input : %s.\r\n", name.c_str());
        return STATUS_OUTPUT_FAILED;
      }
    }
    for (int j = 0; j < wav_num; ++j) {
      if (j != i && same_landing(landings[i], landings[j])) {
        std::printf("Two inputs would be written to the same output : %s.\r\n", name.c_str());
        return STATUS_OUTPUT_FAILED;
      }
    }
    if (is_directory(name)) return unavailable(name);
  }
  return STATUS_OK;
}

run_status write_raw_output(track_slot& slot, int index, const alignment& a, std::int32_t input_wav_length) {
  track& t = slot.t;
  std::FILE* out = create_temporary(slot.output_name, slot.temporary);
  if (out == nullptr) return unavailable(slot.output_name);
  const std::int64_t start = t.data_start + std::int64_t{t.delay - a.smallest_delay} * FRAME_BYTES;
  const double scale = t.gain * FULL_SCALE / (a.biggest_gain * HEADROOM);
  int clips = 0;
  static unsigned char in_block[BLOCK_FRAMES * FRAME_BYTES];
  static std::int16_t out_block[BLOCK_FRAMES * 2];
  bool read_ok = seek_to(slot.file, start, SEEK_SET);
  bool write_ok = true;
  for (std::int32_t done = 0; read_ok && write_ok && done < input_wav_length;) {
    const int frames = std::min(input_wav_length - done, BLOCK_FRAMES);
    const auto want = static_cast<std::size_t>(frames);
    read_ok = std::fread(in_block, FRAME_BYTES, want, slot.file) == want;
    if (!read_ok) break;
    clips += convert_frames(in_block, frames, t.is_float, scale, out_block);
    write_ok = std::fwrite(out_block, 4, want, out) == want;
    done += frames;
  }
  write_ok = flush_to_disk(out) && write_ok;
  write_ok = std::fclose(out) == 0 && write_ok;
  if (!read_ok) {
    std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
    return STATUS_CANNOT_OPEN;
  }
  if (!write_ok) return cannot_write(slot.output_name);
  if (clips != 0)
    std::printf(t.is_float != 0 ? "FLO %d: Clipped %d times.\r\n" : "INT %d: Clipped %d times.\r\n", index, clips);
  t.analysis.reset();
  std::fclose(slot.file);
  slot.file = nullptr;
  return STATUS_OK;
}

run_status output_pass(track_slot* slots, int wav_num, const alignment& a, std::int32_t input_wav_length) {
  for (int i = 0; i < wav_num; ++i) {
    const run_status status = write_raw_output(slots[i], i, a, input_wav_length);
    if (status != STATUS_OK) {
      discard_temporaries(slots, wav_num);
      return status;
    }
  }
  return commit_outputs(slots, wav_num);
}
