#include "driver/run.h"

#include <cstdio>

#include "analysis/analysis.h"
#include "core/out_of_memory.h"
#include "core/run_values.h"
#include "core/say.h"
#include "output/output.h"
#include "report/report.h"
#include "wav/wav.h"

namespace {

// Where the whole story is told; both come with every download.
constexpr const char* DOCUMENTATION = "see README.md and the eqalign manual page";

void print_usage() {
  say("Eqalign ver.1.1.0 (%s)\r\n", DOCUMENTATION);
  say("%s", " Equalize offset and gain of 32bit float or int 44100Hz wav files.\r\n");
  say("%s", "  Then output them as raw, to perform an abc/hr test.\r\n\r\n");
  say("%s", "    usage:  eqalign original.wav lossy1.wav lossy2.wav.....\r\n\r\n");
  say("detectable offset: %d ~ %d[sample]. Yulewalk filter for 44.1k is used.\r\n", DELAY_MIN, DELAY_MAX);
}

}  // namespace

run_status run_eqalign(track_slot* slots, int argc, char** argv, bool& complete) {
  complete = false;
  for (int i = 0; i < MAX_FILES; ++i) {
    track_slot& slot = slots[i];
    if (!init_track(slot.t)) return not_enough_memory();
  }
  if (argc < 3) {
    print_usage();
    return STATUS_OK;
  }
  say("eqalign.v.1.1.0  /  original reference file:%s\r\n", argv[1]);
  const int wav_num = argc - 1;
  if (wav_num > MAX_FILES) {
    say("wav_num %d is too much.\r\n", wav_num);
    return STATUS_TOO_MANY_FILES;
  }

  run_values values;
  run_status status = header_pass(slots, wav_num, argv + 1, values);
  if (status != STATUS_OK) return status;
  say("input_wav_length : %d\r\n", static_cast<int>(values.input_wav_length));
  status = refuse_short_inputs(slots, wav_num, values);
  if (status == STATUS_OK) status = check_output_names(slots, wav_num);
  if (status == STATUS_OK) status = capture_pass(slots, wav_num, values.input_wav_length);
  if (status != STATUS_OK) return status;
  print_capture_note(slots[0].t);
  status = search_pass(slots, wav_num, values);
  if (status != STATUS_OK) return status;
  print_search_report(slots, wav_num, values);
  whole_file_result check;
  status = check_whole_files(slots, wav_num, check);
  if (status != STATUS_OK) return status;
  print_whole_file_notes(check, slots[0].t.sample_rate);
  status = output_pass(slots, wav_num, values);
  complete = status == STATUS_OK;
  return status;
}
