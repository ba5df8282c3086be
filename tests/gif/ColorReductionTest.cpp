// Bitmap colour reduction: every reduction method, the dither modes, the errors of unusable
// combinations, exact colours kept, and the source left as it was.
#include <gtest/gtest.h>

#include <set>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;
using gif::ReduceBitmapColors;

namespace {

std::unique_ptr<TBitmap> Gradient(int W = 64, int H = 48) {
  return PaintBitmap24(W, H, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5), static_cast<std::uint8_t>(255 - x * 3)};
  });
}

std::set<int> Used(TBitmap* B) {
  std::set<int> S;
  for (std::uint8_t I : IndicesOf(B)) S.insert(I);
  return S;
}

}  // namespace

TEST(ColorReduction, KeepTrueColorCopies) {
  auto Src = Gradient();
  Src->SetPixelFormat(pf32bit);
  auto R = ReduceBitmapColors(Src.get(), gif::grKeepTrueColor, gif::gdNearest, 8, nullptr);
  EXPECT_EQ(R->PixelFormat(), pf24bit);
  EXPECT_EQ(Src->PixelFormat(), pf32bit);
  EXPECT_EQ(PixelsOf(R.get()), PixelsOf(Src.get()));
}

TEST(ColorReduction, WebSafeNearest) {
  auto Src = Gradient();
  Src->SetPixelFormat(pf32bit);
  const auto In = PixelsOf(Src.get());
  auto R = ReduceBitmapColors(Src.get(), gif::grWebSafe216, gif::gdNearest, 8, nullptr);
  EXPECT_EQ(Src->PixelFormat(), pf32bit);
  ASSERT_EQ(R->PixelFormat(), pf8bit);
  const auto Out = IndicesOf(R.get());
  const auto Shown = PixelsOf(R.get());
  for (std::size_t i = 0; i < In.size(); ++i) {
    const int Index = 36 * ((In[i].R + 3) / 51) + 6 * ((In[i].G + 3) / 51) + (In[i].B + 3) / 51;
    ASSERT_EQ(Out[i], Index) << i;
    ASSERT_EQ(Shown[i].R, 51 * ((In[i].R + 3) / 51)) << i;
  }
}

TEST(ColorReduction, EveryMethodStaysInItsPalette) {
  struct Case {
    gif::TGIFColorReductionKind Kind;
    int Bits;
    std::size_t MaxColors;
  };
  const Case Cases[] = {{gif::grSystem20, 8, 20},  {gif::grHalftone, 8, 256},  {gif::grGray4, 8, 4},
                        {gif::grBlackWhite, 8, 2}, {gif::grGray256, 8, 256},  {gif::grWebSafe216, 8, 216},
                        {gif::grOctree, 1, 2},     {gif::grOctree, 4, 16},    {gif::grOctree, 8, 256},
                        {gif::grOctreeWithSystem, 8, 256}};
  for (const Case& C : Cases)
    for (int D = gif::gdNearest; D <= gif::gdBurkes; ++D) {
      auto Src = Gradient();
      auto R = ReduceBitmapColors(Src.get(), C.Kind, static_cast<gif::TGIFDitherKind>(D), C.Bits, nullptr);
      ASSERT_EQ(R->PixelFormat(), pf8bit) << int(C.Kind) << "/" << D;
      const auto U = Used(R.get());
      EXPECT_LT(static_cast<std::size_t>(*U.rbegin()), C.MaxColors) << int(C.Kind) << "/" << D;
      if (C.Kind == gif::grBlackWhite && D == gif::gdFloydSteinberg) {
        EXPECT_EQ(U, (std::set<int>{0, 1}));
      }
    }
  // Octree reductions give their palette as the colour table.
  auto Src = Gradient();
  auto R = ReduceBitmapColors(Src.get(), gif::grOctree, gif::gdNearest, 1, nullptr);
  EXPECT_EQ(EntriesOf(R->Palette()).size() >= 2, true);
  // Bits beyond 8 do not overrun the 256-entry table.
  auto Src2 = Gradient();
  auto R2 = ReduceBitmapColors(Src2.get(), gif::grOctree, gif::gdNearest, 12, nullptr);
  EXPECT_EQ(R2->PixelFormat(), pf8bit);
  auto Src3 = Gradient();
  auto R3 = ReduceBitmapColors(Src3.get(), gif::grOctree, gif::gdNearest, -3, nullptr);
  EXPECT_LE(Used(R3.get()).size(), 2u);
}

TEST(ColorReduction, GivenPalette) {
  auto Src = Gradient();
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + 16 * sizeof(PALETTEENTRY));
  auto* L = reinterpret_cast<LOGPALETTE*>(Block.data());
  L->palVersion = 0x300;
  L->palNumEntries = 16;
  for (int i = 0; i < 16; ++i)
    L->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i * 17), static_cast<BYTE>(255 - i * 17), 128, 0};
  HPALETTE P = CreatePalette(L);
  auto R = ReduceBitmapColors(Src.get(), gif::grGivenPalette, gif::gdSierra, 8, P);
  EXPECT_LT(*Used(R.get()).rbegin(), 16);
  // The given palette stays the caller's.
  EXPECT_EQ(GetObjectType(P), OBJ_PAL);
  DeleteObject(P);
}

TEST(ColorReduction, UnusableCombinationsRaise) {
  auto Src = Gradient();
  auto Message = [](auto&& Call) {
    try {
      Call();
    } catch (const gif::GIFException& E) {
      return std::string(E.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(Message([&] {
              ReduceBitmapColors(Src.get(), static_cast<gif::TGIFColorReductionKind>(10), gif::gdNearest, 8, nullptr);
            }),
            "Invalid reduction method");
  EXPECT_EQ(Message([&] {
              ReduceBitmapColors(Src.get(), gif::grWebSafe216, static_cast<gif::TGIFDitherKind>(7), 8, nullptr);
            }),
            "Invalid dither method");
  EXPECT_EQ(Message([&] { ReduceBitmapColors(Src.get(), gif::grGivenPalette, gif::gdNearest, 8, nullptr); }),
            "No palette given for color reduction");
  // A source without pixels, whatever the reduction.
  for (auto Kind : {gif::grWebSafe216, gif::grOctree, gif::grOctreeWithSystem, gif::grGray4}) {
    TBitmap Zero;
    Zero.SetPixelFormat(pf24bit);
    Zero.SetHeight(5);
    EXPECT_EQ(Message([&] { ReduceBitmapColors(&Zero, Kind, gif::gdNearest, 8, nullptr); }), "Invalid image dimensions")
        << int(Kind);
  }
  // Through the image's import the same error reaches the caller.
  gif::TGIFImage Image;
  Image.SetColorReduction(gif::grGivenPalette);
  EXPECT_EQ(Message([&] { Image.Assign(Src.get()); }), "No palette given for color reduction");
}

TEST(ColorReduction, ExactColoursKeepTheirEntries) {
  // 200 colours reduced by octree to 256 entries without dithering: every pixel keeps its
  // colour and all 200 entries are used.
  std::vector<Rgb> Colors;
  Rng R(3);
  for (int i = 0; i < 200; ++i)
    Colors.push_back(Rgb{static_cast<std::uint8_t>(R.Below(256)), static_cast<std::uint8_t>(R.Below(256)),
                         static_cast<std::uint8_t>(R.Below(256))});
  auto Src = PaintBitmap24(100, 100, [&](int x, int y) { return Colors[static_cast<std::size_t>((x * 7 + y * 13) % 200)]; });
  auto Out = ReduceBitmapColors(Src.get(), gif::grOctree, gif::gdNearest, 8, nullptr);
  EXPECT_EQ(PixelsOf(Out.get()), PixelsOf(Src.get()));
  EXPECT_EQ(Used(Out.get()).size(), 200u);
  // Greys onto the 256-grey table through a given palette: each its own entry.
  auto Greys = PaintBitmap24(256, 4, [](int x, int) {
    const auto V = static_cast<std::uint8_t>(x);
    return Rgb{V, V, V};
  });
  HPALETTE G = gif::Gray256Palette();
  auto Grey = ReduceBitmapColors(Greys.get(), gif::grGivenPalette, gif::gdFloydSteinberg, 8, G);
  DeleteObject(G);
  const auto Indices = IndicesOf(Grey.get());
  for (int x = 0; x < 256; ++x) ASSERT_EQ(Indices[static_cast<std::size_t>(x)], x);
}

TEST(ColorReduction, SourceKeepsItsFormat) {
  // A 32-bit bitmap with alpha comes back from the reduction and from the image's import as it
  // was: format and bytes.
  auto Src = Gradient(20, 10);
  Src->SetPixelFormat(pf32bit);
  for (int y = 0; y < 10; ++y) {
    auto* Row = static_cast<std::uint8_t*>(Src->ScanLine(y));
    for (int x = 0; x < 20; ++x) Row[x * 4 + 3] = static_cast<std::uint8_t>(x * 12);
  }
  auto Bytes32 = [&] {
    std::vector<std::uint8_t> B;
    for (int y = 0; y < 10; ++y) {
      const auto* Row = static_cast<const std::uint8_t*>(Src->ScanLine(y));
      B.insert(B.end(), Row, Row + 80);
    }
    return B;
  };
  const auto Before = Bytes32();
  for (int Kind : {gif::grWebSafe216, gif::grOctree, gif::grGray256}) {
    ReduceBitmapColors(Src.get(), static_cast<gif::TGIFColorReductionKind>(Kind), gif::gdSierra, 8, nullptr);
    ASSERT_EQ(Src->PixelFormat(), pf32bit) << Kind;
    ASSERT_EQ(Bytes32(), Before) << Kind;
  }
  gif::TGIFImage Image;
  Image.Assign(Src.get());
  EXPECT_EQ(Image.Images().Count(), 1);
  EXPECT_EQ(Src->PixelFormat(), pf32bit);
  EXPECT_EQ(Bytes32(), Before);
}

TEST(ColorReduction, LargePictures) {
  // 1000 x 600: the result is made 1 bit deep before the reduction and ends at 8 bits.
  auto Src = PaintBitmap24(1000, 600, [](int x, int y) {
    return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x ^ y)};
  });
  auto R = ReduceBitmapColors(Src.get(), gif::grWebSafe216, gif::gdFloydSteinberg, 8, nullptr);
  EXPECT_EQ(R->PixelFormat(), pf8bit);
  EXPECT_EQ(R->Width(), 1000);
  EXPECT_EQ(R->Height(), 600);
}
