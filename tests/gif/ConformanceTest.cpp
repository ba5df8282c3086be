// Conformance with the peer decoder (giflib) on the public test suite and on a corpus made by
// ImageMagick, netpbm and gifbuild; round trips of our writer through giflib, giftopnm,
// gifsicle and giftext, with LZW and with run-length output.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;
namespace fs = std::filesystem;

namespace {

// The generated corpus, made once per run.
const std::vector<fs::path>& Generated() {
  static testsupport::TempDir Dir;
  static std::vector<fs::path> Files = [] {
    std::vector<fs::path> V;
    const fs::path Script = testsupport::SourceDir() / "tests/gif/data/make_corpus.sh";
    if (testsupport::RunCommand("bash '" + Script.string() + "' '" + Dir.path().string() + "' >/dev/null 2>&1") != 0)
      return V;
    for (const auto& E : fs::directory_iterator(Dir.path()))
      if (E.path().extension() == ".gif") V.push_back(E.path());
    std::sort(V.begin(), V.end());
    return V;
  }();
  return Files;
}

std::vector<fs::path> Suite() {
  std::vector<fs::path> V;
  const fs::path Dir = testsupport::TestDataDir() / "gif-test-suite/gifs";
  if (testsupport::TestDataDir().empty() || !fs::exists(Dir)) return V;
  for (const auto& E : fs::directory_iterator(Dir))
    if (E.path().extension() == ".gif") V.push_back(E.path());
  std::sort(V.begin(), V.end());
  return V;
}

int OurLoopCount(gif::TGIFImage& Image) {
  for (int f = 0; f < Image.Images().Count(); ++f) {
    gif::TGIFSubImage* F = Image.Images().FrameAt(f);
    for (int e = 0; e < F->Extensions().Count(); ++e)
      if (auto* L = dynamic_cast<gif::TGIFAppExtNSLoop*>(F->Extensions().ExtensionAt(e)))
        if (L->AppIdentifier() == "NETSCAPE") return L->LoopCount();
  }
  return -1;
}

// Our frames equal the peer's: positions, sizes, interlacing, tables, pixels, timing,
// disposal and transparency, loop count.
void ExpectSameAsPeer(const Bytes& Gif, const std::string& Name) {
  const PeerImage P = PeerDecode(Gif);
  ASSERT_TRUE(P.Ok) << Name << ": peer error " << P.Error;
  const Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "") << Name;
  gif::TGIFImage& I = *L.Image;
  EXPECT_EQ(I.Width(), P.Width) << Name;
  EXPECT_EQ(I.Height(), P.Height) << Name;
  EXPECT_EQ(MapBytes(I.GlobalColorMap()), P.GlobalMap) << Name;
  EXPECT_EQ(I.Header().BackgroundColorIndex(), P.Background) << Name;
  EXPECT_EQ(OurLoopCount(I), P.LoopCount) << Name;
  // Frames that hold extensions only (no image) are not frames to the peer.
  std::vector<gif::TGIFSubImage*> Frames;
  for (int f = 0; f < I.Images().Count(); ++f)
    if (!I.Images().FrameAt(f)->IsEmpty()) Frames.push_back(I.Images().FrameAt(f));
  ASSERT_EQ(Frames.size(), P.Frames.size()) << Name;
  for (std::size_t f = 0; f < Frames.size(); ++f) {
    gif::TGIFSubImage* F = Frames[f];
    const PeerFrame& Q = P.Frames[f];
    const std::string Where = Name + " frame " + std::to_string(f);
    EXPECT_EQ(F->Left(), Q.Left) << Where;
    EXPECT_EQ(F->Top(), Q.Top) << Where;
    EXPECT_EQ(F->Width(), Q.Width) << Where;
    EXPECT_EQ(F->Height(), Q.Height) << Where;
    EXPECT_EQ(F->IsInterlaced(), Q.Interlace) << Where;
    EXPECT_EQ(MapBytes(F->ColorMap()), Q.LocalMap) << Where;
    EXPECT_TRUE(FramePixels(F) == Q.Pixels) << Where;
    gif::TGIFGraphicControlExtension* G = F->GraphicControlExtension();
    EXPECT_EQ(G != nullptr, Q.HasGcb) << Where;
    if (G && Q.HasGcb) {
      EXPECT_EQ(G->DelayTime(), Q.Delay) << Where;
      EXPECT_EQ(G->DisposalMethod(), Q.Disposal) << Where;
      EXPECT_EQ(F->Transparent() ? G->TransparentIndex() : -1, Q.Transparent) << Where;
    }
  }
}

std::vector<std::pair<std::string, Bytes>> AllFiles() {
  std::vector<std::pair<std::string, Bytes>> V;
  for (const auto& P : Suite()) V.push_back({P.filename().string(), testsupport::ReadFile(P)});
  for (const auto& P : Generated()) V.push_back({P.filename().string(), testsupport::ReadFile(P)});
  return V;
}

std::string Shell(const std::string& Cmd) {
  std::string Out;
  testsupport::RunCommand(Cmd, &Out);
  return Out;
}

}  // namespace

TEST(GifConformance, TestSuiteMatchesPeer) {
  SKIP_WITHOUT_TESTDATA();
  const auto Files = Suite();
  ASSERT_FALSE(Files.empty());
  for (const auto& P : Files) ExpectSameAsPeer(testsupport::ReadFile(P), P.filename().string());
}

TEST(GifConformance, GeneratedCorpusMatchesPeer) {
  SKIP_WITHOUT_PROGRAM("convert");
  SKIP_WITHOUT_PROGRAM("pamtogif");
  SKIP_WITHOUT_PROGRAM("gifbuild");
  ASSERT_GE(Generated().size(), 15u);
  for (const auto& P : Generated()) ExpectSameAsPeer(testsupport::ReadFile(P), P.filename().string());
}

TEST(GifConformance, RoundTripThroughPeer) {
  for (const auto& [Name, Gif] : AllFiles()) {
    for (auto Kind : {gif::ckLZW, gif::ckRLE}) {
      Loaded L = Load(Gif);
      ASSERT_EQ(L.Error, "") << Name;
      L.Image->SetCompression(Kind);
      const Bytes Out = Save(*L.Image);
      // What we wrote reads back the same through us and through the peer.
      const PeerImage A = PeerDecode(Gif), B = PeerDecode(Out);
      ASSERT_TRUE(B.Ok) << Name << " " << Kind;
      ASSERT_EQ(A.Frames.size(), B.Frames.size()) << Name;
      for (std::size_t f = 0; f < A.Frames.size(); ++f) {
        EXPECT_TRUE(A.Frames[f].Pixels == B.Frames[f].Pixels) << Name << " frame " << f << " kind " << Kind;
        EXPECT_EQ(A.Frames[f].Delay, B.Frames[f].Delay) << Name;
        EXPECT_EQ(A.Frames[f].Transparent, B.Frames[f].Transparent) << Name;
        EXPECT_EQ(A.Frames[f].Disposal, B.Frames[f].Disposal) << Name;
      }
      EXPECT_EQ(A.LoopCount, B.LoopCount) << Name;
      ExpectSameAsPeer(Out, Name + " rewritten");
      const Loaded Back = Load(Out);
      EXPECT_EQ(Back.Error, "");
      EXPECT_TRUE(Back.Warnings.empty()) << Name;
    }
  }
}

TEST(GifConformance, RoundTripThroughTools) {
  SKIP_WITHOUT_PROGRAM("giftopnm");
  SKIP_WITHOUT_PROGRAM("gifsicle");
  SKIP_WITHOUT_PROGRAM("giftext");
  testsupport::TempDir Dir;
  const std::regex Images(R"((\d+) images?)");
  for (const auto& [Name, Gif] : AllFiles()) {
    const fs::path In = Dir / "in.gif";
    testsupport::WriteFile(In, Gif);
    const std::string PnmIn = Shell("giftopnm -image=all '" + In.string() + "' 2>/dev/null | md5sum");
    const std::string InfoIn = Shell("gifsicle --info '" + In.string() + "' 2>&1");
    for (auto Kind : {gif::ckLZW, gif::ckRLE}) {
      Loaded L = Load(Gif);
      L.Image->SetCompression(Kind);
      const fs::path Out = Dir / "out.gif";
      testsupport::WriteFile(Out, Save(*L.Image));
      // The same colours pixel for pixel, frame by frame.
      EXPECT_EQ(Shell("giftopnm -image=all '" + Out.string() + "' 2>/dev/null | md5sum"), PnmIn) << Name << " " << Kind;
      // gifsicle sees the same images, loop and timing (interlacing may differ: a frame with a
      // local table is written plain).
      const std::string InfoOut = Shell("gifsicle --info '" + Out.string() + "' 2>&1");
      std::smatch A, B;
      ASSERT_TRUE(std::regex_search(InfoIn, A, Images)) << InfoIn;
      ASSERT_TRUE(std::regex_search(InfoOut, B, Images)) << InfoOut;
      EXPECT_EQ(A[1], B[1]) << Name;
      for (const char* Key : {"loop forever", "loop count", "transparent", "delay", "disposal"})
        EXPECT_EQ(InfoIn.find(Key) != std::string::npos, InfoOut.find(Key) != std::string::npos) << Name << " " << Key;
      EXPECT_EQ(InfoOut.find("warning"), std::string::npos) << InfoOut;
      // giftext reads every block to the end.
      std::string Text;
      EXPECT_EQ(testsupport::RunCommand("giftext '" + Out.string() + "' 2>&1", &Text), 0) << Name;
      EXPECT_NE(Text.find("GIF file terminated normally"), std::string::npos) << Name << "\n" << Text;
    }
  }
}
