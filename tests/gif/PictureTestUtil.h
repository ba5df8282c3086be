#pragma once
// Helpers of the rendering, reduction and painter tests: bitmaps made from and read back as
// RGB pixels, palette entries, and images assembled frame by frame.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"

namespace giftest {

struct Rgb {
  std::uint8_t R{0}, G{0}, B{0};
  bool operator==(const Rgb& O) const { return R == O.R && G == O.G && B == O.B; }
};
std::ostream& operator<<(std::ostream& Out, const Rgb& C);

// A 24-bit bitmap; Pixels row by row from the top.
std::unique_ptr<TBitmap> MakeBitmap24(int Width, int Height, const std::vector<Rgb>& Pixels);
// A bitmap of Width x Height filled by F(x, y).
template <class F>
std::unique_ptr<TBitmap> PaintBitmap24(int Width, int Height, F&& Fill) {
  std::vector<Rgb> P;
  P.reserve(static_cast<std::size_t>(Width) * Height);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) P.push_back(Fill(x, y));
  return MakeBitmap24(Width, Height, P);
}
// The picture's colours, row by row from the top (any format; the bitmap is not changed).
std::vector<Rgb> PixelsOf(TBitmap* Bitmap);
// The indices of an 8-bit bitmap, row by row from the top.
std::vector<std::uint8_t> IndicesOf(TBitmap* Bitmap);
std::vector<PALETTEENTRY> EntriesOf(HPALETTE Palette);

// A frame of the image with the given pixels and a local map of Colors (r, g, b triples).
gif::TGIFSubImage* AddFrame(gif::TGIFImage& Image, int Left, int Top, int Width, int Height,
                            const std::vector<std::uint8_t>& Pixels, const std::vector<Rgb>& Colors);
// A graphic control extension on the frame.
gif::TGIFGraphicControlExtension* AddGce(gif::TGIFSubImage* Frame, int Disposal, int Delay, int Transparent = -1);

// The canvas as colours, row by row.
std::vector<Rgb> CanvasPixels(TCanvas* Canvas, int Width, int Height);

}  // namespace giftest
