#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "GdiTestUtil.h"

using namespace gditest;

TEST(GdiHandles, DistinctTypesConvertToGdiObject) {
  HBITMAP b = CreateBitmap(2, 2, 1, 1, nullptr);
  HGDIOBJ o = b;
  EXPECT_EQ(GetObjectType(o), OBJ_BITMAP);
  EXPECT_EQ(GetObjectType(GetStockObject(WHITE_BRUSH)), OBJ_BRUSH);
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_PEN)), OBJ_PEN);
  EXPECT_EQ(GetObjectType(GetStockObject(DEFAULT_PALETTE)), OBJ_PAL);
  EXPECT_EQ(GetObjectType(GetStockObject(SYSTEM_FONT)), OBJ_FONT);
  HDC mem = CreateCompatibleDC(nullptr), screen = GetDC(nullptr);
  EXPECT_EQ(GetObjectType(mem), OBJ_MEMDC);
  EXPECT_EQ(GetObjectType(screen), OBJ_DC);
  HRGN rgn = CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(GetObjectType(rgn), OBJ_REGION);
  EXPECT_EQ(GetObjectType(LoadIcon(nullptr, IDI_APPLICATION)), 0u);  // icons are not GDI objects
  DeleteObject(rgn);
  DeleteObject(b);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST(GdiHandles, InvalidAndDeletedHandlesFailWithoutCrashing) {
  HBITMAP b = CreateBitmap(2, 2, 1, 8, nullptr);
  ASSERT_TRUE(DeleteObject(b));
  EXPECT_FALSE(DeleteObject(b));
  EXPECT_EQ(LastGdiError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetObjectType(b), 0u);
  BITMAP bm;
  EXPECT_EQ(GetObject(b, sizeof bm, &bm), 0);
  HBITMAP fresh = CreateBitmap(2, 2, 1, 8, nullptr);  // may reuse the slot; the old handle stays dead
  EXPECT_EQ(GetObjectType(b), 0u);
  EXPECT_EQ(GetObjectType(fresh), OBJ_BITMAP);
  DeleteObject(fresh);

  auto junk = reinterpret_cast<HDC>(std::uintptr_t{0x1234});
  EXPECT_EQ(GetObjectType(junk), 0u);
  EXPECT_EQ(SaveDC(junk), 0);
  EXPECT_FALSE(RestoreDC(junk, -1));
  EXPECT_EQ(SetTextColor(junk, 0), CLR_INVALID);
  EXPECT_EQ(GetPixel(junk, 0, 0), CLR_INVALID);
  EXPECT_EQ(GetDeviceCaps(junk, BITSPIXEL), 0);
  EXPECT_EQ(SelectObject(junk, GetStockObject(WHITE_BRUSH)), nullptr);
  EXPECT_EQ(CreateCompatibleDC(junk), nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(junk, 2, 2), nullptr);
  EXPECT_FALSE(DeleteDC(junk));
  EXPECT_EQ(GetDIBits(nullptr, reinterpret_cast<HBITMAP>(junk), 0, 1, nullptr, nullptr, 0), 0);
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(junk)));
  EXPECT_EQ(GetNearestPaletteIndex(reinterpret_cast<HPALETTE>(junk), 0), CLR_INVALID);
  EXPECT_EQ(FillRect(junk, nullptr, nullptr), 0);

  // A handle of the wrong kind is refused too.
  HDC mem = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(mem, mem), nullptr);
  EXPECT_FALSE(DeleteObject(mem));  // a DC is deleted with DeleteDC
  EXPECT_EQ(SelectPalette(mem, reinterpret_cast<HPALETTE>(GetStockObject(WHITE_BRUSH)), FALSE), nullptr);
  EXPECT_TRUE(DeleteDC(mem));
  EXPECT_FALSE(DeleteDC(mem));
}

TEST(GdiHandles, StockObjectsSurviveDeletion) {
  for (int i : {WHITE_BRUSH, BLACK_BRUSH, NULL_BRUSH, BLACK_PEN, DEFAULT_PALETTE, SYSTEM_FONT}) {
    HGDIOBJ s = GetStockObject(i);
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(DeleteObject(s));
    EXPECT_EQ(GetStockObject(i), s);
    EXPECT_NE(GetObjectType(s), 0u);
  }
  EXPECT_EQ(GetStockObject(9), nullptr);
  EXPECT_EQ(GetStockObject(-1), nullptr);
  HGDIOBJ stockBitmap = CreateBitmap(0, 0, 1, 1, nullptr);  // zero size: the stock 1 x 1 bitmap
  ASSERT_NE(stockBitmap, nullptr);
  EXPECT_TRUE(DeleteObject(stockBitmap));
  BITMAP bm;
  ASSERT_EQ(GetObject(stockBitmap, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 1);
  EXPECT_EQ(bm.bmBitsPixel, 1);
}

TEST(GdiHandles, SelectedObjectsCannotBeDeletedAndBitmapsBelongToOneDc) {
  HDC a = CreateCompatibleDC(nullptr), b = CreateCompatibleDC(nullptr);
  HGDIOBJ stock = GetCurrentObject(a, OBJ_BITMAP);
  HBITMAP bmp = CreateBitmap(4, 4, 1, 32, nullptr);
  EXPECT_EQ(SelectObject(a, bmp), stock);  // returns the previous object
  EXPECT_EQ(SelectObject(b, bmp), nullptr);  // already selected elsewhere
  EXPECT_EQ(SelectObject(a, bmp), bmp);      // selecting again into the same DC is fine
  EXPECT_FALSE(DeleteObject(bmp));
  HBRUSH br = CreateSolidBrush(RGB(1, 2, 3));
  SelectObject(a, br);
  SelectObject(b, br);  // brushes may be selected into many DCs
  EXPECT_FALSE(DeleteObject(br));
  SelectObject(a, GetStockObject(WHITE_BRUSH));
  EXPECT_FALSE(DeleteObject(br));
  DeleteDC(b);  // deleting the DC releases its selections
  EXPECT_TRUE(DeleteObject(br));
  SelectObject(a, stock);
  EXPECT_TRUE(DeleteObject(bmp));
  HDC screen = GetDC(nullptr);
  HBITMAP other = CreateBitmap(1, 1, 1, 1, nullptr);
  EXPECT_EQ(SelectObject(screen, other), nullptr);  // bitmaps go into memory DCs only
  DeleteObject(other);
  ReleaseDC(nullptr, screen);
  DeleteDC(a);
}

TEST(GdiGetObject, DescribesEachKind) {
  LOGBRUSH lb;
  HBRUSH br = CreateSolidBrush(RGB(9, 8, 7));
  ASSERT_EQ(GetObject(br, sizeof lb, &lb), static_cast<int>(sizeof lb));
  EXPECT_EQ(lb.lbStyle, BS_SOLID);
  EXPECT_EQ(lb.lbColor, RGB(9, 8, 7));
  EXPECT_EQ(GetObject(br, 2, &lb), 0);  // buffer too small
  DeleteObject(br);
  LOGPEN lp;
  HPEN pen = CreatePen(PS_DOT, 3, RGB(1, 1, 1));
  ASSERT_EQ(GetObject(pen, sizeof lp, &lp), static_cast<int>(sizeof lp));
  EXPECT_EQ(lp.lopnStyle, static_cast<UINT>(PS_DOT));
  EXPECT_EQ(lp.lopnWidth.x, 3);
  DeleteObject(pen);
  WORD count = 0;
  ASSERT_EQ(GetObject(GetStockObject(DEFAULT_PALETTE), sizeof count, &count), 2);
  EXPECT_EQ(count, 20);
  BITMAP bm;
  HBITMAP bmp = CreateBitmap(5, 3, 1, 4, nullptr);
  EXPECT_EQ(GetObject(bmp, 0, nullptr), static_cast<int>(sizeof(BITMAP)));
  ASSERT_EQ(GetObject(bmp, sizeof(DIBSECTION), &bm), static_cast<int>(sizeof bm));  // not a DIB section
  EXPECT_EQ(bm.bmWidthBytes, 4);  // 20 bits, word-aligned
  DeleteObject(bmp);
  LOGFONTA lf{};
  lf.lfHeight = -13;
  std::strcpy(lf.lfFaceName, "Sans");
  HFONT f = CreateFontIndirect(&lf);
  LOGFONTA back{};
  ASSERT_EQ(GetObject(f, sizeof back, &back), static_cast<int>(sizeof back));
  EXPECT_STREQ(back.lfFaceName, "Sans");
  DeleteObject(f);
}

TEST(GdiClipboardFormats, NamesGetStableIdsFrom0xC000) {
  UINT a = RegisterClipboardFormat("GIF Image");
  UINT b = RegisterClipboardFormat("Another Format");
  EXPECT_GE(a, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterClipboardFormat("GIF Image"), a);
  EXPECT_EQ(RegisterClipboardFormatA("gif image"), a);  // names compare without regard to case
  char name[64];
  EXPECT_EQ(GetClipboardFormatName(a, name, sizeof name), 9);
  EXPECT_STREQ(name, "GIF Image");
  EXPECT_EQ(GetClipboardFormatName(a, name, 4), 3);
  EXPECT_STREQ(name, "GIF");
  EXPECT_EQ(GetClipboardFormatName(CF_BITMAP, name, sizeof name), 0);
  EXPECT_EQ(RegisterClipboardFormat(""), 0u);
  EXPECT_EQ(RegisterClipboardFormat(nullptr), 0u);
  EXPECT_EQ(CF_BITMAP, 2u);
  EXPECT_EQ(CF_DIB, 8u);
  EXPECT_EQ(CF_PALETTE, 9u);
}

TEST(GdiThreads, HandleTableSurvivesConcurrentUse) {
  std::atomic<int> failures{0};
  auto worker = [&failures](int seed) {
    for (int i = 0; i < 300; ++i) {
      HDC dc = CreateCompatibleDC(nullptr);
      HBITMAP b = CreateBitmap(16 + (i + seed) % 7, 8, 1, 24, nullptr);
      HGDIOBJ old = SelectObject(dc, b);
      if (!old || !PatBlt(dc, 0, 0, 8, 8, WHITENESS) || GetPixel(dc, 1, 1) != RGB(255, 255, 255)) ++failures;
      HBRUSH br = CreateSolidBrush(RGB(i, seed, 0));
      SelectObject(dc, br);
      SaveDC(dc);
      SelectObject(dc, GetStockObject(BLACK_BRUSH));
      RestoreDC(dc, -1);
      SelectObject(dc, GetStockObject(WHITE_BRUSH));
      DeleteObject(br);
      SelectObject(dc, old);
      if (!DeleteObject(b) || !DeleteDC(dc)) ++failures;
      DeleteObject(b);  // stale handle from another thread's point of view: must simply fail
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back(worker, t);
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}
