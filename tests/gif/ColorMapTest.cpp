// Colour maps: table editing, stream form, palettes, and the optimisation by use.
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

// A stand-alone local map with no frame.
struct Map : gif::TGIFLocalColorMap {
  Map() : gif::TGIFLocalColorMap(nullptr) {}
};

Bytes Written(gif::TGIFColorMap& M) {
  TMemoryStream S;
  M.WriteToStream(&S);
  return BytesOf(S);
}

}  // namespace

TEST(ColorMap, StreamFormPadsToAPowerOfTwo) {
  Map M;
  EXPECT_TRUE(Written(M).empty());
  EXPECT_EQ(M.TableBits(), 0);
  M.AddColor(0x030201);
  M.AddColor(0x060504);
  M.AddColor(0x090807);
  EXPECT_EQ(M.TableBits(), 2);
  EXPECT_EQ(Written(M), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
  for (int i = 3; i < 129; ++i) M.AddColor(i);
  EXPECT_EQ(M.TableBits(), 8);
  EXPECT_EQ(Written(M).size(), 256u * 3);
  const std::pair<int, int> Bits[] = {{1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {129, 8}, {256, 8}};
  for (auto [N, B] : Bits) {
    Map K;
    for (int i = 0; i < N; ++i) K.AddColor(i);
    EXPECT_EQ(K.TableBits(), B) << N;
  }
  // Reading leaves the sorted flag false.
  auto S = StreamOf(Bytes(12, 9));
  M.SetSorted(true);
  M.ReadFromStream(S.get(), 4);
  EXPECT_EQ(M.Count(), 4);
  EXPECT_FALSE(M.Sorted());
  S = StreamOf(Bytes(5, 9));
  EXPECT_THROW(M.ReadFromStream(S.get(), 2), gif::GIFException);
}

TEST(ColorMap, CapacityAndOverflow) {
  Map M;
  M.AddColor(1);
  EXPECT_EQ(M.Capacity(), 16);
  for (int i = 1; i < 17; ++i) M.AddColor(i);
  EXPECT_EQ(M.Capacity(), 32);
  for (int i = 17; i < 33; ++i) M.AddColor(i);
  EXPECT_EQ(M.Capacity(), 64);
  for (int i = 33; i < 256; ++i) M.AddColor(i);
  EXPECT_EQ(M.Capacity(), 256);
  try {
    M.AddColor(1);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Color table overflow");
  }
  EXPECT_EQ(M.Count(), 256);
}

TEST(ColorMap, FindDeleteAndColorAt) {
  Map M;
  M.AddColor(0x112233);
  M.AddColor(0x445566);
  M.AddColor(0x112233);
  EXPECT_EQ(M.FindColor(0x112233), 2);  // not sorted: the last match
  M.SetSorted(true);
  EXPECT_EQ(M.FindColor(0x112233), 0);  // sorted: the first
  EXPECT_EQ(M.FindColor(0x010101), -1);
  EXPECT_EQ(M.AddIfMissing(0x445566), 1);
  EXPECT_EQ(M.ColorAt(1), 0x445566);
  EXPECT_THROW(M.DeleteColor(3), gif::GIFException);
  M.DeleteColor(0);
  EXPECT_EQ(M.Count(), 2);
  EXPECT_EQ(M.ColorAt(0), 0x445566);
  EXPECT_FALSE(M.Sorted());
  // Colours count with their low 24 bits.
  EXPECT_EQ(M.FindColor(0x7F445566), 0);
}

TEST(ColorMap, ColorAtOutsideWarnsOrRaises) {
  // Through a frame of an image, whose warning event receives the warning.
  Loaded L = Load(SimpleGif(2, 1, {0, 1}, 4));
  std::vector<std::string> W;
  L.Image->OnFormatWarning = [&](TObject*, int Severity, const std::string& M) {
    EXPECT_EQ(Severity, 1);
    W.push_back(M);
  };
  gif::TGIFColorMap* M = L.Image->GlobalColorMap();
  EXPECT_EQ(M->ColorAt(5), M->ColorAt(0));
  EXPECT_EQ(W, std::vector<std::string>{"Invalid color index"});
  M->Clear();
  try {
    M->ColorAt(0);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Color table is empty");
  }
}

TEST(ColorMap, PalettesAndColorTables) {
  Map M;
  EXPECT_EQ(M.CreatePaletteHandle(), nullptr);
  M.AddColor(0x0000FF);
  M.AddColor(0x00FF00);
  M.AddColor(0xFF0000);
  HPALETTE Pal = M.CreatePaletteHandle();
  ASSERT_NE(Pal, nullptr);
  PALETTEENTRY E[3];
  ASSERT_EQ(GetPaletteEntries(Pal, 0, 3, E), 3u);
  EXPECT_EQ(E[0].peRed, 255);
  EXPECT_EQ(E[1].peGreen, 255);
  EXPECT_EQ(E[2].peBlue, 255);
  EXPECT_EQ(E[0].peFlags, PC_NOCOLLAPSE);
  Map K;
  K.LoadFromPalette(Pal);
  EXPECT_EQ(MapBytes(&K), MapBytes(&M));
  DeleteObject(Pal);
  RGBQUAD Q[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  K.LoadFromColorTable(Q, 2);
  EXPECT_EQ(MapBytes(&K), (Bytes{3, 2, 1, 6, 5, 4}));
  K.LoadFromColorTable(Q, 0);
  EXPECT_EQ(K.Count(), 0);
  K.LoadFromPalette(nullptr);
  EXPECT_EQ(K.Count(), 0);
  // Assign copies entries and flag.
  M.SetSorted(true);
  K.Assign(&M);
  EXPECT_EQ(MapBytes(&K), MapBytes(&M));
  EXPECT_TRUE(K.Sorted());
}

TEST(ColorMap, OptimizeSortsByUseAndDropsUnused) {
  // Entries 0..7; pixels use 5 most, then 2, then 0; 1, 3, 4, 6, 7 unused. Transparent 6.
  const Bytes Pixels{5, 5, 5, 2, 2, 0, 5, 2, 5};
  Loaded L = Load(SimpleGif(3, 3, Pixels, 8));
  ASSERT_EQ(L.Error, "");
  gif::TGIFGlobalColorMap* M = L.Image->GlobalColorMap();
  const Bytes Before = MapBytes(M);
  ASSERT_TRUE(M->Optimize());
  EXPECT_TRUE(M->Sorted());
  EXPECT_EQ(M->Count(), 3);
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  EXPECT_EQ(FramePixels(F), (Bytes{0, 0, 0, 1, 1, 2, 0, 1, 0}));
  // The colours went with their pixels.
  const Bytes After = MapBytes(M);
  EXPECT_TRUE(std::equal(After.begin(), After.begin() + 3, Before.begin() + 15));
  EXPECT_TRUE(std::equal(After.begin() + 3, After.begin() + 6, Before.begin() + 6));
  // A table already in order keeps its unused trailing entries and sends no notice.
  Loaded L2 = Load(SimpleGif(6, 1, {0, 0, 0, 1, 1, 2}, 4));
  gif::TGIFGlobalColorMap* M2 = L2.Image->GlobalColorMap();
  EXPECT_TRUE(M2->Optimize());
  EXPECT_EQ(M2->Count(), 4);
  // The global map of an image without frames does nothing.
  gif::TGIFImage Empty;
  Empty.GlobalColorMap()->AddColor(1);
  Empty.GlobalColorMap()->AddColor(2);
  EXPECT_FALSE(Empty.GlobalColorMap()->Optimize());
}

TEST(ColorMap, OptimizeKeepsTheTransparentEntryAndEveryPixel) {
  // The transparent index 3 is used by no pixel: it stays an entry, and the graphic control
  // block follows it to its new place.
  Loaded L = Load(SimpleGif(4, 1, {1, 1, 2, 0}, 4, 0, 3));
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  gif::TGIFGlobalColorMap* M = L.Image->GlobalColorMap();
  const Bytes Before = MapBytes(M);
  ASSERT_TRUE(M->Optimize());
  const int T = F->GraphicControlExtension()->TransparentIndex();
  ASSERT_LT(T, M->Count());
  EXPECT_TRUE(std::equal(Before.begin() + 9, Before.begin() + 12, MapBytes(M).begin() + T * 3));
  // Pixels at or beyond the count (written after loading) keep an entry of their own.
  F->RowPointer(0)[3] = 9;
  ASSERT_TRUE(M->Optimize());
  const Bytes P = FramePixels(F);
  for (auto V : P) EXPECT_LT(V, M->Count());
  EXPECT_EQ(P[0], P[1]);
  EXPECT_NE(P[3], P[0]);
  EXPECT_NE(P[3], P[2]);
  EXPECT_LT(F->GraphicControlExtension()->TransparentIndex(), M->Count());
}

TEST(ColorMap, LocalMapOptimizeRewritesItsFrame) {
  Loaded L = Load(SimpleGif(4, 1, {3, 3, 3, 1}, 0, 4));
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  ASSERT_TRUE(F->ColorMap()->Optimize());
  EXPECT_EQ(F->ColorMap()->Count(), 2);
  EXPECT_EQ(FramePixels(F), (Bytes{0, 0, 0, 1}));
}
