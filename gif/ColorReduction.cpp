#include "gif/ColorReduction.h"

#include <algorithm>

#include "gif/Dib.h"
#include "gif/Dither.h"
#include "gif/Quantizer.h"

namespace gif {

namespace {

// The target palette of a reduction (null for an unknown one); the caller deletes it.
HPALETTE TargetPalette(TBitmap* Source, TGIFColorReductionKind Reduction, int Bits, HPALETTE Given) {
  switch (Reduction) {
    case grSystem20: return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    case grHalftone: return HalftonePalette();
    case grGray4: return Gray4Palette();
    case grBlackWhite: return BlackWhitePalette();
    case grGray256: return Gray256Palette();
    case grWebSafe216: return WebSafePalette();
    case grOctree: return OptimizedPaletteForBitmap(Source, 1 << std::clamp(Bits, 1, 8), 8, false);
    case grOctreeWithSystem: return OptimizedPaletteForBitmap(Source, 256, 8, true);
    case grGivenPalette: return CopyPalette(Given);
    default: return nullptr;
  }
}

std::unique_ptr<TColorLookup> MakeLookup(TGIFColorReductionKind Reduction, HPALETTE Palette) {
  switch (Reduction) {
    case grBlackWhite: return std::make_unique<TMonochromeLookup>(Palette);
    case grGray256: return std::make_unique<TGrayScaleLookup>(Palette);
    case grWebSafe216: return std::make_unique<TNetscapeColorLookup>(Palette);
    default: return std::make_unique<TFastColorLookup>(Palette);
  }
}

std::unique_ptr<TDitherEngine> MakeEngine(TGIFDitherKind Dither, int Width, TColorLookup* Lookup) {
  switch (Dither) {
    case gdNearest: return std::make_unique<TDitherEngine>(Width, Lookup);
    case gdFloydSteinberg: return std::make_unique<TFloydSteinbergDitherer>(Width, Lookup);
    case gdStucki: return std::make_unique<TStuckiDitherer>(Width, Lookup);
    case gdSierra: return std::make_unique<TSierraDitherer>(Width, Lookup);
    case gdJarvisJudiceNinke: return std::make_unique<TJaJuNiDitherer>(Width, Lookup);
    case gdStevensonArce: return std::make_unique<TSteveArcheDitherer>(Width, Lookup);
    case gdBurkes: return std::make_unique<TBurkesDitherer>(Width, Lookup);
    default: return nullptr;
  }
}

// Deletes the palette handle when it goes (a stock palette ignores the deletion).
struct PaletteHolder {
  HPALETTE Handle{nullptr};
  ~PaletteHolder() {
    if (Handle) DeleteObject(Handle);
  }
};

}  // namespace

std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap* Source, TGIFColorReductionKind Reduction, TGIFDitherKind Dither,
                                            int Bits, HPALETTE Palette) {
  auto Result = std::make_unique<TBitmap>();
  if (Reduction == grKeepTrueColor) {
    Result->Assign(Source);
    Result->SetPixelFormat(pf24bit);
    return Result;
  }
  if (Reduction > grGivenPalette) RaiseGIFError("Invalid reduction method");
  if (Dither > gdBurkes) RaiseGIFError("Invalid dither method");
  if (Reduction == grGivenPalette && !Palette) RaiseGIFError("No palette given for color reduction");
  const int Width = Source->Width();
  const int Height = Source->Height();
  if (Width <= 0 || Height <= 0) RaiseGIFError("Invalid image dimensions");
  if (static_cast<std::int64_t>(Width) * Height > 500000) Result->SetPixelFormat(pf1bit);
  // The rows are read at 24 bits per pixel from a private copy: the caller's bitmap keeps its
  // format (and its alpha).
  std::unique_ptr<TBitmap> Copy;
  if (GetBitmapPixelFormat(Source) != pf24bit) {
    Copy = std::make_unique<TBitmap>();
    Copy->Assign(Source);
    Source = Copy.get();
  }
  TDIBReader Reader(Source, pf24bit);
  PaletteHolder Target;
  Target.Handle = TargetPalette(Source, Reduction, Bits, Palette);
  std::unique_ptr<TColorLookup> Lookup = MakeLookup(Reduction, Target.Handle);
  if (Lookup->ColorCount() == 0) RaiseGIFError("No palette given for color reduction");
  std::unique_ptr<TDitherEngine> Engine = MakeEngine(Dither, Width, Lookup.get());
  TDIBWriter Writer(Result.get(), pf8bit, Width, Height, Target.Handle);
  std::uint8_t R, G, B;
  for (int y = 0; y < Height; ++y) {
    const auto* Src = static_cast<const std::uint8_t*>(Reader.GetScanline(y));
    auto* Dst = static_cast<std::uint8_t*>(Writer.GetScanline(y));
    for (int x = Engine->Column(); x >= 0 && x < Width; x = Engine->Column()) {
      const std::uint8_t* P = Src + static_cast<std::int64_t>(x) * 3;
      Dst[x] = Engine->DitherPixel(P[2], P[1], P[0], R, G, B);
    }
    Engine->AdvanceRow();
  }
  Writer.UpdateBitmap();
  return Result;
}

}  // namespace gif
