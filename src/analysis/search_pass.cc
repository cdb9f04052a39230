#include <cmath>
#include <vector>

#include "analysis/kernels.h"
#include "core/parallel.h"
#include "wav/wav.h"

namespace {

// A best window more than 60 dB below the reference's is silence that a
// decoder filled with tiny values; its gain would set the scale of the run.
constexpr double SILENT_GAIN = 1000;
// Another delay, more than NEAR_FRAMES from the one found, that scores within
// REPEAT_MARGIN of it may be the true one: music that repeats itself.
constexpr double REPEAT_MARGIN = 0.02;
// The balance of the channels against the reference's, in dB: beyond 40 one
// channel is all but silent, beyond 3 the image is pulled to one side.
constexpr double SILENT_CHANNEL_DB = 40;
constexpr double LEAN_DB = 3;

struct measurement {
  search_result result;
  bool inverted = false;
  bool repeats = false;
  std::int32_t repeat_delay = 0;
  channel_finding channels = CHANNELS_FINE;
  double lean = 0;
  double level = 0;
};

bool checked_further(const search_result& r) { return r.kind == SEARCH_FOUND && r.score <= POOR_MATCH_SCORE; }

// The delay search of one decode, again on its negated values when it
// matches poorly: an inverted decode matches its reference only so.
measurement measure(const double* ref, const double* test) {
  measurement m;
  lag_scores s;
  score_lags(ref, test, DELAY_MIN, DELAY_COUNT, s);
  m.result = result_at(s, best_lag(s));
  if (m.result.kind == SEARCH_FOUND && m.result.gain > SILENT_GAIN) m.result.kind = SEARCH_SILENT;
  if (m.result.kind == SEARCH_FOUND && m.result.score > POOR_MATCH_SCORE) {
    std::vector<double> negated(ANALYSIS_LENGTH);
    for (int i = 0; i < ANALYSIS_LENGTH; ++i) negated[static_cast<std::size_t>(i)] = -test[i];
    lag_scores n;
    score_lags(ref, negated.data(), DELAY_MIN, DELAY_COUNT, n);
    const search_result r = result_at(n, best_lag(n));
    if (r.kind == SEARCH_FOUND && r.score <= POOR_MATCH_SCORE && r.score < m.result.score && r.gain <= SILENT_GAIN) {
      m.result = r;
      m.inverted = true;
      s = std::move(n);
    }
  }
  if (!checked_further(m.result)) return m;
  const int second = best_lag(s, m.result.delay - DELAY_MIN, NEAR_FRAMES);
  if (second >= 0 && s.score[static_cast<std::size_t>(second)] <= m.result.score + REPEAT_MARGIN) {
    m.repeats = true;
    m.repeat_delay = DELAY_MIN + second;
  }
  return m;
}

// The left and right channels of the reference (l, r) against the decode's
// (dl, dr) at its delay and signed gain: swapped, one silent, or leaning.
void judge_channels(const double* l, const double* r, const double* dl, const double* dr, measurement& m) {
  const double g = m.inverted ? -m.result.gain : m.result.gain;
  const int d = m.result.delay;
  double same_left = 0;
  double same_right = 0;
  double cross_left = 0;
  double cross_right = 0;
  double spread = 0;
  double left_energy = 0;
  double right_energy = 0;
  double decode_left = 0;
  double decode_right = 0;
  for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) {
    const double x = dl[k + d];
    const double y = dr[k + d];
    const double a = g * x - l[k];
    const double b = g * y - r[k];
    const double c = g * y - l[k];
    const double e = g * x - r[k];
    const double w = l[k] - r[k];
    same_left += a * a;
    same_right += b * b;
    cross_left += c * c;
    cross_right += e * e;
    spread += w * w;
    left_energy += l[k] * l[k];
    right_energy += r[k] * r[k];
    decode_left += x * x;
    decode_right += y * y;
  }
  if (left_energy + right_energy > 0 && decode_left + decode_right > 0)
    m.level = 10 * std::log10(g * g * (decode_left + decode_right) / (left_energy + right_energy));
  if (spread >= DISTINCT_CHANNELS * (left_energy + right_energy) &&
      cross_left + cross_right < SWAPPED_RESIDUAL * (same_left + same_right)) {
    m.channels = CHANNELS_SWAPPED;
  } else if (left_energy > 0 && right_energy > 0) {
    if (decode_left == 0 || decode_right == 0) {
      m.channels = CHANNEL_SILENT;
      return;
    }
    m.lean = 10 * std::log10((decode_left / decode_right) / (left_energy / right_energy));
    if (std::fabs(m.lean) >= SILENT_CHANNEL_DB) {
      m.channels = CHANNEL_SILENT;
    } else if (std::fabs(m.lean) >= LEAN_DB) {
      m.channels = CHANNELS_LEAN;
    }
  }
}

// Captures each channel alone of the reference and of every decode that
// matched, from the frames its delay was measured on, and judges them.
// Prints nothing; on a read that comes up short, returns the slot.
track_slot* judge_all_channels(track_slot* slots, int wav_num, std::vector<measurement>& m) {
  bool any = false;
  for (int i = 1; i < wav_num; ++i) any = any || checked_further(m[static_cast<std::size_t>(i)].result);
  if (!any) return nullptr;
  std::vector<std::vector<double>> left(static_cast<std::size_t>(wav_num));
  std::vector<std::vector<double>> right(static_cast<std::size_t>(wav_num));
  std::vector<capture_job> jobs;
  for (int i = 0; i < wav_num; ++i) {
    const auto n = static_cast<std::size_t>(i);
    if (i > 0 && !checked_further(m[n].result)) continue;
    left[n].resize(ANALYSIS_LENGTH);
    right[n].resize(ANALYSIS_LENGTH);
    const std::int64_t from = slots[i].t.capture_frame;
    jobs.push_back({&slots[i], from, PICK_LEFT, false, left[n].data()});
    jobs.push_back({&slots[i], from, PICK_RIGHT, false, right[n].data()});
  }
  int failed = 0;
  if (!capture_jobs(jobs.data(), static_cast<int>(jobs.size()), failed)) return jobs[static_cast<std::size_t>(failed)].slot;
  for (int i = 1; i < wav_num; ++i) {
    const auto n = static_cast<std::size_t>(i);
    if (checked_further(m[n].result))
      judge_channels(left[0].data(), right[0].data(), left[n].data(), right[n].data(), m[n]);
  }
  return nullptr;
}

}  // namespace

run_status search_pass(track_slot* slots, int wav_num, run_values& values) {
  std::vector<measurement> m(static_cast<std::size_t>(wav_num));
  // The searches are independent and long: one a core.
  for_each_parallel(wav_num - 1, [&](int n) {
    m[static_cast<std::size_t>(n) + 1] = measure(slots[0].t.analysis.get(), slots[n + 1].t.analysis.get());
  });
  if (const track_slot* failed = judge_all_channels(slots, wav_num, m)) return cannot_read(*failed);
  for (int i = 1; i < wav_num; ++i) {
    track& t = slots[i].t;
    const measurement& mi = m[static_cast<std::size_t>(i)];
    t.silent = mi.result.kind == SEARCH_SILENT;
    if (mi.result.kind == SEARCH_FOUND) {
      t.delay = mi.result.delay;
      t.gain = mi.result.gain;
      t.score = mi.result.score;
      t.measured = true;
      t.inverted = mi.inverted;
      t.repeats = mi.repeats;
      t.repeat_delay = mi.repeat_delay;
      t.channels = mi.channels;
      t.lean = mi.lean;
      t.start_level = mi.level;
    }
    if (t.delay < values.smallest_delay) values.smallest_delay = t.delay;
    if (values.biggest_delay < t.delay) values.biggest_delay = t.delay;
    if (values.biggest_gain < t.gain) values.biggest_gain = t.gain;
  }
  values.input_wav_length -= values.biggest_delay - values.smallest_delay;
  return STATUS_OK;
}
