// Every picture of the GIF test suite is animated frame by frame onto a canvas and compared with
// the suite's composed frames (PNG, transparent where nothing is drawn): disposal methods,
// transparency, frames partly or wholly outside the screen. Inline and threaded painters, and
// optimised copies of every picture, must all show the same frames.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;
namespace fs = std::filesystem;

namespace {

// A colour none of the suite's pictures uses: it stands for "nothing drawn here".
constexpr Rgb kGround{1, 2, 3};
constexpr TColor kGroundColor = 0x030201;

fs::path SuiteDir() { return testsupport::TestDataDir() / "gif-test-suite" / "gifs"; }

std::vector<fs::path> SuiteFiles() {
  std::vector<fs::path> Files;
  if (testsupport::TestDataDir().empty() || !fs::exists(SuiteDir())) return Files;
  for (const auto& E : fs::directory_iterator(SuiteDir()))
    if (E.path().extension() == ".gif") Files.push_back(E.path());
  std::sort(Files.begin(), Files.end());
  return Files;
}

// The expected frames of a picture; the ground colour where they are transparent.
std::vector<std::vector<Rgb>> Expected(const fs::path& Gif) {
  std::vector<std::vector<Rgb>> Frames;
  const fs::path Dir = SuiteDir() / "frames";
  const std::string Stem = Gif.stem().string();
  std::vector<fs::path> Names;
  if (fs::exists(Dir / (Stem + ".png"))) Names.push_back(Dir / (Stem + ".png"));
  for (int i = 0; fs::exists(Dir / (Stem + "-" + std::to_string(i) + ".png")); ++i)
    Names.push_back(Dir / (Stem + "-" + std::to_string(i) + ".png"));
  for (const fs::path& N : Names) {
    QImage Q(QString::fromStdString(N.string()));
    Q = Q.convertToFormat(QImage::Format_ARGB32);
    std::vector<Rgb> P;
    for (int y = 0; y < Q.height(); ++y)
      for (int x = 0; x < Q.width(); ++x) {
        const QRgb C = Q.pixel(x, y);
        P.push_back(qAlpha(C) < 128 ? kGround
                                    : Rgb{static_cast<std::uint8_t>(qRed(C)), static_cast<std::uint8_t>(qGreen(C)),
                                          static_cast<std::uint8_t>(qBlue(C))});
      }
    Frames.push_back(P);
  }
  return Frames;
}

std::unique_ptr<TBitmap> Ground(int W, int H) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(W);
  B->SetHeight(H);
  B->Canvas()->Brush()->SetColor(kGroundColor);
  B->Canvas()->FillRect(TRect{0, 0, W, H});
  return B;
}

// The frames a painter shows, one capture after each frame.
std::vector<std::vector<Rgb>> Animate(gif::TGIFImage& Image, bool Threaded) {
  const int W = Image.Width(), H = Image.Height();
  auto Target = Ground(W, H);
  std::vector<std::vector<Rgb>> Shown;
  bool Ended = false;
  Image.OnPaintFrameDone = [&](TObject*) { Shown.push_back(PixelsOf(Target.get())); };
  Image.OnPaintEnd = [&](TObject*) { Ended = true; };
  gif::TGIFPaintFlags Options = gif::drTransparent | gif::drAnimate | gif::drDirect;
  if (Threaded && Image.Images().Count() > 1) {
    Options |= gif::drThreaded;
    Image.SetAnimationSpeed(-1);  // a threaded painter then does not wait at all
  } else {
    // (A still picture is painted inline, where a paused rate would wait 12 s first.)
    Image.SetAnimationSpeed(1000000);
  }
  gif::TGIFPainter* Painter = nullptr;
  gif::TGIFPainter* P = Image.StartPainter(&Painter, Target->Canvas(), Options, TRect{0, 0, W, H});
  if (P) {
    P->Start();
    for (int i = 0; i < 2000 && (!Ended || Painter); ++i) CheckSynchronize(10);
  }
  EXPECT_TRUE(Ended);
  EXPECT_EQ(Painter, nullptr);
  Image.OnPaintFrameDone = nullptr;
  Image.OnPaintEnd = nullptr;
  return Shown;
}

void Compare(const std::vector<std::vector<Rgb>>& Got, const std::vector<std::vector<Rgb>>& Want,
             const std::string& What) {
  ASSERT_EQ(Got.size(), Want.size()) << What;
  for (std::size_t f = 0; f < Got.size(); ++f) {
    ASSERT_EQ(Got[f].size(), Want[f].size()) << What << " frame " << f;
    int Wrong = 0;
    std::size_t First = 0;
    for (std::size_t i = 0; i < Got[f].size(); ++i)
      if (!(Got[f][i] == Want[f][i]) && Wrong++ == 0) First = i;
    EXPECT_EQ(Wrong, 0) << What << " frame " << f << ": first difference at pixel " << First << " got "
                        << Got[f][First] << " want " << Want[f][First];
  }
}

}  // namespace

TEST(SuiteRender, FramesMatchTheComposedFrames) {
  SKIP_WITHOUT_TESTDATA();
  const auto Files = SuiteFiles();
  if (Files.empty()) GTEST_SKIP() << "gif test suite not present";
  for (const fs::path& File : Files) {
    const auto Want = Expected(File);
    if (Want.empty()) continue;
    Loaded L = Load(testsupport::ReadFile(File));
    ASSERT_TRUE(L.Image && L.Error.empty()) << File << ": " << L.Error;
    Compare(Animate(*L.Image, false), Want, File.filename().string() + " inline");
    Compare(Animate(*L.Image, true), Want, File.filename().string() + " threaded");

    // A still picture is drawn by Draw itself, through its mask.
    if (L.Image->Images().Count() == 1) {
      auto Target = Ground(L.Image->Width(), L.Image->Height());
      Target->Canvas()->Draw(0, 0, L.Image.get());
      Compare({PixelsOf(Target.get())}, Want,
              File.filename().string() + " drawn");
    }
  }
}

TEST(SuiteRender, OptimisedPicturesShowTheSameFrames) {
  SKIP_WITHOUT_TESTDATA();
  const auto Files = SuiteFiles();
  if (Files.empty()) GTEST_SKIP() << "gif test suite not present";
  for (const fs::path& File : Files) {
    Loaded L = Load(testsupport::ReadFile(File));
    ASSERT_TRUE(L.Image && L.Error.empty()) << File;
    const auto Before = Animate(*L.Image, false);
    const std::size_t Size = testsupport::ReadFile(File).size();
    L.Image->Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    // Saved and read back, the optimised picture still shows the same frames.
    Loaded Again = Load(Save(*L.Image));
    ASSERT_TRUE(Again.Image && Again.Error.empty()) << File << ": " << Again.Error;
    Compare(Animate(*Again.Image, false), Before, File.filename().string() + " optimised");
    EXPECT_LE(Save(*Again.Image).size(), Size + 64) << File;
  }
}

TEST(SuiteRender, GeneratedAnimationsKeepTheirFramesWhenOptimised) {
  // Small animations of every kind: global and local maps, transparency, the four disposals,
  // frames that repeat much of the one before. Optimised (all steps), saved and read back, each
  // must show the same composed frames (the last one when frames were dropped).
  const std::vector<Rgb> Palette{{200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {200, 200, 0},
                                 {0, 200, 200}, {200, 0, 200}, {90, 90, 90}, {250, 250, 250}};
  for (int Seed = 0; Seed < 150; ++Seed) {
    Rng R(static_cast<std::uint64_t>(Seed) + 11);
    gif::TGIFImage Image;
    const int SW = 12 + R.Below(12), SH = 8 + R.Below(10);
    for (const Rgb& C : Palette) Image.GlobalColorMap()->AddColor(C.R | (C.G << 8) | (C.B << 16));
    Image.Header().SetWidth(SW);
    Image.Header().SetHeight(SH);
    Bytes Previous;
    int PW = 0, PH = 0;
    const int Frames = 2 + R.Below(5);
    for (int f = 0; f < Frames; ++f) {
      const bool Same = f > 0 && R.Below(2);
      const int W = Same ? PW : 1 + R.Below(SW), H = Same ? PH : 1 + R.Below(SH);
      const int X = R.Below(SW - W + 1), Y = R.Below(SH - H + 1);
      Bytes P(static_cast<std::size_t>(W) * H);
      for (std::size_t i = 0; i < P.size(); ++i)
        P[i] = Same && R.Below(4) ? Previous[i] : static_cast<std::uint8_t>(R.Below(8));
      std::vector<Rgb> Local;
      if (R.Below(4) == 0) Local = {{10, 60, 110}, {160, 210, 10}, {60, 10, 160}, {230, 130, 30}, {200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {30, 30, 30}};
      gif::TGIFSubImage* F = AddFrame(Image, X, Y, W, H, P, Local);
      const int Disposal = R.Below(4);
      const int Transparent = R.Below(2) ? R.Below(8) : -1;
      AddGce(F, Disposal, 1 + R.Below(5), Transparent);
      Previous = P;
      PW = W;
      PH = H;
    }
    Loaded Original = Load(Save(Image));
    ASSERT_TRUE(Original.Error.empty()) << Seed << ": " << Original.Error;
    const auto Before = Animate(*Original.Image, false);
    Original.Image->Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    Loaded After = Load(Save(*Original.Image));
    ASSERT_TRUE(After.Error.empty()) << Seed << ": " << After.Error;
    const auto Shown = Animate(*After.Image, false);
    if (Shown.size() == Before.size())
      Compare(Shown, Before, "generated " + std::to_string(Seed));
    else if (!Shown.empty())
      Compare({Shown.back()}, {Before.back()}, "generated " + std::to_string(Seed) + " (last frame)");
  }
}
