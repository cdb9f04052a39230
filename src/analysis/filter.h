// The equal-loudness filter for 44.1 kHz and the capture of each file's first second.
#pragma once

#include <cstdint>

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

// Fills `analysis` with the filtered mono signal of data frames
// first_frame + WARMUP_FRAMES .. first_frame + ANALYSIS_FRAMES - 1, the filter
// starting at rest at `first_frame`. On a read that comes up short, prints
// its line and returns the status.
run_status capture_analysis(track_slot& slot, std::int64_t first_frame);

// Captures every track from its first frame; when the reference's compare
// window is silent and its first sound leaves room for a whole capture in
// `common_length` frames, captures every track again from where that sound
// fills the window.
run_status capture_pass(track_slot* slots, int wav_num, std::int32_t common_length);
