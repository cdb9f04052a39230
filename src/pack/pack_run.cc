#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "analysis/analysis.h"
#include "core/out_of_memory.h"
#include "core/run_values.h"
#include "core/say.h"
#include "output/output.h"
#include "pack/pack.h"
#include "platform/platform.h"
#include "report/report.h"
#include "wav/wav.h"

namespace {

// The loudest sample of any file stays 1 dB below full scale: 10^(-1/20).
constexpr double PEAK_LIMIT = 0.891;
// Measurements of a passage whose start or end follows the lags found.
constexpr int MAX_MEASUREMENTS = 3;
// The report's name in the folder.
constexpr const char* REPORT_NAME = "report.txt";

struct pack_run {
  track_slot* slots;
  int wav_num;
  const pack_options& options;
  std::vector<std::string> names;
  // The folder as it will be named, and the one the outputs are written in
  // until then, with the files made there.
  std::string folder;
  std::string temporary;
  std::vector<std::string> made;
  // Everything printed, for report.txt.
  std::string report;
  // What the whole-file check found of each decode.
  whole_file_result check;
  // The anchors' runs of the filter, and their peaks (--anchors).
  std::vector<anchor_run> anchors;
  std::vector<double> anchor_peaks;
  // Under --blind: the key's name beside the folder, and its stimuli's order.
  std::string key;
  std::vector<int> order;
};

enum rounding { NEAREST, DOWN, UP };

// "m:ss.fff" of `frames` (0 or more) at `rate`; rounded down for a latest
// start or a greatest length, up for an earliest start, so that the time
// given as a TIME falls on a frame that fits.
std::string clock_of(std::int64_t frames, std::uint32_t rate, rounding r = NEAREST) {
  const std::int64_t scaled = frames * 1000;
  const std::int64_t per_second = rate;
  const std::int64_t ms = r == DOWN ? scaled / per_second
                          : r == UP ? (scaled + per_second - 1) / per_second
                                    : (2 * scaled + per_second) / (2 * per_second);
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

double decibels(double factor) { return 20 * std::log10(factor); }

void discard(pack_run& r) {
  for (const std::string& name : r.made) remove_file(name);
  r.made.clear();
  if (!r.temporary.empty()) remove_folder(r.temporary);
  r.temporary.clear();
}

run_status cannot_read(const pack_run& r, int i) {
  say("Cannot read this file : %s.\n", r.slots[i].path.c_str());
  return STATUS_INPUT_UNREADABLE;
}

// The header pass, the capture, the search and the whole-file check, as
// eqalign runs them, with their notes; eqalign's own report lines are the
// pack's report's to replace.
run_status analyse(pack_run& r, run_values& values) {
  std::vector<std::string> files = r.options.files;
  std::vector<char*> names;
  names.reserve(files.size());
  for (std::string& f : files) names.push_back(f.data());
  run_status status = header_pass(r.slots, r.wav_num, names.data(), values);
  if (status == STATUS_OK) status = refuse_short_inputs(r.slots, r.wav_num, values);
  if (status == STATUS_OK) status = capture_pass(r.slots, r.wav_num, values.input_wav_length);
  if (status != STATUS_OK) return status;
  print_capture_note(r.slots[0].t);
  status = search_pass(r.slots, r.wav_num, values);
  if (status != STATUS_OK) return status;
  for (int i = 1; i < r.wav_num; ++i) print_search_notes(r.slots[i].t, i);
  status = check_whole_files(r.slots, r.wav_num, r.check);
  if (status == STATUS_OK) print_whole_file_notes(r.check, r.slots[0].t.sample_rate);
  return status;
}

// A decode that a test must not take as it is, whatever the passage: one
// line each, saying what to do.
run_status refuse_findings(pack_run& r) {
  bool refused = false;
  for (int i = 1; i < r.wav_num; ++i) {
    const track& t = r.slots[i].t;
    const char* name = r.slots[i].path.c_str();
    refused = refused || !t.measured || t.inverted || t.channels != CHANNELS_FINE;
    if (!t.measured) {
      say("Not packed: %s could not be measured: it is silent where it is compared. Trim the silence before it, or "
             "check that it is a decode of the original.\n", name);
    } else if (t.inverted) {
      say("Not packed: %s has inverted polarity. Turn it (sox in.wav out.wav vol -1) and run again.\n", name);
    } else if (t.channels == CHANNELS_SWAPPED) {
      say("Not packed: %s has its left and right channels swapped. Swap them back (sox in.wav out.wav remix 2 1) "
             "and run again.\n", name);
    } else if (t.channels == CHANNEL_SILENT) {
      say("Not packed: %s has a silent channel. Decode it again with both channels.\n", name);
    } else if (t.channels == CHANNELS_LEAN) {
      say("Not packed: %s leans %.1f dB to the %s against the original. Decode it again with both channels as they "
             "are.\n", name, std::fabs(t.lean), t.lean > 0 ? "left" : "right");
    }
  }
  return refused ? STATUS_NOT_PACKED : STATUS_OK;
}

// The passage's ends that were not given: from the first frame at which every
// file has sound at its lag, to the end of the shortest.
void default_ends(const pack_run& r, const std::vector<std::int64_t>& lags, std::int64_t& from, std::int64_t& length) {
  std::int64_t first = 0;
  std::int64_t end = r.slots[0].t.frames;
  for (int i = 1; i < r.wav_num; ++i) {
    first = std::max(first, -lags[static_cast<std::size_t>(i)]);
    end = std::min(end, r.slots[i].t.frames - lags[static_cast<std::size_t>(i)]);
  }
  if (!r.options.from_given) from = first;
  if (!r.options.length_given) length = end - from;
}

// Says that the passage does not fit file i at `lag`, which holds the
// original's frames [-lag, frames - lag), and what would.
run_status misfit(pack_run& r, int i, std::int64_t lag, std::int64_t from, std::int64_t length) {
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  const std::int64_t earliest = std::max<std::int64_t>(0, -lag);
  const std::int64_t end = r.slots[i].t.frames - lag;
  const std::int64_t latest = end - length;
  const std::int64_t greatest = end - from;
  std::string what;
  if (from < earliest) {
    what = "start at " + clock_of(earliest, rate, UP) + " or later";
  } else if (latest >= earliest && greatest > 0) {
    what = "the latest start for this length is " + clock_of(latest, rate, DOWN) + ", the greatest length from this start " +
           clock_of(greatest, rate, DOWN);
  } else if (latest >= earliest) {
    what = "the latest start for this length is " + clock_of(latest, rate, DOWN);
  } else if (greatest > 0) {
    what = "the greatest length from this start is " + clock_of(greatest, rate, DOWN);
  } else {
    what = "the greatest length is " + clock_of(std::max<std::int64_t>(end - earliest, 0), rate, DOWN);
  }
  say("The passage does not fit %s, which holds the original's %s to %s: %s.\n", r.slots[i].path.c_str(),
      clock_of(earliest, rate).c_str(), clock_of(std::max(end, earliest), rate).c_str(), what.c_str());
  return STATUS_PASSAGE_DOES_NOT_FIT;
}

// Whether the passage is long enough and every file holds it at its lag.
run_status check_fit(pack_run& r, const std::vector<std::int64_t>& lags, std::int64_t from, std::int64_t length) {
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  if (length < static_cast<std::int64_t>(rate)) {
    say("The passage is shorter than 1 s: %lld frames (%s) from %s.\n", static_cast<long long>(std::max<std::int64_t>(length, 0)),
        clock_of(std::max<std::int64_t>(length, 0), rate).c_str(), clock_of(from, rate).c_str());
    return STATUS_PASSAGE_DOES_NOT_FIT;
  }
  for (int i = 0; i < r.wav_num; ++i) {
    const std::int64_t lag = lags[static_cast<std::size_t>(i)];
    if (from + lag < 0 || from + lag + length > r.slots[i].t.frames) return misfit(r, i, lag, from, length);
  }
  if (!wav_holds(r.options.format, length)) {
    say("The passage is too long for a WAV file in this format: %s.\n", clock_of(length, rate).c_str());
    return STATUS_PASSAGE_DOES_NOT_FIT;
  }
  return STATUS_OK;
}

// The line of a decode that the passage measurement refuses, saying what to do.
void say_refused(pack_run& r, int i, const passage_result& m, std::int64_t expected) {
  const char* name = r.slots[i].path.c_str();
  if (m.kind == PASSAGE_SILENT) {
    say("Not packed: %s is silent over the passage, or the original is. Choose another passage (--from).\n", name);
  } else if (m.kind == PASSAGE_POOR) {
    say("Not packed: %s does not match the original over the passage (score %.4f at best, lags %lld to %lld tried): "
           "a fault inside the passage, or another piece. Choose another passage (--from, --length), or decode it "
           "again.\n", name, m.score, static_cast<long long>(expected - PASSAGE_LAGS),
        static_cast<long long>(expected + PASSAGE_LAGS));
  } else {
    say("Not packed: %s matches the original over the passage almost as well at lag %lld (score %.4f) as at lag "
           "%lld (score %.4f): a fault inside the passage, or music that repeats. Choose another passage (--from, "
           "--length).\n", name, static_cast<long long>(m.rival_lag), m.rival_score, static_cast<long long>(m.lag),
        m.score);
  }
}

// Chooses the passage and measures every decode over it: lags, gains,
// scores and peaks into `lags` and `measured`.
run_status measure(pack_run& r, std::int64_t& from, std::int64_t& length, std::vector<std::int64_t>& lags,
                   std::vector<passage_result>& measured) {
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  // The places where the whole-file check looked at each decode, and the lag
  // it stood at from each on; a decode it did not check is expected at its delay.
  std::vector<std::vector<checked_place>> places(static_cast<std::size_t>(r.wav_num));
  for (const decode_check& d : r.check.decodes) {
    for (std::size_t p = 0; p < d.places.size(); ++p) {
      if (d.places[p].kind != PLACE_SKIPPED)
        places[static_cast<std::size_t>(d.track)].push_back({r.check.places[p], d.places[p].lag});
    }
  }
  std::vector<std::int64_t> expected(static_cast<std::size_t>(r.wav_num), 0);
  const auto expect_from = [&](std::int64_t start) {
    for (int i = 1; i < r.wav_num; ++i)
      expected[static_cast<std::size_t>(i)] =
          expected_lag(r.slots[i].t.delay, places[static_cast<std::size_t>(i)], start);
  };
  from = r.options.from_given ? frames_at(r.options.from, rate) : 0;
  length = r.options.length_given ? frames_at(r.options.length, rate) : 0;
  expect_from(from);
  default_ends(r, expected, from, length);
  expect_from(from);
  run_status status = check_fit(r, expected, from, length);
  if (status != STATUS_OK) return status;
  measured.assign(static_cast<std::size_t>(r.wav_num), {});
  for (int round = 1;; ++round) {
    int failed = 0;
    if (!measure_passage(r.slots, r.wav_num, from, length, expected.data(), measured.data(), failed))
      return cannot_read(r, failed);
    lags.assign(static_cast<std::size_t>(r.wav_num), 0);
    bool found = true;
    for (int i = 1; i < r.wav_num; ++i) {
      lags[static_cast<std::size_t>(i)] = measured[static_cast<std::size_t>(i)].lag;
      found = found && measured[static_cast<std::size_t>(i)].kind == PASSAGE_FOUND;
    }
    if (!found) break;
    // Ends that were not given follow the lags found, and are measured again.
    std::int64_t new_from = from;
    std::int64_t new_length = length;
    default_ends(r, lags, new_from, new_length);
    if ((new_from == from && new_length == length) || round == MAX_MEASUREMENTS) break;
    from = new_from;
    length = new_length;
    expect_from(from);
    // The new ends fit every file at the lags found, which set them.
    status = check_fit(r, lags, from, length);
    if (status != STATUS_OK) return status;
  }
  bool refused = false;
  for (int i = 1; i < r.wav_num; ++i) {
    const passage_result& m = measured[static_cast<std::size_t>(i)];
    if (m.kind == PASSAGE_FOUND) continue;
    say_refused(r, i, m, expected[static_cast<std::size_t>(i)]);
    refused = true;
  }
  if (refused) return STATUS_NOT_PACKED;
  return check_fit(r, lags, from, length);
}

// The report: the passage, each file, and the common scale. Under --blind
// only the reference is told: a decode's lag, gain or peak would tell which
// C-name it is, and the key holds its lag and gain.
void say_measurements(pack_run& r, std::int64_t from, std::int64_t length, const std::vector<passage_result>& m,
                      double scale) {
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  say("Passage: start %s (frame %lld), length %lld frames (%s)\n", clock_of(from, rate).c_str(),
      static_cast<long long>(from), static_cast<long long>(length), clock_of(length, rate).c_str());
  say("%s -> %s: lag 0, gain 0.000 dB, peak %.3f dBFS\n", r.slots[0].path.c_str(), r.names[0].c_str(),
      decibels(m[0].peak * scale));
  if (r.options.blind) {
    const int count = static_cast<int>(r.names.size()) - 1;
    say("%d stimuli as C1.wav to C%d.wav; which is which, with its lag and gain, is in %s\n", count, count,
        r.key.c_str());
  }
  for (int i = 1; i < r.wav_num && !r.options.blind; ++i) {
    const passage_result& p = m[static_cast<std::size_t>(i)];
    const track& t = r.slots[i].t;
    char first_second[48] = "";
    if (p.lag != t.delay) std::snprintf(first_second, sizeof first_second, " (first second %d)", static_cast<int>(t.delay));
    say("%s -> %s: lag %lld%s, gain %.3f dB (%+.3f dB against the first second), score %.4f, peak %.3f dBFS\n",
        r.slots[i].path.c_str(), r.names[static_cast<std::size_t>(i)].c_str(), static_cast<long long>(p.lag),
        first_second, decibels(p.gain), decibels(p.gain) - decibels(t.gain), p.score, decibels(p.peak * p.gain * scale));
  }
  const int anchors = r.anchors.empty() || r.options.blind ? 0 : ANCHOR_COUNT;
  for (int k = 0; k < anchors; ++k) {
    const auto n = static_cast<std::size_t>(k);
    say("%s -> %s: the original low-passed at %.1f kHz, peak %.3f dBFS\n", k == 0 ? ANCHOR35_NAME : ANCHOR70_NAME,
        r.names[static_cast<std::size_t>(r.wav_num) + n].c_str(), ANCHOR_CUTOFFS[k] / 1000,
        decibels(r.anchor_peaks[n] * scale));
  }
  say("Scale: %.3f dB\n", decibels(scale));
}

// Writes `text` through `out` and starts its flush to the disk.
bool write_text(const std::string& text, std::FILE* out) {
  if (std::fwrite(text.data(), 1, text.size(), out) == text.size()) return start_flush(out);
  record_failure();
  return false;
}

// Beside the report: the whole-file check, as a table and as a picture.
constexpr const char* CHECK_CSV_NAME = "check.csv";
constexpr const char* CHECK_SVG_NAME = "check.svg";

// What check.csv and check.svg show of the whole-file check: each decode it
// measured, named by its output name without ".wav"; under --blind in C
// order (the check reordered into `blind_order`), and without delays, which
// would tell which C-name is which input.
check_drawing drawing_of(const pack_run& r, std::int64_t from, std::int64_t length, whole_file_result& blind_order) {
  const whole_file_result* shown = &r.check;
  if (r.options.blind) {
    std::vector<int> position(r.order.size());
    for (std::size_t k = 0; k < r.order.size(); ++k) position[static_cast<std::size_t>(r.order[k])] = static_cast<int>(k);
    blind_order = r.check;
    std::stable_sort(blind_order.decodes.begin(), blind_order.decodes.end(), [&](const decode_check& a, const decode_check& b) {
      return position[static_cast<std::size_t>(a.track - 1)] < position[static_cast<std::size_t>(b.track - 1)];
    });
    shown = &blind_order;
  }
  check_drawing d{shown, {}, {}, r.slots[0].t.sample_rate, r.slots[0].t.frames, from, length};
  for (int i = 0; i < r.wav_num; ++i) {
    const std::string& name = r.names[static_cast<std::size_t>(i)];
    d.names.push_back(name.substr(0, name.size() - 4));
    if (!r.options.blind) d.delays.push_back(r.slots[i].t.delay);
  }
  return d;
}

// The stimuli of the test, in the order the page and the key list them:
// the decodes, then the anchors; under --blind in C order.
std::vector<std::size_t> stimuli_order(const pack_run& r) {
  std::vector<std::size_t> stimuli;
  const std::size_t count = r.names.size() - 1;
  for (std::size_t k = 0; k < count; ++k)
    stimuli.push_back(1 + (r.order.empty() ? k : static_cast<std::size_t>(r.order[k])));
  return stimuli;
}

// The key of a blind test: each C-name's input, lag and gain.
std::string key_of(const pack_run& r, const std::vector<std::int64_t>& lags, const std::vector<passage_result>& m) {
  std::vector<key_entry> entries;
  for (int i = 1; i < r.wav_num; ++i)
    entries.push_back({r.slots[i].path, lags[static_cast<std::size_t>(i)], m[static_cast<std::size_t>(i)].gain});
  for (std::size_t k = 0; k < r.anchors.size(); ++k) entries.push_back({k == 0 ? ANCHOR35_NAME : ANCHOR70_NAME, 0, 1.0});
  return key_text(entries, r.order);
}

// The texts beside the WAV files, each under its name: the check as a table
// and drawn, the webMUSHRA page, and the report.
std::vector<std::pair<std::string, std::string>> texts_of(const pack_run& r, std::int64_t from, std::int64_t length,
                                                          const std::string& done) {
  whole_file_result blind_order;
  const check_drawing drawing = drawing_of(r, from, length, blind_order);
  std::vector<std::pair<std::string, std::string>> texts = {{CHECK_CSV_NAME, check_csv(drawing)},
                                                            {CHECK_SVG_NAME, check_svg(drawing)}};
  if (r.options.webmushra) {
    webmushra_test test{r.folder, r.names[0], {}, r.options.anchors};
    for (std::size_t i : stimuli_order(r)) test.stimuli.push_back(r.names[i]);
    texts.emplace_back(WEBMUSHRA_NAME, webmushra_yaml(test));
  }
  // A blind test's folder goes to its listeners: its report, whose notes
  // name each decode by its place on the command line, stays out of it.
  if (!r.options.blind) texts.emplace_back(REPORT_NAME, r.report + done);
  return texts;
}

// Writes the key into a temporary beside the folder, on the disk and closed.
run_status write_key(pack_run& r, const std::string& text) {
  std::string temporary;
  std::FILE* out = create_temporary(r.key, temporary);
  if (out == nullptr) return cannot_write(r.key);
  r.made.push_back(temporary);
  const bool written = write_text(text, out) && flush_to_disk(out);
  const bool closed = std::fclose(out) == 0;
  if (written && !closed) record_failure();
  return written && closed ? STATUS_OK : cannot_write(r.key);
}

// Writes every output and the report into the temporary folder, then flushes
// them to the disk: each file's flush starts as soon as it is written and
// runs while the next is, and the run waits for all at the end. Returns the
// files still open in `open`. The folder, and under --blind the key beside
// it, are then moved into place together.
run_status write_files(pack_run& r, std::int64_t from, std::int64_t length, const std::vector<std::int64_t>& lags,
                       const std::vector<passage_result>& m, double scale, std::vector<std::FILE*>& open) {
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  const std::int64_t fade = frames_at(r.options.fade, rate);
  std::string done = "Packed " + std::to_string(r.names.size()) + " files into " + r.folder;
  done += r.options.blind ? ", their key into " + r.key + ".\n" : ".\n";
  if (!say_copy_complete()) return not_enough_memory();
  std::vector<std::string> names = r.names;
  const auto texts = texts_of(r, from, length, done);
  for (const auto& t : texts) names.push_back(t.first);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string shown = r.folder + "/" + names[i];
    std::FILE* out = create_file_in(r.temporary + "/" + names[i]);
    if (out == nullptr) return cannot_write(shown);
    r.made.push_back(r.temporary + "/" + names[i]);
    open.push_back(out);
    if (i >= r.names.size()) {
      if (!write_text(texts[i - r.names.size()].second, out)) return cannot_write(shown);
      continue;
    }
    bool read_failed = false;
    bool written = false;
    if (i < static_cast<std::size_t>(r.wav_num)) {
      const passage_output p{from + lags[i], length, m[i].gain, scale, fade, r.options.format};
      written = write_passage(r.slots[i], p, out, read_failed);
    } else {
      // An anchor keeps the original's time and level.
      const passage_output p{0, length, 1.0, scale, fade, r.options.format};
      written = write_generated(anchor_frames, &r.anchors[i - static_cast<std::size_t>(r.wav_num)], rate, p, out,
                                read_failed);
    }
    // An anchor is made of the original's frames.
    const int file = i < static_cast<std::size_t>(r.wav_num) ? static_cast<int>(i) : 0;
    if (!written) return read_failed ? cannot_read(r, file) : cannot_write(shown);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool flushed = flush_to_disk(open[i]);
    const bool closed = std::fclose(open[i]) == 0;
    open[i] = nullptr;
    if (flushed && !closed) record_failure();
    if (!flushed || !closed) return cannot_write(r.folder + "/" + names[i]);
  }
  if (!flush_folder_to_disk(r.temporary)) return cannot_write(r.folder);
  if (r.options.blind) {
    const run_status status = write_key(r, key_of(r, lags, m));
    if (status != STATUS_OK) return status;
  }
  const bool moved = r.options.blind ? rename_folder_with_file(r.temporary, r.folder, r.made.back(), r.key)
                                     : rename_folder(r.temporary, r.folder);
  if (!moved) {
    say("Cannot move the folder into place : %s.\nReason : %s.\n", r.folder.c_str(), failure_reason());
    return STATUS_OUTPUT_FAILED;
  }
  r.made.clear();
  r.temporary.clear();
  // The new names survive a power loss once their parent folder is flushed.
  flush_folder_to_disk(r.folder.substr(0, folder_length(r.folder)));
  std::fputs(done.c_str(), stdout);
  return STATUS_OK;
}

run_status write_all(pack_run& r, std::int64_t from, std::int64_t length, const std::vector<std::int64_t>& lags,
                     const std::vector<passage_result>& m, double scale) {
  std::vector<std::FILE*> open;
  const run_status status = write_files(r, from, length, lags, m, scale, open);
  // A file is closed before it is removed, as Windows asks.
  for (std::FILE* f : open) {
    if (f != nullptr) std::fclose(f);
  }
  return status;
}

// Refuses, with its line, a decode whose output would be an anchor's.
run_status refuse_anchor_names(const pack_run& r) {
  for (std::size_t i = 1; i < r.names.size(); ++i) {
    for (const char* anchor : ANCHOR_NAMES) {
      if (r.names[i] == anchor) {
        say("The output of %s would be %s, an anchor's; rename the decode.\n", r.options.files[i].c_str(), anchor);
        return STATUS_OUTPUT_FAILED;
      }
    }
  }
  return STATUS_OK;
}

// The anchors of the passage and their peaks; the WAV outputs' names, under
// --blind shuffled into C-names.
run_status make_stimuli(pack_run& r, std::int64_t from, std::int64_t length) {
  if (r.options.anchors) {
    r.anchors.resize(ANCHOR_COUNT);
    r.anchor_peaks.assign(ANCHOR_COUNT, 0.0);
    for (int k = 0; k < ANCHOR_COUNT; ++k) {
      const auto n = static_cast<std::size_t>(k);
      if (!start_anchor(r.anchors[n], r.slots[0], from, length, ANCHOR_CUTOFFS[k], r.anchor_peaks[n]))
        return cannot_read(r, 0);
      r.names.push_back(ANCHOR_NAMES[k]);
    }
  }
  if (r.options.blind) {
    const int count = static_cast<int>(r.names.size()) - 1;
    r.order = blind_order(r.options.seed, count);
    for (int k = 0; k < count; ++k) r.names[1 + static_cast<std::size_t>(r.order[static_cast<std::size_t>(k)])] = blind_name(k);
  }
  return STATUS_OK;
}

// Everything after the temporary folder is made.
run_status pack_into_temporary(pack_run& r) {
  run_values values;
  run_status status = analyse(r, values);
  if (status == STATUS_OK) status = refuse_findings(r);
  if (status != STATUS_OK) return status;
  const std::uint32_t rate = r.slots[0].t.sample_rate;
  if (r.options.anchors && !anchors_fit(rate)) {
    say("%s\n", anchor_refusal(rate).c_str());
    return STATUS_BAD_COMMAND_LINE;
  }
  std::int64_t from = 0;
  std::int64_t length = 0;
  std::vector<std::int64_t> lags;
  std::vector<passage_result> measured;
  status = measure(r, from, length, lags, measured);
  if (status != STATUS_OK) return status;
  const int stimuli = r.wav_num - 1 + (r.options.anchors ? ANCHOR_COUNT : 0);
  const std::string refused = r.options.webmushra ? webmushra_refusal(length, rate, stimuli) : std::string();
  if (!refused.empty()) {
    say("%s", refused.c_str());
    return STATUS_BAD_COMMAND_LINE;
  }
  status = make_stimuli(r, from, length);
  if (status != STATUS_OK) return status;
  double peak = measured[0].peak;
  for (int i = 1; i < r.wav_num; ++i)
    peak = std::max(peak, measured[static_cast<std::size_t>(i)].peak * measured[static_cast<std::size_t>(i)].gain);
  for (double p : r.anchor_peaks) peak = std::max(peak, p);
  const double scale = peak > PEAK_LIMIT ? PEAK_LIMIT / peak : 1.0;
  say_measurements(r, from, length, measured, scale);
  return write_all(r, from, length, lags, measured, scale);
}

}  // namespace

run_status run_pack(track_slot* slots, int argc, char** argv) {
  for (int i = 0; i < MAX_FILES; ++i) {
    if (!init_track(slots[i].t)) {
      std::fputs("Not enough memory.\n", stdout);
      return STATUS_NO_MEMORY;
    }
  }
  pack_options options;
  std::string error;
  if (!parse_pack_options(argc, argv, options, error)) {
    std::printf("eqalign-pack: %s\n", error.c_str());
    print_usage();
    return STATUS_BAD_COMMAND_LINE;
  }
  if (options.help) {
    print_usage();
    return STATUS_OK;
  }
  if (options.version) {
    std::printf("eqalign-pack %s\n", EQALIGN_VERSION);
    return STATUS_OK;
  }
  pack_run r{slots, static_cast<int>(options.files.size()), options, {}, options.output, {}, {}, {}, {}, {}, {}, {}, {}};
  // "out/" names the folder "out", which the temporary folder stands beside.
  while (r.folder.size() > 1 && (r.folder.back() == '/' || r.folder.back() == '\\') &&
         folder_length(r.folder) == r.folder.size())
    r.folder.pop_back();
  // Every line from here on goes to report.txt too.
  say_plain_lines(&r.report);
  say("eqalign-pack %s\n", EQALIGN_VERSION);
  if (name_exists(r.folder)) {
    say("The output folder exists already : %s.\n", r.folder.c_str());
    return STATUS_OUTPUT_FAILED;
  }
  if (options.blind) {
    r.key = key_name(r.folder);
    const std::string taken = key_taken(r.key);
    if (!taken.empty()) {
      say("%s", taken.c_str());
      return STATUS_OUTPUT_FAILED;
    }
  }
  run_status status = check_pack_names(options.files, r.names);
  if (status == STATUS_OK && options.anchors && !options.blind) status = refuse_anchor_names(r);
  if (status != STATUS_OK) return status;
  if (!create_temporary_folder(r.folder, r.temporary)) {
    say("Output path is not available.\nIn file : %s.\nReason : %s.\n", r.folder.c_str(), failure_reason());
    return STATUS_OUTPUT_FAILED;
  }
  status = pack_into_temporary(r);
  if (status != STATUS_OK) discard(r);
  return status;
}
