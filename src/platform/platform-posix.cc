#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace {

// Outputs and the backups of replaced files of one run: twice the most files.
constexpr int TEMPORARY_MAX = 20;
// Names of the files that an interrupt removes; an empty name is a free place.
// They change only while interrupts are blocked, so the handler never sees
// one half-written.
std::string temporaries[TEMPORARY_MAX];
constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP};

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

void forget(const std::string& name) {
  for (std::string& t : temporaries) {
    if (t == name) t.clear();
  }
}

extern "C" void on_interrupt(int signal_number) {
  // Only unlink(), which is safe here; the names are not changed meanwhile.
  for (const std::string& t : temporaries) {
    if (!t.empty()) unlink(t.c_str());
  }
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void prepare_process() {
  // A descriptor left closed by the caller would be taken by the next file
  // opened, and the report would be written into it; /dev/null opened for
  // reading holds its place, and writes to it fail as they should.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDONLY) < 0) break;
  }
  signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) { return {argv, argv + argc}; }

std::FILE* open_input(const std::string& name, file_identity& id, std::int64_t& size) {
  // Without O_NONBLOCK a fifo would wait for a writer.
  const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* in = fdopen(fd, "rb");
  if (in == nullptr) {
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

std::FILE* create_temporary(const std::string& beside, std::string& name) {
  const std::string folder = beside.substr(0, folder_length(beside));
  const interrupts_blocked blocked;
  int place = 0;
  while (place < TEMPORARY_MAX && !temporaries[place].empty()) ++place;
  if (place == TEMPORARY_MAX) return nullptr;
  static unsigned serial = 0;
  // A name of this process that a crashed run of the same process number may
  // have left is passed over.
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = folder + ".eqalign-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".tmp";
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    std::FILE* out = fdopen(fd, "wb");
    if (out == nullptr) {
      close(fd);
      unlink(name.c_str());
      return nullptr;
    }
    temporaries[place] = name;
    return out;
  }
  return nullptr;
}

bool remove_file(const std::string& name) {
  const interrupts_blocked blocked;
  forget(name);
  return unlink(name.c_str()) == 0;
}

bool replace_file(const std::string& from, const std::string& to) {
  const interrupts_blocked blocked;
  if (rename(from.c_str(), to.c_str()) != 0) return false;
  // Whatever now stands at `to` is no longer a temporary of this run.
  forget(from);
  forget(to);
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

void hold_interrupts(bool hold) {
  const sigset_t set = interrupt_set();
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void pause_one_second() {
  const timespec second{1, 0};
  nanosleep(&second, nullptr);
}
