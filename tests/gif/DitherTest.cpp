// Colour lookups and dithering engines: the lookups' arithmetic, the serpentine walk, the
// Floyd-Steinberg running values, and that every kernel keeps a picture's mean colour.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <memory>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;
using gif::TDitherEngine;

namespace {

struct Hit {
  int Index;
  int R, G, B;
};

Hit Look(gif::TColorLookup& L, int R, int G, int B) {
  std::uint8_t r, g, b;
  const int I = L.LookupIndex(static_cast<std::uint8_t>(R), static_cast<std::uint8_t>(G), static_cast<std::uint8_t>(B),
                              r, g, b);
  return Hit{I, r, g, b};
}

HPALETTE Palette(const std::vector<Rgb>& Colors) {
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * Colors.size());
  auto* P = reinterpret_cast<LOGPALETTE*>(Block.data());
  P->palVersion = 0x300;
  P->palNumEntries = static_cast<WORD>(Colors.size());
  for (std::size_t i = 0; i < Colors.size(); ++i)
    P->palPalEntry[i] = PALETTEENTRY{Colors[i].R, Colors[i].G, Colors[i].B, 0};
  return CreatePalette(P);
}

// The indices of a Width x Height picture walked by the protocol, in column order per row.
std::vector<std::uint8_t> Dither(TDitherEngine& E, int Width, int Height, const std::function<Rgb(int, int)>& Pixel) {
  std::vector<std::uint8_t> Out(static_cast<std::size_t>(Width) * Height);
  std::uint8_t r, g, b;
  for (int y = 0; y < Height; ++y) {
    for (int x = E.Column(); x >= 0 && x < Width; x = E.Column()) {
      const Rgb C = Pixel(x, y);
      Out[static_cast<std::size_t>(y) * Width + x] = E.DitherPixel(C.R, C.G, C.B, r, g, b);
    }
    E.AdvanceRow();
  }
  return Out;
}

using EngineMaker = std::function<std::unique_ptr<TDitherEngine>(int, gif::TColorLookup*)>;

std::vector<std::pair<const char*, EngineMaker>> Diffusers() {
  return {
      {"FloydSteinberg", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TFloydSteinbergDitherer>(W, L); }},
      {"Stucki", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TStuckiDitherer>(W, L); }},
      {"Sierra", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TSierraDitherer>(W, L); }},
      {"JaJuNi", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TJaJuNiDitherer>(W, L); }},
      {"SteveArche", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TSteveArcheDitherer>(W, L); }},
      {"Burkes", [](int W, gif::TColorLookup* L) { return std::make_unique<gif::TBurkesDitherer>(W, L); }},
  };
}

}  // namespace

TEST(ColorLookup, FixedPalettes) {
  gif::TNetscapeColorLookup N;
  EXPECT_EQ(N.ColorCount(), 216);
  EXPECT_EQ(Look(N, 47, 47, 47).R, 0);
  EXPECT_EQ(Look(N, 48, 48, 48).R, 51);
  EXPECT_EQ(Look(N, 255, 255, 255).Index, 215);
  EXPECT_EQ(Look(N, 255, 0, 0).Index, 180);
  EXPECT_EQ(Look(N, 0, 0, 255).Index, 5);
  const Hit M = Look(N, 100, 160, 220);
  EXPECT_EQ(M.Index, 36 * 2 + 6 * 3 + 4);
  EXPECT_EQ(M.G, 153);

  gif::TGrayScaleLookup G;
  EXPECT_EQ(Look(G, 255, 255, 255).Index, 255);
  EXPECT_EQ(Look(G, 0, 0, 0).Index, 0);
  const Hit Red = Look(G, 255, 0, 0);
  EXPECT_EQ(Red.Index, 76);
  EXPECT_EQ(Red.B, 76);

  gif::TMonochromeLookup W;
  EXPECT_EQ(W.ColorCount(), 2);
  EXPECT_EQ(Look(W, 127, 127, 127).Index, 0);  // 32512 is not above the threshold
  const Hit White = Look(W, 128, 128, 128);
  EXPECT_EQ(White.Index, 1);
  EXPECT_EQ(White.R, 255);
}

TEST(ColorLookup, FastLookupNearestAndCells) {
  EXPECT_EQ(gif::TFastColorLookup(nullptr).ColorCount(), 0);

  HPALETTE P = Palette({{10, 10, 10}, {200, 0, 0}, {200, 0, 0}, {0, 0, 200}, {120, 120, 120}, {140, 140, 140}});
  {
    gif::TFastColorLookup L(P);
    EXPECT_EQ(L.ColorCount(), 6);
    // Two equal entries: the lower index.
    EXPECT_EQ(Look(L, 200, 0, 0).Index, 1);
    EXPECT_EQ(Look(L, 190, 20, 5).Index, 1);
    const Hit Blue = Look(L, 10, 10, 180);
    EXPECT_EQ(Blue.Index, 3);
    EXPECT_EQ(Blue.B, 200);
    // (128,128,128) is nearest to entry 4 by the sum of differences (24 against 36)...
    EXPECT_EQ(Look(L, 128, 128, 128).Index, 4);
    // ... and (135,135,135), although nearer to entry 5, shares its 5-5-5 cell and its answer.
    EXPECT_EQ(Look(L, 135, 135, 135).Index, 4);
    gif::TFastColorLookup Fresh(P);
    EXPECT_EQ(Look(Fresh, 135, 135, 135).Index, 5);
  }
  DeleteObject(P);
}

TEST(DitherEngine, NearestWalksSerpentine) {
  gif::TNetscapeColorLookup L;
  TDitherEngine E(3, &L);
  std::vector<int> Columns;
  std::uint8_t r, g, b;
  for (int Row = 0; Row < 3; ++Row) {
    while (E.Column() >= 0 && E.Column() < 3) {
      Columns.push_back(E.Column());
      E.DitherPixel(0, 0, 0, r, g, b);
    }
    E.AdvanceRow();
  }
  EXPECT_EQ(Columns, (std::vector<int>{0, 1, 2, 2, 1, 0, 0, 1, 2}));
  // A picture one pixel wide still flips the direction after every row.
  TDitherEngine One(1, &L);
  One.DitherPixel(0, 0, 0, r, g, b);
  One.AdvanceRow();
  EXPECT_EQ(One.Direction(), -1);
  EXPECT_EQ(One.Column(), 0);
  One.AdvanceRow();
  EXPECT_EQ(One.Direction(), 1);
}

TEST(DitherEngine, FloydSteinbergRunningValues) {
  // Grey 100 rows over black and white, worked through by hand: the first row left to right
  // gives 0 1 0 (values 100, 144, 52); the second, right to left, reads the sums the first row
  // left one entry on: 100, 153, 38 -> again 0 1 0 in column order.
  gif::TMonochromeLookup L;
  gif::TFloydSteinbergDitherer E(3, &L);
  const auto Out = Dither(E, 3, 2, [](int, int) { return Rgb{100, 100, 100}; });
  EXPECT_EQ(Out, (std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0}));
}

TEST(DitherEngine, ExactPaletteGivesNearestColours) {
  // Every pixel is a palette colour: no error arises and all engines agree with the nearest.
  gif::TNetscapeColorLookup L;
  auto Pixel = [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(51 * (x % 6)), static_cast<std::uint8_t>(51 * (y % 6)),
               static_cast<std::uint8_t>(51 * ((x + y) % 6))};
  };
  TDitherEngine Nearest(17, &L);
  const auto Expected = Dither(Nearest, 17, 9, Pixel);
  for (auto& [Name, Make] : Diffusers()) {
    auto E = Make(17, &L);
    EXPECT_EQ(Dither(*E, 17, 9, Pixel), Expected) << Name;
  }
}

TEST(DitherEngine, KernelsKeepTheMeanGrey) {
  // Error diffusion keeps the picture's mean: grey 90 over black and white gives about 35 %
  // white with every kernel; nearest colour alone gives none.
  gif::TMonochromeLookup L;
  const int W = 64, H = 64;
  auto Grey = [](int, int) { return Rgb{90, 90, 90}; };
  TDitherEngine Nearest(W, &L);
  const auto Flat = Dither(Nearest, W, H, Grey);
  EXPECT_EQ(std::count(Flat.begin(), Flat.end(), 1), 0);
  for (auto& [Name, Make] : Diffusers()) {
    auto E = Make(W, &L);
    const auto Out = Dither(*E, W, H, Grey);
    const double White = static_cast<double>(std::count(Out.begin(), Out.end(), 1)) / (W * H);
    EXPECT_NEAR(White, 90.0 / 255.0, 0.02) << Name;
    // No long runs of one value along a row: the error is spread, not piled up (the
    // Stevenson-Arce kernel, made for a hexagonal grid, passes its row error two columns on and
    // lays flat greys in rows of their own).
    if (std::string(Name) == "SteveArche") continue;
    int Run = 0, Longest = 0;
    for (int i = 1; i < W; ++i) {
      Run = Out[static_cast<std::size_t>(10 * W + i)] == Out[static_cast<std::size_t>(10 * W + i - 1)] ? Run + 1 : 0;
      Longest = std::max(Longest, Run);
    }
    EXPECT_LT(Longest, 8) << Name;
  }
}

TEST(DitherEngine, KernelsKeepTheMeanColour) {
  // A smooth colour ramp onto the 216 web colours: each channel's mean stays within a few
  // levels of the input's.
  gif::TNetscapeColorLookup L;
  const int W = 80, H = 40;
  auto Ramp = [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 3), static_cast<std::uint8_t>(200 - y * 2), static_cast<std::uint8_t>(77)};
  };
  for (auto& [Name, Make] : Diffusers()) {
    auto E = Make(W, &L);
    const auto Out = Dither(*E, W, H, Ramp);
    double In[3] = {0, 0, 0}, Got[3] = {0, 0, 0};
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const Rgb C = Ramp(x, y);
        const int I = Out[static_cast<std::size_t>(y) * W + x];
        In[0] += C.R;
        In[1] += C.G;
        In[2] += C.B;
        Got[0] += 51 * (I / 36);
        Got[1] += 51 * (I / 6 % 6);
        Got[2] += 51 * (I % 6);
      }
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(Got[c] / (W * H), In[c] / (W * H), 3.0) << Name << " channel " << c;
  }
}

TEST(DitherEngine, EdgesAndSkippedPixels) {
  // Bright right edges next to dark left edges: errors of a row's last pixel land in the spare
  // entries and never reach the next row's first pixel, which stays black.
  gif::TMonochromeLookup L;
  for (auto& [Name, Make] : Diffusers()) {
    for (int W : {1, 2, 5}) {
      auto E = Make(W, &L);
      const auto Out = Dither(*E, W, 6, [W](int x, int) {
        return x == W - 1 && W > 1 ? Rgb{120, 120, 120} : Rgb{0, 0, 0};
      });
      for (int y = 0; y < 6; ++y)
        if (W > 1) {
          EXPECT_EQ(Out[static_cast<std::size_t>(y) * W], 0) << Name << " width " << W << " row " << y;
        }
    }
  }
  // AdvanceColumn moves the column only: the next pixel still gets the error the skipped one
  // would have read.
  gif::TStuckiDitherer S(4, &L);
  std::uint8_t r, g, b;
  S.DitherPixel(100, 100, 100, r, g, b);  // black, error 100 onto the next two entries
  S.AdvanceColumn();
  EXPECT_EQ(S.Column(), 2);
  // The entry read now is the one next to the first pixel: 110 + (800 + 21) / 42 = 129 (white),
  // while the entry of column 2 (400) would have given 120 (black).
  EXPECT_EQ(S.DitherPixel(110, 110, 110, r, g, b), 1);
}
