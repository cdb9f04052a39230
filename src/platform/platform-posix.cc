#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/platform.h"
#include "platform/temporaries.h"

namespace {

// The temporaries change only while these are blocked, so the handler never
// sees a name half-written.
constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// The signal mask before the replacement of the outputs held interrupts.
sigset_t mask_before_hold;
// The system's words for the last failure, and its error number.
char reason[256];
int reason_number = 0;
constexpr const char* NOT_REGULAR = "Not a regular file";
// A helper's stack: 1 MiB, as Windows gives a thread; the searches and
// checks need a small part of it.
constexpr std::size_t HELPER_STACK_BYTES = std::size_t{1} << 20;

void set_reason(const char* text, int number) {
  std::snprintf(reason, sizeof reason, "%s", text);
  reason_number = number;
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : INTERRUPTS) sigaddset(&set, s);
  return set;
}

// Blocks interrupts for the life of the object, then restores the mask as it was.
struct interrupts_blocked {
  sigset_t before{};
  interrupts_blocked() {
    const sigset_t set = interrupt_set();
    sigprocmask(SIG_BLOCK, &set, &before);
  }
  ~interrupts_blocked() { sigprocmask(SIG_SETMASK, &before, nullptr); }
  interrupts_blocked(const interrupts_blocked&) = delete;
  interrupts_blocked& operator=(const interrupts_blocked&) = delete;
};

#if defined(__APPLE__)
std::string case_folded(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}
#endif

// Removes every temporary the registry holds, by unlink() and rmdir() alone,
// which an interrupt handler may call: files first, so that the folders they
// were made in are empty when their turn comes.
void unlink_temporaries() {
  for (int place = 0; place < TEMPORARY_MAX; ++place) {
    const char* t = temporary_at(place);
    if (t[0] != '\0') unlink(t);
  }
  for (int place = 0; place < TEMPORARY_MAX; ++place) {
    const char* t = temporary_at(place);
    if (t[0] != '\0') rmdir(t);
  }
}

extern "C" void on_interrupt(int signal_number) {
  // Only unlink(), rmdir(), signal() and raise(), which are safe here; the
  // names are not changed meanwhile.
  unlink_temporaries();
  // Ends the process by the same signal, as if there were no handler.
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// With the permissions a plain create gives (0666 less the umask).
std::FILE* create_new(const std::string& name, bool& taken) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  taken = fd < 0 && errno == EEXIST;
  std::FILE* out = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (out == nullptr) record_failure();
  if (out == nullptr && fd >= 0) {
    close(fd);
    unlink(name.c_str());
  }
  return out;
}

bool make_new_folder(const std::string& name, bool& taken) {
  const bool made = mkdir(name.c_str(), 0777) == 0;
  taken = !made && errno == EEXIST;
  if (!made) record_failure();
  return made;
}

// Whether `to` was free and `from` now stands there; RENAME_NOREPLACE (Linux)
// and RENAME_EXCL (macOS) make the test and the move one step.
bool rename_unless_taken(const std::string& from, const std::string& to) {
#if defined(__linux__)
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system that cannot: tested apart, as elsewhere.
  if (errno != EINVAL && errno != ENOSYS) return false;
#elif defined(__APPLE__)
  if (renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return true;
  if (errno != ENOTSUP) return false;
#endif
  if (name_exists(to)) {
    errno = EEXIST;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

void prepare_process() {
  // A descriptor left closed by the caller would be taken by the next file
  // opened, and the report would be written into it; /dev/null (or the root
  // folder) opened for reading holds its place, and writes to it fail as
  // they should.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDONLY) < 0) open("/", O_RDONLY);
  }
  // A reader that went away, or a file size limit, makes a write fail
  // instead of ending the run with temporaries left behind.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
#if defined(__GLIBC__)
  // Threads share the one heap, and every block of 128 KiB or more is mapped
  // on its own and unmapped when freed. A helper's own heap would reserve 64
  // MiB of address space and keep it after the helper ends, and large blocks
  // that two threads freed in turn would leave the heap in pieces: under a
  // memory limit (ulimit -v), a run that one thread survives would fail with two.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

std::vector<std::string> utf8_arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* open_input(const std::string& name, file_identity& id, std::int64_t& size) {
  // Without O_NONBLOCK a fifo would wait for a writer.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    record_failure();
    return nullptr;
  }
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* in = nullptr;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0)
    in = fdopen(fd, "rb");
  if (in == nullptr) {
    if (S_ISREG(st.st_mode)) record_failure();
    if (!S_ISREG(st.st_mode)) set_reason(NOT_REGULAR, 0);
    close(fd);
    return nullptr;
  }
  id = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  size = st.st_size;
  return in;
}

bool seek_to(std::FILE* f, std::int64_t offset, int whence) { return fseeko(f, offset, whence) == 0; }

std::int64_t position_of(std::FILE* f) { return ftello(f); }

std::size_t folder_length(const std::string& name) { return name.find_last_of('/') + 1; }

file_identity identity_of(const std::string& name) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0) return {};
  return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool is_directory(const std::string& name) {
  struct stat st {};
  return stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool name_exists(const std::string& name) {
  struct stat st {};
  return lstat(name.c_str(), &st) == 0;
}

bool is_write_protected(const std::string& name) {
  // Nothing there, or a dangling link, protects nothing.
  return access(name.c_str(), W_OK) != 0 && (errno == EACCES || errno == EPERM || errno == EROFS);
}

std::FILE* create_temporary(const std::string& beside, std::string& name, bool old_output) {
  const interrupts_blocked blocked;
  return create_remembered(beside, static_cast<unsigned long>(getpid()), create_new, name, old_output);
}

void remove_temporaries() {
  const interrupts_blocked blocked;
  unlink_temporaries();
  forget_temporaries();
}

namespace {

// Removes a file (unlink) or an empty folder (rmdir), which is then no
// temporary of the run.
bool remove_remembered(const std::string& name, int (*remove)(const char*)) {
  const interrupts_blocked blocked;
  forget_temporary(name);
  if (remove(name.c_str()) == 0) return true;
  record_failure();
  return false;
}

}  // namespace

bool remove_file(const std::string& name) { return remove_remembered(name, unlink); }

bool replace_file(const std::string& from, const std::string& to) {
  const interrupts_blocked blocked;
  if (rename(from.c_str(), to.c_str()) != 0) {
    record_failure();
    return false;
  }
  // Whatever now stands at `to` is no longer a temporary of this run.
  forget_temporary(from);
  forget_temporary(to);
  return true;
}

bool create_temporary_folder(const std::string& beside, std::string& name) {
  const interrupts_blocked blocked;
  return create_remembered_folder(beside, static_cast<unsigned long>(getpid()), make_new_folder, name);
}

std::FILE* create_file_in(const std::string& name) {
  const interrupts_blocked blocked;
  return create_remembered_at(name, create_new);
}

bool remove_folder(const std::string& name) { return remove_remembered(name, rmdir); }

bool rename_folder(const std::string& from, const std::string& to) {
  const interrupts_blocked blocked;
  if (!rename_unless_taken(from, to)) {
    record_failure();
    return false;
  }
  forget_temporaries_in(from);
  return true;
}

bool rename_folder_with_file(const std::string& folder_from, const std::string& folder_to, const std::string& file_from,
                             const std::string& file_to) {
  const interrupts_blocked blocked;
  if (!rename_unless_taken(folder_from, folder_to)) {
    record_failure();
    return false;
  }
  if (!rename_unless_taken(file_from, file_to)) {
    record_failure();
    // Back to the temporary's name, which nothing else takes: an interrupt
    // or the run's clean-up finds its files where they were made.
    rename(folder_to.c_str(), folder_from.c_str());
    return false;
  }
  forget_temporaries_in(folder_from);
  forget_temporary(file_from);
  return true;
}

bool flush_folder_to_disk(const std::string& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    record_failure();
    return false;
  }
  const bool synced = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS;
  if (!synced) record_failure();
  close(fd);
  return synced;
}

bool start_flush(std::FILE* f) {
  if (std::fflush(f) != 0) {
    record_failure();
    return false;
  }
#if defined(__linux__)
  // Only a hint: flush_to_disk waits for the data and tells a failure.
  sync_file_range(fileno(f), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  return true;
}

void watch_interrupts() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_mask = interrupt_set();
  for (int s : INTERRUPTS) {
    struct sigaction before {};
    // A run started with an interrupt ignored (nohup, a background job) keeps ignoring it.
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
}

bool flush_to_disk(std::FILE* f) {
  // A file system that cannot sync (some network and FUSE ones) has done
  // what it can.
  if (std::fflush(f) == 0 && (fsync(fileno(f)) == 0 || errno == EINVAL || errno == ENOTSUP || errno == ENOSYS))
    return true;
  record_failure();
  return false;
}

bool same_last_component(const std::string& a, const std::string& b) {
#if defined(__APPLE__)
  return case_folded(a) == case_folded(b);
#else
  return a == b;
#endif
}

void hold_interrupts(bool hold) {
  if (hold) {
    const sigset_t set = interrupt_set();
    sigprocmask(SIG_BLOCK, &set, &mask_before_hold);
  } else {
    sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
  }
}

void pause_one_second() {
  const timespec second{1, 0};
  nanosleep(&second, nullptr);
}

namespace {

bool process_running(std::uint64_t pid) {
  // Signal 0 only asks; a process of another user answers EPERM.
  return pid <= INT_MAX && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

}  // namespace

bool stopped_runs_temporaries(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  // Closed however the listing ends, memory running out included.
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.empty() ? "." : folder.c_str()), closedir);
  // A folder that cannot be listed for another reason has nothing to say.
  if (listing == nullptr) return errno != ENOMEM;
  std::vector<std::string> entries;
  while (const dirent* e = readdir(listing.get())) entries.emplace_back(e->d_name);
  names = stopped_among(entries, process_running);
  return true;
}

const char* failure_reason() { return reason; }

void record_failure() { record_failure(errno); }

void record_failure(int error_number) { set_reason(std::strerror(error_number), error_number); }

bool short_of_memory() { return reason_number == ENOMEM; }

namespace {

void* run_helper(void* helper) {
  const helper_thread& h = *static_cast<helper_thread*>(helper);
  h.work(h.arg);
  return nullptr;
}

}  // namespace

bool start_helper(helper_thread& helper, void (*work)(void*), void* arg) {
  // The run's own stack, not one that the C library would keep for later
  // threads once this one is joined.
  void* stack = mmap(nullptr, HELPER_STACK_BYTES, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (stack == MAP_FAILED) return false;
  // Its lowest page faults: a stack that overflows stops there.
  const long page = sysconf(_SC_PAGESIZE);
  helper.work = work;
  helper.arg = arg;
  pthread_attr_t attributes;
  pthread_t id{};
  bool started = pthread_attr_init(&attributes) == 0;
  if (started) {
    started = page > 0 && mprotect(stack, static_cast<std::size_t>(page), PROT_NONE) == 0 &&
              pthread_attr_setstack(&attributes, stack, HELPER_STACK_BYTES) == 0 &&
              pthread_create(&id, &attributes, run_helper, &helper) == 0;
    pthread_attr_destroy(&attributes);
  }
  if (!started) {
    munmap(stack, HELPER_STACK_BYTES);
    return false;
  }
  static_assert(sizeof id <= sizeof helper.id);
  std::memcpy(&helper.id, &id, sizeof id);
  helper.stack = stack;
  return true;
}

void join_helper(helper_thread& helper) {
  pthread_t id{};
  std::memcpy(&id, &helper.id, sizeof id);
  pthread_join(id, nullptr);
  munmap(helper.stack, HELPER_STACK_BYTES);
  helper.stack = nullptr;
}
