// How both programs tell what the analysis found: the note of a reference
// measured after its silent start, the notes under each decode's search
// line, and the notes of the whole-file check. Lines end "\r\n", which
// eqalign-pack prints as "\n" (core/say.h).
#pragma once

#include <cstdint>

#include "analysis/analysis.h"
#include "core/run_values.h"
#include "core/track.h"

// The note of a reference whose first second is silent, when it was.
void print_capture_note(const track& reference);

// The notes under track i's search line: unmeasured, inverted polarity, a
// poor match, a delay at the end of the range, repeating music, an odd pair
// of channels.
void print_search_notes(const track& t, int i);

// eqalign's report of the search: each decode's line and its notes, then
// the run's extremes and the length every output is cut to.
void print_search_report(const track_slot* slots, int wav_num, const run_values& values);

// The notes of a whole-file check, in track order.
void print_whole_file_notes(const whole_file_result& r, std::uint32_t rate);
