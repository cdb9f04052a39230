#include <gtest/gtest.h>

#include "platform/platform.h"

// The compiler's own reading of the CPU, where it links: not on macOS, where
// Apple's linker lacks its run-time symbol. Elsewhere every unit reads false.
TEST(CpuFeatures, ReadAsTheCompilerDoes) {
#if defined(__x86_64__) && !defined(__APPLE__)
  const cpu_features f = read_cpu_features();
  __builtin_cpu_init();
  EXPECT_EQ(f.avx, __builtin_cpu_supports("avx") != 0);
  EXPECT_EQ(f.avx2, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(f.avx512f, __builtin_cpu_supports("avx512f") != 0);
#elif defined(__x86_64__)
  GTEST_SKIP() << "no compiler reading to compare with";
#else
  const cpu_features f = read_cpu_features();
  EXPECT_FALSE(f.avx || f.avx2 || f.avx512f);
#endif
}
