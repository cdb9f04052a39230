// The per-file record, the track table's slots, the sizes and the statuses
// that every component of a run shares.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"

// Most file names per run, the reference included.
constexpr int MAX_FILES = 10;
// Frames of every file that the analysis reads; also the shortest length accepted.
constexpr int ANALYSIS_FRAMES = 44100;
// Leading filter outputs dropped while the filter settles.
constexpr int WARMUP_FRAMES = 4100;
// Filter outputs kept per track.
constexpr int ANALYSIS_LENGTH = ANALYSIS_FRAMES - WARMUP_FRAMES;
// Delays searched: DELAY_MIN up to, not including, DELAY_MAX.
constexpr int DELAY_MIN = -2500;
constexpr int DELAY_MAX = 7500;
// One stereo frame in memory: two 32-bit samples, whatever their size in the file.
constexpr int FRAME_BYTES = 8;

// Every way a run can end; the value is the process exit status.
enum run_status : int {
  STATUS_OK = 0,
  STATUS_TOO_MANY_FILES = 1,
  // An input cannot be opened, or read to the length its header pass found.
  STATUS_INPUT_UNREADABLE = 2,
  STATUS_CHUNKS_TOO_MUCH = 3,
  STATUS_NOT_PCM = 4,
  STATUS_NOT_STEREO = 5,
  STATUS_BAD_SAMPLE_SIZE = 6,
  STATUS_NO_DATA_CHUNK = 7,
  STATUS_TOO_SHORT = 8,
  STATUS_OUTPUT_FAILED = 9,
  STATUS_NO_MEMORY = 10,
  STATUS_RATE_MISMATCH = 11,
  // eqalign-pack: a bad option, TIME or count of files.
  STATUS_BAD_COMMAND_LINE = 12,
  // eqalign-pack: the passage does not fit every file, or is shorter than 1 s.
  STATUS_PASSAGE_DOES_NOT_FIT = 13,
  // eqalign-pack: a decode that a listening test must not take as it is.
  STATUS_NOT_PACKED = 14,
};

// A decode's channels against the reference's: as they should be, left and
// right swapped, one of them silent, or the image pulled to one side.
enum channel_finding { CHANNELS_FINE, CHANNELS_SWAPPED, CHANNEL_SILENT, CHANNELS_LEAN };

// What eqalign keeps about one input; each field says which component writes it.
struct track {
  // Filtered mono signal: element k belongs to data frame k + WARMUP_FRAMES of
  // the capture's first frame. Obtained by init_track, filled by analysis/,
  // released by output/.
  std::unique_ptr<double[]> analysis;
  // Measured against the reference by analysis/; the reference keeps 1.0, 0.0 and 0.
  double gain = 1.0;
  double score = 0.0;
  std::int32_t delay = 0;
  // Whether the search found a delay and gain (not silent), and whether it
  // found them on the track's negated values; analysis/.
  bool measured = false;
  bool inverted = false;
  // Its compare window held no sound at the best delay; analysis/.
  bool silent = false;
  // Another delay, `repeat_delay`, matched almost as well: the music may
  // repeat; analysis/.
  bool repeats = false;
  std::int32_t repeat_delay = 0;
  // What its first second shows of its channels against the reference's, and
  // how far they lean to the left (dB, negative: to the right); analysis/.
  channel_finding channels = CHANNELS_FINE;
  double lean = 0;
  // Its two channels' level against the reference's where compared, at its
  // gain, in dB: the start as the whole-file check measures each place; analysis/.
  double start_level = 0;
  // The data frame every capture of `analysis` started at: 0, or later when
  // the reference is silent at its start; analysis/.
  std::int64_t capture_frame = 0;
  // Byte position of the first sample frame in the input file; wav/.
  std::int64_t data_start = 0;
  // Sample frames the file holds from data_start on; wav/.
  std::int64_t frames = 0;
  // 1 for IEEE float samples, 0 for integers; wav/.
  int is_float = 0;
  // Bytes of one frame in the file: 8 (32-bit samples), 6 (packed 24-bit) or
  // 4 (16-bit); read_frames widens every size to FRAME_BYTES; wav/.
  int frame_bytes = FRAME_BYTES;
  // Frames per second, from the fmt chunk; wav/.
  std::uint32_t sample_rate = 0;
};

struct track_slot {
  track t;
  // The input name as given; wav/.
  std::string path;
  // Opened by wav/, read through wav/, closed by output/.
  std::FILE* file = nullptr;
  // The opened input, so that no output ever replaces it; wav/.
  file_identity input;
  // The final name of the output, and the temporary that holds it until
  // every output of the run is complete; output/.
  std::string output_name;
  std::string temporary;
  // The temporary's stream, open from its writing until every output of the
  // run is on the disk; output/.
  std::FILE* written = nullptr;
};

// Puts the track at its defaults with a new analysis buffer;
// returns false when the buffer cannot be obtained.
bool init_track(track& t);
