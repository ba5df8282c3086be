#pragma once
// Small helpers shared by the test programs.
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// How long a test waits for what should come at once (a window shown, a loop ended, a thread
// done): a guard against a hang only, so generous that no slow machine reaches it. Qt's own
// QTRY_* macros give up after 5 s: tests use the *_WITH_TIMEOUT forms with this.
inline constexpr int kHangGuardMs = 300000;

// ../shared/testdata (or $KELV_TESTDATA); empty when absent, so tests can skip.
std::filesystem::path TestDataDir();

// The repository's top folder ($KELV_SOURCE, else the compiled-in path).
std::filesystem::path SourceDir();

// A fresh temporary folder removed when the object dies.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<unsigned char> ReadFile(const std::filesystem::path& p);
void WriteFile(const std::filesystem::path& p, const std::vector<unsigned char>& data);

// Runs a shell command; returns its exit status, standard output in *out when given.
int RunCommand(const std::string& cmd, std::string* out = nullptr);

// True when the program is on PATH.
bool HaveProgram(const std::string& name);

}  // namespace testsupport

// Skips the current test when the shared test data folder is absent.
#define SKIP_WITHOUT_TESTDATA()                                            \
  do {                                                                     \
    if (::testsupport::TestDataDir().empty())                              \
      GTEST_SKIP() << "shared test data not present";                      \
  } while (0)

#define SKIP_WITHOUT_PROGRAM(prog)                                         \
  do {                                                                     \
    if (!::testsupport::HaveProgram(prog))                                 \
      GTEST_SKIP() << prog " not installed";                               \
  } while (0)
