#include "core/track.h"

#include <new>

bool init_track(track& t) {
  t = track{};
  t.analysis.reset(new (std::nothrow) double[ANALYSIS_LENGTH]);
  return t.analysis != nullptr;
}
