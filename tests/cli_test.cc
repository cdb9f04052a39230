// eqalign run as a user runs it: arguments, standard output, exit status and
// the files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "signals.h"
#include "test_support.h"

namespace {

const std::string USAGE =
    "Eqalign ver.1.1.0 (https://eqalign.example.org/)\r\n"
    " Equalize offset and gain of 32bit float or int 44100Hz wav files.\r\n"
    "  Then output them as raw, to perform an abc/hr test.\r\n\r\n"
    "    usage:  eqalign original.wav lossy1.wav lossy2.wav.....\r\n\r\n"
    "detectable offset: -2500 ~ 7500[sample]. Yulewalk filter for 44.1k is used.\r\n";

std::string banner(const std::string& name) { return BANNER_START + name + "\r\n"; }

bool exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

// The reference's material: a little over a second of music.
constexpr int SET_FRAMES = 50000;

bytes decode_wav(const std::vector<double>& source, int delay, double gain, bool is_float) {
  const std::vector<double> d = decode_of(source, SET_FRAMES, delay, gain, 0.0, 1);
  return is_float ? wav_bytes({.format_tag = 3, .data = as_float_frames(d)}) : wav_bytes({.data = as_int_frames(d)});
}

TEST(CommandLine, FewerThanTwoNamesPrintTheUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"only.wav"}}) {
    const run_result r = run_eqalign(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, USAGE);
  }
}

TEST(CommandLine, ElevenNamesAreTooManyAndNoneIsOpened) {
  std::vector<std::string> names;
  for (int i = 0; i < 11; ++i) names.push_back("missing" + std::to_string(i) + ".wav");
  const run_result r = run_eqalign(names);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, banner("missing0.wav") + "wav_num 11 is too much.\r\n");
}

TEST(CommandLine, TheFirstFailingFileEndsTheRunAndLaterOnesAreNeverOpened) {
  scratch_dir dir;
  dir.put("-ref.wav", wav_bytes({.before_fmt = {{"LIST", bytes(4, 0)}}, .data = bytes(800, 0)}));
  dir.put("b.wav", wav_bytes({.rate = 48000, .data = bytes(800, 0)}));
  dir.put("d.wav", wav_bytes({.format_tag = 2}));  // would fail with status 4 if read
  const run_result r = run_eqalign({"-ref.wav", "b.wav", "c.wav", "d.wav"}, dir.path);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, banner("-ref.wav") + "skipped unknown chunk 'LIST' while searching 'fmt '.\r\n" +
                       "Note: using sample rate other than 44.1kHz is not recommended.\r\n" +
                       "Cannot open this file : c.wav.\r\n");
}

TEST(CommandLine, TenFilesAreAccepted) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES, 27);
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) {
    names.push_back(std::string("t").append(std::to_string(i)).append(".wav"));
    dir.put(names.back(), decode_wav(source, i, 1.0, i % 2 == 0));
  }
  const run_result r = run_eqalign(names, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("INT 9:Offset:    9"), std::string::npos) << r.out;
  EXPECT_TRUE(exists(dir / "t9.wav.raw"));
}

TEST(CompleteRun, AlignedCopiesComeOutIdenticalAndTheReportIsExact) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES + 400, 21);
  dir.put("ref.32b.wav", decode_wav(source, 0, 1.0, true));
  dir.put("early.32b.wav", decode_wav(source, -10, 1.0, true));
  dir.put("late.32b.wav", decode_wav(source, 200, 1.0, true));
  const run_result r = run_eqalign({"ref.32b.wav", "early.32b.wav", "late.32b.wav"}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, banner("ref.32b.wav") +
                       "input_wav_length : 50000\r\n"
                       // Its analysis began 10 frames into the music: a hair off exact.
                       "FLO 1:Offset:  -10    Gain:1.000000    Gain:-0.000000[dB]    Score:0.000000   \r\n"
                       "FLO 2:Offset:  200    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
                       "biggest_delay    : 200\r\n"
                       "smallest_delay   : -10\r\n"
                       "biggest_gain     : 1.000000\r\n"
                       "input_wav_length : 49790\r\n");
  const bytes ref = read_bytes(dir / "ref.raw");
  EXPECT_EQ(ref.size(), 49790u * 4);
  EXPECT_EQ(read_bytes(dir / "early.raw"), ref);
  EXPECT_EQ(read_bytes(dir / "late.raw"), ref);
  // The reference starts at its frame 10: -smallest_delay.
  const double scale = 32768 / 1.1;
  const auto first = static_cast<std::int16_t>(ref[0] | (ref[1] << 8));
  const double expected = std::floor(static_cast<double>(static_cast<float>(source[20])) * scale);
  EXPECT_EQ(first, static_cast<std::int16_t>(expected));
}

TEST(CompleteRun, IntegerAndScaledTracksAreLevelMatched) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES + 3000, 22);
  dir.put("ref.wav", decode_wav(source, 0, 0.5, false));
  dir.put("loud.wav", decode_wav(source, 2112, 1.0, false));  // reference at half the level
  const run_result r = run_eqalign({"ref.wav", "loud.wav"}, dir.path);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("INT 1:Offset: 2112    Gain:0.500000    Gain:-6.020600[dB]"), std::string::npos) << r.out;
  const bytes a = read_bytes(dir / "ref.wav.raw");
  const bytes b = read_bytes(dir / "loud.wav.raw");
  ASSERT_EQ(a.size(), b.size());
  ASSERT_EQ(a.size(), (SET_FRAMES - 2112) * 4u);
  int worst = 0;
  for (std::size_t i = 0; i < a.size(); i += 2) {
    const int x = static_cast<std::int16_t>(a[i] | (a[i + 1] << 8));
    const int y = static_cast<std::int16_t>(b[i] | (b[i + 1] << 8));
    worst = std::max(worst, std::abs(x - y));
  }
  EXPECT_LE(worst, 1);
}

TEST(CompleteRun, AnOutputThatCannotBeCreatedStopsTheRun) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES, 24);
  for (const char* name : {"a.32b.wav", "b.32b.wav", "c.32b.wav", "d.32b.wav"}) {
    dir.put(name, decode_wav(source, 0, 1.0, false));
  }
  std::filesystem::create_directory(dir / "c.raw");  // no file can be made there
  const run_result r = run_eqalign({"a.32b.wav", "b.32b.wav", "c.32b.wav", "d.32b.wav"}, dir.path);
  EXPECT_EQ(r.status, 9);
  EXPECT_TRUE(r.out.ends_with("input_wav_length : 50000\r\nOutput path is not available.\r\n")) << r.out;
  EXPECT_EQ(read_bytes(dir / "a.raw").size(), 50000u * 4);
  EXPECT_EQ(read_bytes(dir / "b.raw").size(), 50000u * 4);
  EXPECT_FALSE(exists(dir / "d.raw"));
}

TEST(CompleteRun, AFullDiskLeavesNoHalfWrittenOutput) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES, 25);
  dir.put("a.wav", decode_wav(source, 0, 1.0, true));
  dir.put("b.wav", decode_wav(source, 0, 1.0, true));
  std::filesystem::create_symlink("/dev/full", dir / "b.wav.raw");
  const run_result r = run_eqalign({"a.wav", "b.wav"}, dir.path);
  EXPECT_EQ(r.status, 9);
  EXPECT_TRUE(r.out.ends_with("Cannot write output file : b.wav.raw.\r\n")) << r.out;
  EXPECT_EQ(read_bytes(dir / "a.wav.raw").size(), 50000u * 4);
  EXPECT_FALSE(exists(dir / "b.wav.raw"));
}

TEST(CompleteRun, NoFileOfTheRunIsEverReplaced) {
  scratch_dir dir;
  const std::vector<double> source = music(SET_FRAMES, 26);
  const bytes a = decode_wav(source, 0, 1.0, true);
  dir.put("x.wav", a);
  dir.put("x.wav.raw", a);  // the first output's name is the second input
  const run_result r = run_eqalign({"x.wav", "x.wav.raw"}, dir.path);
  EXPECT_EQ(r.status, 9);
  EXPECT_TRUE(r.out.ends_with("Output path is not available.\r\n")) << r.out;
  EXPECT_EQ(read_bytes(dir / "x.wav.raw"), a);
  // The same file reached through another name.
  dir.put("song.32b.wav", a);
  ASSERT_EQ(link((dir / "song.32b.wav").c_str(), (dir / "song.raw").c_str()), 0);
  const run_result linked = run_eqalign({"song.32b.wav", "x.wav"}, dir.path);
  EXPECT_EQ(linked.status, 9);
  EXPECT_EQ(read_bytes(dir / "song.32b.wav"), a);
  // Two inputs whose outputs share a name: the first output stays as written.
  const bytes other = decode_wav(music(SET_FRAMES, 99), 0, 1.0, true);
  dir.put("two.32b.wav", a);
  dir.put("other.wav", other);
  dir.put("two.32b.wav.b.32b.wav", other);
  ASSERT_EQ(run_eqalign({"two.32b.wav", "other.wav"}, dir.path).status, 0);
  const bytes first_output = read_bytes(dir / "two.raw");
  const run_result shared = run_eqalign({"two.32b.wav", "two.32b.wav.b.32b.wav"}, dir.path);
  EXPECT_EQ(shared.status, 9);
  EXPECT_TRUE(shared.out.ends_with("Output path is not available.\r\n")) << shared.out;
  EXPECT_EQ(read_bytes(dir / "two.raw"), first_output);
}

}  // namespace
