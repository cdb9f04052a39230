// The parts of eqalign-pack below its command line: TIME, output names, fades, the passage measurement at
// every vector width, and the registry of temporaries that the folder relies on.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <tuple>

#include "analysis/kernels.h"
#include "output/output.h"
#include "pack/pack.h"
#include "platform/platform.h"
#include "platform/temporaries.h"
#include "scratch_dir.h"
#include "signals.h"

namespace {

TEST(PackTime, ReadsSecondsAndMinutesToTheNanosecond) {
  const struct {
    const char* text;
    bool valid;
    std::uint64_t ns;
  } rows[] = {
      {"80", true, 80'000'000'000},
      {"80.5", true, 80'500'000'000},
      {"1:20.5", true, 80'500'000'000},
      {"0:59.999999999", true, 59'999'999'999},
      {"9999999", true, 9'999'999'000'000'000},
      {"99999:00", true, 5'999'940'000'000'000},
      {"10000000", false, 0},
      {"0.0000000001", false, 0},
      {"1:60", false, 0},
      {"1:5", false, 0},
      {"1:05:00", false, 0},
      {"80.", false, 0},
      {".5", false, 0},
      {"-1", false, 0},
      {"1e3", false, 0},
      {"", false, 0},
  };
  for (const auto& r : rows) {
    std::uint64_t ns = 0;
    EXPECT_EQ(parse_time(r.text, ns), r.valid) << r.text;
    if (r.valid) {
      EXPECT_EQ(ns, r.ns) << r.text;
    }
  }
}

TEST(PackTime, RoundsToTheNearestFrameHalfUp) {
  EXPECT_EQ(frames_at(80'500'000'000, 44100), 3550050);
  // Half a frame at 2000 Hz is 250 microseconds.
  EXPECT_EQ(frames_at(250'000, 2000), 1);
  EXPECT_EQ(frames_at(249'999, 2000), 0);
  EXPECT_EQ(frames_at(9'999'999'000'000'000, 0xFFFFFFFF), 42'949'668'655'032'705);
}

// The listening test's options as the command line gives them; a SEED is digits only, at most 2^64 - 1.
TEST(PackOptions, TheListeningTestOptions) {
  const struct {
    std::vector<std::string> args;
    bool valid, anchors, webmushra;
    std::uint64_t seed;
  } rows[] = {
      {{"--blind", "18446744073709551615"}, true, false, false, 18446744073709551615u},
      {{"--blind=007", "--web"}, true, false, true, 7},
      {{"--anch", "--blind", "0"}, true, true, false, 0},
      {{"--blind", "18446744073709551616"}, false}, {{"--blind", "+1"}, false}, {{"--blind", "1.0"}, false},
      {{"--blind="}, false}, {{"--webmushra=yes"}, false}};
  for (const auto& r : rows) {
    std::vector<std::string> args{"eqalign-pack", "-o", "out", "a.wav", "b.wav"};
    args.insert(args.end(), r.args.begin(), r.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    pack_options o;
    std::string error;
    EXPECT_EQ(parse_pack_options(static_cast<int>(argv.size()), argv.data(), o, error), r.valid) << r.args[0];
    if (r.valid) {
      EXPECT_EQ(std::tie(o.blind, o.seed, o.anchors, o.webmushra), std::tie(r.valid, r.seed, r.anchors, r.webmushra));
    }
  }
}

TEST(PackNames, TheFileNameCutAtItsFirstWavExtension) {
  const std::pair<const char*, const char*> rows[] = {
      {"song_aac.32b.wav", "song_aac.wav"}, {"dir/take.wav", "take.wav"},   {"LOUD.WAV", "LOUD.wav"},
      {"a.wav.32b.wav", "a.wav"},           {"a.32B.Wav.bak", "a.wav"},     {"x.32b.wav.d/song", "song.wav"},
      {"noext", "noext.wav"},
  };
  for (const auto& [input, output] : rows) EXPECT_EQ(pack_name(input), output) << input;
}

double raised_cosine(int m, int fade) { return 0.5 - 0.5 * std::cos(3.141592653589793 * (m + 0.5) / fade); }

TEST(PackFades, RaisedCosinesMeetTheLibrarysCosine) {
  for (int fade : {1, 4, 221, 44100}) {
    for (int m : {0, fade / 2, fade - 1}) {
      EXPECT_NEAR(fade_factor(m, fade, 10 * fade), raised_cosine(m, fade), 1e-15) << fade << " " << m;
      EXPECT_EQ(fade_factor(10 * fade - 1 - m, fade, 10 * fade), fade_factor(m, fade, 10 * fade));
    }
    EXPECT_EQ(fade_factor(fade, fade, 10 * fade), 1.0);
  }
  // Fades longer than half the passage overlap, and multiply.
  EXPECT_DOUBLE_EQ(fade_factor(1, 4, 5), raised_cosine(1, 4) * raised_cosine(3, 4));
  EXPECT_EQ(fade_factor(0, 0, 5), 1.0);
}

// The lag of the last place at or before the passage's start, beyond the delay.
TEST(PackPassage, ADecodeIsExpectedAtTheLastPlaceBeforeThePassage) {
  const std::vector<checked_place> places = {{1000, 5}, {5000, -1152}};
  const std::pair<std::int64_t, std::int64_t> rows[] = {{0, 40}, {999, 40}, {1000, 45}, {4999, 45}, {5000, -1112}};
  for (const auto& [from, lag] : rows) EXPECT_EQ(expected_lag(40, places, from), lag) << from;
}

// The widths and forms of vector kernels give the same bits; a copy of the reference 7 frames later at half
// its level is found there, at twice the gain.
TEST(PackPassage, EveryKernelGivesTheSameBits) {
  scratch_dir dir;
  const std::vector<double> m = music(6 * 44100, 71);
  track_slot slots[2];
  ASSERT_EQ(open_track(dir, "ref.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(m)}), slots[0]), STATUS_OK);
  const bytes decode = wav_bytes({.data = as_int_frames(decode_of(m, 6 * 44100, 7, 0.5, 0.0, 3))});
  ASSERT_EQ(open_track(dir, "b.wav", decode, slots[1]), STATUS_OK);
  const std::int64_t expected[2] = {0, 30};
  passage_result first[2];
  int failed = -1;
  ASSERT_TRUE(measure_passage_with(slots, 2, 44100, 4 * 44100, expected, first, failed, 2, false));
  EXPECT_EQ(first[1].kind, PASSAGE_FOUND);
  EXPECT_EQ(first[1].lag, 7);
  // Every frame of the passage counts, the AHEAD frames at either end too.
  EXPECT_NEAR(first[1].gain, 2.0, 1e-6);
  EXPECT_LT(first[1].score, 1e-4);
  for (int lanes : {2, 4, 8}) {
    for (bool native : {false, true}) {
      passage_result r[2];
      ASSERT_TRUE(measure_passage_with(slots, 2, 44100, 4 * 44100, expected, r, failed, lanes, native));
      // Field by field: the padding between them holds whatever the stack held.
      const auto fields = [](const passage_result& p) {
        return std::tuple(p.kind, p.lag, p.gain, p.score, p.rival_lag, p.rival_score, p.peak);
      };
      EXPECT_EQ(fields(r[1]), fields(first[1])) << lanes << " " << native;
      EXPECT_EQ(r[0].peak, first[0].peak);
    }
  }
  for (track_slot& s : slots) std::fclose(s.file);
}

// The peak is the passage's largest sample at the lag found: a spike just before or after it does not count, one
// on its first or last frame does.
TEST(PackPassage, ThePeakIsThePassagesAtItsLag) {
  constexpr int FROM = 44100;
  constexpr int LENGTH = 4 * 44100;
  const std::vector<double> m = music(6 * 44100, 72);
  const std::pair<double, double> rows[] = {{0.8, 0.7}, {0.0, 0.7}, {0.8, 0.0}};
  for (const auto& [first_spike, last_spike] : rows) {
    scratch_dir dir;
    std::vector<double> d = decode_of(m, 6 * 44100, 7, 0.5, 0.0, 3);
    d[2 * (FROM + 7 - 1)] = 0.9;
    d[2 * (FROM + 7 + LENGTH)] = 0.95;
    if (first_spike > 0) d[2 * (FROM + 7) + 1] = first_spike;
    if (last_spike > 0) d[2 * (FROM + 7 + LENGTH - 1)] = -last_spike;
    track_slot slots[2];
    ASSERT_EQ(open_track(dir, "ref.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(m)}), slots[0]), STATUS_OK);
    ASSERT_EQ(open_track(dir, "b.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(d)}), slots[1]), STATUS_OK);
    const std::int64_t expected[2] = {0, -20};
    passage_result r[2];
    int failed = -1;
    ASSERT_TRUE(measure_passage(slots, 2, FROM, LENGTH, expected, r, failed));
    EXPECT_EQ(r[1].lag, 7);
    EXPECT_EQ(r[1].peak, static_cast<double>(static_cast<float>(std::max(first_spike, last_spike))));
    for (track_slot& s : slots) std::fclose(s.file);
  }
}

// The registry's fakes: a device to write to, and names taken until `taken_left` runs out.
int taken_left = 0;
int attempts = 0;
const char* const NOWHERE =
#ifdef _WIN32
    "NUL";
#else
    "/dev/null";
#endif

std::FILE* fake_create(const std::string&, bool& taken) {
  ++attempts;
  taken = taken_left-- > 0;
  return taken ? nullptr : std::fopen(NOWHERE, "wb");
}

bool fake_folder(const std::string&, bool& taken) {
  ++attempts;
  taken = taken_left-- > 0;
  return !taken;
}

int held() {
  int n = 0;
  for (int i = 0; i < TEMPORARY_MAX; ++i) n += temporary_at(i)[0] != '\0';
  return n;
}

TEST(Temporaries, ATakenNameIsPassedOverAHundredTimesAtMost) {
  const struct {
    int taken;
    bool made;
  } rows[] = {{0, true}, {3, true}, {TEMPORARY_ATTEMPTS - 1, true}, {TEMPORARY_ATTEMPTS, false}};
  for (const auto& r : rows) {
    for (bool folder : {false, true}) {
      taken_left = r.taken;
      attempts = 0;
      std::string name;
      std::FILE* f = nullptr;
      const bool made = folder ? create_remembered_folder("dir/x.wav", 42, fake_folder, name)
                               : (f = create_remembered("dir/x.wav", 42, fake_create, name, false)) != nullptr;
      EXPECT_EQ(made, r.made) << r.taken;
      EXPECT_EQ(attempts, std::min(r.taken + 1, TEMPORARY_ATTEMPTS));
      EXPECT_EQ(held(), made ? 1 : 0);
      if (made) {
        EXPECT_TRUE(name.starts_with("dir/.eqalign-42-") && name.ends_with(".tmp")) << name;
      } else {
        EXPECT_STREQ(failure_reason(), std::strerror(EEXIST));
      }
      if (f != nullptr) std::fclose(f);
      forget_temporary(name);
    }
  }
}

TEST(Temporaries, AFullRegistryCreatesNothing) {
  std::vector<std::FILE*> files;
  for (int i = 0; i < TEMPORARY_MAX; ++i) files.push_back(create_remembered_at("t/" + std::to_string(i), fake_create));
  EXPECT_EQ(held(), TEMPORARY_MAX);
  attempts = 0;
  std::string name;
  EXPECT_EQ(create_remembered("t/x", 1, fake_create, name, false), nullptr);
  EXPECT_FALSE(create_remembered_folder("t/x", 1, fake_folder, name));
  EXPECT_EQ(create_remembered_at("t/y", fake_create), nullptr);
  EXPECT_EQ(attempts, 0);
  EXPECT_STREQ(failure_reason(), std::strerror(EMFILE));
  // A folder and what is in it are forgotten together; a name that only begins like it is not.
  forget_temporaries_in("t");
  EXPECT_EQ(held(), 0);
  files.push_back(create_remembered_at("t2/a", fake_create));
  forget_temporaries_in("t");
  EXPECT_EQ(held(), 1);
  forget_temporaries_in("t2");
  for (std::FILE* f : files) {
    if (f != nullptr) std::fclose(f);
  }
}

}  // namespace
