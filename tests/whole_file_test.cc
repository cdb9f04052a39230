// A decode measured on its first second and checked across the whole file:
// each row is a reference, a decode made from it the way the world breaks
// decodes, and every note the run prints about it.
#include <gtest/gtest.h>

#include <cstdio>

#include "analysis/analysis.h"
#include "scratch_dir.h"
#include "signals.h"

namespace {

constexpr int RATE = 44100;
constexpr int FRAMES = 30 * RATE;  // places at 0:05, 0:10, ... 0:25

using sound = std::vector<double>;

const sound& piece() {
  static const sound m = music(FRAMES + 3 * RATE, 41);
  return m;
}

sound frames_of(const sound& s, int from, int count) {
  return {s.begin() + 2 * from, s.begin() + 2 * (from + count)};
}

// Each channel its own music, so that channels can be told apart.
sound wide_piece() {
  sound w = frames_of(piece(), 0, FRAMES);
  const sound other = music(FRAMES, 42);
  for (std::size_t i = 1; i < w.size(); i += 2) w[i] = other[i - 1];
  return w;
}

// 110.25 Hz and its harmonics: the same every 400 frames.
sound chord() {
  sound c(static_cast<std::size_t>(FRAMES) * 2);
  for (int n = 0; n < FRAMES; ++n) {
    double v = 0;
    for (int h = 1; h <= 5; ++h) v += sine_of_turns(n * h / 400.0) * 0.3 / h;
    c[2 * static_cast<std::size_t>(n)] = c[2 * static_cast<std::size_t>(n) + 1] = v;
  }
  return c;
}

sound joined(sound a, const sound& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// `count` frames of the piece with `drop` frames left out at `at` (or, when
// negative, that many frames of silence put in).
sound spliced(int at, int drop, int count = FRAMES) {
  const sound before = frames_of(piece(), 0, at);
  const sound gap(drop < 0 ? static_cast<std::size_t>(-2 * drop) : 0, 0.0);
  return frames_of(joined(joined(before, gap), frames_of(piece(), at + std::max(drop, 0), count - at)), 0, count);
}

// Played `ratio` times as fast, by linear interpolation: a resampler's drift.
sound drifting(double ratio) {
  sound out(static_cast<std::size_t>(FRAMES) * 2);
  for (int n = 0; n < FRAMES; ++n) {
    const double x = n * ratio;
    const auto i = static_cast<std::size_t>(x);
    const double f = x - static_cast<double>(i);
    for (std::size_t c = 0; c < 2; ++c) out[2 * n + c] = piece()[2 * i + c] * (1 - f) + piece()[2 * i + 2 + c] * f;
  }
  return out;
}

// The piece, each sample times `gain(frame, channel)`, with its channels swapped when asked.
template <class Gain>
sound shaped(const sound& s, Gain gain, bool swap = false) {
  sound out = frames_of(s, 0, FRAMES);
  for (int n = 0; n < FRAMES; ++n) {
    for (int c = 0; c < 2; ++c)
      out[2 * static_cast<std::size_t>(n) + c] = s[2 * static_cast<std::size_t>(n) + (swap ? 1 - c : c)] * gain(n, c);
  }
  return out;
}

// The piece with frames from..to at -80 dB, that stretch of `fill` in the decode.
sound hushed(const sound& s, const sound& fill) {
  sound out = frames_of(s, 0, FRAMES);
  for (std::size_t i = 2 * 9 * RATE; i < 2 * 11 * RATE; ++i) out[i] = fill[i] * 1e-4;
  return out;
}

int at(double seconds) { return static_cast<int>(seconds * RATE); }

sound reference() { return frames_of(piece(), 0, FRAMES); }

// Made when the row runs, not when the table is listed.
using maker = sound (*)();

struct row {
  const char* label;
  maker ref;
  maker decode;
  std::string notes;      // every note about the decode, in order
  std::string line = "";  // the start of its report line, where it matters
};

const row ROWS[] = {
    {"a_codec_like_decode", reference, [] { return decode_of(piece(), FRAMES, 1105, 0.9, 0.003, 12); }, ""},
    {"a_slip", reference, [] { return spliced(at(12), 1152); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:15, -1152 frames at 0:25.\r\n"},
    {"an_insert", reference, [] { return spliced(at(7), -1152); },
     "Note: track 1 falls out of step later in the file: +1152 frames at 0:10, +1152 frames at 0:25.\r\n"},
    {"a_slip_inside_the_compared_frames", reference, [] { return spliced(at(0.75), 1152); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:05, -1152 frames at 0:25.\r\n"},
    {"drift_of_30_ppm", reference, [] { return drifting(1.00003); },
     "Note: track 1 falls out of step later in the file: -6 frames at 0:05, -33 frames at 0:25.\r\n"},
    {"two_seconds_cut", reference, [] { return spliced(at(12), at(2)); },
     "Note: track 1 does not match the reference at 3 of 5 places checked, first at 0:15.\r\n"},
    {"a_level_step", reference, [] { return shaped(piece(), [](int n, int) { return n < at(12) ? 1.0 : 0.5; }); },
     "Note: track 1 changes level later in the file: -6.0 dB at 0:15, -6.0 dB at 0:25.\r\n"},
    // Faults in a quiet passage cannot be told and are not looked for.
    {"a_quiet_passage", [] { return hushed(piece(), piece()); }, [] { return hushed(piece(), music(FRAMES, 77)); },
     ""},
    {"a_clip_with_one_place", [] { return frames_of(piece(), 0, at(6.5)); }, [] { return spliced(at(3), 1152, at(6.5)); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:05.\r\n"},
    {"inverted_polarity", reference, [] { return decode_of(piece(), FRAMES, 300, -0.5, 0.0, 1); },
     "Note: track 1 has inverted polarity; it is aligned, and written as it is.\r\n",
     "FLO 1:Offset:  300    Gain:2.000000    Gain:6.020600[dB]    Score:0.000000   \r\n"},
    {"swapped_channels", wide_piece, [] { return shaped(wide_piece(), [](int, int) { return 1.0; }, true); },
     "Note: track 1 has its left and right channels swapped; it is written as it is.\r\n"},
    {"a_silent_channel", reference, [] { return shaped(piece(), [](int, int c) { return c == 0 ? 1.0 : 0.0; }); },
     "Note: track 1 has a silent channel; it is written as it is.\r\n"},
    {"a_lean", wide_piece, [] { return shaped(wide_piece(), [](int, int c) { return c == 0 ? 1.0 : 0.5; }); },
     "Note: track 1 leans 6.0 dB to the left against the reference; it is written as it is.\r\n"},
    // Whole periods off, as a true repeat would be: the note says where else it matches.
    {"repeating_music", chord, [] { return decode_of(chord(), FRAMES, 1000, 1.0, 0.003, 12); },
     "Note: track 1 matches almost as well at delay 200; if the music repeats, check the delay.\r\n",
     "FLO 1:Offset:  600 "},
};

void PrintTo(const row& r, std::ostream* os) { *os << r.label; }

class WholeFile : public testing::TestWithParam<row> {};

TEST_P(WholeFile, NotesEveryFaultAndNothingElse) {
  const row& r = GetParam();
  scratch_dir dir;
  track_slot slots[2];
  ASSERT_EQ(open_track(dir, "ref.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(r.ref())}), slots[0]),
            STATUS_OK);
  ASSERT_EQ(open_track(dir, "b.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(r.decode())}), slots[1]),
            STATUS_OK);
  run_values values{.input_wav_length = static_cast<std::int32_t>(std::min(slots[0].t.frames, slots[1].t.frames))};
  testing::internal::CaptureStdout();
  ASSERT_EQ(capture_pass(slots, 2, values.input_wav_length), STATUS_OK);
  ASSERT_EQ(search_pass(slots, 2, values), STATUS_OK);
  ASSERT_EQ(check_whole_files(slots, 2, values), STATUS_OK);
  const std::string out = testing::internal::GetCapturedStdout();
  std::string notes;
  for (std::size_t at = out.find("Note:"); at != std::string::npos; at = out.find("Note:", at + 1))
    notes += out.substr(at, out.find('\n', at) + 1 - at);
  EXPECT_EQ(notes, r.notes) << out;
  EXPECT_TRUE(out.starts_with(r.line)) << out;
  for (track_slot& s : slots) std::fclose(s.file);
}

INSTANTIATE_TEST_SUITE_P(Table, WholeFile, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<row>& info) { return info.param.label; });

}  // namespace
