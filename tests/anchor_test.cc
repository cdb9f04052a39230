// eqalign-pack's anchors: the filter's coefficients without the C library, its response, its zero phase, the
// blockwise run against a plain one, and the writer that takes its frames from a generator.
#include "analysis/analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/exact_trig.h"
#include "output/output.h"
#include "scratch_dir.h"
#include "signals.h"

namespace {

// The anchor of a float reference of interleaved `values` at `rate`, over frames [from, from + length), taken in
// pieces of odd sizes that straddle the blocks' bounds.
std::vector<double> anchor_of(const std::vector<double>& values, std::uint32_t rate, double cutoff, std::int64_t from,
                              std::int64_t length, double& peak) {
  scratch_dir dir;
  track_slot ref;
  EXPECT_EQ(
      open_track(dir, "ref.wav", wav_bytes({.format_tag = 3, .rate = rate, .data = as_float_frames(values)}), ref),
      STATUS_OK);
  anchor_run run;
  std::vector<double> out(2 * static_cast<std::size_t>(length));
  EXPECT_TRUE(start_anchor(run, ref, from, length, cutoff, peak));
  for (std::int64_t n = 0; n < length; n += 5000) {
    EXPECT_TRUE(anchor_frames(&run, n, static_cast<int>(std::min<std::int64_t>(5000, length - n)), &out[2 * n]));
  }
  std::fclose(ref.file);
  return out;
}

TEST(AnchorFilter, TangentAndCosinesWithoutTheLibraryMeetItsOwn) {
  for (double u :
       {3500.0 / 8000, 3500.0 / 44100, 7000.0 / 44100, 3500.0 / 192000, 7000.0 / 16000, 7000.0 / 22050, 0.25}) {
    EXPECT_NEAR(tan_pi(u) / std::tan(PI * u), 1.0, 1e-15) << u;
  }
  for (int k = 0; k < ANCHOR_SECTIONS; ++k) {
    EXPECT_NEAR(cos_pi((2 * k + 1) / 20.0) / std::cos(PI * (2 * k + 1) / 20), 1.0, 1e-15) << k;
  }
}

TEST(AnchorFilter, RatesBelowTwiceTheHighestCutoffAreRefused) {
  const std::pair<std::uint32_t, bool> rows[] = {{8000, false}, {14000, false}, {14001, true}, {44100, true}};
  for (const auto& [rate, fits] : rows) EXPECT_EQ(anchors_fit(rate), fits) << rate;
  EXPECT_EQ(anchor_refusal(8000),
            "--anchors needs a rate above 14000 Hz for its 7000 Hz anchor; the files are at 8000 Hz.");
}

// A tone's level through the anchor over the middle half of a second: zero phase squares the response, so the
// cut-off, pre-warped, is 2 x 3.01 dB down at any rate.
TEST(AnchorFilter, PassesTonesBelowAndStopsThoseAboveTheCutoff) {
  const struct {
    std::uint32_t rate;
    double cutoff, tone, low_db, high_db;
  } rows[] = {
      {44100, 3500, 1000, -0.1, 0.1},    {44100, 7000, 1000, -0.1, 0.1},     {44100, 3500, 7000, -400, -40},
      {44100, 7000, 10000, -400, -70},   {44100, 3500, 3500, -6.05, -5.99},  {48000, 7000, 7000, -6.05, -5.99},
      {16000, 7000, 7000, -6.05, -5.99}, {192000, 3500, 3500, -6.05, -5.99},
  };
  for (const auto& r : rows) {
    const int frames = static_cast<int>(r.rate);
    std::vector<double> tone(2 * static_cast<std::size_t>(frames));
    for (int n = 0; n < frames; ++n) tone[2 * n] = static_cast<float>(0.5 * sine_of_turns(r.tone * n / r.rate));
    double peak = 0;
    const std::vector<double> a = anchor_of(tone, r.rate, r.cutoff, 0, frames, peak);
    double in = 0;
    double out = 0;
    for (int n = frames / 4; n < 3 * frames / 4; ++n) {
      in += tone[2 * n] * tone[2 * n];
      out += a[2 * n] * a[2 * n];
    }
    const double db = 10 * std::log10(out / in);
    EXPECT_TRUE(db >= r.low_db && db <= r.high_db) << r.rate << " " << r.cutoff << " " << r.tone << ": " << db;
  }
}

// The plain run: each channel of the whole passage forward from rest, then backward from rest.
void plain_run(const biquad* q, std::vector<double>& v) {
  const auto frames = static_cast<std::int64_t>(v.size() / 2);
  for (int run = 0; run < 4; ++run) {
    double s1[ANCHOR_SECTIONS] = {};
    double s2[ANCHOR_SECTIONS] = {};
    for (std::int64_t i = 0; i < frames; ++i) {
      double& x = v[2 * (run < 2 ? i : frames - 1 - i) + run % 2];
      for (int k = 0; k < ANCHOR_SECTIONS; ++k) {
        const double y = q[k].b0 * x + s1[k];
        s1[k] = (q[k].b1 * x - q[k].a1 * y) + s2[k];
        s2[k] = q[k].b2 * x - q[k].a2 * y;
        x = y;
      }
    }
  }
}

// Over three blocks, the last of one frame, with samples that are not finite, the blockwise run gives the plain run's bits and peak; the
// cross-correlation of the broadband reference and its anchor peaks at lag 0, the forward run's delay undone.
TEST(AnchorFilter, TheBlockwiseRunGivesThePlainRunsBitsAtLagZero) {
  constexpr int FROM = 321;
  constexpr int LENGTH = 2 * ANCHOR_BLOCK + 1;
  std::vector<double> m = music(LENGTH + 1000, 82);
  m[2 * (FROM + ANCHOR_BLOCK + 5)] = std::numeric_limits<double>::infinity();
  m[2 * (FROM + ANCHOR_BLOCK - 1) + 1] = std::numeric_limits<double>::quiet_NaN();
  for (double cutoff : ANCHOR_CUTOFFS) {
    double peak = 0;
    const std::vector<double> a = anchor_of(m, 48000, cutoff, FROM, LENGTH, peak);
    std::vector<double> plain(m.begin() + 2 * FROM, m.begin() + 2 * (FROM + LENGTH));
    for (double& x : plain) x = std::isfinite(x) ? static_cast<float>(x) : 0.0;
    biquad q[ANCHOR_SECTIONS];
    anchor_sections(cutoff, 48000, q);
    plain_run(q, plain);
    double plain_peak = 0;
    for (double x : plain) plain_peak = std::max(plain_peak, std::fabs(x));
    EXPECT_EQ(peak, plain_peak) << cutoff;
    ASSERT_EQ(a.size(), plain.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], plain[i]) << cutoff << " " << i;
    std::pair<double, int> best = {-1, 99};
    for (int lag = -30; lag <= 30; ++lag) {
      double sum = 0;
      for (int n = 100; n < 40000; ++n) sum += static_cast<float>(m[2 * (FROM + n)]) * a[2 * (n + lag)];
      best = std::max(best, std::pair(sum, lag));
    }
    EXPECT_EQ(best.second, 0) << cutoff;
  }
}

// The values of a generator are scaled, faded and rounded as an input's samples: the same bytes in every format.
bool from_vector(void* values, std::int64_t n, int count, double* out) {
  std::copy_n(static_cast<std::vector<double>*>(values)->begin() + 2 * n, 2 * count, out);
  return true;
}

TEST(AnchorFilter, AGeneratorsFramesAreWrittenAsAnInputsSamples) {
  constexpr int FRAMES = 70000;
  const std::vector<double> m = music(FRAMES + 10, 83);
  std::vector<double> values(m.begin() + 20, m.begin() + 2 * (FRAMES + 10));
  for (double& v : values) v = static_cast<float>(v);
  scratch_dir dir;
  track_slot slot;
  ASSERT_EQ(open_track(dir, "in.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(m)}), slot), STATUS_OK);
  for (wav_format format : {WAV_INT16, WAV_INT24, WAV_FLOAT}) {
    const passage_output p{10, FRAMES, 1.7, 0.6, 300, format};
    std::FILE* a = std::fopen((dir / "a.wav").c_str(), "wb");
    std::FILE* b = std::fopen((dir / "b.wav").c_str(), "wb");
    bool read_failed = true;
    EXPECT_TRUE(write_passage(slot, p, a, read_failed) &&
                write_generated(from_vector, &values, 44100, p, b, read_failed));
    std::fclose(a);
    std::fclose(b);
    EXPECT_EQ(read_bytes(dir / "a.wav"), read_bytes(dir / "b.wav")) << format;
  }
  std::fclose(slot.file);
}

}  // namespace
