// Runs the eqalign binary as a user would: arguments, working folder,
// standard output and error, exit status.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "scratch_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

// Where the report goes: to the test, to a full disk, to a pipe nobody reads,
// or nowhere (standard output closed).
enum report_to { REPORT_PIPE, REPORT_FULL_DISK, REPORT_UNREAD, REPORT_CLOSED };

struct run_result {
  // The exit status, or 128 + the signal that ended the run.
  int status = -1;
  std::string out;
  std::string err;
};

// The program under test: the one this build made, or a copy named by the
// environment (CI runs some rows as another user, on copies it may read).
inline std::string program_path() {
  const char* copy = std::getenv("EQALIGN_BINARY");
  return copy != nullptr && copy[0] != '\0' ? copy : EQALIGN_BINARY;
}

// The second program, eqalign-pack, likewise.
inline std::string pack_program_path() {
  const char* copy = std::getenv("EQALIGN_PACK_BINARY");
  return copy != nullptr && copy[0] != '\0' ? copy : EQALIGN_PACK_BINARY;
}

// Sets a variable of the environment that programs started from now on get;
// nullptr removes it.
inline void set_environment(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value == nullptr) unsetenv(name);
  if (value != nullptr) setenv(name, value, 1);
#endif
}

#ifdef _WIN32
inline run_result run_program(const std::vector<std::string>& args, const std::string& dir = ".",
                              report_to = REPORT_PIPE, const std::string& program = program_path()) {
  run_result r;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (CreatePipe(&read_end, &write_end, &inherit, 0) == 0) return r;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  std::wstring line = L"\"" + utf8_path(program).wstring() + L"\"";
  for (const std::string& a : args) line += L" \"" + utf8_path(a).wstring() + L"\"";
  PROCESS_INFORMATION process{};
  // wine, loaded by two test processes at once, now and then fails to start one; a few tries ride that out,
  // and a start that still fails says why.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 5 && started == 0; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             utf8_path(dir).wstring().c_str(), &startup, &process);
  }
  if (started == 0) r.err = "CreateProcessW failed: error " + std::to_string(GetLastError());
  CloseHandle(write_end);
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(read_end, buf, sizeof buf, &n, nullptr) != 0 && n > 0) r.out.append(buf, n);
  CloseHandle(read_end);
  if (started == 0) return r;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  r.status = static_cast<int>(code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return r;
}
#else
// Starts the program in `dir` with its standard output on `out` (closed when
// negative) and its standard error on `err`.
inline pid_t start_program(const std::vector<std::string>& args, const std::string& dir, int out, int err,
                           const std::string& program = program_path()) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out < 0) posix_spawn_file_actions_addclose(&actions, 1);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline int wait_for(pid_t pid) {
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return -1;
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

inline std::string drain(int fd) {
  std::string text;
  char buf[4096];
  ssize_t n = 0;
  while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

inline run_result run_program(const std::vector<std::string>& args, const std::string& dir = ".",
                              report_to to = REPORT_PIPE, const std::string& program = program_path()) {
  run_result r;
  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return r;
  for (int fd : {out[0], out[1], err[0], err[1]}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  const int full = to == REPORT_FULL_DISK ? open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
  if (to == REPORT_UNREAD) close(out[0]);
  const pid_t pid =
      start_program(args, dir, to == REPORT_PIPE || to == REPORT_UNREAD ? out[1] : full, err[1], program);
  close(out[1]);
  close(err[1]);
  if (full >= 0) close(full);
  if (to != REPORT_UNREAD) r.out = drain(out[0]);
  r.err = drain(err[0]);
  r.status = wait_for(pid);
  return r;
}
#endif

inline const char* BANNER_START = "eqalign.v.1.1.0  /  original reference file:";
