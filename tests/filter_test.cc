#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "analysis/kernels.h"
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

// The equal-loudness coefficients as published for 44100 Hz, held here apart
// from the filter's own copy.
// clang-format off
constexpr long double BUTTER_B[] = {0.98500175787242L, -1.97000351574484L, 0.98500175787242L};
constexpr long double BUTTER_A[] = {1, -1.96977855582618L, 0.97022847566350L};
constexpr long double YULE_B[] = {0.05418656406430L, -0.02911007808948L, -0.00848709379851L, -0.00851165645469L,
                                  -0.00834990904936L, 0.02245293253339L, -0.02596338512915L, 0.01624864962975L,
                                  -0.00240879051584L, 0.00674613682247L, -0.00187763777362L};
constexpr long double YULE_A[] = {1, -3.47845948550071L, 6.36317777566148L, -8.54751527471874L, 9.47693607801280L,
                                  -8.81498681370155L, 6.85401540936998L, -4.39470996079559L, 2.19611684890774L,
                                  -0.75104302451432L, 0.13149317958808L};
// clang-format on

using complex = std::complex<long double>;

// c[0] + c[1] z + ... + c[n-1] z^(n-1), each coefficient as the filter holds it: the nearest double.
template <std::size_t N>
complex polynomial(const long double (&c)[N], complex z) {
  complex sum = 0;
  for (std::size_t k = N; k-- > 0;) sum = sum * z + static_cast<long double>(static_cast<double>(c[k]));
  return sum;
}

// The filter's gain at `hz`, in dB: from its impulse response, and from the published coefficients.
long double measured_db(const std::vector<double>& impulse_response, double hz) {
  const long double w = -2 * std::numbers::pi_v<long double> * hz / 44100;
  complex sum = 0;
  for (std::size_t n = 0; n < impulse_response.size(); ++n)
    sum += static_cast<long double>(impulse_response[n]) * std::polar(1.0L, w * static_cast<long double>(n));
  return 20 * std::log10(std::abs(sum));
}

long double published_db(double hz) {
  const complex z = std::polar(1.0L, -2 * std::numbers::pi_v<long double> * hz / 44100);
  return 20 * std::log10(std::abs(polynomial(BUTTER_B, z) / polynomial(BUTTER_A, z) * polynomial(YULE_B, z) /
                                  polynomial(YULE_A, z)));
}

// A wrong digit anywhere in the coefficients moves one of these by 2e-12 dB
// or more (a swap of the last two digits of Yulewalk a9 moves 150 Hz by
// 2.2e-11 dB); the response measured in double agrees with the published
// coefficients to 3e-13 dB.
TEST(EqualLoudnessFilter, ResponseIsThatOfThePublishedCoefficients) {
  std::vector<double> impulse(8192, 0.0);
  impulse[0] = 1.0;
  const std::vector<double> h = response(impulse);
  struct row {
    double hz;
    double db;  // as published, to 0.01 dB
  };
  for (const row r : {row{150, -10.44}, row{1000, -8.31}, row{4000, -0.85}, row{20000, -51.48}}) {
    const long double db = measured_db(h, r.hz);
    EXPECT_NEAR(db, published_db(r.hz), 1e-12L) << "at " << r.hz << " Hz";
    EXPECT_NEAR(db, r.db, 0.005L) << "at " << r.hz << " Hz";
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

// Side by side in lanes, every capture gives the bits it gives alone: places
// of the sum, more than one batch of them, a channel alone (as the capture
// of a file whose other channel is silent) and a negated one.
TEST(AnalysisCapture, CapturesInLanesAreThoseOfOneAtATime) {
  scratch_dir dir;
  const std::vector<double> m = music(ANALYSIS_FRAMES + 2000, 8);
  std::vector<double> right_only = m;
  for (std::size_t i = 0; i < m.size(); i += 2) right_only[i] = 0;
  track_slot both;
  track_slot right;
  ASSERT_EQ(open_track(dir, "b.wav", wav_bytes({.data = as_int_frames(m)}), both), STATUS_OK);
  ASSERT_EQ(open_track(dir, "r.wav", wav_bytes({.data = as_int_frames(right_only)}), right), STATUS_OK);
  constexpr int PLACES = FILTER_LANES + 2;
  std::vector<std::vector<double>> expected;
  for (int p = 0; p <= PLACES; ++p) {
    ASSERT_EQ(capture_analysis(p < PLACES ? both : right, p < PLACES ? 100 * p : 300), STATUS_OK);
    const double* a = (p < PLACES ? both : right).t.analysis.get();
    expected.emplace_back(a, a + ANALYSIS_LENGTH);
  }
  for (double& v : expected[PLACES]) v = -v;
  std::vector<std::vector<double>> got(PLACES + 1, std::vector<double>(ANALYSIS_LENGTH));
  std::vector<capture_job> jobs;
  for (int p = 0; p < PLACES; ++p) jobs.push_back({&both, 100 * p, PICK_SUM, false, got[static_cast<std::size_t>(p)].data()});
  jobs.push_back({&both, 300, PICK_RIGHT, true, got[PLACES].data()});
  for (int lanes : {2, 4, 8}) {
    for (bool native : {false, true}) {
      if (!kernel_runs_here({lanes, native})) continue;
      int failed = -1;
      ASSERT_TRUE(capture_jobs_with(jobs.data(), static_cast<int>(jobs.size()), failed, {lanes, native}));
      for (int p = 0; p <= PLACES; ++p)
        EXPECT_EQ(got[static_cast<std::size_t>(p)], expected[static_cast<std::size_t>(p)]) << lanes << native << p;
    }
  }
  std::fclose(both.file);
  std::fclose(right.file);
}

}  // namespace
