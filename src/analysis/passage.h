// The measurement of eqalign-pack: each decode's lag, gain and score over
// the passage that listeners hear, both channels through the equal-loudness
// filter, where eqalign measures a first second of mono.
#pragma once

#include <cstdint>
#include <vector>

#include "core/track.h"

// Lags tried on each side of the one a decode is expected at, as the
// whole-file check tries them around a place.
constexpr int PASSAGE_LAGS = 64;
// Every lag more than NEAR_FRAMES from the best must score this much worse:
// otherwise the passage holds a fault, or music that repeats.
constexpr double PASSAGE_MARGIN = 0.1;

// A place where the whole-file check matched a decode: the reference's
// frame, and the lag found there beyond the decode's delay.
struct checked_place {
  std::int64_t reference_frame = 0;
  std::int64_t lag = 0;
};

// The lag a decode is expected at from reference frame `from` on: its delay,
// plus the lag of the last place at or before `from` (none: 0).
std::int64_t expected_lag(std::int32_t delay, const std::vector<checked_place>& places, std::int64_t from);

enum passage_kind {
  PASSAGE_FOUND,
  // The reference, or the decode at every lag, is silent over the passage.
  PASSAGE_SILENT,
  // The best lag scores above POOR_MATCH_SCORE.
  PASSAGE_POOR,
  // A lag more than NEAR_FRAMES from the best scores within PASSAGE_MARGIN of it.
  PASSAGE_AMBIGUOUS,
};

struct passage_result {
  passage_kind kind = PASSAGE_SILENT;
  // The decode's frame that plays with the reference's frame f is f + lag.
  std::int64_t lag = 0;
  double gain = 1.0;
  double score = 0.0;
  // PASSAGE_AMBIGUOUS: the lag that scored nearly as well, and its score.
  std::int64_t rival_lag = 0;
  double rival_score = 0.0;
  // The largest magnitude of a sample of the passage at `lag`, on either
  // channel, in units of full scale; a sample that is not finite counts as 0.
  double peak = 0.0;
};

// Measures decodes 1 .. wav_num - 1 over the reference's frames
// [from, from + length), decode i at the lags expected[i] - PASSAGE_LAGS to
// expected[i] + PASSAGE_LAGS, and the reference's own peak into out[0].
// Each channel runs through the filter from rest WARMUP_FRAMES before the
// frames compared, or from the file's first frame; frames outside a file
// count as silence. A lag's gain is sqrt(ref energy / decode energy) and its
// score sqrt(residual / ref energy), each energy and residual that of both
// channels added. A channel's residual, the sum of (gain x decode - ref)^2,
// is taken as ref energy - 2 gain cross + gain^2 decode energy from sums
// made in one sweep: the energies, and the cross sum of decode x ref. Every
// sum runs in ascending frame order in plain double arithmetic (a decode's
// energy at a lag adds the frames at either end, which only some lags
// compare, to the sum of those all compare), so the results are the same
// bits on every CPU. Reads each file once; prints nothing. On a read that
// comes up short, returns false with `failed` the file's index.
bool measure_passage(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                     const std::int64_t* expected, passage_result* out, int& failed);

// The same with a chosen width of vector lanes, as for the search; the
// results never depend on it.
bool measure_passage_with(track_slot* slots, int wav_num, std::int64_t from, std::int64_t length,
                          const std::int64_t* expected, passage_result* out, int& failed, int lanes, bool native);
