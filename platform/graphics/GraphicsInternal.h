#pragma once
// Helpers shared by the picture classes: scoped device contexts, moving pictures between
// GDI bitmaps and the canonical DIB form, and the masked copy used for transparency.
#include <cstdint>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/graphics/DibFormat.h"

namespace graphics_detail {

[[noreturn]] void ThrowOutOfResources();

// Raises EOutOfResources "Out of system resources" when a GDI call gave nothing.
template <class T>
T Check(T Value) {
  if (!Value) ThrowOutOfResources();
  return Value;
}

// The screen's device context for the scope.
class ScreenDC {
 public:
  ScreenDC();
  ~ScreenDC();
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// A memory device context with a bitmap selected for the scope.
class MemoryDC {
 public:
  explicit MemoryDC(HBITMAP Bitmap, HDC Compatible = nullptr);
  ~MemoryDC();
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_{nullptr};
};

// What GetObject tells about a bitmap handle.
struct BitmapInfo {
  int width{0};
  int height{0};
  int bitCount{0};
  bool dib{false};
  bool topDown{false};
  bool mask565{false};
  bool monochrome{false};  // device-dependent 1-bit, or a 1-bit DIB of black and white
  void* bits{nullptr};     // DIB sections only
};
// WithMonochrome: also tell whether a 1-bit DIB is black and white (reads its colour table).
BitmapInfo DescribeBitmap(HBITMAP Bitmap, bool WithMonochrome = true);
// Colour table of a DIB section (empty for other bitmaps).
std::vector<dib::Quad> DibColorTable(HBITMAP Bitmap);

// A new DIB section holding the picture (bottom-up, with its colour table).
HBITMAP CreateDibSection(const dib::Image& Image);
// A DIB section of Shape's size, depth and colours whose bits are not set: the caller writes
// every row with its padding.
HBITMAP CreateDibSectionForWriting(const dib::Image& Shape);
// A new device-dependent bitmap (screen format, or monochrome) holding the picture.
HBITMAP CreateDeviceBitmap(const dib::Image& Image, bool Monochrome);
// The picture of any bitmap handle: a DIB section at its own format, a device-dependent
// bitmap at 32 bits (1 bit, black and white, when monochrome).
dib::Image ReadBitmap(HBITMAP Bitmap);
// A copy of a bitmap handle of the same kind (DIB section or device-dependent).
HBITMAP CopyBitmapHandle(HBITMAP Bitmap);

HPALETTE CreatePaletteOf(const std::vector<dib::Quad>& Colors);
std::vector<dib::Quad> PaletteColors(HPALETTE Palette);
HPALETTE CopyPaletteHandle(HPALETTE Palette);

// Copies Src (SrcW x SrcH at SrcX, SrcY) stretched to the destination rectangle, leaving the
// destination where Mask (monochrome, source coordinates) has 1 bits.
void TransparentStretchBlt(HDC Dst, int X, int Y, int W, int H, HDC Src, int SrcX, int SrcY, int SrcW, int SrcH,
                           HBITMAP Mask);

}  // namespace graphics_detail
