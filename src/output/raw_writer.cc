#include <algorithm>
#include <bit>
#include <cstdio>

#include "core/out_of_memory.h"
#include "core/say.h"
#include "output/output.h"
#include "platform/platform.h"
#include "wav/wav.h"

// Samples are little-endian in the files and in memory on every target built
// for, so that blocks are read and written as they stand.
static_assert(std::endian::native == std::endian::little);

namespace {

// From sample units (full scale 1.0) to 16-bit steps.
constexpr double FULL_SCALE = 32768;
// The loudest-scaled track stays this factor below full scale.
constexpr double HEADROOM = 1.1;
// Input frames converted per block: 512 KiB in, 256 KiB out. Fewer, larger
// reads and writes roughly double the throughput over 64 KiB blocks.
constexpr int BLOCK_FRAMES = 65536;
// Blocks written between two requests to start writing to the disk: 4 MiB of
// output, so that the disk is kept busy without a request per block.
constexpr int WRITEBACK_BLOCKS = 16;

}  // namespace

run_status write_raw_output(track_slot& slot, int index, const run_values& values) {
  track& t = slot.t;
  std::FILE* out = create_temporary(slot.output_name, slot.temporary);
  if (out == nullptr) return short_of_memory() ? not_enough_memory() : output_unavailable(slot.output_name);
  slot.written = out;
  // The track's aligned start: its frame `delay - smallest_delay`.
  const std::int64_t start = t.delay - values.smallest_delay;
  const double scale = t.gain * FULL_SCALE / (values.biggest_gain * HEADROOM);
  int clips = 0;
  static unsigned char in_block[BLOCK_FRAMES * FRAME_BYTES];
  static std::int16_t out_block[BLOCK_FRAMES * 2];
  run_status read = STATUS_OK;
  bool write_ok = true;
  for (std::int32_t done = 0, blocks = 1; read == STATUS_OK && write_ok && done < values.input_wav_length; ++blocks) {
    const int frames = std::min(values.input_wav_length - done, BLOCK_FRAMES);
    read = read_frames(slot, start + done, frames, in_block);
    if (read != STATUS_OK) break;
    clips += convert_frames(in_block, frames, t.is_float, scale, out_block);
    write_ok = std::fwrite(out_block, 4, static_cast<std::size_t>(frames), out) == static_cast<std::size_t>(frames);
    if (!write_ok) record_failure();
    if (write_ok && blocks % WRITEBACK_BLOCKS == 0) write_ok = start_flush(out);
    done += frames;
  }
  // The first failure is the one to tell.
  if (write_ok && read == STATUS_OK) write_ok = start_flush(out);
  if (read != STATUS_OK) return read;
  if (!write_ok) return cannot_write(slot.output_name);
  if (clips != 0)
    say(t.is_float != 0 ? "FLO %d: Clipped %d times.\r\n" : "INT %d: Clipped %d times.\r\n", index, clips);
  t.analysis.reset();
  std::fclose(slot.file);
  slot.file = nullptr;
  return STATUS_OK;
}

namespace {

// Closes every output still open, flushing each to the disk when `flush`;
// the first that fails says so, and the rest are only closed.
run_status close_outputs(track_slot* slots, int wav_num, bool flush) {
  run_status status = STATUS_OK;
  for (int i = 0; i < wav_num; ++i) {
    std::FILE* out = slots[i].written;
    if (out == nullptr) continue;
    slots[i].written = nullptr;
    const bool wanted = flush && status == STATUS_OK;
    bool ok = !wanted || flush_to_disk(out);
    const bool closed = std::fclose(out) == 0;
    if (wanted && ok && !closed) {
      record_failure();
      ok = false;
    }
    if (!ok) status = cannot_write(slots[i].output_name);
  }
  return status;
}

}  // namespace

run_status output_pass(track_slot* slots, int wav_num, const run_values& values) {
  run_status status = STATUS_OK;
  for (int i = 0; i < wav_num && status == STATUS_OK; ++i) status = write_raw_output(slots[i], i, values);
  // One wait for the disk, at the end: while the later outputs were written,
  // the earlier ones went to the disk. Every output is there before the
  // first replaces an old file.
  const run_status flushed = close_outputs(slots, wav_num, status == STATUS_OK);
  if (status == STATUS_OK) status = flushed;
  if (status != STATUS_OK) {
    discard_temporaries(slots, wav_num);
    return status;
  }
  return commit_outputs(slots, wav_num);
}
