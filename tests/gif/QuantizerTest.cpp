// Octree quantizer and fixed palettes.
#include <gtest/gtest.h>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

std::vector<Rgb> Colors(HPALETTE P) {
  std::vector<Rgb> C;
  for (const PALETTEENTRY& E : EntriesOf(P)) C.push_back(Rgb{E.peRed, E.peGreen, E.peBlue});
  DeleteObject(P);
  return C;
}

std::vector<Rgb> Leaves(gif::TColorQuantizer& Q) {
  RGBQUAD E[256];
  const int N = Q.FillPalette(E, 256);
  std::vector<Rgb> C;
  for (int i = 0; i < N; ++i) C.push_back(Rgb{E[i].rgbRed, E[i].rgbGreen, E[i].rgbBlue});
  return C;
}

}  // namespace

TEST(FixedPalettes, Entries) {
  const auto Web = Colors(gif::WebSafePalette());
  ASSERT_EQ(Web.size(), 216u);
  EXPECT_EQ(Web[0], (Rgb{0, 0, 0}));
  EXPECT_EQ(Web[215], (Rgb{255, 255, 255}));
  EXPECT_EQ(Web[180], (Rgb{255, 0, 0}));
  EXPECT_EQ(Web[5], (Rgb{0, 0, 255}));
  EXPECT_EQ(Colors(gif::Gray4Palette()), (std::vector<Rgb>{{0, 0, 0}, {128, 128, 128}, {192, 192, 192}, {255, 255, 255}}));
  EXPECT_EQ(Colors(gif::BlackWhitePalette()), (std::vector<Rgb>{{0, 0, 0}, {255, 255, 255}}));
  const auto Grey = Colors(gif::Gray256Palette());
  ASSERT_EQ(Grey.size(), 256u);
  EXPECT_EQ(Grey[77], (Rgb{77, 77, 77}));
  HPALETTE H = gif::HalftonePalette();
  EXPECT_GE(EntriesOf(H).size(), 216u);
  DeleteObject(H);
}

TEST(Octree, LeavesAndMerges) {
  gif::TColorQuantizer One(256, 8);
  for (int i = 0; i < 50; ++i) One.AddColor(12, 200, 7);
  EXPECT_EQ(Leaves(One), (std::vector<Rgb>{{12, 200, 7}}));

  // Colours one bit apart in red are two leaves at depth 8.
  gif::TColorQuantizer Two(256, 8);
  Two.AddColor(100, 50, 50);
  Two.AddColor(101, 50, 50);
  EXPECT_EQ(Two.LeafCount(), 2);

  // Four colours in four top-level cubes with room for two: the root becomes one leaf with the
  // pixel-weighted mean.
  gif::TColorQuantizer Small(2, 8);
  const Rgb In[] = {{10, 10, 10}, {250, 10, 10}, {10, 250, 10}, {10, 10, 250}};
  const int Weight[] = {1, 1, 1, 5};
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < Weight[c]; ++i) Small.AddColor(In[c].R, In[c].G, In[c].B);
  EXPECT_EQ(Leaves(Small), (std::vector<Rgb>{{40, 40, 160}}));

  // The leaf count never stays above the maximum.
  gif::TColorQuantizer Many(16, 8);
  Rng R(3);
  for (int i = 0; i < 5000; ++i) {
    Many.AddColor(static_cast<std::uint8_t>(R.Below(256)), static_cast<std::uint8_t>(R.Below(256)),
                  static_cast<std::uint8_t>(R.Below(256)));
    ASSERT_LE(Many.LeafCount(), 16);
  }
}

TEST(Octree, LargePicturesKeepTheirColour) {
  // Nine million white pixels sum beyond 32 bits in one leaf.
  gif::TColorQuantizer Q(256, 8);
  for (int i = 0; i < 9'000'000; ++i) Q.AddColor(255, 250, 255);
  EXPECT_EQ(Leaves(Q), (std::vector<Rgb>{{255, 250, 255}}));
}

TEST(Octree, PalettesOfAPicture) {
  auto B = PaintBitmap24(40, 30, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8), static_cast<std::uint8_t>(x + y)};
  });
  const auto Sixteen = Colors(gif::OptimizedPaletteForBitmap(B.get(), 16, 8, false));
  EXPECT_EQ(Sixteen.size(), 16u);
  EXPECT_EQ(B->PixelFormat(), pf24bit);

  // With system colours: the 20 static colours frame 236 quantized ones.
  const auto System = EntriesOf(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
  ASSERT_EQ(System.size(), 20u);
  const auto Framed = Colors(gif::OptimizedPaletteForBitmap(B.get(), 256, 8, true));
  ASSERT_EQ(Framed.size(), 256u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Framed[static_cast<std::size_t>(i)], (Rgb{System[i].peRed, System[i].peGreen, System[i].peBlue}));
    EXPECT_EQ(Framed[static_cast<std::size_t>(246 + i)],
              (Rgb{System[10 + i].peRed, System[10 + i].peGreen, System[10 + i].peBlue}));
  }
  // A picture of three colours: three quantized entries, the rest black.
  auto Three = MakeBitmap24(3, 1, std::vector<Rgb>{{200, 0, 0}, {0, 200, 0}, {0, 0, 200}});
  const auto Few = Colors(gif::OptimizedPaletteForBitmap(Three.get(), 8, 8, false));
  ASSERT_EQ(Few.size(), 8u);
  EXPECT_EQ(std::count(Few.begin(), Few.end(), Rgb{}), 5);
  // Counts beyond the table are held to 256 entries.
  EXPECT_EQ(Colors(gif::OptimizedPaletteForBitmap(B.get(), 100000, 8, false)).size(), 256u);
}
