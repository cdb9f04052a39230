#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/say.h"
#include "platform/platform.h"
#include "wav/wav.h"

namespace {

// Samples are little-endian in the files and in memory on every target built
// for, so that a sample's bytes are loaded and stored as they stand.
static_assert(std::endian::native == std::endian::little);

// Samples widened per step: a fixed count lets the compiler widen a whole
// vector of samples at once.
constexpr int WIDEN_STEP = 32;

// Widens COUNT samples of SIZE bytes from sample `first` on to 32-bit ones
// holding them in their top bytes: x * 65536 for 16-bit, x * 256 for 24-bit,
// the values of a 32-bit copy of the file. The input is copied aside before
// the output is written, so the output may cover it.
template <int SIZE, int COUNT>
[[gnu::always_inline]] inline void widen_block(unsigned char* buffer, std::size_t first) {
  std::uint32_t out[COUNT];
  if constexpr (SIZE == 2) {
    std::uint16_t in[COUNT];
    std::memcpy(in, buffer + first * 2, sizeof in);
    for (int i = 0; i < COUNT; ++i) out[i] = std::uint32_t{in[i]} << 16;
  } else {
    // Each sample is loaded as 4 bytes; the shift drops the byte after it,
    // which for the last one is this zero.
    unsigned char in[COUNT * 3 + 1];
    std::memcpy(in, buffer + first * 3, COUNT * 3);
    in[COUNT * 3] = 0;
    for (int i = 0; i < COUNT; ++i) {
      std::uint32_t v;
      std::memcpy(&v, in + 3 * i, 4);
      out[i] = v << 8;
    }
  }
  std::memcpy(buffer + first * 4, out, sizeof out);
}

// Widens `samples` samples in place. Sample i moves from byte SIZE * i up to
// byte 4 * i, never down: walked from the end, every sample is read before
// its bytes are written over.
template <int SIZE>
void widen_samples(unsigned char* buffer, std::size_t samples) {
  std::size_t first = samples;
  while (first >= WIDEN_STEP) {
    first -= WIDEN_STEP;
    widen_block<SIZE, WIDEN_STEP>(buffer, first);
  }
  while (first > 0) widen_block<SIZE, 1>(buffer, --first);
}

}  // namespace

bool fetch_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  const auto want = static_cast<std::size_t>(count);
  const int size = slot.t.frame_bytes;
  // The header pass trusted the file's length; a file cut short since then
  // must end the run, not be read as whatever the buffer held.
  if (!seek_to(slot.file, slot.t.data_start + first_frame * size, SEEK_SET) ||
      std::fread(buffer, static_cast<std::size_t>(size), want, slot.file) != want)
    return false;
  if (size == 4) widen_samples<2>(buffer, 2 * want);
  if (size == 6) widen_samples<3>(buffer, 2 * want);
  return true;
}

run_status cannot_read(const track_slot& slot) {
  say("Cannot read this file : %s.\r\n", slot.path.c_str());
  return STATUS_INPUT_UNREADABLE;
}

run_status read_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  return fetch_frames(slot, first_frame, count, buffer) ? STATUS_OK : cannot_read(slot);
}
