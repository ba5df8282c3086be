// Logical palettes, the fixed colour tables and the system palette of a palette-based screen.
#include <algorithm>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace gdi {

const std::array<PALETTEENTRY, 20>& DefaultPaletteEntries() {
  // The 20 static colours: the 16 VGA colours with four extra ones, in their fixed order.
  static const std::array<PALETTEENTRY, 20> entries = {{
      {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},   {0, 0, 128, 0},
      {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0}, {192, 220, 192, 0}, {166, 202, 240, 0},
      {255, 251, 240, 0}, {160, 160, 164, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},
      {255, 255, 0, 0},   {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
  }};
  return entries;
}

const std::array<RGBQUAD, 16>& Vga16Table() {
  // Colour table of 4-bit device bitmaps and the default 4-bit table of GetDIBits (blue, green, red).
  static const std::array<RGBQUAD, 16> table = {{
      {0, 0, 0, 0},
      {0, 0, 128, 0},
      {0, 128, 0, 0},
      {0, 128, 128, 0},
      {128, 0, 0, 0},
      {128, 0, 128, 0},
      {128, 128, 0, 0},
      {192, 192, 192, 0},
      {128, 128, 128, 0},
      {0, 0, 255, 0},
      {0, 255, 0, 0},
      {0, 255, 255, 0},
      {255, 0, 0, 0},
      {255, 0, 255, 0},
      {255, 255, 0, 0},
      {255, 255, 255, 0},
  }};
  return table;
}

const std::array<PALETTEENTRY, 256>& HalftoneEntries() {
  // The halftone palette (also the initial system palette and the default 8-bit table):
  //   0..9      static colours 0..9 of the default palette
  //   10..225   a 6 x 6 x 6 colour cube, entry 10 + 36r + 6g + b = (51r, 51g, 51b), r, g, b in 0..5
  //   226..245  20 greys (v, v, v) with v = round(255k / 21), k = 1..20 (12, 24, 36, 49, 61, ...
  //             231, 243), none of them a cube level
  //   246..255  static colours 10..19 of the default palette
  static const std::array<PALETTEENTRY, 256> entries = [] {
    std::array<PALETTEENTRY, 256> e{};
    const auto& statics = DefaultPaletteEntries();
    for (int i = 0; i < 10; ++i) {
      e[i] = statics[i];
      e[246 + i] = statics[10 + i];
    }
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          e[10 + 36 * r + 6 * g + b] = {static_cast<BYTE>(51 * r), static_cast<BYTE>(51 * g), static_cast<BYTE>(51 * b), 0};
    for (int k = 1; k <= 20; ++k) {
      BYTE v = static_cast<BYTE>((255 * k + 10) / 21);
      e[225 + k] = {v, v, v, 0};
    }
    return e;
  }();
  return entries;
}

std::vector<RGBQUAD> HalftoneTable() {
  std::vector<RGBQUAD> t(256);
  const auto& e = HalftoneEntries();
  for (int i = 0; i < 256; ++i) t[i] = {e[i].peBlue, e[i].peGreen, e[i].peRed, 0};
  return t;
}

namespace {

template <class Entry, class Get>
int Nearest(const Entry* entries, int count, COLORREF rgb, Get get) {
  int r = GetRValue(rgb), g = GetGValue(rgb), b = GetBValue(rgb);
  int best = 0;
  std::int64_t bestDist = INT64_MAX;
  for (int i = 0; i < count; ++i) {
    int er, eg, eb;
    get(entries[i], er, eg, eb);
    std::int64_t d = static_cast<std::int64_t>(er - r) * (er - r) + static_cast<std::int64_t>(eg - g) * (eg - g) +
                     static_cast<std::int64_t>(eb - b) * (eb - b);
    if (d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

}  // namespace

int NearestIndex(const PALETTEENTRY* entries, int count, COLORREF rgb) {
  return Nearest(entries, count, rgb, [](const PALETTEENTRY& e, int& r, int& g, int& b) {
    r = e.peRed;
    g = e.peGreen;
    b = e.peBlue;
  });
}

int NearestIndex(const RGBQUAD* entries, int count, COLORREF rgb) {
  return Nearest(entries, count, rgb, [](const RGBQUAD& e, int& r, int& g, int& b) {
    r = e.rgbRed;
    g = e.rgbGreen;
    b = e.rgbBlue;
  });
}

}  // namespace gdi

using namespace gdi;

HPALETTE CreatePalette(const LOGPALETTE* plpal) {
  if (!plpal || plpal->palNumEntries == 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto p = std::make_shared<Palette>();
  p->entries.assign(plpal->palPalEntry, plpal->palPalEntry + plpal->palNumEntries);
  return static_cast<HPALETTE>(AddObject(std::move(p)));
}

UINT GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries) {
  std::shared_ptr<Palette> p = FindPalette(hpal);
  if (!p) return 0;
  UINT size = static_cast<UINT>(p->entries.size());
  if (!pPalEntries) return size;
  if (iStart >= size) return 0;
  UINT n = std::min(cEntries, size - iStart);
  std::copy_n(p->entries.begin() + iStart, n, pPalEntries);
  return n;
}

UINT SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY* pPalEntries) {
  std::shared_ptr<Palette> p = FindPalette(hpal);
  if (!p) return 0;
  if (p->stock || !pPalEntries) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  UINT size = static_cast<UINT>(p->entries.size());
  if (iStart >= size) return 0;
  UINT n = std::min(cEntries, size - iStart);
  std::copy_n(pPalEntries, n, p->entries.begin() + iStart);
  return n;
}

BOOL ResizePalette(HPALETTE hpal, UINT n) {
  std::shared_ptr<Palette> p = FindPalette(hpal);
  if (!p) return FALSE;
  if (p->stock || n == 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (n > static_cast<UINT>(kMaxPaletteEntries)) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  p->entries.resize(n, PALETTEENTRY{});
  return TRUE;
}

UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color) {
  std::shared_ptr<Palette> p = FindPalette(h);
  if (!p) return CLR_INVALID;
  return static_cast<UINT>(NearestIndex(p->entries.data(), static_cast<int>(p->entries.size()), color & 0xFFFFFF));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return nullptr;
  std::shared_ptr<Palette> p = FindPalette(hPal);
  if (!p) return nullptr;
  std::lock_guard<std::mutex> lock(TableMutex());
  if (FindObjectLocked(hPal) != p) return nullptr;
  dc->st.paletteBackground = bForceBkgd != FALSE;
  return static_cast<HPALETTE>(SelectPaletteLocked(dc->st, hPal, std::move(p)));
}

UINT RealizePalette(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return GDI_ERROR;
  std::shared_ptr<Palette> p = dc->st.palette;
  if (!p || p->stock) return 0;
  if (ScreenIsPaletted() && !dc->st.paletteBackground) RealizeIntoSystemPalette(p->entries);
  return static_cast<UINT>(std::min<std::size_t>(p->entries.size(), 256));
}

HPALETTE CreateHalftonePalette(HDC hdc) {
  if (hdc && !FindDc(hdc)) return nullptr;
  auto p = std::make_shared<Palette>();
  p->entries.assign(HalftoneEntries().begin(), HalftoneEntries().end());
  return static_cast<HPALETTE>(AddObject(std::move(p)));
}

UINT GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries) {
  if (!FindDc(hdc)) return 0;
  if (!ScreenIsPaletted()) return 0;
  if (!pPalEntries) return 256;
  if (iStart >= 256) return 0;
  UINT n = std::min(cEntries, 256 - iStart);
  std::array<PALETTEENTRY, 256> sys = SystemPaletteSnapshot();
  std::copy_n(sys.begin() + iStart, n, pPalEntries);
  return n;
}
