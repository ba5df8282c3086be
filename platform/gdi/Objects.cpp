// Handle table, stock objects, the generic object calls, brushes, pens, fonts, regions,
// display settings, system metrics and clipboard-format names.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "platform/gdi/GdiInternal.h"

namespace gdi {
namespace {

struct Slot {
  std::shared_ptr<Object> obj;
  std::uint32_t gen = 0;
};

constexpr std::size_t kMaxSlots = std::size_t{1} << 24;
constexpr int kStockCount = 18;

std::shared_ptr<Brush> MakeBrush(UINT style, COLORREF c) {
  auto b = std::make_shared<Brush>();
  b->lb.lbStyle = style;
  b->lb.lbColor = c;
  return b;
}

std::shared_ptr<Pen> MakePen(UINT style, COLORREF c) {
  auto p = std::make_shared<Pen>();
  p->lp.lopnStyle = style;
  p->lp.lopnColor = c;
  return p;
}

std::shared_ptr<Font> MakeFont(LONG height, bool fixed) {
  auto f = std::make_shared<Font>();
  f->lf.lfHeight = height;
  f->lf.lfWeight = 400;
  f->lf.lfPitchAndFamily = fixed ? 1 : 2;
  std::strcpy(f->lf.lfFaceName, "System");
  return f;
}

struct Globals {
  std::mutex mu;
  std::vector<Slot> slots;
  std::vector<std::uint32_t> freeSlots;
  std::atomic<int> screenBpp{32};
  std::array<PALETTEENTRY, 256> systemPalette{};  // guarded by mu
  std::array<HGDIOBJ, kStockCount> stock{};
  HGDIOBJ stockBitmap = nullptr;
  std::vector<std::string> clipboardNames;  // guarded by mu

  Globals() {
    systemPalette = HalftoneEntries();
    auto add = [this](std::shared_ptr<Object> o) {
      o->stock = true;
      return AddLocked(std::move(o));
    };
    stock[WHITE_BRUSH] = add(MakeBrush(BS_SOLID, RGB(255, 255, 255)));
    stock[LTGRAY_BRUSH] = add(MakeBrush(BS_SOLID, RGB(192, 192, 192)));
    stock[GRAY_BRUSH] = add(MakeBrush(BS_SOLID, RGB(128, 128, 128)));
    stock[DKGRAY_BRUSH] = add(MakeBrush(BS_SOLID, RGB(64, 64, 64)));
    stock[BLACK_BRUSH] = add(MakeBrush(BS_SOLID, RGB(0, 0, 0)));
    stock[NULL_BRUSH] = add(MakeBrush(BS_NULL, 0));
    stock[WHITE_PEN] = add(MakePen(PS_SOLID, RGB(255, 255, 255)));
    stock[BLACK_PEN] = add(MakePen(PS_SOLID, RGB(0, 0, 0)));
    stock[NULL_PEN] = add(MakePen(PS_NULL, 0));
    stock[OEM_FIXED_FONT] = add(MakeFont(12, true));
    stock[ANSI_FIXED_FONT] = add(MakeFont(12, true));
    stock[ANSI_VAR_FONT] = add(MakeFont(12, false));
    stock[SYSTEM_FONT] = add(MakeFont(16, false));
    stock[DEVICE_DEFAULT_FONT] = add(MakeFont(16, false));
    stock[SYSTEM_FIXED_FONT] = add(MakeFont(16, true));
    stock[DEFAULT_GUI_FONT] = add(MakeFont(-11, false));
    auto pal = std::make_shared<Palette>();
    pal->entries.assign(DefaultPaletteEntries().begin(), DefaultPaletteEntries().end());
    stock[DEFAULT_PALETTE] = add(pal);
    auto bm = std::make_shared<Bitmap>();
    bm->width = 1;
    bm->height = 1;
    bm->stride = 2;
    bm->fmt = DdbFormat(1);
    bm->owned.reset(static_cast<std::uint8_t*>(std::calloc(1, 2)));
    bm->bits = bm->owned.get();
    stockBitmap = add(bm);
  }

  HGDIOBJ AddLocked(std::shared_ptr<Object> obj) {
    std::uint32_t index;
    if (!freeSlots.empty()) {
      index = freeSlots.back();
      freeSlots.pop_back();
    } else {
      if (slots.size() >= kMaxSlots) return nullptr;
      slots.emplace_back();
      index = static_cast<std::uint32_t>(slots.size() - 1);
    }
    Slot& s = slots[index];
    s.gen = s.gen == 0xFFFFFFFFu ? 1 : s.gen + 1;
    s.obj = std::move(obj);
    std::uint64_t v = (static_cast<std::uint64_t>(s.gen) << 32) | (static_cast<std::uint64_t>(index) + 1);
    return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(v));
  }

  Slot* SlotOf(HGDIOBJ h) {
    std::uint64_t v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(h));
    std::uint64_t index = (v & 0xFFFFFFFFu);
    std::uint32_t gen = static_cast<std::uint32_t>(v >> 32);
    if (index == 0 || index > slots.size()) return nullptr;
    Slot& s = slots[index - 1];
    if (!s.obj || s.gen != gen) return nullptr;
    return &s;
  }
};

Globals& G() {
  static Globals* g = new Globals();  // lives for the whole process
  return *g;
}

DWORD ObjectTypeOf(const Object& o) {
  switch (o.kind) {
    case Kind::Bitmap:
      return OBJ_BITMAP;
    case Kind::Palette:
      return OBJ_PAL;
    case Kind::Brush:
      return OBJ_BRUSH;
    case Kind::Pen:
      return OBJ_PEN;
    case Kind::Font:
      return OBJ_FONT;
    case Kind::Region:
      return OBJ_REGION;
    case Kind::Dc:
      return static_cast<const Dc&>(o).memory ? OBJ_MEMDC : OBJ_DC;
    case Kind::Icon:
      return 0;
  }
  return 0;
}

// Replaces one selected object of a DC, keeping the selection counts (lock held).
template <class T>
void SwapSelection(HGDIOBJ& hSlot, std::shared_ptr<T>& pSlot, HGDIOBJ h, std::shared_ptr<T> p) {
  if (pSlot == p) {
    hSlot = h;
    return;
  }
  if (pSlot && !pSlot->stock) --pSlot->selectCount;
  if (p && !p->stock) ++p->selectCount;
  hSlot = h;
  pSlot = std::move(p);
}

}  // namespace

void SetError(DWORD code) { ::SetLastError(code); }

DWORD LastError() { return ::GetLastError(); }

std::mutex& TableMutex() { return G().mu; }

HGDIOBJ AddObject(std::shared_ptr<Object> obj) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  HGDIOBJ h = g.AddLocked(std::move(obj));
  if (!h) SetError(ERROR_NOT_ENOUGH_MEMORY);
  return h;
}

std::shared_ptr<Object> FindObjectLocked(HGDIOBJ h) {
  Slot* s = G().SlotOf(h);
  if (!s) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return s->obj;
}

std::shared_ptr<Object> FindObject(HGDIOBJ h) {
  if (!h) {
    SetError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  return FindObjectLocked(h);
}

void RemoveObjectLocked(HGDIOBJ h) {
  Globals& g = G();
  Slot* s = g.SlotOf(h);
  if (!s) return;
  s->obj.reset();
  g.freeSlots.push_back(static_cast<std::uint32_t>(s - g.slots.data()));
}

HBITMAP StockBitmapHandle() { return static_cast<HBITMAP>(G().stockBitmap); }

void InitDcState(DcState& st) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  st = DcState{};
  st.hBrush = g.stock[WHITE_BRUSH];
  st.brush = std::static_pointer_cast<Brush>(g.SlotOf(st.hBrush)->obj);
  st.hPen = g.stock[BLACK_PEN];
  st.pen = std::static_pointer_cast<Pen>(g.SlotOf(st.hPen)->obj);
  st.hFont = g.stock[SYSTEM_FONT];
  st.font = std::static_pointer_cast<Font>(g.SlotOf(st.hFont)->obj);
  st.hPalette = g.stock[DEFAULT_PALETTE];
  st.palette = std::static_pointer_cast<Palette>(g.SlotOf(st.hPalette)->obj);
  st.hBitmap = g.stockBitmap;
}

// Releases the selections of a DC that is being deleted (lock held).
void ReleaseSelectionsLocked(DcState& st) {
  SwapSelection<Bitmap>(st.hBitmap, st.bitmap, nullptr, nullptr);
  SwapSelection<Brush>(st.hBrush, st.brush, nullptr, nullptr);
  SwapSelection<Pen>(st.hPen, st.pen, nullptr, nullptr);
  SwapSelection<Font>(st.hFont, st.font, nullptr, nullptr);
  SwapSelection<Palette>(st.hPalette, st.palette, nullptr, nullptr);
}

// Re-selects the objects of a saved state that are still valid (lock held).
void RestoreSelectionsLocked(DcState& cur, const DcState& saved, bool memoryDc) {
  auto valid = [](HGDIOBJ h, const Object* p) {
    if (!p) return false;
    std::shared_ptr<Object> o = FindObjectLocked(h);
    return o.get() == p;
  };
  if (memoryDc && valid(saved.hBitmap, saved.bitmap.get()) &&
      (saved.bitmap == cur.bitmap || saved.bitmap->stock || saved.bitmap->selectCount == 0))
    SwapSelection<Bitmap>(cur.hBitmap, cur.bitmap, saved.hBitmap, saved.bitmap);
  if (valid(saved.hBrush, saved.brush.get())) SwapSelection<Brush>(cur.hBrush, cur.brush, saved.hBrush, saved.brush);
  if (valid(saved.hPen, saved.pen.get())) SwapSelection<Pen>(cur.hPen, cur.pen, saved.hPen, saved.pen);
  if (valid(saved.hFont, saved.font.get())) SwapSelection<Font>(cur.hFont, cur.font, saved.hFont, saved.font);
  if (valid(saved.hPalette, saved.palette.get()))
    SwapSelection<Palette>(cur.hPalette, cur.palette, saved.hPalette, saved.palette);
}

HGDIOBJ SelectPaletteLocked(DcState& st, HGDIOBJ h, std::shared_ptr<Palette> p) {
  HGDIOBJ old = st.hPalette;
  SwapSelection<Palette>(st.hPalette, st.palette, h, std::move(p));
  return old;
}

int ScreenBpp() { return G().screenBpp.load(); }

bool ScreenIsPaletted() { return ScreenBpp() == 8; }

std::array<PALETTEENTRY, 256> SystemPaletteSnapshot() {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  return g.systemPalette;
}

void RealizeIntoSystemPalette(const std::vector<PALETTEENTRY>& entries) {
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  auto& sys = g.systemPalette;
  const auto& statics = DefaultPaletteEntries();
  for (int i = 0; i < 10; ++i) {
    sys[i] = statics[i];
    sys[246 + i] = statics[10 + i];
    sys[i].peFlags = sys[246 + i].peFlags = 0;
  }
  int next = 10;
  for (const PALETTEENTRY& e : entries) {
    if (next > 245) break;
    if (e.peFlags & PC_EXPLICIT) continue;
    bool collapse = false;
    if (!(e.peFlags & (PC_NOCOLLAPSE | PC_RESERVED))) {
      for (int i = 0; i < 256 && !collapse; ++i) {
        if (i >= next && i < 246) continue;
        collapse = sys[i].peRed == e.peRed && sys[i].peGreen == e.peGreen && sys[i].peBlue == e.peBlue;
      }
    }
    if (collapse) continue;
    sys[next] = e;
    sys[next].peFlags = 0;
    ++next;
  }
}

}  // namespace gdi

using namespace gdi;

// ---------------------------------------------------------------------------------------------
// Display settings and system metrics

void GdiSetScreenBitsPerPixel(int bitsPerPixel) {
  if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 &&
      bitsPerPixel != 32)
    return;
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  g.screenBpp.store(bitsPerPixel);
  g.systemPalette = HalftoneEntries();
}

int GdiGetScreenBitsPerPixel() { return ScreenBpp(); }

int GetSystemMetrics(int nIndex) {
  switch (nIndex) {
    case SM_CXSCREEN:
      return kScreenWidth;
    case SM_CYSCREEN:
      return kScreenHeight;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
      return kIconSize;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Generic object calls

HGDIOBJ GetStockObject(int i) {
  if (i < 0 || i >= kStockCount || !G().stock[static_cast<std::size_t>(i)]) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return G().stock[static_cast<std::size_t>(i)];
}

BOOL DeleteObject(HGDIOBJ ho) {
  if (!ho) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(G().mu);
  std::shared_ptr<Object> o = FindObjectLocked(ho);
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  if (o->kind == Kind::Dc || o->kind == Kind::Icon) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (o->selectCount > 0) return FALSE;  // still selected into a device context
  RemoveObjectLocked(ho);
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ h) {
  std::shared_ptr<Object> o = FindObject(h);
  if (!o) return 0;
  DWORD t = ObjectTypeOf(*o);
  if (!t) SetError(ERROR_INVALID_HANDLE);
  return t;
}

namespace {

template <class T>
int CopyOut(const T& value, int c, LPVOID pv) {
  if (!pv) return static_cast<int>(sizeof(T));
  if (c < static_cast<int>(sizeof(T))) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(pv, &value, sizeof(T));
  return static_cast<int>(sizeof(T));
}

BITMAP DescribeBitmap(const Bitmap& b) {
  BITMAP bm;
  bm.bmType = 0;
  bm.bmWidth = b.width;
  bm.bmHeight = b.height;
  bm.bmWidthBytes = static_cast<LONG>(b.stride);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = static_cast<WORD>(b.fmt.bpp);
  bm.bmBits = b.fmt.dib ? b.bits : nullptr;
  return bm;
}

}  // namespace

int GetObjectA(HANDLE h, int c, LPVOID pv) {
  std::shared_ptr<Object> o = FindObject(h);
  if (!o) return 0;
  switch (o->kind) {
    case Kind::Bitmap: {
      const Bitmap& b = static_cast<const Bitmap&>(*o);
      if (b.fmt.dib && (!pv || c >= static_cast<int>(sizeof(DIBSECTION)))) {
        DIBSECTION ds;
        ds.dsBm = DescribeBitmap(b);
        ds.dsBmih = b.dibHeader;
        if (b.fmt.bpp == 16 || b.fmt.bpp == 32)
          for (int i = 0; i < 3; ++i) ds.dsBitfields[i] = b.fmt.masks[i];
        return CopyOut(ds, c, pv);
      }
      return CopyOut(DescribeBitmap(b), c, pv);
    }
    case Kind::Palette: {
      const Palette& p = static_cast<const Palette&>(*o);
      return CopyOut(static_cast<WORD>(p.entries.size()), c, pv);
    }
    case Kind::Brush: {
      LOGBRUSH lb = static_cast<const Brush&>(*o).lb;
      if (lb.lbStyle == BS_PATTERN) lb.lbHatch = 0;
      return CopyOut(lb, c, pv);
    }
    case Kind::Pen:
      return CopyOut(static_cast<const Pen&>(*o).lp, c, pv);
    case Kind::Font:
      return CopyOut(static_cast<const Font&>(*o).lf, c, pv);
    default:
      SetError(ERROR_INVALID_HANDLE);
      return 0;
  }
}

int SelectClipRgn(HDC hdc, HRGN hrgn);

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return nullptr;
  std::shared_ptr<Object> o = FindObject(h);
  if (!o) return nullptr;
  if (o->kind == Kind::Region) {
    int r = SelectClipRgn(hdc, static_cast<HRGN>(h));
    if (r == RGN_ERROR) return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(GDI_ERROR));
    return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(r));
  }
  std::lock_guard<std::mutex> lock(G().mu);
  if (FindObjectLocked(h) != o) return nullptr;  // deleted meanwhile
  DcState& st = dc->st;
  HGDIOBJ old = nullptr;
  switch (o->kind) {
    case Kind::Bitmap: {
      auto b = std::static_pointer_cast<Bitmap>(o);
      if (!dc->memory) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
      }
      if (b != st.bitmap && !b->stock && b->selectCount > 0) {
        SetError(ERROR_INVALID_PARAMETER);  // selected into another DC
        return nullptr;
      }
      old = st.hBitmap;
      SwapSelection<Bitmap>(st.hBitmap, st.bitmap, h, std::move(b));
      return old;
    }
    case Kind::Brush:
      old = st.hBrush;
      SwapSelection<Brush>(st.hBrush, st.brush, h, std::static_pointer_cast<Brush>(o));
      return old;
    case Kind::Pen:
      old = st.hPen;
      SwapSelection<Pen>(st.hPen, st.pen, h, std::static_pointer_cast<Pen>(o));
      return old;
    case Kind::Font:
      old = st.hFont;
      SwapSelection<Font>(st.hFont, st.font, h, std::static_pointer_cast<Font>(o));
      return old;
    default:  // palettes go through SelectPalette
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP:
      return dc->st.hBitmap;
    case OBJ_BRUSH:
      return dc->st.hBrush;
    case OBJ_PEN:
      return dc->st.hPen;
    case OBJ_FONT:
      return dc->st.hFont;
    case OBJ_PAL:
      return dc->st.hPalette;
    default:
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

// ---------------------------------------------------------------------------------------------
// Brushes, pens, fonts, regions

HBRUSH CreateSolidBrush(COLORREF color) { return static_cast<HBRUSH>(AddObject(MakeBrush(BS_SOLID, color))); }

HBRUSH CreatePatternBrush(HBITMAP hbm) {
  std::shared_ptr<Bitmap> src = FindBitmap(hbm);
  if (!src) return nullptr;
  auto b = MakeBrush(BS_PATTERN, 0);
  b->pattern = NewBitmap(src->width, src->height, src->fmt, true);
  if (!b->pattern) return nullptr;
  std::int64_t rowBytes = std::min(src->stride, b->pattern->stride);
  for (int y = 0; y < src->height; ++y) std::memcpy(b->pattern->Row(y), src->Row(y), static_cast<std::size_t>(rowBytes));
  return static_cast<HBRUSH>(AddObject(std::move(b)));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* plbrush) {
  if (!plbrush) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  switch (plbrush->lbStyle) {
    case BS_SOLID:
      return CreateSolidBrush(plbrush->lbColor);
    case BS_NULL:
      return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    case BS_PATTERN:
      return CreatePatternBrush(reinterpret_cast<HBITMAP>(plbrush->lbHatch));
    default:  // hatched and DIB-pattern brushes are not supported
      SetError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HPEN CreatePen(int iStyle, int cWidth, COLORREF color) {
  if (iStyle < PS_SOLID || iStyle > PS_INSIDEFRAME) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto p = MakePen(static_cast<UINT>(iStyle), color);
  p->lp.lopnWidth.x = std::max(0, cWidth);
  return static_cast<HPEN>(AddObject(std::move(p)));
}

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
  if (!lplf) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto f = std::make_shared<Font>();
  f->lf = *lplf;
  f->lf.lfFaceName[LF_FACESIZE - 1] = '\0';
  return static_cast<HFONT>(AddObject(std::move(f)));
}

HRGN CreateRectRgn(int x1, int y1, int x2, int y2) {
  auto r = std::make_shared<Region>();
  r->rc.left = std::min(x1, x2);
  r->rc.right = std::max(x1, x2);
  r->rc.top = std::min(y1, y2);
  r->rc.bottom = std::max(y1, y2);
  return static_cast<HRGN>(AddObject(std::move(r)));
}

// ---------------------------------------------------------------------------------------------
// Clipboard format names

UINT RegisterClipboardFormatA(LPCSTR lpszFormat) {
  if (!lpszFormat || !*lpszFormat) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name(lpszFormat, strnlen(lpszFormat, 255));
  auto lower = [](std::string s) {
    for (char& ch : s)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return s;
  };
  std::string key = lower(name);
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  for (std::size_t i = 0; i < g.clipboardNames.size(); ++i)
    if (lower(g.clipboardNames[i]) == key) return static_cast<UINT>(0xC000 + i);
  if (g.clipboardNames.size() >= 0x4000) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  g.clipboardNames.push_back(name);
  return static_cast<UINT>(0xC000 + g.clipboardNames.size() - 1);
}

int GetClipboardFormatNameA(UINT format, LPSTR lpszFormatName, int cchMaxCount) {
  if (!lpszFormatName || cchMaxCount <= 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  Globals& g = G();
  std::lock_guard<std::mutex> lock(g.mu);
  if (format < 0xC000 || format - 0xC000 >= g.clipboardNames.size()) {
    SetError(ERROR_INVALID_PARAMETER);
    lpszFormatName[0] = '\0';
    return 0;
  }
  const std::string& name = g.clipboardNames[format - 0xC000];
  std::size_t n = std::min(name.size(), static_cast<std::size_t>(cchMaxCount - 1));
  std::memcpy(lpszFormatName, name.data(), n);
  lpszFormatName[n] = '\0';
  return static_cast<int>(n);
}
