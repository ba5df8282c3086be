#include <gtest/gtest.h>

#include <cstring>

#include "GdiTestUtil.h"

using namespace gditest;

namespace {

// A 2 x 2 icon: mask row 0 = 1 0, row 1 = 0 0; colour black where the mask is set.
HICON MakeIcon() {
  const std::uint8_t maskBits[4] = {0x80, 0, 0x00, 0};
  HBITMAP mask = CreateBitmap(2, 2, 1, 1, maskBits);
  HBITMAP color = CreateBitmap(2, 2, 1, 32, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, color);
  SetPixel(dc, 0, 0, RGB(0, 0, 0));
  SetPixel(dc, 1, 0, RGB(255, 0, 0));
  SetPixel(dc, 0, 1, RGB(0, 255, 0));
  SetPixel(dc, 1, 1, RGB(0, 0, 255));
  SelectObject(dc, old);
  DeleteDC(dc);
  ICONINFO ii;
  ii.fIcon = TRUE;
  ii.hbmMask = mask;
  ii.hbmColor = color;
  HICON icon = CreateIconIndirect(&ii);
  DeleteObject(mask);  // the icon keeps its own copies
  DeleteObject(color);
  return icon;
}

}  // namespace

TEST(GdiIcons, GetIconInfoReturnsFreshBitmapsEachTime) {
  HICON icon = MakeIcon();
  ASSERT_NE(icon, nullptr);
  ICONINFO a, b;
  ASSERT_TRUE(GetIconInfo(icon, &a));
  ASSERT_TRUE(GetIconInfo(icon, &b));
  EXPECT_TRUE(a.fIcon);
  EXPECT_EQ(a.xHotspot, 1u);
  EXPECT_NE(a.hbmMask, b.hbmMask);
  EXPECT_NE(a.hbmColor, b.hbmColor);
  BITMAP bm;
  GetObject(a.hbmColor, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 2);
  GetObject(a.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  // Drawing into the returned bitmaps or deleting them does not touch the icon.
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, a.hbmColor);
  PatBlt(dc, 0, 0, 2, 2, WHITENESS);
  SelectObject(dc, old);
  DeleteDC(dc);
  EXPECT_TRUE(DeleteObject(a.hbmMask));
  EXPECT_TRUE(DeleteObject(a.hbmColor));
  ICONINFO c;
  ASSERT_TRUE(GetIconInfo(icon, &c));
  dc = CreateCompatibleDC(nullptr);
  old = SelectObject(dc, c.hbmColor);
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(255, 0, 0));
  SelectObject(dc, old);
  DeleteDC(dc);
  for (HBITMAP h : {b.hbmMask, b.hbmColor, c.hbmMask, c.hbmColor}) DeleteObject(h);
  EXPECT_TRUE(DestroyIcon(icon));
  EXPECT_FALSE(DestroyIcon(icon));
  EXPECT_FALSE(GetIconInfo(icon, &c));
}

TEST(GdiIcons, DrawIconExAndsTheMaskThenXorsTheImage) {
  HICON icon = MakeIcon();
  DibCanvas c(4, 4, 32);
  c.Fill(RGB(10, 20, 30));
  SetTextColor(c.dc, RGB(1, 2, 3));  // the DC's colours do not affect icon drawing
  SetBkColor(c.dc, RGB(4, 5, 6));
  ASSERT_TRUE(DrawIconEx(c.dc, 1, 1, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.At(1, 1), RGB(10, 20, 30));  // mask 1, colour black: transparent
  EXPECT_EQ(c.At(2, 1), RGB(255, 0, 0));
  EXPECT_EQ(c.At(1, 2), RGB(0, 255, 0));
  EXPECT_EQ(c.At(0, 0), RGB(10, 20, 30));
  // DI_MASK alone copies the mask; DI_IMAGE alone copies the image.
  ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 0, 0, 0, nullptr, DI_MASK));
  EXPECT_EQ(c.At(0, 0), RGB(255, 255, 255));
  EXPECT_EQ(c.At(1, 0), RGB(0, 0, 0));
  ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 0, 0, 0, nullptr, DI_IMAGE));
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 0));
  // Stretched to 4 x 4, with a flicker-free brush filling the area first.
  HBRUSH br = CreateSolidBrush(RGB(9, 9, 9));
  ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 4, 4, 0, br, DI_NORMAL));
  EXPECT_EQ(c.At(1, 1), RGB(9, 9, 9));
  EXPECT_EQ(c.At(3, 1), RGB(255, 0, 0));
  EXPECT_EQ(c.At(3, 3), RGB(0, 0, 255));
  DeleteObject(br);
  EXPECT_FALSE(DrawIconEx(c.dc, 0, 0, icon, 0, 0, 0, nullptr, 0));
  DestroyIcon(icon);
}

TEST(GdiIcons, MonochromeIconFromCreateIconStacksAndAndXor) {
  const std::uint8_t andBits[4] = {0x80, 0, 0x00, 0};  // 2 x 2, word-aligned rows
  const std::uint8_t xorBits[4] = {0x00, 0, 0x40, 0};
  HICON icon = CreateIcon(nullptr, 2, 2, 1, 1, andBits, xorBits);
  ASSERT_NE(icon, nullptr);
  ICONINFO ii;
  ASSERT_TRUE(GetIconInfo(icon, &ii));
  EXPECT_EQ(ii.hbmColor, nullptr);
  BITMAP bm;
  GetObject(ii.hbmMask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmHeight, 4);
  DeleteObject(ii.hbmMask);
  DibCanvas c(2, 2, 32);
  c.Fill(RGB(50, 50, 50));
  ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.At(0, 0), RGB(50, 50, 50));     // AND 1, XOR 0
  EXPECT_EQ(c.At(1, 0), RGB(0, 0, 0));        // AND 0, XOR 0
  EXPECT_EQ(c.At(1, 1), RGB(255, 255, 255));  // AND 0, XOR 1
  DestroyIcon(icon);
}

TEST(GdiIcons, ColourIconFromDeviceBitsAndCopies) {
  const std::uint8_t andBits[4] = {0x00, 0, 0x00, 0};
  std::uint32_t xorBits[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};  // red, green, blue, white
  HICON icon = CreateIcon(nullptr, 2, 2, 1, 32, andBits, reinterpret_cast<const BYTE*>(xorBits));
  ASSERT_NE(icon, nullptr);
  HICON copy = CopyIcon(icon);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, icon);
  EXPECT_TRUE(DestroyIcon(icon));
  DibCanvas c(2, 2, 32);
  ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, copy, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(c.At(1, 1), RGB(255, 255, 255));
  DestroyIcon(copy);
  EXPECT_EQ(CreateIcon(nullptr, 2, 2, 1, 32, nullptr, andBits), nullptr);
}

TEST(GdiIcons, ApplicationIconAndSystemMetrics) {
  EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(GetSystemMetrics(SM_CYICON), 32);
  HICON app = LoadIcon(nullptr, IDI_APPLICATION);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(LoadIcon(nullptr, IDI_APPLICATION), app);
  EXPECT_TRUE(DestroyIcon(app));  // a shared icon stays
  ICONINFO ii;
  ASSERT_TRUE(GetIconInfo(app, &ii));
  BITMAP bm;
  GetObject(ii.hbmColor, sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 32);
  EXPECT_EQ(bm.bmHeight, 32);
  DeleteObject(ii.hbmColor);
  DeleteObject(ii.hbmMask);
  DibCanvas c(40, 40, 32);
  c.Fill(RGB(1, 2, 3));
  ASSERT_TRUE(DrawIcon(c.dc, 4, 4, app));
  EXPECT_EQ(c.At(4, 4), RGB(1, 2, 3));  // transparent corner
  EXPECT_EQ(c.At(4 + 6, 4 + 6), RGB(0, 0, 128));  // title bar
  EXPECT_EQ(LoadIcon(nullptr, reinterpret_cast<LPCSTR>(std::uintptr_t{32513})), nullptr);
  EXPECT_EQ(LastGdiError(), gdi::kErrorResourceNameNotFound);
}
