// The outputs: eqalign's names checked before the analysis, each track
// converted to aligned, level-matched 16-bit stereo raw PCM, and the set
// moved into place; eqalign-pack's names in its folder, and one passage of
// an input written as a WAV file; and the files of a listening test beside
// the passages: the blind names and their key, and a webMUSHRA page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

enum wav_format { WAV_INT16, WAV_INT24, WAV_FLOAT };

// The reference's output name in the folder.
constexpr const char* REFERENCE_NAME = "reference.wav";
// The anchors' names, in the order of ANCHOR_CUTOFFS (analysis/analysis.h).
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

// The anchors as the key and a webMUSHRA page name them.
constexpr const char* ANCHOR35_NAME = "anchor35";
constexpr const char* ANCHOR70_NAME = "anchor70";
// The configuration's name in the folder.
constexpr const char* WEBMUSHRA_NAME = "webmushra.yaml";
// webMUSHRA's limits of a MUSHRA page: conditions, and seconds of a stimulus.
constexpr int WEBMUSHRA_MAX_STIMULI = 12;
constexpr int WEBMUSHRA_MAX_SECONDS = 12;

// Under --blind SEED, the stimulus written at each shuffled position k as
// C<k+1>.wav, of `count` stimuli numbered in command-line order (decodes,
// then anchor35 and anchor70 when made): Fisher-Yates driven by SplitMix64,
// integers only, so one seed gives one order everywhere.
std::vector<int> blind_order(std::uint64_t seed, int count);

// "C<position + 1>.wav".
std::string blind_name(int position);

// A stimulus as the key tells it.
struct key_entry {
  // The input's name as given; ANCHOR35_NAME or ANCHOR70_NAME for an anchor.
  std::string input;
  // The lag at the passage in frames, and the passage gain as a factor (anchors 0 and 1).
  std::int64_t delay = 0;
  double gain = 1.0;
};

// The key: "name,input,delay,gain_db", then a line for each C-name in C
// order, `order` as blind_order gives it over `stimuli`; fields quoted as
// CSV asks (RFC 4180), lines ending in "\n".
std::string key_text(const std::vector<key_entry>& stimuli, const std::vector<int>& order);

// The key's name beside the folder: "DIR.key.csv".
std::string key_name(const std::string& folder);

// The line that refuses a key name already taken (a run then ends with
// STATUS_OUTPUT_FAILED, as for a folder that exists); empty when it is free.
std::string key_taken(const std::string& key);

// 20 log10(factor) for a factor above 0, from + - * / alone, so that the
// text written of it is the same on every platform.
double portable_decibels(double factor);

// A webMUSHRA test of the folder `folder` (as named with -o, without a
// trailing separator): the reference and the stimuli by their file names in
// the folder, in the order the page lists them.
struct webmushra_test {
  std::string folder;
  std::string reference;
  std::vector<std::string> stimuli;
  // Whether anchor35.wav and anchor70.wav are among the stimuli; else the
  // page has the browser make them.
  bool anchors_made = false;
};

// The configuration's text: one MUSHRA page and a finish page, every file
// named as configs/resources/audio/<folder's last name>/<file>.
std::string webmushra_yaml(const webmushra_test& test);

// The line refusing a page that webMUSHRA would refuse: a passage of
// `length` frames at `rate` longer than 12 s, or more than 12 stimuli
// (decodes and anchors); empty when it fits.
std::string webmushra_refusal(std::int64_t length, std::uint32_t rate, int stimuli);
