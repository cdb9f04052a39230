// The end of a run that memory ran out for, on whichever thread and in
// whichever pass: "Not enough memory.", status 10, every file as it was.
#pragma once

#include <cstdio>
#include <new>

#include "core/say.h"
#include "core/track.h"
#include "platform/platform.h"

// Prints "Not enough memory." and returns STATUS_NO_MEMORY, for an
// allocation whose failure a status tells.
inline run_status not_enough_memory() {
  say_text("Not enough memory.\r\n");
  return STATUS_NO_MEMORY;
}

// Runs `pass`, which returns a run_status, and returns its status. When an
// allocation fails anywhere in it (std::bad_alloc from this thread, or from a
// task that for_each_parallel ran again here), removes every temporary that
// the run holds and ends it as not_enough_memory() does. Every program of
// the project runs its passes through this: memory that runs out never
// aborts a run nor leaves a file changed.
template <class Pass>
run_status unless_out_of_memory(const Pass& pass) {
  try {
    return pass();
  } catch (const std::bad_alloc&) {
    remove_temporaries();
    return not_enough_memory();
  }
}
