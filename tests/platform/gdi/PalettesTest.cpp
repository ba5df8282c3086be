#include <gtest/gtest.h>

#include "GdiTestUtil.h"

using namespace gditest;

namespace {

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries) {
  std::vector<std::uint8_t> mem(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(mem.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) lp->palPalEntry[i] = entries[i];
  return CreatePalette(lp);
}

}  // namespace

TEST(GdiPalettes, NearestIndexPrefersTheLowestOnTies) {
  HPALETTE p = MakePalette({{0, 0, 0, 0}, {10, 0, 0, 0}, {7, 7, 7, 0}, {7, 7, 7, 0}, {20, 0, 0, 0}});
  EXPECT_EQ(GetNearestPaletteIndex(p, RGB(5, 0, 0)), 0u);    // equally far from 0 and 1
  EXPECT_EQ(GetNearestPaletteIndex(p, RGB(15, 0, 0)), 1u);   // equally far from 1 and 4
  EXPECT_EQ(GetNearestPaletteIndex(p, RGB(7, 7, 7)), 2u);    // two equal entries
  EXPECT_EQ(GetNearestPaletteIndex(p, RGB(30, 0, 0)), 4u);
  EXPECT_EQ(GetNearestPaletteIndex(p, PALETTERGB(30, 0, 0)), 4u);  // the flag byte is ignored
  DeleteObject(p);
}

TEST(GdiPalettes, EntriesReadWriteResizeAndFlags) {
  HPALETTE p = MakePalette({{1, 2, 3, PC_NOCOLLAPSE}, {4, 5, 6, PC_RESERVED}});
  PALETTEENTRY e[4] = {};
  EXPECT_EQ(GetPaletteEntries(p, 0, 0, nullptr), 2u);
  EXPECT_EQ(GetPaletteEntries(p, 0, 4, e), 2u);
  EXPECT_EQ(e[0].peFlags, PC_NOCOLLAPSE);
  EXPECT_EQ(e[1].peFlags, PC_RESERVED);
  EXPECT_EQ(GetPaletteEntries(p, 5, 1, e), 0u);
  PALETTEENTRY n = {9, 9, 9, 0};
  EXPECT_EQ(SetPaletteEntries(p, 1, 3, &n), 1u);
  ASSERT_TRUE(ResizePalette(p, 4));
  EXPECT_EQ(GetPaletteEntries(p, 0, 4, e), 4u);
  EXPECT_EQ(e[1].peRed, 9);
  EXPECT_EQ(e[3].peRed, 0);
  EXPECT_FALSE(ResizePalette(p, 0));
  WORD count = 0;
  GetObject(p, sizeof count, &count);
  EXPECT_EQ(count, 4);
  DeleteObject(p);
  LOGPALETTE empty{0x300, 0, {}};
  EXPECT_EQ(CreatePalette(&empty), nullptr);
  EXPECT_EQ(CreatePalette(nullptr), nullptr);
  HPALETTE def = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  EXPECT_EQ(SetPaletteEntries(def, 0, 1, &n), 0u);  // the stock palette stays as it is
}

TEST(GdiPalettes, DefaultPaletteHasTheTwentyStaticColoursInOrder) {
  PALETTEENTRY e[20];
  ASSERT_EQ(GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, e), 20u);
  auto rgb = [](const PALETTEENTRY& p) { return RGB(p.peRed, p.peGreen, p.peBlue); };
  EXPECT_EQ(rgb(e[0]), RGB(0, 0, 0));
  EXPECT_EQ(rgb(e[1]), RGB(128, 0, 0));
  EXPECT_EQ(rgb(e[7]), RGB(192, 192, 192));
  EXPECT_EQ(rgb(e[8]), RGB(192, 220, 192));
  EXPECT_EQ(rgb(e[9]), RGB(166, 202, 240));
  EXPECT_EQ(rgb(e[10]), RGB(255, 251, 240));
  EXPECT_EQ(rgb(e[11]), RGB(160, 160, 164));
  EXPECT_EQ(rgb(e[12]), RGB(128, 128, 128));
  EXPECT_EQ(rgb(e[13]), RGB(255, 0, 0));
  EXPECT_EQ(rgb(e[19]), RGB(255, 255, 255));
}

TEST(GdiPalettes, HalftonePaletteLayout) {
  HDC screen = GetDC(nullptr);
  HPALETTE h = CreateHalftonePalette(screen);
  std::vector<PALETTEENTRY> e(256);
  ASSERT_EQ(GetPaletteEntries(h, 0, 256, e.data()), 256u);
  EXPECT_EQ(e[9].peGreen, 202);                  // static colours first ...
  EXPECT_EQ(e[246].peGreen, 251);                // ... and last
  EXPECT_EQ(e[10 + 36 * 5 + 6 * 3 + 1].peRed, 255);  // cube entry (5, 3, 1)
  EXPECT_EQ(e[10 + 36 * 5 + 6 * 3 + 1].peGreen, 153);
  EXPECT_EQ(e[10 + 36 * 5 + 6 * 3 + 1].peBlue, 51);
  EXPECT_EQ(e[226].peRed, 12);  // greys after the cube
  EXPECT_EQ(e[245].peRed, 243);
  DeleteObject(h);
  ReleaseDC(nullptr, screen);
}

TEST(GdiPalettes, SelectAndRealizeOnATrueColourScreen) {
  DibCanvas c(1, 1, 32);
  HPALETTE p = MakePalette({{10, 20, 30, 0}, {40, 50, 60, 0}});
  HPALETTE old = SelectPalette(c.dc, p, TRUE);
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_PAL), p);
  EXPECT_EQ(RealizePalette(c.dc), 2u);
  SetPixel(c.dc, 0, 0, PALETTEINDEX(1));
  EXPECT_EQ(c.At(0, 0), RGB(40, 50, 60));
  SetPixel(c.dc, 0, 0, PALETTEINDEX(7));  // out of range: entry 0
  EXPECT_EQ(c.At(0, 0), RGB(10, 20, 30));
  SelectPalette(c.dc, old, FALSE);
  EXPECT_EQ(RealizePalette(c.dc), 0u);  // the default palette
  DeleteObject(p);
}
