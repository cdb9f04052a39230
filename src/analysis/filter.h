// The equal-loudness filter for 44.1 kHz and the capture of each file's first second.
#pragma once

#include "driver/track.h"

// Butterworth high-pass, then Yulewalk stage; histories newest first.
struct equal_loudness_filter {
  double butter_in[2];
  double butter_out[2];
  double yule_in[10];
  double yule_out[10];
};

// Sets the whole filter history to zero.
void clear_filter(equal_loudness_filter& f);

// Filters one mono value; each output is summed term by term in coefficient order.
double filter_step(equal_loudness_filter& f, double mono);

// Records `data_start` and fills `analysis` with the filtered mono signal of
// frames WARMUP_FRAMES .. ANALYSIS_FRAMES - 1. On a read that comes up short,
// prints its line and returns the status.
run_status capture_analysis(track_slot& slot);
