#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/kernels.h"
#include "core/parallel.h"
#include "wav/wav.h"

namespace {

// Places at least this many seconds apart, and at most this many of them.
constexpr int PLACE_SECONDS = 5;
constexpr int MAX_PLACES = 30;
// A place more than 20 dB below the usual place (a hundredth of its
// energy), or quieter than -70 dBFS (the energy of 2 x 30000 values whose
// mean square is 1e-7), holds a pause, a decay tail or dither, where codec
// noise is as loud as the music: a decode can be neither matched nor
// levelled there.
constexpr double QUIET_SHARE = 0.01;
constexpr double FLOOR_ENERGY = 0.006;
// The lags tried around where a decode is expected (one block of the
// widest kernel), and around where it was measured when that fails: slips as
// long as the delays searched.
constexpr int LOCAL_LAGS = 31;
constexpr int WIDE_LAGS = 2500;
// Wide searches are slow; a decode that needs more is out of step anyway.
constexpr int MAX_WIDE_SEARCHES = 8;
// Where a wide search finds nothing, the decode may lie further off (ten MP3
// frames are 11520): captured again this far to each side, each searched as
// wide, at most MAX_FAR_SEARCHES times a decode.
constexpr int FAR_SHIFTS[] = {-10000, -5000, 5000, 10000};
constexpr int MAX_FAR_SEARCHES = 2;
// A lag stands out when it matches well and every lag not next to it
// (more than NEAR_FRAMES away) scores at least PROMINENCE worse.
constexpr double PROMINENT_SCORE = 0.5;
constexpr double PROMINENCE = 0.1;
// Another lag is taken over the expected one only when it scores this much better.
constexpr double BETTER_BY = 0.02;
// Up to WEAK_SCORE, or where it stands out among the lags near it, the
// expected lag still holds the same music, coded poorly (noise
// substitution, a low bitrate); beyond UNRELATED_SCORE the music there is
// another.
constexpr double WEAK_SCORE = 1.0;
constexpr double UNRELATED_SCORE = 1.2;
// A dropout: two neighbouring blocks of 2500 values (57 ms each) where the
// reference has sound (a tenth of its mean block or more) and the decode,
// at its gain, is 30 dB quieter or silent.
constexpr int BLOCK_VALUES = 2500;
constexpr int BLOCKS = (COMPARE_END - COMPARE_BEGIN) / BLOCK_VALUES;
static_assert(BLOCKS * BLOCK_VALUES == COMPARE_END - COMPARE_BEGIN, "blocks cover the compared values");
constexpr double SOUND_SHARE = 0.1;
constexpr double DROPOUT_SHARE = 0.001;
// Drift below 2 frames and level changes below 1 dB are what decoders do; a
// first second levelled 0.5 dB off the rest is worth knowing.
constexpr int STEP_FRAMES = 2;
constexpr double LEVEL_DB = 1.0;
constexpr double FILE_LEVEL_DB = 0.5;
// A start that scores this close to its best at the lag the whole file
// fits was as likely there: a held note misled the search.
constexpr double MISMEASURE_MARGIN = 0.1;

double sq(double x) { return x * x; }

// Whether every lag not next to b scores at least PROMINENCE worse.
bool stands_out(const lag_scores& s, int b) {
  const double score = s.score[static_cast<std::size_t>(b)];
  for (int i = 0; i < static_cast<int>(s.score.size()); ++i) {
    if (std::abs(i - b) > NEAR_FRAMES && qualifies(s, i) && !(s.score[static_cast<std::size_t>(i)] >= score + PROMINENCE))
      return false;
  }
  return true;
}

bool prominent(const lag_scores& s, int b) { return s.score[static_cast<std::size_t>(b)] <= PROMINENT_SCORE && stands_out(s, b); }

// One place of the reference: both channels through the filter, their sum
// searched, and the energies the decode's are held against.
struct reference_place {
  std::vector<double> left;
  std::vector<double> right;
  std::vector<double> mono;
  double energy = 0;
  double blocks[BLOCKS] = {};
  double spread = 0;
};

struct check_context {
  const std::vector<std::int64_t>& places;
  const std::vector<place_finding>& judged;
  const std::vector<reference_place>& ref;
};

// The energies of the decode's channels at value offset x against the
// reference's place: level, dropout and swap.
void judge_at(const reference_place& r, const double* l, const double* rr, int x, double start_gain,
              place_finding& o) {
  double blocks[BLOCKS] = {};
  double decode = 0;
  for (int b = 0; b < BLOCKS; ++b) {
    double sum = 0;
    for (int k = COMPARE_BEGIN + b * BLOCK_VALUES; k < COMPARE_BEGIN + (b + 1) * BLOCK_VALUES; ++k)
      sum += l[k + x] * l[k + x] + rr[k + x] * rr[k + x];
    blocks[b] = sum;
  }
  for (double b : blocks) decode += b;
  const double g2 = start_gain * start_gain;
  bool previous = false;
  for (int b = 0; b < BLOCKS; ++b) {
    const bool dropped = r.blocks[b] >= SOUND_SHARE * r.energy / BLOCKS && blocks[b] * g2 < DROPOUT_SHARE * r.blocks[b];
    if (dropped && previous) {
      o.kind = PLACE_DROPOUT;
      return;
    }
    previous = dropped;
  }
  if (o.kind != PLACE_IN_STEP || decode == 0) return;
  const double g = std::sqrt(r.energy / decode);
  double same = 0;
  double cross = 0;
  for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) {
    const auto n = static_cast<std::size_t>(k);
    same += sq(g * l[k + x] - r.left[n]) + sq(g * rr[k + x] - r.right[n]);
    cross += sq(g * rr[k + x] - r.left[n]) + sq(g * l[k + x] - r.right[n]);
  }
  o.swapped = r.spread >= DISTINCT_CHANNELS * r.energy && cross < SWAPPED_RESIDUAL * same;
  o.level_judged = o.score <= POOR_MATCH_SCORE;
  o.level = 10 * std::log10(g2 * decode / r.energy);
}

// Follows one decode from place to place: the lag where it matches, starting
// where the last place left it. Captures its channels at FILTER_LANES / 2
// places at a time, ahead, at the lag expected so far; places past a change
// of lag are captured again. Returns false on a read that comes up short.
bool follow_decode(track_slot& slot, const check_context& c, std::vector<place_finding>& out) {
  const track& t = slot.t;
  constexpr int AHEAD = FILTER_LANES / 2;
  const int count = static_cast<int>(c.places.size());
  out = c.judged;
  std::vector<std::vector<double>> captured(FILTER_LANES, std::vector<double>(ANALYSIS_LENGTH));
  std::vector<double> mono(ANALYSIS_LENGTH);
  std::vector<std::int64_t> captured_from(static_cast<std::size_t>(count), -1);
  std::vector<int> captured_in(static_cast<std::size_t>(count), -1);
  std::int64_t expected = 0;
  int wide_left = MAX_WIDE_SEARCHES;
  int far_left = MAX_FAR_SEARCHES;
  // Made only for a decode that needs them.
  std::vector<std::vector<double>> far;
  std::vector<double> far_mono;
  const auto start_at = [&](int p) { return c.places[static_cast<std::size_t>(p)] + t.delay + expected; };
  const auto fits = [&](int p) {
    return !c.judged[static_cast<std::size_t>(p)].quiet && start_at(p) >= 0 && start_at(p) + ANALYSIS_FRAMES <= t.frames;
  };
  lag_scores local;
  lag_scores wide;
  for (int p = 0; p < count; ++p) {
    const auto n = static_cast<std::size_t>(p);
    place_finding& o = out[n];
    if (!fits(p)) continue;
    if (captured_from[n] != start_at(p)) {
      // Every capture ahead was made at another lag, and its buffer is reused.
      std::fill(captured_from.begin() + p, captured_from.end(), -1);
      std::vector<capture_job> jobs;
      for (int q = p, held = 0; q < count && held < AHEAD; ++q) {
        if (!fits(q)) continue;
        const auto qn = static_cast<std::size_t>(q);
        captured_from[qn] = start_at(q);
        captured_in[qn] = held;
        jobs.push_back({&slot, start_at(q), PICK_LEFT, t.inverted, captured[2 * static_cast<std::size_t>(held)].data()});
        jobs.push_back(
            {&slot, start_at(q), PICK_RIGHT, t.inverted, captured[2 * static_cast<std::size_t>(held) + 1].data()});
        ++held;
      }
      int failed = 0;
      if (!capture_jobs(jobs.data(), static_cast<int>(jobs.size()), failed)) return false;
    }
    const double* left = captured[2 * static_cast<std::size_t>(captured_in[n])].data();
    const double* right = captured[2 * static_cast<std::size_t>(captured_in[n]) + 1].data();
    for (std::size_t k = 0; k < mono.size(); ++k) mono[k] = left[k] + right[k];
    const reference_place& r = c.ref[n];
    score_lags(r.mono.data(), mono.data(), -LOCAL_LAGS, 2 * LOCAL_LAGS + 1, local);
    const int zero = LOCAL_LAGS;
    const bool zero_qualifies = qualifies(local, zero);
    const double zero_score = local.score[static_cast<std::size_t>(zero)];
    o.expected_score = zero_score;
    int moved = 0;
    bool searched_wide = false;
    o.kind = PLACE_LOST;
    const int b = best_lag(local);
    if (b >= 0 && b != zero && (!zero_qualifies || local.score[static_cast<std::size_t>(b)] <= zero_score - BETTER_BY) &&
        prominent(local, b)) {
      o.kind = PLACE_IN_STEP;
      moved = b - LOCAL_LAGS;
      o.score = local.score[static_cast<std::size_t>(b)];
    } else if (zero_qualifies && zero_score <= POOR_MATCH_SCORE) {
      o.kind = PLACE_IN_STEP;
      o.score = zero_score;
    } else if (wide_left > 0) {
      --wide_left;
      searched_wide = true;
      score_lags(r.mono.data(), mono.data(), -WIDE_LAGS, 2 * WIDE_LAGS + 1, wide);
      const int w = best_lag(wide);
      if (w >= 0 && prominent(wide, w)) {
        o.kind = PLACE_IN_STEP;
        moved = w - WIDE_LAGS;
        o.score = wide.score[static_cast<std::size_t>(w)];
      }
    }
    if (o.kind == PLACE_LOST) {
      o.score = zero_qualifies ? zero_score : std::nan("");
      // Poorer than WEAK_SCORE, but still where nothing near it matches
      // as well: the same music, coded with few bits.
      if (zero_qualifies && (zero_score <= WEAK_SCORE || stands_out(local, zero))) o.kind = PLACE_WEAK;
    }
    const double* judged_left = left;
    const double* judged_right = right;
    int judged_at = moved;
    if (o.kind == PLACE_LOST && searched_wide && far_left > 0) {
      --far_left;
      far.resize(2 * std::size(FAR_SHIFTS), std::vector<double>(ANALYSIS_LENGTH));
      far_mono.resize(ANALYSIS_LENGTH);
      std::vector<capture_job> jobs;
      std::vector<int> shifts;
      for (int shift : FAR_SHIFTS) {
        const std::int64_t from = start_at(p) + shift;
        if (from < 0 || from + ANALYSIS_FRAMES > t.frames) continue;
        const std::size_t at = 2 * shifts.size();
        jobs.push_back({&slot, from, PICK_LEFT, t.inverted, far[at].data()});
        jobs.push_back({&slot, from, PICK_RIGHT, t.inverted, far[at + 1].data()});
        shifts.push_back(shift);
      }
      int failed = 0;
      if (!capture_jobs(jobs.data(), static_cast<int>(jobs.size()), failed)) return false;
      double best_score = 0;
      for (std::size_t f = 0; f < shifts.size(); ++f) {
        for (std::size_t k = 0; k < far_mono.size(); ++k) far_mono[k] = far[2 * f][k] + far[2 * f + 1][k];
        score_lags(r.mono.data(), far_mono.data(), -WIDE_LAGS, 2 * WIDE_LAGS + 1, wide);
        const int w = best_lag(wide);
        if (w < 0 || !prominent(wide, w)) continue;
        const double score = wide.score[static_cast<std::size_t>(w)];
        if (o.kind == PLACE_IN_STEP && !(score < best_score)) continue;
        o.kind = PLACE_IN_STEP;
        o.score = best_score = score;
        judged_at = w - WIDE_LAGS;
        moved = shifts[f] + judged_at;
        judged_left = far[2 * f].data();
        judged_right = far[2 * f + 1].data();
      }
    }
    judge_at(r, judged_left, judged_right, judged_at, t.gain, o);
    // A dropout says nothing of where the decode stands.
    if (o.kind == PLACE_DROPOUT) moved = 0;
    expected += moved;
    o.lag = expected;
  }
  return true;
}

// Whether the decode's first second fits delay + `off` about as well as the
// delay it was measured at.
bool start_fits(const track_slot& ref, const track_slot& slot, std::int64_t off) {
  const track& t = slot.t;
  const std::int64_t delay = t.delay + off;
  if (delay < DELAY_MIN || delay >= DELAY_MAX) return false;
  std::vector<double> test(t.analysis.get(), t.analysis.get() + ANALYSIS_LENGTH);
  if (t.inverted) {
    for (double& v : test) v = -v;
  }
  lag_scores s;
  score_lags(ref.t.analysis.get(), test.data(), static_cast<int>(delay), 1, s);
  return qualifies(s, 0) && s.score[0] <= t.score + MISMEASURE_MARGIN && s.score[0] <= POOR_MATCH_SCORE;
}

// What a decode's places add up to.
void sum_up(decode_check& d, const track& t) {
  const channel_finding start = t.channels;
  std::vector<int> in_step;
  std::vector<int> levelled;
  for (int p = 0; p < static_cast<int>(d.places.size()); ++p) {
    const place_finding& o = d.places[static_cast<std::size_t>(p)];
    if (o.kind == PLACE_SKIPPED) continue;
    ++d.counted;
    if (o.kind == PLACE_LOST) {
      if (d.first_lost < 0) d.first_lost = p;
      ++d.lost;
    }
    if (o.kind == PLACE_DROPOUT) {
      if (d.first_dropout < 0) d.first_dropout = p;
      ++d.dropouts;
    }
    if (o.kind != PLACE_IN_STEP) continue;
    in_step.push_back(p);
    if (o.swapped && start != CHANNELS_SWAPPED) {
      if (d.first_swap < 0) d.first_swap = p;
      ++d.swaps;
    }
    if (o.level_judged) levelled.push_back(p);
  }
  // One unrelated place, or two poor ones: not a codec's bad moment.
  if (d.lost == 1 && !(d.places[static_cast<std::size_t>(d.first_lost)].score > UNRELATED_SCORE) &&
      std::isfinite(d.places[static_cast<std::size_t>(d.first_lost)].score))
    d.lost = 0;
  const auto lag = [&](int p) { return d.places[static_cast<std::size_t>(p)].lag; };
  for (int p : in_step) {
    if (d.step_first < 0 && std::llabs(lag(p)) >= STEP_FRAMES) d.step_first = p;
  }
  if (d.step_first >= 0) {
    d.step_last = in_step.back();
    if (std::llabs(lag(d.step_last)) < STEP_FRAMES) {
      for (int p : in_step) {
        if (p > d.step_first && std::llabs(lag(p)) < STEP_FRAMES) {
          d.step_back = p;
          break;
        }
      }
      d.step_last = -1;
    }
  }
  const auto level = [&](int p) { return d.places[static_cast<std::size_t>(p)].level; };
  const int n = static_cast<int>(levelled.size());
  // Changes are told against the start, measured the same way.
  d.level_base = t.start_level;
  if (n >= 3) {
    std::vector<double> sorted;
    sorted.reserve(levelled.size());
    for (int p : levelled) sorted.push_back(level(p));
    std::sort(sorted.begin(), sorted.end());
    const double m = sorted[static_cast<std::size_t>(n - 1) / 2];
    int near = 0;
    for (double v : sorted) near += std::fabs(v - m) < FILE_LEVEL_DB ? 1 : 0;
    // Off from the first place on, not from a later one: the start, not the decode, differs.
    // A silent or leaning channel makes a level of both channels mislead;
    // its own note says so.
    if (std::fabs(m) >= FILE_LEVEL_DB && 2 * near > n && std::fabs(level(levelled[0]) - m) < LEVEL_DB &&
        start != CHANNEL_SILENT && start != CHANNELS_LEAN) {
      d.file_level_differs = true;
      d.file_level = m;
      d.level_base = m;
    }
  }
  // A change that holds: off by LEVEL_DB or more, on one side, from some
  // place to the last, at two places at least; a coder's wobble comes back.
  const auto off = [&](int i) { return level(levelled[static_cast<std::size_t>(i)]) - d.level_base; };
  int from = n;
  while (from > 0 && std::fabs(off(from - 1)) >= LEVEL_DB && (off(from - 1) > 0) == (off(n - 1) > 0)) --from;
  if (n - from >= 2 && start != CHANNEL_SILENT && start != CHANNELS_LEAN) {
    d.level_first = levelled[static_cast<std::size_t>(from)];
    d.level_last = levelled.back();
  }
}

// "m:ss" of a reference frame.
}  // namespace

run_status check_whole_files(track_slot* slots, int wav_num, whole_file_result& out) {
  out = {};
  const track& reference = slots[0].t;
  const std::uint32_t rate = reference.sample_rate;
  // A decode that ends early cuts every output to its end.
  std::int64_t end = reference.frames;
  for (int i = 1; i < wav_num; ++i) {
    const std::int64_t own = slots[i].t.frames - slots[i].t.delay;
    if (own < end) {
      end = own;
      out.early_track = i;
    }
  }
  if (reference.frames - end > static_cast<std::int64_t>(rate)) {
    out.early_frames = reference.frames - end;
  } else {
    out.early_track = 0;
  }

  std::vector<int> decodes;
  for (int i = 1; i < wav_num; ++i) {
    if (slots[i].t.measured && slots[i].t.score <= POOR_MATCH_SCORE) decodes.push_back(i);
  }
  // Places in the reference's own time, so that a decode's findings do not
  // depend on the others of the run: one every PLACE_SECONDS, or more widely
  // spread in a long file, each with a whole capture inside the reference.
  const std::int64_t length = reference.frames;
  const std::int64_t spacing =
      std::max<std::int64_t>(std::int64_t{PLACE_SECONDS} * rate, (length + MAX_PLACES - 1) / MAX_PLACES);
  for (std::int64_t j = spacing; spacing > 0 && j + ANALYSIS_FRAMES <= length; j += spacing) out.places.push_back(j);
  if (decodes.empty() || out.places.empty()) return STATUS_OK;

  const int count = static_cast<int>(out.places.size());
  std::vector<reference_place> ref(static_cast<std::size_t>(count));
  std::vector<capture_job> jobs;
  jobs.reserve(2 * out.places.size());
  for (int p = 0; p < count; ++p) {
    reference_place& r = ref[static_cast<std::size_t>(p)];
    r.left.resize(ANALYSIS_LENGTH);
    r.right.resize(ANALYSIS_LENGTH);
    jobs.push_back({&slots[0], out.places[static_cast<std::size_t>(p)], PICK_LEFT, false, r.left.data()});
    jobs.push_back({&slots[0], out.places[static_cast<std::size_t>(p)], PICK_RIGHT, false, r.right.data()});
  }
  int failed = 0;
  if (!capture_jobs(jobs.data(), static_cast<int>(jobs.size()), failed)) return cannot_read(slots[0]);
  std::vector<double> energies;
  for (reference_place& r : ref) {
    r.mono.resize(ANALYSIS_LENGTH);
    for (std::size_t k = 0; k < r.mono.size(); ++k) r.mono[k] = r.left[k] + r.right[k];
    for (int b = 0; b < BLOCKS; ++b) {
      double sum = 0;
      for (int k = COMPARE_BEGIN + b * BLOCK_VALUES; k < COMPARE_BEGIN + (b + 1) * BLOCK_VALUES; ++k) {
        const auto n = static_cast<std::size_t>(k);
        sum += r.left[n] * r.left[n] + r.right[n] * r.right[n];
      }
      r.blocks[b] = sum;
    }
    for (double b : r.blocks) r.energy += b;
    for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) r.spread += sq(r.left[static_cast<std::size_t>(k)] - r.right[static_cast<std::size_t>(k)]);
    energies.push_back(r.energy);
  }
  std::vector<double> sorted = energies;
  std::sort(sorted.begin(), sorted.end());
  const double usual = sorted[static_cast<std::size_t>(count - 1) / 2];
  const double quiet = QUIET_SHARE * usual;
  std::vector<place_finding> judged(static_cast<std::size_t>(count));
  for (int p = 0; p < count; ++p) {
    const double e = energies[static_cast<std::size_t>(p)];
    judged[static_cast<std::size_t>(p)].quiet = !(e > 0 && e >= quiet && e >= FLOOR_ENERGY);
  }

  const check_context c{out.places, judged, ref};
  out.decodes.resize(decodes.size());
  std::vector<char> read(decodes.size(), 0);
  for_each_parallel(static_cast<int>(decodes.size()), [&](int d) {
    const auto n = static_cast<std::size_t>(d);
    decode_check& check = out.decodes[n];
    check.track = decodes[n];
    read[n] = follow_decode(slots[decodes[n]], c, check.places) ? 1 : 0;
    if (read[n] == 0) return;
    sum_up(check, slots[decodes[n]].t);
    // Every place in step off the same lag, which the start fits too.
    if (check.step_first >= 0 && check.step_back < 0) {
      const std::int64_t off = check.places[static_cast<std::size_t>(check.step_first)].lag;
      bool same = true;
      for (const place_finding& o : check.places) {
        if (o.kind == PLACE_IN_STEP && std::llabs(o.lag - off) > 1) same = false;
      }
      bool first_in_step = true;
      for (int p = 0; p < check.step_first; ++p) {
        if (check.places[static_cast<std::size_t>(p)].kind == PLACE_IN_STEP) first_in_step = false;
      }
      if (same && first_in_step && start_fits(slots[0], slots[decodes[n]], off)) {
        check.mismeasured = true;
        check.fitting_delay = static_cast<std::int32_t>(slots[decodes[n]].t.delay + off);
      }
    }
  });
  for (std::size_t d = 0; d < decodes.size(); ++d) {
    if (read[d] == 0) return cannot_read(slots[decodes[d]]);
  }
  return STATUS_OK;
}
