// The import on a machine whose every processor is busy (four spinning processes per processor):
// good files still open, for the reader's limits count the processor time it gets, not the time
// it waits for it; and a reader that loops is still stopped. Runs alone (RUN_SERIAL).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "platform/db/JetImport.h"
#include "platform/rtl/SysUtils.h"
#include "support/CpuHog.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

std::string OpenError(const fs::path& File, const kelvdb::ImportOptions& Options = {}) {
  try {
    sqlite3_close(kelvdb::ImportJetFile(File.string(), Options));
    return {};
  } catch (const Exception& e) {
    return e.Message();
  }
}

void Spin() {
  for (;;) asm volatile("" ::: "memory");
}

}  // namespace

TEST(JetImportUnderLoad, GoodFilesOpenAndALoopIsStillStopped) {
  std::vector<fs::path> files;
#ifdef KELV_LARGE_CATALOGUE
  if (fs::exists(KELV_LARGE_CATALOGUE)) files.push_back(KELV_LARGE_CATALOGUE);
#endif
  if (!testsupport::TestDataDir().empty()) files.push_back(testsupport::TestDataDir() / "jet4" / "testV2000.mdb");
  testsupport::CpuHog hog;
  ASSERT_GT(hog.Count(), 0u);
  for (const fs::path& file : files) EXPECT_EQ(OpenError(file), "") << file;
  kelvdb::ImportOptions o;
  o.InReader = Spin;
  o.StallCpuSeconds = 1;
  const fs::path any = files.empty() ? fs::path("/nonexistent") : files.back();
  if (!files.empty()) {
    EXPECT_EQ(OpenError(any, o), "Cannot open the database '" + any.string() +
                                     "': the file is damaged (its reader made no progress in 1 seconds of processor time).");
  }
  EXPECT_EQ(kelvdb::ReaderSanitizerReports(), 0);
}
