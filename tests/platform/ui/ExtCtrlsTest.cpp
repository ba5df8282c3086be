#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/ExtCtrls.h"
#include "tests/platform/ui/UiTestSupport.h"

using uitest::RecordingHost;

namespace {

std::vector<int> R(const TRect& r) { return {r.left, r.top, r.right, r.bottom}; }

std::unique_ptr<TBitmap> SolidBitmap(int W, int H, TColor Color) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(W);
  b->SetHeight(H);
  b->Canvas()->Brush()->SetColor(Color);
  b->Canvas()->FillRect(TRect{0, 0, W, H});
  return b;
}

}  // namespace

TEST(ImageDestRect, NaturalSizeAtTheOrigin) {
  EXPECT_EQ(R(ImageDestRect(40, 30, 100, 100, false, false, false)), (std::vector<int>{0, 0, 40, 30}));
  EXPECT_EQ(R(ImageDestRect(400, 300, 100, 100, false, false, false)), (std::vector<int>{0, 0, 400, 300}))
      << "without Proportional or Stretch a large picture sticks out";
}

TEST(ImageDestRect, StretchFillsTheClientArea) {
  EXPECT_EQ(R(ImageDestRect(40, 30, 100, 80, true, false, false)), (std::vector<int>{0, 0, 100, 80}));
  EXPECT_EQ(R(ImageDestRect(40, 30, 100, 80, true, false, true)), (std::vector<int>{0, 0, 100, 80}));
}

TEST(ImageDestRect, ProportionalShrinksToFitButNeverEnlarges) {
  EXPECT_EQ(R(ImageDestRect(40, 30, 100, 100, false, true, false)), (std::vector<int>{0, 0, 40, 30}));
  // Wide: the width limits.
  EXPECT_EQ(R(ImageDestRect(400, 100, 100, 100, false, true, false)), (std::vector<int>{0, 0, 100, 25}));
  // Tall: the height limits.
  EXPECT_EQ(R(ImageDestRect(100, 400, 100, 100, false, true, false)), (std::vector<int>{0, 0, 25, 100}));
  // Only one side too large still scales both.
  EXPECT_EQ(R(ImageDestRect(120, 60, 100, 100, false, true, false)), (std::vector<int>{0, 0, 100, 50}));
  // Rounded to the nearest pixel, and never thinner than one.
  EXPECT_EQ(R(ImageDestRect(300, 200, 100, 100, false, true, false)), (std::vector<int>{0, 0, 100, 67}));
  EXPECT_EQ(R(ImageDestRect(10000, 1, 100, 100, false, true, false)), (std::vector<int>{0, 0, 100, 1}));
}

TEST(ImageDestRect, StretchWithProportionalEnlargesKeepingTheAspect) {
  EXPECT_EQ(R(ImageDestRect(40, 30, 200, 200, true, true, false)), (std::vector<int>{0, 0, 200, 150}));
  EXPECT_EQ(R(ImageDestRect(30, 40, 200, 200, true, true, false)), (std::vector<int>{0, 0, 150, 200}));
}

TEST(ImageDestRect, CenterCentres) {
  EXPECT_EQ(R(ImageDestRect(40, 30, 100, 100, false, false, true)), (std::vector<int>{30, 35, 70, 65}));
  EXPECT_EQ(R(ImageDestRect(41, 31, 100, 100, false, false, true)), (std::vector<int>{29, 34, 70, 65}));
  // The browse window's picture box: 800 x 600 into 580 x 244, proportional and centred.
  EXPECT_EQ(R(ImageDestRect(800, 600, 580, 244, false, true, true)), (std::vector<int>{127, 0, 452, 244}));
  // Larger than the client area without scaling: negative offsets, halves toward zero.
  EXPECT_EQ(R(ImageDestRect(103, 100, 100, 100, false, false, true)), (std::vector<int>{-1, 0, 102, 100}));
}

TEST(ImageDestRect, EmptyPictureOrClient) {
  EXPECT_EQ(R(ImageDestRect(0, 30, 100, 100, true, true, true)), (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(R(ImageDestRect(40, 30, 0, 100, false, true, false)), (std::vector<int>{0, 0, 0, 0}));
}

TEST(Image, PictureChangesRepaint) {
  TImage image(nullptr);
  RecordingHost host(&image);
  auto b = SolidBitmap(4, 4, clRed);
  image.Picture()->SetGraphic(b.get());
  EXPECT_GE(host.Count(ccInvalidate), 1);
  int before = host.Count(ccInvalidate);
  image.Picture()->Bitmap()->Canvas()->SetPixel(0, 0, clBlue);
  EXPECT_GT(host.Count(ccInvalidate), before) << "the graphic's own change repaints too";
  before = host.Count(ccInvalidate);
  image.SetPicture(nullptr);
  EXPECT_EQ(image.Picture()->Graphic(), nullptr);
  EXPECT_GT(host.Count(ccInvalidate), before);
}

TEST(Image, AutoSizeTakesThePictureSizeUnlessAligned) {
  TImage image(nullptr);
  image.SetAutoSize(true);
  auto b = SolidBitmap(33, 22, clRed);
  image.Picture()->SetGraphic(b.get());
  EXPECT_EQ(image.Width(), 33);
  EXPECT_EQ(image.Height(), 22);

  TWinControl box(nullptr);
  box.SetBounds(0, 0, 580, 244);
  TImage aligned(nullptr);
  aligned.SetParent(&box);
  aligned.SetAlign(alClient);
  aligned.SetAutoSize(true);
  auto big = SolidBitmap(800, 600, clRed);
  aligned.Picture()->SetGraphic(big.get());
  EXPECT_EQ(aligned.Width(), 580) << "an aligned control keeps its place";
  EXPECT_EQ(aligned.Height(), 244);
}

TEST(Image, PaintsTheGraphicInTheDestinationRectangle) {
  TImage image(nullptr);
  image.SetBounds(0, 0, 10, 10);
  auto b = SolidBitmap(4, 2, clRed);
  image.Picture()->SetGraphic(b.get());
  image.SetCenter(true);
  {
    uitest::Surface surface(10, 10);
    surface.Paint(&image);
    EXPECT_EQ(surface.At(3, 4), RGB(255, 0, 0));
    EXPECT_EQ(surface.At(6, 5), RGB(255, 0, 0));
    EXPECT_EQ(surface.At(2, 4), RGB(1, 2, 3)) << "outside the picture nothing is painted";
    EXPECT_EQ(surface.At(3, 6), RGB(1, 2, 3));
  }
  image.SetStretch(true);
  image.SetProportional(true);
  {
    uitest::Surface surface(10, 10);
    surface.Paint(&image);
    // 10 x 5 at rows 2 to 6.
    EXPECT_EQ(surface.At(0, 2), RGB(255, 0, 0));
    EXPECT_EQ(surface.At(9, 6), RGB(255, 0, 0));
    EXPECT_EQ(surface.At(5, 1), RGB(1, 2, 3));
    EXPECT_EQ(surface.At(5, 7), RGB(1, 2, 3));
  }
}

TEST(Image, TransparentIsHandedToTheGraphic) {
  TImage image(nullptr);
  auto b = SolidBitmap(4, 4, clRed);
  image.Picture()->SetGraphic(b.get());
  image.SetTransparent(true);
  EXPECT_TRUE(image.Picture()->Graphic()->Transparent());
  image.SetTransparent(false);
  EXPECT_FALSE(image.Picture()->Graphic()->Transparent());
  image.SetTransparent(true);
  auto other = SolidBitmap(2, 2, clBlue);
  image.Picture()->SetGraphic(other.get());
  EXPECT_TRUE(image.Picture()->Graphic()->Transparent()) << "a new graphic gets it too";
}
