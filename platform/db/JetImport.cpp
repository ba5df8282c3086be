// The guarded import: header check here, libmdb in a child process (see JetImport.h).
#include "platform/db/JetImport.h"

#include "platform/rtl/SysUtils.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define KELV_DB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELV_DB_SANITIZED 1
#endif
#endif
#ifdef KELV_DB_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace kelvdb {
namespace {

constexpr std::size_t kHeaderProbe = 3 * 4096;
// Exit status of a reader ended by a sanitizer report, by its processor time in all, and by its
// processor time without progress.
constexpr int kSanitizerExit = 86;
constexpr int kCpuExit = 87;
constexpr int kStallExit = 88;
std::atomic<int> SanitizerReports{0};
constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'D', 'B', '1', '\0'};
constexpr std::size_t kMaxMessage = 4096;

struct Reply {
  char Magic[8];
  std::uint32_t Status;  // 0: database follows; 1: message follows
  std::uint32_t Reserved;
  std::uint64_t Length;
};

// The reader's limits, in seconds.
struct Limits {
  double Cpu{0};    // processor time in all
  double Stall{0};  // processor time without progress
  double Stuck{0};  // time without using the processor at all
};

class Fd {
 public:
  explicit Fd(int F = -1) : F_(F) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return F_; }
  void Reset(int F = -1) {
    if (F_ >= 0) ::close(F_);
    F_ = F;
  }

 private:
  int F_;
};

bool WriteAll(int F, const void* Data, std::size_t Size) {
  const char* p = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::write(F, p, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    Size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string Seconds(double S) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", S);
  return text;
}

// ---------------------------------------------------------------------------------------------
// Child

[[noreturn]] void ChildReply(int Out, std::uint32_t Status, const void* Data, std::uint64_t Size) {
  Reply r{};
  std::memcpy(r.Magic, kMagic, sizeof kMagic);
  r.Status = Status;
  r.Length = Size;
  if (WriteAll(Out, &r, sizeof r)) WriteAll(Out, Data, static_cast<std::size_t>(Size));
  ::_exit(0);
}

[[noreturn]] void ChildFail(int Out, const std::string& Message) {
  const std::string m = Message.substr(0, kMaxMessage);
  ChildReply(Out, 1, m.data(), m.size());
}

// The watchdog of the reader's processor time: a profiling timer ticks as the child computes
// (never while it waits), and each tick compares the time used with the limits.
struct Watchdog {
  Limits L;
  std::uint64_t LastProgress{0};
  double LastProgressCpu{0};
} Watch;

double CpuSecondsUsed() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void OnCpuTick(int) {
  const double used = CpuSecondsUsed();
  if (used >= Watch.L.Cpu) ::_exit(kCpuExit);
  const std::uint64_t progress = ReaderProgress();
  if (progress != Watch.LastProgress) {
    Watch.LastProgress = progress;
    Watch.LastProgressCpu = used;
  } else if (used - Watch.LastProgressCpu >= Watch.L.Stall) {
    ::_exit(kStallExit);
  }
}

void StartWatchdog(const Limits& L) {
  Watch.L = L;
  Watch.LastProgress = ReaderProgress();
  Watch.LastProgressCpu = CpuSecondsUsed();
  struct sigaction sa {};
  sa.sa_handler = OnCpuTick;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGPROF, &sa, nullptr);
  const double tick = std::clamp(std::min(L.Cpu, L.Stall) / 4, 0.001, 0.1);
  itimerval it{};
  it.it_interval.tv_sec = static_cast<time_t>(tick);
  it.it_interval.tv_usec = static_cast<suseconds_t>((tick - std::floor(tick)) * 1e6);
  it.it_value = it.it_interval;
  ::setitimer(ITIMER_PROF, &it, nullptr);
  // Should the timer fail, the system's own limit still ends the child.
  rlimit cpu{};
  cpu.rlim_cur = static_cast<rlim_t>(std::ceil(L.Cpu)) + 2;
  cpu.rlim_max = cpu.rlim_cur + 1;
  ::setrlimit(RLIMIT_CPU, &cpu);
}

[[noreturn]] void RunChild(int Out, int In, std::uint64_t FileSize, std::uint64_t MaxBytes, const Limits& L,
                           void (*Hook)()) {
  // Default dispositions: a crash must end this process, not run the parent's handlers.
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGALRM, SIGPIPE, SIGCHLD, SIGXCPU})
    std::signal(sig, SIG_DFL);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() == 1) ::_exit(1);
  rlimit none{};
  ::setrlimit(RLIMIT_CORE, &none);
#ifndef KELV_DB_SANITIZED
  {
    // Room for the file, libmdb's buffers and the SQLite database on top of what is mapped now.
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const std::uint64_t now = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    rlimit as{};
    as.rlim_cur = as.rlim_max = static_cast<rlim_t>(now + (512ull << 20) + 2 * FileSize + 2 * MaxBytes);
    ::setrlimit(RLIMIT_AS, &as);
  }
#endif
  sqlite3_hard_heap_limit64(static_cast<sqlite3_int64>(MaxBytes + (64ull << 20)));

  // libmdb reports problems on standard error and dumps pages on standard output: its chatter is
  // no measure of the file (it complains about valid files too) and stays out of the program's
  // own output.
#ifdef KELV_DB_SANITIZED
  // Sanitizer reports of the reader stay visible on the program's own standard error.
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(::dup(STDERR_FILENO))));
  __sanitizer_set_death_callback(+[] { ::_exit(kSanitizerExit); });
#endif
  if (const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC); devNull >= 0) {
    ::dup2(devNull, STDERR_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
  }
  ::unsetenv("MDBOPTS");
  ::unsetenv("MDBICONV");
  ::unsetenv("MDBPATH");
  ::unsetenv("MDB_JET3_CHARSET");

  StartWatchdog(L);
  if (Hook) Hook();
  void* image = std::malloc(static_cast<std::size_t>(FileSize));
  if (!image) ChildFail(Out, "not enough memory to read the file");
  std::size_t got = 0;
  while (got < FileSize) {
    const ssize_t n = ::pread(In, static_cast<char*>(image) + got, static_cast<std::size_t>(FileSize - got),
                              static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ChildFail(Out, std::string("the file cannot be read: ") + std::strerror(errno));
    if (n == 0) ChildFail(Out, "the file changed while it was being read");
    got += static_cast<std::size_t>(n);
  }
  ::close(In);

  sqlite3* db = OpenMemoryDatabase(true);
  if (!db) ChildFail(Out, "no in-memory database");
  const std::string error = ReadJetImage(image, static_cast<std::size_t>(FileSize), db);
  if (!error.empty()) ChildFail(Out, "the file is damaged (" + error + ")");

  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db, "main", &size, SQLITE_SERIALIZE_NOCOPY);
  if (!bytes) bytes = sqlite3_serialize(db, "main", &size, 0);
  if (!bytes || size <= 0) ChildFail(Out, "the database could not be handed over");
  if (static_cast<std::uint64_t>(size) > MaxBytes) ChildFail(Out, "the file holds more data than allowed");
  ChildReply(Out, 0, bytes, static_cast<std::uint64_t>(size));
}

// ---------------------------------------------------------------------------------------------
// Parent

// Processor time (clock ticks) the process has used so far, or -1 when the system does not say.
long long ProcessTicks(pid_t Pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(Pid));
  Fd f(::open(path, O_RDONLY | O_CLOEXEC));
  if (f.Get() < 0) return -1;
  char buf[1024];
  const ssize_t n = ::read(f.Get(), buf, sizeof buf - 1);
  if (n <= 0) return -1;
  buf[n] = '\0';
  // After the name in parentheses: state, then fields 4 to 13, then utime and stime.
  const char* p = std::strrchr(buf, ')');
  if (!p) return -1;
  ++p;
  long long ticks = 0;
  for (int field = 3; field <= 15; ++field) {
    while (*p == ' ') ++p;
    if (!*p) return -1;
    if (field >= 14) ticks += std::strtoll(p, nullptr, 10);
    while (*p && *p != ' ') ++p;
  }
  return ticks;
}

// Reads exactly Size bytes from the child. 1: done; 0: end of data; -1: the child is stuck (it
// used no processor time for StuckSeconds while nothing came); -2: error.
int ReadFromChild(int F, void* Data, std::size_t Size, pid_t Pid, double StuckSeconds) {
  char* p = static_cast<char*>(Data);
  auto lastChange = std::chrono::steady_clock::now();
  long long lastTicks = -1;
  while (Size > 0) {
    pollfd pfd{F, POLLIN, 0};
    const int pr = ::poll(&pfd, 1, 1000);
    if (pr < 0 && errno == EINTR) continue;
    if (pr < 0) return -2;
    const auto now = std::chrono::steady_clock::now();
    if (pr == 0) {
      const long long ticks = ProcessTicks(Pid);
      if (ticks < 0 || ticks != lastTicks) {
        lastTicks = ticks;
        lastChange = now;
      } else if (std::chrono::duration<double>(now - lastChange).count() >= StuckSeconds) {
        return -1;
      }
      continue;
    }
    const ssize_t n = ::read(F, p, Size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return -2;
    if (n == 0) return 0;
    lastChange = now;
    p += n;
    Size -= static_cast<std::size_t>(n);
  }
  return 1;
}

struct Child {
  pid_t Pid{-1};
  int Status{0};  // wait status, once collected
  ~Child() { Stop(); }
  // Kills the child when it is still running and collects it.
  void Stop() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      Collect();
    }
  }
  // Collects a child that has closed its end of the pipe and is ending by itself; returns its
  // wait status.
  int Collect() {
    while (Pid > 0) {
      const pid_t r = ::waitpid(Pid, &Status, 0);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) Status = 0;  // already collected by the system (SIGCHLD ignored)
      Pid = -1;
    }
    return Status;
  }
};

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};

// What lies at a path that is not a regular file, for the message.
const char* KindOf(mode_t Mode) {
  if (S_ISDIR(Mode)) return "a folder";
  if (S_ISFIFO(Mode)) return "a named pipe";
  if (S_ISCHR(Mode)) return "a character device";
  if (S_ISBLK(Mode)) return "a block device";
  if (S_ISSOCK(Mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

int ReaderSanitizerReports() { return SanitizerReports.load(); }

sqlite3* ImportJetFile(const std::string& NativePath, const ImportOptions& Options) {
  const std::string prefix = "Cannot open the database '" + NativePath + "': ";
  auto unreadable = [&] { return Exception(prefix + "the file cannot be read (" + std::strerror(errno) + ")."); };
  // Only a regular file is opened: a named pipe or a device could block the open or the reads.
  struct stat st {};
  if (::stat(NativePath.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw Exception("Could not find file '" + NativePath + "'.");
    throw unreadable();
  }
  if (!S_ISREG(st.st_mode)) throw Exception(prefix + "it is not a file (" + KindOf(st.st_mode) + ").");
  // Should the path change in between, the non-blocking open still returns and the check below
  // sees what was opened.
  Fd in(::open(NativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (in.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw Exception("Could not find file '" + NativePath + "'.");
    throw unreadable();
  }
  if (::fstat(in.Get(), &st) != 0) throw unreadable();
  if (!S_ISREG(st.st_mode)) throw Exception(prefix + "it is not a file (" + KindOf(st.st_mode) + ").");
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  std::vector<unsigned char> head(kHeaderProbe);
  std::size_t got = 0;
  while (got < head.size() && got < fileSize) {
    const ssize_t n = ::pread(in.Get(), head.data() + got, head.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw unreadable();
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (std::string e = CheckJetHeader(head.data(), got, fileSize); !e.empty()) throw Exception(prefix + e + ".");

  Limits limits;
  limits.Cpu = Options.CpuSeconds > 0 ? Options.CpuSeconds : 30.0 + static_cast<double>(fileSize) / (1024.0 * 1024);
  limits.Stall = Options.StallCpuSeconds > 0 ? Options.StallCpuSeconds : 5.0;
  limits.Stuck = Options.StuckSeconds > 0 ? Options.StuckSeconds : 120.0;
  const std::uint64_t maxBytes = Options.MaxDatabaseBytes ? Options.MaxDatabaseBytes : (64ull << 20) + 8 * fileSize;

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw Exception(prefix + "no pipe for the reader (" + std::strerror(errno) + ").");
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  ::fcntl(readEnd.Get(), F_SETPIPE_SZ, 1 << 20);

  std::fflush(nullptr);
  Child child;
  child.Pid = ::fork();
  if (child.Pid < 0) throw Exception(prefix + "the reader process cannot start (" + std::strerror(errno) + ").");
  if (child.Pid == 0) {
    // Nothing may leave the child but its answer: an exception must not unwind into the
    // program's own code running on in this copy of the process.
    try {
      ::close(readEnd.Get());
      RunChild(writeEnd.Get(), in.Get(), fileSize, maxBytes, limits, Options.InReader);
    } catch (...) {
    }
    ::_exit(3);
  }
  writeEnd.Reset();
  in.Reset();

  // r: what ReadFromChild returned, or -3 when the answer itself is wrong (the child is killed).
  auto failure = [&](int r, const char* what) -> Exception {
    if (r == -1) {
      child.Stop();
      return Exception(prefix + "its reader stopped responding (it used no processor time for " + Seconds(limits.Stuck) +
                       " seconds).");
    }
    if (r != 0) {
      child.Stop();
      return Exception(prefix + "the file is damaged (" + what + ").");
    }
    // The child closed its end of the pipe: it is ending.
    readEnd.Reset();
    const int status = child.Collect();
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSanitizerExit) {
      ++SanitizerReports;
      return Exception(prefix + "the file is damaged (the reader stopped on a memory error).");
    }
    if ((WIFEXITED(status) && WEXITSTATUS(status) == kCpuExit) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU))
      return Exception(prefix + "reading it took more than " + Seconds(limits.Cpu) +
                       " seconds of processor time; the file may be damaged.");
    if (WIFEXITED(status) && WEXITSTATUS(status) == kStallExit)
      return Exception(prefix + "the file is damaged (its reader made no progress in " + Seconds(limits.Stall) +
                       " seconds of processor time).");
    if (WIFSIGNALED(status))
      return Exception(prefix + "the file is damaged (the reader stopped with signal " +
                       std::to_string(WTERMSIG(status)) + ").");
    return Exception(prefix + "the file is damaged (" + what + ").");
  };

  Reply reply{};
  if (const int r = ReadFromChild(readEnd.Get(), &reply, sizeof reply, child.Pid, limits.Stuck); r != 1)
    throw failure(r, "no answer from the reader");
  if (std::memcmp(reply.Magic, kMagic, sizeof kMagic) != 0) throw failure(-3, "garbled answer from the reader");
  if (reply.Status != 0) {
    if (reply.Length > kMaxMessage) throw failure(-3, "garbled answer from the reader");
    std::string message(static_cast<std::size_t>(reply.Length), '\0');
    if (const int r = ReadFromChild(readEnd.Get(), message.data(), message.size(), child.Pid, limits.Stuck); r != 1)
      throw failure(r, "no answer from the reader");
    readEnd.Reset();
    child.Collect();
    throw Exception(prefix + message + ".");
  }
  if (reply.Length == 0 || reply.Length > maxBytes) throw failure(-3, "the file holds more data than allowed");

  std::unique_ptr<unsigned char, SqliteFree> bytes(static_cast<unsigned char*>(sqlite3_malloc64(reply.Length)));
  if (!bytes) throw Exception(prefix + "not enough memory for its contents.");
  if (const int r = ReadFromChild(readEnd.Get(), bytes.get(), static_cast<std::size_t>(reply.Length), child.Pid,
                                  limits.Stuck);
      r != 1)
    throw failure(r, "the reader's answer was cut short");
  readEnd.Reset();
  const int status = child.Collect();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw failure(0, "the reader did not end cleanly");

  sqlite3* db = OpenMemoryDatabase();
  if (!db) throw Exception(prefix + "no in-memory database.");
  const auto size = static_cast<sqlite3_int64>(reply.Length);
  if (sqlite3_deserialize(db, "main", bytes.release(), size, size,
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) != SQLITE_OK) {
    sqlite3_close(db);
    throw Exception(prefix + "its contents could not be loaded.");
  }
  return db;
}

}  // namespace kelvdb
