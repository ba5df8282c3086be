// Icons: a monochrome AND mask plus an optional colour XOR image, both kept as private device
// bitmaps that never change, so copies of an icon share them.
#include <algorithm>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace gdi {
namespace {

std::shared_ptr<Bitmap> CopyBitmap(const Bitmap& b) {
  std::shared_ptr<Bitmap> c = NewBitmap(b.width, b.height, b.fmt, b.topDown);
  if (!c) return nullptr;
  std::memcpy(c->bits, b.bits, static_cast<std::size_t>(b.stride * b.height));
  c->dibHeader = b.dibHeader;
  return c;
}

// Size of the image an icon stands for.
void IconSize(const Icon& icon, int& w, int& h) {
  if (icon.color) {
    w = icon.color->width;
    h = icon.color->height;
  } else {
    w = icon.mask->width;
    h = icon.mask->height / 2;
  }
}

HICON AddIcon(std::shared_ptr<Icon> icon) { return static_cast<HICON>(AddObject(std::move(icon))); }

// The built-in application icon, 32 x 32: a window shape on a transparent background, its
// frame (2, 3)-(29, 28) outlined in black, a navy title bar on rows 4..8 and a white client
// area holding a green square (9, 12)-(22, 25).
HICON BuildApplicationIcon() {
  auto icon = std::make_shared<Icon>();
  icon->mask = NewBitmap(kIconSize, kIconSize, DdbFormat(1), true);
  icon->color = NewBitmap(kIconSize, kIconSize, DdbFormat(32), true);
  if (!icon->mask || !icon->color) return nullptr;
  ColorSpace cs(icon->color->fmt);
  for (int y = 0; y < kIconSize; ++y) {
    for (int x = 0; x < kIconSize; ++x) {
      bool inside = x >= 2 && x <= 29 && y >= 3 && y <= 28;
      COLORREF c = RGB(0, 0, 0);
      if (inside) {
        bool frame = x == 2 || x == 29 || y == 3 || y == 28;
        if (frame)
          c = RGB(0, 0, 0);
        else if (y <= 8)
          c = RGB(0, 0, 128);
        else if (x >= 9 && x <= 22 && y >= 12 && y <= 25)
          c = RGB(0, 128, 0);
        else
          c = RGB(255, 255, 255);
      }
      PutRaw(icon->mask->Row(y), x, 1, inside ? 0 : 1);
      PutRaw(icon->color->Row(y), x, 32, cs.FromRgb(c));
    }
  }
  icon->stock = true;
  icon->xHotspot = icon->yHotspot = kIconSize / 2;
  return AddIcon(std::move(icon));
}

}  // namespace
}  // namespace gdi

using namespace gdi;

HICON CreateIconIndirect(PICONINFO piconinfo) {
  if (!piconinfo) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<Bitmap> mask = FindBitmap(piconinfo->hbmMask);
  if (!mask) return nullptr;
  std::shared_ptr<Bitmap> color;
  if (piconinfo->hbmColor && !(color = FindBitmap(piconinfo->hbmColor))) return nullptr;
  auto icon = std::make_shared<Icon>();
  icon->mask = ConvertBitmap(*mask, DdbFormat(1), true);
  if (!icon->mask) return nullptr;
  if (color) {
    icon->color = ConvertBitmap(*color, ScreenFormat(), true);
    if (!icon->color) return nullptr;
  } else if (mask->height < 2) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  icon->fIcon = piconinfo->fIcon ? TRUE : FALSE;
  int w, h;
  IconSize(*icon, w, h);
  icon->xHotspot = icon->fIcon ? static_cast<DWORD>(w / 2) : piconinfo->xHotspot;
  icon->yHotspot = icon->fIcon ? static_cast<DWORD>(h / 2) : piconinfo->yHotspot;
  return AddIcon(std::move(icon));
}

HICON CreateIcon(HINSTANCE hInstance, int nWidth, int nHeight, BYTE cPlanes, BYTE cBitsPixel, const BYTE* lpbANDbits,
                 const BYTE* lpbXORbits) {
  (void)hInstance;
  if (nWidth <= 0 || nHeight <= 0 || cPlanes != 1 || cBitsPixel == 0 || cBitsPixel > 32 || !lpbANDbits ||
      !lpbXORbits) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto icon = std::make_shared<Icon>();
  std::int64_t maskRow = DdbStride(nWidth, 1);
  if (cBitsPixel == 1) {
    // A monochrome icon keeps AND and XOR stacked in one bitmap of twice the height.
    if (static_cast<std::int64_t>(nHeight) * 2 > kMaxDimension) {
      SetError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    icon->mask = NewBitmap(nWidth, nHeight * 2, DdbFormat(1), true);
    if (!icon->mask) return nullptr;
    std::memcpy(icon->mask->bits, lpbANDbits, static_cast<std::size_t>(maskRow * nHeight));
    std::memcpy(icon->mask->bits + maskRow * nHeight, lpbXORbits, static_cast<std::size_t>(maskRow * nHeight));
  } else {
    HBITMAP c = CreateBitmap(nWidth, nHeight, 1, cBitsPixel, lpbXORbits);
    if (!c) return nullptr;
    icon->color = FindBitmap(c);
    DeleteObject(c);
    icon->mask = NewBitmap(nWidth, nHeight, DdbFormat(1), true);
    if (!icon->mask) return nullptr;
    std::memcpy(icon->mask->bits, lpbANDbits, static_cast<std::size_t>(maskRow * nHeight));
  }
  icon->xHotspot = static_cast<DWORD>(nWidth / 2);
  icon->yHotspot = static_cast<DWORD>(nHeight / 2);
  return AddIcon(std::move(icon));
}

BOOL GetIconInfo(HICON hIcon, PICONINFO piconinfo) {
  std::shared_ptr<Icon> icon = FindIcon(hIcon);
  if (!icon) return FALSE;
  if (!piconinfo) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<Bitmap> mask = CopyBitmap(*icon->mask);
  std::shared_ptr<Bitmap> color = icon->color ? CopyBitmap(*icon->color) : nullptr;
  if (!mask || (icon->color && !color)) return FALSE;
  HBITMAP hm = static_cast<HBITMAP>(AddObject(std::move(mask)));
  HBITMAP hc = color ? static_cast<HBITMAP>(AddObject(std::move(color))) : nullptr;
  if (!hm || (icon->color && !hc)) {
    if (hm) DeleteObject(hm);
    if (hc) DeleteObject(hc);
    return FALSE;
  }
  piconinfo->fIcon = icon->fIcon;
  piconinfo->xHotspot = icon->xHotspot;
  piconinfo->yHotspot = icon->yHotspot;
  piconinfo->hbmMask = hm;
  piconinfo->hbmColor = hc;
  return TRUE;
}

HICON CopyIcon(HICON hIcon) {
  std::shared_ptr<Icon> icon = FindIcon(hIcon);
  if (!icon) return nullptr;
  auto copy = std::make_shared<Icon>();
  copy->fIcon = icon->fIcon;
  copy->xHotspot = icon->xHotspot;
  copy->yHotspot = icon->yHotspot;
  copy->mask = icon->mask;
  copy->color = icon->color;
  return AddIcon(std::move(copy));
}

BOOL DestroyIcon(HICON hIcon) {
  std::lock_guard<std::mutex> lock(TableMutex());
  std::shared_ptr<Object> o = hIcon ? FindObjectLocked(hIcon) : nullptr;
  if (!o || o->kind != Kind::Icon) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!o->stock) RemoveObjectLocked(hIcon);
  return TRUE;
}

BOOL DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT istepIfAniCur,
                HBRUSH hbrFlickerFreeDraw, UINT diFlags) {
  (void)istepIfAniCur;
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return FALSE;
  std::shared_ptr<Icon> icon = FindIcon(hIcon);
  if (!icon) return FALSE;
  if (!(diFlags & DI_NORMAL)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int w, h;
  IconSize(*icon, w, h);
  int cx = cxWidth ? cxWidth : (diFlags & DI_DEFAULTSIZE) ? kIconSize : w;
  int cy = cyWidth ? cyWidth : (diFlags & DI_DEFAULTSIZE) ? kIconSize : h;
  if (hbrFlickerFreeDraw) {
    RECT r{xLeft, yTop, Saturate(static_cast<std::int64_t>(xLeft) + cx), Saturate(static_cast<std::int64_t>(yTop) + cy)};
    if (!FillRect(hdc, &r, hbrFlickerFreeDraw)) return FALSE;
  }
  Bitmap* bm;
  RECT clip;
  if (!DrawTarget(*dc, bm, clip)) return TRUE;
  // The mask's 0 bits are black and 1 bits white whatever the DC's colours.
  BlitJob j;
  j.dst = bm;
  j.clip = clip;
  j.xd = dc->ToDeviceX(xLeft);
  j.yd = dc->ToDeviceY(yTop);
  j.wd = cx;
  j.hd = cy;
  j.xs = 0;
  j.ws = w;
  j.hs = h;
  j.dstText = RGB(0, 0, 0);
  j.dstBk = RGB(255, 255, 255);
  j.srcBk = RGB(255, 255, 255);
  j.stretchMode = COLORONCOLOR;
  bool both = (diFlags & DI_NORMAL) == DI_NORMAL;
  if (diFlags & DI_MASK) {
    j.src = icon->mask.get();
    j.ys = 0;
    j.ropFore = j.ropBack = both ? 0x88 : 0xCC;  // SRCAND, SRCCOPY
    if (!RunBlit(j)) return FALSE;
  }
  if (diFlags & DI_IMAGE) {
    j.src = icon->color ? icon->color.get() : icon->mask.get();
    j.ys = icon->color ? 0 : h;
    j.ropFore = j.ropBack = both ? 0x66 : 0xCC;  // SRCINVERT, SRCCOPY
    if (!RunBlit(j)) return FALSE;
  }
  return TRUE;
}

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) {
  return DrawIconEx(hDC, X, Y, hIcon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
}

HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
  if (hInstance || lpIconName != IDI_APPLICATION) {
    SetError(kErrorResourceNameNotFound);
    return nullptr;
  }
  static HICON appIcon = BuildApplicationIcon();
  return appIcon;
}
