// A way to run the eqalign binary as a user would.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scratch_dir.h"

extern char** environ;

struct run_result {
  int status = -1;
  std::string out;
};

// Runs the program with `args`, in `dir`, and collects its standard output.
inline run_result run_eqalign(const std::vector<std::string>& args, const std::string& dir = ".") {
  int pipe_fds[2];
  run_result r;
  if (pipe(pipe_fds) != 0) return r;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> argv_text{EQALIGN_BINARY};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, EQALIGN_BINARY, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  char buf[4096];
  ssize_t n = 0;
  while ((n = read(pipe_fds[0], buf, sizeof buf)) > 0) r.out.append(buf, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  if (spawned != 0) return r;
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return r;
}

inline const char* BANNER_START = "eqalign.v.1.1.0  /  original reference file:";
