// Work spread over the CPU's cores, whose results land where one thread would
// have put them.
#pragma once

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

// Runs task(i) once for each i from 0 to count - 1, on as many threads as
// the CPU has cores (at most count). Each task writes only its own results;
// which thread ran it never shows.
template <class Task>
void for_each_parallel(int count, const Task& task) {
  std::atomic<int> next{0};
  const auto work = [&] {
    for (int i = next++; i < count; i = next++) task(i);
  };
  const int threads = std::min<int>(count, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t) {
    // A thread that cannot be had leaves its share to the others.
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& h : helpers) h.join();
}
