#pragma once
// Small routines shared by the picture formats: DIB size arithmetic, icon images read into
// colour and mask bitmaps, icons drawn at the size of their own image, global-heap blocks,
// block comparison and copying, and the library's shared errors.
#include <cstdint>

#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"

namespace px {

// The exception class of the control library's units.
class EPxException : public Exception {
 public:
  using Exception::Exception;
};

// Bytes of one DIB row of Bits bits: ((Bits + 31) div 32) x 4 (64-bit, so no size wraps).
constexpr std::int64_t DibScanlineBytes(std::int64_t Bits) { return (Bits + 31) / 32 * 4; }

// Colour-table entries of a DIB: 2, 16, 256 for 1, 4, 8 bits a pixel; 0 for any other depth.
constexpr int DibColorTableEntries(WORD BitCount) {
  return BitCount == 1 || BitCount == 4 || BitCount == 8 ? 1 << BitCount : 0;
}

// EOutOfResources "Out of system resources".
[[noreturn]] void RaiseOutOfResources();

// A new bitmap of Size (monochrome, or compatible with the screen) onto which the whole Source
// is stretched with SRCCOPY. The caller owns it.
HBITMAP StretchToIconBitmap(HBITMAP Source, SIZE Size, bool Monochrome);

// An icon image in memory (an info header of 40 bytes or more whose height covers colour and
// mask, the colour table after the header's own size, the colour bits, the mask bits) made
// into two bitmaps at the image's own size. Size is the number of bytes at Image: an image that
// does not fit them, whose header is malformed or whose rows are compressed (PNG images
// included) raises EInvalidGraphic "Icon image is not valid". The caller owns both bitmaps.
void IconDibToBitmaps(const void* Image, std::int64_t Size, HBITMAP& ColorBitmap, HBITMAP& MaskBitmap);

// Reads the directory of Count entries and the chosen image of icon data whose 6-byte header
// (HeaderBytes bytes) has just been read from Stream, and makes an icon of it at the image's
// own size. The entry whose colour count equals the display's is chosen; with none, the
// deepest entry (the first of equals). A directory or image beyond the stream raises
// EReadError "Stream read error". The caller owns the icon.
void ReadIconImage(TStream* Stream, HICON& Icon, int Count, int HeaderBytes);

// Size of an icon's image; the system icon size when the icon tells nothing.
void QueryIconSize(HICON Icon, int& Width, int& Height);

// A new icon handle at the size of the icon's own image: type 1 data is read back from the
// icon's file form, type 2 (a cursor) is a copy of its handle, type 0 the system's standard
// application icon. The caller destroys it (destroying the standard icon does nothing).
HICON MakeFullSizeIcon(TIcon* Icon);

// Draws the icon at its own size with its top-left corner at (X, Y).
void DrawFullSizeIcon(TCanvas* Canvas, TIcon* Icon, int X, int Y);

// A zero-filled, locked global-heap block of Size bytes; null when Size <= 0 or the heap has
// no such block.
void* AllocGlobalBuffer(std::int64_t Size);
// Unlocks and frees a block of AllocGlobalBuffer and sets P to null; nothing for null.
void FreeGlobalBuffer(void*& P);

// True when the first Count bytes of both blocks are equal (Count <= 0: true).
bool SameMemory(const void* P1, const void* P2, std::int32_t Count);
inline void* OffsetPtr(void* P, std::int64_t Offset) { return static_cast<std::uint8_t*>(P) + Offset; }
inline const void* OffsetPtr(const void* P, std::int64_t Offset) {
  return static_cast<const std::uint8_t*>(P) + Offset;
}
// Copies Count bytes; the blocks may overlap.
void CopyMemoryBlock(void* Dest, const void* Source, std::int64_t Count);
inline BOOL BlitRect(HDC DestDC, int X, int Y, int Width, int Height, HDC SourceDC, int XSrc, int YSrc, DWORD Rop) {
  return BitBlt(DestDC, X, Y, Width, Height, SourceDC, XSrc, YSrc, Rop);
}

// A global-heap block for a scope (AllocGlobalBuffer / FreeGlobalBuffer); raises EOutOfMemory
// when Size > 0 and no block can be had.
class TGlobalBuffer {
 public:
  explicit TGlobalBuffer(std::int64_t Size);
  ~TGlobalBuffer() { FreeGlobalBuffer(FData); }
  TGlobalBuffer(const TGlobalBuffer&) = delete;
  TGlobalBuffer& operator=(const TGlobalBuffer&) = delete;
  std::uint8_t* get() const { return static_cast<std::uint8_t*>(FData); }
  std::int64_t size() const { return FSize; }

 private:
  void* FData{nullptr};
  std::int64_t FSize{0};
};

// Little-endian field access on byte buffers.
inline std::uint16_t GetLE16(const void* P) {
  const auto* b = static_cast<const std::uint8_t*>(P);
  return static_cast<std::uint16_t>(b[0] | b[1] << 8);
}
inline std::uint32_t GetLE32(const void* P) {
  const auto* b = static_cast<const std::uint8_t*>(P);
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}
inline void PutLE16(void* P, std::uint16_t V) {
  auto* b = static_cast<std::uint8_t*>(P);
  b[0] = static_cast<std::uint8_t>(V);
  b[1] = static_cast<std::uint8_t>(V >> 8);
}
inline void PutLE32(void* P, std::uint32_t V) {
  auto* b = static_cast<std::uint8_t*>(P);
  for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(V >> (8 * i));
}

}  // namespace px
