#pragma once
// Reduction of any bitmap to an 8-bit picture: a target palette, a colour lookup that fits it
// and a dithering engine.
#include <cstdint>
#include <memory>

#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"

namespace gif {

enum TGIFColorReductionKind : std::uint8_t {
  grKeepTrueColor = 0,
  grSystem20 = 1,
  grHalftone = 2,
  grGray4 = 3,
  grBlackWhite = 4,
  grGray256 = 5,
  grWebSafe216 = 6,
  grOctree = 7,
  grOctreeWithSystem = 8,
  grGivenPalette = 9
};

enum TGIFDitherKind : std::uint8_t {
  gdNearest = 0,
  gdFloydSteinberg = 1,
  gdStucki = 2,
  gdSierra = 3,
  gdJarvisJudiceNinke = 4,
  gdStevensonArce = 5,
  gdBurkes = 6
};

// A new bitmap: a 24-bit copy for grKeepTrueColor; otherwise 8 bits per pixel with the target
// palette as its colour table (the source is converted to 24 bits per pixel on the way and stays
// so). Bits (octree reduction, 2^Bits colours) is taken within 1..8. An unusable combination
// (reduction above 9, dither above 6, grGivenPalette without a palette) gives an empty bitmap.
// Errors pass on with nothing left allocated.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap* Source, TGIFColorReductionKind Reduction, TGIFDitherKind Dither,
                                            int Bits, HPALETTE Palette);

}  // namespace gif
