#pragma once
// Helpers of the benchmarks that run peer programs: a scratch folder of the process, removed at
// exit, and the CPU time that the finished child processes took.
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace benchtools {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& Name)
      : FPath(std::filesystem::temp_directory_path() / (Name + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(FPath);
  }
  ~ScratchFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(FPath, Ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

// User and system seconds of all waited-for children so far.
inline double ChildCpuSeconds() {
  rusage U{};
  getrusage(RUSAGE_CHILDREN, &U);
  return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

}  // namespace benchtools
