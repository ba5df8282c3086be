// Every picture of the GIF test suite is animated frame by frame onto a canvas and compared with
// the suite's composed frames (PNG, transparent where nothing is drawn): disposal methods,
// transparency, frames partly or wholly outside the screen. Inline and threaded painters must
// show the same frames; optimised copies of every picture (and of animations made here and by
// ImageMagick) the same pictures for the same times, with the same loop count and background,
// in no more bytes.
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

// The frames a painter shows, one capture after each frame (and in Times how long each stays:
// the painter's delay of its frame).
std::vector<std::vector<Rgb>> Animate(gif::TGIFImage& Image, bool Threaded, std::vector<int>* Times = nullptr) {
  const int W = Image.Width(), H = Image.Height();
  auto Target = Ground(W, H);
  std::vector<std::vector<Rgb>> Shown;
  bool Ended = false;
  Image.OnPaintFrameDone = [&](TObject* Sender) {
    Shown.push_back(PixelsOf(Target.get()));
    if (Times)
      Times->push_back(gif::FrameDelay(Image.Images().FrameAt(static_cast<gif::TGIFPainter*>(Sender)->ActiveFrame()), true));
  };
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

// What an animation shows: the composed pictures with the time each stays (consecutive equal
// pictures joined), the loop count (-1 without a looping extension) and the background colour
// (clNone without a global map).
struct Show {
  std::vector<std::pair<std::vector<Rgb>, int>> Pictures;
  int Loops{-1};
  TColor Background{clNone};
};

Show ShowOf(gif::TGIFImage& Image) {
  Show S;
  std::vector<int> Times;
  const auto Frames = Animate(Image, false, &Times);
  for (std::size_t i = 0; i < Frames.size(); ++i) {
    if (!S.Pictures.empty() && S.Pictures.back().first == Frames[i])
      S.Pictures.back().second += Times[i];
    else
      S.Pictures.emplace_back(Frames[i], Times[i]);
  }
  for (int f = 0; f < Image.Images().Count() && S.Loops < 0; ++f)
    for (int e = 0; e < Image.Images().FrameAt(f)->Extensions().Count() && S.Loops < 0; ++e)
      if (auto* L = dynamic_cast<gif::TGIFAppExtNSLoop*>(Image.Images().FrameAt(f)->Extensions().ExtensionAt(e)))
        S.Loops = L->LoopCount();
  if (Image.GlobalColorMap()->Count() > 0) S.Background = Image.BackColor();
  return S;
}

// Optimised with every step, saved and read back, the picture shows the same, and its stream
// is no larger.
void ExpectOptimisedShowsTheSame(const Bytes& Gif, const std::string& What) {
  Loaded L = Load(Gif);
  ASSERT_TRUE(L.Image && L.Error.empty()) << What << ": " << L.Error;
  const Show Before = ShowOf(*L.Image);
  L.Image->Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  const Bytes Out = Save(*L.Image);
  EXPECT_LE(Out.size(), Gif.size()) << What;
  Loaded Again = Load(Out);
  ASSERT_TRUE(Again.Image && Again.Error.empty()) << What << ": " << Again.Error;
  const Show After = ShowOf(*Again.Image);
  EXPECT_EQ(After.Loops, Before.Loops) << What;
  EXPECT_EQ(After.Background, Before.Background) << What;
  ASSERT_EQ(After.Pictures.size(), Before.Pictures.size()) << What;
  for (std::size_t i = 0; i < Before.Pictures.size(); ++i) {
    EXPECT_EQ(After.Pictures[i].second, Before.Pictures[i].second) << What << " time of picture " << i;
    Compare({After.Pictures[i].first}, {Before.Pictures[i].first}, What + " picture " + std::to_string(i));
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
  for (const fs::path& File : Files) ExpectOptimisedShowsTheSame(testsupport::ReadFile(File), File.filename().string());
}

TEST(SuiteRender, OptimisedImageMagickAnimationsShowTheSame) {
  // Animations as ImageMagick writes them: its own optimisation with one-pixel pause frames,
  // disposal to the background with a blank first frame, disposal to the previous picture, a
  // blank first frame with a long delay, and a loop count.
  SKIP_WITHOUT_PROGRAM("convert");
  testsupport::TempDir Dir;
  const std::vector<std::pair<std::string, std::string>> Made{
      {"pauses",
       "-size 64x48 -delay 20 xc:white \\( +clone -fill red -draw 'circle 20,20 28,28' \\) \\( +clone \\) \\( +clone \\) "
       "\\( +clone -fill blue -draw 'rectangle 30,10 50,30' \\) \\( +clone \\) \\( +clone -fill green -draw 'rectangle 5,30 "
       "60,40' \\) -loop 0 -layers Optimize"},
      {"background",
       "-size 64x48 -delay 10 -dispose Background xc:none \\( -size 64x48 xc:none -fill red -draw 'circle 10,20 "
       "16,26' \\) \\( -size 64x48 xc:none -fill red -draw 'circle 30,20 36,26' \\) \\( -size 64x48 xc:none -fill blue "
       "-draw 'circle 50,30 56,36' \\) -loop 2"},
      {"previous",
       "-size 64x48 gradient:yellow-navy -dispose None -delay 15 \\( -size 64x48 xc:none -fill red -draw "
       "'rectangle 5,5 20,20' -set dispose Previous \\) \\( -size 64x48 xc:none -fill green -draw 'rectangle "
       "30,10 50,40' -set dispose Previous \\) -loop 0 -layers Optimize"},
      {"blank",
       "-delay 50 -size 64x48 xc:none -delay 12 \\( -size 64x48 gradient:red-blue \\) \\( -size 64x48 "
       "gradient:red-blue -fill white -draw 'circle 32,24 40,30' \\) \\( -size 64x48 gradient:red-blue \\) -loop 3"},
  };
  for (const auto& [Name, Arguments] : Made) {
    const fs::path File = Dir / (Name + ".gif");
    ASSERT_EQ(testsupport::RunCommand("convert " + Arguments + " '" + File.string() + "' 2>&1"), 0) << Name;
    ExpectOptimisedShowsTheSame(testsupport::ReadFile(File), Name);
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
    ExpectOptimisedShowsTheSame(Save(Image), "generated " + std::to_string(Seed));
  }
}

TEST(SuiteRender, SmallFramesFindTheirColoursFirstInTheGlobalMap) {
  // A full first frame uses all 256 entries, most of them often; two small frames use a few
  // rare ones. Optimised, the small frames' entries come first in the global map (their codes
  // need 4 bits, not 8), and the animation shows the same.
  gif::TGIFImage Image;
  for (int i = 0; i < 256; ++i) Image.GlobalColorMap()->AddColor(static_cast<TColor>(i | ((255 - i) << 8) | ((i * 7 % 256) << 16)));
  Bytes Full(64 * 32);
  for (std::size_t i = 0; i < Full.size(); ++i) Full[i] = static_cast<std::uint8_t>(i < 16 ? 240 + i : i % 240);
  AddGce(AddFrame(Image, 0, 0, 64, 32, Full, {}), 1, 10);
  for (int f = 0; f < 2; ++f) {
    Bytes Small(16);
    for (std::size_t i = 0; i < Small.size(); ++i) Small[i] = static_cast<std::uint8_t>(240 + f * 6 + i % 6);
    AddGce(AddFrame(Image, 20 + f * 10, 10, 4, 4, Small, {}), 1, 10);
  }
  const Bytes Gif = Save(Image);
  ExpectOptimisedShowsTheSame(Gif, "rare colours");
  Loaded L = Load(Gif);
  L.Image->Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  Loaded Again = Load(Save(*L.Image));
  ASSERT_EQ(Again.Image->Images().Count(), 3);
  for (int f = 1; f < 3; ++f) {
    const Bytes P = FramePixels(Again.Image->Images().FrameAt(f));
    EXPECT_LT(*std::max_element(P.begin(), P.end()), 16) << f;
  }
}
