#include "gif/Dib.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/rtl/Kernel.h"

namespace gif {

TPixelFormat GetBitmapPixelFormat(TBitmap* Bitmap) { return Bitmap->PixelFormat(); }

void SetBitmapPixelFormat(TBitmap* Bitmap, TPixelFormat PixelFormat) { Bitmap->SetPixelFormat(PixelFormat); }

// ---------------------------------------------------------------------------------------------
// TDIBReader

TDIBReader::TDIBReader(TBitmap* Bitmap, TPixelFormat PixelFormat) : TDIB(Bitmap, PixelFormat) {
  SetBitmapPixelFormat(Bitmap, PixelFormat);
}

void* TDIBReader::GetScanline(int Row) { return FBitmap->ScanLine(Row); }

// ---------------------------------------------------------------------------------------------
// TDIBWriter

TDIBWriter::TDIBWriter(TBitmap* Bitmap, TPixelFormat PixelFormat, int Width, int Height, HPALETTE Palette)
    : TDIB(Bitmap, PixelFormat) {
  if (PixelFormat != pf8bit && PixelFormat != pf24bit) RaiseGIFError("Unsupported PixelFormat");
  if (Width == 0 || Height == 0) RaiseGIFError("Invalid image dimensions");
  FWidth = Width;
  FHeight = Height;
  FPalette = Palette;
}

TDIBWriter::~TDIBWriter() { ReleaseDIB(); }

void TDIBWriter::ReleaseDIB() {
  delete[] FHeader;
  FHeader = nullptr;
  if (FPixelHandle) {
    GlobalUnlock(FPixelHandle);
    GlobalFree(FPixelHandle);
  }
  FPixelHandle = nullptr;
  FPixels = nullptr;
}

void TDIBWriter::EnsureDIB() {
  if (!FPixels) AllocateDIB();
}

void TDIBWriter::AllocateDIB() {
  ReleaseDIB();
  try {
    const bool Indexed = FPixelFormat == pf8bit;
    FHeaderSize = Indexed ? sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD) : sizeof(BITMAPINFOHEADER);
    FHeader = new std::uint8_t[static_cast<std::size_t>(FHeaderSize)]();
    BITMAPINFOHEADER Info{};
    Info.biSize = sizeof(BITMAPINFOHEADER);
    Info.biWidth = FWidth;
    Info.biHeight = FHeight;
    Info.biPlanes = 1;
    Info.biCompression = 0;
    Info.biSizeImage = 0;
    if (Indexed) {
      Info.biBitCount = 8;
      auto* Table = reinterpret_cast<RGBQUAD*>(FHeader + sizeof(BITMAPINFOHEADER));
      WORD Count = 0;
      if (FPalette && GetObject(FPalette, sizeof(Count), &Count) != 0 && Count != 0) {
        // The table holds 256 entries: a larger palette gives its first 256.
        Count = std::min<WORD>(Count, 256);
        PALETTEENTRY Entries[256];
        Count = static_cast<WORD>(GetPaletteEntries(FPalette, 0, Count, Entries));
        std::memcpy(static_cast<void*>(Table), Entries, sizeof(PALETTEENTRY) * Count);
        SwapRGBQuadOrder(Table, Count);
      } else {
        Count = 0;
      }
      for (int i = Count; i < 256; ++i) Table[i] = RGBQUAD{};
      Info.biClrUsed = 256;
      Info.biClrImportant = Count;
    } else {
      Info.biBitCount = 24;
    }
    std::memcpy(FHeader, &Info, sizeof(Info));
    // Sizes in 64 bits; the global memory block refuses sizes beyond its bound.
    const std::int64_t Rows = FHeight < 0 ? -static_cast<std::int64_t>(FHeight) : FHeight;
    FPixelSize = AlignedRowBytes(FWidth, Info.biBitCount, 32) * Rows;
    if (FPixelSize <= 0 || static_cast<std::uint64_t>(FPixelSize) > GLOBAL_MAX_BLOCK)
      throw EOutOfMemory("Failed to allocate memory for GIF DIB");
    FPixelHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(FPixelSize));
    if (FPixelHandle) FPixels = static_cast<std::uint8_t*>(GlobalLock(FPixelHandle));
    if (!FPixels) throw EOutOfMemory("Failed to allocate memory for GIF DIB");
  } catch (const std::bad_alloc&) {
    ReleaseDIB();
    throw EOutOfMemory("Failed to allocate memory for GIF DIB");
  } catch (...) {
    ReleaseDIB();
    throw;
  }
}

void* TDIBWriter::GetScanline(int Row) {
  EnsureDIB();
  if (!FPixels) RaiseGIFError("Image has no DIB");
  const std::int64_t Rows = FHeight < 0 ? -static_cast<std::int64_t>(FHeight) : FHeight;
  if (Row < 0 || Row >= Rows) throw EInvalidGraphicOperation("Scan line index out of range");
  GdiFlush();
  const auto* Info = InfoHeader();
  const std::int64_t Stride = AlignedRowBytes(Info->biWidth, Info->biBitCount, 32);
  if (Info->biHeight > 0) return FPixels + (Info->biHeight - static_cast<std::int64_t>(Row) - 1) * Stride;
  return FPixels + static_cast<std::int64_t>(Row) * Stride;
}

void TDIBWriter::UpdateBitmap() {
  if (!FPixels) return;
  TMemoryStream Stream;
  const std::int64_t Total = 14 + FHeaderSize + FPixelSize;
  Stream.SetSize(Total);
  Stream.SetPosition(0);
  BITMAPFILEHEADER File{};
  File.bfType = 0x4D42;
  File.bfSize = static_cast<DWORD>(Total);
  File.bfOffBits = static_cast<DWORD>(FHeaderSize + 14);
  Stream.WriteBuffer(&File, 14);
  Stream.WriteBuffer(FHeader, FHeaderSize);
  Stream.WriteBuffer(FPixels, FPixelSize);
  Stream.SetPosition(0);
  FBitmap->LoadFromStream(&Stream);
}

}  // namespace gif
