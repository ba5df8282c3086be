// The guarded import: header check here, libmdb in a child process (see JetImport.h).
#include "platform/db/JetImport.h"

#include "platform/rtl/SysUtils.h"

#include <sqlite3.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
// Exit status of a reader ended by a sanitizer report.
constexpr int kSanitizerExit = 86;
std::atomic<int> SanitizerReports{0};
constexpr char kMagic[8] = {'K', 'E', 'L', 'V', 'D', 'B', '1', '\0'};
constexpr std::size_t kMaxMessage = 4096;
constexpr std::size_t kMaxLog = 64 * 1024;

struct Reply {
  char Magic[8];
  std::uint32_t Status;  // 0: database follows; 1: message follows
  std::uint32_t Reserved;
  std::uint64_t Length;
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

// What libmdb printed, first line only; empty when it printed nothing worth reporting.
std::string LibraryComplaint(int LogFd) {
  if (LogFd < 0) return {};
  const off_t size = ::lseek(LogFd, 0, SEEK_END);
  if (size <= 0) return {};
  std::string text(static_cast<std::size_t>(std::min<off_t>(size, kMaxLog)), '\0');
  const ssize_t n = ::pread(LogFd, text.data(), text.size(), 0);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    // A usage map that libmdb does not know makes it scan every page itself: harmless.
    if (line.empty() || line.find("brute force") != std::string::npos) continue;
    return line.substr(0, 200);
  }
  return {};
}

[[noreturn]] void RunChild(int Out, const std::string& Path, std::uint64_t FileSize, std::uint64_t MaxBytes,
                           double TimeoutSeconds) {
  // Default dispositions: a crash must end this process, not run the parent's handlers.
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTERM, SIGINT, SIGALRM, SIGPIPE, SIGCHLD})
    std::signal(sig, SIG_DFL);
  std::signal(SIGXFSZ, SIG_IGN);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() == 1) ::_exit(1);

  rlimit cpu{};
  cpu.rlim_cur = cpu.rlim_max = static_cast<rlim_t>(TimeoutSeconds) + 2;
  ::setrlimit(RLIMIT_CPU, &cpu);
  rlimit fsize{};
  fsize.rlim_cur = fsize.rlim_max = kMaxLog;
  ::setrlimit(RLIMIT_FSIZE, &fsize);
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

  // libmdb reports problems on standard error (and dumps pages on standard output): keep them
  // to judge the file, and out of the program's own output.
  int logFd = ::memfd_create("kelv-mdb-log", MFD_CLOEXEC);
#ifdef KELV_DB_SANITIZED
  // Sanitizer reports of the reader stay visible on the program's own standard error.
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(::dup(STDERR_FILENO))));
  __sanitizer_set_death_callback(+[] { ::_exit(kSanitizerExit); });
#endif
  if (logFd >= 0) {
    ::dup2(logFd, STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(devNull >= 0 ? devNull : logFd, STDOUT_FILENO);
  }
  ::unsetenv("MDBOPTS");
  ::unsetenv("MDBICONV");
  ::unsetenv("MDBPATH");
  ::unsetenv("MDB_JET3_CHARSET");

  Fd in(::open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) ChildFail(Out, std::string("the file cannot be read: ") + std::strerror(errno));
  void* image = std::malloc(static_cast<std::size_t>(FileSize));
  if (!image) ChildFail(Out, "not enough memory to read the file");
  std::size_t got = 0;
  while (got < FileSize) {
    const ssize_t n = ::read(in.Get(), static_cast<char*>(image) + got, static_cast<std::size_t>(FileSize - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ChildFail(Out, "the file changed while it was being read");
    got += static_cast<std::size_t>(n);
  }

  sqlite3* db = OpenMemoryDatabase(true);
  if (!db) ChildFail(Out, "no in-memory database");
  const std::string error = ReadJetImage(image, static_cast<std::size_t>(FileSize), db);
  if (!error.empty()) ChildFail(Out, "the file is damaged (" + error + ")");
  if (std::string complaint = LibraryComplaint(logFd); !complaint.empty())
    ChildFail(Out, "the file is damaged (" + complaint + ")");

  sqlite3_int64 size = 0;
  unsigned char* bytes = sqlite3_serialize(db, "main", &size, SQLITE_SERIALIZE_NOCOPY);
  if (!bytes) bytes = sqlite3_serialize(db, "main", &size, 0);
  if (!bytes || size <= 0) ChildFail(Out, "the database could not be handed over");
  if (static_cast<std::uint64_t>(size) > MaxBytes) ChildFail(Out, "the file holds more data than allowed");
  ChildReply(Out, 0, bytes, static_cast<std::uint64_t>(size));
}

// ---------------------------------------------------------------------------------------------
// Parent

// Reads exactly Size bytes before Deadline. 1: done; 0: end of data; -1: time out; -2: error.
int ReadUntil(int F, void* Data, std::size_t Size, std::chrono::steady_clock::time_point Deadline) {
  char* p = static_cast<char*>(Data);
  while (Size > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    pollfd pfd{F, POLLIN, 0};
    const int pr = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (pr < 0 && errno == EINTR) continue;
    if (pr < 0) return -2;
    if (pr == 0) continue;
    const ssize_t n = ::read(F, p, Size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return -2;
    if (n == 0) return 0;
    p += n;
    Size -= static_cast<std::size_t>(n);
  }
  return 1;
}

struct Child {
  pid_t Pid{-1};
  ~Child() { Stop(); }
  // Kills the child when it is still running and collects it; returns its wait status.
  int Stop() {
    int status = 0;
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
      }
      Pid = -1;
    }
    return status;
  }
  // Collects a child that is ending by itself (up to a moment), else kills it.
  int Collect() {
    int status = 0;
    for (int i = 0; i < 200 && Pid > 0; ++i) {
      const pid_t r = ::waitpid(Pid, &status, WNOHANG);
      if (r == Pid) {
        Pid = -1;
        return status;
      }
      if (r < 0 && errno == ECHILD) {  // already collected by the system (SIGCHLD ignored)
        Pid = -1;
        return 0;
      }
      if (r < 0 && errno != EINTR) break;
      ::usleep(5000);
    }
    return Stop();
  }
};

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};

}  // namespace

int ReaderSanitizerReports() { return SanitizerReports.load(); }

sqlite3* ImportJetFile(const std::string& NativePath, const ImportOptions& Options) {
  const std::string prefix = "Cannot open the database '" + NativePath + "': ";
  Fd in(::open(NativePath.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) throw Exception("Could not find file '" + NativePath + "'.");
    throw Exception(prefix + "the file cannot be read (" + std::strerror(errno) + ").");
  }
  struct stat st {};
  if (::fstat(in.Get(), &st) != 0) throw Exception(prefix + "the file cannot be read (" + std::strerror(errno) + ").");
  if (!S_ISREG(st.st_mode)) throw Exception(prefix + "it is not a file.");
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  std::vector<unsigned char> head(kHeaderProbe);
  std::size_t got = 0;
  while (got < head.size() && got < fileSize) {
    const ssize_t n = ::read(in.Get(), head.data() + got, head.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Exception(prefix + "the file cannot be read (" + std::strerror(errno) + ").");
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  in.Reset();
  if (std::string e = CheckJetHeader(head.data(), got, fileSize); !e.empty()) throw Exception(prefix + e + ".");

  const double timeout = Options.TimeoutSeconds > 0 ? Options.TimeoutSeconds
                                                    : 5.0 + static_cast<double>(fileSize) / (8.0 * 1024 * 1024);
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
      RunChild(writeEnd.Get(), NativePath, fileSize, maxBytes, timeout);
    } catch (...) {
    }
    ::_exit(3);
  }
  writeEnd.Reset();

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(timeout * 1000));
  auto failure = [&](int r, const char* what) -> Exception {
    if (r == -1) {
      child.Stop();
      char secs[32];
      std::snprintf(secs, sizeof secs, "%g", timeout);
      return Exception(prefix + "reading it took longer than " + secs + " seconds; the file may be damaged.");
    }
    const int status = child.Collect();
    if (WIFEXITED(status) && WEXITSTATUS(status) == kSanitizerExit) {
      ++SanitizerReports;
      return Exception(prefix + "the file is damaged (the reader stopped on a memory error).");
    }
    if (WIFSIGNALED(status))
      return Exception(prefix + "the file is damaged (the reader stopped with signal " +
                       std::to_string(WTERMSIG(status)) + ").");
    return Exception(prefix + "the file is damaged (" + what + ").");
  };

  Reply reply{};
  if (const int r = ReadUntil(readEnd.Get(), &reply, sizeof reply, deadline); r != 1) throw failure(r, "no answer from the reader");
  if (std::memcmp(reply.Magic, kMagic, sizeof kMagic) != 0) throw failure(0, "garbled answer from the reader");
  if (reply.Status != 0) {
    if (reply.Length > kMaxMessage) throw failure(0, "garbled answer from the reader");
    std::string message(static_cast<std::size_t>(reply.Length), '\0');
    if (const int r = ReadUntil(readEnd.Get(), message.data(), message.size(), deadline); r != 1) throw failure(r, "no answer from the reader");
    child.Collect();
    throw Exception(prefix + message + ".");
  }
  if (reply.Length == 0 || reply.Length > maxBytes) throw failure(0, "the file holds more data than allowed");

  std::unique_ptr<unsigned char, SqliteFree> bytes(static_cast<unsigned char*>(sqlite3_malloc64(reply.Length)));
  if (!bytes) throw Exception(prefix + "not enough memory for its contents.");
  if (const int r = ReadUntil(readEnd.Get(), bytes.get(), static_cast<std::size_t>(reply.Length), deadline); r != 1)
    throw failure(r, "the reader's answer was cut short");
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
