#include "analysis/anchor.h"
#include "output/pack_output.h"
#include "pack/pack.h"

bool write_anchor(anchor_run& run, const passage_output& p, std::FILE* out, bool& read_failed) {
  return write_generated(anchor_frames, &run, run.ref->t.sample_rate, p, out, read_failed);
}
