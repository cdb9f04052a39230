// The outputs: names checked before the analysis, each track converted to
// aligned, level-matched 16-bit stereo raw PCM, and the set moved into place.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_values.h"
#include "core/track.h"

// Results beyond +-CLIP_WARN count as clipped; results are held to +-CLIP_LIMIT.
constexpr int CLIP_WARN = 32500;
constexpr int CLIP_LIMIT = 32700;

// The input name with its first ".32b.wav" and all after it cut, then ".raw".
std::string output_name(const std::string& input_name);

// Forms every output name and refuses, with its message, the first in track
// order that would replace an input, is shared by two inputs, is a folder or
// is write-protected; then names what stopped runs left in the output folders.
run_status check_output_names(track_slot* slots, int wav_num);

// One sample in units of full scale, times `scale`, rounded toward negative
// infinity to a 16-bit step and held to +-CLIP_LIMIT; `clips` counts results
// beyond +-CLIP_WARN. NaN writes 0 and is not counted.
std::int16_t convert_sample(float sample, double scale, int& clips);

// Converts `frames` stereo frames of little-endian 32-bit samples into 16-bit
// frames; returns how many samples clipped. Not `native`: the generic form,
// which CPUs without AVX2 run, whatever this one has.
int convert_frames(const unsigned char* in, int frames, int is_float, double scale, std::int16_t* out,
                   bool native = true);

// Writes track `index` from its aligned start into a temporary beside its
// output, which stays open in `written`, on its way to the disk; prints its
// clip line, then releases its analysis buffer and closes its input. On a
// failure, prints its line and returns the status.
run_status write_raw_output(track_slot& slot, int index, const run_values& values);

// Writes every track, waits once until all are on the disk, then moves the
// outputs into place together; on any failure no temporary stays and every
// file found stays as it was.
run_status output_pass(track_slot* slots, int wav_num, const run_values& values);

// Moves every temporary over its output name, in track order; a move that
// fails puts back every file replaced before it. Used by the output pass.
run_status commit_outputs(track_slot* slots, int wav_num);

// Removes the temporaries that the run still holds.
void discard_temporaries(track_slot* slots, int wav_num);

// The messages of an output that cannot be created, and of one that cannot
// be written or moved into place; both return STATUS_OUTPUT_FAILED.
run_status output_unavailable(const std::string& name);
run_status cannot_write(const std::string& name);
