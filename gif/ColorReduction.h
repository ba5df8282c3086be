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
// palette as its colour table. The source is not changed. Bits (octree reduction, 2^Bits
// colours) is taken within 1..8. A reduction above 9 raises "Invalid reduction method", a
// dither above 6 "Invalid dither method", grGivenPalette without a palette (or with an empty
// one) "No palette given for color reduction", a source without pixels "Invalid image
// dimensions". Errors pass on with nothing left allocated.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap* Source, TGIFColorReductionKind Reduction, TGIFDitherKind Dither,
                                            int Bits, HPALETTE Palette);

}  // namespace gif
