#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "core/parallel.h"
#include "wav/wav.h"

namespace {

// Places at least this many seconds apart, and at most this many of them.
constexpr int PLACE_SECONDS = 5;
constexpr int MAX_PLACES = 30;
// A place quieter than this share of the usual place's norm is a quiet
// passage or silence, where a decode cannot be told in or out of step.
constexpr double QUIET_SHARE = 0.01;
// The lags tried around where a decode is expected, and around where it was
// measured when that fails: slips as long as the delays searched.
constexpr int LOCAL_LAGS = 64;
constexpr int WIDE_LAGS = 2500;
// Wide searches are slow; a decode that needs more is out of step anyway.
constexpr int MAX_WIDE_SEARCHES = 8;
// A lag stands out when it matches well and every lag not next to it
// (more than NEAR_FRAMES away) scores at least PROMINENCE worse.
constexpr double PROMINENT_SCORE = 0.5;
constexpr double PROMINENCE = 0.1;
// Another lag is taken over the expected one only when it scores this much better.
constexpr double BETTER_BY = 0.02;
// Drift below 2 frames and level changes below 1 dB are what decoders do.
constexpr int STEP_FRAMES = 2;
constexpr double LEVEL_DB = 1.0;

struct place_outcome {
  bool counted = false;
  bool matched = false;
  std::int64_t expected = 0;
  double level = 0;
};

bool prominent(const lag_scores& s, int b) {
  const double score = s.score[static_cast<std::size_t>(b)];
  if (!(score <= PROMINENT_SCORE)) return false;
  for (int i = 0; i < static_cast<int>(s.score.size()); ++i) {
    if (std::abs(i - b) > NEAR_FRAMES && qualifies(s, i) && !(s.score[static_cast<std::size_t>(i)] >= score + PROMINENCE))
      return false;
  }
  return true;
}

// "m:ss" of the place's output frame.
std::string time_of(std::int64_t frame, std::uint32_t rate) {
  const std::int64_t seconds = rate == 0 ? 0 : frame / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
  return text;
}

struct check_context {
  const std::vector<std::int64_t>& places;
  const std::vector<bool>& checked;
  const std::vector<std::vector<double>>& ref;
  std::int32_t smallest_delay;
};

// Follows one decode from place to place: the lag where it matches, starting
// where the last place left it. Captures FILTER_LANES places at a time,
// ahead, at the lag expected so far; places past a change of lag are
// captured again. Returns false on a read that comes up short.
bool follow_decode(track_slot& slot, const check_context& c, std::vector<place_outcome>& out) {
  const track& t = slot.t;
  const int count = static_cast<int>(c.places.size());
  out.assign(static_cast<std::size_t>(count), {});
  std::vector<std::vector<double>> captured(FILTER_LANES, std::vector<double>(ANALYSIS_LENGTH));
  std::vector<std::int64_t> captured_from(static_cast<std::size_t>(count), -1);
  std::vector<int> captured_in(static_cast<std::size_t>(count), -1);
  std::int64_t expected = 0;
  int wide_left = MAX_WIDE_SEARCHES;
  const auto start_at = [&](int p) {
    return c.places[static_cast<std::size_t>(p)] + t.delay - c.smallest_delay + expected;
  };
  const auto fits = [&](int p) {
    return c.checked[static_cast<std::size_t>(p)] && start_at(p) >= 0 && start_at(p) + ANALYSIS_FRAMES <= t.frames;
  };
  lag_scores local;
  lag_scores wide;
  for (int p = 0; p < count; ++p) {
    if (!fits(p)) continue;
    const auto n = static_cast<std::size_t>(p);
    if (captured_from[n] != start_at(p)) {
      // Every capture ahead was made at another lag, and its buffer is reused.
      std::fill(captured_from.begin() + p, captured_from.end(), -1);
      std::vector<capture_job> jobs;
      for (int q = p; q < count && static_cast<int>(jobs.size()) < FILTER_LANES; ++q) {
        if (!fits(q)) continue;
        const auto qn = static_cast<std::size_t>(q);
        captured_from[qn] = start_at(q);
        captured_in[qn] = static_cast<int>(jobs.size());
        jobs.push_back({&slot, start_at(q), PICK_SUM, t.inverted, captured[jobs.size()].data()});
      }
      int failed = 0;
      if (!capture_jobs(jobs.data(), static_cast<int>(jobs.size()), failed)) return false;
    }
    const double* ref = c.ref[n].data();
    const double* test = captured[static_cast<std::size_t>(captured_in[n])].data();
    place_outcome& o = out[n];
    o.counted = true;
    score_lags(ref, test, -LOCAL_LAGS, 2 * LOCAL_LAGS + 1, local);
    const lag_scores* matched_in = nullptr;
    int at = -1;
    bool wide_search = true;
    const int b = best_lag(local);
    if (b >= 0) {
      const int zero = LOCAL_LAGS;
      const bool zero_qualifies = qualifies(local, zero);
      const double best_score = local.score[static_cast<std::size_t>(b)];
      const double zero_score = local.score[static_cast<std::size_t>(zero)];
      if (b != zero && (!zero_qualifies || best_score <= zero_score - BETTER_BY)) {
        if (prominent(local, b)) {
          matched_in = &local;
          at = b;
          wide_search = false;
        }
      } else if (zero_qualifies && zero_score <= POOR_MATCH_SCORE) {
        matched_in = &local;
        at = zero;
        wide_search = false;
      }
    }
    if (wide_search && wide_left > 0) {
      --wide_left;
      score_lags(ref, test, -WIDE_LAGS, 2 * WIDE_LAGS + 1, wide);
      const int w = best_lag(wide);
      if (w >= 0 && prominent(wide, w)) {
        matched_in = &wide;
        at = w;
      }
    }
    if (matched_in == nullptr) continue;
    o.matched = true;
    expected += matched_in->first_lag + at;
    o.expected = expected;
    o.level = 20 * std::log10(t.gain / matched_in->gain[static_cast<std::size_t>(at)]);
  }
  return true;
}

// The notes of one decode, in the order a reader wants them: its timing,
// places that do not match at all, then its level.
void print_notes(int track_index, const std::vector<place_outcome>& out, const std::vector<std::int64_t>& places,
                 std::uint32_t rate) {
  int first_step = -1;
  int first_level = -1;
  int last_matched = -1;
  int first_unmatched = -1;
  int unmatched = 0;
  int counted = 0;
  for (int p = 0; p < static_cast<int>(out.size()); ++p) {
    const place_outcome& o = out[static_cast<std::size_t>(p)];
    if (!o.counted) continue;
    ++counted;
    if (!o.matched) {
      if (first_unmatched < 0) first_unmatched = p;
      ++unmatched;
      continue;
    }
    last_matched = p;
    if (first_step < 0 && std::llabs(o.expected) >= STEP_FRAMES) first_step = p;
    if (first_level < 0 && std::fabs(o.level) >= LEVEL_DB) first_level = p;
  }
  const auto at = [&](int p) { return time_of(places[static_cast<std::size_t>(p)], rate); };
  const auto step = [&](int p) { return static_cast<int>(out[static_cast<std::size_t>(p)].expected); };
  const auto level = [&](int p) { return out[static_cast<std::size_t>(p)].level; };
  if (first_step >= 0) {
    std::printf("Note: track %d falls out of step later in the file: %+d frames at %s", track_index, step(first_step),
                at(first_step).c_str());
    if (last_matched != first_step) std::printf(", %+d frames at %s", step(last_matched), at(last_matched).c_str());
    std::fputs(".\r\n", stdout);
  }
  if (unmatched > 0) {
    std::printf("Note: track %d does not match the reference at %d of %d places checked, first at %s.\r\n",
                track_index, unmatched, counted, at(first_unmatched).c_str());
  }
  if (first_level >= 0) {
    std::printf("Note: track %d changes level later in the file: %+.1f dB at %s", track_index, level(first_level),
                at(first_level).c_str());
    if (last_matched != first_level) std::printf(", %+.1f dB at %s", level(last_matched), at(last_matched).c_str());
    std::fputs(".\r\n", stdout);
  }
}

}  // namespace

run_status check_whole_files(track_slot* slots, int wav_num, const run_values& values) {
  const std::uint32_t rate = slots[0].t.sample_rate;
  std::vector<int> decodes;
  for (int i = 1; i < wav_num; ++i) {
    if (slots[i].t.measured && slots[i].t.score <= POOR_MATCH_SCORE) decodes.push_back(i);
  }
  // Output frames: a place every PLACE_SECONDS, or more widely spread in a
  // long file, each with a whole capture inside the written length.
  const std::int64_t length = values.input_wav_length;
  const std::int64_t spacing =
      std::max<std::int64_t>(std::int64_t{PLACE_SECONDS} * rate, (length + MAX_PLACES - 1) / MAX_PLACES);
  std::vector<std::int64_t> places;
  for (std::int64_t j = spacing; spacing > 0 && j + ANALYSIS_FRAMES <= length; j += spacing) places.push_back(j);
  if (decodes.empty() || places.empty()) return STATUS_OK;

  const int count = static_cast<int>(places.size());
  std::vector<std::vector<double>> ref(static_cast<std::size_t>(count), std::vector<double>(ANALYSIS_LENGTH));
  std::vector<capture_job> jobs;
  jobs.reserve(places.size());
  for (int p = 0; p < count; ++p) {
    jobs.push_back({&slots[0], places[static_cast<std::size_t>(p)] - values.smallest_delay, PICK_SUM, false,
                    ref[static_cast<std::size_t>(p)].data()});
  }
  int failed = 0;
  if (!capture_jobs(jobs.data(), count, failed)) return cannot_read(slots[0]);
  std::vector<double> norms;
  norms.reserve(places.size());
  for (const std::vector<double>& r : ref) {
    double sum = 0;
    for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) sum += r[static_cast<std::size_t>(k)] * r[static_cast<std::size_t>(k)];
    norms.push_back(std::sqrt(sum));
  }
  std::vector<double> sorted = norms;
  std::sort(sorted.begin(), sorted.end());
  const double usual = sorted[static_cast<std::size_t>(count - 1) / 2];
  std::vector<bool> checked;
  checked.reserve(norms.size());
  for (double n : norms) checked.push_back(n > 0 && n >= QUIET_SHARE * usual);

  const check_context c{places, checked, ref, values.smallest_delay};
  std::vector<std::vector<place_outcome>> outcomes(decodes.size());
  std::vector<char> read(decodes.size(), 0);
  for_each_parallel(static_cast<int>(decodes.size()), [&](int d) {
    const auto n = static_cast<std::size_t>(d);
    read[n] = follow_decode(slots[decodes[n]], c, outcomes[n]) ? 1 : 0;
  });
  for (std::size_t d = 0; d < decodes.size(); ++d) {
    if (read[d] == 0) return cannot_read(slots[decodes[d]]);
    print_notes(decodes[d], outcomes[d], places, rate);
  }
  return STATUS_OK;
}
