#pragma once
// Row access to bitmaps: TDIBReader hands out the rows of an existing bitmap in a chosen pixel
// format; TDIBWriter lets its user fill the rows of a new 8- or 24-bit device-independent
// bitmap in its own memory and hands the finished picture to the bitmap in one load.
#include <cstdint>

#include "gif/Utils.h"
#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"

namespace gif {

TPixelFormat GetBitmapPixelFormat(TBitmap* Bitmap);
// Converts the picture to the format.
void SetBitmapPixelFormat(TBitmap* Bitmap, TPixelFormat PixelFormat);

class TDIB : public TObject {
 public:
  TDIB(TBitmap* Bitmap, TPixelFormat PixelFormat) : FBitmap(Bitmap), FPixelFormat(PixelFormat) {}
  ~TDIB() override = default;
  TDIB(const TDIB&) = delete;
  TDIB& operator=(const TDIB&) = delete;

  // The address of the row's first byte.
  virtual void* GetScanline(int Row) = 0;
  TBitmap* Bitmap() const { return FBitmap; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }

 protected:
  TBitmap* FBitmap;  // not owned
  TPixelFormat FPixelFormat;
};

class TDIBReader : public TDIB {
 public:
  // Converts the caller's bitmap to the format (it stays converted).
  TDIBReader(TBitmap* Bitmap, TPixelFormat PixelFormat);
  void* GetScanline(int Row) override;
};

// Used as: create; GetScanline for each row, filling its bytes; UpdateBitmap when all rows are
// done; free. The bitmap receives nothing before UpdateBitmap, so a writer abandoned on an
// error path leaves its bitmap unchanged; freeing releases the writer's memory and never
// raises. A writer whose rows are never asked for allocates nothing.
class TDIBWriter : public TDIB {
 public:
  // PixelFormat pf8bit or pf24bit, else "Unsupported PixelFormat"; Width and Height non-zero,
  // else "Invalid image dimensions". The palette (kept by the caller) gives the colour table
  // of an 8-bit picture when the rows are first asked for.
  TDIBWriter(TBitmap* Bitmap, TPixelFormat PixelFormat, int Width, int Height, HPALETTE Palette);
  ~TDIBWriter() override;

  // Rows outside 0..|Height|-1 raise EInvalidGraphicOperation "Scan line index out of range".
  void* GetScanline(int Row) override;
  void EnsureDIB();
  void AllocateDIB();
  void ReleaseDIB();
  // Loads the picture into the bitmap when rows were asked for.
  void UpdateBitmap();

  // The bitmap information header and, for 8 bits, the 256-entry colour table (null before
  // the first row was asked for).
  const BITMAPINFOHEADER* InfoHeader() const { return reinterpret_cast<const BITMAPINFOHEADER*>(FHeader); }
  const RGBQUAD* ColorTable() const {
    return FHeader ? reinterpret_cast<const RGBQUAD*>(FHeader + sizeof(BITMAPINFOHEADER)) : nullptr;
  }

 private:
  std::uint8_t* FHeader{nullptr};  // header block
  HGLOBAL FPixelHandle{nullptr};   // pixel block, locked while held
  std::uint8_t* FPixels{nullptr};
  std::int64_t FHeaderSize{0};
  std::int64_t FPixelSize{0};
  HPALETTE FPalette{nullptr};  // not owned
  int FHeight{0};
  int FWidth{0};
};

}  // namespace gif
