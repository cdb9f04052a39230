#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "analysis/kernels.h"
#include "plain_search.h"
#include "scratch_dir.h"
#include "signals.h"
#include "wav/wav.h"

namespace {

using signal = std::vector<double>;

signal noise(std::uint64_t seed) {
  noise_source n{seed};
  signal s(ANALYSIS_LENGTH);
  for (double& v : s) v = n.next();
  return s;
}

// `ref`'s material `delay` frames later, scaled by `gain`; other noise where `ref` has none.
signal shifted(const signal& ref, int delay, double gain, std::uint64_t seed) {
  signal s = noise(seed);
  for (int i = std::max(0, delay); i < std::min(ANALYSIS_LENGTH, ANALYSIS_LENGTH + delay); ++i)
    s[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(i - delay)] * gain;
  return s;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

TEST(Search, EqualScoresGoToTheSmallerDelay) {
  // Period 1000: every delay that is a multiple of it matches exactly.
  signal ref = noise(4);
  for (int i = 1000; i < ANALYSIS_LENGTH; ++i)
    ref[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(i % 1000)];
  const search_result r = search_delays(ref.data(), ref.data());
  EXPECT_EQ(r.delay, -2000);
  EXPECT_EQ(r.score, 0.0);
}

// Sound only in the first 300 values: the window of delay -2200 holds none,
// and the candidates of the delays before it are dropped.
TEST(Search, ASilentWindowStopsTheSearch) {
  const signal ref = noise(5);
  signal early(ANALYSIS_LENGTH, 0.0);
  std::copy(ref.begin(), ref.begin() + 300, early.begin());
  EXPECT_EQ(search_delays(ref.data(), early.data()).kind, SEARCH_SILENT);
}

TEST(SearchKernels, EveryKernelAgreesWithThePlainSearchBitForBit) {
  const signal ref = noise(7);
  signal two_paths = shifted(ref, 300, 0.5, 8);  // two delays almost alike
  const signal other = shifted(ref, 301, 0.5, 9);
  for (std::size_t i = 0; i < two_paths.size(); ++i) two_paths[i] += other[i];
  signal tone(ANALYSIS_LENGTH);  // periodic: thousands of near-equal delays
  signal tone_ref(ANALYSIS_LENGTH);
  for (int i = 0; i < ANALYSIS_LENGTH; ++i) {
    tone[static_cast<std::size_t>(i)] = sine_of_turns(i * 0.00196) * 1e-3;
    tone_ref[static_cast<std::size_t>(i)] = sine_of_turns((i + 17) * 0.00196) * 3.0;
  }
  const signal tiny = shifted(ref, -1234, 1e-150, 10);  // far below the reference's level
  struct pair {
    const char* what;
    const signal& ref;
    const signal& test;
  };
  const pair pairs[] = {{"two paths", ref, two_paths}, {"tone", tone_ref, tone}, {"tiny", ref, tiny}};
  for (const pair& p : pairs) {
    const search_result plain = plain_search(p.ref.data(), p.test.data());
    for (int lanes : {2, 4, 8}) {
      for (bool native : {false, true}) {
        // The kernels that run somewhere on every pair; the others, which only
        // prove the block logic of their width, once.
        const bool used = native || lanes == 2 || &p == pairs;
        if (!used || !kernel_runs_here({lanes, native})) continue;
        const search_result fast = search_delays_with(p.ref.data(), p.test.data(), {lanes, native});
        EXPECT_EQ(fast.kind, plain.kind) << p.what << lanes << native;
        EXPECT_EQ(fast.delay, plain.delay) << p.what << lanes << native;
        EXPECT_EQ(bits(fast.gain), bits(plain.gain)) << p.what << lanes << native;
        EXPECT_EQ(bits(fast.score), bits(plain.score)) << p.what << lanes << native;
        // A short range of lags, whose padding reads the track's own values, scores as the whole range does.
        lag_scores all;
        lag_scores some;
        score_lags_with(p.ref.data(), p.test.data(), DELAY_MIN, DELAY_COUNT, all, {lanes, native});
        score_lags_with(p.ref.data(), p.test.data(), -64, 129, some, {lanes, native});
        for (int i = 0; i < 129; ++i) {
          const auto at = static_cast<std::size_t>(i - 64 - DELAY_MIN);
          EXPECT_EQ(bits(some.score[static_cast<std::size_t>(i)]), bits(all.score[at])) << p.what << lanes << i;
        }
      }
    }
  }
}

// The analysis signals and the measurement of a generated pair, to the bit,
// recorded once: every platform, compiler and CPU must give the same.
TEST(Golden, TheSameBitsOnEveryPlatform) {
  scratch_dir dir;
  const std::vector<double> m = music(ANALYSIS_FRAMES + 900, 2026);
  track_slot slots[2];
  const bytes files[] = {
      wav_bytes({.format_tag = 3, .data = as_float_frames(decode_of(m, ANALYSIS_FRAMES, 0, 1, 0, 1))}),
      wav_bytes({.data = as_int_frames(decode_of(m, ANALYSIS_FRAMES, 777, 0.7, 0.003, 2))})};
  std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a over the bytes of both signals
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(open_track(dir, std::to_string(i) + ".wav", files[i], slots[i]), STATUS_OK);
    ASSERT_EQ(capture_analysis(slots[i], 0), STATUS_OK);
    std::fclose(slots[i].file);
    const auto* b = reinterpret_cast<const unsigned char*>(slots[i].t.analysis.get());
    for (std::size_t k = 0; k < ANALYSIS_LENGTH * sizeof(double); ++k) hash = (hash ^ b[k]) * 1099511628211ULL;
  }
  const search_result r = search_delays(slots[0].t.analysis.get(), slots[1].t.analysis.get());
  EXPECT_EQ(hash, 0x0ad1c80286713c32ULL);
  EXPECT_EQ(r.delay, 777);
  EXPECT_EQ(bits(r.gain), 0x3ff6d9aeb45e4a0cULL);  // 1.4285...: the decode was made at 0.7
  EXPECT_EQ(bits(r.score), 0x3f98287e23bc2e70ULL);
}

// The report of every kind of track, copies found at their shifts, and
// extremes that start at the reference's own delay 0 and gain 1.0: all delays
// here are negative and all gains below 1.
TEST(SearchPass, ReportsEachTrackAndShortensTheLengthByTheDelaySpread) {
  const signal ref = noise(16);
  const signal signals[] = {ref, shifted(ref, -2500, 4.0, 17), signal(ANALYSIS_LENGTH, 0.0), shifted(ref, -3, 2.0, 18)};
  // Files of silence: the two channels, captured alone, have nothing to tell.
  scratch_dir dir;
  track_slot slots[4];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(open_track(dir, std::to_string(i) + ".wav", wav_bytes({.data = bytes(ANALYSIS_FRAMES * 8, 0)}), slots[i]),
              STATUS_OK);
    std::copy(signals[i].begin(), signals[i].end(), slots[i].t.analysis.get());
  }
  slots[3].t.is_float = 1;
  run_values a{.input_wav_length = 50000};
  EXPECT_EQ(search_pass(slots, 4, a), STATUS_OK);
  // Delay, gain, whether measured and whether silent, as the report prints them.
  const std::tuple<int, double, bool, bool> found[] = {{-2500, 0.25, true, false}, {0, 1.0, false, true}, {-3, 0.5, true, false}};
  for (int i = 1; i < 4; ++i) {
    const track& t = slots[i].t;
    EXPECT_EQ(std::make_tuple(static_cast<int>(t.delay), t.gain, t.measured, t.silent), found[i - 1]) << i;
    EXPECT_EQ(t.score, 0.0);
  }
  EXPECT_EQ(a.input_wav_length, 47500);
  EXPECT_EQ(a.smallest_delay, -2500);
  EXPECT_EQ(a.biggest_delay, 0);
  EXPECT_EQ(a.biggest_gain, 1.0);
  for (track_slot& s : slots) std::fclose(s.file);
}

}  // namespace
