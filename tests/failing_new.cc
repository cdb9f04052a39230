// eqalign_failing_new: eqalign whose operator new fails when the environment
// says, so that a test can make memory run out anywhere in a run.
//   EQALIGN_FAIL_NEW=N        the N-th allocation of the process fails
//   EQALIGN_FAIL_NEW=helpers  every allocation off the main thread fails
// A failure is told on standard error. Every form of new and delete is
// replaced, so that a sanitizer's own forms never meet these. On POSIX the
// pause that ends a complete run is skipped: a sweep makes many runs.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string_view>
#include <thread>

namespace {

const std::thread::id main_thread = std::this_thread::get_id();
std::atomic<long> allocations{0};

bool fails() {
  static const char* const wanted = std::getenv("EQALIGN_FAIL_NEW");
  if (wanted == nullptr) return false;
  const long n = ++allocations;
  // Allocations before main_thread is set are the main thread's.
  const bool helper = main_thread != std::thread::id{} && std::this_thread::get_id() != main_thread;
  const bool fail = std::string_view(wanted) == "helpers" ? helper : n == std::atol(wanted);
  if (fail) std::fprintf(stderr, "eqalign_failing_new: allocation %ld failed\n", n);
  return fail;
}

void* allocate(std::size_t size) {
  void* p = fails() ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* allocate_or_null(std::size_t size) noexcept {
  return fails() ? nullptr : std::malloc(size == 0 ? 1 : size);
}

}  // namespace

#ifndef _WIN32
extern "C" int nanosleep(const timespec*, timespec*) { return 0; }
#endif

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_or_null(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
