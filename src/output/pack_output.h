// The outputs of eqalign-pack: the name of each file in its folder, and one
// passage of an input written as a WAV file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/track.h"

enum wav_format { WAV_INT16, WAV_INT24, WAV_FLOAT };

// The reference's output name in the folder.
constexpr const char* REFERENCE_NAME = "reference.wav";
// The anchors' names, in the order of ANCHOR_CUTOFFS (analysis/anchor.h).
constexpr const char* ANCHOR_NAMES[] = {"anchor35.wav", "anchor70.wav"};

// A decode's output name: its file name without folder, with the first
// ".32b.wav" or ".wav" (in any case) and all after it cut, then ".wav".
std::string pack_name(const std::string& input_name);

// Forms the output names of the files `inputs` (the reference first) into
// `names` and refuses, with its line, the first decode whose name is the
// reference's or an earlier decode's.
run_status check_pack_names(const std::vector<std::string>& inputs, std::vector<std::string>& names);

// The header of a WAV file of `frames` stereo frames: integer samples of 16
// or 24 bits (format 1), or 32-bit float (format 3, with a `fact` chunk).
std::vector<unsigned char> wav_header(wav_format format, std::uint32_t rate, std::uint32_t frames);

// Whether a WAV file of that many frames keeps every size within 32 bits.
bool wav_holds(wav_format format, std::int64_t frames);

// The factor of frame n of a passage of `length` frames under fades of
// `fade` frames: 0.5 - 0.5 cos(pi (m + 0.5) / fade) for the m-th frame of
// the fade-in or, counted from the end, of the fade-out; both where they
// overlap; 1 elsewhere. The cosine is computed from additions and
// multiplications only, so that every platform gives the same bits.
double fade_factor(std::int64_t n, std::int64_t fade, std::int64_t length);

// One passage of an input, as it is written.
struct passage_output {
  // The input's first frame, and how many follow.
  std::int64_t first = 0;
  std::int64_t frames = 0;
  // Each sample x (in units of full scale, 0 when not finite) is written as
  // x * gain * scale * fade, rounded to the nearest step (ties to even) for
  // integers.
  double gain = 1.0;
  double scale = 1.0;
  std::int64_t fade = 0;
  wav_format format = WAV_INT16;
};

// Writes the passage of the slot's input to `out` as a WAV file and starts
// its flush to the disk; flush_to_disk completes it. On a failure, says
// nothing and returns false, with `read_failed` true when the input came up
// short.
bool write_passage(track_slot& slot, const passage_output& p, std::FILE* out, bool& read_failed);

// Gives frames n .. n + count - 1 of a passage as interleaved left and right
// values in units of full scale; false when they cannot be made (an input
// came up short). The writer asks for the frames in order.
using frame_generator = bool (*)(void* context, std::int64_t n, int count, double* values);

// The same as write_passage for a passage of `p.frames` frames at `rate`
// whose values come from `generate` rather than from an input (p.first is
// not used); `read_failed` is true when the generator failed. Its values
// are scaled, faded and rounded as write_passage's samples are.
bool write_generated(frame_generator generate, void* context, std::uint32_t rate, const passage_output& p,
                     std::FILE* out, bool& read_failed);
