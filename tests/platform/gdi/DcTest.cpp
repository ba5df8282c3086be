#include <gtest/gtest.h>

#include "GdiTestUtil.h"

using namespace gditest;

TEST(GdiDeviceContext, MemoryDcStartsWithStockObjectsAndDefaults) {
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAP bm;
  ASSERT_EQ(GetObject(GetCurrentObject(dc, OBJ_BITMAP), sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PAL), GetStockObject(DEFAULT_PALETTE));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
  EXPECT_EQ(GetBkMode(dc), OPAQUE);
  EXPECT_EQ(GetStretchBltMode(dc), BLACKONWHITE);
  EXPECT_EQ(GetMapMode(dc), MM_TEXT);
  EXPECT_EQ(SetMapMode(dc, MM_TEXT), MM_TEXT);
  EXPECT_EQ(SetMapMode(dc, MM_ANISOTROPIC), 0);  // only pixel mapping is modelled
  EXPECT_EQ(SetStretchBltMode(dc, 9), 0);
  EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
  EXPECT_TRUE(DeleteDC(dc));
  HDC disp = CreateDC("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(disp, nullptr);
  EXPECT_EQ(GetObjectType(disp), OBJ_DC);
  EXPECT_TRUE(DeleteDC(disp));
  EXPECT_EQ(CreateDC("PRINTER", nullptr, nullptr, nullptr), nullptr);
}

TEST(GdiDeviceContext, SaveAndRestoreRelativeAndAbsolute) {
  DibCanvas c(2, 2, 32);
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  SetTextColor(c.dc, RGB(1, 1, 1));
  EXPECT_EQ(SaveDC(c.dc), 1);
  SetTextColor(c.dc, RGB(2, 2, 2));
  HGDIOBJ oldBrush = SelectObject(c.dc, red);
  SetViewportOrgEx(c.dc, 5, 5, nullptr);
  IntersectClipRect(c.dc, 0, 0, 1, 1);
  EXPECT_EQ(SaveDC(c.dc), 2);
  SetTextColor(c.dc, RGB(3, 3, 3));
  EXPECT_EQ(SaveDC(c.dc), 3);
  SetTextColor(c.dc, RGB(4, 4, 4));
  EXPECT_TRUE(RestoreDC(c.dc, -1));  // the latest saved state, level 3
  EXPECT_EQ(GetTextColor(c.dc), RGB(3, 3, 3));
  EXPECT_TRUE(RestoreDC(c.dc, 2));
  EXPECT_EQ(GetTextColor(c.dc), RGB(2, 2, 2));
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BRUSH), red);
  EXPECT_FALSE(RestoreDC(c.dc, 2));  // level 2 is gone now
  EXPECT_TRUE(RestoreDC(c.dc, 1));  // absolute: level 1
  EXPECT_EQ(GetTextColor(c.dc), RGB(1, 1, 1));
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BRUSH), oldBrush);
  POINT org;
  GetViewportOrgEx(c.dc, &org);
  EXPECT_EQ(org.x, 0);
  RECT box;
  GetClipBox(c.dc, &box);
  EXPECT_EQ(box.right, 2);  // the clip region went with the restored state
  EXPECT_FALSE(RestoreDC(c.dc, -1));  // nothing left
  EXPECT_FALSE(RestoreDC(c.dc, 0));
  EXPECT_TRUE(DeleteObject(red));  // no longer selected
}

TEST(GdiDeviceContext, RestoreSkipsObjectsDeletedMeanwhile) {
  DibCanvas c(2, 2, 32);
  HBRUSH a = CreateSolidBrush(RGB(1, 0, 0));
  SelectObject(c.dc, a);
  SaveDC(c.dc);
  SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
  ASSERT_TRUE(DeleteObject(a));  // only the saved state refers to it
  EXPECT_TRUE(RestoreDC(c.dc, -1));
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BRUSH), GetStockObject(BLACK_BRUSH));
  // A saved bitmap that went into another DC meanwhile stays there.
  HBITMAP b = CreateBitmap(2, 2, 1, 1, nullptr);
  HGDIOBJ before = SelectObject(c.dc, b);
  SaveDC(c.dc);
  SelectObject(c.dc, before);
  HDC other = CreateCompatibleDC(nullptr);
  SelectObject(other, b);
  EXPECT_TRUE(RestoreDC(c.dc, -1));
  EXPECT_EQ(GetCurrentObject(c.dc, OBJ_BITMAP), before);
  EXPECT_EQ(GetCurrentObject(other, OBJ_BITMAP), b);
  DeleteDC(other);
  DeleteObject(b);
}

TEST(GdiDeviceContext, CapabilitiesOfTheDefaultTrueColourScreen) {
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  EXPECT_EQ(GetDeviceCaps(screen, PLANES), 1);
  EXPECT_EQ(GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE, 0);
  EXPECT_EQ(GetDeviceCaps(screen, SIZEPALETTE), 0);
  EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), -1);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), GetSystemMetrics(SM_CXSCREEN));
  EXPECT_GT(GetDeviceCaps(screen, VERTRES), 0);
  PALETTEENTRY e[4];
  EXPECT_EQ(GetSystemPaletteEntries(screen, 0, 4, e), 0u);  // no palette on a true-colour screen
  EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
  EXPECT_EQ(ReleaseDC(nullptr, screen), 0);
}

TEST(GdiDeviceContext, EightBitScreenIsPaletteBased) {
  ScreenDepth depth(8);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES), 8);
  EXPECT_NE(GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE, 0);
  EXPECT_EQ(GetDeviceCaps(screen, SIZEPALETTE), 256);
  EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), 20);
  std::vector<PALETTEENTRY> sys(256);
  ASSERT_EQ(GetSystemPaletteEntries(screen, 0, 256, sys.data()), 256u);
  EXPECT_EQ(sys[9].peRed, 166);    // static colours at 0..9 and 246..255
  EXPECT_EQ(sys[246].peGreen, 251);
  EXPECT_EQ(sys[255].peBlue, 255);
  EXPECT_EQ(GetSystemPaletteEntries(screen, 250, 20, sys.data()), 6u);

  HBITMAP b = CreateCompatibleBitmap(screen, 4, 1);
  BITMAP bm;
  GetObject(b, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 8);
  HDC mem = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(mem, b);
  // A foreground palette is realised into the system palette, and colours resolve through it.
  std::vector<std::uint8_t> lp(sizeof(LOGPALETTE) + 2 * sizeof(PALETTEENTRY));
  auto* logical = reinterpret_cast<LOGPALETTE*>(lp.data());
  logical->palVersion = 0x300;
  logical->palNumEntries = 2;
  logical->palPalEntry[0] = {17, 34, 51, PC_NOCOLLAPSE};
  logical->palPalEntry[1] = {255, 0, 0, 0};  // equals a static colour: collapses
  HPALETTE pal = CreatePalette(logical);
  HPALETTE oldPal = SelectPalette(mem, pal, FALSE);
  EXPECT_EQ(oldPal, GetStockObject(DEFAULT_PALETTE));
  EXPECT_EQ(RealizePalette(mem), 2u);
  GetSystemPaletteEntries(screen, 0, 256, sys.data());
  EXPECT_EQ(sys[10].peRed, 17);
  EXPECT_EQ(sys[10].peBlue, 51);
  SetPixel(mem, 0, 0, PALETTEINDEX(0));
  SetPixel(mem, 1, 0, PALETTERGB(20, 30, 50));  // nearest logical entry
  EXPECT_EQ(GetPixel(mem, 0, 0), RGB(17, 34, 51));
  EXPECT_EQ(GetPixel(mem, 1, 0), RGB(17, 34, 51));
  EXPECT_EQ(GetNearestColor(mem, RGB(250, 5, 5)), RGB(255, 0, 0));
  EXPECT_FALSE(DeleteObject(pal));  // selected
  SelectPalette(mem, oldPal, FALSE);
  EXPECT_TRUE(DeleteObject(pal));
  SelectObject(mem, old);
  DeleteObject(b);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST(GdiDeviceContext, PixelsAndNearestColourFollowTheBitmapFormat) {
  DdbCanvas mono(2, 1, 1);
  EXPECT_EQ(SetPixel(mono.dc, 0, 0, RGB(200, 200, 200)), RGB(255, 255, 255));
  EXPECT_EQ(GetNearestColor(mono.dc, RGB(100, 50, 0)), RGB(0, 0, 0));
  EXPECT_EQ(SetPixel(mono.dc, 5, 0, 0), CLR_INVALID);
  DdbCanvas hi(2, 1, 16);  // 5 bits a channel
  EXPECT_EQ(SetPixel(hi.dc, 0, 0, RGB(255, 8, 15)), RGB(255, 8, 8));
  EXPECT_EQ(GetNearestColor(hi.dc, RGB(255, 255, 255)), RGB(255, 255, 255));
  DdbCanvas four(2, 1, 4);
  EXPECT_EQ(SetPixel(four.dc, 1, 0, RGB(250, 10, 10)), RGB(255, 0, 0));
  DibCanvas c(2, 1, 32);
  EXPECT_EQ(SetPixel(c.dc, 0, 0, PALETTEINDEX(9)), RGB(166, 202, 240));  // default palette entry 9
  EXPECT_EQ(SetPixel(c.dc, 1, 0, PALETTERGB(1, 2, 3)), RGB(1, 2, 3));   // true colour: as RGB
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetNearestColor(screen, RGB(1, 2, 3)), RGB(1, 2, 3));
  EXPECT_TRUE(GdiFlush());
  ReleaseDC(nullptr, screen);
}
