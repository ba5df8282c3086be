// Frame rendering (the cached bitmap and transparency mask, plain or dithered) and drawing
// (placement on the logical screen, stretching, tiling, the transparent copy through the mask).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "gif/Dither.h"
#include "gif/Frame.h"
#include "gif/Image.h"
#include "gif/Quantizer.h"

namespace gif {

namespace {

constexpr std::int64_t kMonochromeFirstPixels = 500000;

// Selects an object into a DC and puts the previous one back when it goes.
class SelectGuard {
 public:
  SelectGuard(HDC DC, HGDIOBJ Object) : FDC(DC), FOld(SelectObject(DC, Object)) {}
  ~SelectGuard() {
    if (FOld) SelectObject(FDC, FOld);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC FDC;
  HGDIOBJ FOld;
};

struct DCHolder {
  HDC Handle{nullptr};
  ~DCHolder() {
    if (Handle) DeleteDC(Handle);
  }
};

struct ObjectHolder {
  HGDIOBJ Handle{nullptr};
  ~ObjectHolder() {
    if (Handle) DeleteObject(Handle);
  }
};

// The class library's 16-colour system palette stands here as the stock default palette.
HPALETTE SystemPalette() { return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Palette and bitmap cache

HPALETTE TGIFSubImage::PaletteHandle() {
  if (FBitmap) {
    if (HPALETTE P = FBitmap->Palette()) return P;
  }
  const bool Dither = FImage && FImage->ShouldDither();
  // A palette made for the other way of rendering does not fit this one.
  if (FPalette && FPaletteDithered != Dither) SetPaletteHandle(nullptr);
  if (FPalette) return FPalette;
  if (Dither) {
    FPalette = WebSafePalette();
    FPaletteDithered = true;
    return FPalette;
  }
  if (FColorMap->Count() == 0) {
    // The global map's own colours: the image's palette may be that of a bitmap rendered from
    // another frame with a local map.
    if (FImage && FImage->GlobalColorMap()->Count() > 0) {
      FPalette = FImage->GlobalColorMap()->CreatePaletteHandle();
      FPaletteDithered = false;
      return FPalette;
    }
    return FImage ? FImage->Palette() : nullptr;
  }
  FPalette = FColorMap->CreatePaletteHandle();
  FPaletteDithered = false;
  return FPalette;
}

TBitmap* TGIFSubImage::RenderBitmap() {
  if (FBitmap || IsEmpty()) return FBitmap.get();
  try {
    if (FImage) FImage->Progress(this, psStarting, 0, false, TRect{}, "Rendering...");
    try {
      FBitmap = (FImage && FImage->ShouldDither()) ? RenderDithered() : RenderPlain();
    } catch (...) {
      if (FImage) {
        FImage->Progress(this, psEnding, 0, FImage->PaletteModified(), TRect{}, "Rendering...");
        if (FImage->PaletteModified()) FImage->Changed(FImage);
      }
      throw;
    }
    if (FImage) {
      FImage->Progress(this, psEnding, 100, FImage->PaletteModified(), TRect{}, "Rendering...");
      if (FImage->PaletteModified()) FImage->Changed(FImage);
    }
  } catch (const EAbort&) {
  }
  return FBitmap.get();
}

bool TGIFSubImage::EnsureMask() {
  if (FNeedMask && FTransparent) {
    FreeBitmapCache();
    RenderBitmap();
  }
  return FMask != nullptr;
}

std::unique_ptr<TBitmap> TGIFSubImage::RenderPlain() { return RenderCommon(false); }

std::unique_ptr<TBitmap> TGIFSubImage::RenderDithered() { return RenderCommon(true); }

std::unique_ptr<TBitmap> TGIFSubImage::RenderCommon(bool Dithered) {
  const int W = Width();
  const int H = Height();
  auto Bitmap = std::make_unique<TBitmap>();
  if (static_cast<std::int64_t>(W) * H > kMonochromeFirstPixels) SetBitmapPixelFormat(Bitmap.get(), pf1bit);

  // A dithered picture always takes the 216-colour table, whatever palette is cached.
  ObjectHolder OwnPalette;
  HPALETTE Palette;
  if (Dithered) {
    OwnPalette.Handle = WebSafePalette();
    Palette = static_cast<HPALETTE>(OwnPalette.Handle);
  } else {
    Palette = PaletteHandle();
  }
  TDIBWriter Writer(Bitmap.get(), pf8bit, W, H, Palette);

  const bool BuildMask = FNeedMask && FTransparent && FGCE && !FMask;
  FNeedMask = false;
  const std::uint8_t T = FGCE ? FGCE->TransparentIndex() : 0;
  const std::int64_t MaskRow = static_cast<std::int64_t>((W + 15) / 16) * 2;
  std::vector<std::uint8_t> MaskBits;
  if (BuildMask) MaskBits.assign(static_cast<std::size_t>(MaskRow * H), 0);
  bool AnyTransparent = false;

  std::unique_ptr<TNetscapeColorLookup> Lookup;
  std::unique_ptr<TFloydSteinbergDitherer> Ditherer;
  std::array<std::uint8_t, 256 * 3> Colors{};
  std::uint8_t FillIndex = 0;
  if (Dithered) {
    Lookup = std::make_unique<TNetscapeColorLookup>();
    Ditherer = std::make_unique<TFloydSteinbergDitherer>(W, Lookup.get());
    TGIFColorMap* Map = EffectiveColorMap();
    if (Map->Count() > 0)
      std::memcpy(Colors.data(), Map->Data(), static_cast<std::size_t>(std::min(Map->Count(), 256)) * 3);
    // Transparent pixels are not dithered: they take the web colour nearest the transparent
    // colour and are hidden by the mask.
    std::uint8_t R, G, B;
    FillIndex = Lookup->LookupIndex(Colors[T * 3], Colors[T * 3 + 1], Colors[T * 3 + 2], R, G, B);
  }

  for (int y = 0; y < H; ++y) {
    if (FImage && y % 32 == 0)
      FImage->Progress(this, psRunning, static_cast<BYTE>(MulDiv(y, 100, H)), false, TRect{}, "Rendering...");
    const std::uint8_t* Src = RowPointer(y);
    auto* Dst = static_cast<std::uint8_t*>(Writer.GetScanline(y));
    std::uint8_t* Mask = BuildMask ? MaskBits.data() + static_cast<std::int64_t>(y) * MaskRow : nullptr;
    if (!Dithered) {
      std::memcpy(Dst, Src, static_cast<std::size_t>(W));
      if (Mask) {
        for (int x = 0; x < W; ++x)
          if (Src[x] == T) {
            Mask[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
            AnyTransparent = true;
          }
      }
      continue;
    }
    if (Mask) std::memset(Dst, FillIndex, static_cast<std::size_t>(W));
    std::uint8_t R, G, B;
    for (int x = Ditherer->Column(); x >= 0 && x < W; x = Ditherer->Column()) {
      const std::uint8_t Index = Src[x];
      if (Mask && Index == T) {
        Mask[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
        AnyTransparent = true;
        Ditherer->AdvanceColumn();
        continue;
      }
      Dst[x] = Ditherer->DitherPixel(Colors[Index * 3], Colors[Index * 3 + 1], Colors[Index * 3 + 2], R, G, B);
    }
    Ditherer->AdvanceRow();
  }
  Writer.UpdateBitmap();
  if (BuildMask && AnyTransparent) FMask = CheckGDIResult(CreateBitmap(W, H, 1, 1, MaskBits.data()));
  return Bitmap;
}

void TGIFSubImage::AssignTo(TPersistent* Dest) {
  if (auto* Bitmap = dynamic_cast<TBitmap*>(Dest)) {
    Bitmap->Assign(RenderBitmap());
    return;
  }
  TGIFItem::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------------
// Drawing

bool TGIFSubImage::TransparentStretchBlt(HDC DstDC, int DstX, int DstY, int DstW, int DstH, HDC SrcDC, int SrcX,
                                         int SrcY, int SrcW, int SrcH, HDC MaskDC, int MaskX, int MaskY) {
  if (Win32Platform == static_cast<int>(VER_PLATFORM_WIN32_NT) && DstW == SrcW && DstH == SrcH) {
    // The mask bitmap must not stay selected while MaskBlt reads it.
    ObjectHolder Dummy;
    Dummy.Handle = CheckGDIResult(CreateCompatibleBitmap(SrcDC, 1, 1));
    auto Mask = static_cast<HBITMAP>(SelectObject(MaskDC, Dummy.Handle));
    MaskBlt(DstDC, DstX, DstY, DstW, DstH, SrcDC, SrcX, SrcY, Mask, MaskX, MaskY, MAKEROP4(0xAA0029, SRCCOPY));
    SelectObject(MaskDC, Mask);
    return true;
  }

  // The source with black where it is transparent, then: target AND mask, OR that image.
  DCHolder MemDC;
  MemDC.Handle = CheckGDIResult(CreateCompatibleDC(DstDC));
  ObjectHolder MemBitmap;
  MemBitmap.Handle = CheckGDIResult(CreateCompatibleBitmap(DstDC, SrcW, SrcH));
  SelectGuard MemSelect(MemDC.Handle, MemBitmap.Handle);
  HPALETTE OldMemPalette = nullptr;
  {
    DCHolder InvDC;
    InvDC.Handle = CheckGDIResult(CreateCompatibleDC(DstDC));
    ObjectHolder InvBitmap;
    InvBitmap.Handle = CheckGDIResult(CreateBitmap(SrcW, SrcH, 1, 1, nullptr));
    SelectGuard InvSelect(InvDC.Handle, InvBitmap.Handle);
    BitBlt(InvDC.Handle, 0, 0, SrcW, SrcH, MaskDC, MaskX, MaskY, NOTSRCCOPY);

    HPALETTE SourcePalette = SelectPalette(SrcDC, SystemPalette(), FALSE);
    if (SourcePalette) SelectPalette(SrcDC, SourcePalette, FALSE);
    OldMemPalette = SelectPalette(MemDC.Handle, SourcePalette ? SourcePalette : SystemPalette(), TRUE);
    RealizePalette(MemDC.Handle);

    BitBlt(MemDC.Handle, 0, 0, SrcW, SrcH, InvDC.Handle, 0, 0, SRCCOPY);
    BitBlt(MemDC.Handle, 0, 0, SrcW, SrcH, SrcDC, SrcX, SrcY, SRCAND);
  }
  const COLORREF OldText = SetTextColor(DstDC, RGB(0, 0, 0));
  const COLORREF OldBack = SetBkColor(DstDC, RGB(255, 255, 255));
  // Mask and picture drop the same rows and columns when they shrink; combining them would
  // widen the opaque part and darken the picture.
  const int OldMode = SetStretchBltMode(DstDC, COLORONCOLOR);
  StretchBlt(DstDC, DstX, DstY, DstW, DstH, MaskDC, MaskX, MaskY, SrcW, SrcH, SRCAND);
  StretchBlt(DstDC, DstX, DstY, DstW, DstH, MemDC.Handle, 0, 0, SrcW, SrcH, SRCPAINT);
  if (OldMode) SetStretchBltMode(DstDC, OldMode);
  SetTextColor(DstDC, OldText);
  SetBkColor(DstDC, OldBack);
  if (OldMemPalette) SelectPalette(MemDC.Handle, OldMemPalette, TRUE);
  return true;
}

TRect TGIFSubImage::MapRectToDest(const TRect& R) const {
  const int SW = FImage ? FImage->Width() : Width();
  const int SH = FImage ? FImage->Height() : Height();
  const int RW = R.right - R.left, RH = R.bottom - R.top;
  return TRect{R.left + MulDiv(Left(), RW, SW), R.top + MulDiv(Top(), RH, SH),
               R.left + MulDiv(Left() + Width(), RW, SW), R.top + MulDiv(Top() + Height(), RH, SH)};
}

void TGIFSubImage::DrawFrame(TCanvas* Canvas, const TRect& Rect, bool Tile, bool Transparent) {
  if (Tile)
    DrawStretched(Canvas, Rect, Tile, Transparent);
  else
    DrawStretched(Canvas, MapRectToDest(Rect), Tile, Transparent);
}

void TGIFSubImage::DrawStretched(TCanvas* Canvas, const TRect& Rect, bool Tile, bool Transparent) {
  const bool UseMask = Transparent && FTransparent && EnsureMask();
  TBitmap* Bitmap = RenderBitmap();
  if (!Bitmap) return;
  const int W = Width(), H = Height();
  // Tiles step by the logical screen; a screen of no size steps by the frame itself.
  const int SW = FImage && FImage->Width() > 0 ? FImage->Width() : std::max(W, 1);
  const int SH = FImage && FImage->Height() > 0 ? FImage->Height() : std::max(H, 1);
  auto EachTile = [&](auto&& Draw) {
    for (std::int64_t X = static_cast<std::int64_t>(Rect.left) + Left(); X < Rect.right; X += SW)
      for (std::int64_t Y = static_cast<std::int64_t>(Rect.top) + Top(); Y < Rect.bottom; Y += SH)
        Draw(static_cast<int>(X), static_cast<int>(Y));
  };
  if (!UseMask) {
    if (Tile)
      EachTile([&](int X, int Y) { Canvas->StretchDraw(TRect{X, Y, X + W, Y + H}, Bitmap); });
    else
      Canvas->StretchDraw(Rect, Bitmap);
    return;
  }
  DCHolder MaskDC;
  MaskDC.Handle = CheckGDIResult(CreateCompatibleDC(nullptr));
  {
    SelectGuard MaskSelect(MaskDC.Handle, FMask);
    HDC Dst = Canvas->Handle();
    TCanvas* Source = Bitmap->Canvas();
    Source->Lock();
    try {
      HDC Src = Source->Handle();
      if (Tile)
        EachTile([&](int X, int Y) { TransparentStretchBlt(Dst, X, Y, W, H, Src, 0, 0, W, H, MaskDC.Handle, 0, 0); });
      else
        TransparentStretchBlt(Dst, Rect.left, Rect.top, Rect.right - Rect.left, Rect.bottom - Rect.top, Src, 0, 0, W,
                              H, MaskDC.Handle, 0, 0);
    } catch (...) {
      Source->Unlock();
      throw;
    }
    Source->Unlock();
  }
  Canvas->Changed();
}

}  // namespace gif
