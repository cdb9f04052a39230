// The whole job of one invocation: the passes over the named files in order.
#pragma once

#include "core/track.h"

// Runs eqalign on the command line with the MAX_FILES slots of `slots`;
// `complete` tells whether every output was written. Streams of a run that
// ends early are left open, as the process exit closes them.
run_status run_eqalign(track_slot* slots, int argc, char** argv, bool& complete);
