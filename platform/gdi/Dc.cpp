// Device contexts: creation, state, saved states, device capabilities, clipping and pixels.
#include <algorithm>
#include <cstring>
#include <strings.h>
#include <utility>

#include "platform/gdi/GdiInternal.h"

namespace gdi {
namespace {

RECT SurfaceBounds(const Dc& dc) {
  if (dc.memory && dc.st.bitmap) return {0, 0, dc.st.bitmap->width, dc.st.bitmap->height};
  return {0, 0, kScreenWidth, kScreenHeight};
}

RECT Intersect(const RECT& a, const RECT& b) {
  RECT r;
  IntersectRect(&r, &a, &b);
  return r;
}

bool Empty(const RECT& r) { return IsRectEmpty(&r); }

HDC NewDc(bool memory, bool fromGetDC) {
  auto dc = std::make_shared<Dc>();
  dc->memory = memory;
  dc->fromGetDC = fromGetDC;
  InitDcState(dc->st);
  if (memory) {
    std::shared_ptr<Bitmap> stock = FindBitmap(StockBitmapHandle());
    dc->st.bitmap = stock;
  }
  return static_cast<HDC>(AddObject(std::move(dc)));
}

BOOL DestroyDc(HDC hdc) {
  std::lock_guard<std::mutex> lock(TableMutex());
  std::shared_ptr<Object> o = FindObjectLocked(hdc);
  if (!o || o->kind != Kind::Dc) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto dc = std::static_pointer_cast<Dc>(o);
  ReleaseSelectionsLocked(dc->st);
  dc->saved.clear();
  RemoveObjectLocked(hdc);
  return TRUE;
}

// Reads or writes one attribute of a DC; returns the old value, or `fail` for a bad handle.
template <class T, class F>
T Exchange(HDC hdc, T fail, F f) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return fail;
  return f(*dc);
}

BOOL SetOrigin(HDC hdc, int x, int y, LPPOINT old, POINT DcState::*which) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->st.*which;
  dc->st.*which = POINT{x, y};
  return TRUE;
}

BOOL GetOrigin(HDC hdc, LPPOINT pt, POINT DcState::*which) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc || !pt) return FALSE;
  *pt = dc->st.*which;
  return TRUE;
}

}  // namespace

bool DrawTarget(const Dc& dc, Bitmap*& bm, RECT& clip) {
  if (!dc.memory || !dc.st.bitmap) return false;
  bm = dc.st.bitmap.get();
  clip = {0, 0, bm->width, bm->height};
  if (dc.st.hasClip) clip = Intersect(clip, dc.st.clip);
  return !Empty(clip);
}

}  // namespace gdi

using namespace gdi;

HDC GetDC(HWND hWnd) {
  (void)hWnd;
  return NewDc(false, true);
}

int ReleaseDC(HWND hWnd, HDC hDC) {
  (void)hWnd;
  std::shared_ptr<Dc> dc = FindDc(hDC);
  if (!dc || !dc->fromGetDC) return 0;
  return DestroyDc(hDC) ? 1 : 0;
}

HDC CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const void* pdm) {
  (void)pwszDevice;
  (void)pszPort;
  (void)pdm;
  if (!pwszDriver || strcasecmp(pwszDriver, "DISPLAY") != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return NewDc(false, false);
}

HDC CreateCompatibleDC(HDC hdc) {
  if (hdc && !FindDc(hdc)) return nullptr;
  return NewDc(true, false);
}

BOOL DeleteDC(HDC hdc) { return DestroyDc(hdc); }

int SaveDC(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->st);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int nSavedDC) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return FALSE;
  int depth = static_cast<int>(dc->saved.size());
  int level = nSavedDC < 0 ? depth + 1 + nSavedDC : nSavedDC;
  if (nSavedDC == 0 || level < 1 || level > depth) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DcState saved = std::move(dc->saved[static_cast<std::size_t>(level - 1)]);
  dc->saved.resize(static_cast<std::size_t>(level - 1));
  std::lock_guard<std::mutex> lock(TableMutex());
  DcState& cur = dc->st;
  RestoreSelectionsLocked(cur, saved, dc->memory);
  cur.textColor = saved.textColor;
  cur.bkColor = saved.bkColor;
  cur.bkMode = saved.bkMode;
  cur.stretchMode = saved.stretchMode;
  cur.mapMode = saved.mapMode;
  cur.brushOrg = saved.brushOrg;
  cur.viewportOrg = saved.viewportOrg;
  cur.windowOrg = saved.windowOrg;
  cur.hasClip = saved.hasClip;
  cur.clip = saved.clip;
  cur.paletteBackground = saved.paletteBackground;
  return TRUE;
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
  return Exchange(hdc, CLR_INVALID, [&](Dc& dc) { return std::exchange(dc.st.textColor, color); });
}
COLORREF GetTextColor(HDC hdc) {
  return Exchange(hdc, CLR_INVALID, [](Dc& dc) { return dc.st.textColor; });
}
COLORREF SetBkColor(HDC hdc, COLORREF color) {
  return Exchange(hdc, CLR_INVALID, [&](Dc& dc) { return std::exchange(dc.st.bkColor, color); });
}
COLORREF GetBkColor(HDC hdc) {
  return Exchange(hdc, CLR_INVALID, [](Dc& dc) { return dc.st.bkColor; });
}

int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Exchange(hdc, 0, [&](Dc& dc) { return std::exchange(dc.st.bkMode, mode); });
}
int GetBkMode(HDC hdc) {
  return Exchange(hdc, 0, [](Dc& dc) { return dc.st.bkMode; });
}

int SetStretchBltMode(HDC hdc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Exchange(hdc, 0, [&](Dc& dc) { return std::exchange(dc.st.stretchMode, mode); });
}
int GetStretchBltMode(HDC hdc) {
  return Exchange(hdc, 0, [](Dc& dc) { return dc.st.stretchMode; });
}

BOOL SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT lppt) { return SetOrigin(hdc, x, y, lppt, &DcState::brushOrg); }
BOOL GetBrushOrgEx(HDC hdc, LPPOINT lppt) { return GetOrigin(hdc, lppt, &DcState::brushOrg); }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt) {
  return SetOrigin(hdc, x, y, lppt, &DcState::viewportOrg);
}
BOOL GetViewportOrgEx(HDC hdc, LPPOINT lppoint) { return GetOrigin(hdc, lppoint, &DcState::viewportOrg); }
BOOL SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt) { return SetOrigin(hdc, x, y, lppt, &DcState::windowOrg); }
BOOL GetWindowOrgEx(HDC hdc, LPPOINT lppoint) { return GetOrigin(hdc, lppoint, &DcState::windowOrg); }

int SetMapMode(HDC hdc, int iMode) {
  if (iMode != MM_TEXT) {  // only the pixel mapping is modelled
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Exchange(hdc, 0, [&](Dc& dc) { return std::exchange(dc.st.mapMode, iMode); });
}
int GetMapMode(HDC hdc) {
  return Exchange(hdc, 0, [](Dc& dc) { return dc.st.mapMode; });
}

int GetDeviceCaps(HDC hdc, int index) {
  if (!FindDc(hdc)) return 0;
  int bpp = ScreenBpp();
  bool paletted = bpp == 8;
  switch (index) {
    case DRIVERVERSION:
      return 0x4000;
    case TECHNOLOGY:
      return DT_RASDISPLAY;
    case HORZSIZE:
      return kScreenWidth * 254 / 960;
    case VERTSIZE:
      return kScreenHeight * 254 / 960;
    case HORZRES:
      return kScreenWidth;
    case VERTRES:
      return kScreenHeight;
    case BITSPIXEL:
      return bpp;
    case PLANES:
      return 1;
    case NUMBRUSHES:
    case NUMPENS:
      return -1;
    case NUMFONTS:
      return 0;
    case NUMCOLORS:
      return paletted ? 20 : bpp < 8 ? (1 << bpp) : -1;
    case RASTERCAPS:
      return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB |
             (paletted ? RC_PALETTE : 0);
    case LOGPIXELSX:
    case LOGPIXELSY:
      return 96;
    case SIZEPALETTE:
      return paletted ? 256 : 0;
    case NUMRESERVED:
      return paletted ? 20 : 0;
    case COLORRES:
      return paletted ? 18 : 24;
    default:
      return 0;
  }
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  Bitmap* bm;
  RECT clip;
  if (!dc || !DrawTarget(*dc, bm, clip)) return CLR_INVALID;
  int dx = dc->ToDeviceX(x), dy = dc->ToDeviceY(y);
  if (dx < clip.left || dx >= clip.right || dy < clip.top || dy >= clip.bottom) return CLR_INVALID;
  ColorSpace cs(bm->fmt);
  return cs.ToRgb(GetRaw(bm->Row(dy), dx, bm->fmt.bpp));
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  Bitmap* bm;
  RECT clip;
  if (!dc || !DrawTarget(*dc, bm, clip)) return CLR_INVALID;
  int dx = dc->ToDeviceX(x), dy = dc->ToDeviceY(y);
  if (dx < clip.left || dx >= clip.right || dy < clip.top || dy >= clip.bottom) return CLR_INVALID;
  ColorSpace cs(bm->fmt);
  std::uint32_t v = cs.FromRgb(ResolveColor(dc->st, color, bm));
  PutRaw(bm->Row(dy), dx, bm->fmt.bpp, v);
  return cs.ToRgb(v);
}

COLORREF GetNearestColor(HDC hdc, COLORREF color) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return CLR_INVALID;
  const Bitmap* bm = dc->memory ? dc->st.bitmap.get() : nullptr;
  ColorSpace cs(bm ? bm->fmt : ScreenFormat());
  return cs.ToRgb(cs.FromRgb(ResolveColor(dc->st, color, bm)));
}

BOOL GdiFlush() { return TRUE; }

// ---------------------------------------------------------------------------------------------
// Clipping

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return RGN_ERROR;
  RECT r{dc->ToDeviceX(left), dc->ToDeviceY(top), dc->ToDeviceX(right), dc->ToDeviceY(bottom)};
  if (Empty(r)) r = {0, 0, 0, 0};
  RECT base = dc->st.hasClip ? dc->st.clip : SurfaceBounds(*dc);
  dc->st.clip = Intersect(base, r);
  dc->st.hasClip = true;
  return Empty(dc->st.clip) ? NULLREGION : SIMPLEREGION;
}

int SelectClipRgn(HDC hdc, HRGN hrgn) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return RGN_ERROR;
  if (!hrgn) {
    dc->st.hasClip = false;
    return SIMPLEREGION;
  }
  std::shared_ptr<Region> rgn = Find<Region>(hrgn, Kind::Region);
  if (!rgn) return RGN_ERROR;
  dc->st.hasClip = true;
  dc->st.clip = Empty(rgn->rc) ? RECT{0, 0, 0, 0} : rgn->rc;  // region coordinates are device units
  return Empty(dc->st.clip) ? NULLREGION : SIMPLEREGION;
}

int GetClipBox(HDC hdc, LPRECT lprect) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc || !lprect) return RGN_ERROR;
  RECT box = SurfaceBounds(*dc);
  if (dc->st.hasClip) box = Intersect(box, dc->st.clip);
  if (Empty(box)) {
    *lprect = RECT{0, 0, 0, 0};
    return NULLREGION;
  }
  std::int64_t ox = static_cast<std::int64_t>(dc->st.windowOrg.x) - dc->st.viewportOrg.x;
  std::int64_t oy = static_cast<std::int64_t>(dc->st.windowOrg.y) - dc->st.viewportOrg.y;
  *lprect = RECT{Saturate(box.left + ox), Saturate(box.top + oy), Saturate(box.right + ox), Saturate(box.bottom + oy)};
  return SIMPLEREGION;
}
