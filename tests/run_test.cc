// eqalign run as a user runs it. Each row of the three tables (the command line and inputs, the
// measurement, the outputs and their names) gives the files, the arguments, the exit status and the end
// of the report. Every run must leave no temporary behind and its inputs as they were; a failed run leaves
// every file it found as it was, and writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <limits>
#include <thread>

#include "signals.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int FRAMES = 70000;  // more than one block of the writer

const std::vector<double>& source() {
  static const std::vector<double> m = music(FRAMES + 8000, 31);
  return m;
}

// A decode of the source: `delay` frames later, at `gain` times its level,
// after `silence` frames of digital silence.
bytes take(int delay, double gain = 1.0, bool is_float = true, std::uint32_t rate = 44100, int frames = FRAMES,
           int silence = 0) {
  const std::vector<double> d = decode_of(source(), frames, silence + delay, gain, 0.0, 1);
  return wav_bytes({.format_tag = static_cast<std::uint16_t>(is_float ? 3 : 1),
                    .rate = rate,
                    .data = is_float ? as_float_frames(d) : as_int_frames(d)});
}

// A decode of the source as integers of `size` bytes (2 or 3, in `layout`); `widened`: the 32-bit copy that
// holds each of those samples in its top bytes, as `sox -b 32` makes it.
bytes narrow_take(int delay, int size, bool widened = false, wav_spec layout = {}, int frames = FRAMES) {
  layout.byte_rate = 44100 * 2 * size;  // the block align and bits fields are not read
  layout.data = as_int_frames(decode_of(source(), frames, delay, 0.9, 0.0, 1), size);
  if (!widened) return wav_bytes(layout);
  bytes wide;
  for (auto at = layout.data.begin(); at != layout.data.end(); at += size) {
    wide.insert(wide.end(), 4 - size, 0);
    wide.insert(wide.end(), at, at + size);
  }
  return wav_bytes({.data = wide});
}

// NaN and infinity in the analysed second count as silence; later, NaN writes
// 0, and the infinities and 1e30s clip, as does the infinity in that second.
bytes non_finite_samples() {
  std::vector<double> v = decode_of(source(), FRAMES, 0, 1.0, 0.0, 1);
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& [at, x] : {std::pair{200, std::nan("")},
                              {10001, inf},
                              {131000, std::nan("")},
                              {131200, inf},
                              {131203, -inf},
                              {131400, 1e30},
                              {131403, -1e30}})
    v[at] = x;
  return wav_bytes({.format_tag = 3, .data = as_float_frames(v)});
}

std::string long_name(std::size_t length) {
  std::string name;
  while (name.size() + 210 < length) name += std::string(200, 'd') + "/";
  return name + std::string(length - name.size() - 8, 'n') + ".32b.wav";
}

const std::string USAGE =
    "Eqalign ver.1.1.0 (see README.md and the eqalign manual page)\r\n"
    " Equalize offset and gain of 32bit float or int 44100Hz wav files.\r\n"
    "  Then output them as raw, to perform an abc/hr test.\r\n\r\n"
    "    usage:  eqalign original.wav lossy1.wav lossy2.wav.....\r\n\r\n"
    "detectable offset: -2500 ~ 7500[sample]. Yulewalk filter for 44.1k is used.\r\n";
// Write permission, as Windows' read-only attribute maps it.
constexpr fs::perms WRITE_BITS = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
#ifndef _WIN32
rlimit file_size_limit{};
#endif

// The source after `intro` frames of 16-bit dither (+-1 step), or of digital
// silence with one frame of 1 step at `stray`, as 32-bit integers.
bytes quiet_intro(int intro, int frames, bool dither, int stray = -1) {
  std::vector<double> d = decode_of(source(), frames, intro, 1.0, 0.0, 1);
  noise_source n{77};
  for (int i = 0; i < 2 * intro; ++i) d[i] = dither ? (n.next() < 0 ? -1.0 : 1.0) / 32768 : 0.0;
  if (stray >= 0) d[2 * stray] = d[2 * stray + 1] = 1.0 / 32768;
  return wav_bytes({.data = as_int_frames(d)});
}

// Leftovers of a killed run: that process is gone; one of a run still going.
const std::string STOPPED = ".eqalign-2147483647-3.tmp";
// Old outputs that a killed run had moved aside, one whose name was cut.
const std::string STOPPED_ASIDE = ".eqalign-2147483647-4.old.my song.raw";
const std::string STOPPED_CUT = ".eqalign-2147483647-5.old.my long so";
#ifdef _WIN32
const std::string RUNNING = ".eqalign-" + std::to_string(GetCurrentProcessId()) + "-0.tmp";
#else
const std::string RUNNING = ".eqalign-" + std::to_string(getpid()) + "-0.tmp";
#endif

// The system's words differ between systems; only eqalign's own are compared there.
std::string reasons_as_here(const std::string& text) {
#ifdef _WIN32
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find("Reason : "); at != std::string::npos; at = text.find("Reason : ", from)) {
    out += text.substr(from, at + 9 - from) + "*";
    from = std::min(text.find(".\r\n", at), text.size());
  }
  return out + text.substr(from);
#else
  return text;
#endif
}

using files = std::vector<std::pair<std::string, bytes>>;

// One run of eqalign: the files it finds, its command line, and what it must give.
struct run_case {
  std::string label;
  files inputs = {};  // beside ref.wav, a copy of the source; a name ending in '/' is a folder
  std::vector<std::string> args = {"ref.wav", "b.wav"};
  int status = 0;
  std::string tail = "";  // the report ends with it
  std::string has = "";   // and holds it
  std::vector<std::string> made = {};
  int runs = 1;
  // What files alone cannot set up (a fifo, a mode, a link, a limit), and
  // its undoing, with any check of its own, once the runs are done.
  void (*before)(const scratch_dir&) = nullptr;
  void (*after)(const scratch_dir&) = nullptr;
  // File modes do not bind root: such a row runs only as another user.
  bool modes_matter = false;
};

void PrintTo(const run_case& r, std::ostream* os) { *os << r.label; }

// Runs the case, then checks what holds after every run: no temporary is
// left, the inputs are as they were, and a failed run changed no file it
// found and wrote no output.
void run_and_check(const run_case& r) {
#ifndef _WIN32
  if (r.modes_matter && geteuid() == 0) GTEST_SKIP() << "file modes do not bind root";
#endif
  scratch_dir dir;
  files inputs = r.inputs;
  if (std::none_of(inputs.begin(), inputs.end(), [](const auto& f) { return f.first == "ref.wav"; }))
    inputs.emplace_back("ref.wav", take(0));
  for (const auto& [name, content] : inputs) {
    fs::create_directories(utf8_path(dir / name).parent_path());
    ASSERT_TRUE(name.ends_with('/') || write_bytes(dir / name, content)) << name;
  }
  if (r.before != nullptr) r.before(dir);
  for (int run = 0; run < r.runs; ++run) {
    const run_result result = run_program(r.args, dir / "");
    const std::string out = reasons_as_here(result.out);
    EXPECT_EQ(result.status, r.status);
    if (r.args.size() < 2) {
      EXPECT_EQ(out, r.tail);
    }
    EXPECT_TRUE(out.starts_with(r.args.size() < 2 ? "" : BANNER_START + r.args[0] + "\r\n")) << out;
    EXPECT_TRUE(out.ends_with(reasons_as_here(r.tail))) << out;
    EXPECT_NE(out.find(r.has), std::string::npos) << out;
    EXPECT_EQ(out.find(RUNNING), std::string::npos) << out;
  }
  if (r.after != nullptr) r.after(dir);
  for (const std::string& f : r.made) EXPECT_TRUE(fs::exists(utf8_path(dir / f))) << f;
  for (const auto& [name, content] : inputs) {
    const bool input = std::find(r.args.begin(), r.args.end(), name) != r.args.end();
    if (!name.ends_with('/') && (input || r.status != 0 || name.starts_with(".eqalign-"))) {
      EXPECT_EQ(read_bytes(dir / name), content) << "changed: " << name;
    }
  }
  for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) {
    const std::string name = e.path().filename().string();
    const bool found =
        std::any_of(inputs.begin(), inputs.end(), [&](const auto& f) { return dir / f.first == e.path(); });
    EXPECT_FALSE(name.starts_with(".eqalign-") && !found && name != RUNNING) << "temporary left: " << name;
    if (r.status != 0 && e.is_regular_file() && e.path().extension() == ".raw") {
      EXPECT_TRUE(found) << "written by a failed run: " << name;
    }
  }
}

const std::string IN_B = "In file : b.wav.\r\n";
const std::string RATE_NOTE = "Note: using sample rate other than 44.1kHz is not recommended.\r\n";
const std::string UNMEASURED =
    "Note: track 1 could not be measured: it is silent where it is compared; it is written without alignment or "
    "level matching.\r\n";
const std::string SILENT =
    "No Sound At All.\r\nFLO 1:Offset:    0    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n" +
    UNMEASURED + "biggest_delay    : 0\r\nsmallest_delay   : 0\r\nbiggest_gain     : 1.000000\r\ninput_wav_length : ";
const bytes OLD{'o', 'l', 'd'};

bytes at48(int delay) { return take(delay, 1.0, true, 48000); }
bytes late(int delay, double gain, int frames, int silence) { return take(delay, gain, true, 44100, frames, silence); }

// The command line, and inputs that are refused or that set the common length.
std::vector<run_case> command_line_and_inputs() {
  std::vector<std::string> eleven;
  files ten;
  std::vector<std::string> ten_names{"ref.wav"};
  for (int i = 0; i < 11; ++i) eleven.push_back(std::to_string(i) + ".wav");
  for (int i = 1; i < 10; ++i) {
    ten_names.push_back(std::to_string(i) + "t.wav");
    ten.emplace_back(ten_names.back(), take(i, 1.0, i % 2 == 0));
  }
  ten.emplace_back("9t.wav.raw", bytes(3, 'o'));  // a full run over an earlier one
  const bytes short_data = wav_bytes({.data = bytes(352799, 0)});
  const std::string too_long(5000, 'n');
  // clang-format off
  std::vector<run_case> rows = {
    {.label = "usage_without_names", .args = {}, .tail = USAGE},
    {.label = "usage_with_one_name", .args = {"only.wav"}, .tail = USAGE},
    {.label = "eleven_names", .args = eleven, .status = 1, .tail = "wav_num 11 is too much.\r\n"},
    {.label = "a_name_that_cannot_be_opened",
     .inputs = {{"ref.wav", wav_bytes({.before_fmt = {{"LIST", bytes(4, 0)}}, .data = bytes(800, 0)})},
                {"b.wav", wav_bytes({.between = {{"fact", bytes(4, 0)}}, .data = bytes(800, 0)})},
                {"d.wav", wav_bytes({.format_tag = 2})}},  // would fail with status 4 if read
     .args = {"ref.wav", "b.wav", "c.wav", "d.wav"}, .status = 2,
     .tail = "skipped unknown chunk 'LIST' while searching 'fmt '.\r\n"
             "skipped unknown chunk 'fact' while searching 'data'.\r\nCannot open this file : c.wav.\r\n"
             "Reason : No such file or directory.\r\n"},
    {.label = "ten_files", .inputs = ten, .args = ten_names, .tail = "input_wav_length : 69991\r\n",
     .has = "INT 9:Offset:    9"},
    {.label = "empty", .inputs = {{"b.wav", {}}}, .status = 3, .tail = "Chunks too much.\r\n" + IN_B},
    // Frames, not bytes, make the length: the first file of the fewest frames is named.
    {.label = "44099_frames_twice_the_second_time_in_fewer_bytes",
     .inputs = {{"b.wav", short_data}, {"c.wav", wav_bytes({.byte_rate = 176400, .data = bytes(176399, 0)})}},
     .args = {"ref.wav", "b.wav", "c.wav"}, .status = 8,
     .tail = "input_wav_length : 44099\r\nINPUT FILES TOO SHORT.\r\n" + IN_B},
    {.label = "a_16_bit_decode_of_more_frames_in_fewer_bytes",
     .inputs = {{"b.wav", narrow_take(3, 2, false, {}, 100000)}}, .tail = "input_wav_length : 69997\r\n",
     .has = "input_wav_length : 70000\r\nINT 1:Offset:    3"},
    {.label = "header_without_data", .inputs = {{"b.wav", wav_bytes({.data_size = 400000})}}, .status = 8,
     .tail = "Note: data chunk is longer than the file; using 0 bytes : b.wav.\r\ninput_wav_length : 0\r\n"
             "INPUT FILES TOO SHORT.\r\n" + IN_B},
    {.label = "odd_and_oversized_data_sizes",
     .inputs = {{"b.wav", wav_bytes({.data_size = 368001, .data = bytes(368002, 0)})},
                {"c.wav", wav_bytes({.format_tag = 3, .data_size = 0xFFFFFFFF, .data = as_float_frames(source())})}},
     .args = {"ref.wav", "b.wav", "c.wav"}, .tail = "input_wav_length : 46000\r\n"},
    {.label = "a_folder", .inputs = {{"f.wav/", {}}}, .args = {"ref.wav", "f.wav"}, .status = 2,
     .tail = "Cannot open this file : f.wav.\r\nReason : Not a regular file.\r\n"},
    {.label = "rate_of_the_first_decode", .inputs = {{"b.wav", at48(0)}}, .args = {"ref.wav", "b.wav", "missing.wav"},
     .status = 11, .tail = RATE_NOTE + "Sample rate 48000 Hz differs from the reference's 44100 Hz : b.wav.\r\n"},
    {.label = "rate_of_a_later_decode", .inputs = {{"ref.wav", at48(0)}, {"b.wav", at48(5)}, {"c.wav", take(0)}},
     .args = {"ref.wav", "b.wav", "c.wav"}, .status = 11,
     .tail = RATE_NOTE + "Sample rate 44100 Hz differs from the reference's 48000 Hz : c.wav.\r\n"},
    {.label = "one_rate_not_44100", .inputs = {{"ref.wav", at48(0)}, {"b.wav", at48(5)}},
     .tail = "input_wav_length : 69995\r\n", .has = RATE_NOTE + RATE_NOTE + "input_wav_length : 70000\r\nFLO 1:Offset:    5"},
    {.label = "a_name_of_5000_characters", .args = {"ref.wav", too_long}, .status = 2,
     .tail = "Cannot open this file : " + too_long + ".\r\nReason : File name too long.\r\n"},
  };
#ifndef _WIN32
  rows.push_back({.label = "a_fifo", .args = {"ref.wav", "fifo.wav"}, .status = 2,
                  .tail = "Cannot open this file : fifo.wav.\r\nReason : Not a regular file.\r\n",
                  .before = [](const scratch_dir& dir) { ASSERT_EQ(mkfifo((dir / "fifo.wav").c_str(), 0600), 0); }});
#ifdef __linux__
  // A read error in the header: reading /proc/self/mem at address 0 fails with EIO.
  rows.push_back({.label = "a_read_error_in_the_header", .args = {"ref.wav", "/proc/self/mem"}, .status = 2,
                  .tail = "Cannot read this file : /proc/self/mem.\r\n"});
#endif
  rows.push_back({.label = "unreadable", .inputs = {{"b.wav", take(0)}}, .status = 2,
                  .tail = "Cannot open this file : b.wav.\r\nReason : Permission denied.\r\n",
                  .before = [](const scratch_dir& dir) { chmod((dir / "b.wav").c_str(), 0); },
                  .after = [](const scratch_dir& dir) { chmod((dir / "b.wav").c_str(), 0644); },
                  .modes_matter = true});
#endif
  // clang-format on
  return rows;
}

// What the report says of each decode measured.
std::vector<run_case> measurement() {
  const std::string end = " is at the end of the searched range; the true delay may lie beyond it.\r\n";
  // 80000 frames, the source from frame `delay` on, and hiss throughout.
  const auto hissing = [](int delay, double gain) {
    return wav_bytes({.format_tag = 3, .data = as_float_frames(decode_of(source(), 80000, delay, gain, 0.01, 5))});
  };
  // clang-format off
  return {
    {.label = "silent_decode_of_352807_bytes",
     .inputs = {{"b.wav", wav_bytes({.format_tag = 3, .data = bytes(352807, 0)})}}, .tail = SILENT + "44100\r\n"},
    {.label = "nan_infinite_and_huge_floats", .inputs = {{"b.wav", non_finite_samples()}},
     .tail = "FLO 1: Clipped 5 times.\r\n"},
    // The reference is silent up to frame 42500: measured from 6600 frames before, a whole capture just fits in
    // 80000 frames; one frame later it does not. The decode's hiss does not count: only the reference decides.
    {.label = "sound_just_early_enough", .inputs = {{"ref.wav", late(0, 1.0, 80000, 42500)}, {"b.wav", hissing(42505, 0.5)}},
     .tail = "input_wav_length : 79995\r\n",
     .has = "input_wav_length : 80000\r\nNote: the reference is silent at its start; measuring from frame 35900.\r\n"
            "FLO 1:Offset:    5    Gain:1.988631    Gain:5.971083[dB]    Score:0.094593   \r\n"},
    // Silence that ends inside the compare window leaves the measure where it is.
    {.label = "a_silence_shorter_than_the_window",
     .inputs = {{"ref.wav", late(0, 1.0, FRAMES, 10000)}, {"b.wav", late(7, 1.0, FRAMES, 10000)}},
     .tail = "input_wav_length : 70000\r\nFLO 1:Offset:    7    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000"
             "   \r\nbiggest_delay    : 7\r\nsmallest_delay   : 0\r\nbiggest_gain     : 1.000000\r\n"
             "input_wav_length : 69993\r\n"},
    // A reference silent where it is compared leaves every decode unmeasured.
    {.label = "sound_too_late", .inputs = {{"ref.wav", late(0, 1.0, 80000, 42501)}, {"b.wav", late(0, 1.0, 80000, 0)}},
     .tail = SILENT + "80000\r\n"},
    // Dither, or one stray step, is no sound: the reference is measured from its first second of music.
    // The music starts at frame 36600, right after the frames compared.
    {.label = "a_dithered_intro", .inputs = {{"ref.wav", quiet_intro(36600, 90000, true)},
                                             {"b.wav", late(3, 0.5, 90000, 36600)}},
     .tail = "input_wav_length : 89997\r\n",
     .has = "Note: the reference is silent at its start; measuring from frame 30000.\r\nFLO 1:Offset:    3    Gain:2.000000"},
    {.label = "a_stray_step_in_two_seconds_of_zeros",
     .inputs = {{"ref.wav", quiet_intro(88200, 130000, false, 30000)}, {"b.wav", late(3, 1.0, 130000, 88200)}},
     .tail = "input_wav_length : 129997\r\n",
     .has = "Note: the reference is silent at its start; measuring from frame 81600.\r\nFLO 1:Offset:    3"},
    // Too late for a whole capture: the dither is measured as it is, here against a copy of it.
    {.label = "a_dithered_intro_with_the_sound_too_late",
     .inputs = {{"ref.wav", quiet_intro(42501, 80000, true)}, {"b.wav", quiet_intro(42501, 80000, true)}},
     .tail = "input_wav_length : 80000\r\n",
     .has = "input_wav_length : 80000\r\nINT 1:Offset:    0    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   "
            "\r\nbiggest_delay"},
    // A decoder's silence of 1e-34s, ahead of the music, is no sound either: it cannot set the scale of the run.
    {.label = "a_decode_of_tiny_values_beside_a_good_one",
     .inputs = {{"b.wav", wav_bytes({.format_tag = 3,
                                     .data = as_float_frames(decode_of(source(), FRAMES, 50000, 1.0, 1e-34, 9))})},
                {"c.wav", take(7)}},
     .args = {"ref.wav", "b.wav", "c.wav"},
     .tail = "No Sound At All.\r\nFLO 1:Offset:    0    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n" +
             UNMEASURED + "FLO 2:Offset:    7    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
             "biggest_delay    : 7\r\nsmallest_delay   : 0\r\nbiggest_gain     : 1.000000\r\ninput_wav_length : 69993\r\n"},
    {.label = "another_piece", .inputs = {{"b.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(music(FRAMES, 99))})}},
     .tail = "FLO 1:Offset: 4251    Gain:0.995945    Gain:-0.035294[dB]    Score:1.292235   \r\n"
             "Note: track 1 matches the reference poorly; is it a decode of the reference?\r\nbiggest_delay    : 4251\r\n"
             "smallest_delay   : 0\r\nbiggest_gain     : 1.000000\r\ninput_wav_length : 65749\r\n"},
    {.label = "delays_at_the_ends_of_the_range", .inputs = {{"b.wav", take(7499)}, {"c.wav", take(-2500)}},
     .args = {"ref.wav", "b.wav", "c.wav"},
     .tail = "Note: the delay of track 2" + end + "biggest_delay    : 7499\r\nsmallest_delay   : -2500\r\n"
             "biggest_gain     : 1.000000\r\ninput_wav_length : 60001\r\n",
     .has = "FLO 1:Offset: 7499    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
            "Note: the delay of track 1" + end + "FLO 2:Offset:-2500"},
  };
  // clang-format on
}

// The outputs' names, what stands at them, and outputs that cannot be written.
std::vector<run_case> outputs_and_names() {
  const std::string stopped = " is left from a stopped run; it can be removed.\r\n";
  const std::string utf8 = "caf\xc3\xa9 \xe9\x9f\xb3\xe6\xa5\xbd";
  const std::string longest = long_name(2100);
  // clang-format off
  std::vector<run_case> rows = {
    // The decode's output would be the reference itself.
    {.label = "output_is_an_input", .inputs = {{"b.wav.raw", take(0)}, {"b.wav", take(1)}},
     .args = {"b.wav.raw", "b.wav"}, .status = 9, .tail = "This output would replace an input : b.wav.raw.\r\n"},
    {.label = "an_input_given_twice", .args = {"ref.wav", "ref.wav"}, .status = 9,
     .tail = "Two inputs would be written to the same output : ref.wav.raw.\r\n"},
    {.label = "two_spellings_of_one_output",
     .inputs = {{"sub/", {}}, {"a.32b.wav", take(1)}, {"a.32b.wav.x.32b.wav", take(2)}},
     .args = {"ref.wav", "a.32b.wav", "sub/../a.32b.wav.x.32b.wav"}, .status = 9,
     .tail = "Two inputs would be written to the same output : a.raw.\r\n"},
    {.label = "a_folder_at_an_output_name", .inputs = {{"ref.wav.raw", OLD}, {"b.raw/", {}}, {"b.32b.wav", take(1)}},
     .args = {"ref.wav", "b.32b.wav"}, .status = 9,
     .tail = "Output path is not available.\r\nIn file : b.raw.\r\nReason : Is a directory.\r\n"},
    // Read-only on Windows; mode 0444 on POSIX.
    {.label = "a_write_protected_output", .inputs = {{"ref.wav.raw", OLD}, {"b.wav.raw", OLD}, {"b.wav", take(1)}},
     .status = 9, .tail = "This output is write-protected : b.wav.raw.\r\n",
     .before = [](const scratch_dir& dir) {
       fs::permissions(utf8_path(dir / "b.wav.raw"), WRITE_BITS, fs::perm_options::remove);
     },
     .after = [](const scratch_dir& dir) {
       fs::permissions(utf8_path(dir / "b.wav.raw"), WRITE_BITS, fs::perm_options::add);
     },
     .modes_matter = true},
    // Named once per folder, never removed; a folder keeps a name that holds ".32b.wav".
    {.label = "leftovers_of_a_stopped_run",
     .inputs = {{STOPPED, OLD}, {".eqalign-x-1.tmp", OLD}, {".eqalign-2147483647-12345678901.tmp", OLD},
                {"x.32b.wav.d/" + STOPPED, OLD}, {"x.32b.wav.d/" + STOPPED_ASIDE, OLD}, {"x.32b.wav.d/" + STOPPED_CUT, OLD},
                {"x.32b.wav.d/c.32b.wav", take(2)}, {"b.wav", take(1)}},
     .args = {"ref.wav", "b.wav", "x.32b.wav.d/c.32b.wav"}, .tail = "input_wav_length : 69998\r\n",
     .has = "input_wav_length : 70000\r\nNote: " + STOPPED + stopped + "Note: x.32b.wav.d/" + STOPPED + stopped +
            "Note: x.32b.wav.d/" + STOPPED_ASIDE + " is left from a stopped run; it holds the previous x.32b.wav.d/my "
            "song.raw.\r\nNote: x.32b.wav.d/" + STOPPED_CUT + " is left from a stopped run; it holds the previous "
            "output whose name begins x.32b.wav.d/my long so.\r\nFLO 1:",
     .made = {"x.32b.wav.d/c.raw"},
     .before = [](const scratch_dir& dir) { dir.put(RUNNING, {'r'}); }},
    // Run twice: the second run in the same folder replaces the first's outputs.
    {.label = "names_with_spaces_dashes_and_utf8",
     .inputs = {{"my song.32b.wav", take(3)}, {"-x.32b.wav", take(4)}, {utf8 + ".32b.wav", take(5)}, {"x.32B.WAV", take(6)}},
     .args = {"ref.wav", "my song.32b.wav", "-x.32b.wav", utf8 + ".32b.wav", "x.32B.WAV"},
     .tail = "input_wav_length : 69994\r\n",
     .made = {"ref.wav.raw", "my song.raw", "-x.raw", utf8 + ".raw", "x.32B.WAV.raw"}, .runs = 2},
    {.label = "a_name_of_2100_characters", .inputs = {{longest, take(0)}}, .args = {"ref.wav", longest},
     .tail = "input_wav_length : 70000\r\n", .made = {longest.substr(0, 2092) + ".raw"}},
  };
#ifndef _WIN32
  rows.push_back({.label = "a_name_that_is_not_utf8", .inputs = {{"x\xff.32b.wav", take(3)}},
                  .args = {"ref.wav", "x\xff.32b.wav"}, .tail = "input_wav_length : 69997\r\n", .made = {"x\xff.raw"}});
  // A link at an output name is replaced, and what it led to kept.
  rows.push_back({.label = "a_link_at_an_output_name", .inputs = {{"b.wav", take(4)}},
                  .tail = "input_wav_length : 69996\r\n",
                  .before = [](const scratch_dir& dir) {
                    dir.put("kept.txt", {'k'});
                    fs::create_symlink("kept.txt", dir.path / "b.wav.raw");
                  },
                  .after = [](const scratch_dir& dir) {
                    EXPECT_FALSE(fs::is_symlink(dir.path / "b.wav.raw"));
                    EXPECT_EQ(read_bytes(dir / "kept.txt"), bytes{'k'});
                  }});
  // The last output's folder takes no new file, even from root: c.wav is read as /dev/fd/42.
  rows.push_back({.label = "an_output_that_cannot_be_created",
                  .inputs = {{"ref.wav.raw", OLD}, {"b.wav", take(1)}, {"c.wav", take(2)}},
                  .args = {"ref.wav", "b.wav", "/dev/fd/42"}, .status = 9,
                  .tail = "Output path is not available.\r\nIn file : /dev/fd/42.raw.\r\n"
                          "Reason : No such file or directory.\r\n",
                  .has = "biggest_delay",
                  .before = [](const scratch_dir& dir) {
                    const int c_wav = open((dir / "c.wav").c_str(), O_RDONLY | O_CLOEXEC);
                    ASSERT_EQ(dup2(c_wav, 42), 42);
                    close(c_wav);
                  },
                  .after = [](const scratch_dir&) { close(42); }});
  // As a full disk would: the first output stops at 100 kB.
  rows.push_back({.label = "an_output_that_cannot_be_written", .inputs = {{"ref.wav.raw", OLD}, {"b.wav", take(1)}},
                  .status = 9, .tail = "Cannot write output file : ref.wav.raw.\r\nReason : File too large.\r\n",
                  .before = [](const scratch_dir&) {
                    getrlimit(RLIMIT_FSIZE, &file_size_limit);
                    const rlimit small{100000, file_size_limit.rlim_max};
                    setrlimit(RLIMIT_FSIZE, &small);
                  },
                  .after = [](const scratch_dir&) { setrlimit(RLIMIT_FSIZE, &file_size_limit); }});
#endif
  // clang-format on
  return rows;
}

class CommandLineAndInputs : public testing::TestWithParam<run_case> {};
class Measurement : public testing::TestWithParam<run_case> {};
class OutputsAndNames : public testing::TestWithParam<run_case> {};
TEST_P(CommandLineAndInputs, EndsWithItsStatusReportAndFiles) { run_and_check(GetParam()); }
TEST_P(Measurement, EndsWithItsStatusReportAndFiles) { run_and_check(GetParam()); }
TEST_P(OutputsAndNames, EndsWithItsStatusReportAndFiles) { run_and_check(GetParam()); }
const auto LABEL = [](const testing::TestParamInfo<run_case>& info) { return info.param.label; };
INSTANTIATE_TEST_SUITE_P(Table, CommandLineAndInputs, testing::ValuesIn(command_line_and_inputs()), LABEL);
INSTANTIATE_TEST_SUITE_P(Table, Measurement, testing::ValuesIn(measurement()), LABEL);
INSTANTIATE_TEST_SUITE_P(Table, OutputsAndNames, testing::ValuesIn(outputs_and_names()), LABEL);

std::int16_t sample_at(const bytes& raw, std::size_t i) {
  return static_cast<std::int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
}

TEST(RunComplete, AlignedCopiesComeOutMatchedAndTheReportIsExact) {
  scratch_dir dir;
  dir.put("ref.32b.wav", take(0));
  dir.put("early.32b.wav", take(-10));
  dir.put("late.32b.wav", take(200, 1.0, false));
  dir.put("loud.32b.wav", take(300, 2.0));
  dir.put("quiet.32b.wav", take(50, 0.5));
  const run_result r =
      run_program({"ref.32b.wav", "early.32b.wav", "late.32b.wav", "loud.32b.wav", "quiet.32b.wav"}, dir / "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(BANNER_START) + "ref.32b.wav\r\n" +
                       "input_wav_length : 70000\r\n"
                       "FLO 1:Offset:  -10    Gain:1.000000    Gain:-0.000000[dB]    Score:0.000000   \r\n"
                       "INT 2:Offset:  200    Gain:1.000000    Gain:0.000000[dB]    Score:0.000000   \r\n"
                       "FLO 3:Offset:  300    Gain:0.500000    Gain:-6.020600[dB]    Score:0.000000   \r\n"
                       "FLO 4:Offset:   50    Gain:2.000000    Gain:6.020600[dB]    Score:0.000000   \r\n"
                       "biggest_delay    : 300\r\n"
                       "smallest_delay   : -10\r\n"
                       "biggest_gain     : 2.000000\r\n"
                       "input_wav_length : 69690\r\n");
  const bytes ref = read_bytes(dir / "ref.raw");
  ASSERT_EQ(ref.size(), 69690u * 4);
  // The reference starts at its frame 10, -smallest_delay, scaled by 32768 / (1.1 x the biggest gain).
  EXPECT_EQ(sample_at(ref, 0), static_cast<std::int16_t>(std::floor(
                                   static_cast<double>(static_cast<float>(source()[20])) * (32768 / (2.0 * 1.1)))));
  for (const char* name : {"early.raw", "late.raw", "loud.raw", "quiet.raw"}) {
    const bytes other = read_bytes(dir / name);
    ASSERT_EQ(other.size(), ref.size()) << name;
    int worst = 0;
    for (std::size_t i = 0; i < ref.size() / 2; ++i)
      worst = std::max(worst, std::abs(sample_at(ref, i) - sample_at(other, i)));
    EXPECT_LE(worst, 1) << name;
  }
}

// The whole file is checked after the summary, before any output is written.
TEST(RunComplete, ASlipLaterInTheFileIsNotedAfterTheSummary) {
  scratch_dir dir;
  const std::vector<double> m = music(7 * 44100, 5);
  std::vector<double> slipped(m.begin(), m.begin() + 2 * 3 * 44100);
  slipped.insert(slipped.end(), m.begin() + 2 * (3 * 44100 + 1152), m.end());
  dir.put("ref.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(m)}));
  dir.put("b.wav", wav_bytes({.data = as_int_frames(slipped)}));
  const run_result r = run_program({"ref.wav", "b.wav"}, dir / "");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.ends_with("input_wav_length : 307548\r\n"
                              "Note: track 1 falls out of step later in the file: -1152 frames at 0:05.\r\n"))
      << r.out;
  EXPECT_EQ(fs::file_size(dir / "b.wav.raw"), 307548u * 4);
}

// 16- and 24-bit samples are read as the 32-bit integers that hold them in their top bytes: a run on them
// gives the report and the .raw bytes of a run on their 32-bit copies.
TEST(RunComplete, NarrowSamplesGiveWhatTheir32BitCopiesGive) {
  const std::pair<int, wav_spec> rows[] = {
      {2, {}}, {3, {}}, {3, {.format_tag = 0xFFFE, .fmt_extra = extensible_extra(1, 24)}}};
  for (const auto& [size, layout] : rows) {
    scratch_dir dirs[2];  // the narrow files, then their 32-bit copies
    for (int widened : {0, 1}) {
      dirs[widened].put("ref.wav", narrow_take(0, size, widened, layout));
      dirs[widened].put("b.wav", narrow_take(-40, size, widened, layout));
    }
    const run_result narrow = run_program({"ref.wav", "b.wav"}, dirs[0] / "");
    EXPECT_EQ(narrow.status, 0);
    EXPECT_NE(narrow.out.find("INT 1:Offset:  -40"), std::string::npos) << narrow.out;
    EXPECT_EQ(narrow.out, run_program({"ref.wav", "b.wav"}, dirs[1] / "").out) << layout.format_tag;
    for (const char* name : {"ref.wav.raw", "b.wav.raw"})
      EXPECT_EQ(read_bytes(dirs[0] / name), read_bytes(dirs[1] / name)) << size << " " << name;
  }
}

// What the failing operator new says of each allocation it fails.
const std::string HOOK = "eqalign_failing_new: allocation";

// Memory that runs out at each allocation in turn, by an operator new that fails on demand
// (tests/failing_new.cc): status 10 with the old output left and no new one made, or, where a
// task could be run again, every new output; never a temporary left. CI's memory stage sweeps
// runs of several threads so.
TEST(OutOfMemory, EachAllocationThatFailsLeavesEveryFileAsItWasOrEndsTheRun) {
  scratch_dir dir;
  const std::vector<std::string> names = {"ref.wav", "b.wav"};
  dir.put("ref.wav", take(0));
  dir.put("b.wav", take(5));
  ASSERT_EQ(run_program(names, dir / "").status, 0);
  const bytes made[2] = {read_bytes(dir / "ref.wav.raw"), read_bytes(dir / "b.wav.raw")};
  int n = 1;
  for (;; ++n) {
    dir.put("ref.wav.raw", OLD);
    fs::remove(dir.path / "b.wav.raw");
    set_environment("EQALIGN_FAIL_NEW", std::to_string(n).c_str());
    const run_result r = run_program(names, dir / "", REPORT_PIPE, EQALIGN_FAILING_BINARY);
    set_environment("EQALIGN_FAIL_NEW", nullptr);
    const bool ran_out = r.status == 10 && r.out.ends_with("Not enough memory.\r\n");
    EXPECT_TRUE(ran_out || r.status == 0) << n << ": " << r.status << r.out << r.err;
    EXPECT_EQ(read_bytes(dir / "ref.wav.raw"), ran_out ? OLD : made[0]) << n;
    EXPECT_EQ(read_bytes(dir / "b.wav.raw"), ran_out ? bytes{} : made[1]) << n;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path))
      EXPECT_FALSE(e.path().filename().string().starts_with(".eqalign-")) << n << ": " << e.path();
    // Past the last allocation, nothing failed.
    if ((r.out + r.err).find(HOOK) == std::string::npos) break;
  }
  EXPECT_GT(n, 20);
}

// A helper thread that can allocate nothing leaves its share to the main thread: the run gives the
// report and outputs of one whose memory sufficed.
TEST(OutOfMemory, AHelperThreadWithoutMemoryLeavesItsShareToTheMainThread) {
  scratch_dir dirs[2];
  std::vector<std::string> names = {"ref.wav"};
  for (int i = 1; i < 6; ++i) names.push_back(std::to_string(i) + ".wav");
  for (const scratch_dir& d : dirs) {
    for (int i = 0; i < 6; ++i) d.put(names[i], take(3 * i, 1.0, i % 2 == 0));
  }
  const run_result plain = run_program(names, dirs[0] / "");
  set_environment("EQALIGN_FAIL_NEW", "helpers");
  const run_result helped = run_program(names, dirs[1] / "", REPORT_PIPE, EQALIGN_FAILING_BINARY);
  set_environment("EQALIGN_FAIL_NEW", nullptr);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(helped.status, 0);
  if (std::thread::hardware_concurrency() > 1) {
    EXPECT_NE((helped.out + helped.err).find(HOOK), std::string::npos);
  }
  // Without the failing operator new's lines, which share the report's pipe on Windows.
  const auto report = [](std::string out) {
    for (std::size_t at = out.find(HOOK); at != std::string::npos; at = out.find(HOOK))
      out.erase(at, out.find('\n', at) + 1 - at);
    return out;
  };
  EXPECT_EQ(report(helped.out), plain.out);
  for (const std::string& n : names) EXPECT_EQ(read_bytes(dirs[1] / (n + ".raw")), read_bytes(dirs[0] / (n + ".raw"))) << n;
}

#ifdef _WIN32
TEST(RunComplete, ALostReportIsAFailure) { GTEST_SKIP() << "Windows has no /dev/full"; }
TEST(RunComplete, AnInterruptedRunLeavesEveryFileAsItWas) {
  GTEST_SKIP() << "a console interrupt cannot be sent to one process under test here";
}
#else
// The report is part of the result: a run that cannot write it fails.
TEST(RunComplete, ALostReportIsAFailure) {
  scratch_dir dir;
  dir.put("ref.wav", take(0));
  dir.put("b.wav", take(9));
  for (report_to to : {REPORT_FULL_DISK, REPORT_UNREAD, REPORT_CLOSED}) {
    const run_result r = run_program({"ref.wav", "b.wav"}, dir / "", to);
    EXPECT_EQ(r.status, 9);
    EXPECT_EQ(r.err, "eqalign: cannot write the report.\r\n");
    // Complete, and not a byte of the report in them.
    EXPECT_EQ(fs::file_size(dir / "b.wav.raw"), (FRAMES - 9) * 4u);
    EXPECT_EQ(fs::file_size(dir / "ref.wav.raw"), (FRAMES - 9) * 4u);
  }
}

bool still_running(pid_t pid) {
  siginfo_t ended{};
  return waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0;
}

// Started with hang-ups ignored (nohup), a run keeps ignoring them; its outputs get a plain create's modes.
TEST(RunComplete, AnIgnoredHangUpLetsTheRunFinish) {
  scratch_dir dir;
  dir.put("ref.wav", take(0));
  dir.put("b.wav", take(9));
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const mode_t mask = umask(027);
  signal(SIGHUP, SIG_IGN);
  const pid_t pid = start_program({"ref.wav", "b.wav"}, dir / "", quiet, quiet);
  signal(SIGHUP, SIG_DFL);
  umask(mask);
  while (!fs::exists(dir.path / "b.wav.raw") && still_running(pid)) std::this_thread::sleep_for(1ms);
  kill(pid, SIGHUP);  // during the pause that ends the run
  EXPECT_EQ(wait_for(pid), 0);
  close(quiet);
  EXPECT_EQ(fs::status(dir.path / "b.wav.raw").permissions(), fs::perms{0640});
}

TEST(RunComplete, AnInterruptedRunLeavesEveryFileAsItWas) {
  scratch_dir dir;
  const std::vector<std::string> names = {"ref.wav", "b.wav", "c.wav"};
  for (int i = 0; i < 3; ++i) dir.put(names[i], take(i, 1.0, true, 44100, 40 * 44100));
  const bytes old{'o', 'l', 'd'};
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  // The signal must land while the outputs are written.
  for (int attempt = 0; attempt < 10; ++attempt) {
    for (const std::string& n : names) dir.put(n + ".raw", old);
    const pid_t pid = start_program(names, dir / "", quiet, quiet);
    bool sent = false;
    while (!sent && still_running(pid)) {
      std::this_thread::sleep_for(1ms);
      for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) {
        if (!sent && e.path().filename().string().starts_with(".eqalign-")) sent = kill(pid, SIGINT) == 0;
      }
    }
    const int status = wait_for(pid);
    int files = 0;
    int unchanged = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) {
      ++files;
      unchanged += e.path().extension() == ".raw" && read_bytes(e.path().string()) == old;
    }
    EXPECT_EQ(files, 6) << "temporaries left";
    // A run that was done before the signal came is tried again.
    if (unchanged == 0) continue;
    EXPECT_EQ(unchanged, 3) << "a mix of old and new outputs";
    EXPECT_EQ(status, 128 + SIGINT);
    close(quiet);
    return;
  }
  close(quiet);
  FAIL() << "every run ended before the interrupt";
}
#endif

}  // namespace
