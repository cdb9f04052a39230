// The input files: the WAV header walk, and the one reader of their sample frames.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_values.h"
#include "core/track.h"

struct header_info {
  // Bytes of sample data the file really holds, never more than its data chunk declares.
  std::uint64_t data_size = 0;
};

// Opens `name` into the slot, checks its header, records `data_start`, the
// sample kind, frame size and rate in the track, and leaves the stream at the
// first frame. On a fatal problem, prints its line and returns the status.
run_status read_wav_header(track_slot& slot, const char* name, header_info& info);

// A chunk id as it may be shown on a terminal: bytes outside printable ASCII
// become '?', a zero byte ends the text.
std::string printable_chunk_id(const unsigned char* id);

// Reads `count` frames from data frame `first_frame` on into `buffer`
// (count * FRAME_BYTES bytes), 16- and 24-bit samples widened to 32-bit
// integers with the sample in the top bits. An input that no longer holds
// them prints "Cannot read this file" and returns STATUS_INPUT_UNREADABLE.
run_status read_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer);

// The same without a word: whether the frames were read. For work done on
// several threads, whose messages must come out in track order.
bool fetch_frames(track_slot& slot, std::int64_t first_frame, int count, unsigned char* buffer);
// Prints "Cannot read this file" for the slot and returns STATUS_INPUT_UNREADABLE.
run_status cannot_read(const track_slot& slot);

// Reads the headers of the files `names` (wav_num of them) into the slots in
// order, compares each rate with the reference's, and finds the common
// length in frames; on a refusal, prints its lines and returns the status.
run_status header_pass(track_slot* slots, int wav_num, char** names, run_values& values);

// Refuses, with its lines, a common length too short to hold the analysis,
// naming the shortest file (the first of them).
run_status refuse_short_inputs(const track_slot* slots, int wav_num, const run_values& values);
