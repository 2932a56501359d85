// quarn_bench_run_measured PROGRAM ARGS...: quarn_bench's child process. Runs the program with
// its output to /dev/null and prints its wall time and peak resident memory. The program is
// forked from this small process: a process's peak counts the memory of the one it was
// spawned from at its exec, so spawned straight from quarn_bench it would count quarn_bench's.

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: quarn_bench_run_measured PROGRAM ARGS...\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("quarn_bench_run_measured: fork");
    return 1;
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execv(argv[1], argv + 1);
    std::fprintf(stderr, "quarn_bench_run_measured: cannot run %s: %s\n", argv[1],
                 std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "quarn_bench_run_measured: %s failed\n", argv[1]);
    return 1;
  }
  std::printf("seconds: %.9f\npeak_rss_bytes: %lld\n", seconds,
              static_cast<long long>(usage.ru_maxrss) * 1024);  // Linux gives kB
  return std::fflush(stdout) == 0 ? 0 : 1;
}
