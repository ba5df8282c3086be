#pragma once
// Catalogue files written by the Jet 4.0 writer for the tests (see tests/tools/CMakeLists.txt).
#include <filesystem>
#include <string>

#include "support/TestSupport.h"

namespace dbtest {

inline std::filesystem::path Catalogue(const std::string& Name) {
#ifdef KELV_TEST_CATALOGUES
  return std::filesystem::path(KELV_TEST_CATALOGUES) / (Name + ".mdb");
#else
  return std::filesystem::path("/nonexistent") / (Name + ".mdb");
#endif
}

inline std::string ConnectionString(const std::filesystem::path& File) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=" + File.string();
}

}  // namespace dbtest

#define SKIP_WITHOUT_CATALOGUE(name)                                              \
  do {                                                                            \
    if (!std::filesystem::exists(::dbtest::Catalogue(name)))                      \
      GTEST_SKIP() << "test catalogue " << (name) << " not built";                \
  } while (0)
