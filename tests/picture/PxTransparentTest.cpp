#include <gtest/gtest.h>

#include "picture/PxTransparent.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

std::unique_ptr<TBitmap> Sheet(TColor C = clBlue) {
  return MakeBitmap(40, 40, pfDevice, [=](int, int) { return C; });
}

// 4 x 4: red with a lime top row and a white bottom-left pixel.
std::unique_ptr<TBitmap> Sprite() {
  return MakeBitmap(4, 4, pf24bit, [](int X, int Y) {
    if (Y == 3 && X == 0) return clWhite;
    return Y == 0 ? clLime : clRed;
  });
}

TColor At(TBitmap& B, int X, int Y) { return B.Canvas()->Pixels(X, Y); }

}  // namespace

TEST(TransparentStretch, LeavesOutOneColourWhileStretching) {
  auto sheet = Sheet();
  auto sprite = Sprite();
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clLime, 0, 0, 4, 4, 10, 10, 8, 8);
  EXPECT_EQ(At(*sheet, 10, 10), clBlue);  // lime row (stretched to two rows) shows the background
  EXPECT_EQ(At(*sheet, 17, 11), clBlue);
  EXPECT_EQ(At(*sheet, 10, 12), clRed);
  EXPECT_EQ(At(*sheet, 17, 15), clRed);
  EXPECT_EQ(At(*sheet, 10, 16), clWhite);
  EXPECT_EQ(At(*sheet, 11, 17), clWhite);
  EXPECT_EQ(At(*sheet, 18, 12), clBlue);  // outside
  EXPECT_EQ(At(*sheet, 9, 12), clBlue);
  EXPECT_EQ(GetStretchBltMode(sheet->Canvas()->Handle()), BLACKONWHITE);  // the canvas's mode again
}

TEST(TransparentStretch, ShrinkingLeavesNoBlackPixels) {
  // 8 x 8: red inside a lime (transparent) ring, drawn at 4 x 4: every pixel is the sprite's
  // red or the sheet's blue, never a mix of both.
  auto sprite = MakeBitmap(8, 8, pf24bit, [](int X, int Y) { return X == 0 || Y == 0 || X == 7 || Y == 7 ? clLime : clRed; });
  auto sheet = Sheet();
  SetStretchBltMode(sheet->Canvas()->Handle(), HALFTONE);
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clLime, 0, 0, 8, 8, 10, 10, 4, 4);
  for (int y = 10; y < 14; ++y)
    for (int x = 10; x < 14; ++x) {
      const TColor c = At(*sheet, x, y);
      EXPECT_TRUE(c == clRed || c == clBlue) << x << "," << y << ": " << std::hex << c;
    }
  EXPECT_EQ(At(*sheet, 11, 11), clRed);
  EXPECT_EQ(At(*sheet, 12, 12), clRed);
  EXPECT_EQ(GetStretchBltMode(sheet->Canvas()->Handle()), HALFTONE);
}

TEST(TransparentStretch, NoneCopiesWithTheCopyMode) {
  auto sheet = Sheet();
  auto sprite = Sprite();
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clNone, 0, 0, 4, 4, 0, 0, 4, 4);
  EXPECT_EQ(At(*sheet, 0, 0), clLime);
  sheet->Canvas()->SetCopyMode(cmSrcInvert);
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clNone, 0, 0, 4, 4, 0, 0, 4, 4);
  EXPECT_EQ(At(*sheet, 0, 0), clBlack);  // lime XOR lime
  EXPECT_EQ(At(*sheet, 5, 5), clBlue);
}

TEST(TransparentStretch, DefaultIsTheBottomLeftPixel) {
  auto sheet = Sheet();
  auto sprite = Sprite();
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clDefault, 0, 0, 4, 4, 0, 0, 4, 4);
  EXPECT_EQ(At(*sheet, 0, 3), clBlue);
  EXPECT_EQ(At(*sheet, 0, 0), clLime);
  EXPECT_EQ(At(*sheet, 1, 3), clRed);
}

TEST(TransparentStretch, SystemColoursAreResolved) {
  auto sheet = Sheet();
  auto sprite = MakeBitmap(2, 1, pf24bit, [](int X, int) { return X == 0 ? clWindow : clRed; });
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clWindow, 0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(At(*sheet, 0, 0), clBlue);
  EXPECT_EQ(At(*sheet, 1, 0), clRed);
}

TEST(TransparentStretch, MonochromeLeavesOutWhite) {
  auto sheet = Sheet();
  TBitmap mono;
  mono.SetMonochrome(true);
  mono.SetWidth(4);
  mono.SetHeight(1);
  mono.Canvas()->Brush()->SetColor(clWhite);
  mono.Canvas()->FillRect(TRect{0, 0, 4, 1});
  mono.Canvas()->SetPixel(1, 0, clBlack);
  ASSERT_TRUE(mono.Monochrome());
  SetStretchBltMode(sheet->Canvas()->Handle(), HALFTONE);
  DrawStretchedTransparent(sheet->Canvas(), &mono, clBlack, 0, 0, 0, 0, 5, 5, 0, 0);
  EXPECT_EQ(At(*sheet, 5, 5), clBlue);
  EXPECT_EQ(At(*sheet, 6, 5), clBlack);
  EXPECT_EQ(GetStretchBltMode(sheet->Canvas()->Handle()), HALFTONE);
}

TEST(TransparentStretch, ZeroSizesTakeTheWholeBitmap) {
  auto sheet = Sheet();
  auto sprite = Sprite();
  // Destination 0 x 0: the bitmap's own size; source 0 wide: the whole bitmap.
  DrawBitmapTransparent(sheet->Canvas(), 20, 20, sprite.get(), TRect{2, 2, 2, 3}, clLime, 0, 0);
  EXPECT_EQ(At(*sheet, 20, 20), clBlue);
  EXPECT_EQ(At(*sheet, 23, 22), clRed);
  EXPECT_EQ(At(*sheet, 24, 22), clBlue);
  EXPECT_EQ(At(*sheet, 23, 24), clBlue);
  // A part of the bitmap.
  DrawBitmapTransparent(sheet->Canvas(), 0, 30, sprite.get(), TRect{0, 2, 2, 4}, clLime, 2, 2);
  EXPECT_EQ(At(*sheet, 0, 30), clRed);
  EXPECT_EQ(At(*sheet, 0, 31), clWhite);
  EXPECT_EQ(At(*sheet, 2, 31), clBlue);
}

TEST(TransparentStretch, SourceCanvasIsLeftAsItWas) {
  auto sheet = Sheet();
  auto sprite = Sprite();
  int changing = 0;
  sprite->Canvas()->OnChanging = [&](TObject*) { ++changing; };
  DrawStretchedTransparent(sheet->Canvas(), sprite.get(), clLime, 0, 0, 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(sprite->Canvas()->LockCount(), 0);
  ASSERT_TRUE(static_cast<bool>(sprite->Canvas()->OnChanging));
  sprite->Canvas()->SetPixel(0, 0, clRed);
  EXPECT_EQ(changing, 1);
}
