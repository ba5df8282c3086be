#pragma once
// Target palettes of the colour reduction: fixed palettes and an adaptive one made by an octree
// colour quantizer. Every routine returns a palette handle that the caller deletes.
#include <array>
#include <cstdint>
#include <memory>

#include "gif/Dib.h"
#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"

namespace gif {

class TOctreeNode;

// Reduces the colours of a picture while it is read: after every pixel that pushes the leaf
// count over the maximum, the deepest most recently made reducible node becomes a leaf.
class TColorQuantizer : public TObject {
 public:
  // Colour bits above 8 are taken as 8; a maximum below 1 as 1.
  TColorQuantizer(int MaxColors, int ColorBits);
  ~TColorQuantizer() override;
  TColorQuantizer(const TColorQuantizer&) = delete;
  TColorQuantizer& operator=(const TColorQuantizer&) = delete;

  // Every pixel of a 24-bit picture, rows from the top, pixels from the left.
  bool AddBitmap(TDIBReader* Reader);
  // One pixel; merges until the leaf count is within the maximum.
  void AddColor(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue);
  // The leaf colours in tree order as (blue, green, red, 0) from entry 0 on; returns how many.
  int FillPalette(RGBQUAD* Entries, int Capacity) const;
  int LeafCount() const { return FLeafCount; }

 private:
  void InsertColor(std::unique_ptr<TOctreeNode>& Node, std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                   int Level);
  // False when no node is left to merge.
  bool MergeDeepestNode();

  std::unique_ptr<TOctreeNode> FTree;
  int FLeafCount{0};
  std::array<TOctreeNode*, 9> FReducible{};  // per level, newest first
  int FMaxColors;
  int FColorBits;
};

// Adaptive palette of the picture: Count entries (at most 256) of quantized colours; with
// system colours 256 entries, the 20 static colours at 0..9 and 246..255 around 236 quantized
// ones. Entries beyond the picture's colours are black.
HPALETTE OctreePalette(TDIBReader* Reader, int Count, int ColorBits, bool WithSystemColors);
// The same for a bitmap, which is converted to 24 bits per pixel on the way.
HPALETTE OptimizedPaletteForBitmap(TBitmap* Bitmap, int Count, int ColorBits, bool WithSystemColors);

HPALETTE WebSafePalette();   // 216 entries, 36r + 6g + b = (51r, 51g, 51b)
HPALETTE Gray256Palette();   // (i, i, i)
HPALETTE BlackWhitePalette();
HPALETTE Gray4Palette();     // 0, 128, 192, 255
HPALETTE HalftonePalette();  // the platform's, for the screen

// A palette with the same entries (null for null).
HPALETTE CopyPalette(HPALETTE Palette);

}  // namespace gif
