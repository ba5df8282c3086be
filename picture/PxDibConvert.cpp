#include "picture/PxDibConvert.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "picture/PxGraphUtils.h"
#include "picture/PxQuantize.h"

namespace px {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;

// The largest header with its colour table or masks.
struct TInfoBlock {
  BITMAPINFOHEADER Header;
  RGBQUAD Colors[256];
};

int BitCountOf(TPixelFormat Format) {
  switch (Format) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf24bit: return 24;
    default: return 0;
  }
}

void WriteFileHeader(std::uint8_t* P, std::int64_t FileSize, std::int64_t PixelOffset) {
  P[0] = 'B';
  P[1] = 'M';
  PutLE32(P + 2, static_cast<std::uint32_t>(FileSize));
  PutLE32(P + 6, 0);
  PutLE32(P + 10, static_cast<std::uint32_t>(PixelOffset));
}

// A block of AllocGlobalBuffer for a scope.
struct TBlockGuard {
  void* P{nullptr};
  ~TBlockGuard() { FreeGlobalBuffer(P); }
};

// ---------------------------------------------------------------------------------------------
// Truncation

constexpr BYTE kLevels4[4] = {0, 85, 170, 255};
constexpr BYTE kLevels6[6] = {0, 51, 102, 153, 204, 255};
constexpr BYTE kLevels7[7] = {0, 43, 85, 128, 170, 213, 255};
constexpr BYTE kLevels8[8] = {0, 36, 73, 109, 146, 182, 219, 255};

const BYTE* LevelsOf(int Levels) {
  switch (Levels) {
    case 4: return kLevels4;
    case 6: return kLevels6;
    case 7: return kLevels7;
    case 8: return kLevels8;
    default: return nullptr;
  }
}

// Nearest-level tables of the 4-, 6-, 7- and 8-level scales, made once.
struct TTruncTables {
  BYTE Near4[256], Near6[256], Near7[256], Near8[256];
  TTruncTables() {
    for (int v = 0; v < 256; ++v) {
      Near4[v] = static_cast<BYTE>(ClosestPaletteEntry(static_cast<BYTE>(v), 4));
      Near6[v] = static_cast<BYTE>(ClosestPaletteEntry(static_cast<BYTE>(v), 6));
      Near7[v] = static_cast<BYTE>(ClosestPaletteEntry(static_cast<BYTE>(v), 7));
      Near8[v] = static_cast<BYTE>(ClosestPaletteEntry(static_cast<BYTE>(v), 8));
    }
  }
};

const TTruncTables& TruncTables() {
  static const TTruncTables tables;
  return tables;
}

// Converts every row with Pixel(blue, green, red, x, y) -> index; rows in place.
template <class F>
void TruncateColors(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, F Pixel) {
  const std::int64_t width = Header.biWidth < 0 ? 0 : Header.biWidth;
  const std::int64_t height = Header.biHeight < 0 ? -static_cast<std::int64_t>(Header.biHeight) : Header.biHeight;
  const std::int64_t inStride = (3 * width + 3) & ~std::int64_t{3};
  const std::int64_t outStride = DibRowBytes32(8 * width);
  for (std::int64_t y = 0; y < height; ++y) {
    const std::uint8_t* in = Rows + y * inStride;
    std::uint8_t* out = Rows + y * outStride;
    for (std::int64_t x = 0; x < width; ++x, in += 3) out[x] = Pixel(in[0], in[1], in[2], x, y);
    for (std::int64_t x = width; x < outStride; ++x) out[x] = 0;
  }
}

}  // namespace

void RaiseInvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

int ColorCountOfPixelFormat(TPixelFormat Format) {
  switch (Format) {
    case pf1bit: return 2;
    case pf4bit: return 16;
    case pf8bit: return 256;
    default: return 0;
  }
}

int ClosestPaletteEntry(BYTE Value, int Levels) {
  const BYTE* levels = LevelsOf(Levels);
  if (!levels) return 0;
  int best = 0, bestDistance = 256;
  for (int i = 0; i < Levels; ++i) {
    const int d = Value > levels[i] ? Value - levels[i] : levels[i] - Value;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

void MakePalette784(RGBQUAD* Table) {
  std::fill(Table, Table + 256, RGBQUAD{128, 128, 128, 128});
  for (int r = 0; r < 7; ++r)
    for (int g = 0; g < 8; ++g)
      for (int b = 0; b < 4; ++b) Table[r * 32 + g * 4 + b] = RGBQUAD{kLevels4[b], kLevels8[g], kLevels7[r], 0};
}

void MakePalette666(RGBQUAD* Table) {
  std::fill(Table, Table + 256, RGBQUAD{128, 128, 128, 128});
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) Table[r * 36 + g * 6 + b] = RGBQUAD{kLevels6[b], kLevels6[g], kLevels6[r], 0};
}

void MakeTriplePalette(RGBQUAD* Table) {
  std::fill(Table, Table + 256, RGBQUAD{0, 0, 0, 0});
  for (int a = 0; a < 64; ++a) {
    const BYTE v = static_cast<BYTE>(4 * a);
    Table[a] = RGBQUAD{0, 0, v, 0};
    Table[64 + a] = RGBQUAD{0, v, 0, 0};
    Table[128 + a] = RGBQUAD{v, 0, 0, 0};
  }
}

void MakeGrayPalette(RGBQUAD* Table) {
  for (int i = 0; i < 256; ++i) Table[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
}

void Truncate784(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table) {
  MakePalette784(Table);
  const TTruncTables& t = TruncTables();
  TruncateColors(Header, Rows, [&](BYTE B, BYTE G, BYTE R, std::int64_t, std::int64_t) {
    return static_cast<std::uint8_t>(t.Near7[R] * 32 + t.Near8[G] * 4 + t.Near4[B]);
  });
}

void Truncate666(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table) {
  MakePalette666(Table);
  const TTruncTables& t = TruncTables();
  TruncateColors(Header, Rows, [&](BYTE B, BYTE G, BYTE R, std::int64_t, std::int64_t) {
    return static_cast<std::uint8_t>(t.Near6[R] * 36 + t.Near6[G] * 6 + t.Near6[B]);
  });
}

void ConvertToTriple(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table) {
  MakeTriplePalette(Table);
  TruncateColors(Header, Rows, [](BYTE B, BYTE G, BYTE R, std::int64_t X, std::int64_t Y) {
    switch ((X + Y) % 3) {
      case 0: return static_cast<std::uint8_t>(R >> 2);
      case 1: return static_cast<std::uint8_t>((G >> 2) + 64);
      default: return static_cast<std::uint8_t>((B >> 2) + 128);
    }
  });
}

void ConvertToGray(const BITMAPINFOHEADER& Header, std::uint8_t* Rows, RGBQUAD* Table) {
  MakeGrayPalette(Table);
  TruncateColors(Header, Rows, [](BYTE B, BYTE G, BYTE R, std::int64_t, std::int64_t) {
    return static_cast<std::uint8_t>((77 * R + 150 * G + 29 * B) >> 8);
  });
}

void InitDibHeader(HBITMAP Bitmap, BITMAPINFOHEADER& Header, TPixelFormat Format) {
  DIBSECTION ds{};
  const int got = GetObject(Bitmap, sizeof ds, &ds);
  if (got == 0) RaiseInvalidBitmap();
  const bool section = got >= static_cast<int>(sizeof(DIBSECTION)) && ds.dsBmih.biSize >= sizeof(BITMAPINFOHEADER);
  if (section) {
    Header = ds.dsBmih;
  } else {
    Header = BITMAPINFOHEADER{};
    Header.biSize = sizeof(BITMAPINFOHEADER);
    Header.biWidth = ds.dsBm.bmWidth;
    Header.biHeight = ds.dsBm.bmHeight;
  }
  Header.biSize = sizeof(BITMAPINFOHEADER);
  int bits = BitCountOf(Format);
  if (bits == 0) bits = ds.dsBm.bmPlanes * ds.dsBm.bmBitsPixel;
  if (section && Header.biBitCount != bits) {
    // Another depth than the section's: plain rows with a full colour table.
    Header.biCompression = BI_RGB;
    Header.biClrUsed = 0;
    Header.biClrImportant = 0;
    Header.biSizeImage = 0;
  }
  Header.biBitCount = static_cast<WORD>(bits);
  Header.biPlanes = 1;
  if (Header.biSizeImage == 0) {
    const std::int64_t height = Header.biHeight < 0 ? -static_cast<std::int64_t>(Header.biHeight) : Header.biHeight;
    Header.biSizeImage = static_cast<DWORD>(ScanlineBytes(Header.biWidth, bits, 32) * height);
  }
}

void DibHeaderSize(HBITMAP Bitmap, int& HeaderSize, std::int64_t& ImageSize, TPixelFormat Format) {
  BITMAPINFOHEADER header;
  InitDibHeader(Bitmap, header, Format);
  if (header.biBitCount <= 8)
    HeaderSize = kInfoHeaderBytes + 4 * (1 << header.biBitCount);
  else
    HeaderSize = (header.biCompression & 3) != 0 ? kInfoHeaderBytes + 12 : kInfoHeaderBytes;
  ImageSize = header.biSizeImage;
}

bool FetchDibBits(HBITMAP Bitmap, HPALETTE Palette, BITMAPINFO* Info, TPixelFormat Format, void* Bits) {
  BITMAPINFOHEADER& header = Info->bmiHeader;
  InitDibHeader(Bitmap, header, Format);
  if (header.biHeight < 0) header.biHeight = -header.biHeight;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) RaiseOutOfResources();
  HPALETTE oldPalette = nullptr;
  if (Palette) {
    oldPalette = SelectPalette(dc, Palette, FALSE);
    RealizePalette(dc);
  }
  const int rows = GetDIBits(dc, Bitmap, 0, static_cast<UINT>(header.biHeight), Bits, Info, DIB_RGB_COLORS);
  if (oldPalette) SelectPalette(dc, oldPalette, FALSE);
  DeleteDC(dc);
  return rows != 0;
}

void* BitmapToDibBlock(HBITMAP Bitmap, HPALETTE Palette, TPixelFormat Format, std::int64_t& Length) {
  if (!Bitmap) RaiseInvalidBitmap();
  int headerSize = 0;
  std::int64_t imageSize = 0;
  DibHeaderSize(Bitmap, headerSize, imageSize, Format);
  Length = kFileHeaderBytes + headerSize + imageSize;
  TBlockGuard block;
  block.P = AllocGlobalBuffer(Length);
  if (!block.P) throw EOutOfMemory();
  auto* p = static_cast<std::uint8_t*>(block.P);
  WriteFileHeader(p, Length, kFileHeaderBytes + headerSize);
  // The header is filled in an aligned block of its own, then copied behind the file header.
  TInfoBlock info{};
  if (!FetchDibBits(Bitmap, Palette, reinterpret_cast<BITMAPINFO*>(&info), Format, p + kFileHeaderBytes + headerSize))
    RaiseInvalidBitmap();
  std::memcpy(p + kFileHeaderBytes, &info, static_cast<std::size_t>(headerSize));
  void* result = block.P;
  block.P = nullptr;
  return result;
}

std::unique_ptr<TMemoryStream> BitmapToMemoryStream(TBitmap* Bitmap, TPixelFormat Format, BYTE Method) {
  if (!Bitmap || !Bitmap->Handle()) RaiseInvalidBitmap();
  HBITMAP handle = Bitmap->Handle();
  auto stream = std::make_unique<TMemoryStream>();
  if (PixelFormatOf(Bitmap) == Format && Method != rmGray) {
    Bitmap->SaveToStream(stream.get());
    stream->SetPosition(0);
    return stream;
  }
  if (Format != pf1bit && Format != pf4bit && Format != pf8bit && Format != pf24bit)
    throw EPxException("BitmapToMemoryStream: pixel format not implemented");

  if (Format != pf8bit) {
    // The platform's conversion chooses the colours; a 24-bit request is not reduced.
    TBlockGuard block;
    std::int64_t length = 0;
    block.P = BitmapToDibBlock(handle, Bitmap->Palette(), Format, length);
    stream->WriteBuffer(block.P, length);
    stream->SetPosition(0);
    return stream;
  }

  if (Method > rmGray) throw EPxException("BitmapToMemoryStream: reduction method not implemented");
  TBlockGuard trueColor;
  std::int64_t length = 0;
  trueColor.P = BitmapToDibBlock(handle, Bitmap->Palette(), pf24bit, length);
  auto* block = static_cast<std::uint8_t*>(trueColor.P);
  BITMAPINFOHEADER header24;
  std::memcpy(&header24, block + kFileHeaderBytes, sizeof header24);
  if (header24.biBitCount != 24) throw EPxException("BitmapToMemoryStream: bit count not implemented");
  std::uint8_t* rows = block + kFileHeaderBytes + kInfoHeaderBytes;

  TInfoBlock info{};
  BITMAPINFOHEADER& header = info.Header;
  InitDibHeader(handle, header, pf8bit);
  const std::int64_t height = header.biHeight < 0 ? -static_cast<std::int64_t>(header.biHeight) : header.biHeight;
  // The rows come bottom-up with a full table of 256 plain entries.
  header.biHeight = static_cast<LONG>(height);
  header.biCompression = BI_RGB;
  header.biClrUsed = 0;
  header.biSizeImage = static_cast<DWORD>(ScanlineBytes(header.biWidth, 8, 32) * height);
  switch (Method) {
    case rmHistogram:
      ReduceByHistogram(header24, info.Colors, rows, 0xFF, 0xFF, 0xFF, ColorCountOfPixelFormat(pf8bit), rows);
      break;
    case rmBoxSplit: {
      int colors = 256;
      QuantizeByBoxSplit(header24, rows, rows, info.Colors, colors);
      header.biClrImportant = static_cast<DWORD>(colors);
      break;
    }
    case rmTruncate784:
      Truncate784(header24, rows, info.Colors);
      header.biClrImportant = 224;
      break;
    case rmTruncate666:
      Truncate666(header24, rows, info.Colors);
      header.biClrImportant = 216;
      break;
    case rmTriple:
      ConvertToTriple(header24, rows, info.Colors);
      break;
    default:
      ConvertToGray(header24, rows, info.Colors);
      break;
  }
  std::uint8_t fileHeader[kFileHeaderBytes];
  const std::int64_t headerBytes = kFileHeaderBytes + static_cast<std::int64_t>(sizeof info);
  WriteFileHeader(fileHeader, headerBytes + header.biSizeImage, headerBytes);
  stream->WriteBuffer(fileHeader, sizeof fileHeader);
  stream->WriteBuffer(&info, sizeof info);
  stream->WriteBuffer(rows, header.biSizeImage);
  stream->SetPosition(0);
  return stream;
}

std::unique_ptr<TMemoryStream> BitmapToReducedStream(TBitmap* Bitmap, int ColorCount) {
  TPixelFormat format = pf8bit;
  if (ColorCount <= 2)
    format = pf1bit;
  else if (ColorCount <= 16)
    format = pf4bit;
  else if (ColorCount > 256)
    format = pf24bit;
  return BitmapToMemoryStream(Bitmap, format, DefaultReductionMethod);
}

void ReduceBitmapColorCount(TBitmap* Bitmap, int ColorCount) {
  if (!Bitmap || ColorCount <= 0) return;
  std::unique_ptr<TMemoryStream> stream = BitmapToReducedStream(Bitmap, ColorCount);
  Bitmap->LoadFromStream(stream.get());
}

}  // namespace px
