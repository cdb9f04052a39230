// A decode measured on its first second and checked across the whole file:
// each row is a reference, a decode made from it the way the world breaks
// decodes, and every note the run prints about it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/analysis.h"
#include "report/report.h"
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

// The piece `db` quieter around the place at 0:10, other music there in the decode.
sound dipped(double db, bool other) {
  const double g = std::pow(10.0, -db / 20);
  sound out = frames_of(piece(), 0, FRAMES);
  const sound fill = other ? music(FRAMES, 77) : piece();
  for (std::size_t i = 2 * 9 * RATE; i < 2 * 11 * RATE; ++i) out[i] = fill[i] * g;
  return out;
}

// Sound for 3 s, then the piece at -75 dBFS: too quiet to judge, however loud it is beside its own places.
sound below_floor(std::uint64_t seed) {
  sound out = frames_of(piece(), 0, FRAMES);
  const sound quiet = music(FRAMES, seed);
  for (std::size_t i = 2 * 3 * RATE; i < out.size(); ++i) out[i] = quiet[i] * 2e-4;
  return out;
}

// Wide stereo: left and right far apart (the side 10 dB above the middle)
// for the first 2 s, mostly alike after.
sound wide_start() {
  const sound mid = frames_of(piece(), 0, FRAMES);
  const sound side = music(FRAMES, 43);
  sound out(mid.size());
  for (std::size_t n = 0; n < out.size() / 2; ++n) {
    const double a = n < 2 * RATE ? 0.3 : 3.0;
    out[2 * n] = 0.25 * (a * mid[2 * n] + side[2 * n]);
    out[2 * n + 1] = 0.25 * (a * mid[2 * n] - side[2 * n]);
  }
  return out;
}

// What a joint-stereo coder may do to it: something of another music put
// into both channels alike, which the sum of the channels sees large where
// the middle is small.
sound wide_start_decode() {
  sound out = wide_start();
  const sound other = music(FRAMES, 44);
  for (std::size_t n = 0; n < out.size() / 2; ++n) {
    out[2 * n] += 0.04 * other[2 * n];
    out[2 * n + 1] += 0.04 * other[2 * n];
  }
  return out;
}

// A held chord for 2 s, whose periods the start cannot tell apart, then the piece.
sound held_start() {
  sound out = frames_of(piece(), 0, FRAMES);
  const sound c = chord();
  std::copy(c.begin(), c.begin() + 2 * 2 * RATE, out.begin());
  return out;
}

constexpr int LONG_RATE = 8000;

// 160 s of music at LONG_RATE, with `drop` frames left out at 95 s.
sound long_piece(int drop) {
  static const sound m = music(161 * LONG_RATE, 45);
  const int cut = 95 * LONG_RATE;
  sound out = frames_of(m, 0, cut);
  const sound rest = frames_of(m, cut + drop, 160 * LONG_RATE - cut);
  return joined(out, rest);
}

// The piece with noise of amplitude `level` from `from` to `to` seconds, as a
// coder short of bits may make it.
sound noisy(double level, int from = 9, int to = 11) {
  sound out = frames_of(piece(), 0, FRAMES);
  noise_source noise{5};
  for (auto i = static_cast<std::size_t>(2 * from * RATE); i < static_cast<std::size_t>(2 * to * RATE); ++i)
    out[i] += level * noise.next();
  return out;
}

// Applause: noise in short decaying bursts, a new one every 40 ms.
sound applause() {
  sound out(static_cast<std::size_t>(FRAMES) * 2);
  noise_source noise{9};
  double level = 0;
  for (std::size_t n = 0; n < out.size() / 2; ++n) {
    if (n % 1764 == 0) level = 0.2 + 0.1 * noise.next();
    level *= 0.9995;
    out[2 * n] = level * noise.next();
    out[2 * n + 1] = level * noise.next();
  }
  return out;
}

// Applause coded with too few bits from 9 s to 16 s: noise as loud as the sound.
sound applause_coded() {
  sound out = applause();
  noise_source noise{10};
  for (std::size_t i = 2 * 9 * RATE; i < 2 * 16 * RATE; ++i) out[i] += 0.4 * noise.next();
  return out;
}

// The piece silent for `ms` milliseconds from `from` seconds.
sound dropped(double from, int ms) {
  sound out = frames_of(piece(), 0, FRAMES);
  std::fill(out.begin() + 2 * at(from), out.begin() + 2 * (at(from) + RATE * ms / 1000), 0.0);
  return out;
}

sound reference() { return frames_of(piece(), 0, FRAMES); }

// Made when the row runs, not when the table is listed.
using maker = sound (*)();

struct row {
  const char* label;
  maker ref;
  maker decode;
  std::string notes;      // every note about the decode, in order
  std::string line = "";  // the start of its report line, where it matters
  int rate = RATE;
};

const row ROWS[] = {
    {"a_codec_like_decode", reference, [] { return decode_of(piece(), FRAMES, 1105, 0.9, 0.003, 12); }, ""},
    {"a_slip", reference, [] { return spliced(at(12), 1152); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:15, -1152 frames at 0:25.\r\n"},
    // Ten MP3 frames: past the wide search, found by captures further off.
    {"a_slip_of_ten_mp3_frames", reference, [] { return spliced(at(12), 11520); },
     "Note: track 1 falls out of step later in the file: -11520 frames at 0:15, -11520 frames at 0:25.\r\n"},
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
    // A pause far below the usual place is not judged; one less far down is.
    {"other_music_27_dB_down", [] { return dipped(27, false); }, [] { return dipped(27, true); }, ""},
    {"other_music_15_dB_down", [] { return dipped(15, false); }, [] { return dipped(15, true); },
     "Note: track 1 does not match the reference at 1 of 5 places checked, first at 0:10.\r\n"},
    {"other_music_below_the_floor", [] { return below_floor(41); }, [] { return below_floor(78); }, ""},
    {"a_wide_stereo_start", wide_start, wide_start_decode,
     "Note: track 1 plays -0.9 dB against the reference over most of the file; its level was matched on a first "
     "second unlike the rest.\r\n"},
    {"a_held_chord_at_the_start", held_start, [] { return decode_of(held_start(), FRAMES, 1000, 1.0, 0.003, 12); },
     "Note: track 1 matches almost as well at delay 200; if the music repeats, check the delay.\r\n"
     "Note: track 1 fits the rest of the file at delay 1000; its start was mismeasured, and it is written at 600.\r\n"},
    {"an_early_end", reference, [] { return frames_of(piece(), 0, FRAMES - 3 * RATE); },
     "Note: track 1 ends 3.0 s before the reference; every output is cut to its end.\r\n"},
    {"a_slip_and_back", reference,
     [] {
       const sound s = spliced(at(7), 1152);
       return joined(joined(frames_of(s, 0, at(17)), sound(2 * 1152, 0.0)), frames_of(s, at(17), FRAMES - at(17) - 1152));
     },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:10, back in step at 0:20.\r\n"},
    // A coder's poor moments are neither in nor out of step; music that is not there is.
    {"two_poorly_coded_places", reference, [] { return noisy(0.2, 9, 16); }, ""},
    // Scored 1.1 to 1.2, but nothing near the lag matches as well: the same sound.
    {"applause_coded_with_too_few_bits", applause, applause_coded, ""},
    {"one_place_coded_worse", reference, [] { return noisy(0.5); }, ""},
    {"one_place_unrelated", reference, [] { return noisy(2.0); },
     "Note: track 1 does not match the reference at 1 of 5 places checked, first at 0:10.\r\n"},
    {"a_dropout_of_300_ms", reference, [] { return dropped(10.3, 300); },
     "Note: track 1 drops out at 1 of 5 places checked, first at 0:10.\r\n"},
    {"a_dropout_of_300_ms_between_places", reference, [] { return dropped(12, 300); }, ""},
    {"a_swap_from_0_12", wide_piece,
     [] {
       sound w = wide_piece();
       for (std::size_t n = at(12); n < w.size() / 2; ++n) std::swap(w[2 * n], w[2 * n + 1]);
       return w;
     },
     "Note: track 1 has its left and right channels swapped at 3 of 5 places checked, first at 0:15.\r\n"},
    // A place whose capture ends at the reference's last frame is checked; one a frame longer is not.
    {"a_slip_seen_at_a_place_that_just_fits", [] { return frames_of(piece(), 0, at(10) + ANALYSIS_FRAMES); },
     [] { return spliced(at(7), 1152, at(10) + ANALYSIS_FRAMES); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 0:10.\r\n"},
    {"a_slip_after_the_last_place", [] { return frames_of(piece(), 0, at(10) + ANALYSIS_FRAMES - 1); },
     [] { return spliced(at(7), 1152, at(10) + ANALYSIS_FRAMES - 1); }, ""},
    // 160 s at 8 kHz: 29 places a thirtieth of the length apart (5.33 s), in the reference's own time.
    {"a_slip_in_a_long_file", [] { return long_piece(0); }, [] { return long_piece(1152); },
     "Note: track 1 falls out of step later in the file: -1152 frames at 1:36, -1152 frames at 2:29.\r\n", "",
     LONG_RATE},
    {"repeating_music", chord, [] { return decode_of(chord(), FRAMES, 1000, 1.0, 0.003, 12); },
     "Note: track 1 matches almost as well at delay 200; if the music repeats, check the delay.\r\n",
     "FLO 1:Offset:  600 "},
};

void PrintTo(const row& r, std::ostream* os) { *os << r.label; }

// Runs the analysis on the reference and the decodes, as the program does, and
// returns everything it printed; `notes` gets its notes alone, `places` what
// each place showed, for a failure's message.
std::string run_check(const sound& ref, const std::vector<sound>& decodes, int rate, std::string& notes,
                      std::string& places) {
  scratch_dir dir;
  const int wav_num = 1 + static_cast<int>(decodes.size());
  track_slot slots[MAX_FILES];
  for (int i = 0; i < wav_num; ++i) {
    const sound& s = i == 0 ? ref : decodes[static_cast<std::size_t>(i) - 1];
    const bytes wav = wav_bytes({.format_tag = 3, .rate = static_cast<std::uint32_t>(rate), .data = as_float_frames(s)});
    EXPECT_EQ(open_track(dir, std::to_string(i) + ".wav", wav, slots[i]), STATUS_OK);
  }
  std::int64_t shortest = slots[0].t.frames;
  for (int i = 1; i < wav_num; ++i) shortest = std::min(shortest, slots[i].t.frames);
  run_values values{.input_wav_length = static_cast<std::int32_t>(shortest)};
  whole_file_result check;
  testing::internal::CaptureStdout();
  EXPECT_EQ(capture_pass(slots, wav_num, values.input_wav_length), STATUS_OK);
  EXPECT_EQ(search_pass(slots, wav_num, values), STATUS_OK);
  print_search_report(slots, wav_num, values);
  EXPECT_EQ(check_whole_files(slots, wav_num, check), STATUS_OK);
  print_whole_file_notes(check, static_cast<std::uint32_t>(rate));
  const std::string out = testing::internal::GetCapturedStdout();
  for (std::size_t at = out.find("Note:"); at != std::string::npos; at = out.find("Note:", at + 1))
    notes += out.substr(at, out.find('\n', at) + 1 - at);
  for (const decode_check& d : check.decodes) {
    for (const place_finding& o : d.places)
      places += std::to_string(o.kind) + "/" + std::to_string(o.lag) + "/" + std::to_string(o.score) + "/" +
                std::to_string(o.level) + " ";
  }
  for (int i = 0; i < wav_num; ++i) std::fclose(slots[i].file);
  return out;
}

class WholeFile : public testing::TestWithParam<row> {};

TEST_P(WholeFile, NotesEveryFaultAndNothingElse) {
  const row& r = GetParam();
  std::string notes;
  std::string places;
  const std::string out = run_check(r.ref(), {r.decode()}, r.rate, notes, places);
  EXPECT_EQ(notes, r.notes) << out << places;
  EXPECT_TRUE(out.starts_with(r.line)) << out;
}

INSTANTIATE_TEST_SUITE_P(Table, WholeFile, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<row>& info) { return info.param.label; });

// Three decodes checked at once, on every core: each gets the notes it gets
// alone (the places are the reference's, whatever the others' delays), and
// they come out in track order. The last place just fits the reference, and
// the others' delays (-1500, 3057) would cut it from the written length.
TEST(WholeFileRun, EachDecodeAsAloneInTrackOrder) {
  const int length = 25 * RATE + ANALYSIS_FRAMES;
  const int longer = length + 4000;
  const sound ref = frames_of(piece(), 0, length);
  const sound slip = spliced(at(12), 1152, longer);
  const sound step = decode_of(shaped(piece(), [](int n, int) { return n < at(12) ? 1.0 : 0.5; }), longer, -1500, 1.0,
                               0.0, 1);
  const sound codec = decode_of(piece(), longer, 3057, 0.9, 0.003, 12);
  std::string notes;
  std::string places;
  const std::string out = run_check(ref, {slip, step, codec}, RATE, notes, places);
  EXPECT_EQ(notes,
            "Note: track 1 falls out of step later in the file: -1152 frames at 0:15, -1152 frames at 0:25.\r\n"
            "Note: track 2 changes level later in the file: -6.0 dB at 0:15, -6.0 dB at 0:25.\r\n")
      << out << places;
}

}  // namespace
