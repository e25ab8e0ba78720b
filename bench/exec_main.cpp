// tessaro-bench-exec COMMAND [ARGS...]: runs the command and prints, on one
// line of standard error, "cpu_us=U+S user_us=U sys_us=S maxrss_kb=M
// wall_us=W exit=E", from the kernel's accounting of the child (wait4), which
// has microseconds where /usr/bin/time prints hundredths. The command's own
// output passes through; the exit code is the command's.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

long long Micros(const timeval& time) { return static_cast<long long>(time.tv_sec) * 1000000 + time.tv_usec; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tessaro-bench-exec COMMAND [ARGS...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 2;
  }
  const auto wall = std::chrono::steady_clock::now() - start;
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(stderr, "cpu_us=%lld user_us=%lld sys_us=%lld maxrss_kb=%ld wall_us=%lld exit=%d\n",
               Micros(usage.ru_utime) + Micros(usage.ru_stime), Micros(usage.ru_utime), Micros(usage.ru_stime),
               usage.ru_maxrss,
               static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(wall).count()), exitCode);
  return exitCode;
}
