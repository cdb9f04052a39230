// Work spread over the CPU's cores, whose results land where one thread would
// have put them.
#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "core/track.h"
#include "platform/platform.h"

// Runs task(i) once for each i from 0 to count - 1, on as many threads as
// the CPU has cores (at most count, and MAX_FILES). Each task writes only its
// own results; which thread ran it never shows.
//
// No exception leaves a thread, and every helper is joined. A task that
// throws (memory ran out: std::bad_alloc) stops its thread, and the others
// go on; once every helper has ended and left its memory, the task is run
// again from its start on the calling thread, alone, so that a run that one
// thread survives survives here. A task must therefore give the same results
// when run again. What such a second run throws reaches the caller.
template <class Task>
void for_each_parallel(int count, const Task& task) {
  // Made before any thread starts: when it cannot be, the caller hears so.
  std::vector<char> unfinished(static_cast<std::size_t>(std::max(count, 0)), 0);
  std::atomic<int> next{0};
  auto work = [&]() noexcept {
    for (int i = next++; i < count; i = next++) {
      try {
        task(i);
      } catch (...) {
        unfinished[static_cast<std::size_t>(i)] = 1;
        return;
      }
    }
  };
  using work_type = decltype(work);
  const auto run_work = [](void* w) { (*static_cast<work_type*>(w))(); };
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int threads = std::min({count, MAX_FILES, cores});
  // A thread that cannot be had leaves its share to the others.
  helper_thread helpers[MAX_FILES];
  int started = 0;
  while (started < threads - 1 && start_helper(helpers[started], run_work, &work)) ++started;
  work();
  for (int t = 0; t < started; ++t) join_helper(helpers[t]);
  for (int i = 0; i < count; ++i) {
    if (unfinished[static_cast<std::size_t>(i)] != 0) task(i);
  }
}
