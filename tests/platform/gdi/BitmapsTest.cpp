#include <gtest/gtest.h>

#include <cstring>

#include "GdiTestUtil.h"

using namespace gditest;

namespace {

// A BITMAPINFO with room for a full colour table or the three masks.
struct Info {
  std::vector<std::uint8_t> mem = std::vector<std::uint8_t>(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  Info(int w, int h, int bpp, DWORD compression = BI_RGB) {
    auto& hd = Get()->bmiHeader;
    hd.biSize = sizeof(BITMAPINFOHEADER);
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biPlanes = 1;
    hd.biBitCount = static_cast<WORD>(bpp);
    hd.biCompression = compression;
  }
  BITMAPINFO* Get() { return reinterpret_cast<BITMAPINFO*>(mem.data()); }
  RGBQUAD* Table() { return Get()->bmiColors; }
};

}  // namespace

TEST(GdiDibSection, BottomUpAndTopDownRowAddresses) {
  for (bool topDown : {false, true}) {
    DibCanvas c(3, 4, 24, topDown);
    ASSERT_NE(c.bits, nullptr);
    SetPixel(c.dc, 0, 0, RGB(1, 2, 3));
    SetPixel(c.dc, 2, 3, RGB(4, 5, 6));
    const auto* p = static_cast<const std::uint8_t*>(c.bits);
    const std::int64_t stride = 12;  // 9 bytes padded to 12
    const std::uint8_t* top = p + (topDown ? 0 : 3 * stride);
    const std::uint8_t* bottom = p + (topDown ? 3 * stride : 0);
    EXPECT_EQ(top[0], 3);  // blue, green, red
    EXPECT_EQ(top[2], 1);
    EXPECT_EQ(bottom[6], 6);
    EXPECT_EQ(bottom[8], 4);
    DIBSECTION ds;
    ASSERT_EQ(GetObject(c.bmp, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, c.bits);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, stride);
    EXPECT_EQ(ds.dsBm.bmHeight, 4);
    EXPECT_EQ(ds.dsBmih.biHeight, topDown ? -4 : 4);
    EXPECT_EQ(ds.dsBmih.biSizeImage, static_cast<DWORD>(4 * stride));
    BITMAP bm;
    ASSERT_EQ(GetObject(c.bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));  // too small for a DIBSECTION
    EXPECT_EQ(bm.bmBitsPixel, 24);
  }
}

TEST(GdiDibSection, BitfieldsAndPaletteColours) {
  Info info(2, -1, 16, BI_BITFIELDS);
  DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(info.Table(), masks, sizeof masks);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, info.Get(), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  SetPixel(dc, 0, 0, RGB(255, 0, 0));
  SetPixel(dc, 1, 0, RGB(0, 255, 0));
  const auto* w = static_cast<const std::uint16_t*>(bits);
  EXPECT_EQ(w[0], 0xF800);
  EXPECT_EQ(w[1], 0x07E0);
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 255, 0));
  DIBSECTION ds;
  GetObject(bmp, sizeof ds, &ds);
  EXPECT_EQ(ds.dsBitfields[1], 0x07E0u);
  SelectObject(dc, old);
  DeleteObject(bmp);

  // Overlapping masks are refused.
  DWORD bad[3] = {0xF800, 0x0FE0, 0x001F};
  std::memcpy(info.Table(), bad, sizeof bad);
  EXPECT_EQ(CreateDIBSection(nullptr, info.Get(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);

  // DIB_PAL_COLORS: the table holds indices into the DC's palette.
  Info pinfo(2, 1, 8);
  pinfo.Get()->bmiHeader.biClrUsed = 2;
  WORD idx[2] = {13, 16};  // red and blue of the default palette
  std::memcpy(pinfo.Table(), idx, sizeof idx);
  HBITMAP pb = CreateDIBSection(dc, pinfo.Get(), DIB_PAL_COLORS, &bits, nullptr, 0);
  ASSERT_NE(pb, nullptr);
  old = SelectObject(dc, pb);
  RGBQUAD t[4];
  EXPECT_EQ(GetDIBColorTable(dc, 0, 4, t), 2u);
  EXPECT_EQ(t[0].rgbRed, 255);
  EXPECT_EQ(t[1].rgbBlue, 255);
  SelectObject(dc, old);
  DeleteObject(pb);
  DeleteDC(dc);
}

TEST(GdiDibSection, ColourTableReadAndWrite) {
  std::vector<RGBQUAD> table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  DibCanvas c(8, 1, 1, true, table);
  SetPixel(c.dc, 0, 0, RGB(255, 255, 255));
  EXPECT_EQ(static_cast<const std::uint8_t*>(c.bits)[0], 0x80);
  RGBQUAD red = {0, 0, 255, 0};
  EXPECT_EQ(SetDIBColorTable(c.dc, 1, 5, &red), 1u);  // only one entry from index 1
  EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
  RGBQUAD out[2];
  EXPECT_EQ(GetDIBColorTable(c.dc, 0, 2, out), 2u);
  EXPECT_EQ(out[1].rgbRed, 255);
  DdbCanvas ddb(2, 2, 8);
  EXPECT_EQ(GetDIBColorTable(ddb.dc, 0, 2, out), 0u);  // not a DIB section
}

TEST(GetDIBits, FromA32BitBitmapToEachDepthWithColourTable) {
  DibCanvas src(4, 2, 32);
  SetPixel(src.dc, 0, 0, RGB(255, 0, 0));
  SetPixel(src.dc, 1, 0, RGB(200, 200, 200));
  SetPixel(src.dc, 2, 0, RGB(0, 0, 0));
  SetPixel(src.dc, 3, 0, RGB(255, 255, 255));
  SetPixel(src.dc, 0, 1, RGB(0, 0, 128));
  HDC screen = GetDC(nullptr);

  {  // 1 bit: black and white, nearest
    Info info(4, 2, 1);
    std::uint8_t rows[8] = {};
    ASSERT_EQ(GetDIBits(screen, src.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
    EXPECT_EQ(info.Table()[0].rgbRed, 0);
    EXPECT_EQ(info.Table()[1].rgbGreen, 255);
    EXPECT_EQ(rows[4], 0x50);  // bottom-up: the top row is the second in memory (red, grey, black, white)
    EXPECT_EQ(info.Get()->bmiHeader.biSizeImage, 8u);
  }
  {  // 4 bits: the 16 standard colours
    Info info(4, 2, 4);
    std::uint8_t rows[8] = {};
    ASSERT_EQ(GetDIBits(screen, src.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
    EXPECT_EQ(info.Table()[9].rgbRed, 255);
    EXPECT_EQ(info.Table()[7].rgbGreen, 192);
    EXPECT_EQ(rows[4], 0x97);  // red -> 9, grey 200 -> 7 (192, 192, 192)
    EXPECT_EQ(rows[5], 0x0F);
    EXPECT_EQ(rows[0], 0x40);  // (0, 0, 128) -> 4
  }
  {  // 8 bits: the halftone table, lowest index on equal colours
    Info info(4, -2, 8);
    std::uint8_t rows[8] = {};
    ASSERT_EQ(GetDIBits(screen, src.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
    const RGBQUAD* t = info.Table();
    EXPECT_EQ(t[255].rgbRed, 255);
    EXPECT_EQ(t[190].rgbRed, 255);
    EXPECT_EQ(t[190].rgbGreen, 0);
    EXPECT_EQ(rows[0], 190);  // (255, 0, 0) is both cube entry 190 and static entry 249
    EXPECT_EQ(rows[2], 0);
    EXPECT_EQ(t[rows[1]].rgbRed, 204);  // grey 200 -> cube (204, 204, 204)
  }
  {  // 24 bits
    Info info(4, 2, 24);
    std::uint8_t rows[32] = {};
    ASSERT_EQ(GetDIBits(screen, src.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
    EXPECT_EQ(rows[12 + 2], 255);  // top row second in memory (12-byte rows), red of pixel 0
    EXPECT_EQ(rows[12 + 5], 200);
    EXPECT_EQ(rows[0], 128);       // blue of (0, 0, 128)
  }
  ReleaseDC(nullptr, screen);
}

TEST(GetDIBits, NullBitsFillsHeaderAndTableOnly) {
  std::vector<RGBQUAD> table = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}};
  DibCanvas src(5, 3, 8, false, table);
  Info query(0, 0, 0);
  ASSERT_NE(GetDIBits(src.dc, src.bmp, 0, 0, nullptr, query.Get(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(query.Get()->bmiHeader.biWidth, 5);
  EXPECT_EQ(query.Get()->bmiHeader.biHeight, 3);
  EXPECT_EQ(query.Get()->bmiHeader.biBitCount, 8);
  EXPECT_EQ(query.Get()->bmiHeader.biSizeImage, 24u);
  Info info(5, 3, 8);
  ASSERT_NE(GetDIBits(src.dc, src.bmp, 0, 3, nullptr, info.Get(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(info.Get()->bmiHeader.biSizeImage, 24u);
  EXPECT_EQ(info.Table()[2].rgbBlue, 7);  // a DIB section at the same depth gives its own table
  EXPECT_EQ(info.Table()[3].rgbBlue, 0);
}

TEST(GetDIBits, DevicePaletteColoursAndBands) {
  DdbCanvas src(2, 4, 24);
  for (int y = 0; y < 4; ++y) SetPixel(src.dc, 0, y, RGB(y * 10, 0, 0));
  Info info(2, 4, 24);
  std::uint8_t rows[16] = {};
  // Scans 1 and 2 of a bottom-up DIB are rows 2 and 1 from the top.
  ASSERT_EQ(GetDIBits(src.dc, src.bmp, 1, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(rows[2], 20);
  EXPECT_EQ(rows[8 + 2], 10);
  EXPECT_EQ(GetDIBits(src.dc, src.bmp, 4, 1, rows, info.Get(), DIB_RGB_COLORS), 0);
  Info pal(2, 4, 8);
  std::uint8_t prow[16] = {};
  ASSERT_EQ(GetDIBits(src.dc, src.bmp, 0, 4, prow, pal.Get(), DIB_PAL_COLORS), 4);
  WORD idx[2];
  std::memcpy(idx, pal.Table(), sizeof idx);
  EXPECT_EQ(idx[1], 1);
}

TEST(GetDIBits, HeaderCopiedFromABitfieldsSectionStillGives24BitRows) {
  Info info(2, 1, 16, BI_BITFIELDS);
  DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(info.Table(), masks, sizeof masks);
  info.Get()->bmiHeader.biClrUsed = 7;
  void* bits;
  HBITMAP bmp = CreateDIBSection(nullptr, info.Get(), DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  static_cast<std::uint16_t*>(bits)[1] = 0xF800;  // pixel 1 red
  DIBSECTION ds;
  ASSERT_EQ(GetObject(bmp, sizeof ds, &ds), static_cast<int>(sizeof ds));
  Info out(0, 0, 0);
  out.Get()->bmiHeader = ds.dsBmih;
  out.Get()->bmiHeader.biBitCount = 24;
  std::uint8_t row[8] = {};
  ASSERT_EQ(GetDIBits(nullptr, bmp, 0, 1, row, out.Get(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(out.Get()->bmiHeader.biCompression, BI_RGB);
  EXPECT_EQ(out.Get()->bmiHeader.biClrUsed, 0u);
  EXPECT_EQ(row[5], 255);
  DeleteObject(bmp);
}

TEST(SetDIBits, WritesRowsIntoDeviceBitmaps) {
  DdbCanvas dst(2, 2, 32);
  Info info(2, 2, 8);
  info.Get()->bmiHeader.biClrUsed = 2;
  info.Table()[0] = {0, 0, 255, 0};
  info.Table()[1] = {255, 0, 0, 0};
  std::uint8_t rows[8] = {0, 1, 0, 0, 1, 1, 0, 0};  // bottom row: red, blue; top row: blue, blue
  ASSERT_EQ(SetDIBits(dst.dc, dst.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(dst.At(0, 1), RGB(255, 0, 0));
  EXPECT_EQ(dst.At(1, 1), RGB(0, 0, 255));
  EXPECT_EQ(dst.At(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(SetDIBits(dst.dc, dst.bmp, 0, 2, nullptr, info.Get(), DIB_RGB_COLORS), 0);
  info.Get()->bmiHeader.biCompression = BI_RLE8;  // compressed DIBs are not supported
  EXPECT_EQ(SetDIBits(dst.dc, dst.bmp, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 0);
}

TEST(CreateDIBitmap, InitialisesAScreenCompatibleBitmap) {
  Info info(2, 2, 24);
  std::uint8_t rows[16] = {};
  rows[2] = 255;      // bottom-left red
  rows[8 + 0] = 255;  // top-left blue
  HDC screen = GetDC(nullptr);
  HBITMAP bmp = CreateDIBitmap(screen, &info.Get()->bmiHeader, CBM_INIT, rows, info.Get(), DIB_RGB_COLORS);
  ASSERT_NE(bmp, nullptr);
  BITMAP bm;
  GetObject(bmp, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmBits, nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bmp);
  EXPECT_EQ(GetPixel(dc, 0, 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 0, 255));
  // Compatible with a memory DC that holds the stock bitmap: monochrome.
  HDC plain = CreateCompatibleDC(nullptr);
  HBITMAP mono = CreateDIBitmap(plain, &info.Get()->bmiHeader, 0, nullptr, nullptr, 0);
  GetObject(mono, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  DeleteObject(mono);
  DeleteDC(plain);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

TEST(CreateCompatibleBitmap, FollowsTheSelectedBitmap) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAP bm;
  HBITMAP a = CreateCompatibleBitmap(mem, 4, 4);  // stock 1 x 1 monochrome selected
  GetObject(a, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  HBITMAP b = CreateCompatibleBitmap(screen, 4, 4);
  GetObject(b, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  {
    DibCanvas dib(2, 2, 8, true, {{1, 1, 1, 0}, {2, 2, 2, 0}});
    HBITMAP c = CreateCompatibleBitmap(dib.dc, 3, 3);
    DIBSECTION ds;
    ASSERT_EQ(GetObject(c, sizeof ds, &ds), static_cast<int>(sizeof ds));  // a DIB section again
    EXPECT_EQ(ds.dsBmih.biBitCount, 8);
    EXPECT_EQ(ds.dsBmih.biHeight, -3);
    DeleteObject(c);
  }
  EXPECT_EQ(CreateCompatibleBitmap(mem, 0, 5), GetCurrentObject(mem, OBJ_BITMAP));  // stock bitmap
  DeleteObject(a);
  DeleteObject(b);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST(BitmapBits, DeviceRowsAreWordAligned) {
  const std::uint8_t in[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0};
  HBITMAP bmp = CreateBitmap(3, 2, 1, 24, in);  // 9 bytes per row padded to 10
  std::uint8_t out[20] = {};
  EXPECT_EQ(GetBitmapBits(bmp, sizeof out, out), 20);
  EXPECT_EQ(std::memcmp(in, out, 20), 0);
  EXPECT_EQ(GetBitmapBits(bmp, 0, nullptr), 20);
  std::uint8_t part[5] = {};
  EXPECT_EQ(GetBitmapBits(bmp, 5, part), 5);
  EXPECT_EQ(part[4], 5);
  const std::uint8_t repl[10] = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
  EXPECT_EQ(SetBitmapBits(bmp, 10, repl), 10);
  GetBitmapBits(bmp, sizeof out, out);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[10], 11);
  DeleteObject(bmp);
  // A DIB section is read in the same layout.
  DibCanvas dib(3, 1, 24);
  SetPixel(dib.dc, 2, 0, RGB(7, 8, 9));
  std::uint8_t row[10] = {};
  EXPECT_EQ(GetBitmapBits(dib.bmp, 10, row), 10);
  EXPECT_EQ(row[8], 7);
}

TEST(DeviceIndependentDrawing, StretchDIBitsAndSetDIBitsToDevice) {
  Info info(2, 2, 24);  // bottom-up
  std::uint8_t rows[16] = {};
  rows[2] = 255;           // bottom-left red
  rows[8 + 3 + 1] = 255;   // top-right green
  DibCanvas c(4, 4, 32);
  c.Fill(RGB(0, 0, 0));
  ASSERT_EQ(StretchDIBits(c.dc, 0, 0, 4, 4, 0, 0, 2, 2, rows, info.Get(), DIB_RGB_COLORS, SRCCOPY), 2);
  EXPECT_EQ(c.At(0, 3), RGB(255, 0, 0));
  EXPECT_EQ(c.At(3, 0), RGB(0, 255, 0));
  // The lower-left corner (0, 0) of a bottom-up source is the bottom row.
  c.Fill(RGB(0, 0, 0));
  ASSERT_NE(StretchDIBits(c.dc, 0, 0, 1, 1, 0, 0, 1, 1, rows, info.Get(), DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
  // A band of scan lines: only scan 1 (the top row) is in the buffer.
  c.Fill(RGB(0, 0, 0));
  EXPECT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 2, 2, 0, 0, 1, 1, rows + 8, info.Get(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(c.At(1, 0), RGB(0, 255, 0));
  EXPECT_EQ(c.At(0, 1), RGB(0, 0, 0));
  EXPECT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 2, 2, 0, 0, 0, 2, rows, info.Get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(c.At(0, 1), RGB(255, 0, 0));
}

TEST(GdiBitmapLimits, AbsurdSizesFailCleanly) {
  EXPECT_EQ(CreateBitmap(70000, 1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(LastGdiError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateBitmap(-1, 1, 1, 1, nullptr), nullptr);
  EXPECT_EQ(LastGdiError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateBitmap(16385, 16384, 1, 1, nullptr), nullptr);  // over 2^28 pixels
  EXPECT_EQ(LastGdiError(), ERROR_NOT_ENOUGH_MEMORY);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(CreateCompatibleBitmap(screen, 65535, 65535), nullptr);
  EXPECT_EQ(LastGdiError(), ERROR_NOT_ENOUGH_MEMORY);
  Info huge(60000, -60000, 32);
  void* bits = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateDIBSection(screen, huge.Get(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(LastGdiError(), ERROR_NOT_ENOUGH_MEMORY);
  Info minHeight(1, INT32_MIN, 8);
  EXPECT_EQ(CreateDIBSection(screen, minHeight.Get(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  Info wide(100000, 1, 8);
  std::uint8_t buf[4];
  EXPECT_EQ(GetDIBits(screen, static_cast<HBITMAP>(GetCurrentObject(screen, OBJ_BITMAP)), 0, 1, buf, wide.Get(),
                      DIB_RGB_COLORS),
            0);
  Info ok(2, 2, 32);
  ok.Get()->bmiHeader.biSize = 12;  // core headers are not accepted
  EXPECT_EQ(CreateDIBSection(screen, ok.Get(), DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
  EXPECT_EQ(CreateIcon(nullptr, 40000, 40000, 1, 1, buf, buf), nullptr);
  ReleaseDC(nullptr, screen);
}
