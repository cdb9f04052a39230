// Bad input through the binary: each row gives the files, the last lines the
// run prints, its exit status, and the files that must or must not exist.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "signals.h"
#include "test_support.h"

namespace {

constexpr int FRAMES = 46000;

enum special { PLAIN, DIRECTORY, FIFO, UNREADABLE, READ_ONLY_FOLDER };

struct matrix_row {
  std::string label;
  std::vector<std::pair<std::string, bytes>> files;  // beside ref.wav
  std::vector<std::string> args;                     // after ref.wav
  int status;
  std::string tail;
  std::vector<std::string> present;
  std::vector<std::string> absent;
  special kind = PLAIN;
};

const std::vector<double>& source() {
  static const std::vector<double> m = music(FRAMES, 31);
  return m;
}

bytes good_float() { return wav_bytes({.format_tag = 3, .data = as_float_frames(source())}); }

bytes cut(const bytes& b, std::size_t n) { return bytes(b.begin(), b.begin() + static_cast<long>(n)); }

bytes many_tiny_chunks() {
  wav_spec s{.data = bytes(8, 0)};
  for (int i = 0; i < 10000; ++i) s.before_fmt.push_back({"tiny", {}});
  return wav_bytes(s);
}

bytes data_before_fmt() {
  // RIFF, WAVE, then "data" and only then "fmt ", and nothing after it.
  const bytes normal = wav_bytes({.data = as_int_frames(source())});
  bytes b(normal.begin(), normal.begin() + 12);
  b.insert(b.end(), normal.begin() + 36, normal.end());
  b.insert(b.end(), normal.begin() + 12, normal.begin() + 36);
  return b;
}

bytes non_finite_samples() {
  std::vector<double> v = source();
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  v[2 * 100] = nan;       // inside the analysed second: counts as silence
  v[2 * 5000 + 1] = inf;  // and is written held at +32700
  v[2 * 45500] = nan;     // written as 0, not counted
  v[2 * 45600] = inf;
  v[2 * 45601 + 1] = -inf;
  v[2 * 45700] = 1e30;
  v[2 * 45701 + 1] = -1e30;
  return wav_bytes({.format_tag = 3, .data = as_float_frames(v)});
}

const std::string TOO_SHORT = "INPUT FILES TOO SHORT.\r\n";
const std::string NO_FMT = "Chunks too much.\r\n";
const std::string NO_DATA = "There are no data chunk.\r\n";
const std::string SUMMARY_END = "input_wav_length : 46000\r\n";
const std::string SILENT_REPORT =
    "INT 1:Offset:    0    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
    "biggest_delay    : 0\r\nsmallest_delay   : 0\r\nbiggest_gain     : 1.000000\r\n"
    "input_wav_length : 44100\r\n";

std::string long_name(std::size_t length) {
  std::string name;
  while (name.size() + 210 < length) name += std::string(200, 'd') + "/";
  name += std::string(length - name.size() - 8, 'n') + ".32b.wav";
  return name;
}

std::vector<matrix_row> rows() {
  const bytes good = good_float();
  const bytes header = wav_bytes({});
  std::vector<matrix_row> r = {
      {"empty", {{"bad.wav", {}}}, {"bad.wav"}, 3, NO_FMT, {}, {"ref.wav.raw"}},
      {"cut_in_riff_header", {{"bad.wav", cut(header, 6)}}, {"bad.wav"}, 3, NO_FMT},
      {"cut_in_fmt_id", {{"bad.wav", cut(header, 14)}}, {"bad.wav"}, 3, NO_FMT},
      {"cut_in_fmt_size", {{"bad.wav", cut(header, 18)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_format_tag", {{"bad.wav", cut(header, 21)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_channels", {{"bad.wav", cut(header, 23)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_rate", {{"bad.wav", cut(header, 26)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_byte_rate", {{"bad.wav", cut(header, 30)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_data_id", {{"bad.wav", cut(header, 38)}}, {"bad.wav"}, 7, NO_DATA},
      {"cut_in_data_size", {{"bad.wav", cut(header, 42)}}, {"bad.wav"}, 7, NO_DATA},
      {"header_without_data",
       {{"bad.wav", wav_bytes({.data_size = 400000})}},
       {"bad.wav"},
       8,
       "Note: data chunk is longer than the file; using 0 bytes.\r\ninput_wav_length : 0\r\n" + TOO_SHORT},
      {"format_tag_2",
       {{"bad.wav", wav_bytes({.format_tag = 2, .channels = 1})}},
       {"bad.wav"},
       4,
       "This is not a linear(integer) or float PCM. 2\r\n"},
      {"mono", {{"bad.wav", wav_bytes({.channels = 1})}}, {"bad.wav"}, 5, "This is not a stereo file.\r\n"},
      {"sixteen_bits",
       {{"bad.wav", wav_bytes({.byte_rate = 176400})}},
       {"bad.wav"},
       6,
       "This is not a 32bit depth wave file.\r\n"},
      {"data_of_352799_bytes",
       {{"bad.wav", wav_bytes({.data = bytes(352799, 0)})}},
       {"bad.wav"},
       8,
       "input_wav_length : 44099\r\n" + TOO_SHORT},
      {"data_of_352800_bytes",
       {{"bad.wav", wav_bytes({.data = bytes(352800, 0)})}},
       {"bad.wav"},
       0,
       "No Sound At All.\r\n" + SILENT_REPORT},
      {"data_of_352807_bytes",
       {{"bad.wav", wav_bytes({.data = bytes(352807, 0)})}},
       {"bad.wav"},
       0,
       "No Sound At All.\r\n" + SILENT_REPORT},
      {"size_field_2_31_over_1000_bytes",
       {{"bad.wav", wav_bytes({.data_size = 0x80000000, .data = bytes(1000, 0)})}},
       {"bad.wav"},
       8,
       "Note: data chunk is longer than the file; using 1000 bytes.\r\ninput_wav_length : 125\r\n" + TOO_SHORT},
      {"data_size_zero",
       {{"bad.wav", wav_bytes({.data_size = 0, .data = bytes(400000, 0)})}},
       {"bad.wav"},
       8,
       "input_wav_length : 0\r\n" + TOO_SHORT},
      {"data_size_odd",
       {{"bad.wav", wav_bytes({.data_size = 368001, .data = bytes(368002, 0)})}},
       {"bad.wav"},
       0,
       SUMMARY_END,
       {"bad.wav.raw", "ref.wav.raw"}},
      {"data_size_negative_as_signed",
       {{"bad.wav", wav_bytes({.data_size = 0x80000000, .data = as_int_frames(source())})}},
       {"bad.wav"},
       0,
       SUMMARY_END,
       {"bad.wav.raw"}},
      {"data_size_all_bits",
       {{"bad.wav", wav_bytes({.data_size = 0xFFFFFFFF, .data = as_int_frames(source())})}},
       {"bad.wav"},
       0,
       SUMMARY_END,
       {"bad.wav.raw"}},
      {"chunk_past_end_before_fmt",
       {{"bad.wav", wav_bytes({.before_fmt = {{"LIST", bytes(4, 0), 0x7FFFFFF0}}})}},
       {"bad.wav"},
       3,
       NO_FMT},
      {"chunk_past_end_before_data",
       {{"bad.wav", wav_bytes({.between = {{"LIST", bytes(4, 0), 0xFFFFFFF0}}})}},
       {"bad.wav"},
       7,
       NO_DATA},
      {"fmt_body_of_four_bytes",
       {{"bad.wav", wav_bytes({.fmt_size = 4})}},
       {"bad.wav"},
       7,
       "skipped unknown chunk '?' while searching 'data'.\r\n" + NO_DATA},
      {"ten_thousand_tiny_chunks", {{"bad.wav", many_tiny_chunks()}}, {"bad.wav"}, 3, NO_FMT},
      {"data_before_fmt",
       {{"bad.wav", data_before_fmt()}},
       {"bad.wav"},
       7,
       "skipped unknown chunk 'data' while searching 'fmt '.\r\n" + NO_DATA},
      {"nan_infinite_and_huge_floats",
       {{"bad.wav", non_finite_samples()}},
       {"bad.wav"},
       0,
       "FLO 1: Clipped 5 times.\r\n",
       {"bad.wav.raw"}},
      {"directory", {}, {"folder.wav"}, 2, "Cannot open this file : folder.wav.\r\n", {}, {}, DIRECTORY},
      {"fifo", {}, {"fifo.wav"}, 2, "Cannot open this file : fifo.wav.\r\n", {}, {}, FIFO},
      {"unreadable",
       {{"locked.wav", good}},
       {"locked.wav"},
       2,
       "Cannot open this file : locked.wav.\r\n",
       {},
       {},
       UNREADABLE},
      {"read_only_output_folder",
       {{"out/x.wav", good}},
       {"out/x.wav"},
       9,
       "Output path is not available.\r\n",
       {"ref.wav.raw"},
       {"out/x.wav.raw"},
       READ_ONLY_FOLDER},
      {"output_name_is_an_input", {{"ref.wav.raw", good}}, {"ref.wav.raw"}, 9, "Output path is not available.\r\n"},
      {"name_with_spaces", {{"my song.32b.wav", good}}, {"my song.32b.wav"}, 0, SUMMARY_END, {"my song.raw"}},
      {"name_with_leading_dash", {{"-x.32b.wav", good}}, {"-x.32b.wav"}, 0, SUMMARY_END, {"-x.raw"}},
      {"name_with_non_ascii_bytes",
       {{"caf\xc3\xa9 \xff.32b.wav", good}},
       {"caf\xc3\xa9 \xff.32b.wav"},
       0,
       SUMMARY_END,
       {"caf\xc3\xa9 \xff.raw"}},
      {"name_of_2100_characters",
       {{long_name(2100), good}},
       {long_name(2100)},
       0,
       SUMMARY_END,
       {long_name(2100).substr(0, 2092) + ".raw"}},
      {"name_of_5000_characters",
       {},
       {std::string(5000, 'n')},
       2,
       "Cannot open this file : " + std::string(5000, 'n') + ".\r\n"},
  };
  return r;
}

void PrintTo(const matrix_row& row, std::ostream* os) { *os << row.label; }

class BadInput : public testing::TestWithParam<matrix_row> {};

TEST_P(BadInput, EndsWithItsMessageStatusAndFiles) {
  const matrix_row& row = GetParam();
  scratch_dir dir;
  dir.put("ref.wav", good_float());
  for (const auto& [name, content] : row.files) {
    std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
    ASSERT_TRUE(write_bytes(dir / name, content)) << name;
  }
  switch (row.kind) {
    case PLAIN:
      break;
    case DIRECTORY:
      std::filesystem::create_directory(dir / "folder.wav");
      break;
    case FIFO:
      ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0600), 0);
      break;
    case UNREADABLE:
    case READ_ONLY_FOLDER:
      // Permissions do not hold back the superuser.
      if (geteuid() == 0) GTEST_SKIP() << "runs as root";
      if (row.kind == UNREADABLE) {
        chmod((dir / "locked.wav").c_str(), 0);
      } else {
        chmod((dir / "out").c_str(), 0500);
      }
      break;
  }
  std::vector<std::string> args{"ref.wav"};
  args.insert(args.end(), row.args.begin(), row.args.end());
  const run_result r = run_eqalign(args, dir.path);
  chmod((dir / "out").c_str(), 0700);
  EXPECT_EQ(r.status, row.status);
  EXPECT_TRUE(r.out.starts_with(BANNER_START)) << r.out;
  EXPECT_TRUE(r.out.ends_with(row.tail)) << r.out;
  for (const std::string& f : row.present) EXPECT_TRUE(std::filesystem::exists(dir / f)) << f;
  for (const std::string& f : row.absent) EXPECT_FALSE(std::filesystem::exists(dir / f)) << f;
  for (const auto& [name, content] : row.files) EXPECT_EQ(read_bytes(dir / name), content) << "input changed: " << name;
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadInput, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<matrix_row>& info) { return info.param.label; });

}  // namespace
