// Colour lookups and dithering engines: the lookups' arithmetic and exact nearest entries, the
// serpentine walk, every kernel against a floating-point reference of its published weights,
// no stripes, and that every kernel keeps a picture's mean colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

// The same, skipping (AdvanceColumn) the pixels for which Skip holds; 255 marks them.
std::vector<std::uint8_t> DitherSkipping(TDitherEngine& E, int Width, int Height,
                                         const std::function<Rgb(int, int)>& Pixel,
                                         const std::function<bool(int, int)>& Skip) {
  std::vector<std::uint8_t> Out(static_cast<std::size_t>(Width) * Height, 255);
  std::uint8_t r, g, b;
  for (int y = 0; y < Height; ++y) {
    for (int x = E.Column(); x >= 0 && x < Width; x = E.Column()) {
      if (Skip(x, y)) {
        E.AdvanceColumn();
        continue;
      }
      const Rgb C = Pixel(x, y);
      Out[static_cast<std::size_t>(y) * Width + x] = E.DitherPixel(C.R, C.G, C.B, r, g, b);
    }
    E.AdvanceRow();
  }
  return Out;
}

// A kernel as published: cells (dx ahead in the direction of the scan, dy rows down, weight),
// divided by the divisor.
struct Kernel {
  std::vector<std::array<int, 3>> Cells;
  double Divisor;
};

// Reference error diffusion in floating point over the whole picture: each pixel takes the sum
// of the shares sent to it, rounded to the nearest level (halves upward); cells beyond the
// edges and on skipped pixels are dropped; rows are walked in alternating directions.
std::vector<std::uint8_t> Reference(const Kernel& K, gif::TColorLookup& L, int Width, int Height,
                                    const std::function<Rgb(int, int)>& Pixel,
                                    const std::function<bool(int, int)>& Skip) {
  std::vector<std::array<double, 3>> Err(static_cast<std::size_t>(Width) * Height, {0, 0, 0});
  std::vector<std::uint8_t> Out(static_cast<std::size_t>(Width) * Height, 255);
  for (int y = 0; y < Height; ++y) {
    const int Dir = y % 2 ? -1 : 1;
    for (int i = 0; i < Width; ++i) {
      const int x = Dir > 0 ? i : Width - 1 - i;
      if (Skip(x, y)) continue;
      const Rgb C = Pixel(x, y);
      const int In[3] = {C.R, C.G, C.B};
      int V[3];
      for (int c = 0; c < 3; ++c)
        V[c] = std::clamp(In[c] + static_cast<int>(std::floor(Err[static_cast<std::size_t>(y) * Width + x][c] + 0.5 + 1e-7)),
                          0, 255);
      std::uint8_t r, g, b;
      Out[static_cast<std::size_t>(y) * Width + x] =
          L.LookupIndex(static_cast<std::uint8_t>(V[0]), static_cast<std::uint8_t>(V[1]), static_cast<std::uint8_t>(V[2]),
                        r, g, b);
      const int Shown[3] = {r, g, b};
      for (const auto& Cell : K.Cells) {
        const int X = x + Cell[0] * Dir, Y = y + Cell[1];
        if (X < 0 || X >= Width || Y >= Height || Skip(X, Y)) continue;
        for (int c = 0; c < 3; ++c)
          Err[static_cast<std::size_t>(Y) * Width + X][c] += (V[c] - Shown[c]) * Cell[2] / K.Divisor;
      }
    }
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

// The published weights, in the order of Diffusers().
std::vector<Kernel> PublishedKernels() {
  auto Row5 = [](int Dy, std::array<int, 5> W) {
    std::vector<std::array<int, 3>> C;
    for (int i = 0; i < 5; ++i)
      if (W[static_cast<std::size_t>(i)]) C.push_back({i - 2, Dy, W[static_cast<std::size_t>(i)]});
    return C;
  };
  auto Join = [](std::initializer_list<std::vector<std::array<int, 3>>> Parts) {
    std::vector<std::array<int, 3>> C;
    for (const auto& P : Parts) C.insert(C.end(), P.begin(), P.end());
    return C;
  };
  return {
      {{{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}, 16},
      {Join({{{1, 0, 8}, {2, 0, 4}}, Row5(1, {2, 4, 8, 4, 2}), Row5(2, {1, 2, 4, 2, 1})}), 42},
      {Join({{{1, 0, 5}, {2, 0, 3}}, Row5(1, {2, 4, 5, 4, 2}), Row5(2, {0, 2, 3, 2, 0})}), 32},
      {Join({{{1, 0, 7}, {2, 0, 5}}, Row5(1, {3, 5, 7, 5, 3}), Row5(2, {1, 3, 5, 3, 1})}), 48},
      {{{2, 0, 32},
        {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16},
        {-2, 2, 12}, {0, 2, 26}, {2, 2, 12},
        {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}},
       200},
      {Join({{{1, 0, 8}, {2, 0, 4}}, Row5(1, {2, 4, 8, 4, 2})}), 32},
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

TEST(ColorLookup, FastLookupFindsTheNearestEntry) {
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
    // Two colours of one 5-5-5 cell each get their own nearest entry, in either order.
    EXPECT_EQ(Look(L, 128, 128, 128).Index, 4);
    EXPECT_EQ(Look(L, 135, 135, 135).Index, 5);
    gif::TFastColorLookup Fresh(P);
    EXPECT_EQ(Look(Fresh, 135, 135, 135).Index, 5);
    EXPECT_EQ(Look(Fresh, 128, 128, 128).Index, 4);
  }
  DeleteObject(P);

  // Every grey of the 256-grey palette is its own entry.
  HPALETTE Grey = gif::Gray256Palette();
  {
    gif::TFastColorLookup L(Grey);
    for (int v = 0; v < 256; ++v) ASSERT_EQ(Look(L, v, v, v).Index, v) << v;
  }
  DeleteObject(Grey);

  // Random palettes and colours against a search of the whole palette (squared distance, lowest
  // index on a tie); palette colours map to themselves.
  Rng R(7);
  for (int Round = 0; Round < 4; ++Round) {
    std::vector<Rgb> Colors;
    const int N = Round == 0 ? 256 : 2 + R.Below(200);
    for (int i = 0; i < N; ++i)
      Colors.push_back(Rgb{static_cast<std::uint8_t>(R.Below(256)), static_cast<std::uint8_t>(R.Below(256)),
                           static_cast<std::uint8_t>(Round == 3 ? 0 : R.Below(256))});
    HPALETTE Q = Palette(Colors);
    gif::TFastColorLookup L(Q);
    for (int i = 0; i < N; ++i) {
      const Rgb& C = Colors[static_cast<std::size_t>(i)];
      const Hit H = Look(L, C.R, C.G, C.B);
      ASSERT_TRUE((Rgb{static_cast<std::uint8_t>(H.R), static_cast<std::uint8_t>(H.G), static_cast<std::uint8_t>(H.B)} == C))
          << i;
      ASSERT_LE(H.Index, i);
    }
    for (int k = 0; k < 20000; ++k) {
      const int r = R.Below(256), g = R.Below(256), b = R.Below(256);
      int Best = 1 << 30, Want = 0;
      for (int i = 0; i < N; ++i) {
        const Rgb& C = Colors[static_cast<std::size_t>(i)];
        const int D = (C.R - r) * (C.R - r) + (C.G - g) * (C.G - g) + (C.B - b) * (C.B - b);
        if (D < Best) {
          Best = D;
          Want = i;
        }
      }
      ASSERT_EQ(Look(L, r, g, b).Index, Want) << r << "," << g << "," << b;
    }
    DeleteObject(Q);
  }
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

TEST(DitherEngine, KernelsMatchAReferenceOfTheirWeights) {
  // Ramps, flat greys and noise, with and without skipped (transparent) pixels, onto black and
  // white, the 216 web colours and four greys: every index equals the floating-point reference.
  gif::TMonochromeLookup Mono;
  gif::TNetscapeColorLookup Web;
  HPALETTE G4 = gif::Gray4Palette();
  gif::TFastColorLookup Grey4(G4);
  const std::vector<std::pair<const char*, gif::TColorLookup*>> Lookups{
      {"mono", &Mono}, {"web", &Web}, {"grey4", &Grey4}};
  const int W = 37, H = 23;
  const std::vector<std::pair<const char*, std::function<Rgb(int, int)>>> Pictures{
      {"grey ramp",
       [](int x, int) {
         const auto V = static_cast<std::uint8_t>(x * 255 / 36);
         return Rgb{V, V, V};
       }},
      {"colour ramp",
       [](int x, int y) {
         return Rgb{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(250 - y * 10), static_cast<std::uint8_t>(x * y)};
       }},
      {"grey 100", [](int, int) { return Rgb{100, 100, 100}; }},
      {"grey 128", [](int, int) { return Rgb{128, 128, 128}; }},
      {"grey 3", [](int, int) { return Rgb{3, 3, 3}; }},
      {"noise",
       [](int x, int y) {
         const auto h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
         return Rgb{static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h >> 16)};
       }},
  };
  const std::vector<std::function<bool(int, int)>> Skips{
      [](int, int) { return false; },
      [](int x, int y) { return (x >= 10 && x < 14) || (x + y) % 11 == 0; },
  };
  const auto Kernels = PublishedKernels();
  const auto Makers = Diffusers();
  for (std::size_t k = 0; k < Makers.size(); ++k)
    for (const auto& [LName, L] : Lookups)
      for (const auto& [PName, Pixel] : Pictures)
        for (std::size_t s = 0; s < Skips.size(); ++s) {
          auto E = Makers[k].second(W, L);
          const auto Got = DitherSkipping(*E, W, H, Pixel, Skips[s]);
          const auto Want = Reference(Kernels[k], *L, W, H, Pixel, Skips[s]);
          int Wrong = 0;
          std::size_t First = 0;
          for (std::size_t i = 0; i < Got.size(); ++i)
            if (Got[i] != Want[i] && Wrong++ == 0) First = i;
          EXPECT_EQ(Wrong, 0) << Makers[k].first << " " << LName << " " << PName << " skips " << s << ": first at ("
                              << First % W << ", " << First / W << ")";
        }
  DeleteObject(G4);
}

TEST(DitherEngine, NoStripes) {
  // A grey ramp over black and white, and one between two web levels: averaged down each column
  // and along each row, the output follows the input (column stripes would swing by half the
  // range), and 50 % grey is a checkerboard.
  gif::TMonochromeLookup Mono;
  gif::TNetscapeColorLookup Web;
  const int W = 128, H = 64;
  struct Case {
    const char* Name;
    gif::TColorLookup* L;
    int Low, High;  // the ramp's ends, which the lookup shows exactly
  };
  for (const Case& C : {Case{"mono", &Mono, 0, 255}, Case{"web", &Web, 102, 153}}) {
    auto Ramp = [&](int x, int) {
      const auto V = static_cast<std::uint8_t>(C.Low + (C.High - C.Low) * x / (W - 1));
      return Rgb{V, V, V};
    };
    for (auto& [Name, Make] : Diffusers()) {
      auto E = Make(W, C.L);
      const auto Out = Dither(*E, W, H, Ramp);
      auto Shown = [&](int x, int y) {
        std::uint8_t r, g, b;
        const std::uint8_t I = Out[static_cast<std::size_t>(y) * W + x];
        if (C.L == &Mono) return I ? 255 : 0;
        r = static_cast<std::uint8_t>(51 * (I / 36));
        (void)g;
        (void)b;
        return static_cast<int>(r);
      };
      for (int x = 2; x < W - 2; ++x) {
        double Sum = 0;
        for (int y = 8; y < H; ++y) Sum += Shown(x, y);
        EXPECT_NEAR(Sum / (H - 8), Ramp(x, 0).R, (C.High - C.Low) * 0.3) << C.Name << " " << Name << " column " << x;
      }
      for (int y = 8; y < H; ++y) {
        double Sum = 0, Want = 0;
        for (int x = 0; x < W; ++x) {
          Sum += Shown(x, y);
          Want += Ramp(x, y).R;
        }
        EXPECT_NEAR(Sum / W, Want / W, (C.High - C.Low) * 0.1) << C.Name << " " << Name << " row " << y;
      }
    }
  }
  // Floyd-Steinberg lays a grey half way between its two colours as a checkerboard: exactly
  // over black and white, and on the web colours once the first rows have settled.
  auto Checkered = [](const std::vector<std::uint8_t>& Out, int Side, int FromRow) {
    int Alternating = 0;
    for (int y = FromRow; y < Side; ++y)
      for (int x = 1; x < Side; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * Side + x;
        Alternating += Out[i] != Out[i - 1] && Out[i] != Out[i - static_cast<std::size_t>(Side)];
      }
    return static_cast<double>(Alternating) / ((Side - FromRow) * (Side - 1));
  };
  gif::TFloydSteinbergDitherer Half(24, &Mono);
  EXPECT_EQ(Checkered(Dither(Half, 24, 24, [](int, int) { return Rgb{128, 128, 128}; }), 24, 1), 1.0);
  gif::TFloydSteinbergDitherer WebHalf(24, &Web);
  EXPECT_GE(Checkered(Dither(WebHalf, 24, 24, [](int, int) { return Rgb{127, 127, 127}; }), 24, 6), 0.8);
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
  // Skipped (transparent) pixels keep the error positions with the column: a flat grey with a
  // transparent band keeps its mean on every kernel.
  gif::TNetscapeColorLookup Web;
  const int W = 60, H = 40;
  for (auto& [Name, Make] : Diffusers()) {
    auto E = Make(W, &Web);
    const auto Out = DitherSkipping(*E, W, H, [](int, int) { return Rgb{100, 100, 100}; },
                                    [](int x, int) { return x >= 20 && x < 28; });
    double Sum = 0;
    int N = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        if (x < 20 || x >= 28) {
          Sum += 51 * (Out[static_cast<std::size_t>(y) * W + x] / 36);
          ++N;
        }
    EXPECT_NEAR(Sum / N, 100.0, 0.5) << Name;
  }
}
