#pragma once
// Private object model of the GDI stand-in: the handle table, the objects behind handles, pixel
// formats and colour conversion. Not part of the public interface.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace gdi {

// ---------------------------------------------------------------------------------------------
// Bounds and fixed device properties

inline constexpr int kMaxDimension = 65535;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;
inline constexpr std::uint64_t kMaxBytes = std::uint64_t{1} << 30;
inline constexpr int kMaxPaletteEntries = 65535;
inline constexpr int kScreenWidth = 1024;
inline constexpr int kScreenHeight = 768;
inline constexpr int kIconSize = 32;

inline constexpr DWORD kErrorResourceNameNotFound = 1814;

// The calling thread's last error (the kernel stand-in's).
void SetError(DWORD code);
DWORD LastError();

// ---------------------------------------------------------------------------------------------
// Objects

enum class Kind : std::uint8_t { Bitmap = 1, Palette, Brush, Pen, Font, Region, Dc, Icon };

struct Object {
  explicit Object(Kind k) : kind(k) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  const Kind kind;
  bool stock = false;
  int selectCount = 0;  // device contexts that have it selected (guarded by the table lock)
};

// How the pixel values of a bitmap are laid out and what colours they stand for.
struct Format {
  int bpp = 1;
  bool dib = false;            // DIB section (own colour table / masks) rather than device bitmap
  std::vector<RGBQUAD> table;  // colour table of an indexed DIB
  DWORD masks[3] = {0, 0, 0};  // red, green, blue masks of a 16- or 32-bit format
  DWORD compression = BI_RGB;
  bool MonoDdb() const { return !dib && bpp == 1; }
};

struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

struct Bitmap final : Object {
  Bitmap() : Object(Kind::Bitmap) {}
  int width = 0;
  int height = 0;
  std::int64_t stride = 0;  // bytes per row in memory
  bool topDown = true;      // first row in memory is the top row
  std::uint8_t* bits = nullptr;
  std::unique_ptr<std::uint8_t, FreeDeleter> owned;  // null for views of caller memory
  Format fmt;
  BITMAPINFOHEADER dibHeader{};  // DIB sections: the header as GetObject reports it

  std::uint8_t* Row(int y) const {
    return bits + (topDown ? static_cast<std::int64_t>(y) : static_cast<std::int64_t>(height - 1 - y)) * stride;
  }
};

struct Palette final : Object {
  Palette() : Object(Kind::Palette) {}
  std::vector<PALETTEENTRY> entries;
};

struct Brush final : Object {
  Brush() : Object(Kind::Brush) {}
  LOGBRUSH lb{};
  std::shared_ptr<Bitmap> pattern;  // own copy for BS_PATTERN
};

struct Pen final : Object {
  Pen() : Object(Kind::Pen) {}
  LOGPEN lp{};
};

struct Font final : Object {
  Font() : Object(Kind::Font) {}
  LOGFONTA lf{};
};

struct Region final : Object {
  Region() : Object(Kind::Region) {}
  RECT rc{};
};

struct Icon final : Object {
  Icon() : Object(Kind::Icon) {}
  BOOL fIcon = TRUE;
  DWORD xHotspot = 0;
  DWORD yHotspot = 0;
  std::shared_ptr<Bitmap> mask;   // monochrome; twice the height when there is no colour bitmap
  std::shared_ptr<Bitmap> color;  // may be null
};

// Clamps a coordinate computed in 64 bits to the int range.
inline int Saturate(std::int64_t v) {
  return static_cast<int>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v);
}

struct DcState {
  HGDIOBJ hBitmap = nullptr;
  HGDIOBJ hBrush = nullptr;
  HGDIOBJ hPen = nullptr;
  HGDIOBJ hFont = nullptr;
  HGDIOBJ hPalette = nullptr;
  std::shared_ptr<Bitmap> bitmap;
  std::shared_ptr<Brush> brush;
  std::shared_ptr<Pen> pen;
  std::shared_ptr<Font> font;
  std::shared_ptr<Palette> palette;
  COLORREF textColor = RGB(0, 0, 0);
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  int stretchMode = BLACKONWHITE;
  int mapMode = MM_TEXT;
  POINT brushOrg{};
  POINT viewportOrg{};
  POINT windowOrg{};
  bool hasClip = false;
  RECT clip{};  // device coordinates
  bool paletteBackground = false;
};

struct Dc final : Object {
  Dc() : Object(Kind::Dc) {}
  bool memory = false;    // memory DC (has a selected bitmap)
  bool fromGetDC = false; // released with ReleaseDC
  DcState st;
  std::vector<DcState> saved;

  int ToDeviceX(int x) const { return Saturate(static_cast<std::int64_t>(x) - st.windowOrg.x + st.viewportOrg.x); }
  int ToDeviceY(int y) const { return Saturate(static_cast<std::int64_t>(y) - st.windowOrg.y + st.viewportOrg.y); }
};

// ---------------------------------------------------------------------------------------------
// Handle table (thread-safe)

std::mutex& TableMutex();
// Registers an object and returns its new handle (null and ERROR_NOT_ENOUGH_MEMORY when full).
HGDIOBJ AddObject(std::shared_ptr<Object> obj);
// The live object behind a handle, or null (the last error is then ERROR_INVALID_HANDLE).
std::shared_ptr<Object> FindObject(HGDIOBJ h);
std::shared_ptr<Object> FindObjectLocked(HGDIOBJ h);
// Removes a handle; the object lives on while other references exist.
void RemoveObjectLocked(HGDIOBJ h);

template <class T>
std::shared_ptr<T> Find(HGDIOBJ h, Kind kind) {
  std::shared_ptr<Object> o = FindObject(h);
  if (!o || o->kind != kind) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(o);
}
inline std::shared_ptr<Dc> FindDc(HDC h) { return Find<Dc>(h, Kind::Dc); }
inline std::shared_ptr<Bitmap> FindBitmap(HBITMAP h) { return Find<Bitmap>(h, Kind::Bitmap); }
inline std::shared_ptr<Palette> FindPalette(HPALETTE h) { return Find<Palette>(h, Kind::Palette); }
inline std::shared_ptr<Brush> FindBrush(HBRUSH h) { return Find<Brush>(h, Kind::Brush); }
inline std::shared_ptr<Icon> FindIcon(HICON h) { return Find<Icon>(h, Kind::Icon); }

// The stock 1 x 1 monochrome bitmap that memory DCs start with.
HBITMAP StockBitmapHandle();
// Initial selection of a new device context.
void InitDcState(DcState& st);
// Selection bookkeeping (table lock held): a deleted DC's selections, the objects of a state
// being restored (those still valid and free), and a palette selection.
void ReleaseSelectionsLocked(DcState& st);
void RestoreSelectionsLocked(DcState& cur, const DcState& saved, bool memoryDc);
HGDIOBJ SelectPaletteLocked(DcState& st, HGDIOBJ h, std::shared_ptr<Palette> p);

// ---------------------------------------------------------------------------------------------
// Screen and palettes

int ScreenBpp();
bool ScreenIsPaletted();
std::array<PALETTEENTRY, 256> SystemPaletteSnapshot();
// Maps a logical palette into the system palette (foreground realisation on a palette screen).
void RealizeIntoSystemPalette(const std::vector<PALETTEENTRY>& entries);

// The 20-colour default palette, the 16-colour table of 4-bit device bitmaps and the
// 256-entry halftone table (also the default 8-bit table of GetDIBits).
const std::array<PALETTEENTRY, 20>& DefaultPaletteEntries();
const std::array<RGBQUAD, 16>& Vga16Table();
const std::array<PALETTEENTRY, 256>& HalftoneEntries();
std::vector<RGBQUAD> HalftoneTable();

// Index of the nearest entry (squared RGB distance, ties: the lowest index).
int NearestIndex(const PALETTEENTRY* entries, int count, COLORREF rgb);
int NearestIndex(const RGBQUAD* entries, int count, COLORREF rgb);

// ---------------------------------------------------------------------------------------------
// Bitmap helpers

// Row bytes of a DIB (DWORD-aligned) and of a device bitmap (WORD-aligned).
inline std::int64_t DibStride(std::int64_t width, int bpp) { return ((width * bpp + 31) / 32) * 4; }
inline std::int64_t DdbStride(std::int64_t width, int bpp) { return ((width * bpp + 15) / 16) * 2; }

// Checks dimensions against the bounds (ERROR_INVALID_PARAMETER / ERROR_NOT_ENOUGH_MEMORY).
bool CheckSize(std::int64_t width, std::int64_t height, std::int64_t stride);
// A new zero-filled bitmap, or one whose bits are left as they are when !Cleared (null with the
// last error set on failure).
std::shared_ptr<Bitmap> NewBitmap(int width, int height, const Format& fmt, bool topDown, bool Cleared = true);
// Standard formats of device bitmaps (1, 4, 8, 16, 24, 32 bits).
Format DdbFormat(int bpp);
Format ScreenFormat();
// A copy of a bitmap converted to another format (nearest colours; no DC rules).
std::shared_ptr<Bitmap> ConvertBitmap(const Bitmap& src, const Format& fmt, bool topDown);

// The colour table through which an indexed bitmap's values are read.
std::vector<RGBQUAD> EffectiveTable(const Format& fmt);

// A described DIB of caller memory.
struct DibDesc {
  Format fmt;
  int width = 0;
  int height = 0;  // absolute
  bool topDown = false;
  std::int64_t stride = 0;
  std::int64_t imageBytes = 0;
  const std::uint8_t* colorTable = nullptr;  // where the colour table (or masks) starts
};
// Reads a BITMAPINFO; DIB_PAL_COLORS tables are resolved through the DC's palette.
bool DescribeDib(const BITMAPINFO* bmi, UINT usage, const Dc* dc, DibDesc& out);
// A bitmap object that views caller memory laid out as described.
std::shared_ptr<Bitmap> DibView(const DibDesc& d, const void* bits);

// ---------------------------------------------------------------------------------------------
// Colours

// Resolves PALETTEINDEX / PALETTERGB forms against a DC for drawing on a target bitmap.
COLORREF ResolveColor(const DcState& st, COLORREF c, const Bitmap* target);

struct Channel {
  DWORD mask = 0;
  int shift = 0;
  int bits = 0;
  void Set(DWORD m);
  int Extract(std::uint32_t v) const;  // 0..255
  std::uint32_t Pack(int c8) const;
};

// Maps the raw pixel values of one format to colours and back.
class ColorSpace {
 public:
  explicit ColorSpace(const Format& fmt);
  int Bpp() const { return bpp_; }
  bool Indexed() const { return bpp_ <= 8; }
  bool MonoDdb() const { return monoDdb_; }
  const std::vector<RGBQUAD>& Table() const { return table_; }
  bool Plain888() const { return plain888_; }
  const Channel* Channels() const { return ch_; }
  COLORREF ToRgb(std::uint32_t v) const;
  std::uint32_t FromRgb(COLORREF rgb) const;  // nearest entry for indexed formats
  bool SameAs(const ColorSpace& o) const;

 private:
  int bpp_;
  bool monoDdb_;
  bool plain888_ = false;
  std::vector<RGBQUAD> table_;
  Channel ch_[3];
  struct CacheEntry {
    std::uint32_t key = 0xFFFFFFFFu;
    std::uint32_t value = 0;
  };
  mutable std::vector<CacheEntry> cache_;
};

// Converts raw source values to raw destination values.
class Converter {
 public:
  // dcRules: a transfer between device contexts, where monochrome device bitmaps take the
  // destination's text (0) and background (1) colours and colour-to-monochrome compares with the
  // source's background colour (srcBkRaw, a source value). Otherwise colours map to the nearest.
  Converter(const ColorSpace& src, const ColorSpace& dst, bool dcRules, std::uint32_t srcBkRaw,
            COLORREF dstText, COLORREF dstBk);
  bool Identity() const { return mode_ == Mode::Identity; }
  bool Rgb888() const { return mode_ == Mode::Rgb888; }  // plain 8-8-8 values between 24 and 32 bits
  std::uint32_t operator()(std::uint32_t v) const {
    switch (mode_) {
      case Mode::Identity:
        return v;
      case Mode::Lut:
        return lut_[v & lutMask_];
      case Mode::ToMono:
        return v == srcBk_ ? 1u : 0u;
      case Mode::Rgb888:
        return v & 0xFFFFFFu;
      case Mode::Direct:
        break;
    }
    return dst_.FromRgb(src_.ToRgb(v));
  }

 private:
  enum class Mode { Identity, Lut, ToMono, Rgb888, Direct };
  const ColorSpace& src_;
  const ColorSpace& dst_;
  Mode mode_ = Mode::Direct;
  std::vector<std::uint32_t> lut_;
  std::uint32_t lutMask_ = 0;
  std::uint32_t srcBk_ = 0;
};

// Raw pixel access.
inline std::uint32_t GetRaw(const std::uint8_t* row, int x, int bpp) {
  switch (bpp) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    case 8:
      return row[x];
    case 16: {
      const std::uint8_t* p = row + 2 * static_cast<std::int64_t>(x);
      return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
    }
    case 24: {
      const std::uint8_t* p = row + 3 * static_cast<std::int64_t>(x);
      return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    }
    default: {
      const std::uint8_t* p = row + 4 * static_cast<std::int64_t>(x);
      return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) | (static_cast<std::uint32_t>(p[2]) << 16) |
             (static_cast<std::uint32_t>(p[3]) << 24);
    }
  }
}

inline void PutRaw(std::uint8_t* row, int x, int bpp, std::uint32_t v) {
  switch (bpp) {
    case 1: {
      std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
      if (v & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<std::uint8_t>(~bit);
      break;
    }
    case 4: {
      std::uint8_t& b = row[x >> 1];
      if (x & 1)
        b = static_cast<std::uint8_t>((b & 0xF0u) | (v & 0x0Fu));
      else
        b = static_cast<std::uint8_t>((b & 0x0Fu) | ((v & 0x0Fu) << 4));
      break;
    }
    case 8:
      row[x] = static_cast<std::uint8_t>(v);
      break;
    case 16: {
      std::uint8_t* p = row + 2 * static_cast<std::int64_t>(x);
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      break;
    }
    case 24: {
      std::uint8_t* p = row + 3 * static_cast<std::int64_t>(x);
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v >> 16);
      break;
    }
    default: {
      std::uint8_t* p = row + 4 * static_cast<std::int64_t>(x);
      p[0] = static_cast<std::uint8_t>(v);
      p[1] = static_cast<std::uint8_t>(v >> 8);
      p[2] = static_cast<std::uint8_t>(v >> 16);
      p[3] = static_cast<std::uint8_t>(v >> 24);
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Block transfer engine

struct BlitJob {
  Bitmap* dst = nullptr;
  RECT clip{};  // device coordinates within the destination bitmap
  int xd = 0, yd = 0, wd = 0, hd = 0;
  const Bitmap* src = nullptr;  // null when the operation has no source
  int xs = 0, ys = 0, ws = 0, hs = 0;
  bool dcRules = true;
  COLORREF srcBk = 0;  // source DC background (resolved RGB), for colour-to-monochrome
  const DcState* srcState = nullptr;
  COLORREF dstText = 0;  // destination DC text and background colours (resolved RGB)
  COLORREF dstBk = 0xFFFFFF;
  int stretchMode = COLORONCOLOR;
  const Brush* brush = nullptr;  // pattern
  COLORREF brushColor = 0;       // resolved colour of a solid brush
  POINT brushOrg{};
  const Bitmap* mask = nullptr;  // MaskBlt
  int xm = 0, ym = 0;
  std::uint8_t ropFore = 0xCC;
  std::uint8_t ropBack = 0xCC;
};

// Runs a transfer; false with the last error set when memory runs out.
bool RunBlit(const BlitJob& job);
// Tests: false makes every transfer take the per-pixel engine instead of the row engine and
// the copy shortcuts (same results, slower). Process-wide; true by default.
void SetBlitFastPaths(bool on);

// Destination set-up shared by the drawing calls: the DC's bitmap and its clip rectangle in
// device coordinates. False when the DC draws nowhere (a display DC or an empty clip).
bool DrawTarget(const Dc& dc, Bitmap*& bm, RECT& clip);

inline bool RopUsesSource(std::uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
inline bool RopUsesPattern(std::uint8_t rop) { return ((rop >> 4) ^ rop) & 0x0F; }
inline bool RopUsesDest(std::uint8_t rop) { return ((rop >> 1) ^ rop) & 0x55; }

}  // namespace gdi
