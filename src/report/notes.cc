#include "report/report.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "core/say.h"

namespace {

// "m:ss" of a reference frame, as the notes give times.
std::string time_of(std::int64_t frame, std::uint32_t rate) {
  const std::int64_t seconds = rate == 0 ? 0 : frame / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
  return text;
}

}  // namespace

void print_capture_note(const track& reference) {
  if (reference.capture_frame > 0) {
    say("Note: the reference is silent at its start; measuring from frame %d.\r\n",
        static_cast<int>(reference.capture_frame));
  }
}

void print_search_notes(const track& t, int i) {
  if (t.silent) {
    say("Note: track %d could not be measured: it is silent where it is compared; it is written without "
        "alignment or level matching.\r\n",
        i);
  }
  if (!t.measured) return;
  if (t.inverted) say("Note: track %d has inverted polarity; it is aligned, and written as it is.\r\n", i);
  if (t.score > POOR_MATCH_SCORE)
    say("Note: track %d matches the reference poorly; is it a decode of the reference?\r\n", i);
  if (t.delay == DELAY_MIN || t.delay == DELAY_MAX - 1)
    say("Note: the delay of track %d is at the end of the searched range; the true delay may lie beyond it.\r\n", i);
  if (t.repeats) {
    say("Note: track %d matches almost as well at delay %d; if the music repeats, check the delay.\r\n", i,
        static_cast<int>(t.repeat_delay));
  }
  if (t.channels == CHANNELS_SWAPPED)
    say("Note: track %d has its left and right channels swapped; it is written as it is.\r\n", i);
  if (t.channels == CHANNEL_SILENT) say("Note: track %d has a silent channel; it is written as it is.\r\n", i);
  if (t.channels == CHANNELS_LEAN) {
    say("Note: track %d leans %.1f dB to the %s against the reference; it is written as it is.\r\n", i,
        std::fabs(t.lean), t.lean > 0 ? "left" : "right");
  }
}

void print_whole_file_notes(const whole_file_result& r, std::uint32_t rate) {
  if (r.early_track > 0) {
    say("Note: track %d ends %.1f s before the reference; every output is cut to its end.\r\n",
                r.early_track, rate == 0 ? 0.0 : static_cast<double>(r.early_frames) / rate);
  }
  for (const decode_check& d : r.decodes) {
    const int i = d.track;
    const auto at = [&](int p) { return time_of(r.places[static_cast<std::size_t>(p)], rate); };
    const auto step = [&](int p) { return static_cast<int>(d.places[static_cast<std::size_t>(p)].lag); };
    const auto level = [&](int p) { return d.places[static_cast<std::size_t>(p)].level - d.level_base; };
    if (d.mismeasured) {
      say("Note: track %d fits the rest of the file at delay %d; its start was mismeasured, and it is "
                  "written at %d.\r\n",
                  i, static_cast<int>(d.fitting_delay), static_cast<int>(d.fitting_delay - step(d.step_first)));
    } else if (d.step_first >= 0) {
      say("Note: track %d falls out of step later in the file: %+d frames at %s", i, step(d.step_first),
                  at(d.step_first).c_str());
      if (d.step_back >= 0) {
        say(", back in step at %s", at(d.step_back).c_str());
      } else if (d.step_last != d.step_first) {
        say(", %+d frames at %s", step(d.step_last), at(d.step_last).c_str());
      }
      say("%s", ".\r\n");
    }
    if (d.lost > 0) {
      say("Note: track %d does not match the reference at %d of %d places checked, first at %s.\r\n", i,
                  d.lost, d.counted, at(d.first_lost).c_str());
    }
    if (d.dropouts > 0) {
      say("Note: track %d drops out at %d of %d places checked, first at %s.\r\n", i, d.dropouts, d.counted,
                  at(d.first_dropout).c_str());
    }
    if (d.swaps > 0) {
      say(
          "Note: track %d has its left and right channels swapped at %d of %d places checked, first at %s.\r\n", i,
          d.swaps, d.counted, at(d.first_swap).c_str());
    }
    if (d.file_level_differs) {
      say("Note: track %d plays %+.1f dB against the reference over most of the file; its level was matched "
                  "on a first second unlike the rest.\r\n",
                  i, d.file_level);
    }
    if (d.level_first >= 0) {
      say("Note: track %d changes level later in the file: %+.1f dB at %s, %+.1f dB at %s.\r\n", i,
                  level(d.level_first), at(d.level_first).c_str(), level(d.level_last), at(d.level_last).c_str());
    }
  }
}

// Each decode's line of the search and its notes, then the run's extremes
// and the length every output is cut to.
void print_search_report(const track_slot* slots, int wav_num, const run_values& values) {
  for (int i = 1; i < wav_num; ++i) {
    const track& t = slots[i].t;
    if (t.silent) say("%s", "No Sound At All.\r\n");
    say(t.is_float != 0 ? "FLO %d:" : "INT %d:", i);
    say("Offset:%5d    Gain:%f    Gain:%f[dB]    Score:%f   \r\n", static_cast<int>(t.delay), t.gain,
        20.0 * std::log10(t.gain), t.score);
    print_search_notes(t, i);
  }
  say("biggest_delay    : %d\r\n", static_cast<int>(values.biggest_delay));
  say("smallest_delay   : %d\r\n", static_cast<int>(values.smallest_delay));
  say("biggest_gain     : %f\r\n", values.biggest_gain);
  say("input_wav_length : %d\r\n", static_cast<int>(values.input_wav_length));
}
