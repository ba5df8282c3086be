#pragma once
// Busy processes on every processor of the machine, for tests and benchmarks of code that must
// take a slow machine for what it is. Each process spins for at most Seconds (its own alarm) and
// dies with the process that started it; the object ends them all when it goes, also when a
// failing assertion leaves the test early.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace testsupport {

class CpuHog {
 public:
  explicit CpuHog(unsigned PerProcessor = 4, unsigned Seconds = 600) {
    const long processors = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    const pid_t parent = ::getpid();
    for (long i = 0; i < processors * static_cast<long>(PerProcessor); ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(0);
        ::signal(SIGALRM, SIG_DFL);
        ::alarm(Seconds);
        for (;;) asm volatile("" ::: "memory");
      }
      if (pid > 0) FPids.push_back(pid);
    }
  }
  ~CpuHog() {
    for (pid_t pid : FPids) ::kill(pid, SIGKILL);
    for (pid_t pid : FPids)
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
  }
  CpuHog(const CpuHog&) = delete;
  CpuHog& operator=(const CpuHog&) = delete;

  std::size_t Count() const { return FPids.size(); }

 private:
  std::vector<pid_t> FPids;
};

}  // namespace testsupport
