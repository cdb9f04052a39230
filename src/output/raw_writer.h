// Writes each track as aligned, level-matched 16-bit stereo raw PCM.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/search.h"
#include "driver/track.h"

// Results beyond +-CLIP_WARN count as clipped; results are held to +-CLIP_LIMIT.
constexpr int CLIP_WARN = 32500;
constexpr int CLIP_LIMIT = 32700;

// The input name with its first ".32b.wav" and all after it cut, then ".raw".
std::string output_name(const std::string& input_name);

// One sample in units of full scale, times `scale`, rounded toward negative
// infinity to a 16-bit step and held to +-CLIP_LIMIT; `clips` counts results
// beyond +-CLIP_WARN. NaN writes 0 and is not counted.
std::int16_t convert_sample(float sample, double scale, int& clips);

// Converts `frames` stereo frames of little-endian 32-bit samples into 16-bit
// frames; returns how many samples clipped. Not `native`: the generic form,
// which CPUs without AVX2 run, whatever this one has.
int convert_frames(const unsigned char* in, int frames, int is_float, double scale, std::int16_t* out,
                   bool native = true);

// Forms every output name and refuses, with its message, the first in track
// order that would replace an input, is shared by two inputs, or is a folder.
run_status check_output_names(track_slot* slots, int wav_num);

// Writes track `index` from its aligned start into a temporary beside its
// output, prints its clip line, then releases its analysis buffer and closes
// its input. On a failure, prints its line and returns the status.
run_status write_raw_output(track_slot& slot, int index, const alignment& a, std::int32_t input_wav_length);

// Writes every track, then moves the outputs into place together; on any
// failure no temporary stays and every file found stays as it was.
run_status output_pass(track_slot* slots, int wav_num, const alignment& a, std::int32_t input_wav_length);
