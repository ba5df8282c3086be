#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/rtl/SysUtils.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

void Touch(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "x";
}

}  // namespace

TEST(FileNames, BothSeparatorsAreAccepted) {
  EXPECT_EQ(ExtractFilePath("C:\\kelv\\images/VW\\golf.jpg"), "C:\\kelv\\images/VW\\");
  EXPECT_EQ(ExtractFileName("C:\\kelv\\images/VW\\golf.jpg"), "golf.jpg");
  EXPECT_EQ(ExtractFileName("golf.jpg"), "golf.jpg");
  EXPECT_EQ(ExtractFilePath("golf.jpg"), "");
  EXPECT_EQ(ExtractFileDir("/opt/kelv/kelv"), "/opt/kelv");
  EXPECT_EQ(ExtractFileDir("\\DB\\kelv.m$$"), "\\DB");
  EXPECT_EQ(ExtractFileDir("/kelv"), "/");
  EXPECT_EQ(ExtractFileDir("C:\\kelv"), "C:\\");
  EXPECT_EQ(ExtractFileExt("db/kelv.m$$"), ".m$$");
  EXPECT_EQ(ExtractFileExt("a.b\\noext"), "");
  EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExt("res\\Van.bmp", ".png"), "res\\Van.png");
  EXPECT_EQ(ChangeFileExt("a.b/noext", ".txt"), "a.b/noext.txt");
  EXPECT_EQ(ChangeFileExt("name.old", ""), "name");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/opt/kelv"), "/opt/kelv/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\kelv\\"), "C:\\kelv\\");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
}

TEST(ExecutableFolder, RealAndOverridden) {
  const std::string real = ExecutableFolder();
  ASSERT_FALSE(real.empty());
  EXPECT_EQ(real.back(), '/');
  EXPECT_TRUE(FileExists(real + ExtractFileName(ExecutableName())));
  SetExecutableFolder("/tmp/kelv-test");
  EXPECT_EQ(ExecutableFolder(), "/tmp/kelv-test/");
  SetExecutableFolder("");
  EXPECT_EQ(ExecutableFolder(), real);
}

TEST(FileExistence, FilesAndFolders) {
  testsupport::TempDir dir;
  Touch(dir / "f.txt");
  EXPECT_TRUE(FileExists((dir / "f.txt").string()));
  EXPECT_FALSE(FileExists(dir.path().string()));
  EXPECT_TRUE(DirectoryExists(dir.path().string()));
  EXPECT_FALSE(DirectoryExists((dir / "f.txt").string()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists((dir / "none").string()));
}

TEST(FindFileNoCase, MixedCaseWithWindowsSeparators) {
  testsupport::TempDir dir;
  Touch(dir / "DB" / "KELV.M$$");
  const std::string base = dir.path().string();
  EXPECT_EQ(FindFileNoCase(base + "\\db\\kelv.m$$"), base + "/DB/KELV.M$$");
  EXPECT_EQ(FindFileNoCase(base + "/\\DB//Kelv.M$$"), base + "/DB/KELV.M$$");
  EXPECT_EQ(FindFileNoCase(base + "\\db"), base + "/DB");  // folders too
  EXPECT_EQ(FindFileNoCase(base + "\\db\\kelv.mdb"), "");
  EXPECT_EQ(FindFileNoCase(base + "\\db\\kelv.m$$\\more"), "");
  EXPECT_EQ(FindFileNoCase(""), "");
}

TEST(FindFileNoCase, CyrillicNames) {
  testsupport::TempDir dir;
  Touch(dir / "Снимки" / "ЛАДА-ВАЗ" / "Нива 4x4.JPG");
  const std::string base = dir.path().string();
  EXPECT_EQ(FindFileNoCase(base + "\\снимки\\лада-ваз\\НИВА 4X4.jpg"), base + "/Снимки/ЛАДА-ВАЗ/Нива 4x4.JPG");
  EXPECT_EQ(FindFileNoCase(base + "\\снимки\\лада-ваз\\нива 4х4.jpg"), "");  // Cyrillic х is not x
}

TEST(FindFileNoCase, ExactMatchPreferredAndDeadEndsLeft) {
  testsupport::TempDir dir;
  Touch(dir / "a.txt");
  Touch(dir / "A.TXT");
  const std::string base = dir.path().string();
  EXPECT_EQ(FindFileNoCase(base + "/a.txt"), base + "/a.txt");
  EXPECT_EQ(FindFileNoCase(base + "/A.TXT"), base + "/A.TXT");
  EXPECT_EQ(FindFileNoCase(base + "/A.txt"), base + "/A.TXT");  // first variant in byte order
  // The exact folder lacks the file; its case variant has it.
  fs::create_directories(dir / "Img");
  Touch(dir / "img" / "car.gif");
  EXPECT_EQ(FindFileNoCase(base + "\\Img\\CAR.GIF"), base + "/img/car.gif");
}

TEST(FindFileNoCase, RelativePaths) {
  testsupport::TempDir dir;
  Touch(dir / "Res" / "Hatchback.bmp");
  const fs::path old = fs::current_path();
  fs::current_path(dir.path());
  const std::string found = FindFileNoCase("res\\hatchback.BMP");
  const std::string dotted = FindFileNoCase(".\\RES\\..\\res\\Hatchback.bmp");
  fs::current_path(old);
  EXPECT_EQ(found, "Res/Hatchback.bmp");
  EXPECT_EQ(dotted, "./Res/../Res/Hatchback.bmp");
}
