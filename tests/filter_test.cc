#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "analysis/analysis.h"
#include "scratch_dir.h"
#include "signals.h"
#include "wav/wav.h"

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

struct captured {
  std::vector<double> analysis;
  long long data_start = 0;
  long long position = 0;
};

captured capture_of(const bytes& wav, std::int64_t first_frame = 0) {
  scratch_dir dir;
  track_slot slot;
  EXPECT_EQ(open_track(dir, "c.wav", wav, slot), STATUS_OK);
  EXPECT_EQ(capture_analysis(slot, first_frame), STATUS_OK);
  captured c{
      {slot.t.analysis.get(), slot.t.analysis.get() + ANALYSIS_LENGTH}, slot.t.data_start, position_of(slot.file)};
  std::fclose(slot.file);
  return c;
}

// Silence, channels that cancel, and infinities and NaN, which carry no sound.
TEST(AnalysisCapture, NoSoundGivesNoSignal) {
  std::vector<std::int32_t> i;
  std::vector<float> f;
  for (int n = 0; n < ANALYSIS_FRAMES; ++n) {
    const std::int32_t v = n % 2 == 0 ? 0 : 123456789;
    i.insert(i.end(), {v, -v});
    f.insert(f.end(), {0.25f * static_cast<float>(n % 7), -0.25f * static_cast<float>(n % 7)});
  }
  f[2 * 5000] = f[2 * 5000 + 1] = std::numeric_limits<float>::infinity();
  f[2 * 6000] = f[2 * 6000 + 1] = std::numeric_limits<float>::quiet_NaN();
  const std::vector<double> zeros(ANALYSIS_LENGTH, 0.0);
  EXPECT_EQ(capture_of(wav_bytes({.data = int_frames(i)})).analysis, zeros);
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
}

TEST(AnalysisCapture, ElementZeroIsFrameFortyOneHundredAfterTheFirstFrame) {
  struct row {
    int click, first_frame;
    double element_zero;
  };
  for (const row r : {row{WARMUP_FRAMES, 0, 0.0533739}, row{WARMUP_FRAMES - 1, 0, 0.155372},
                      row{WARMUP_FRAMES + 7, 7, 0.0533739}, row{WARMUP_FRAMES + 6, 7, 0.155372}}) {
    std::vector<std::int32_t> s(2 * (ANALYSIS_FRAMES + 10), 0);
    s[2 * r.click] = 1 << 30;  // mono 0.5
    s[2 * r.click + 1] = 1 << 30;
    const captured c =
        capture_of(wav_bytes({.before_fmt = {{"LIST", bytes(6, 0)}}, .data = int_frames(s)}), r.first_frame);
    EXPECT_EQ(c.data_start, 44 + 14);
    EXPECT_EQ(c.position, c.data_start + (r.first_frame + ANALYSIS_FRAMES) * FRAME_BYTES);
    EXPECT_NEAR(c.analysis[0], r.element_zero, 5e-7) << r.click;
  }
}

}  // namespace
