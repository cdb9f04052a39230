// Opens one input WAV file and walks its header to the first sample frame.
#pragma once

#include <cstdint>
#include <string>

#include "driver/track.h"

// Opens `name` into the slot, checks its header and leaves the stream at the
// first sample frame. `data_size` receives the bytes of sample data the file
// really holds (never more than its data chunk declares). On a fatal problem,
// prints its line and returns the status.
run_status read_wav_header(track_slot& slot, const char* name, std::uint64_t& data_size);

// A chunk id as it may be shown on a terminal: bytes outside printable ASCII
// become '?', a zero byte ends the text.
std::string printable_chunk_id(const unsigned char* id);
