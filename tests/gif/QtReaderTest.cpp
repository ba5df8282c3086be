// Our writer's output decodes in Qt's own GIF reader to the same frames as the original file,
// with LZW and with run-length codes.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <filesystem>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;
namespace fs = std::filesystem;

namespace {

std::vector<QImage> QtFrames(const Bytes& Gif) {
  QByteArray Data(reinterpret_cast<const char*>(Gif.data()), static_cast<qsizetype>(Gif.size()));
  QBuffer Buffer(&Data);
  Buffer.open(QIODevice::ReadOnly);
  QImageReader Reader(&Buffer, "gif");
  std::vector<QImage> Frames;
  for (int i = 0; i < 1000; ++i) {
    QImage Image = Reader.read();
    if (Image.isNull()) break;
    Frames.push_back(Image.convertToFormat(QImage::Format_ARGB32));
    if (!Reader.jumpToNextImage()) break;
  }
  return Frames;
}

std::vector<fs::path> Files() {
  static testsupport::TempDir Dir;
  std::vector<fs::path> V;
  const fs::path Suite = testsupport::TestDataDir() / "gif-test-suite/gifs";
  if (!testsupport::TestDataDir().empty() && fs::exists(Suite))
    for (const auto& E : fs::directory_iterator(Suite))
      if (E.path().extension() == ".gif") V.push_back(E.path());
  const fs::path Script = testsupport::SourceDir() / "tests/gif/data/make_corpus.sh";
  if (testsupport::RunCommand("bash '" + Script.string() + "' '" + Dir.path().string() + "' >/dev/null 2>&1") == 0)
    for (const auto& E : fs::directory_iterator(Dir.path()))
      if (E.path().extension() == ".gif") V.push_back(E.path());
  std::sort(V.begin(), V.end());
  return V;
}

}  // namespace

TEST(GifQtReader, RewrittenFilesShowTheSameFrames) {
  if (!QImageReader::supportedImageFormats().contains("gif")) GTEST_SKIP() << "Qt has no GIF reader here";
  const auto All = Files();
  if (All.empty()) GTEST_SKIP() << "no GIF files";
  for (const auto& P : All) {
    const Bytes Gif = testsupport::ReadFile(P);
    const std::vector<QImage> Expected = QtFrames(Gif);
    ASSERT_FALSE(Expected.empty()) << P;
    for (auto Kind : {gif::ckLZW, gif::ckRLE}) {
      Loaded L = Load(Gif);
      ASSERT_EQ(L.Error, "") << P;
      L.Image->SetCompression(Kind);
      const std::vector<QImage> Got = QtFrames(Save(*L.Image));
      ASSERT_EQ(Got.size(), Expected.size()) << P;
      for (std::size_t f = 0; f < Got.size(); ++f) EXPECT_TRUE(Got[f] == Expected[f]) << P << " frame " << f << " " << Kind;
    }
  }
}
