// The delay and gain search written as plainly as it reads: two nested loops
// per delay. The fast search must agree with it bit for bit.
#pragma once

#include <cmath>

#include "analysis/kernels.h"

inline search_result plain_search(const double* ref, const double* test) {
  search_result best;
  double ref_sum = 0;
  for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) ref_sum += ref[k] * ref[k];
  const double ref_norm = std::sqrt(ref_sum);
  if (ref_norm == 0) {
    best.kind = SEARCH_SILENT;
    return best;
  }
  for (int j = DELAY_MIN; j < DELAY_MAX; ++j) {
    double window_sum = 0;
    for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) window_sum += test[k + j] * test[k + j];
    const double window_norm = std::sqrt(window_sum);
    if (window_norm == 0) return search_result{SEARCH_SILENT};
    const double gain = ref_norm / window_norm;
    double residual = 0;
    for (int k = COMPARE_BEGIN; k < COMPARE_END; ++k) {
      const double diff = test[k + j] * gain - ref[k];
      residual += diff * diff;
    }
    const double score = std::sqrt(residual) / ref_norm;
    if (!std::isfinite(gain) || !(gain > 0) || !std::isfinite(score)) continue;
    if (best.kind != SEARCH_FOUND || score < best.score) best = {SEARCH_FOUND, j, gain, score};
  }
  return best;
}
