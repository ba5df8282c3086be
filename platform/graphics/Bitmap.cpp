#include <algorithm>
#include <cstring>

#include "platform/graphics/Graphics.h"
#include "platform/graphics/GraphicsInternal.h"

using namespace graphics_detail;

IMPLEMENT_GRAPHIC_CLASS(TBitmap, TGraphic)

// The bitmap's canvas: a memory device context with the bitmap (and its palette) selected,
// made when first asked for and dropped whenever the bitmap's handle changes.
class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* Bitmap) : FBitmap(Bitmap) {}
  ~TBitmapCanvas() override { FreeContext(); }

  void FreeContext() {
    if (!FDC) return;
    HDC dc = FDC;
    SetHandle(nullptr);
    if (FOldBitmap) SelectObject(dc, FOldBitmap);
    if (FOldPalette) SelectPalette(dc, FOldPalette, TRUE);
    DeleteDC(dc);
    FDC = nullptr;
    FOldBitmap = nullptr;
    FOldPalette = nullptr;
  }

 protected:
  void CreateHandle() override {
    HPALETTE palette = FBitmap->FIgnorePalette ? nullptr : FBitmap->GetPalette();
    HDC dc = Check(CreateCompatibleDC(nullptr));
    if (FBitmap->FHandle) FOldBitmap = SelectObject(dc, FBitmap->FHandle);
    if (palette) {
      FOldPalette = SelectPalette(dc, palette, TRUE);
      RealizePalette(dc);
    }
    FDC = dc;
    SetHandle(dc);
  }

 private:
  TBitmap* FBitmap;
  HDC FDC{nullptr};
  HGDIOBJ FOldBitmap{nullptr};
  HPALETTE FOldPalette{nullptr};
};

namespace {

struct Layout {
  bool dib{false};
  int bitCount{32};
  bool mask565{false};
  bool monochrome{false};
};

Layout LayoutOf(TPixelFormat Format) {
  switch (Format) {
    case pf1bit:
      return {true, 1, false, false};
    case pf4bit:
      return {true, 4, false, false};
    case pf8bit:
      return {true, 8, false, false};
    case pf15bit:
      return {true, 16, false, false};
    case pf16bit:
      return {true, 16, true, false};
    case pf24bit:
      return {true, 24, false, false};
    case pf32bit:
      return {true, 32, false, false};
    default:
      return {false, 32, false, false};
  }
}

TPixelFormat FormatOf(int BitCount, bool Mask565) {
  switch (BitCount) {
    case 1:
      return pf1bit;
    case 4:
      return pf4bit;
    case 8:
      return pf8bit;
    case 16:
      return Mask565 ? pf16bit : pf15bit;
    case 24:
      return pf24bit;
    case 32:
      return pf32bit;
    default:
      return pfCustom;
  }
}

// 0x00RRGGBB (as the DIB helpers give it) to a TColor (0x00BBGGRR).
TColor ColorOfRgb(std::uint32_t Rgb) {
  return static_cast<TColor>(RGB(static_cast<BYTE>(Rgb >> 16), static_cast<BYTE>(Rgb >> 8), static_cast<BYTE>(Rgb)));
}

// Copies the top-left Width x Height pixels between two DIB sections of one format.
void CopyOverlap(const BitmapInfo& Src, const BitmapInfo& Dst, int Width, int Height) {
  const std::size_t srcStride = static_cast<std::size_t>(dib::RowBytes(Src.width, Src.bitCount));
  const std::size_t dstStride = static_cast<std::size_t>(dib::RowBytes(Dst.width, Dst.bitCount));
  const std::uint64_t bits = static_cast<std::uint64_t>(Width) * static_cast<std::uint64_t>(Src.bitCount);
  const std::size_t full = static_cast<std::size_t>(bits / 8);
  const int rest = static_cast<int>(bits % 8);
  for (int y = 0; y < Height; ++y) {
    const auto* s = static_cast<const std::uint8_t*>(Src.bits) +
                    static_cast<std::size_t>(Src.topDown ? y : Src.height - 1 - y) * srcStride;
    auto* d = static_cast<std::uint8_t*>(Dst.bits) + static_cast<std::size_t>(Dst.topDown ? y : Dst.height - 1 - y) * dstStride;
    std::memcpy(d, s, full);
    if (rest) {
      std::uint8_t keep = static_cast<std::uint8_t>(0xFF << (8 - rest));
      d[full] = static_cast<std::uint8_t>((d[full] & ~keep) | (s[full] & keep));
    }
  }
}

void FillWithColor(HBITMAP Bitmap, int Width, int Height, TColor Color) {
  MemoryDC dc(Bitmap);
  HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(Color)));
  RECT r{0, 0, Width, Height};
  FillRect(dc.get(), &r, brush);
  DeleteObject(brush);
}

void PutLittleEndian32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  FCanvas.reset();
  FreeMask();
  if (FHandle) DeleteObject(FHandle);
  if (FPalette) DeleteObject(FPalette);
}

TCanvas* TBitmap::Canvas() {
  if (!FCanvas) {
    FCanvas = std::make_unique<TBitmapCanvas>(this);
    FCanvas->OnChange = [this](TObject*) { Changed(this); };
  }
  return FCanvas.get();
}

void TBitmap::FreeContext() {
  if (FCanvas) FCanvas->FreeContext();
}

void TBitmap::FreeMask() {
  if (FMaskHandle) DeleteObject(FMaskHandle);
  FMaskHandle = nullptr;
}

dib::Image TBitmap::ReadPicture() {
  FreeContext();
  return ReadBitmap(FHandle);
}

std::vector<dib::Quad> TBitmap::ColorTable() {
  FreeContext();
  return DibColorTable(FHandle);
}

void TBitmap::FreeImage() {
  FreeContext();
  FreeMask();
}

void TBitmap::Changed(TObject* Sender) {
  FreeMask();
  TGraphic::Changed(Sender);
}

bool TBitmap::GetEmpty() { return FWidth == 0 || FHeight == 0; }

void TBitmap::ReplaceHandle(HBITMAP NewHandle, bool KeepPalette) {
  FreeContext();
  FreeMask();
  if (FHandle) DeleteObject(FHandle);
  FHandle = NewHandle;
  if (!KeepPalette && FPalette) {
    DeleteObject(FPalette);
    FPalette = nullptr;
  }
  BitmapInfo info = DescribeBitmap(FHandle);
  FWidth = info.width;
  FHeight = info.height;
  FPixelFormat = info.dib ? FormatOf(info.bitCount, info.mask565) : pfDevice;
  FMonochrome = !info.dib && info.monochrome;
}

void TBitmap::Clear() {
  ReplaceHandle(nullptr, false);
  FPixelFormat = pfDevice;
  FMonochrome = false;
}

void TBitmap::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    Changed(this);
    return;
  }
  auto* source = dynamic_cast<TBitmap*>(Source);
  if (!source) {
    TGraphic::Assign(Source);
    return;
  }
  source->FreeContext();
  HBITMAP handle = source->FHandle ? CopyBitmapHandle(source->FHandle) : nullptr;
  HPALETTE palette = nullptr;
  try {
    palette = source->FPalette ? CopyPaletteHandle(source->FPalette) : nullptr;
  } catch (...) {
    if (handle) DeleteObject(handle);
    throw;
  }
  ReplaceHandle(handle, false);
  FPalette = palette;
  FWidth = source->FWidth;
  FHeight = source->FHeight;
  FPixelFormat = source->FPixelFormat;
  FMonochrome = source->FMonochrome;
  FIgnorePalette = source->FIgnorePalette;
  FTransparentColor = source->FTransparentColor;
  FTransparentMode = source->FTransparentMode;
  FTransparent = source->FTransparent;
  Changed(this);
}

void TBitmap::Resize(int NewWidth, int NewHeight) {
  NewWidth = std::max(NewWidth, 0);
  NewHeight = std::max(NewHeight, 0);
  if (NewWidth == FWidth && NewHeight == FHeight) return;
  if (NewWidth == 0 || NewHeight == 0) {
    // Empty: the format is remembered for the next picture.
    TPixelFormat format = PixelFormat();
    bool monochrome = Monochrome();
    ReplaceHandle(nullptr, true);
    FPixelFormat = format;
    FMonochrome = monochrome;
    FWidth = NewWidth;
    FHeight = NewHeight;
    Changed(this);
    return;
  }

  Layout layout = LayoutOf(PixelFormat());
  layout.monochrome = Monochrome();
  HBITMAP created = nullptr;
  if (layout.dib) {
    dib::Image blank;
    blank.width = NewWidth;
    blank.height = NewHeight;
    blank.bitCount = layout.bitCount;
    blank.mask565 = layout.mask565;
    if (layout.bitCount <= 8) {
      if (FHandle) blank.colors = ColorTable();
      if (blank.colors.empty()) blank.colors = dib::DefaultPalette(layout.bitCount);
    }
    blank.bits.assign(dib::RowBytes(NewWidth, layout.bitCount) * static_cast<std::uint64_t>(NewHeight), 0);
    created = CreateDibSection(blank);
  } else if (layout.monochrome) {
    created = Check(CreateBitmap(NewWidth, NewHeight, 1, 1, nullptr));
  } else {
    ScreenDC screen;
    created = Check(CreateCompatibleBitmap(screen.get(), NewWidth, NewHeight));
  }
  try {
    FillWithColor(created, NewWidth, NewHeight, FCanvas ? FCanvas->Brush()->Color() : clWhite);
    if (FHandle) {
      FreeContext();
      const int w = std::min(FWidth, NewWidth), h = std::min(FHeight, NewHeight);
      BitmapInfo from = DescribeBitmap(FHandle, false), to = DescribeBitmap(created, false);
      if (from.dib && to.dib && from.bits && to.bits) {
        CopyOverlap(from, to, w, h);
      } else {
        MemoryDC src(FHandle), dst(created);
        BitBlt(dst.get(), 0, 0, w, h, src.get(), 0, 0, SRCCOPY);
      }
    }
  } catch (...) {
    DeleteObject(created);
    throw;
  }
  ReplaceHandle(created, true);
  Changed(this);
}

void TBitmap::SetWidth(int Value) { Resize(Value, FHeight); }

void TBitmap::SetHeight(int Value) { Resize(FWidth, Value); }

HBITMAP TBitmap::Handle() { return FHandle; }

void TBitmap::SetHandle(HBITMAP Value) {
  if (Value == FHandle) return;
  ReplaceHandle(Value, false);
  Changed(this);
}

HBITMAP TBitmap::ReleaseHandle() {
  FreeContext();
  FreeMask();
  HBITMAP handle = FHandle;
  FHandle = nullptr;
  FWidth = FHeight = 0;
  return handle;
}

TBitmapHandleType TBitmap::HandleType() {
  if (FHandle) return DescribeBitmap(FHandle, false).dib ? bmDIB : bmDDB;
  return FPixelFormat == pfDevice ? bmDDB : bmDIB;
}

void TBitmap::SetHandleType(TBitmapHandleType Value) {
  if (Value == HandleType()) return;
  if (!FHandle) {
    if (Value == bmDDB) {
      FPixelFormat = pfDevice;
    } else {
      FPixelFormat = FMonochrome ? pf1bit : FormatOf(GdiGetScreenBitsPerPixel(), true);
      if (FPixelFormat == pfCustom) FPixelFormat = pf32bit;
    }
    return;
  }
  FreeContext();
  BitmapInfo info = DescribeBitmap(FHandle);
  dib::Image image = ReadBitmap(FHandle);
  HBITMAP converted = Value == bmDIB ? CreateDibSection(image) : CreateDeviceBitmap(image, info.monochrome);
  ReplaceHandle(converted, true);
  Changed(this);
}

TPixelFormat TBitmap::PixelFormat() {
  if (!FHandle) return FPixelFormat;
  BitmapInfo info = DescribeBitmap(FHandle, false);
  return info.dib ? FormatOf(info.bitCount, info.mask565) : pfDevice;
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  if (Value == pfCustom) throw EInvalidGraphic("Invalid pixel format");
  if (Value == PixelFormat()) return;
  if (!FHandle) {
    FPixelFormat = Value;
    if (Value != pfDevice) FMonochrome = false;
    return;
  }
  if (Value == pfDevice) {
    SetHandleType(bmDDB);
    return;
  }
  Layout layout = LayoutOf(Value);
  dib::Image converted = dib::ConvertImage(ReadPicture(), layout.bitCount, layout.mask565);
  ReplaceHandle(CreateDibSection(converted), false);
  Changed(this);
}

bool TBitmap::Monochrome() {
  if (FHandle) {
    BitmapInfo info = DescribeBitmap(FHandle, false);
    if (!info.dib || info.bitCount != 1) return info.monochrome;
    std::vector<dib::Quad> table = ColorTable();
    return table.size() == 2 && table[0] == dib::Quad{0, 0, 0, 0} && table[1] == dib::Quad{255, 255, 255, 0};
  }
  return FPixelFormat == pfDevice ? FMonochrome : FPixelFormat == pf1bit;
}

void TBitmap::SetMonochrome(bool Value) {
  if (Value == Monochrome()) return;
  if (!FHandle) {
    FMonochrome = Value;
    FPixelFormat = pfDevice;
    return;
  }
  HBITMAP converted = CreateDeviceBitmap(ReadPicture(), Value);
  ReplaceHandle(converted, false);
  Changed(this);
}

void* TBitmap::ScanLine(int Row) {
  if (!FHandle || Row < 0 || Row >= FHeight) throw EInvalidGraphicOperation("Scan line index out of range");
  BitmapInfo info = DescribeBitmap(FHandle, false);
  if (!info.dib) {
    SetHandleType(bmDIB);
    info = DescribeBitmap(FHandle, false);
  }
  if (!info.bits) throw EInvalidGraphicOperation("Scan line index out of range");
  // Callers write through the row: the mask made from the old pixels is outdated.
  FreeMask();
  GdiFlush();
  const std::size_t stride = static_cast<std::size_t>(dib::RowBytes(info.width, info.bitCount));
  const int line = info.topDown ? Row : info.height - 1 - Row;
  return static_cast<std::uint8_t*>(info.bits) + static_cast<std::size_t>(line) * stride;
}

HPALETTE TBitmap::GetPalette() {
  if (!FPalette && FHandle) {
    BitmapInfo info = DescribeBitmap(FHandle, false);
    if (info.dib && info.bitCount <= 8) FPalette = CreatePaletteOf(ColorTable());
  }
  return FPalette;
}

void TBitmap::SetPalette(HPALETTE Value) {
  if (Value == FPalette) return;
  FreeContext();
  if (FPalette) DeleteObject(FPalette);
  FPalette = Value;
  if (FHandle && Value) {
    BitmapInfo info = DescribeBitmap(FHandle, false);
    if (info.dib && info.bitCount <= 8) {
      std::vector<dib::Quad> colors = PaletteColors(Value);
      std::vector<RGBQUAD> table;
      for (std::size_t i = 0; i < colors.size() && i < (1u << info.bitCount); ++i)
        table.push_back(RGBQUAD{colors[i].blue, colors[i].green, colors[i].red, 0});
      if (!table.empty()) {
        MemoryDC dc(FHandle);
        SetDIBColorTable(dc.get(), 0, static_cast<UINT>(table.size()), table.data());
      }
    }
  }
  SetPaletteModified(true);
  Changed(this);
}

HPALETTE TBitmap::ReleasePalette() {
  HPALETTE palette = GetPalette();
  FreeContext();
  FPalette = nullptr;
  return palette;
}

void TBitmap::SetIgnorePalette(bool Value) {
  if (Value == FIgnorePalette) return;
  FIgnorePalette = Value;
  FreeContext();
  Changed(this);
}

TColor TBitmap::TransparentColor() {
  if (FTransparentColor != clDefault) return ColorToRGB(FTransparentColor);
  if (Monochrome()) return clWhite;
  if (!FHandle) return clDefault;
  return Canvas()->Pixels(0, FHeight - 1);
}

void TBitmap::SetTransparentColor(TColor Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  FTransparentMode = Value == clDefault ? tmAuto : tmFixed;
  Changed(this);
}

void TBitmap::SetTransparentMode(TTransparentMode Value) {
  if (Value == FTransparentMode) return;
  if (Value == tmAuto)
    SetTransparentColor(clDefault);
  else
    SetTransparentColor(TransparentColor());
}

HBITMAP TBitmap::MaskHandle() {
  if (!FMaskHandle && FHandle) {
    const TColor transparent = TransparentColor();
    dib::Image image = ReadPicture();
    const std::size_t wordRow = static_cast<std::size_t>((image.width + 15) / 16 * 2);
    std::vector<std::uint8_t> rows(wordRow * static_cast<std::size_t>(image.height), 0);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        if (ColorOfRgb(dib::PixelRgb(image, x, y)) == transparent)
          rows[static_cast<std::size_t>(y) * wordRow + static_cast<std::size_t>(x / 8)] |=
              static_cast<std::uint8_t>(0x80 >> (x % 8));
    FMaskHandle = Check(CreateBitmap(image.width, image.height, 1, 1, rows.data()));
  }
  return FMaskHandle;
}

HBITMAP TBitmap::ReleaseMaskHandle() {
  HBITMAP mask = MaskHandle();
  FMaskHandle = nullptr;
  return mask;
}

void TBitmap::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (!FHandle) return;
  // Mask and palette first: making them may take the bitmap out of its canvas.
  HBITMAP mask = Transparent() ? MaskHandle() : nullptr;
  HPALETTE palette = FIgnorePalette ? nullptr : GetPalette();
  const bool monochrome = Monochrome();
  HDC dst = ACanvas->Handle();
  TCanvas* own = Canvas();
  own->Lock();
  HPALETTE oldPalette = nullptr;
  try {
    HDC src = own->Handle();
    if (palette) {
      oldPalette = SelectPalette(dst, palette, TRUE);
      RealizePalette(dst);
    }
    const int w = Rect.right - Rect.left, h = Rect.bottom - Rect.top;
    if (mask) {
      TransparentStretchBlt(dst, Rect.left, Rect.top, w, h, src, 0, 0, FWidth, FHeight, mask);
    } else {
      // A colour picture shrinks by dropping rows and columns: the canvas's default mode would
      // AND the dropped rows into the kept ones. A monochrome one keeps the canvas's mode.
      const int oldMode = monochrome ? 0 : SetStretchBltMode(dst, COLORONCOLOR);
      StretchBlt(dst, Rect.left, Rect.top, w, h, src, 0, 0, FWidth, FHeight, ACanvas->CopyMode());
      if (oldMode) SetStretchBltMode(dst, oldMode);
    }
  } catch (...) {
    if (palette) SelectPalette(dst, oldPalette, TRUE);
    own->Unlock();
    throw;
  }
  if (palette) SelectPalette(dst, oldPalette, TRUE);
  own->Unlock();
}

void TBitmap::LoadFromBytes(const std::uint8_t* Data, std::size_t Size) {
  if (Size == 0) {
    Clear();
    Changed(this);
    return;
  }
  dib::Image image = dib::ReadBmp(Data, Size);
  HBITMAP handle = CreateDibSection(image);
  ReplaceHandle(handle, false);
  Changed(this);
}

void TBitmap::LoadFromStream(TStream* Stream) {
  const std::int64_t remaining = std::max<std::int64_t>(Stream->Size() - Stream->Position(), 0);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(remaining));
  if (remaining) Stream->ReadBuffer(data.data(), remaining);
  LoadFromBytes(data.data(), data.size());
}

void TBitmap::SaveToStream(TStream* Stream) {
  if (!FHandle) return;
  std::vector<std::uint8_t> file = dib::WriteBmp(ReadPicture());
  Stream->WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
}

void TBitmap::LoadFromResourceData(const void* Data, std::size_t Size) {
  const auto* bytes = static_cast<const std::uint8_t*>(Data);
  if (Size >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
    LoadFromBytes(bytes, Size);
    return;
  }
  // A resource holds the bitmap without its file header: supply one (pixel offset 0 lets the
  // reader place the rows right after the colour table).
  std::vector<std::uint8_t> file(14 + Size, 0);
  file[0] = 'B';
  file[1] = 'M';
  PutLittleEndian32(&file[2], static_cast<std::uint32_t>(std::min<std::size_t>(file.size(), UINT32_MAX)));
  if (Size) std::memcpy(file.data() + 14, bytes, Size);
  LoadFromBytes(file.data(), file.size());
}

void TBitmap::ReadData(TStream* Stream) {
  std::uint8_t count[4];
  Stream->ReadBuffer(count, 4);
  const std::uint32_t size = static_cast<std::uint32_t>(count[0]) | static_cast<std::uint32_t>(count[1]) << 8 |
                             static_cast<std::uint32_t>(count[2]) << 16 | static_cast<std::uint32_t>(count[3]) << 24;
  if (static_cast<std::int64_t>(size) > Stream->Size() - Stream->Position()) throw EReadError("Stream read error");
  std::vector<std::uint8_t> data(size);
  if (size) Stream->ReadBuffer(data.data(), size);
  LoadFromBytes(data.data(), data.size());
}

void TBitmap::WriteData(TStream* Stream) {
  TMemoryStream file;
  SaveToStream(&file);
  std::uint8_t count[4];
  PutLittleEndian32(count, static_cast<std::uint32_t>(file.Size()));
  Stream->WriteBuffer(count, 4);
  if (file.Size()) Stream->WriteBuffer(file.Memory(), file.Size());
}

void TBitmap::LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) {
  if (AFormat != CF_BITMAP || !AData) throw EInvalidGraphic("Unsupported clipboard format");
  HBITMAP copy = CopyBitmapHandle(static_cast<HBITMAP>(AData));
  if (!copy) throw EInvalidGraphic("Bitmap image is not valid");
  HPALETTE palette = nullptr;
  try {
    palette = CopyPaletteHandle(APalette);
  } catch (...) {
    DeleteObject(copy);
    throw;
  }
  ReplaceHandle(copy, false);
  FPalette = palette;
  Changed(this);
}

void TBitmap::SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) {
  AFormat = static_cast<WORD>(CF_BITMAP);
  AData = nullptr;
  APalette = nullptr;
  if (!FHandle) return;
  bool monochrome = Monochrome();
  HBITMAP copy = CreateDeviceBitmap(ReadPicture(), monochrome);
  try {
    APalette = CopyPaletteHandle(GetPalette());
  } catch (...) {
    DeleteObject(copy);
    throw;
  }
  AData = copy;
}
