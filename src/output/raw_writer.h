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
// frames; returns how many samples clipped.
int convert_frames(const unsigned char* in, int frames, int is_float, double scale, std::int16_t* out);

// Writes track `index` of the table from its aligned start, prints its clip
// line, then releases its analysis buffer and closes its input. On a failure,
// prints its line, removes the incomplete output and returns the status.
run_status write_raw_output(track_slot* slots, int wav_num, int index, const alignment& a,
                            std::int32_t input_wav_length);
