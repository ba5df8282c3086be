#pragma once
// A TBitmap as a BMP file in a memory stream at 1, 4, 8 or 24 bits a pixel; for 8 bits the
// true colour is reduced to at most 256 entries by one of six methods. Also the DIB routines
// this rests on.
#include <cstdint>
#include <memory>

#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"

namespace px {

// Colour reduction methods of the 8-bit conversion.
enum TReductionMethod : BYTE {
  rmHistogram = 0,     // the most frequent colours (histogram)
  rmBoxSplit = 1,      // median split of colour boxes
  rmTruncate784 = 2,   // 7 red x 8 green x 4 blue levels
  rmTruncate666 = 3,   // 6 x 6 x 6 levels
  rmTriple = 4,        // red, green and blue ramps, one channel a pixel
  rmGray = 5,          // 256 greys
};

// The method used when none is given (histogram).
inline BYTE DefaultReductionMethod = rmHistogram;

// The bitmap as a new stream holding a BMP file at Format (pf1bit, pf4bit, pf8bit or pf24bit),
// positioned at 0. A bitmap already at Format is saved as it is (unless Method is rmGray).
// pf1bit and pf4bit take the platform's colours; pf8bit is reduced by Method; pf24bit of a
// bitmap of another format gives the unreduced 24-bit picture.
// Raises EInvalidGraphic "Bitmap image is not valid" without a handle, EPxException
// "BitmapToMemoryStream: pixel format not implemented" for other formats.
std::unique_ptr<TMemoryStream> BitmapToMemoryStream(TBitmap* Bitmap, TPixelFormat Format, BYTE Method);
// Format by the colour count: <= 2 pf1bit, <= 16 pf4bit, > 256 pf24bit, else pf8bit; the
// default method.
std::unique_ptr<TMemoryStream> BitmapToReducedStream(TBitmap* Bitmap, int ColorCount);
// Reloads the bitmap from BitmapToReducedStream; nothing for no bitmap or a count <= 0.
void ReduceBitmapColorCount(TBitmap* Bitmap, int ColorCount);

// A whole BMP file of the bitmap at Format in one global-heap block (free it with
// FreeGlobalBuffer); Length receives its size. EInvalidGraphic "Bitmap image is not valid" when
// the platform cannot describe the bitmap or give its rows.
void* BitmapToDibBlock(HBITMAP Bitmap, HPALETTE Palette, TPixelFormat Format, std::int64_t& Length);
// The info header of the bitmap at Format: a DIB section's own header (its compression and
// colour counts reset when the depth changes), else one made from the bitmap's size.
void InitDibHeader(HBITMAP Bitmap, BITMAPINFOHEADER& Header, TPixelFormat Format);
// Bytes of the info header with its colour table (or masks), and of the rows.
void DibHeaderSize(HBITMAP Bitmap, int& HeaderSize, std::int64_t& ImageSize, TPixelFormat Format);
// Fills Info (header and colour table) and Bits (all rows, bottom-up) of the bitmap at Format,
// through a memory device context with Palette realised when given. True when rows came.
bool FetchDibBits(HBITMAP Bitmap, HPALETTE Palette, BITMAPINFO* Info, TPixelFormat Format, void* Bits);

constexpr std::int64_t ScanlineBytes(std::int64_t Width, std::int64_t BitCount, std::int64_t Alignment) {
  return (Width * BitCount + Alignment - 1) / Alignment * Alignment / 8;
}
constexpr std::int64_t DibRowBytes32(std::int64_t Bits) { return (Bits + 31) / 32 * 4; }
int ColorCountOfPixelFormat(TPixelFormat Format);
inline TPixelFormat PixelFormatOf(TBitmap* Bitmap) { return Bitmap->PixelFormat(); }
[[noreturn]] void RaiseInvalidBitmap();

// Reduction routines: each reads the 24-bit rows that follow Header (width and height taken
// from it), fills the 256-entry Table and writes the 8-bit rows into the same buffer.
void Truncate784(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table);
void Truncate666(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table);
void ConvertToTriple(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table);
void ConvertToGray(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table);
void MakePalette784(RGBQUAD* Table);
void MakePalette666(RGBQUAD* Table);
void MakeTriplePalette(RGBQUAD* Table);
void MakeGrayPalette(RGBQUAD* Table);
// The index of the nearest level of a scale of 4, 6, 7 or 8 levels (a tie goes to the lower).
int ClosestPaletteEntry(BYTE Value, int Levels);

}  // namespace px
