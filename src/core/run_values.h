// The run-wide values that the search derives from all tracks and the writer reads.
#pragma once

#include <cstdint>

struct run_values {
  // Frames written of every file: the common length of the header pass,
  // shortened by the search so that every aligned track can supply it.
  std::int32_t input_wav_length = 0;
  // Extremes over all tracks; the reference counts with delay 0 and gain 1.0.
  std::int32_t smallest_delay = 0;
  std::int32_t biggest_delay = 0;
  double biggest_gain = 1.0;
};
