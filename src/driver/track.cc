#include "driver/track.h"

#include <new>

bool init_track(track& t) {
  t.gain = 1.0;
  t.score = 0.0;
  t.delay = 0;
  t.data_start = 0;
  t.analysis.reset(new (std::nothrow) double[ANALYSIS_LENGTH]);
  t.is_float = 0;
  return t.analysis != nullptr;
}
