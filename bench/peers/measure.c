/* Runs a command RUNS times, each with standard input from INPUT and standard
 * output to OUTPUT, and prints per run: wall time in microseconds, peak
 * resident memory in KiB and minor page faults. This launcher is tiny, so the
 * memory a child inherits until exec (and its rusage then counts) is next to
 * nothing. Usage: measure RUNS INPUT OUTPUT COMMAND [ARGS...] */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  int runs = atoi(argv[1]);
  for (int run = 0; run < runs; ++run) {
    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
      int in = open(argv[2], O_RDONLY);
      int out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(127);
      execv(argv[4], argv + 4);
      _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
    double wall = now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    printf("%.1f %ld %ld\n", wall, usage.ru_maxrss, usage.ru_minflt);
  }
  return 0;
}
