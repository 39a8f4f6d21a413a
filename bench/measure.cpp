// Runs a command and prints its wall time in milliseconds and its peak resident memory
// in KiB: "wall_ms peak_kib exit_status". The command's own output goes where it would.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: measure COMMAND [ARGUMENT...]\n");
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  pid_t child = fork();
  if (child == 0) {
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  wait4(child, &status, 0, &usage);
  auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  printf("%lld %ld %d\n", static_cast<long long>(wall.count()), usage.ru_maxrss,
         WIFEXITED(status) ? WEXITSTATUS(status) : 128);
  return 0;
}
