#include "picture/PxGraphUtils.h"

#include <cstring>
#include <memory>
#include <vector>

namespace px {

namespace {

// Largest side of a bitmap the platform makes.
constexpr std::int64_t kMaxSide = 65535;

[[noreturn]] void RaiseInvalidIcon() { throw EInvalidGraphic("Icon image is not valid"); }

// The screen's device context for a scope; acquiring it is checked.
class TScreenContext {
 public:
  TScreenContext() : FDC(GetDC(nullptr)) {
    if (!FDC) RaiseOutOfResources();
  }
  ~TScreenContext() { ReleaseDC(nullptr, FDC); }
  TScreenContext(const TScreenContext&) = delete;
  TScreenContext& operator=(const TScreenContext&) = delete;
  HDC get() const { return FDC; }

 private:
  HDC FDC;
};

// Deletes a GDI object at the end of a scope unless released.
class TObjectGuard {
 public:
  explicit TObjectGuard(HGDIOBJ Object) : FObject(Object) {}
  ~TObjectGuard() {
    if (FObject) DeleteObject(FObject);
  }
  TObjectGuard(const TObjectGuard&) = delete;
  TObjectGuard& operator=(const TObjectGuard&) = delete;
  HGDIOBJ release() {
    HGDIOBJ o = FObject;
    FObject = nullptr;
    return o;
  }

 private:
  HGDIOBJ FObject;
};

BITMAP DescribeBitmapObject(HBITMAP Bitmap) {
  BITMAP bm{};
  if (!GetObject(Bitmap, sizeof bm, &bm)) RaiseOutOfResources();
  return bm;
}

// One icon directory entry (16 bytes).
struct TIconEntry {
  std::uint16_t ColorCount{0};  // colour count and reserved byte, as one 16-bit value
  std::uint16_t Planes{0};
  std::uint16_t BitCount{0};
  std::uint32_t Bytes{0};
  std::uint32_t Offset{0};
};

// Colour depth an entry stands for, for choosing among entries.
std::int64_t EntryDepth(const TIconEntry& E) {
  const std::int64_t depth = static_cast<std::int64_t>(E.Planes) * E.BitCount;
  if (depth > 0) return depth;
  switch (E.ColorCount & 0xFF) {
    case 2: return 1;
    case 16: return 4;
    case 0: return 8;
    default: return 0;
  }
}

}  // namespace

void RaiseOutOfResources() { throw EOutOfResources("Out of system resources"); }

HBITMAP StretchToIconBitmap(HBITMAP Source, SIZE Size, bool Monochrome) {
  struct TContexts {
    HDC Source{nullptr}, Target{nullptr};
    ~TContexts() {
      if (Source) DeleteDC(Source);
      if (Target) DeleteDC(Target);
    }
  } dcs;
  dcs.Source = CreateCompatibleDC(nullptr);
  dcs.Target = CreateCompatibleDC(nullptr);
  if (!dcs.Source || !dcs.Target) RaiseOutOfResources();
  BITMAP source = DescribeBitmapObject(Source);
  HBITMAP result = nullptr;
  if (Monochrome) {
    result = CreateBitmap(Size.cx, Size.cy, 1, 1, nullptr);
  } else {
    TScreenContext screen;
    result = CreateCompatibleBitmap(screen.get(), Size.cx, Size.cy);
  }
  if (!result) RaiseOutOfResources();
  HGDIOBJ oldSource = SelectObject(dcs.Source, Source);
  HGDIOBJ oldTarget = SelectObject(dcs.Target, result);
  StretchBlt(dcs.Target, 0, 0, Size.cx, Size.cy, dcs.Source, 0, 0, source.bmWidth, source.bmHeight, SRCCOPY);
  if (oldSource) SelectObject(dcs.Source, oldSource);
  if (oldTarget) SelectObject(dcs.Target, oldTarget);
  return result;
}

void IconDibToBitmaps(const void* Image, std::int64_t Size, HBITMAP& ColorBitmap, HBITMAP& MaskBitmap) {
  ColorBitmap = nullptr;
  MaskBitmap = nullptr;
  const auto* base = static_cast<const std::uint8_t*>(Image);
  if (!base || Size < static_cast<std::int64_t>(sizeof(BITMAPINFOHEADER))) RaiseInvalidIcon();
  // The header's own size says where the colour table begins (40 for the plain header, more for
  // the later ones); only plain rows are images of an icon.
  struct TInfo {
    BITMAPINFOHEADER Header;
    RGBQUAD Colors[256];
  } info{};
  std::memcpy(&info.Header, base, sizeof info.Header);
  BITMAPINFOHEADER& header = info.Header;
  const std::int64_t headerSize = header.biSize;
  const std::int64_t width = header.biWidth;
  const std::int64_t height = header.biHeight / 2;
  const WORD bitCount = header.biBitCount;
  if (headerSize < static_cast<std::int64_t>(sizeof(BITMAPINFOHEADER)) || headerSize > Size) RaiseInvalidIcon();
  if (header.biCompression != BI_RGB) RaiseInvalidIcon();
  if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide) RaiseInvalidIcon();
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    RaiseInvalidIcon();
  SIZE size{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};
  const std::int64_t colorBytes = DibScanlineBytes(width * bitCount) * height;
  const std::int64_t maskBytes = DibScanlineBytes(width) * height;
  // A table shorter than the depth allows (a used-colour count below it) is honoured; the
  // bits follow the table.
  std::int64_t entries = DibColorTableEntries(bitCount);
  if (header.biClrUsed != 0 && header.biClrUsed < entries) entries = header.biClrUsed;
  const std::int64_t colorOffset = headerSize + 4 * entries;
  if (colorOffset + colorBytes + maskBytes > Size) RaiseInvalidIcon();

  // The platform is given a plain header with its table, copied out of the image.
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biHeight = static_cast<LONG>(height);
  header.biPlanes = 1;
  header.biSizeImage = static_cast<DWORD>(colorBytes);
  std::memcpy(info.Colors, base + headerSize, static_cast<std::size_t>(4 * entries));

  TScreenContext screen;
  const auto* bitmapInfo = reinterpret_cast<const BITMAPINFO*>(&info);
  {
    HBITMAP color = CreateDIBitmap(screen.get(), &header, CBM_INIT, base + colorOffset, bitmapInfo, DIB_RGB_COLORS);
    if (!color) RaiseOutOfResources();
    TObjectGuard guard(color);
    BITMAP bm = DescribeBitmapObject(color);
    size = SIZE{bm.bmWidth, bm.bmHeight};
    ColorBitmap = StretchToIconBitmap(color, size, false);
  }

  // The mask: 1 bit a pixel, black and white.
  header.biBitCount = 1;
  header.biSizeImage = static_cast<DWORD>(maskBytes);
  header.biClrUsed = 2;
  header.biClrImportant = 2;
  info.Colors[0] = RGBQUAD{0, 0, 0, 0};
  info.Colors[1] = RGBQUAD{255, 255, 255, 0};
  try {
    HBITMAP mask =
        CreateDIBitmap(screen.get(), &header, CBM_INIT, base + colorOffset + colorBytes, bitmapInfo, DIB_RGB_COLORS);
    if (!mask) RaiseOutOfResources();
    TObjectGuard guard(mask);
    MaskBitmap = StretchToIconBitmap(mask, size, true);
  } catch (...) {
    DeleteObject(ColorBitmap);
    ColorBitmap = nullptr;
    throw;
  }
}

void ReadIconImage(TStream* Stream, HICON& Icon, int Count, int HeaderBytes) {
  Icon = nullptr;
  const std::int64_t dataStart = Stream->Position() - HeaderBytes;
  const std::int64_t directoryBytes = 16 * static_cast<std::int64_t>(Count > 0 ? Count : 0);
  if (Count <= 0 || Stream->Size() - Stream->Position() < directoryBytes) throw EReadError();
  std::vector<std::uint8_t> directory(static_cast<std::size_t>(directoryBytes));
  Stream->ReadBuffer(directory.data(), directoryBytes);
  std::vector<TIconEntry> entries(static_cast<std::size_t>(Count));
  for (int i = 0; i < Count; ++i) {
    const std::uint8_t* e = directory.data() + 16 * i;
    entries[i] = TIconEntry{GetLE16(e + 2), GetLE16(e + 4), GetLE16(e + 6), GetLE32(e + 8), GetLE32(e + 12)};
  }

  // The display's colour count; entries store 0 for 256 colours and more.
  std::int64_t displayColors;
  {
    TScreenContext screen;
    const int bits = GetDeviceCaps(screen.get(), PLANES) * GetDeviceCaps(screen.get(), BITSPIXEL);
    displayColors = bits >= 8 ? 0 : std::int64_t{1} << bits;
  }
  int chosen = -1;
  for (int i = 0; i < Count && chosen < 0; ++i)
    if (entries[i].ColorCount == displayColors) chosen = i;
  if (chosen < 0) {
    chosen = 0;
    for (int i = 1; i < Count; ++i)
      if (EntryDepth(entries[i]) > EntryDepth(entries[chosen])) chosen = i;
  }
  const TIconEntry& entry = entries[static_cast<std::size_t>(chosen)];

  // The image offset counts from the start of the icon data.
  const std::int64_t imageStart = dataStart + entry.Offset;
  if (imageStart < dataStart + HeaderBytes + directoryBytes || imageStart > Stream->Size()) throw EReadError();
  if (Stream->Seek(imageStart, soFromBeginning) != imageStart) throw EReadError();
  if (Stream->Size() - imageStart < entry.Bytes) throw EReadError();
  TGlobalBuffer image(entry.Bytes);
  Stream->ReadBuffer(image.get(), entry.Bytes);

  HBITMAP color = nullptr, mask = nullptr;
  IconDibToBitmaps(image.get(), image.size(), color, mask);
  TObjectGuard colorGuard(color), maskGuard(mask);
  BITMAP maskInfo = DescribeBitmapObject(mask);
  BITMAP colorInfo = DescribeBitmapObject(color);
  const std::int64_t maskBytes =
      static_cast<std::int64_t>(maskInfo.bmWidthBytes) * maskInfo.bmHeight * maskInfo.bmPlanes;
  const std::int64_t colorBytes =
      static_cast<std::int64_t>(colorInfo.bmWidthBytes) * colorInfo.bmHeight * colorInfo.bmPlanes;
  TGlobalBuffer bits(maskBytes + colorBytes);
  GetBitmapBits(mask, static_cast<LONG>(maskBytes), bits.get());
  GetBitmapBits(color, static_cast<LONG>(colorBytes), bits.get() + maskBytes);
  Icon = CreateIcon(nullptr, maskInfo.bmWidth, maskInfo.bmHeight, static_cast<BYTE>(colorInfo.bmPlanes),
                    static_cast<BYTE>(colorInfo.bmBitsPixel), bits.get(), bits.get() + maskBytes);
  if (!Icon) RaiseOutOfResources();
}

void QueryIconSize(HICON Icon, int& Width, int& Height) {
  Width = GetSystemMetrics(SM_CXICON);
  Height = GetSystemMetrics(SM_CYICON);
  ICONINFO info{};
  if (!GetIconInfo(Icon, &info)) return;
  BITMAP bm{};
  if (info.hbmColor && GetObject(info.hbmColor, sizeof bm, &bm)) {
    Width = bm.bmWidth;
    Height = bm.bmHeight;
  } else if (info.hbmMask && GetObject(info.hbmMask, sizeof bm, &bm)) {
    Width = bm.bmWidth;
    Height = bm.bmHeight / 2;
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
}

HICON MakeFullSizeIcon(TIcon* Icon) {
  TMemoryStream stream;
  Icon->SaveToStream(&stream);
  stream.SetPosition(0);
  std::uint8_t header[6];
  stream.ReadBuffer(header, sizeof header);
  const std::uint16_t type = GetLE16(header + 2);
  HICON result = nullptr;
  if (type == 0) {
    result = LoadIcon(nullptr, IDI_APPLICATION);
  } else if (type == 1) {
    ReadIconImage(&stream, result, GetLE16(header + 4), static_cast<int>(sizeof header));
  } else {
    result = CopyIcon(Icon->Handle());
  }
  if (!result) RaiseOutOfResources();
  return result;
}

void DrawFullSizeIcon(TCanvas* Canvas, TIcon* Icon, int X, int Y) {
  HICON icon = MakeFullSizeIcon(Icon);
  struct TDestroy {
    HICON Icon;
    ~TDestroy() { DestroyIcon(Icon); }
  } destroy{icon};
  int width = 0, height = 0;
  QueryIconSize(icon, width, height);
  DrawIconEx(Canvas->Handle(), X, Y, icon, width, height, 0, nullptr, DI_NORMAL);
}

void* AllocGlobalBuffer(std::int64_t Size) {
  if (Size <= 0 || static_cast<std::uint64_t>(Size) > GLOBAL_MAX_BLOCK) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, static_cast<SIZE_T>(Size));
  if (!block) return nullptr;
  void* p = GlobalLock(block);
  if (!p) GlobalFree(block);
  return p;
}

void FreeGlobalBuffer(void*& P) {
  if (!P) return;
  // A fixed block's handle is its address.
  GlobalUnlock(P);
  GlobalFree(P);
  P = nullptr;
}

bool SameMemory(const void* P1, const void* P2, std::int32_t Count) {
  if (Count <= 0) return true;
  const auto* a = static_cast<const std::uint8_t*>(P1);
  const auto* b = static_cast<const std::uint8_t*>(P2);
  const std::int32_t words = Count / 4;
  for (std::int32_t i = 0; i < words; ++i)
    if (std::memcmp(a + 4 * i, b + 4 * i, 4) != 0) return false;
  for (std::int32_t i = words * 4; i < Count; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

void CopyMemoryBlock(void* Dest, const void* Source, std::int64_t Count) {
  if (Count > 0) std::memmove(Dest, Source, static_cast<std::size_t>(Count));
}

TGlobalBuffer::TGlobalBuffer(std::int64_t Size) : FSize(Size > 0 ? Size : 0) {
  if (FSize > 0) {
    FData = AllocGlobalBuffer(FSize);
    if (!FData) throw EOutOfMemory();
  }
}

}  // namespace px
