// eqalign-pack run as a user runs it. Each row of the table gives the files, the arguments, the exit status
// and what the report holds; after every row no temporary is left and the inputs are as they were, and the
// folder exists only when the run succeeded, holding the outputs and the report. The tests after the table
// read the outputs back with eqalign's own reader.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "core/samples.h"
#include "signals.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using sound = std::vector<double>;
using files = std::vector<std::pair<std::string, bytes>>;

constexpr int RATE = 44100;
constexpr int FRAMES = 8 * RATE;
// Source frames before the reference's first, so that a decode may start earlier.
constexpr int LEAD = 3000;

const sound& source() {
  static const sound m = music(FRAMES + 2 * LEAD, 61);
  return m;
}

// The reference's frame f at frame f + delay, times gain.
sound take_values(int delay, double gain = 1.0) { return decode_of(source(), FRAMES, delay - LEAD, gain, 0.0, 1); }

// Float samples, or integers of `size` bytes (2, 3, 4).
bytes wav_of(const sound& v, int size = 0) {
  if (size == 0) return wav_bytes({.format_tag = 3, .data = as_float_frames(v)});
  return wav_bytes({.byte_rate = RATE * 2 * size, .data = as_int_frames(v, size)});
}

bytes take(int delay, double gain = 1.0, int size = 0) { return wav_of(take_values(delay, gain), size); }

bytes at_rate(const sound& v, std::uint32_t rate) { return wav_bytes({.format_tag = 3, .rate = rate, .data = as_float_frames(v)}); }

// A decode that lost `drop` frames at its frame `at`, as a decoder that drops a block: later frames come
// early by as many, and it ends in silence.
bytes slipped(int delay, int at, int drop) {
  sound v = take_values(delay);
  v.erase(v.begin() + 2 * at, v.begin() + 2 * (at + drop));
  v.resize(2 * static_cast<std::size_t>(FRAMES), 0.0);
  return wav_of(v);
}

// Each channel its own music, so that swapped channels can be told; the decode's swapped when asked.
bytes wide(int delay, bool swap) {
  const sound other = music(FRAMES, 62);
  sound v = take_values(delay);
  for (int n = delay; n < FRAMES; ++n) v[2 * static_cast<std::size_t>(n) + 1] = other[2 * static_cast<std::size_t>(n - delay)];
  if (swap) {
    for (std::size_t i = 0; i < v.size(); i += 2) std::swap(v[i], v[i + 1]);
  }
  return wav_of(v);
}

// The right channel at half its level: 6 dB to the left.
bytes leaning(int delay) {
  sound v = take_values(delay);
  for (std::size_t i = 1; i < v.size(); i += 2) v[i] *= 0.5;
  return wav_of(v);
}

// Silence from frame `from` to `to`.
sound muted(int delay, int from, int to) {
  sound v = take_values(delay);
  std::fill(v.begin() + 2 * from, v.begin() + 2 * to, 0.0);
  return v;
}

// A tone that repeats every 50 frames, `delay` frames later.
sound tone(int delay) {
  sound v(2 * static_cast<std::size_t>(FRAMES));
  for (int n = 0; n < FRAMES; ++n) v[2 * static_cast<std::size_t>(n)] = v[2 * static_cast<std::size_t>(n) + 1] = 0.5 * sine_of_turns((n - delay) / 50.0);
  return v;
}

const std::vector<std::string> DEFAULT_ARGS = {"-o", "out", "ref.wav", "b.wav"};

std::vector<std::string> with(std::vector<std::string> options, const std::vector<std::string>& rest = DEFAULT_ARGS) {
  options.insert(options.end(), rest.begin(), rest.end());
  return options;
}

struct pack_case {
  std::string label;
  files inputs = {};  // beside ref.wav, a copy of the source; a name ending in '/' is a folder
  std::vector<std::string> args = DEFAULT_ARGS;
  int status = 0;
  std::string has = "";  // the report holds it
  // The outputs in `out` beside report.txt; none: the run makes no folder.
  std::set<std::string> made = {};
};

void PrintTo(const pack_case& r, std::ostream* os) { *os << r.label; }

// The names in a folder; none when there is no folder.
std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename().string());
  return names;
}

void run_and_check(const pack_case& r) {
  scratch_dir dir;
  files inputs = r.inputs;
  if (std::none_of(inputs.begin(), inputs.end(), [](const auto& f) { return f.first == "ref.wav"; }))
    inputs.emplace_back("ref.wav", take(0));
  for (const auto& [name, content] : inputs) {
    fs::create_directories(utf8_path(dir / name).parent_path());
    ASSERT_TRUE(name.ends_with('/') || write_bytes(dir / name, content)) << name;
  }
  const run_result result = run_program(r.args, dir / "", REPORT_PIPE, pack_program_path());
  EXPECT_EQ(result.status, r.status) << result.out;
  EXPECT_NE(result.out.find(r.has), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find('\r'), std::string::npos) << "a line end of eqalign's";
  for (const char* line : {"input_wav_length", "biggest_delay", "FLO 1:"})
    EXPECT_EQ(result.out.find(line), std::string::npos) << "eqalign's report line " << line;
  for (const auto& [name, content] : inputs) {
    if (!name.ends_with('/')) {
      EXPECT_EQ(read_bytes(dir / name), content) << "changed: " << name;
    }
  }
  std::set<std::string> expected;
  for (const auto& [name, content] : inputs) expected.insert(utf8_path(name).begin()->string());
  const bool blind = std::find(r.args.begin(), r.args.end(), "--blind") != r.args.end();
  if (!r.made.empty()) {
    std::set<std::string> outputs = r.made;
    outputs.insert({"check.csv", "check.svg"});
    expected.insert("out");
    if (!blind) {
      outputs.insert("report.txt");
      EXPECT_EQ(read_bytes(dir / "out/report.txt"), bytes(result.out.begin(), result.out.end()));
    } else {
      // A blind test's key beside the folder, never without it; no decode named in the report.
      const bytes key = read_bytes(dir / "out.key.csv");
      EXPECT_TRUE(std::string(key.begin(), key.end()).starts_with("name,input,delay,gain_db\n"));
      expected.insert("out.key.csv");
      for (const auto& [name, content] : r.inputs) EXPECT_EQ(result.out.find(name), std::string::npos) << name;
      // check.csv in C order, so that its order tells nothing either.
      const bytes bytes_read = read_bytes(dir / "out/check.csv");
      const std::string csv(bytes_read.begin(), bytes_read.end());
      std::string last;
      for (std::size_t at = csv.find("\nC"); at != std::string::npos; at = csv.find("\nC", at + 1)) {
        EXPECT_LE(last, csv.substr(at + 1, 2));
        last = csv.substr(at + 1, 2);
      }
    }
    EXPECT_EQ(names_in(dir.path / "out"), outputs);
  }
  // No temporary, and a folder only from a complete run or from before it.
  EXPECT_EQ(names_in(dir.path), expected);
}

const std::string USAGE_LINE = "usage: eqalign-pack -o DIR [options] original.wav decode.wav [decode.wav ...]\n";
const std::set<std::string> B_MADE = {"reference.wav", "b.wav"};

std::vector<pack_case> rows() {
  std::vector<std::string> eleven{"-o", "out"};
  for (int i = 0; i < 11; ++i) eleven.push_back(std::to_string(i) + ".wav");
  std::vector<std::string> ten{"-o", "out", "ref.wav"};
  files nine;
  for (int i = 1; i < 10; ++i) {
    // Appended, not added: GCC 12 warns wrongly on "d" + ... + ".32b.wav".
    ten.push_back(std::string("d").append(std::to_string(i)).append(".32b.wav"));
    nine.emplace_back(ten.back(), take(100 * i - 400, 1.0, i % 4 == 0 ? 0 : i % 4 + 1));
  }
  // clang-format off
  return {
    {.label = "help", .args = {"--help"}, .has = USAGE_LINE},
    {.label = "version", .args = {"--vers"}, .has = "eqalign-pack 1.1.0\n"},
    {.label = "unknown_option", .inputs = {{"b.wav", take(0)}}, .args = with({"--bogus"}), .status = 12,
     .has = "eqalign-pack: option '--bogus' is unknown.\n" "eqalign-pack "},
    {.label = "ambiguous_option", .args = with({"--f", "1"}), .status = 12, .has = "option '--f' is ambiguous."},
    {.label = "seconds_past_59", .args = with({"--from", "1:60"}), .status = 12,
     .has = "'1:60' is no TIME for --from"},
    {.label = "a_time_with_a_point_and_no_digits", .args = with({"--length=3."}), .status = 12,
     .has = "'3.' is no TIME for --length"},
    {.label = "a_seed_with_a_sign", .args = with({"--blind", "-1"}), .status = 12,
     .has = "eqalign-pack: '-1' is no SEED for --blind: give a whole number from 0 to 18446744073709551615.\n" "eqalign-pack "},
    {.label = "no_output_folder", .args = {"ref.wav", "b.wav"}, .status = 12, .has = "no output folder: give -o DIR.\neqalign-pack 1.1.0 (see"},
    {.label = "one_file", .args = {"-o", "out", "ref.wav"}, .status = 12, .has = "1 file was named."},
    {.label = "eleven_files", .args = eleven, .status = 12, .has = "11 files were named."},
    {.label = "a_missing_decode", .args = {"-o", "out", "ref.wav", "nope.wav"}, .status = 2,
     .has = "Cannot open this file : nope.wav.\nReason : "},
    {.label = "the_folder_exists", .inputs = {{"b.wav", take(3)}, {"out/", {}}, {"out/keep.txt", {'k'}}}, .status = 9,
     .has = "The output folder exists already : out.\n"},
    {.label = "a_decode_named_reference", .inputs = {{"reference.32b.wav", take(3)}},
     .args = {"-o", "out", "ref.wav", "reference.32b.wav"}, .status = 9,
     .has = "The output of reference.32b.wav would be reference.wav, the original's; rename the decode.\n"},
    {.label = "two_decodes_one_name", .inputs = {{"x/b.wav", take(3)}, {"b.32b.wav", take(4)}},
     .args = {"-o", "out", "ref.wav", "x/b.wav", "b.32b.wav"}, .status = 9,
     .has = "Two decodes would be written to the same output b.wav: x/b.wav and b.32b.wav; rename one.\n"},
    {.label = "a_passage_past_the_decode", .inputs = {{"b.wav", take(400)}}, .args = with({"--from", "6", "--length", "2"}),
     .status = 13,
     .has = "The passage does not fit b.wav, which holds the original's 0:00.000 to 0:07.991: the latest start for "
            "this length is 0:05.990, the greatest length from this start 0:01.990.\n"},
    {.label = "a_passage_before_the_decode", .inputs = {{"b.wav", take(-900)}}, .args = with({"--from", "0.01"}),
     .status = 13, .has = "which holds the original's 0:00.020 to 0:08.020: start at 0:00.021 or later.\n"},
    {.label = "a_passage_under_a_second", .inputs = {{"b.wav", take(3)}}, .args = with({"--length", "0.999"}),
     .status = 13, .has = "The passage is shorter than 1 s: 44056 frames (0:00.999) from 0:00.000.\n"},
    {.label = "swapped_channels", .inputs = {{"ref.wav", wide(0, false)}, {"b.wav", wide(7, true)}}, .status = 14,
     .has = "Not packed: b.wav has its left and right channels swapped."},
    {.label = "inverted_polarity", .inputs = {{"b.wav", take(7, -1.0)}}, .status = 14,
     .has = "Not packed: b.wav has inverted polarity."},
    {.label = "a_leaning_decode", .inputs = {{"b.wav", leaning(7)}}, .status = 14,
     .has = "Not packed: b.wav leans 6.0 dB to the left against the original."},
    {.label = "a_decode_silent_over_the_passage", .inputs = {{"b.wav", wav_of(muted(7, 3 * RATE, 7 * RATE))}},
     .args = with({"--from", "4", "--length", "2"}), .status = 14,
     .has = "Not packed: b.wav is silent over the passage, or the original is."},
    // Every 50 frames the same: lags 50 apart match as well.
    {.label = "music_that_repeats", .inputs = {{"ref.wav", wav_of(tone(0))}, {"b.wav", wav_of(tone(7))}}, .status = 14,
     .has = " almost as well at lag "},
    {.label = "a_silent_decode", .inputs = {{"b.wav", wav_of(sound(2 * FRAMES, 0.0))}}, .status = 14,
     .has = "Not packed: b.wav could not be measured"},
    // 30 frames lost at 4 s: a passage across them matches at neither lag.
    {.label = "a_slip_inside_the_passage", .inputs = {{"b.wav", slipped(40, 4 * RATE + 40, 30)}},
     .args = with({"--from", "2", "--length", "4"}), .status = 14,
     .has = "Not packed: b.wav does not match the original over the passage"},
    // Its length to the end of the decode at the lag found there, 10, not at the first second's 40.
    {.label = "a_passage_after_a_slip", .inputs = {{"b.wav", slipped(40, 3 * RATE + 40, 30)}},
     .args = with({"--from", "4"}),
     .has = "length 176390 frames (0:04.000)\nref.wav -> reference.wav: lag 0, gain 0.000 dB, peak -6.718 dBFS\n"
            "b.wav -> b.wav: lag 10 (first second 40), gain 0.000 dB",
     .made = B_MADE},
    // Starting before the original, the decode sets the first frame every file has.
    {.label = "an_early_decode", .inputs = {{"b.wav", take(-300)}}, .args = with({"--length", "5"}),
     .has = "Passage: start 0:00.007 (frame 300), length 220500 frames (0:05.000)\n", .made = B_MADE},
    {.label = "a_passage_longer_than_the_original", .inputs = {{"b.wav", take(3)}}, .args = with({"--length", "9"}), .status = 13,
     .has = "ref.wav, which holds the original's 0:00.000 to 0:08.000: the greatest length from this start is 0:08.000.\n"},
    {.label = "a_start_past_the_original", .inputs = {{"b.wav", take(3)}}, .args = with({"--from", "8.5", "--length", "1"}), .status = 13,
     .has = "the latest start for this length is 0:07.000.\n"},
    // One frame left after the start: 7.999977 s is frame 352799.
    {.label = "a_start_on_the_last_frame", .inputs = {{"b.wav", take(3)}}, .args = with({"--from", "7.999977", "--length", "1"}),
     .status = 13, .has = "the latest start for this length is 0:07.000, the greatest length from this start 0:00.000.\n"},
    {.label = "both_past_the_original", .inputs = {{"b.wav", take(3)}}, .args = with({"--from", "9", "--length", "9"}), .status = 13,
     .has = "the greatest length is 0:08.000.\n"},
    // Options after the files, a value after '=' or joined to -o, a file named like an option after "--".
    {.label = "a_file_named_like_an_option", .inputs = {{"-x.wav", take(5)}},
     .args = {"ref.wav", "--output=out", "--fade=2.5", "--", "-x.wav"}, .made = {"reference.wav", "-x.wav"}},
    {.label = "a_joined_output", .inputs = {{"b.wav", take(5)}}, .args = {"-oout", "ref.wav", "b.wav"}, .made = B_MADE},
    {.label = "a_blind_test_with_anchors_and_a_page", .inputs = {{"b.wav", take(5)}, {"c.wav", take(-40, 0.9)}},
     .args = with({"--anchors", "--blind", "7", "--webmushra", "--length", "5"}, {"-o", "out", "ref.wav", "b.wav", "c.wav"}),
     .has = "4 stimuli as C1.wav to C4.wav; which is which, with its lag and gain, is in out.key.csv\n",
     .made = {"reference.wav", "C1.wav", "C2.wav", "C3.wav", "C4.wav", "webmushra.yaml"}},
    {.label = "a_key_that_exists", .inputs = {{"b.wav", take(3)}, {"out.key.csv", {'k'}}}, .args = with({"--blind", "1"}),
     .status = 9, .has = "The key file exists already : out.key.csv."},
    {.label = "a_decode_named_like_an_anchor", .inputs = {{"anchor70.32b.wav", take(3)}},
     .args = {"-o", "out", "--anchors", "ref.wav", "anchor70.32b.wav"}, .status = 9,
     .has = "The output of anchor70.32b.wav would be anchor70.wav, an anchor's; rename the decode."},
    // At 14000 Hz the 7 kHz anchor would be the whole band.
    {.label = "anchors_at_a_low_rate", .inputs = {{"ref.wav", at_rate(take_values(0), 14000)}, {"b.wav", at_rate(take_values(3), 14000)}},
     .args = with({"--anchors"}), .status = 12,
     .has = "--anchors needs a rate above 14000 Hz for its 7000 Hz anchor; the files are at 14000 Hz.\n"},
    {.label = "nine_decodes_of_every_size", .inputs = nine, .args = ten, .has = "Packed 10 files into out.\n",
     .made = {"reference.wav", "d1.wav", "d2.wav", "d3.wav", "d4.wav", "d5.wav", "d6.wav", "d7.wav", "d8.wav", "d9.wav"}},
  };
  // clang-format on
}

class PackRun : public testing::TestWithParam<pack_case> {};
TEST_P(PackRun, EndsWithItsStatusReportAndFolder) { run_and_check(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Table, PackRun, testing::ValuesIn(rows()),
                         [](const testing::TestParamInfo<pack_case>& info) { return info.param.label; });

// An output read back by eqalign's own reader, in units of full scale.
struct read_back {
  track t;
  sound v;
};

read_back read_output(const std::string& path) {
  track_slot slot;
  header_info info;
  testing::internal::CaptureStdout();
  const run_status status = read_wav_header(slot, path.c_str(), info);
  const std::string notes = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, STATUS_OK) << path;
  EXPECT_EQ(notes, slot.t.is_float != 0 ? "skipped unknown chunk 'fact' while searching 'data'.\r\n" : "");
  sound v;
  std::vector<unsigned char> frames(static_cast<std::size_t>(slot.t.frames) * FRAME_BYTES);
  if (status == STATUS_OK) {
    EXPECT_EQ(read_frames(slot, 0, static_cast<int>(slot.t.frames), frames.data()), STATUS_OK);
    std::fclose(slot.file);
  }
  for (std::size_t at = 0; at < frames.size(); at += 4) {
    const unsigned char* p = frames.data() + at;
    v.push_back(slot.t.is_float != 0 ? static_cast<double>(load_float_le(p)) : load_int_le(p) * INT_SAMPLE_SCALE);
  }
  return {std::move(slot.t), std::move(v)};
}

// The lag (-8 to 8) at which `b` matches `a` best, and b's level against a's in dB, over b's frames.
std::pair<int, double> lag_and_level(const sound& a, const sound& b) {
  int best = 0;
  double best_match = -2;
  const int frames = static_cast<int>(a.size() / 2);
  for (int lag = -8; lag <= 8; ++lag) {
    double ab = 0;
    double aa = 0;
    double bb = 0;
    for (int n = 8; n < frames - 8; ++n) {
      for (int c = 0; c < 2; ++c) {
        const double x = a[2 * static_cast<std::size_t>(n) + c];
        const double y = b[2 * static_cast<std::size_t>(n + lag) + c];
        ab += x * y;
        aa += x * x;
        bb += y * y;
      }
    }
    if (ab / std::sqrt(aa * bb) > best_match) {
      best_match = ab / std::sqrt(aa * bb);
      best = lag;
    }
  }
  double aa = 0;
  double bb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    aa += a[i] * a[i];
    bb += b[i] * b[i];
  }
  return {best, 10 * std::log10(bb / aa)};
}

// Packs the files in a fresh folder; the outputs read back by name.
std::map<std::string, read_back> pack(const files& inputs, const std::vector<std::string>& args, std::string& report) {
  scratch_dir dir;
  for (const auto& [name, content] : inputs) dir.put(name, content);
  const run_result r = run_program(args, dir / "", REPORT_PIPE, pack_program_path());
  EXPECT_EQ(r.status, 0) << r.out;
  report = r.out;
  std::map<std::string, read_back> outputs;
  if (r.status != 0) return outputs;
  for (const std::string& name : names_in(dir.path / "out")) {
    if (name.ends_with(".wav")) outputs[name] = read_output(dir / ("out/" + name));
  }
  return outputs;
}

// Decodes of every size, each at its delay and gain: in every format, every output has the passage's length
// and rate and plays in step with the reference, at its level within 0.01 dB.
TEST(PackOutputs, KnownDelaysAndGainsComeOutInStepAndAtLevel) {
  const files inputs = {{"ref.wav", take(0)}, {"a.wav", take(1105, 0.95)}, {"b.wav", take(-312, 1.12, 2)},
                        {"c.wav", take(2112, 0.8, 3)}};
  const struct {
    const char* format;
    int frame_bytes;
    double steps;  // of full scale; 0 for float
  } formats[] = {{"wav16", 4, 32768}, {"wav24", 6, 8388608}, {"float", 8, 0}};
  const sound ref = take_values(0);
  for (const auto& [format, frame_bytes, steps] : formats) {
    std::string report;
    const auto out = pack(inputs, {"--format", format, "--from", "1", "--length", "0:05.5", "-o", "out", "ref.wav",
                                   "a.wav", "b.wav", "c.wav"},
                          report);
    ASSERT_EQ(out.size(), 4u) << report;
    EXPECT_NE(report.find("a.wav -> a.wav: lag 1105, gain 0.446 dB"), std::string::npos) << report;
    for (const auto& [name, wav] : out) {
      EXPECT_EQ(wav.t.frames, 242550) << format << " " << name;
      EXPECT_EQ(wav.t.sample_rate, 44100u);
      EXPECT_EQ(wav.t.frame_bytes, frame_bytes) << format;
      EXPECT_EQ(wav.t.is_float, std::string(format) == "float" ? 1 : 0);
      const auto [lag, level] = lag_and_level(out.at("reference.wav").v, wav.v);
      EXPECT_EQ(lag, 0) << format << " " << name;
      EXPECT_NEAR(level, 0.0, 0.01) << format << " " << name;
    }
    // Past the fade, the reference's own samples, each rounded to its nearest step.
    const sound& written = out.at("reference.wav").v;
    for (std::size_t i = 2 * 441; i < written.size() - 2 * 441; ++i) {
      const double x = static_cast<float>(ref[2 * static_cast<std::size_t>(RATE) + i]);
      ASSERT_EQ(written[i], steps == 0 ? x : std::nearbyint(x * steps) / steps) << format << " " << i;
    }
  }
}

// The first two seconds 20 dB down, where the decode is 2 frames later and 1 dB louder than over the rest: the
// first second's delay and gain are off, the passage's are right.
TEST(PackOutputs, AQuietIntroMisleadsTheFirstSecondNotThePassage) {
  const int intro = 2 * RATE;
  sound ref = take_values(0);
  const sound early = take_values(300, 1.12);
  sound decode = take_values(298);
  for (int n = 0; n < intro; ++n) {
    for (int c = 0; c < 2; ++c) {
      ref[2 * static_cast<std::size_t>(n) + c] *= 0.1;
      decode[2 * static_cast<std::size_t>(n + 300) + c] = 0.1 * early[2 * static_cast<std::size_t>(n + 300) + c];
    }
  }
  std::string report;
  const auto out = pack({{"ref.wav", wav_of(ref)}, {"b.wav", wav_of(decode)}},
                        {"--from", "3", "--length", "4", "--format", "float", "-o", "out", "ref.wav", "b.wav"}, report);
  ASSERT_EQ(out.size(), 2u) << report;
  EXPECT_NE(report.find("b.wav -> b.wav: lag 298 (first second 300), gain 0.000 dB (+0.984 dB against the first second)"),
            std::string::npos)
      << report;
  const auto [lag, level] = lag_and_level(out.at("reference.wav").v, out.at("b.wav").v);
  EXPECT_EQ(lag, 0);
  EXPECT_NEAR(level, 0.0, 0.01);
}

// The largest sample of any file, times its gain, sets one scale: a loud set comes out with its loudest sample
// 1 dB below full scale; a quiet one keeps the reference's own samples.
TEST(PackOutputs, OneScaleKeepsTheLoudestSample1DbBelowFullScale) {
  double peak = 0;
  for (double x : take_values(0)) peak = std::max(peak, std::fabs(x));
  const struct {
    double loudness;
    const char* scale;
  } rows[] = {{0.99 / peak, "Scale: -0.915 dB\n"}, {0.8 / peak, "Scale: 0.000 dB\n"}};
  for (const auto& row : rows) {
    const sound ref = take_values(0, row.loudness);
    std::string report;
    const auto out = pack({{"ref.wav", wav_of(ref)}, {"b.wav", take(9, row.loudness * 1.25)}},
                          {"--fade", "0", "-o", "out", "ref.wav", "b.wav"}, report);
    ASSERT_EQ(out.size(), 2u) << report;
    EXPECT_NE(report.find(row.scale), std::string::npos) << report;
    const sound& written = out.at("reference.wav").v;
    double loudest = 0;
    for (double x : written) loudest = std::max(loudest, std::fabs(x));
    EXPECT_NEAR(loudest, std::min(0.891, row.loudness * peak), 1.0 / 32768) << row.scale;
    if (row.loudness * peak > 0.891) continue;
    // Each sample rounded to its nearest 16-bit step, ties to even.
    for (std::size_t i = 0; i < written.size(); ++i)
      ASSERT_EQ(written[i], std::nearbyint(static_cast<float>(ref[i]) * 32768.0) / 32768) << i;
  }
}

// A fade of 5 ms is 220.5 frames, 221 as rounded: each of those frames at each end times
// 0.5 - 0.5 cos(pi (n + 0.5) / 221), the frames between as they are.
TEST(PackOutputs, FadesAreRaisedCosinesAtBothEnds) {
  std::string report;
  const auto out = pack({{"ref.wav", take(0)}, {"b.wav", take(5)}},
                        {"--fade", "5", "--format", "float", "--from", "1", "--length", "2", "-o", "out", "ref.wav", "b.wav"},
                        report);
  ASSERT_EQ(out.size(), 2u) << report;
  const sound& written = out.at("reference.wav").v;
  const sound ref = take_values(0);
  const int length = 2 * RATE;
  for (int n = 0; n < length; ++n) {
    const int m = std::min(n, length - 1 - n);
    const double fade = m < 221 ? 0.5 - 0.5 * std::cos(3.141592653589793 * (m + 0.5) / 221) : 1.0;
    for (int c = 0; c < 2; ++c) {
      const double x = static_cast<float>(ref[2 * static_cast<std::size_t>(RATE + n) + c]);
      ASSERT_NEAR(written[2 * static_cast<std::size_t>(n) + c], x * fade, 1e-7) << n;
      if (m >= 221) {
        ASSERT_EQ(written[2 * static_cast<std::size_t>(n) + c], x) << n;
      }
    }
  }
}

// An MP3 frame (1152 frames) lost at 3 s: the whole-file check finds the decode 1152 frames early from its
// place at 5 s on, and a passage after it is measured around that lag.
TEST(PackOutputs, APassageAfterABlockLostIsPackedInStep) {
  std::string report;
  const auto out = pack({{"ref.wav", take(0)}, {"b.wav", slipped(40, 3 * RATE, 1152)}},
                        {"--from", "5.5", "--length", "2", "-o", "out", "ref.wav", "b.wav"}, report);
  EXPECT_NE(report.find("b.wav -> b.wav: lag -1112 (first second 40)"), std::string::npos) << report;
}

#ifndef _WIN32
bool still_running(pid_t pid) {
  siginfo_t ended{};
  return waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0;
}

// An interrupt while the folder is written leaves neither it nor its temporary.
TEST(PackOutputs, AnInterruptLeavesNoFolder) {
  scratch_dir dir;
  const sound long_piece = music(40 * RATE, 63);
  dir.put("ref.wav", wav_of(long_piece));
  dir.put("b.wav", wav_of(decode_of(long_piece, 40 * RATE, 7, 1.0, 0.0, 1)));
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (int attempt = 0; attempt < 10; ++attempt) {
    const pid_t pid = start_program({"-o", "out", "ref.wav", "b.wav"}, dir / "", quiet, quiet, pack_program_path());
    // The signal must land while the outputs are written in the temporary folder.
    bool sent = false;
    while (!sent && still_running(pid)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      for (const std::string& name : names_in(dir.path)) {
        std::error_code ec;
        if (!sent && name.starts_with(".eqalign-") && fs::exists(dir.path / name / "reference.wav", ec))
          sent = kill(pid, SIGINT) == 0;
      }
    }
    const int status = wait_for(pid);
    if (status == 0) {
      fs::remove_all(dir.path / "out");
      continue;
    }
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_EQ(names_in(dir.path), (std::set<std::string>{"ref.wav", "b.wav"}));
    close(quiet);
    return;
  }
  close(quiet);
  FAIL() << "every run ended before the interrupt";
}
#endif

}  // namespace
