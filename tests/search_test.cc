#include "analysis/search.h"

#include <gtest/gtest.h>

#include <cstring>

#include "plain_search.h"
#include "signals.h"

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
  for (int i = 0; i < ANALYSIS_LENGTH; ++i) {
    const int from = i - delay;
    if (from >= 0 && from < ANALYSIS_LENGTH)
      s[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(from)] * gain;
  }
  return s;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same(const search_result& fast, const search_result& plain, const char* what) {
  EXPECT_EQ(fast.kind, plain.kind) << what;
  EXPECT_EQ(fast.delay, plain.delay) << what;
  EXPECT_TRUE(same_bits(fast.gain, plain.gain)) << what << ": " << fast.gain << " vs " << plain.gain;
  EXPECT_TRUE(same_bits(fast.score, plain.score)) << what << ": " << fast.score << " vs " << plain.score;
}

TEST(Search, AnIdenticalTrackMatchesExactlyAtDelayZero) {
  const signal ref = noise(1);
  const search_result r = search_delays(ref.data(), ref.data());
  EXPECT_EQ(r.kind, SEARCH_FOUND);
  EXPECT_EQ(r.delay, 0);
  EXPECT_EQ(r.gain, 1.0);
  EXPECT_EQ(r.score, 0.0);
}

TEST(Search, ShiftedAndScaledCopiesAreFoundOverTheWholeRange) {
  const signal ref = noise(2);
  for (int delay : {DELAY_MIN, -1, 1, 576, 2112, DELAY_MAX - 1}) {
    const search_result r = search_delays(ref.data(), shifted(ref, delay, 0.5, 3).data());
    EXPECT_EQ(r.kind, SEARCH_FOUND);
    EXPECT_EQ(r.delay, delay);
    EXPECT_NEAR(r.gain, 2.0, 1e-12) << delay;
    EXPECT_LT(r.score, 1e-12) << delay;
  }
}

TEST(Search, EqualScoresGoToTheSmallerDelay) {
  // Period 1000: every delay that is a multiple of it matches exactly.
  signal ref = noise(4);
  for (int i = 1000; i < ANALYSIS_LENGTH; ++i)
    ref[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(i % 1000)];
  const search_result r = search_delays(ref.data(), ref.data());
  EXPECT_EQ(r.delay, -2000);
  EXPECT_EQ(r.gain, 1.0);
  EXPECT_EQ(r.score, 0.0);
}

TEST(Search, SilentWindowsStopTheSearch) {
  const signal ref = noise(5);
  const signal silence(ANALYSIS_LENGTH, 0.0);
  EXPECT_EQ(search_delays(ref.data(), silence.data()).kind, SEARCH_SILENT);
  // Sound only in the first 300 values: the window of delay -2200 holds none,
  // and the candidates of the delays before it are dropped.
  signal early(ANALYSIS_LENGTH, 0.0);
  for (int i = 0; i < 300; ++i) early[static_cast<std::size_t>(i)] = ref[static_cast<std::size_t>(i)];
  EXPECT_EQ(search_delays(ref.data(), early.data()).kind, SEARCH_SILENT);
  // A reference without sound in its compare window measures nothing.
  signal quiet_ref = noise(6);
  std::fill(quiet_ref.begin() + COMPARE_BEGIN, quiet_ref.begin() + COMPARE_END, 0.0);
  EXPECT_EQ(search_delays(quiet_ref.data(), ref.data()).kind, SEARCH_SILENT);
}

TEST(Search, EveryVectorWidthAgreesWithThePlainSearchBitForBit) {
  const signal ref = noise(7);
  signal two_paths = shifted(ref, 300, 0.5, 8);  // two delays almost alike
  const signal other = shifted(ref, 301, 0.5, 9);
  for (std::size_t i = 0; i < two_paths.size(); ++i) two_paths[i] += other[i];
  signal tone(ANALYSIS_LENGTH);  // periodic: thousands of near-equal delays
  for (int i = 0; i < ANALYSIS_LENGTH; ++i) tone[static_cast<std::size_t>(i)] = std::sin(i * 0.0123) * 1e-3;
  signal tone_ref(tone);
  for (int i = 0; i < ANALYSIS_LENGTH; ++i) tone_ref[static_cast<std::size_t>(i)] = std::sin((i + 17) * 0.0123) * 3.0;
  signal tiny = shifted(ref, -1234, 1e-150, 10);  // far below the reference's level
  const std::vector<double> m = music(ANALYSIS_LENGTH, 11);
  signal music_ref(ANALYSIS_LENGTH), music_test(ANALYSIS_LENGTH);
  for (int i = 0; i < ANALYSIS_LENGTH; ++i) {
    music_ref[static_cast<std::size_t>(i)] = m[2 * static_cast<std::size_t>(i)];
    music_test[static_cast<std::size_t>(i)] = i >= 777 ? m[2 * static_cast<std::size_t>(i - 777) + 1] * 0.8 : 0.01;
  }
  struct pair {
    const char* what;
    const signal& ref;
    const signal& test;
  };
  const pair pairs[] = {{"random", ref, noise(12)},
                        {"two paths", ref, two_paths},
                        {"tone", tone_ref, tone},
                        {"tiny", ref, tiny},
                        {"music", music_ref, music_test}};
  const int widest = widest_search_lanes();
  for (const pair& p : pairs) {
    const search_result plain = plain_search(p.ref.data(), p.test.data());
    for (int lanes = 2; lanes <= widest; lanes *= 2)
      expect_same(search_delays_with(p.ref.data(), p.test.data(), lanes), plain, p.what);
  }
}

struct table {
  track_slot slots[4];
  explicit table(const std::vector<signal>& signals) {
    for (std::size_t i = 0; i < signals.size(); ++i) {
      EXPECT_TRUE(init_track(slots[i].t));
      std::copy(signals[i].begin(), signals[i].end(), slots[i].t.analysis.get());
    }
  }
};

TEST(SearchPass, ReportsEachTrackAndShortensTheLengthByTheDelaySpread) {
  const signal ref = noise(13);
  table t({ref, shifted(ref, -10, 1.0, 14), shifted(ref, 200, 1.0, 15)});
  t.slots[2].t.is_float = 1;
  std::int32_t length = 44100;
  testing::internal::CaptureStdout();
  const alignment a = search_pass(t.slots, 3, length);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "INT 1:Offset:  -10    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
            "FLO 2:Offset:  200    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
            "biggest_delay    : 200\r\n"
            "smallest_delay   : -10\r\n"
            "biggest_gain     : 1.000000\r\n"
            "input_wav_length : 43890\r\n");
  EXPECT_EQ(length, 43890);
  EXPECT_EQ(a.smallest_delay, -10);
  EXPECT_EQ(a.biggest_delay, 200);
  EXPECT_EQ(t.slots[0].t.delay, 0);
  EXPECT_EQ(t.slots[0].t.gain, 1.0);
}

TEST(SearchPass, ExtremesStartAtTheReferencesOwnValues) {
  const signal ref = noise(16);
  // All delays negative and all gains below 1: the reference still counts.
  table t({ref, shifted(ref, -2500, 4.0, 17), shifted(ref, -3, 2.0, 18)});
  std::int32_t length = 50000;
  testing::internal::CaptureStdout();
  const alignment a = search_pass(t.slots, 3, length);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(a.biggest_delay, 0);
  EXPECT_EQ(a.smallest_delay, -2500);
  EXPECT_EQ(a.biggest_gain, 1.0);
  EXPECT_EQ(length, 47500);
  EXPECT_NE(out.find("INT 1:Offset:-2500    Gain:0.250000    Gain:-12.041200[dB]    Score:0.000000   \r\n"),
            std::string::npos)
      << out;
}

TEST(SearchPass, ASilentTrackKeepsItsDefaultsAndIsStillReported) {
  const signal ref = noise(19);
  table t({ref, signal(ANALYSIS_LENGTH, 0.0), shifted(ref, 7499, 0.5, 20)});
  std::int32_t length = 44100;
  testing::internal::CaptureStdout();
  const alignment a = search_pass(t.slots, 3, length);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(
      out.starts_with("No Sound At All.\r\n"
                      "INT 1:Offset:    0    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"))
      << out;
  EXPECT_EQ(a.biggest_delay, 7499);
  EXPECT_EQ(length, 44100 - 7499);
  EXPECT_NEAR(a.biggest_gain, 2.0, 1e-12);
}

}  // namespace
