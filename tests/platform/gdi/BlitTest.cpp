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
