// The CPU's vector units, read from CPUID and XCR0 in the same way by every
// compiler: GCC's and Clang's own reading need a run-time symbol that Apple's
// linker does not provide.
#include "platform/platform.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif
#if defined(__x86_64__) && defined(__APPLE__)
#include <sys/sysctl.h>
#endif

namespace {

#if defined(__x86_64__)
// XCR0 bits: the OS saves the SSE and AVX registers, and the AVX-512 mask
// registers and the upper halves and upper 16 of the ZMM registers.
constexpr unsigned long long XSTATE_AVX = 0x6;
#if !defined(__APPLE__)
constexpr unsigned long long XSTATE_AVX512 = 0xe0;
#endif

unsigned long long read_xcr0() {
  unsigned int low = 0;
  unsigned int high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return static_cast<unsigned long long>(high) << 32 | low;
}

// Whether the OS saves the AVX-512 state of a thread that uses it.
bool avx512_state_saved(unsigned long long xcr0) {
#if defined(__APPLE__)
  // macOS turns the AVX-512 state on for a thread at its first AVX-512
  // instruction, so XCR0 lacks it until then: the kernel's own word that it
  // will, hw.optional.avx512f, decides. Trusting CPUID alone would be wrong
  // on a kernel that never saves that state.
  (void)xcr0;
  int on = 0;
  size_t size = sizeof on;
  return sysctlbyname("hw.optional.avx512f", &on, &size, nullptr, 0) == 0 && on == 1;
#else
  return (xcr0 & XSTATE_AVX512) == XSTATE_AVX512;
#endif
}

cpu_features read_once() {
  cpu_features f{};
  unsigned int a = 0;
  unsigned int b = 0;
  unsigned int c = 0;
  unsigned int d = 0;
  // XGETBV exists only where the OS has turned XSAVE on.
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0) return f;
  const unsigned long long xcr0 = read_xcr0();
  const bool avx_state_saved = (xcr0 & XSTATE_AVX) == XSTATE_AVX;
  f.avx = avx_state_saved && (c & bit_AVX) != 0;
  if (!avx_state_saved || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return f;
  f.avx2 = (b & bit_AVX2) != 0;
  f.avx512f = (b & bit_AVX512F) != 0 && avx512_state_saved(xcr0);
  return f;
}
#else
cpu_features read_once() { return {}; }
#endif

}  // namespace

cpu_features read_cpu_features() {
  static const cpu_features features = read_once();
  return features;
}
