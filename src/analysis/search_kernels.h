// The vector kernels that score lags and run filter lanes, for the tests and
// benchmarks that run every width; the program itself calls score_lags,
// search_delays and capture_jobs, which take the fastest this CPU runs.
#pragma once

#include "analysis/analysis.h"

// How delays are scored together: vectors of `lanes` doubles (2, 4 or 8), in
// the CPU's own instructions for that width (x86-64 only) or in the
// compiler's generic form. The result never depends on it.
struct search_kernel {
  int lanes;
  bool native;
};

// The same search with a chosen kernel; one that this CPU lacks runs generic.
search_result search_delays_with(const double* ref, const double* test, search_kernel chosen);
void score_lags_with(const double* ref, const double* test, int first_lag, int count, lag_scores& out,
                     search_kernel chosen);

// Whether this CPU runs the kernel as asked.
bool kernel_runs_here(search_kernel k);

// The kernel `search_delays` uses here.
search_kernel fastest_kernel();

// capture_jobs with a chosen width of filter lanes.
bool capture_jobs_with(const capture_job* jobs, int count, int& failed, search_kernel kernel);
