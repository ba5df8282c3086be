#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "picture/PxAni.h"
#include "picture/PxThumbImage.h"
#include "platform/graphics/Jpeg.h"
#include "platform/ui/Published.h"
#include "tests/picture/PxTestSupport.h"
#include "tests/platform/ui/UiTestSupport.h"

using namespace px;
using uitest::Pixel24;
using uitest::PatternBitmap;

namespace {

// A bitmap class of its own that counts what is assigned to it.
class TSpyBitmap : public TBitmap {
 public:
  DECLARE_GRAPHIC_CLASS(TSpyBitmap)
  static int Assigns;
  void Assign(TPersistent* Source) override {
    ++Assigns;
    TBitmap::Assign(Source);
  }
};
int TSpyBitmap::Assigns = 0;
IMPLEMENT_GRAPHIC_CLASS(TSpyBitmap, TBitmap)

// A graphic that shows as a bitmap but takes nothing back.
class TStubbornBitmap : public TBitmap {
 public:
  DECLARE_GRAPHIC_CLASS(TStubbornBitmap)
  static bool Refuse;
  void Assign(TPersistent* Source) override {
    if (Refuse && dynamic_cast<TBitmap*>(Source)) AssignError(Source);
    TBitmap::Assign(Source);
  }
};
bool TStubbornBitmap::Refuse = false;
IMPLEMENT_GRAPHIC_CLASS(TStubbornBitmap, TBitmap)

// A JPEG image holding real JPEG data: four flat quadrants (red, green, blue, white).
std::unique_ptr<TJPEGImage> QuadrantJpeg(int W, int H) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetWidth(W);
  b.SetHeight(H);
  const TColor colours[4] = {clRed, clLime, clBlue, clWhite};
  for (int q = 0; q < 4; ++q) {
    b.Canvas()->Brush()->SetColor(colours[q]);
    int x = (q % 2) * W / 2, y = (q / 2) * H / 2;
    b.Canvas()->FillRect(TRect{x, y, x + W / 2, y + H / 2});
  }
  TJPEGImage encoder;
  encoder.Assign(&b);
  encoder.SetCompressionQuality(95);
  TMemoryStream data;
  encoder.SaveToStream(&data);
  data.SetPosition(0);
  auto jpeg = std::make_unique<TJPEGImage>();
  jpeg->LoadFromStream(&data);
  return jpeg;
}

// The colour at (X, Y) of any graphic, drawn on a 24-bit bitmap.
std::uint32_t ColourAt(TGraphic* G, int X, int Y) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetWidth(G->Width());
  b.SetHeight(G->Height());
  b.Canvas()->Draw(0, 0, G);
  return Pixel24(&b, X, Y);
}

bool Near(std::uint32_t A, std::uint32_t B, int Tolerance = 24) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs(static_cast<int>((A >> shift) & 0xFF) - static_cast<int>((B >> shift) & 0xFF)) > Tolerance)
      return false;
  return true;
}

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;

std::unique_ptr<TIcon> SmallIcon() {
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateCompatibleBitmap(screen, 16, 16);
  ReleaseDC(nullptr, screen);
  HBITMAP mask = CreateBitmap(16, 16, 1, 1, nullptr);
  ICONINFO info;
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON handle = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(mask);
  auto icon = std::make_unique<TIcon>();
  icon->SetHandle(handle);
  return icon;
}

std::unique_ptr<TMetafile> SmallMetafile() {
  auto metafile = std::make_unique<TMetafile>();
  metafile->SetWidth(10);
  metafile->SetHeight(5);
  {
    TMetafileCanvas canvas(metafile.get(), nullptr);
    canvas.Brush()->SetColor(clRed);
    canvas.FillRect(TRect{0, 0, 10, 5});
  }
  return metafile;
}

}  // namespace

TEST(QuarterTurns, ClockwiseOf300x200) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(300, 200);
  image.Picture()->SetGraphic(source.get());
  image.SetAngle(AT90);
  auto* turned = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  ASSERT_NE(turned, nullptr);
  ASSERT_EQ(turned->Width(), 200);
  ASSERT_EQ(turned->Height(), 300);
  EXPECT_EQ(turned->PixelFormat(), pf24bit);
  EXPECT_EQ(Pixel24(turned, 0, 0), Pixel24(source.get(), 0, 199)) << "top-left is the source's bottom-left";
  EXPECT_EQ(Pixel24(turned, 199, 0), Pixel24(source.get(), 0, 0));
  EXPECT_EQ(Pixel24(turned, 199, 299), Pixel24(source.get(), 299, 0));
  EXPECT_EQ(Pixel24(turned, 0, 299), Pixel24(source.get(), 299, 199));
  int wrong = 0;
  for (int sy = 0; sy < 200; ++sy)
    for (int sx = 0; sx < 300; ++sx) wrong += Pixel24(turned, 199 - sy, sx) != Pixel24(source.get(), sx, sy);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(image.Angle(), AT90);
  EXPECT_TRUE(image.Modified());
}

TEST(QuarterTurns, CounterClockwiseOf300x200) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(300, 200);
  image.Picture()->SetGraphic(source.get());
  image.SetAngle(AT270);
  auto* turned = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  ASSERT_NE(turned, nullptr);
  ASSERT_EQ(turned->Width(), 200);
  ASSERT_EQ(turned->Height(), 300);
  EXPECT_EQ(Pixel24(turned, 0, 0), Pixel24(source.get(), 299, 0)) << "top-left is the source's top-right";
  int wrong = 0;
  for (int sy = 0; sy < 200; ++sy)
    for (int sx = 0; sx < 300; ++sx) wrong += Pixel24(turned, sy, 299 - sx) != Pixel24(source.get(), sx, sy);
  EXPECT_EQ(wrong, 0);
}

TEST(QuarterTurns, NinetyThenZeroTurnsBack) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(31, 17);
  image.Picture()->SetGraphic(source.get());
  image.SetAngle(AT90);
  image.SetAngle(AT0);
  EXPECT_FALSE(image.Modified());
  EXPECT_EQ(image.Angle(), AT0);
  auto* back = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  ASSERT_EQ(back->Width(), 31);
  int wrong = 0;
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 31; ++x) wrong += Pixel24(back, x, y) != Pixel24(source.get(), x, y);
  EXPECT_EQ(wrong, 0);
}

TEST(QuarterTurns, AnyPixelFormatBecomesA24BitTurn) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(8, 4);
  TBitmap eight;
  eight.Assign(source.get());
  eight.SetPixelFormat(pf8bit);
  image.Picture()->SetGraphic(&eight);
  image.SetAngle(AT90);
  auto* turned = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  EXPECT_EQ(turned->PixelFormat(), pf24bit);
  EXPECT_EQ(turned->Width(), 4);
  EXPECT_EQ(turned->Height(), 8);
}

TEST(HalfTurns, ZeroTo180KeepsAJpegAJpeg) {
  TPxThumbImage image(nullptr);
  auto jpeg = QuadrantJpeg(64, 32);
  image.Picture()->SetGraphic(jpeg.get());
  TGraphic* before = image.Picture()->Graphic();
  image.SetAngle(AT180);
  TGraphic* after = image.Picture()->Graphic();
  EXPECT_EQ(after, before) << "the same graphic object took the reflected picture";
  ASSERT_TRUE(after->InheritsFrom(TJPEGImage::StaticClass()));
  EXPECT_EQ(image.Angle(), AT180);

  TMemoryStream saved;
  after->SaveToStream(&saved);
  ASSERT_GT(saved.Size(), 2);
  auto* bytes = static_cast<const std::uint8_t*>(saved.Memory());
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8) << "encoded again as JPEG data";
  saved.SetPosition(0);
  TJPEGImage reread;
  reread.LoadFromStream(&saved);
  EXPECT_TRUE(Near(ColourAt(&reread, 8, 8), kWhite)) << "the bottom-right quadrant is now top-left";
  EXPECT_TRUE(Near(ColourAt(&reread, 56, 8), kBlue));
  EXPECT_TRUE(Near(ColourAt(&reread, 8, 24), kGreen));
  EXPECT_TRUE(Near(ColourAt(&reread, 56, 24), kRed));
}

TEST(QuarterTurns, ZeroTo90TurnsAJpegIntoABitmap) {
  TPxThumbImage image(nullptr);
  auto jpeg = QuadrantJpeg(64, 32);
  image.Picture()->SetGraphic(jpeg.get());
  image.SetAngle(AT90);
  TGraphic* g = image.Picture()->Graphic();
  ASSERT_NE(g, nullptr);
  EXPECT_STREQ(g->ClassType()->Name, "TBitmap");
  EXPECT_EQ(g->Width(), 32);
  EXPECT_EQ(g->Height(), 64);
  EXPECT_TRUE(Near(ColourAt(g, 24, 8), kRed)) << "the top-left quadrant went to the top right";
  EXPECT_TRUE(Near(ColourAt(g, 8, 8), kBlue));
}

TEST(HalfTurns, NinetyTo270ReflectsInsteadOfTwoQuarterTurns) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(20, 10);
  image.Picture()->SetGraphic(source.get());
  image.SetAngle(AT90);
  // A new picture leaves the angle as it was; this one counts what is assigned to it.
  TSpyBitmap spy;
  spy.Assign(source.get());
  image.Picture()->SetGraphic(&spy);
  auto* held = dynamic_cast<TSpyBitmap*>(image.Picture()->Graphic());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(image.Angle(), AT90);
  TSpyBitmap::Assigns = 0;
  image.SetAngle(AT270);
  EXPECT_EQ(image.Picture()->Graphic(), held) << "the graphic keeps its class and identity";
  EXPECT_EQ(TSpyBitmap::Assigns, 1) << "one reflected bitmap assigned";
  int wrong = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) wrong += Pixel24(held, 19 - x, 9 - y) != Pixel24(source.get(), x, y);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(image.Angle(), AT270);
  EXPECT_TRUE(image.Modified());
}

// Every cell of the angle table: after any change the picture is the original turned
// clockwise by the new angle (a wrong direction or kind of turn in one cell shows here).
TEST(QuarterTurns, EveryChangeOfAngleShowsTheOriginalTurnedByTheNewAngle) {
  constexpr int W = 5, H = 3;
  auto source = PatternBitmap(W, H);
  // The source pixel shown at (X, Y) after Turns clockwise quarter turns.
  auto Expected = [&](int Turns, int X, int Y) {
    switch (Turns) {
      case 1: return Pixel24(source.get(), Y, H - 1 - X);
      case 2: return Pixel24(source.get(), W - 1 - X, H - 1 - Y);
      case 3: return Pixel24(source.get(), W - 1 - Y, X);
      default: return Pixel24(source.get(), X, Y);
    }
  };
  auto Check = [&](TPxThumbImage& Image, TAngle Angle, const std::string& What) {
    auto* shown = dynamic_cast<TBitmap*>(Image.Picture()->Graphic());
    ASSERT_NE(shown, nullptr) << What;
    const bool across = Angle == AT90 || Angle == AT270;
    ASSERT_EQ(shown->Width(), across ? H : W) << What;
    ASSERT_EQ(shown->Height(), across ? W : H) << What;
    TBitmap copy;
    copy.Assign(shown);
    copy.SetPixelFormat(pf24bit);
    int wrong = 0;
    for (int y = 0; y < copy.Height(); ++y)
      for (int x = 0; x < copy.Width(); ++x) wrong += Pixel24(&copy, x, y) != Expected(Angle, x, y);
    EXPECT_EQ(wrong, 0) << What;
    EXPECT_EQ(Image.Angle(), Angle) << What;
    EXPECT_EQ(Image.Modified(), Angle != AT0) << What;
  };
  for (TAngle from : {AT0, AT90, AT180, AT270})
    for (TAngle to : {AT0, AT90, AT180, AT270}) {
      if (from == to) continue;
      const std::string what = "from " + std::to_string(from) + " to " + std::to_string(to);
      TPxThumbImage image(nullptr);
      TBitmap start;
      start.Assign(source.get());
      image.Picture()->SetGraphic(&start);
      image.SetAngle(from);
      if (from != AT0) Check(image, from, what + " (reaching the first angle)");
      image.SetAngle(to);
      Check(image, to, what);
    }
}

// An animated cursor converts to the strip of its frames: a quarter turn shows that strip as
// a bitmap; a half turn fails, since the cursor takes no bitmap back, and the angle stays.
TEST(QuarterTurns, AnimatedCursorTurnsAsItsFrameStrip) {
  TMemoryStream file;
  pxtest::PutBytes(&file, pxtest::AniBuilder()
                              .Header(3, 3, 10)
                              .Frames({pxtest::SolidIcon(clRed), pxtest::SolidIcon(clLime), pxtest::SolidIcon(clBlue)})
                              .File());
  file.SetPosition(0);
  TPxAni ani;
  ani.LoadFromStream(&file);
  {
    TPxThumbImage image(nullptr);
    image.Picture()->SetGraphic(&ani);
    EXPECT_THROW(image.SetAngle(AT180), EConvertError);
    EXPECT_EQ(image.Angle(), AT0);
    EXPECT_NE(dynamic_cast<TPxAni*>(image.Picture()->Graphic()), nullptr);
  }
  TPxThumbImage image(nullptr);
  image.Picture()->SetGraphic(&ani);
  image.SetAngle(AT90);
  EXPECT_EQ(image.Angle(), AT90);
  auto* strip = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  ASSERT_NE(strip, nullptr);
  EXPECT_EQ(strip->Width(), 16);
  EXPECT_EQ(strip->Height(), 48) << "three 16-pixel frames side by side, turned upright";
  // Turned clockwise: the first frame (red) is at the top.
  EXPECT_TRUE(Near(ColourAt(strip, 8, 8), kRed));
  EXPECT_TRUE(Near(ColourAt(strip, 8, 40), kBlue));
}

TEST(HalfTurns, AGraphicThatRefusesABitmapFailsAndKeepsTheAngle) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(6, 6);
  TStubbornBitmap stubborn;
  stubborn.Assign(source.get());
  image.Picture()->SetGraphic(&stubborn);
  TStubbornBitmap::Refuse = true;
  EXPECT_THROW(image.SetAngle(AT180), EConvertError);
  TStubbornBitmap::Refuse = false;
  EXPECT_EQ(image.Angle(), AT0);
  EXPECT_FALSE(image.Modified());
  image.SetAngle(AT90);  // a quarter turn replaces the graphic by a bitmap and works
  EXPECT_EQ(image.Angle(), AT90);
}

TEST(Mirror, KindsOfReflection) {
  TPxThumbImage image(nullptr);
  auto source = PatternBitmap(5, 3);
  image.Picture()->SetGraphic(source.get());
  auto* held = dynamic_cast<TBitmap*>(image.Picture()->Graphic());
  image.MirrorPicture(0);
  EXPECT_EQ(Pixel24(held, 0, 0), Pixel24(source.get(), 4, 0));
  EXPECT_EQ(Pixel24(held, 4, 2), Pixel24(source.get(), 0, 2));
  image.MirrorPicture(0);
  image.MirrorPicture(1);
  EXPECT_EQ(Pixel24(held, 0, 0), Pixel24(source.get(), 0, 2));
  EXPECT_EQ(Pixel24(held, 3, 1), Pixel24(source.get(), 3, 1));
  image.MirrorPicture(1);
  image.MirrorPicture(3);  // outside the contract: nothing happens
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Pixel24(held, x, y), Pixel24(source.get(), x, y));
  EXPECT_EQ(image.Angle(), AT0) << "mirroring leaves the angle alone";
}

TEST(Refusals, IconsMetafilesEmptyAndNoPicture) {
  TPxThumbImage image(nullptr);
  EXPECT_FALSE(image.CanModify());
  image.SetAngle(AT90);
  EXPECT_EQ(image.Angle(), AT0);
  EXPECT_FALSE(image.Modified());

  auto icon = SmallIcon();
  ASSERT_FALSE(icon->Empty());
  image.Picture()->SetGraphic(icon.get());
  EXPECT_FALSE(image.CanModify());
  image.SetAngle(AT90);
  EXPECT_EQ(image.Angle(), AT0);
  EXPECT_TRUE(image.Picture()->Graphic()->InheritsFrom(TIcon::StaticClass()));

  auto metafile = SmallMetafile();
  ASSERT_FALSE(metafile->Empty());
  image.Picture()->SetGraphic(metafile.get());
  EXPECT_FALSE(image.CanModify());
  image.SetAngle(AT180);
  EXPECT_EQ(image.Angle(), AT0);
  EXPECT_FALSE(image.Modified());

  TBitmap empty;
  image.Picture()->SetGraphic(&empty);
  EXPECT_FALSE(image.CanModify());
  image.SetAngle(AT270);
  EXPECT_EQ(image.Angle(), AT0);

  auto jpeg = QuadrantJpeg(16, 16);
  image.Picture()->SetGraphic(jpeg.get());
  EXPECT_TRUE(image.CanModify());
  TGraphic* held = image.Picture()->Graphic();
  image.SetAngle(AT0);  // the same angle: nothing happens
  EXPECT_EQ(image.Picture()->Graphic(), held);
  EXPECT_FALSE(image.Modified());
}

TEST(QuarterTurns, TurningRepaints) {
  TPxThumbImage image(nullptr);
  uitest::RecordingHost host(&image);
  auto source = PatternBitmap(4, 4);
  image.Picture()->SetGraphic(source.get());
  host.Changes.clear();
  image.SetAngle(AT90);
  EXPECT_GE(host.Count(ccInvalidate), 1);
  host.Changes.clear();
  image.SetAngle(AT270);
  EXPECT_GE(host.Count(ccInvalidate), 1);
}

TEST(QuarterTurnCore, MatchesTheDefinitionOnOddSizes) {
  for (int w : {1, 2, 33, 70}) {
    for (int h : {1, 3, 32, 65}) {
      std::vector<std::uint8_t> src(static_cast<std::size_t>(w * h * 3));
      for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
      std::vector<const std::uint8_t*> srcRows(static_cast<std::size_t>(h));
      for (int y = 0; y < h; ++y) srcRows[static_cast<std::size_t>(y)] = src.data() + y * w * 3;
      for (bool clockwise : {true, false}) {
        std::vector<std::uint8_t> dst(src.size(), 0);
        std::vector<std::uint8_t*> dstRows(static_cast<std::size_t>(w));
        for (int y = 0; y < w; ++y) dstRows[static_cast<std::size_t>(y)] = dst.data() + y * h * 3;
        QuarterTurn24(srcRows.data(), w, h, dstRows.data(), clockwise);
        int wrong = 0;
        for (int y = 0; y < w; ++y)
          for (int x = 0; x < h; ++x) {
            const std::uint8_t* s = clockwise ? srcRows[h - 1 - x] + y * 3 : srcRows[x] + (w - 1 - y) * 3;
            wrong += std::memcmp(dstRows[y] + x * 3, s, 3) != 0;
          }
        EXPECT_EQ(wrong, 0) << w << "x" << h << (clockwise ? " clockwise" : " counter-clockwise");
      }
    }
  }
}

TEST(ThumbImageLayout, PublishedPropertiesStreamAsStated) {
  TPxThumbImage image(nullptr);
  std::map<std::string, std::string> w;
  for (const TStreamedProperty& p : WriteProperties(&image)) w[p.Name] = p.Text;
  EXPECT_EQ(w["Angle"], "AT0");
  EXPECT_EQ(w["Zoom"], "0");
  EXPECT_EQ(w["IgnoreMouse"], "False");
  for (const char* never : {"Modified", "CanModify", "AboutPx", "OnRotate", "OnLoaded", "OnInvalidImage", "Center"})
    EXPECT_EQ(w.count(never), 0u) << never;
  EXPECT_TRUE(GetPropInfo(&image, "Modified")->ReadOnly());
  EXPECT_THROW(ReadProperty(&image, "Modified", "True"), EPropertyError);
  EXPECT_THROW(ReadProperty(&image, "CanModify", "True"), EPropertyError);

  image.OnLoaded = [](TObject*) {};
  image.OnRotate = [](TObject*, BYTE, bool&) {};
  w.clear();
  for (const TStreamedProperty& p :
       WriteProperties(&image, [](TControl*, const std::string& E) { return "iAuto" + E.substr(2); }))
    w[p.Name] = p.Text;
  EXPECT_EQ(w["OnLoaded"], "iAutoLoaded");
  EXPECT_EQ(w["OnRotate"], "iAutoRotate");
  EXPECT_EQ(w.count("OnInvalidImage"), 0u);

  // The order of this class's own properties.
  std::vector<std::string> own;
  for (const TPropInfo* p : GetPropList(&image)) own.push_back(p->Name);
  std::vector<std::string> tail(own.end() - 7, own.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Angle", "Modified", "CanModify", "Zoom", "OnRotate", "OnLoaded",
                                            "OnInvalidImage"}));
}

TEST(ThumbImageLayout, TheBrowseWindowsValues) {
  TWinControl box(nullptr);
  box.SetBounds(0, 0, 580, 244);
  TPxThumbImage image(nullptr);
  image.SetParent(&box);
  image.SetName("iAuto");
  for (auto [name, text] : std::map<std::string, std::string>{{"Align", "alClient"},
                                                              {"AutoSize", "True"},
                                                              {"Center", "True"},
                                                              {"Proportional", "True"},
                                                              {"IgnoreMouse", "False"},
                                                              {"Angle", "AT90"},
                                                              {"Zoom", "0"}})
    ReadProperty(&image, name, text);
  EXPECT_EQ(image.Angle(), AT0) << "an angle streamed before any picture changes nothing";
  EXPECT_EQ(image.Width(), 580);
  EXPECT_TRUE(image.Center());
  EXPECT_TRUE(image.Proportional());
  EXPECT_EQ(image.Text(), "");
  EXPECT_THROW(ReadProperty(&image, "Zoom", "65536"), EPropertyError);
  ReadProperty(&image, "Zoom", "65535");
  EXPECT_EQ(image.Zoom(), 65535);

  TBitmap car;
  car.SetPixelFormat(pf24bit);
  car.SetWidth(800);
  car.SetHeight(600);
  image.Picture()->SetGraphic(&car);
  EXPECT_EQ(image.Width(), 580);
  EXPECT_EQ(image.Height(), 244);
  TRect dest = image.DestRect();
  EXPECT_EQ(dest.left, 127);
  EXPECT_EQ(dest.right - dest.left, 325);
  EXPECT_EQ(dest.bottom - dest.top, 244);
}
