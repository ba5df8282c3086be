#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace testsupport {

fs::path TestDataDir() {
  const char* env = std::getenv("KELV_TESTDATA");
  fs::path p = env && *env ? fs::path(env) : fs::path(KELV_TESTDATA_DIR_DEFAULT);
  std::error_code ec;
  if (!fs::is_directory(p, ec)) return {};
  return fs::canonical(p, ec);
}

fs::path SourceDir() {
  const char* env = std::getenv("KELV_SOURCE");
  return env && *env ? fs::path(env) : fs::path(KELV_SOURCE_DIR_DEFAULT);
}

TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    auto p = fs::temp_directory_path() / ("kelv-test-" + std::to_string(rd()));
    std::error_code ec;
    if (fs::create_directory(p, ec)) {
      path_ = p;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<unsigned char> ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::vector<unsigned char>& data) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

int RunCommand(const std::string& cmd, std::string* out) {
  FILE* f = popen(cmd.c_str(), "r");
  if (!f) return -1;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
    if (out) out->append(buf.data(), n);
  int st = pclose(f);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool HaveProgram(const std::string& name) {
  return RunCommand("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

}  // namespace testsupport
