#include "platform/graphics/GraphicsInternal.h"

#include <cstdlib>
#include <cstring>

#include "platform/rtl/SysUtils.h"

namespace graphics_detail {
namespace {

// Raster operation that leaves the destination as it is (MaskBlt's "keep" half).
constexpr DWORD kDestinationOnly = 0x00AA0029;

// BITMAPINFO with room for a full colour table or the three bit-field masks.
struct InfoBuffer {
  std::vector<std::uint32_t> storage = std::vector<std::uint32_t>((sizeof(BITMAPINFOHEADER) + 256 * 4) / 4, 0);
  BITMAPINFO* info() { return reinterpret_cast<BITMAPINFO*>(storage.data()); }
  RGBQUAD* colors() { return info()->bmiColors; }
  DWORD* masks() { return reinterpret_cast<DWORD*>(info()->bmiColors); }
};

void FillInfo(InfoBuffer& b, const dib::Image& image) {
  BITMAPINFOHEADER& h = b.info()->bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = image.width;
  h.biHeight = image.height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(image.bitCount);
  h.biCompression = image.bitCount == 16 && image.mask565 ? BI_BITFIELDS : BI_RGB;
  h.biSizeImage = static_cast<DWORD>(image.bits.size());
  if (image.bitCount <= 8) {
    h.biClrUsed = static_cast<DWORD>(image.colors.size());
    for (std::size_t i = 0; i < image.colors.size() && i < 256; ++i) {
      const dib::Quad& q = image.colors[i];
      b.colors()[i] = RGBQUAD{q.blue, q.green, q.red, 0};
    }
  } else if (h.biCompression == BI_BITFIELDS) {
    for (int i = 0; i < 3; ++i) b.masks()[i] = dib::kMasks565[i];
  }
}

// Device-dependent monochrome rows: word-aligned, top row first, 1 = white.
std::vector<std::uint8_t> MonochromeRows(const dib::Image& image) {
  const std::size_t wordRow = static_cast<std::size_t>((image.width + 15) / 16 * 2);
  const std::size_t dibRow = static_cast<std::size_t>(dib::RowBytes(image.width, 1));
  std::vector<std::uint8_t> rows(wordRow * static_cast<std::size_t>(image.height), 0);
  bool inverted = image.colors.size() >= 2 && image.colors[0].red > image.colors[1].red;
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* src = image.bits.data() + static_cast<std::size_t>(image.height - 1 - y) * dibRow;
    std::uint8_t* dst = rows.data() + static_cast<std::size_t>(y) * wordRow;
    for (std::size_t i = 0; i < wordRow && i < dibRow; ++i) dst[i] = inverted ? static_cast<std::uint8_t>(~src[i]) : src[i];
  }
  return rows;
}

}  // namespace

void ThrowOutOfResources() { throw EOutOfResources(); }

ScreenDC::ScreenDC() : dc_(Check(GetDC(nullptr))) {}
ScreenDC::~ScreenDC() { ReleaseDC(nullptr, dc_); }

MemoryDC::MemoryDC(HBITMAP Bitmap, HDC Compatible) : dc_(Check(CreateCompatibleDC(Compatible))) {
  if (Bitmap) old_ = SelectObject(dc_, Bitmap);
}
MemoryDC::~MemoryDC() {
  if (old_) SelectObject(dc_, old_);
  DeleteDC(dc_);
}

BitmapInfo DescribeBitmap(HBITMAP Bitmap, bool WithMonochrome) {
  BitmapInfo info;
  if (!Bitmap) return info;
  DIBSECTION ds{};
  int n = GetObject(Bitmap, sizeof ds, &ds);
  if (n <= 0) return info;
  if (n >= static_cast<int>(sizeof(DIBSECTION))) {
    info.dib = true;
    info.width = ds.dsBm.bmWidth;
    info.height = std::abs(ds.dsBmih.biHeight);
    info.topDown = ds.dsBmih.biHeight < 0;
    info.bitCount = ds.dsBmih.biBitCount;
    info.mask565 = info.bitCount == 16 && ds.dsBmih.biCompression == BI_BITFIELDS && ds.dsBitfields[1] == 0x07E0;
    info.bits = ds.dsBm.bmBits;
    if (info.bitCount == 1 && WithMonochrome) {
      RGBQUAD table[2]{};
      MemoryDC dc(Bitmap);
      UINT count = GetDIBColorTable(dc.get(), 0, 2, table);
      info.monochrome = count == 2 && table[0].rgbRed == 0 && table[0].rgbGreen == 0 && table[0].rgbBlue == 0 &&
                        table[1].rgbRed == 255 && table[1].rgbGreen == 255 && table[1].rgbBlue == 255;
    }
  } else {
    info.width = ds.dsBm.bmWidth;
    info.height = ds.dsBm.bmHeight;
    info.bitCount = ds.dsBm.bmBitsPixel * ds.dsBm.bmPlanes;
    info.monochrome = info.bitCount == 1;
  }
  return info;
}

std::vector<dib::Quad> DibColorTable(HBITMAP Bitmap) {
  std::vector<dib::Quad> colors;
  RGBQUAD table[256]{};
  MemoryDC dc(Bitmap);
  UINT count = GetDIBColorTable(dc.get(), 0, 256, table);
  for (UINT i = 0; i < count && i < 256; ++i)
    colors.push_back(dib::Quad{table[i].rgbBlue, table[i].rgbGreen, table[i].rgbRed, 0});
  return colors;
}

HBITMAP CreateDibSection(const dib::Image& Image) {
  InfoBuffer b;
  FillInfo(b, Image);
  void* bits = nullptr;
  ScreenDC screen;
  HBITMAP result = Check(CreateDIBSection(screen.get(), b.info(), DIB_RGB_COLORS, &bits, nullptr, 0));
  if (bits && !Image.bits.empty()) std::memcpy(bits, Image.bits.data(), Image.bits.size());
  return result;
}

HBITMAP CreateDibSectionForWriting(const dib::Image& Shape) {
  InfoBuffer b;
  FillInfo(b, Shape);
  void* bits = nullptr;
  ScreenDC screen;
  return Check(GdiCreateDIBSectionForWriting(screen.get(), b.info(), DIB_RGB_COLORS, &bits));
}

HBITMAP CreateDeviceBitmap(const dib::Image& Image, bool Monochrome) {
  if (Monochrome) {
    dib::Image mono = Image;
    std::vector<dib::Quad> blackWhite = dib::DefaultPalette(1);
    if (Image.bitCount != 1) mono = dib::ConvertImage(Image, 1, false, &blackWhite);
    std::vector<std::uint8_t> rows = MonochromeRows(mono);
    return Check(CreateBitmap(Image.width, Image.height, 1, 1, rows.data()));
  }
  ScreenDC screen;
  HBITMAP result = Check(CreateCompatibleBitmap(screen.get(), Image.width, Image.height));
  InfoBuffer b;
  FillInfo(b, Image);
  if (SetDIBits(screen.get(), result, 0, static_cast<UINT>(Image.height), Image.bits.data(), b.info(),
                DIB_RGB_COLORS) == 0) {
    DeleteObject(result);
    ThrowOutOfResources();
  }
  return result;
}

dib::Image ReadBitmap(HBITMAP Bitmap) {
  BitmapInfo info = DescribeBitmap(Bitmap);
  dib::Image image;
  if (info.width <= 0 || info.height <= 0) return image;
  image.width = info.width;
  image.height = info.height;
  if (info.dib && info.bits) {
    image.bitCount = info.bitCount;
    image.mask565 = info.mask565;
    const std::size_t stride = static_cast<std::size_t>(dib::RowBytes(info.width, info.bitCount));
    image.bits.resize(stride * static_cast<std::size_t>(info.height));
    const auto* src = static_cast<const std::uint8_t*>(info.bits);
    if (!info.topDown) {
      std::memcpy(image.bits.data(), src, image.bits.size());
    } else {
      for (int y = 0; y < info.height; ++y)
        std::memcpy(image.bits.data() + static_cast<std::size_t>(info.height - 1 - y) * stride, src + y * stride, stride);
    }
    if (info.bitCount <= 8) {
      image.colors = DibColorTable(Bitmap);
      if (image.colors.empty()) image.colors = dib::DefaultPalette(info.bitCount);
    }
    return image;
  }
  if (info.monochrome) {
    // Raw device rows: word-aligned, top row first, 1 = white.
    const std::size_t wordRow = static_cast<std::size_t>((info.width + 15) / 16 * 2);
    std::vector<std::uint8_t> rows(wordRow * static_cast<std::size_t>(info.height));
    GetBitmapBits(Bitmap, static_cast<LONG>(rows.size()), rows.data());
    image.bitCount = 1;
    image.colors = dib::DefaultPalette(1);
    const std::size_t stride = static_cast<std::size_t>(dib::RowBytes(info.width, 1));
    image.bits.assign(stride * static_cast<std::size_t>(info.height), 0);
    for (int y = 0; y < info.height; ++y)
      std::memcpy(image.bits.data() + static_cast<std::size_t>(info.height - 1 - y) * stride,
                  rows.data() + static_cast<std::size_t>(y) * wordRow, std::min(stride, wordRow));
    return image;
  }
  image.bitCount = 32;
  image.bits.assign(static_cast<std::size_t>(dib::RowBytes(info.width, 32)) * static_cast<std::size_t>(info.height), 0);
  InfoBuffer b;
  FillInfo(b, image);
  ScreenDC screen;
  GetDIBits(screen.get(), Bitmap, 0, static_cast<UINT>(info.height), image.bits.data(), b.info(), DIB_RGB_COLORS);
  return image;
}

HBITMAP CopyBitmapHandle(HBITMAP Bitmap) {
  BitmapInfo info = DescribeBitmap(Bitmap);
  if (info.width <= 0 || info.height <= 0) return nullptr;
  dib::Image image = ReadBitmap(Bitmap);
  return info.dib ? CreateDibSection(image) : CreateDeviceBitmap(image, info.monochrome);
}

HPALETTE CreatePaletteOf(const std::vector<dib::Quad>& Colors) {
  if (Colors.empty()) return nullptr;
  std::vector<std::uint8_t> buffer(sizeof(LOGPALETTE) + Colors.size() * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
  log->palVersion = 0x300;
  log->palNumEntries = static_cast<WORD>(Colors.size());
  for (std::size_t i = 0; i < Colors.size(); ++i)
    log->palPalEntry[i] = PALETTEENTRY{Colors[i].red, Colors[i].green, Colors[i].blue, 0};
  return Check(CreatePalette(log));
}

std::vector<dib::Quad> PaletteColors(HPALETTE Palette) {
  std::vector<dib::Quad> colors;
  if (!Palette) return colors;
  WORD count = 0;
  if (GetObject(Palette, sizeof count, &count) == 0 || count == 0) return colors;
  std::vector<PALETTEENTRY> entries(count);
  UINT got = GetPaletteEntries(Palette, 0, count, entries.data());
  for (UINT i = 0; i < got; ++i) colors.push_back(dib::Quad{entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0});
  return colors;
}

HPALETTE CopyPaletteHandle(HPALETTE Palette) {
  if (!Palette) return nullptr;
  return CreatePaletteOf(PaletteColors(Palette));
}

void TransparentStretchBlt(HDC Dst, int X, int Y, int W, int H, HDC Src, int SrcX, int SrcY, int SrcW, int SrcH,
                           HBITMAP Mask) {
  const DWORD rop = MAKEROP4(kDestinationOnly, SRCCOPY);
  if (W == SrcW && H == SrcH) {
    MaskBlt(Dst, X, Y, W, H, Src, SrcX, SrcY, Mask, SrcX, SrcY, rop);
    return;
  }
  const int aw = std::abs(W), ah = std::abs(H);
  if (aw == 0 || ah == 0 || SrcW == 0 || SrcH == 0) return;
  // Stretch picture and mask to the destination size first, then copy through the mask 1:1.
  HBITMAP color = Check(CreateCompatibleBitmap(Dst, aw, ah));
  HBITMAP mask = CreateBitmap(aw, ah, 1, 1, nullptr);
  if (!mask) {
    DeleteObject(color);
    ThrowOutOfResources();
  }
  {
    MemoryDC colorDC(color, Dst), maskDC(mask), sourceMaskDC(Mask);
    SetStretchBltMode(colorDC.get(), COLORONCOLOR);
    SetStretchBltMode(maskDC.get(), COLORONCOLOR);
    const int x0 = W < 0 ? aw : 0, y0 = H < 0 ? ah : 0;
    StretchBlt(colorDC.get(), x0, y0, W, H, Src, SrcX, SrcY, SrcW, SrcH, SRCCOPY);
    StretchBlt(maskDC.get(), x0, y0, W, H, sourceMaskDC.get(), SrcX, SrcY, SrcW, SrcH, SRCCOPY);
  }
  {
    MemoryDC colorDC(color, Dst);
    MaskBlt(Dst, W < 0 ? X + W : X, H < 0 ? Y + H : Y, aw, ah, colorDC.get(), 0, 0, mask, 0, 0, rop);
  }
  DeleteObject(mask);
  DeleteObject(color);
}

}  // namespace graphics_detail
