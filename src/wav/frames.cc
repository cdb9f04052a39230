#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "wav/wav.h"

namespace {

// Samples widened per step. Each step copies its input aside before it
// writes, so its output may cover its own input; a fixed count lets the
// compiler widen a whole vector of samples at once.
constexpr int WIDEN_STEP = 32;

// One little-endian sample of `SIZE` bytes to a 32-bit one with the sample
// in its top bytes: x * 65536 for 16-bit, x * 256 for 24-bit, so that the
// rest of the run sees the values of a 32-bit copy of the file.
template <int SIZE>
[[gnu::always_inline]] inline void widen_one(const unsigned char* in, unsigned char* out) {
  for (int b = 0; b < 4 - SIZE; ++b) out[b] = 0;
  for (int b = 0; b < SIZE; ++b) out[4 - SIZE + b] = in[b];
}

// Widens `samples` samples in place. Sample i moves from byte SIZE * i up to
// byte 4 * i, never down: walked from the end, every sample is read before
// its bytes are written over.
template <int SIZE>
void widen_samples(unsigned char* buffer, std::size_t samples) {
  std::size_t first = samples;
  while (first >= WIDEN_STEP) {
    first -= WIDEN_STEP;
    unsigned char in[WIDEN_STEP * SIZE];
    std::memcpy(in, buffer + first * SIZE, sizeof in);
    unsigned char out[WIDEN_STEP * 4];
    for (int i = 0; i < WIDEN_STEP; ++i) widen_one<SIZE>(in + i * SIZE, out + i * 4);
    std::memcpy(buffer + first * 4, out, sizeof out);
  }
  while (first > 0) {
    --first;
    unsigned char in[SIZE];
    std::memcpy(in, buffer + first * SIZE, SIZE);
    widen_one<SIZE>(in, buffer + first * 4);
  }
}

}  // namespace

run_status read_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer) {
  const auto want = static_cast<std::size_t>(count);
  const int size = slot.t.frame_bytes;
  // The header pass trusted the file's length; a file cut short since then
  // must end the run, not be read as whatever the buffer held.
  if (seek_to(slot.file, slot.t.data_start + first_frame * size, SEEK_SET) &&
      std::fread(buffer, static_cast<std::size_t>(size), want, slot.file) == want) {
    if (size == 4) widen_samples<2>(buffer, 2 * want);
    if (size == 6) widen_samples<3>(buffer, 2 * want);
    return STATUS_OK;
  }
  std::printf("Cannot read this file : %s.\r\n", slot.path.c_str());
  return STATUS_INPUT_UNREADABLE;
}
