#include "analysis/filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>

#include "signals.h"
#include "test_support.h"
#include "wav/wav_header.h"

namespace {

std::vector<double> response(const std::vector<double>& input) {
  equal_loudness_filter f;
  clear_filter(f);
  std::vector<double> out;
  for (double m : input) out.push_back(filter_step(f, m));
  return out;
}

TEST(EqualLoudnessFilter, ImpulseAndStepResponsesStartAsPublishedAndDieAway) {
  std::vector<double> impulse(6000, 0.0);
  impulse[0] = 1.0;
  const std::vector<double> h = response(impulse);
  const std::vector<double> s = response(std::vector<double>(6000, 1.0));
  const double h_start[] = {0.0533739, 0.155372, 0.191747, 0.125696, 0.0309110};
  const double s_start[] = {0.0533739, 0.208746, 0.400493};
  for (int n = 0; n < 5; ++n) EXPECT_NEAR(h[n], h_start[n], 5e-7) << n;
  for (int n = 0; n < 3; ++n) EXPECT_NEAR(s[n], s_start[n], 5e-7) << n;
  // The first output is exactly the product of the two stages' b0.
  EXPECT_EQ(h[0], 0.98500175787242 * 0.05418656406430);
  for (int n = WARMUP_FRAMES; n < 6000; ++n) {
    ASSERT_LT(std::fabs(h[n]), 1e-28) << n;
    ASSERT_LT(std::fabs(s[n]), 1e-26) << n;
  }
}

TEST(EqualLoudnessFilter, MagnitudeResponseFollowsTheLoudnessCurve) {
  std::vector<double> impulse(20000, 0.0);
  impulse[0] = 1.0;
  const std::vector<double> h = response(impulse);
  const double pi = 3.14159265358979323846;
  struct point {
    double hz, db;
  };
  for (point p : {point{150, -10.44}, point{1000, -8.31}, point{4000, -0.85}, point{20000, -51.48}}) {
    std::complex<double> sum = 0;
    for (std::size_t n = 0; n < h.size(); ++n) sum += h[n] * std::polar(1.0, -2 * pi * p.hz * n / 44100.0);
    EXPECT_NEAR(20 * std::log10(std::abs(sum)), p.db, 0.005) << p.hz;
  }
}

struct captured {
  std::vector<double> analysis;
  long long data_start = 0;
  long long position = 0;
};

captured capture_of(const bytes& wav) {
  scratch_dir dir;
  const std::string path = dir.put("c.wav", wav);
  track_slot slot;
  EXPECT_TRUE(init_track(slot.t));
  std::uint64_t size = 0;
  EXPECT_EQ(read_wav_header(slot, path.c_str(), size), STATUS_OK);
  EXPECT_EQ(capture_analysis(slot), STATUS_OK);
  captured c;
  c.analysis.assign(slot.t.analysis.get(), slot.t.analysis.get() + ANALYSIS_LENGTH);
  c.data_start = slot.t.data_start;
  c.position = ftello(slot.file);
  std::fclose(slot.file);
  return c;
}

std::vector<std::int32_t> int_samples(int frames, std::int32_t left, std::int32_t right) {
  std::vector<std::int32_t> v;
  for (int n = 0; n < frames; ++n) {
    v.push_back(left);
    v.push_back(right);
  }
  return v;
}

TEST(AnalysisCapture, SilenceAndCancellingChannelsGiveNoSignal) {
  const std::vector<double> zeros(ANALYSIS_LENGTH, 0.0);
  EXPECT_EQ(capture_of(wav_bytes({.data = int_frames(int_samples(ANALYSIS_FRAMES, 0, 0))})).analysis, zeros);
  EXPECT_EQ(capture_of(wav_bytes({.data = int_frames(int_samples(ANALYSIS_FRAMES, 123456789, -123456789))})).analysis,
            zeros);
  std::vector<float> f;
  for (int n = 0; n < ANALYSIS_FRAMES; ++n) {
    f.push_back(0.25f * static_cast<float>(n % 7));
    f.push_back(-0.25f * static_cast<float>(n % 7));
  }
  EXPECT_EQ(capture_of(wav_bytes({.format_tag = 3, .data = float_frames(f)})).analysis, zeros);
}

TEST(AnalysisCapture, IntegerAndFloatFramesOfTheSameValueAgree) {
  const std::vector<double> m = music(ANALYSIS_FRAMES, 5);
  std::vector<float> f;
  std::vector<std::int32_t> i;
  for (double v : m) {
    // Values that both kinds hold exactly: multiples of 2^-20.
    const double q = std::round(v * 1048576.0) / 1048576.0;
    f.push_back(static_cast<float>(q));
    i.push_back(static_cast<std::int32_t>(q * 2147483648.0));
  }
  const captured a = capture_of(wav_bytes({.format_tag = 3, .data = float_frames(f)}));
  const captured b = capture_of(wav_bytes({.data = int_frames(i)}));
  EXPECT_EQ(a.analysis, b.analysis);
  // Full-scale integers: -2^31 twice sums to -2.0, exactly as two float -1.0 samples.
  const captured low = capture_of(wav_bytes({.data = int_frames(int_samples(ANALYSIS_FRAMES, INT32_MIN, INT32_MIN))}));
  const captured low_f =
      capture_of(wav_bytes({.format_tag = 3, .data = float_frames(std::vector<float>(2 * ANALYSIS_FRAMES, -1.0f))}));
  EXPECT_EQ(low.analysis, low_f.analysis);
}

TEST(AnalysisCapture, ElementZeroIsFrameFortyOneHundredAndTheStreamMovesOneSecond) {
  for (int at : {WARMUP_FRAMES, WARMUP_FRAMES - 1}) {
    std::vector<std::int32_t> s = int_samples(ANALYSIS_FRAMES + 10, 0, 0);
    s[2 * at] = 1 << 30;  // mono 0.5
    s[2 * at + 1] = 1 << 30;
    const captured c = capture_of(wav_bytes({.before_fmt = {{"LIST", bytes(6, 0)}}, .data = int_frames(s)}));
    EXPECT_EQ(c.data_start, 44 + 14);
    EXPECT_EQ(c.position, c.data_start + ANALYSIS_FRAMES * FRAME_BYTES);
    EXPECT_NEAR(c.analysis[0], at == WARMUP_FRAMES ? 0.0533739 : 0.155372, 5e-7) << at;
  }
}

TEST(AnalysisCapture, NonFiniteFloatSamplesCountAsSilence) {
  std::vector<float> f(2 * ANALYSIS_FRAMES, 0.0f);
  f[2 * 5000] = std::numeric_limits<float>::infinity();
  f[2 * 6000 + 1] = std::numeric_limits<float>::quiet_NaN();
  f[2 * 7000] = -std::numeric_limits<float>::infinity();
  EXPECT_EQ(capture_of(wav_bytes({.format_tag = 3, .data = float_frames(f)})).analysis,
            std::vector<double>(ANALYSIS_LENGTH, 0.0));
}

TEST(AnalysisCapture, EachTrackStartsFromAClearedFilter) {
  const bytes loud = wav_bytes({.format_tag = 3, .data = as_float_frames(music(ANALYSIS_FRAMES, 1))});
  const bytes other = wav_bytes({.format_tag = 3, .data = as_float_frames(music(ANALYSIS_FRAMES, 2))});
  const captured alone = capture_of(other);
  capture_of(loud);
  EXPECT_EQ(capture_of(other).analysis, alone.analysis);
}

TEST(AnalysisCapture, AReadThatComesUpShortEndsTheRun) {
  scratch_dir dir;
  // The header pass trusts the file's length; the file then loses its tail.
  const std::string path = dir.put("short.wav", wav_bytes({.data = bytes(ANALYSIS_FRAMES * 8, 0)}));
  track_slot slot;
  ASSERT_TRUE(init_track(slot.t));
  std::uint64_t size = 0;
  ASSERT_EQ(read_wav_header(slot, path.c_str(), size), STATUS_OK);
  ASSERT_EQ(truncate(path.c_str(), 44 + 1000), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(capture_analysis(slot), STATUS_CANNOT_OPEN);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read this file : " + path + ".\r\n");
  std::fclose(slot.file);
}

}  // namespace
