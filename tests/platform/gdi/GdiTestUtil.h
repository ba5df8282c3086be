#pragma once
// Helpers shared by the GDI tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/gdi/GdiInternal.h"

namespace gditest {

inline DWORD LastGdiError() { return GetLastError(); }

// A memory DC with a DIB section of the given depth selected; released at the end of the scope.
struct DibCanvas {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  int width = 0;
  int height = 0;
  int bpp = 0;

  DibCanvas(int w, int h, int bitCount, bool topDown = true, const std::vector<RGBQUAD>& table = {})
      : width(w), height(h), bpp(bitCount) {
    std::vector<std::uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* bmi = reinterpret_cast<BITMAPINFO*>(info.data());
    bmi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi->bmiHeader.biWidth = w;
    bmi->bmiHeader.biHeight = topDown ? -h : h;
    bmi->bmiHeader.biPlanes = 1;
    bmi->bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    bmi->bmiHeader.biCompression = BI_RGB;
    bmi->bmiHeader.biClrUsed = static_cast<DWORD>(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) bmi->bmiColors[i] = table[i];
    dc = CreateCompatibleDC(nullptr);
    bmp = CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    old = SelectObject(dc, bmp);
  }
  ~DibCanvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  DibCanvas(const DibCanvas&) = delete;
  DibCanvas& operator=(const DibCanvas&) = delete;

  std::int64_t Stride() const { return ((static_cast<std::int64_t>(width) * bpp + 31) / 32) * 4; }
  void Fill(COLORREF c) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) SetPixel(dc, x, y, c);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
};

// A memory DC with a device bitmap (CreateBitmap) selected.
struct DdbCanvas {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;

  DdbCanvas(int w, int h, int bitCount, const void* bits = nullptr) {
    dc = CreateCompatibleDC(nullptr);
    bmp = CreateBitmap(w, h, 1, static_cast<UINT>(bitCount), bits);
    old = SelectObject(dc, bmp);
  }
  ~DdbCanvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  DdbCanvas(const DdbCanvas&) = delete;
  DdbCanvas& operator=(const DdbCanvas&) = delete;
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
};

// Restores the default screen depth after a test that changes it.
struct ScreenDepth {
  explicit ScreenDepth(int bpp) { GdiSetScreenBitsPerPixel(bpp); }
  ~ScreenDepth() { GdiSetScreenBitsPerPixel(32); }
};

}  // namespace gditest
