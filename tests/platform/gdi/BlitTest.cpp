#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "GdiTestUtil.h"

using namespace gditest;

namespace {

std::uint8_t Reverse(std::uint8_t v) {
  std::uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (v & (1 << i)) r |= static_cast<std::uint8_t>(0x80 >> i);
  return r;
}

std::uint32_t Px32(const DibCanvas& c, int x, int y) {
  std::uint32_t v;
  std::memcpy(&v, static_cast<const std::uint8_t*>(c.bits) + y * c.Stride() + 4 * x, 4);
  return v;
}

void SetPx32(DibCanvas& c, int x, int y, std::uint32_t v) {
  std::memcpy(static_cast<std::uint8_t*>(c.bits) + y * c.Stride() + 4 * x, &v, 4);
}

COLORREF Cell(int x, int y) { return RGB(10 + 40 * x, 20 + 50 * y, 7 * (x + y)); }

void FillCells(DibCanvas& c) {
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) SetPixel(c.dc, x, y, Cell(x, y));
}

}  // namespace

// Every pixel of an 8-pixel monochrome row carries one (P, S, D) combination: pixel x has
// P = bit 2, S = bit 1, D = bit 0 of x, so a raster operation's result row is its index byte.
TEST(GdiRasterOps, AllTernaryCodesFollowTheirIndexByte) {
  const std::uint8_t dBits[2] = {0x55, 0}, sBits[2] = {0x33, 0}, pBits[2] = {0x0F, 0};
  DdbCanvas src(8, 1, 1, sBits);
  HBITMAP patBmp = CreateBitmap(8, 1, 1, 1, pBits);
  HBRUSH pat = CreatePatternBrush(patBmp);
  ASSERT_NE(pat, nullptr);
  for (int rop = 0; rop < 256; ++rop) {
    DdbCanvas dst(8, 1, 1, dBits);
    HGDIOBJ oldBrush = SelectObject(dst.dc, pat);
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 8, 1, src.dc, 0, 0, static_cast<DWORD>(rop) << 16));
    SelectObject(dst.dc, oldBrush);
    std::uint8_t out[2] = {0, 0};
    ASSERT_EQ(GetBitmapBits(dst.bmp, 2, out), 2);
    EXPECT_EQ(out[0], Reverse(static_cast<std::uint8_t>(rop))) << "rop index " << rop;
  }
  DeleteObject(pat);
  DeleteObject(patBmp);
}

TEST(GdiRasterOps, NamedCodesOnColourPixels) {
  struct Case {
    DWORD rop;
    std::uint32_t (*f)(std::uint32_t p, std::uint32_t s, std::uint32_t d);
  } cases[] = {
      {SRCCOPY, [](std::uint32_t, std::uint32_t s, std::uint32_t) { return s; }},
      {SRCPAINT, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return s | d; }},
      {SRCAND, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return s & d; }},
      {SRCINVERT, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return s ^ d; }},
      {SRCERASE, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return s & ~d; }},
      {NOTSRCCOPY, [](std::uint32_t, std::uint32_t s, std::uint32_t) { return ~s; }},
      {NOTSRCERASE, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return ~(s | d); }},
      {MERGECOPY, [](std::uint32_t p, std::uint32_t s, std::uint32_t) { return p & s; }},
      {MERGEPAINT, [](std::uint32_t, std::uint32_t s, std::uint32_t d) { return ~s | d; }},
      {PATCOPY, [](std::uint32_t p, std::uint32_t, std::uint32_t) { return p; }},
      {PATPAINT, [](std::uint32_t p, std::uint32_t s, std::uint32_t d) { return p | ~s | d; }},
      {PATINVERT, [](std::uint32_t p, std::uint32_t, std::uint32_t d) { return p ^ d; }},
      {DSTINVERT, [](std::uint32_t, std::uint32_t, std::uint32_t d) { return ~d; }},
      {BLACKNESS, [](std::uint32_t, std::uint32_t, std::uint32_t) { return 0u; }},
      {WHITENESS, [](std::uint32_t, std::uint32_t, std::uint32_t) { return ~0u; }},
      // Two unnamed codes through the general evaluator: DSPDxax and PSDPSanaxx.
      {0x00E20746, [](std::uint32_t p, std::uint32_t s, std::uint32_t d) { return ((p ^ d) & s) ^ d; }},
      {0x00B8074A, [](std::uint32_t p, std::uint32_t s, std::uint32_t d) { return ((p ^ d) & s) ^ p; }},
  };
  std::mt19937 rng(7);
  const COLORREF brushColor = RGB(0x12, 0xA5, 0xF0);
  const std::uint32_t p = 0x0012A5F0;  // the brush in 32-bit pixel layout (blue low)
  for (const Case& c : cases) {
    DibCanvas src(16, 2, 32), dst(16, 2, 32);
    std::vector<std::uint32_t> s(32), d(32);
    for (int i = 0; i < 32; ++i) {
      s[i] = rng();
      d[i] = rng();
      SetPx32(src, i % 16, i / 16, s[i]);
      SetPx32(dst, i % 16, i / 16, d[i]);
    }
    HBRUSH br = CreateSolidBrush(brushColor);
    HGDIOBJ old = SelectObject(dst.dc, br);
    ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 16, 2, src.dc, 0, 0, c.rop));
    SelectObject(dst.dc, old);
    DeleteObject(br);
    for (int i = 0; i < 32; ++i)
      ASSERT_EQ(Px32(dst, i % 16, i / 16), c.f(p, s[i], d[i])) << std::hex << "rop " << c.rop << " pixel " << i;
  }
}

TEST(GdiRasterOps, PatBltRefusesSourceCodesAndNormalisesNegativeExtents) {
  DibCanvas c(4, 4, 32);
  c.Fill(RGB(0, 0, 0));
  EXPECT_FALSE(PatBlt(c.dc, 0, 0, 4, 4, SRCCOPY));
  EXPECT_TRUE(PatBlt(c.dc, 3, 3, -2, -2, WHITENESS));  // covers (1, 1)-(3, 3)
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(c.At(1, 1), RGB(255, 255, 255));
  EXPECT_EQ(c.At(2, 2), RGB(255, 255, 255));
  EXPECT_EQ(c.At(3, 3), RGB(0, 0, 0));
}

TEST(MonoColourConversion, MonochromeSourceTakesDestinationTextAndBackground) {
  const std::uint8_t bits[2] = {0xA0, 0};  // pixels 1, 0, 1, 0
  DdbCanvas mono(4, 1, 1, bits);
  DibCanvas dst(4, 1, 32);
  SetTextColor(dst.dc, RGB(200, 0, 0));
  SetBkColor(dst.dc, RGB(0, 0, 90));
  SetTextColor(mono.dc, RGB(1, 2, 3));  // the source DC's colours play no part
  SetBkColor(mono.dc, RGB(4, 5, 6));
  ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 4, 1, mono.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), RGB(0, 0, 90));  // 1 -> background
  EXPECT_EQ(dst.At(1, 0), RGB(200, 0, 0));  // 0 -> text
  EXPECT_EQ(dst.At(2, 0), RGB(0, 0, 90));
  EXPECT_EQ(dst.At(3, 0), RGB(200, 0, 0));
}

TEST(MonoColourConversion, ColourSourceMatchesSourceBackgroundToWhite) {
  DibCanvas src(4, 1, 24);
  SetPixel(src.dc, 0, 0, RGB(255, 0, 255));
  SetPixel(src.dc, 1, 0, RGB(0, 0, 0));
  SetPixel(src.dc, 2, 0, RGB(255, 0, 255));
  SetPixel(src.dc, 3, 0, RGB(255, 255, 255));
  SetBkColor(src.dc, PALETTERGB(255, 0, 255));  // palette-relative form on a true-colour bitmap
  DdbCanvas mono(4, 1, 1);
  SetBkColor(mono.dc, RGB(1, 1, 1));  // the destination's colours play no part
  ASSERT_TRUE(BitBlt(mono.dc, 0, 0, 4, 1, src.dc, 0, 0, SRCCOPY));
  std::uint8_t out[2];
  GetBitmapBits(mono.bmp, 2, out);
  EXPECT_EQ(out[0] & 0xF0, 0xA0);  // only the two background-coloured pixels are white
  EXPECT_EQ(mono.At(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(mono.At(3, 0), RGB(0, 0, 0));
}

TEST(MonoColourConversion, TransparentMaskPathOfTwoStretchBlts) {
  // The image is drawn through a mask: destination AND mask, then OR the image with black where
  // transparent. Transparent pixels keep the destination.
  DibCanvas dst(3, 1, 32), image(3, 1, 32);
  dst.Fill(RGB(10, 20, 30));
  SetPixel(image.dc, 0, 0, RGB(0, 0, 0));
  SetPixel(image.dc, 1, 0, RGB(200, 100, 50));
  SetPixel(image.dc, 2, 0, RGB(0, 0, 0));
  const std::uint8_t maskBits[2] = {0xA0, 0};  // 1 = transparent at 0 and 2
  DdbCanvas mask(3, 1, 1, maskBits);
  SetTextColor(dst.dc, RGB(0, 0, 0));
  SetBkColor(dst.dc, RGB(255, 255, 255));
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 3, 1, mask.dc, 0, 0, 3, 1, SRCAND));
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 3, 1, image.dc, 0, 0, 3, 1, SRCPAINT));
  EXPECT_EQ(dst.At(0, 0), RGB(10, 20, 30));
  EXPECT_EQ(dst.At(1, 0), RGB(200, 100, 50));
  EXPECT_EQ(dst.At(2, 0), RGB(10, 20, 30));
}

TEST(MonoColourConversion, PaletteIndexedDestinationTakesNearestEntryLowestOnTies) {
  std::vector<RGBQUAD> table = {{0, 0, 0, 0}, {0, 0, 100, 0}, {0, 0, 100, 0}, {0, 0, 200, 0}};
  DibCanvas dst(3, 1, 8, true, table);
  DibCanvas src(3, 1, 32);
  SetPixel(src.dc, 0, 0, RGB(50, 0, 0));   // halfway between 0 and 100: index 0
  SetPixel(src.dc, 1, 0, RGB(100, 0, 0));  // two equal entries: index 1
  SetPixel(src.dc, 2, 0, RGB(180, 0, 0));  // index 3
  ASSERT_TRUE(BitBlt(dst.dc, 0, 0, 3, 1, src.dc, 0, 0, SRCCOPY));
  const auto* p = static_cast<const std::uint8_t*>(dst.bits);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[1], 1);
  EXPECT_EQ(p[2], 3);
}

TEST(StretchBltMirror, InPlaceHorizontalVerticalAndBoth) {
  const int W = 5, H = 3;
  struct {
    int x, y, w, h;
    bool flipX, flipY;
  } kinds[] = {{W, 0, -W, H, true, false}, {0, H, W, -H, false, true}, {W, H, -W, -H, true, true}};
  for (auto& k : kinds) {
    for (bool topDown : {true, false}) {
      DibCanvas c(W, H, 24, topDown);
      FillCells(c);
      ASSERT_TRUE(StretchBlt(c.dc, k.x, k.y, k.w, k.h, c.dc, 0, 0, W, H, SRCCOPY));
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          ASSERT_EQ(c.At(x, y), Cell(k.flipX ? W - 1 - x : x, k.flipY ? H - 1 - y : y))
              << "at " << x << "," << y << " flip " << k.flipX << k.flipY;
    }
  }
}

TEST(StretchBltMirror, NegativeSourceExtentMirrorsToo) {
  DibCanvas src(4, 1, 32), dst(4, 1, 32);
  FillCells(src);
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 1, src.dc, 4, 0, -4, 1, SRCCOPY));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, 0), Cell(3 - x, 0));
  // Both extents negative: no mirror.
  ASSERT_TRUE(StretchBlt(dst.dc, 4, 1, -4, -1, src.dc, 4, 1, -4, -1, SRCCOPY));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, 0), Cell(x, 0));
}

TEST(StretchBltScale, EnlargeReplicatesAndShrinkSamplesCentres) {
  DibCanvas src(4, 4, 24);
  FillCells(src);
  DibCanvas big(8, 8, 24);
  SetStretchBltMode(big.dc, COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(big.dc, 0, 0, 8, 8, src.dc, 0, 0, 4, 4, SRCCOPY));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(big.At(x, y), Cell(x / 2, y / 2));

  DibCanvas small(2, 2, 24);
  SetStretchBltMode(small.dc, COLORONCOLOR);
  ASSERT_TRUE(StretchBlt(small.dc, 0, 0, 2, 2, src.dc, 0, 0, 4, 4, SRCCOPY));
  EXPECT_EQ(small.At(0, 0), Cell(1, 1));
  EXPECT_EQ(small.At(1, 1), Cell(3, 3));

  DibCanvas odd(3, 1, 24);  // 1.5 times: columns 0, 1, 1
  SetStretchBltMode(odd.dc, HALFTONE);
  ASSERT_TRUE(StretchBlt(odd.dc, 0, 0, 3, 1, src.dc, 0, 0, 2, 1, SRCCOPY));
  EXPECT_EQ(odd.At(0, 0), Cell(0, 0));
  EXPECT_EQ(odd.At(1, 0), Cell(1, 0));
  EXPECT_EQ(odd.At(2, 0), Cell(1, 0));
}

TEST(StretchBltScale, BlackOnWhiteKeepsBlackAndWhiteOnBlackKeepsWhiteWhenShrinking) {
  const std::uint8_t bits[2] = {0x7F, 0};  // one black pixel (x = 0) among whites
  DdbCanvas src(8, 1, 1, bits);
  DdbCanvas dst(4, 1, 1);
  ASSERT_EQ(GetStretchBltMode(dst.dc), BLACKONWHITE);  // the default
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 1, src.dc, 0, 0, 8, 1, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), RGB(0, 0, 0));
  EXPECT_EQ(dst.At(1, 0), RGB(255, 255, 255));
  const std::uint8_t inv[2] = {0x80, 0};  // one white pixel (x = 0) among blacks
  DdbCanvas src2(8, 1, 1, inv);
  SetStretchBltMode(dst.dc, WHITEONBLACK);
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 1, src2.dc, 0, 0, 8, 1, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(dst.At(1, 0), RGB(0, 0, 0));
  SetStretchBltMode(dst.dc, COLORONCOLOR);  // centre samples: x = 0 is dropped
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 1, src.dc, 0, 0, 8, 1, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), RGB(255, 255, 255));
}

TEST(BitBltOverlap, ScrollWithinOneBitmapInEveryDirection) {
  std::vector<RGBQUAD> grey(256), bw = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  for (int i = 0; i < 256; ++i) grey[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
  for (int bpp : {1, 8, 24}) {
    auto val = [bpp](int x, int y) -> COLORREF {
      if (bpp == 1) return ((x + y) & 1) ? RGB(255, 255, 255) : RGB(0, 0, 0);
      BYTE g = static_cast<BYTE>(x * 30 + y * 7);
      return bpp == 8 ? RGB(g, g, g) : Cell(x, y);
    };
    for (int dx : {-1, 0, 1})
      for (int dy : {-1, 0, 1}) {
        DibCanvas c(6, 5, bpp, false, bpp == 1 ? bw : bpp == 8 ? grey : std::vector<RGBQUAD>{});
        for (int y = 0; y < 5; ++y)
          for (int x = 0; x < 6; ++x) SetPixel(c.dc, x, y, val(x, y));
        ASSERT_TRUE(BitBlt(c.dc, 1 + dx, 1 + dy, 4, 3, c.dc, 1, 1, SRCCOPY));
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 4; ++x)
            ASSERT_EQ(c.At(1 + dx + x, 1 + dy + y), val(1 + x, 1 + y)) << dx << "," << dy << " bpp " << bpp;
      }
  }
}

TEST(MaskBlt, TransparentCopyKeepsDestinationWhereMaskIsSet) {
  DibCanvas dst(4, 2, 32), src(4, 2, 32);
  dst.Fill(RGB(1, 2, 3));
  FillCells(src);
  const std::uint8_t maskBits[4] = {0x90, 0, 0x60, 0};  // row 0: 1 0 0 1, row 1: 0 1 1 0
  HBITMAP mask = CreateBitmap(4, 2, 1, 1, maskBits);
  ASSERT_TRUE(MaskBlt(dst.dc, 0, 0, 4, 2, src.dc, 0, 0, mask, 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
  EXPECT_EQ(dst.At(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(dst.At(1, 0), Cell(1, 0));
  EXPECT_EQ(dst.At(2, 0), Cell(2, 0));
  EXPECT_EQ(dst.At(3, 0), RGB(1, 2, 3));
  EXPECT_EQ(dst.At(0, 1), Cell(0, 1));
  EXPECT_EQ(dst.At(1, 1), RGB(1, 2, 3));
  // A mask offset shifts the mask window.
  dst.Fill(RGB(1, 2, 3));
  ASSERT_TRUE(MaskBlt(dst.dc, 0, 0, 2, 1, src.dc, 0, 0, mask, 2, 1, MAKEROP4(0x00AA0029, SRCCOPY)));
  EXPECT_EQ(dst.At(0, 0), RGB(1, 2, 3));  // mask (2, 1) = 1
  EXPECT_EQ(dst.At(1, 0), Cell(1, 0));    // mask (3, 1) = 0
  // A colour mask is refused; no mask behaves as BitBlt with the foreground code.
  HBITMAP colour = CreateBitmap(4, 2, 1, 32, nullptr);
  EXPECT_FALSE(MaskBlt(dst.dc, 0, 0, 4, 2, src.dc, 0, 0, colour, 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
  ASSERT_TRUE(MaskBlt(dst.dc, 0, 0, 4, 2, src.dc, 0, 0, nullptr, 0, 0, MAKEROP4(SRCCOPY, 0x00AA0029)));
  EXPECT_EQ(dst.At(0, 0), Cell(0, 0));
  DeleteObject(colour);
  DeleteObject(mask);
}

TEST(GdiClipping, DrawingStaysInsideTheClipRectangle) {
  DibCanvas c(8, 8, 32);
  c.Fill(RGB(0, 0, 0));
  EXPECT_EQ(IntersectClipRect(c.dc, 2, 2, 6, 6), SIMPLEREGION);
  RECT all{0, 0, 8, 8};
  FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  EXPECT_EQ(c.At(1, 1), CLR_INVALID);  // outside the clip region
  RECT box;
  EXPECT_EQ(GetClipBox(c.dc, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 2);
  EXPECT_EQ(box.bottom, 6);
  SelectClipRgn(c.dc, nullptr);
  EXPECT_EQ(c.At(1, 1), RGB(0, 0, 0));
  EXPECT_EQ(c.At(2, 2), RGB(255, 255, 255));
  EXPECT_EQ(c.At(6, 6), RGB(0, 0, 0));
  HRGN rgn = CreateRectRgn(0, 0, 1, 8);
  EXPECT_EQ(SelectClipRgn(c.dc, rgn), SIMPLEREGION);
  DeleteObject(rgn);  // the DC keeps its own copy
  PatBlt(c.dc, 0, 0, 8, 8, BLACKNESS);
  EXPECT_EQ(c.At(0, 3), RGB(0, 0, 0));
  SelectClipRgn(c.dc, nullptr);
  EXPECT_EQ(c.At(3, 3), RGB(255, 255, 255));
  EXPECT_EQ(IntersectClipRect(c.dc, 5, 5, 5, 9), NULLREGION);
}

TEST(GdiShapes, RectangleOutlinesWithPenAndFillsWithBrush) {
  DibCanvas c(6, 6, 32);
  c.Fill(RGB(0, 0, 0));
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
  HBRUSH br = CreateSolidBrush(RGB(0, 255, 0));
  HGDIOBJ op = SelectObject(c.dc, pen), ob = SelectObject(c.dc, br);
  ASSERT_TRUE(Rectangle(c.dc, 1, 1, 5, 5));
  EXPECT_EQ(c.At(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(c.At(4, 4), RGB(255, 0, 0));
  EXPECT_EQ(c.At(2, 2), RGB(0, 255, 0));
  EXPECT_EQ(c.At(5, 5), RGB(0, 0, 0));
  SelectObject(c.dc, GetStockObject(NULL_PEN));
  ASSERT_TRUE(Rectangle(c.dc, 0, 0, 3, 3));  // no outline: interior to (2, 2) exclusive
  EXPECT_EQ(c.At(0, 0), RGB(0, 255, 0));
  EXPECT_EQ(c.At(2, 2), RGB(0, 255, 0));  // was already green from the first rectangle
  EXPECT_EQ(c.At(2, 0), RGB(0, 0, 0));
  SelectObject(c.dc, op);
  SelectObject(c.dc, ob);
  DeleteObject(pen);
  DeleteObject(br);
}

TEST(GdiShapes, PatternBrushTilesFromTheBrushOrigin) {
  const std::uint8_t bits[4] = {0x40, 0, 0x80, 0};  // 2 x 2 pattern: row 0 = 0 1, row 1 = 1 0
  HBITMAP pb = CreateBitmap(2, 2, 1, 1, bits);
  HBRUSH br = CreatePatternBrush(pb);
  DeleteObject(pb);  // the brush keeps its own copy
  DibCanvas c(4, 2, 32);
  SetTextColor(c.dc, RGB(255, 0, 0));  // 0 bits
  SetBkColor(c.dc, RGB(0, 0, 255));    // 1 bits
  RECT r{0, 0, 4, 2};
  FillRect(c.dc, &r, br);
  EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(c.At(1, 0), RGB(0, 0, 255));
  EXPECT_EQ(c.At(2, 1), RGB(0, 0, 255));
  SetBrushOrgEx(c.dc, 1, 0, nullptr);
  FillRect(c.dc, &r, br);
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(c.At(1, 0), RGB(255, 0, 0));
  DeleteObject(br);
}

TEST(GdiOrigins, ViewportAndWindowOriginsShiftDrawing) {
  DibCanvas c(4, 4, 32);
  c.Fill(RGB(0, 0, 0));
  SetViewportOrgEx(c.dc, 2, 1, nullptr);
  SetPixel(c.dc, 0, 0, RGB(9, 9, 9));
  SetViewportOrgEx(c.dc, 0, 0, nullptr);
  EXPECT_EQ(c.At(2, 1), RGB(9, 9, 9));
  SetWindowOrgEx(c.dc, 2, 1, nullptr);
  EXPECT_EQ(c.At(2, 1), RGB(0, 0, 0));
  EXPECT_EQ(c.At(4, 2), RGB(9, 9, 9));
}

TEST(BlitFailures, ExtremeCoordinatesAndOriginsAreClippedSafely) {
  DibCanvas c(4, 4, 32);
  c.Fill(RGB(0, 0, 0));
  EXPECT_TRUE(PatBlt(c.dc, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, WHITENESS));
  EXPECT_TRUE(StretchBlt(c.dc, INT32_MAX, 0, INT32_MIN, 4, c.dc, 0, 0, INT32_MAX, 4, SRCCOPY));
  EXPECT_TRUE(Rectangle(c.dc, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
  SetViewportOrgEx(c.dc, INT32_MAX, INT32_MAX, nullptr);
  SetWindowOrgEx(c.dc, INT32_MIN, INT32_MIN, nullptr);
  EXPECT_EQ(SetPixel(c.dc, INT32_MAX, 5, RGB(1, 1, 1)), CLR_INVALID);
  EXPECT_TRUE(BitBlt(c.dc, 100, 100, 4, 4, c.dc, -7, 9, SRCCOPY));
  RECT box;
  EXPECT_EQ(GetClipBox(c.dc, &box), SIMPLEREGION);
  IntersectClipRect(c.dc, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  HICON icon = LoadIcon(nullptr, IDI_APPLICATION);
  HBRUSH br = CreateSolidBrush(0);
  EXPECT_TRUE(DrawIconEx(c.dc, INT32_MAX - 1, 0, icon, 0, 0, 0, br, DI_NORMAL));
  DeleteObject(br);
}

TEST(BlitFailures, InvalidHandlesAndDisplayTargets) {
  DibCanvas c(2, 2, 32);
  HDC gone = CreateCompatibleDC(nullptr);
  DeleteDC(gone);
  EXPECT_FALSE(BitBlt(gone, 0, 0, 2, 2, c.dc, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(c.dc, 0, 0, 2, 2, gone, 0, 0, SRCCOPY));
  EXPECT_EQ(LastGdiError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(BitBlt(c.dc, 0, 0, 2, 2, gone, 0, 0, WHITENESS));  // no source needed
  EXPECT_FALSE(StretchBlt(c.dc, 0, 0, 2, 2, reinterpret_cast<HDC>(c.bmp), 0, 0, 2, 2, SRCCOPY));
  HDC screen = GetDC(nullptr);
  EXPECT_TRUE(BitBlt(screen, 0, 0, 2, 2, c.dc, 0, 0, SRCCOPY));  // drawing on the display draws nothing
  EXPECT_EQ(GetPixel(screen, 0, 0), CLR_INVALID);
  ReleaseDC(nullptr, screen);
}

// ---------------------------------------------------------------------------------------------
// The row engine and the copy shortcuts against the per-pixel engine: every drawing is made
// twice from the same start, once each way, and must leave the same bytes.

namespace {

struct PixelKind {
  const char* name;
  int bpp;
  bool ddb;
  bool topDown = true;
  DWORD masks[3] = {0, 0, 0};  // BI_BITFIELDS when set
};

const PixelKind kDib1{"dib1", 1, false};
const PixelKind kDib4{"dib4", 4, false};
const PixelKind kDib8{"dib8", 8, false};
const PixelKind kDib8Up{"dib8 bottom-up", 8, false, false};
const PixelKind kDib16{"dib16", 16, false};
const PixelKind kDib565{"dib16 565", 16, false, true, {0xF800, 0x07E0, 0x001F}};
const PixelKind kDib24{"dib24", 24, false};
const PixelKind kDib24Up{"dib24 bottom-up", 24, false, false};
const PixelKind kDib32{"dib32", 32, false};
const PixelKind kDib32Rgb{"dib32 red low", 32, false, true, {0x0000FF, 0x00FF00, 0xFF0000}};
const PixelKind kDdb1{"ddb1", 1, true};
const PixelKind kDdb8{"ddb8", 8, true};
const PixelKind kDdb16{"ddb16", 16, true};
const PixelKind kDdb32{"ddb32", 32, true};

const PixelKind* const kAllKinds[] = {&kDib1,  &kDib4,    &kDib8,  &kDib8Up, &kDib16, &kDib565, &kDib24,
                                      &kDib24Up, &kDib32, &kDib32Rgb, &kDdb1,  &kDdb8,   &kDdb16, &kDdb32};

// A bitmap of random pixels (and, for indexed DIBs, a random colour table) in its own memory DC.
struct Surface {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  std::vector<std::uint8_t> info;  // the DIB's BITMAPINFO

  Surface(const PixelKind& k, int w, int h, std::mt19937& rng) {
    dc = CreateCompatibleDC(nullptr);
    if (k.ddb) {
      bmp = CreateBitmap(w, h, 1, static_cast<UINT>(k.bpp), nullptr);
    } else {
      info.assign(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
      auto* bmi = reinterpret_cast<BITMAPINFO*>(info.data());
      bmi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
      bmi->bmiHeader.biWidth = w;
      bmi->bmiHeader.biHeight = k.topDown ? -h : h;
      bmi->bmiHeader.biPlanes = 1;
      bmi->bmiHeader.biBitCount = static_cast<WORD>(k.bpp);
      bmi->bmiHeader.biCompression = k.masks[0] ? BI_BITFIELDS : BI_RGB;
      if (k.masks[0]) {
        std::memcpy(bmi->bmiColors, k.masks, sizeof(k.masks));
      } else if (k.bpp <= 8) {
        bmi->bmiHeader.biClrUsed = 1u << k.bpp;
        for (DWORD i = 0; i < bmi->bmiHeader.biClrUsed; ++i)
          bmi->bmiColors[i] = {static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), static_cast<BYTE>(rng()), 0};
      }
      bmp = CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    }
    old = SelectObject(dc, bmp);
    std::vector<std::uint8_t> px(static_cast<std::size_t>(GetBitmapBits(bmp, 0, nullptr)));
    for (auto& b : px) b = static_cast<std::uint8_t>(rng());
    SetBitmapBits(bmp, static_cast<DWORD>(px.size()), px.data());
  }
  ~Surface() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> px(static_cast<std::size_t>(GetBitmapBits(bmp, 0, nullptr)));
    GetBitmapBits(bmp, static_cast<LONG>(px.size()), px.data());
    return px;
  }
};

enum class Op { Bit, Stretch, Mask, Pat, DibBits };

// One drawing: a destination, a source (or the destination itself), a raster operation and the
// DC state around it. Everything random comes from the seed.
struct Drawing {
  Op op = Op::Bit;
  const PixelKind* dst = &kDib32;
  const PixelKind* src = &kDib32;
  bool sameBitmap = false;
  int dw = 23, dh = 17, sw = 19, sh = 13;
  int xd = 0, yd = 0, wd = 0, hd = 0, xs = 0, ys = 0, ws = 0, hs = 0;
  DWORD rop = SRCCOPY;  // MaskBlt: a four-code operation
  int stretchMode = COLORONCOLOR;
  int brush = 0;  // 0 solid, 1 monochrome pattern, 2 colour pattern
  bool clip = false;
  RECT clipRect{};
  POINT viewport{};
  int mw = 0, mh = 0, xm = 0, ym = 0;
  bool blobMask = false;  // a filled circle (long runs) rather than noise
  std::uint32_t seed = 1;
};

std::string Describe(const Drawing& g) {
  char buf[320];
  std::snprintf(buf, sizeof buf,
                "op %d %s <- %s%s dst %dx%d (%d,%d %d,%d) src %dx%d (%d,%d %d,%d) rop %08lx mode %d brush %d "
                "clip %d viewport %ld,%ld mask %dx%d at %d,%d blob %d seed %u",
                static_cast<int>(g.op), g.dst->name, g.sameBitmap ? "itself" : g.src->name, "", g.dw, g.dh, g.xd,
                g.yd, g.wd, g.hd, g.sw, g.sh, g.xs, g.ys, g.ws, g.hs, static_cast<unsigned long>(g.rop),
                g.stretchMode, g.brush, g.clip, static_cast<long>(g.viewport.x), static_cast<long>(g.viewport.y),
                g.mw, g.mh, g.xm, g.ym, g.blobMask, g.seed);
  return buf;
}

// The destination's bytes after the drawing, followed by the call's result.
std::vector<std::uint8_t> Draw(const Drawing& g) {
  std::mt19937 rng(g.seed);
  Surface d(*g.dst, g.dw, g.dh, rng);
  std::unique_ptr<Surface> s;
  if (!g.sameBitmap) s = std::make_unique<Surface>(*g.src, g.sw, g.sh, rng);
  const Surface& source = s ? *s : d;
  SetTextColor(d.dc, rng() & 0xFFFFFF);
  SetBkColor(d.dc, rng() & 0xFFFFFF);
  if (s) SetBkColor(s->dc, rng() & 0xFFFFFF);
  SetStretchBltMode(d.dc, g.stretchMode);

  HBRUSH brush;
  if (g.brush == 0) {
    brush = CreateSolidBrush(rng() & 0xFFFFFF);
  } else {
    std::vector<std::uint8_t> pb(8 * 8 * 4);
    for (auto& b : pb) b = static_cast<std::uint8_t>(rng());
    HBITMAP pat = CreateBitmap(5 + g.brush, 3 + g.brush, 1, g.brush == 1 ? 1 : 24, pb.data());
    brush = CreatePatternBrush(pat);
    DeleteObject(pat);
  }
  HGDIOBJ oldBrush = SelectObject(d.dc, brush);
  SetBrushOrgEx(d.dc, static_cast<int>(rng() % 7), static_cast<int>(rng() % 5), nullptr);
  if (g.clip) IntersectClipRect(d.dc, g.clipRect.left, g.clipRect.top, g.clipRect.right, g.clipRect.bottom);
  SetViewportOrgEx(d.dc, g.viewport.x, g.viewport.y, nullptr);

  BOOL ok = FALSE;
  switch (g.op) {
    case Op::Bit:
      ok = BitBlt(d.dc, g.xd, g.yd, g.wd, g.hd, source.dc, g.xs, g.ys, g.rop);
      break;
    case Op::Stretch:
      ok = StretchBlt(d.dc, g.xd, g.yd, g.wd, g.hd, source.dc, g.xs, g.ys, g.ws, g.hs, g.rop);
      break;
    case Op::Mask: {
      const std::int64_t row = (g.mw + 15) / 16 * 2;
      std::vector<std::uint8_t> mb(static_cast<std::size_t>(row * g.mh));
      for (int y = 0; y < g.mh; ++y)
        for (int x = 0; x < g.mw; ++x) {
          const int cx = x - g.mw / 2, cy = y - g.mh / 2;
          const bool set = g.blobMask ? cx * cx + cy * cy > g.mw * g.mh / 6 : (rng() & 1) != 0;
          if (set) mb[static_cast<std::size_t>(y * row + x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
      HBITMAP mask = CreateBitmap(g.mw, g.mh, 1, 1, mb.data());
      ok = MaskBlt(d.dc, g.xd, g.yd, g.wd, g.hd, source.dc, g.xs, g.ys, mask, g.xm, g.ym, g.rop);
      DeleteObject(mask);
      break;
    }
    case Op::Pat:
      ok = PatBlt(d.dc, g.xd, g.yd, g.wd, g.hd, g.rop);
      break;
    case Op::DibBits: {
      // A DIB in memory: the source's own bits and header (the destination's when sameBitmap).
      if (source.info.empty()) break;
      ok = StretchDIBits(d.dc, g.xd, g.yd, g.wd, g.hd, g.xs, g.ys, g.ws, g.hs, source.bits,
                         reinterpret_cast<const BITMAPINFO*>(source.info.data()), DIB_RGB_COLORS, g.rop) != 0;
      break;
    }
  }
  SelectObject(d.dc, oldBrush);
  DeleteObject(brush);
  std::vector<std::uint8_t> out = d.Bytes();
  out.push_back(static_cast<std::uint8_t>(ok));
  return out;
}

struct FastPathsOn {
  ~FastPathsOn() { gdi::SetBlitFastPaths(true); }
};

void ExpectEnginesAgree(const Drawing& g) {
  FastPathsOn restore;
  gdi::SetBlitFastPaths(true);
  const std::vector<std::uint8_t> fast = Draw(g);
  gdi::SetBlitFastPaths(false);
  const std::vector<std::uint8_t> general = Draw(g);
  ASSERT_EQ(fast.size(), general.size()) << Describe(g);
  for (std::size_t i = 0; i < fast.size(); ++i)
    ASSERT_EQ(fast[i], general[i]) << "byte " << i << " of " << fast.size() << ": " << Describe(g);
}

}  // namespace

// The common codes between every pair of formats, the destination partly clipped by its edges.
TEST(BlitEngines, NamedCodesBetweenFormatsAgree) {
  const DWORD rops[] = {SRCCOPY,   SRCAND,    SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, MERGEPAINT,
                        MERGECOPY, PATINVERT, DSTINVERT, 0x00B8074A, 0x001D0000};
  std::uint32_t seed = 100;
  for (const PixelKind* dk : kAllKinds)
    for (const PixelKind* sk : kAllKinds)
      for (DWORD rop : rops) {
        Drawing g;
        g.dst = dk;
        g.src = sk;
        g.rop = rop;
        g.xd = -3;
        g.yd = 2;
        g.wd = 24;
        g.hd = 20;
        g.xs = 1;
        g.ys = -2;
        g.seed = ++seed;
        ExpectEnginesAgree(g);
        if (HasFatalFailure()) return;
      }
}

// Stretching, shrinking and mirroring on either side, in every stretching mode, inside a clip
// rectangle and under a moved viewport.
TEST(BlitEngines, StretchedAndMirroredTransfersAgree) {
  struct Geometry {
    int xd, yd, wd, hd, xs, ys, ws, hs;
  } const shapes[] = {
      {0, 0, 19, 13, 0, 0, 19, 13},     // same size
      {22, 0, -19, 13, 0, 0, 19, 13},   // mirrored across
      {0, 16, 19, -13, 0, 0, 19, 13},   // upside down
      {22, 16, -23, -17, 0, 0, 19, 13}, // both, enlarged
      {0, 0, 19, 13, 18, 12, -19, -13}, // negative source extents
      {1, 2, 40, 30, 3, 2, 9, 7},       // enlarged
      {2, 1, 7, 5, 0, 0, 19, 13},       // shrunk
      {-5, -4, 30, 8, 2, 3, 12, 9},     // mixed
  };
  const int modes[] = {COLORONCOLOR, BLACKONWHITE, WHITEONBLACK, HALFTONE};
  const PixelKind* dsts[] = {&kDib8, &kDib16, &kDib24Up, &kDib32, &kDdb32, &kDdb8, &kDdb1};
  const PixelKind* srcs[] = {&kDib8Up, &kDib24, &kDib32, &kDdb1, &kDib4};
  std::uint32_t seed = 5000;
  for (const Geometry& sh : shapes)
    for (int mode : modes)
      for (const PixelKind* dk : dsts)
        for (const PixelKind* sk : srcs)
          for (DWORD rop : {SRCCOPY, SRCINVERT}) {
            Drawing g;
            g.op = Op::Stretch;
            g.dst = dk;
            g.src = sk;
            g.rop = rop;
            g.xd = sh.xd, g.yd = sh.yd, g.wd = sh.wd, g.hd = sh.hd;
            g.xs = sh.xs, g.ys = sh.ys, g.ws = sh.ws, g.hs = sh.hs;
            g.stretchMode = mode;
            g.clip = (seed & 1) != 0;
            g.clipRect = {3, 2, 18, 15};
            g.viewport = {static_cast<LONG>(seed % 3), -static_cast<LONG>(seed % 2)};
            g.seed = ++seed;
            ExpectEnginesAgree(g);
            if (HasFatalFailure()) return;
          }
}

// A bitmap drawn onto itself: shifted in every direction (rows read before they are
// overwritten), mirrored in place, and masked.
TEST(BlitEngines, TransfersWithinOneBitmapAgree) {
  const PixelKind* kinds[] = {&kDib8, &kDib16, &kDib24, &kDib24Up, &kDib32, &kDdb32, &kDdb1, &kDib1};
  std::uint32_t seed = 9000;
  for (const PixelKind* k : kinds)
    for (int dx : {-3, 0, 2})
      for (int dy : {-2, 0, 3})
        for (DWORD rop : {SRCCOPY, SRCINVERT, SRCAND, NOTSRCCOPY, MAKEROP4(0x00AA0029, SRCCOPY),
                          MAKEROP4(SRCINVERT, SRCCOPY)})
          for (bool blob : {false, true}) {
            Drawing g;
            g.op = (rop >> 24) ? Op::Mask : Op::Bit;
            g.dst = k;
            g.sameBitmap = true;
            g.rop = rop;
            g.xs = 4, g.ys = 3, g.wd = 15, g.hd = 11;
            g.xd = 4 + dx, g.yd = 3 + dy;
            g.mw = 15, g.mh = 11, g.blobMask = blob;
            g.seed = ++seed;
            ExpectEnginesAgree(g);
            if (HasFatalFailure()) return;
          }
  for (const PixelKind* k : kinds)
    for (int mirror = 1; mirror < 4; ++mirror) {
      Drawing g;
      g.op = Op::Stretch;
      g.dst = k;
      g.sameBitmap = true;
      g.xs = 2, g.ys = 1, g.ws = 17, g.hs = 14;
      g.xd = (mirror & 1) ? 19 : 2, g.wd = (mirror & 1) ? -17 : 17;
      g.yd = (mirror & 2) ? 15 : 1, g.hd = (mirror & 2) ? -14 : 14;
      g.seed = ++seed;
      ExpectEnginesAgree(g);
      if (HasFatalFailure()) return;
    }
}

// Masked transfers: the transparent copy and other code pairs, noisy masks (short runs) and
// round ones (long runs), masks smaller than the area and placed partly outside it.
TEST(BlitEngines, MaskedTransfersAgree) {
  const DWORD rops[] = {MAKEROP4(0x00AA0029, SRCCOPY), MAKEROP4(SRCCOPY, 0x00AA0029), MAKEROP4(SRCAND, SRCPAINT),
                        MAKEROP4(SRCINVERT, NOTSRCCOPY), MAKEROP4(PATCOPY, SRCCOPY), MAKEROP4(0x00E20746, DSTINVERT)};
  struct Placement {
    int mw, mh, xm, ym;
  } const places[] = {{24, 20, 0, 0}, {10, 7, 0, 0}, {24, 20, -5, 3}, {30, 20, 9, -4}, {5, 40, 2, 1}};
  const PixelKind* dsts[] = {&kDib8, &kDib16, &kDib24, &kDib32, &kDdb32, &kDib1};
  const PixelKind* srcs[] = {&kDib8, &kDib24, &kDib32, &kDdb1, &kDib565};
  std::uint32_t seed = 20000;
  for (DWORD rop : rops)
    for (const Placement& pl : places)
      for (const PixelKind* dk : dsts)
        for (const PixelKind* sk : srcs)
          for (bool blob : {false, true}) {
            Drawing g;
            g.op = Op::Mask;
            g.dst = dk;
            g.src = sk;
            g.rop = rop;
            g.xd = -2, g.yd = 1, g.wd = 22, g.hd = 15, g.xs = 1, g.ys = 0;
            g.mw = pl.mw, g.mh = pl.mh, g.xm = pl.xm, g.ym = pl.ym;
            g.blobMask = blob;
            g.brush = static_cast<int>(seed % 3);
            g.clip = blob;
            g.clipRect = {1, 2, 20, 14};
            g.seed = ++seed;
            ExpectEnginesAgree(g);
            if (HasFatalFailure()) return;
          }
  // Rows long enough for masks read many bits at a time, at every bit alignment.
  for (int xm = -9; xm <= 9; ++xm)
    for (bool blob : {false, true})
      for (DWORD rop : {rops[0], rops[2]}) {
        Drawing g;
        g.op = Op::Mask;
        g.dst = &kDib24;
        g.src = &kDib8;
        g.rop = rop;
        g.dw = 180, g.dh = 6, g.sw = 170, g.sh = 6;
        g.xd = 3, g.wd = 170, g.hd = 6, g.xs = 0, g.ys = 0;
        g.mw = 150 + xm, g.mh = 6, g.xm = xm, g.ym = 0;
        g.blobMask = blob;
        g.seed = ++seed;
        ExpectEnginesAgree(g);
        if (HasFatalFailure()) return;
      }
}

// Solid and pattern brushes, including onto palette destinations.
TEST(BlitEngines, PatternFillsAgree) {
  std::uint32_t seed = 40000;
  for (const PixelKind* k : kAllKinds)
    for (DWORD rop : {PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS, 0x00A000C9u, 0x005F0000u})
      for (int brush = 0; brush < 3; ++brush) {
        Drawing g;
        g.op = Op::Pat;
        g.dst = k;
        g.rop = rop;
        g.brush = brush;
        g.xd = 21, g.yd = -3, g.wd = -19, g.hd = 18;
        g.seed = ++seed;
        ExpectEnginesAgree(g);
        if (HasFatalFailure()) return;
      }
}

// Device-independent bits from memory (no DC colour rules), also the destination's own bits.
TEST(BlitEngines, DeviceIndependentSourcesAgree) {
  std::uint32_t seed = 50000;
  const PixelKind* kinds[] = {&kDib1, &kDib4, &kDib8Up, &kDib16, &kDib565, &kDib24, &kDib24Up, &kDib32, &kDib32Rgb};
  for (const PixelKind* dk : {&kDib8, &kDib24, &kDib32, &kDdb32, &kDdb1})
    for (const PixelKind* sk : kinds)
      for (int mirror = 0; mirror < 2; ++mirror) {
        Drawing g;
        g.op = Op::DibBits;
        g.dst = dk;
        g.src = sk;
        g.rop = mirror ? SRCPAINT : SRCCOPY;
        g.xd = 1, g.yd = 2, g.wd = mirror ? -15 : 15, g.hd = 10, g.xs = 2, g.ys = 1, g.ws = 15, g.hs = 10;
        g.seed = ++seed;
        ExpectEnginesAgree(g);
        if (HasFatalFailure()) return;
      }
  // Rows of a bottom-up DIB are counted from the bottom: ys picks the same rows as the
  // destination's (dy = 0) or one row lower.
  for (const PixelKind* k : {&kDib8, &kDib24, &kDib24Up, &kDib32})
    for (int dx : {-2, 0, 3})
      for (int dy : {0, 1})
        for (DWORD rop : {SRCCOPY, SRCINVERT}) {
          Drawing g;
          g.op = Op::DibBits;
          g.dst = k;
          g.sameBitmap = true;
          g.xd = 3 + dx, g.yd = 2, g.wd = 14, g.hd = 9, g.xs = 3, g.ws = 14, g.hs = 9;
          g.ys = k->topDown ? g.yd + dy : g.dh - g.hs - g.yd - dy;
          g.rop = rop;
          g.seed = ++seed;
          ExpectEnginesAgree(g);
          if (HasFatalFailure()) return;
        }
}

// Random drawings of every kind: formats, codes (any of the 256), geometry, clipping, origins,
// brushes and masks.
TEST(BlitEngines, RandomDrawingsAgree) {
  std::mt19937 rng(20240601);
  auto pick = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<std::uint32_t>(hi - lo + 1)); };
  for (int n = 0; n < 1500; ++n) {
    Drawing g;
    g.op = static_cast<Op>(pick(0, 4));
    g.dst = kAllKinds[pick(0, 13)];
    g.src = kAllKinds[pick(0, 13)];
    g.sameBitmap = pick(0, 5) == 0;
    g.dw = pick(1, 40), g.dh = pick(1, 30), g.sw = pick(1, 40), g.sh = pick(1, 30);
    g.xd = pick(-10, 40), g.yd = pick(-10, 30), g.wd = pick(-45, 45), g.hd = pick(-35, 35);
    g.xs = pick(-10, 40), g.ys = pick(-10, 30), g.ws = pick(-45, 45), g.hs = pick(-35, 35);
    if (g.op == Op::Bit || g.op == Op::Mask || pick(0, 2) == 0) g.ws = g.wd, g.hs = g.hd;
    const DWORD fore = static_cast<DWORD>(pick(0, 255)), back = static_cast<DWORD>(pick(0, 255));
    g.rop = g.op == Op::Mask ? (back << 24) | (fore << 16) : fore << 16;
    if (g.op == Op::Pat) g.rop = static_cast<DWORD>((fore & 0xF0) | (fore >> 4)) << 16;  // no source
    g.stretchMode = pick(1, 4);
    g.brush = pick(0, 2);
    g.clip = pick(0, 2) == 0;
    g.clipRect = {pick(-5, 20), pick(-5, 15), pick(0, 45), pick(0, 35)};
    if (pick(0, 4) == 0) g.viewport = {pick(-8, 8), pick(-8, 8)};
    g.mw = pick(1, 45), g.mh = pick(1, 35), g.xm = pick(-10, 30), g.ym = pick(-10, 25);
    g.blobMask = pick(0, 1) != 0;
    g.seed = rng();
    ExpectEnginesAgree(g);
    if (HasFatalFailure()) return;
  }
}
