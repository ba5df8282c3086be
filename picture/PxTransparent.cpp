#include "picture/PxTransparent.h"

#include "picture/PxGraphUtils.h"

namespace px {

namespace {

// A memory device context with a bitmap of its own selected, both released at the end.
class TWorkContext {
 public:
  TWorkContext(HDC Compatible, HBITMAP Bitmap) : FDC(CreateCompatibleDC(Compatible)), FBitmap(Bitmap) {
    if (!FDC || !FBitmap) {
      Release();
      RaiseOutOfResources();
    }
    FOld = SelectObject(FDC, FBitmap);
  }
  ~TWorkContext() { Release(); }
  TWorkContext(const TWorkContext&) = delete;
  TWorkContext& operator=(const TWorkContext&) = delete;
  HDC get() const { return FDC; }

 private:
  void Release() {
    if (FDC && FOld) SelectObject(FDC, FOld);
    if (FBitmap) DeleteObject(FBitmap);
    if (FDC) DeleteDC(FDC);
    FDC = nullptr;
    FBitmap = nullptr;
  }
  HDC FDC;
  HBITMAP FBitmap;
  HGDIOBJ FOld{nullptr};
};

COLORREF PaletteRgbOf(TColor Color) { return static_cast<COLORREF>(ColorToRGB(Color)) | 0x02000000u; }

}  // namespace

void TransparentStretchBlit(HDC Dest, int X, int Y, int W, int H, HDC Source, int SrcX, int SrcY, int SrcW, int SrcH,
                            TColor Transparent, HPALETTE Palette) {
  TWorkContext inverse(Dest, CreateBitmap(SrcW, SrcH, 1, 1, nullptr));
  TWorkContext mask(Dest, CreateBitmap(SrcW, SrcH, 1, 1, nullptr));
  TWorkContext work(Dest, CreateCompatibleBitmap(Dest, W, H));
  TWorkContext copy(Dest, CreateCompatibleBitmap(Dest, SrcW, SrcH));

  HPALETTE oldDest = nullptr, oldCopy = nullptr, oldMask = nullptr, oldWork = nullptr;
  if (Palette) {
    oldDest = SelectPalette(Dest, Palette, TRUE);
    RealizePalette(Dest);
    oldCopy = SelectPalette(copy.get(), Palette, FALSE);
    RealizePalette(copy.get());
    oldMask = SelectPalette(mask.get(), Palette, FALSE);
    RealizePalette(mask.get());
    oldWork = SelectPalette(work.get(), Palette, TRUE);
    RealizePalette(work.get());
  }
  struct TPalettesBack {
    HDC Work, Mask, Copy, Dest;
    HPALETTE OldWork, OldMask, OldCopy, OldDest;
    ~TPalettesBack() {
      if (OldWork) SelectPalette(Work, OldWork, TRUE);
      if (OldMask) SelectPalette(Mask, OldMask, TRUE);
      if (OldCopy) SelectPalette(Copy, OldCopy, TRUE);
      if (OldDest) SelectPalette(Dest, OldDest, TRUE);
    }
  } palettesBack{work.get(), mask.get(), copy.get(), Dest, oldWork, oldMask, oldCopy, oldDest};

  SetMapMode(Source, GetMapMode(Dest));
  SetMapMode(copy.get(), GetMapMode(Dest));
  // Shrinking takes whole pixels: a mode that combines them (the contexts' default) would
  // darken the mask and the picture where transparent and opaque pixels meet.
  SetStretchBltMode(work.get(), COLORONCOLOR);

  BitBlt(copy.get(), 0, 0, SrcW, SrcH, Source, SrcX, SrcY, SRCCOPY);
  // Transparent pixels white in the mask, all others black.
  const COLORREF oldBack = SetBkColor(copy.get(), PaletteRgbOf(Transparent));
  BitBlt(mask.get(), 0, 0, SrcW, SrcH, copy.get(), 0, 0, SRCCOPY);
  SetBkColor(copy.get(), oldBack);
  BitBlt(inverse.get(), 0, 0, SrcW, SrcH, mask.get(), 0, 0, NOTSRCCOPY);
  // The background where the mask is white, black where the picture goes.
  BitBlt(work.get(), 0, 0, W, H, Dest, X, Y, SRCCOPY);
  StretchBlt(work.get(), 0, 0, W, H, mask.get(), 0, 0, SrcW, SrcH, SRCAND);
  // The picture where the mask is black, black elsewhere.
  BitBlt(copy.get(), 0, 0, SrcW, SrcH, inverse.get(), 0, 0, SRCAND);
  StretchBlt(work.get(), 0, 0, W, H, copy.get(), 0, 0, SrcW, SrcH, SRCPAINT);
  BitBlt(Dest, X, Y, W, H, work.get(), 0, 0, SRCCOPY);
}

void DrawStretchedTransparent(TCanvas* Dest, TBitmap* Bitmap, TColor Transparent, int SrcX, int SrcY, int SrcW,
                              int SrcH, int DstX, int DstY, int DstW, int DstH) {
  if (DstW < 1) DstW = Bitmap->Width();
  if (DstH < 1) DstH = Bitmap->Height();
  if (SrcW < 1 || SrcH < 1) {
    SrcX = 0;
    SrcY = 0;
    SrcW = Bitmap->Width();
    SrcH = Bitmap->Height();
  }
  const bool monochrome = Bitmap->Monochrome();
  HDC dest = Dest->Handle();
  const int destMode = monochrome ? 0 : SetStretchBltMode(dest, COLORONCOLOR);
  TCanvas* source = Bitmap->Canvas();
  source->Lock();
  TNotifyEvent changing = std::move(source->OnChanging);
  source->OnChanging = nullptr;
  // The destination's stretch mode, the bitmap's handler and its lock are put back at the end.
  struct TRestore {
    TCanvas* Canvas;
    TNotifyEvent& Saved;
    HDC Dest;
    int Mode;
    ~TRestore() {
      Canvas->OnChanging = std::move(Saved);
      Canvas->Unlock();
      if (Mode != 0) SetStretchBltMode(Dest, Mode);
    }
  } restore{source, changing, dest, destMode};
  if (Transparent == clNone) {
    StretchBlt(dest, DstX, DstY, DstW, DstH, source->Handle(), SrcX, SrcY, SrcW, SrcH, Dest->CopyMode());
    return;
  }
  if (Transparent == clDefault) Transparent = source->Pixels(0, Bitmap->Height() - 1);
  const TColor colour = monochrome ? static_cast<TColor>(0xFFFFFF) : ColorToRGB(Transparent);
  TransparentStretchBlit(dest, DstX, DstY, DstW, DstH, source->Handle(), SrcX, SrcY, SrcW, SrcH, colour,
                         Bitmap->Palette());
}

void DrawBitmapTransparent(TCanvas* Dest, int X, int Y, TBitmap* Bitmap, const TRect& Source, TColor Transparent,
                           int Width, int Height) {
  DrawStretchedTransparent(Dest, Bitmap, Transparent, Source.left, Source.top, Source.right - Source.left,
                           Source.bottom - Source.top, X, Y, Width, Height);
}

}  // namespace px
