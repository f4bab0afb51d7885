#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

// Runs `body` in a forked child (for once-per-process state such as the
// logger) and returns its result, or -1 when the child did not exit normally.
inline int runInChild(const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  if (child < 0) return -1;
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
