#include "PictureTestUtil.h"

#include <cstring>
#include <ostream>

namespace giftest {

std::ostream& operator<<(std::ostream& Out, const Rgb& C) {
  return Out << "(" << int(C.R) << "," << int(C.G) << "," << int(C.B) << ")";
}

std::unique_ptr<TBitmap> MakeBitmap24(int Width, int Height, const std::vector<Rgb>& Pixels) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(Width);
  B->SetHeight(Height);
  for (int y = 0; y < Height; ++y) {
    auto* Row = static_cast<std::uint8_t*>(B->ScanLine(y));
    for (int x = 0; x < Width; ++x) {
      const Rgb& C = Pixels[static_cast<std::size_t>(y) * Width + x];
      Row[x * 3] = C.B;
      Row[x * 3 + 1] = C.G;
      Row[x * 3 + 2] = C.R;
    }
  }
  return B;
}

std::vector<Rgb> PixelsOf(TBitmap* Bitmap) {
  TBitmap Copy;
  Copy.Assign(Bitmap);
  Copy.SetPixelFormat(pf24bit);
  std::vector<Rgb> P;
  for (int y = 0; y < Copy.Height(); ++y) {
    const auto* Row = static_cast<const std::uint8_t*>(Copy.ScanLine(y));
    for (int x = 0; x < Copy.Width(); ++x) P.push_back(Rgb{Row[x * 3 + 2], Row[x * 3 + 1], Row[x * 3]});
  }
  return P;
}

std::vector<std::uint8_t> IndicesOf(TBitmap* Bitmap) {
  std::vector<std::uint8_t> P;
  for (int y = 0; y < Bitmap->Height(); ++y) {
    const auto* Row = static_cast<const std::uint8_t*>(Bitmap->ScanLine(y));
    P.insert(P.end(), Row, Row + Bitmap->Width());
  }
  return P;
}

std::vector<PALETTEENTRY> EntriesOf(HPALETTE Palette) {
  WORD Count = 0;
  if (!Palette || GetObject(Palette, sizeof(Count), &Count) == 0) return {};
  std::vector<PALETTEENTRY> E(Count);
  E.resize(GetPaletteEntries(Palette, 0, Count, E.data()));
  return E;
}

gif::TGIFSubImage* AddFrame(gif::TGIFImage& Image, int Left, int Top, int Width, int Height,
                            const std::vector<std::uint8_t>& Pixels, const std::vector<Rgb>& Colors) {
  auto Frame = std::make_unique<gif::TGIFSubImage>(&Image);
  Frame->ChangeBounds(Left, Top, Width, Height);
  for (const Rgb& C : Colors) Frame->ColorMap()->AddColor(C.R | (C.G << 8) | (C.B << 16));
  if (!Pixels.empty()) std::memcpy(Frame->Data(), Pixels.data(), Pixels.size());
  gif::TGIFSubImage* F = Frame.get();
  Image.Images().Add(Frame.release());
  return F;
}

gif::TGIFGraphicControlExtension* AddGce(gif::TGIFSubImage* Frame, int Disposal, int Delay, int Transparent) {
  auto G = std::make_unique<gif::TGIFGraphicControlExtension>(Frame);
  G->SetDisposalMethod(Disposal);
  G->SetDelayTime(static_cast<std::uint16_t>(Delay));
  if (Transparent >= 0) {
    G->SetTransparentIndexRaw(static_cast<std::uint8_t>(Transparent));
    G->SetTransparentFlag(true);
  }
  gif::TGIFGraphicControlExtension* R = G.get();
  Frame->Extensions().Add(G.release());
  return R;
}

std::vector<Rgb> CanvasPixels(TCanvas* Canvas, int Width, int Height) {
  std::vector<Rgb> P;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) {
      const TColor C = Canvas->Pixels(x, y);
      P.push_back(Rgb{static_cast<std::uint8_t>(C), static_cast<std::uint8_t>(C >> 8),
                      static_cast<std::uint8_t>(C >> 16)});
    }
  return P;
}

}  // namespace giftest
