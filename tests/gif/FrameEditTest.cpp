// Frames made from pictures (bitmaps of every depth, icons, metafiles, other frames), frame crop
// and merge, and the image optimisation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;
using gif::TGIFImage;
using gif::TGIFSubImage;

namespace {

const std::vector<Rgb> kFour{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

std::vector<Rgb> MapColors(gif::TGIFColorMap* Map) {
  std::vector<Rgb> C;
  for (int i = 0; i < Map->Count(); ++i) C.push_back(Rgb{Map->Data()[i * 3], Map->Data()[i * 3 + 1], Map->Data()[i * 3 + 2]});
  return C;
}

HPALETTE MakePalette(const std::vector<Rgb>& Colors) {
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * Colors.size());
  auto* P = reinterpret_cast<LOGPALETTE*>(Block.data());
  P->palVersion = 0x300;
  P->palNumEntries = static_cast<WORD>(Colors.size());
  for (std::size_t i = 0; i < Colors.size(); ++i) P->palPalEntry[i] = PALETTEENTRY{Colors[i].R, Colors[i].G, Colors[i].B, 0};
  return CreatePalette(P);
}

std::vector<std::string> Kinds(TGIFSubImage* F) {
  std::vector<std::string> K;
  for (int i = 0; i < F->Extensions().Count(); ++i) K.push_back(F->Extensions().ExtensionAt(i)->ClassType()->Name);
  return K;
}

}  // namespace

TEST(FrameImport, IndexedBitmaps) {
  TGIFImage Image;
  TGIFSubImage Frame(&Image);
  Frame.Assign(&Frame);
  EXPECT_TRUE(Frame.IsEmpty());

  // 4 bits, width 3: high nibble, low nibble, high nibble of the next byte.
  TBitmap Four;
  Four.SetPixelFormat(pf4bit);
  Four.SetWidth(3);
  Four.SetHeight(2);
  Four.SetPalette(MakePalette({{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}, {50, 0, 0}}));
  std::memcpy(Four.ScanLine(0), "\x12\x30", 2);
  std::memcpy(Four.ScanLine(1), "\x45\x10", 2);
  Frame.Assign(&Four);
  EXPECT_EQ(FramePixels(&Frame), (Bytes{1, 2, 3, 4, 5, 1}));
  EXPECT_GE(Frame.ColorMap()->Count(), 6);
  EXPECT_EQ(MapColors(Frame.ColorMap())[5], (Rgb{50, 0, 0}));
  EXPECT_EQ(Image.Width(), 3);  // the screen grows to hold the frame

  TBitmap One;
  One.SetPixelFormat(pf1bit);
  One.SetWidth(10);
  One.SetHeight(1);
  std::memcpy(One.ScanLine(0), "\xA5\x80", 2);
  Frame.Assign(&One);
  EXPECT_EQ(FramePixels(&Frame), (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 0}));

  TBitmap Eight;
  Eight.SetPixelFormat(pf8bit);
  Eight.SetWidth(4);
  Eight.SetHeight(1);
  Eight.SetPalette(MakePalette(kFour));
  std::memcpy(Eight.ScanLine(0), "\x03\x02\x01\x00", 4);
  Frame.Assign(&Eight);
  EXPECT_EQ(FramePixels(&Frame), (Bytes{3, 2, 1, 0}));
  EXPECT_EQ(MapColors(Frame.ColorMap())[3], (Rgb{255, 255, 255}));
  // Drawn from the imported picture, the frame shows the bitmap's colours.
  TBitmap Back;
  Back.Assign(&Frame);
  EXPECT_EQ(PixelsOf(&Back), PixelsOf(&Eight));

  Frame.Assign(nullptr);
  EXPECT_TRUE(Frame.IsEmpty());
}

TEST(FrameImport, TrueColourBitmaps) {
  TGIFImage Image;
  Image.SetColorReduction(gif::grKeepTrueColor);
  // Ten colours alternating: each keeps one index; the map ends in red, green, blue order.
  std::vector<Rgb> Ten;
  for (int i = 0; i < 10; ++i) Ten.push_back(Rgb{static_cast<std::uint8_t>(i * 20), 1, static_cast<std::uint8_t>(200 - i)});
  auto B = PaintBitmap24(40, 3, [&](int x, int y) { return Ten[static_cast<std::size_t>((x * 7 + y) % 10)]; });
  TGIFSubImage Frame(&Image);
  Frame.Assign(B.get());
  ASSERT_EQ(Frame.ColorMap()->Count(), 10);
  const auto Map = MapColors(Frame.ColorMap());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(Map[Frame.PixelAt(x, y)], Ten[static_cast<std::size_t>((x * 7 + y) % 10)]) << x << "," << y;

  // More than 256 colours: those that do not fit take index 0.
  auto Many = PaintBitmap24(300, 1, [](int x, int) { return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), 9}; });
  Frame.Assign(Many.get());
  EXPECT_EQ(Frame.ColorMap()->Count(), 256);
  EXPECT_EQ(Frame.PixelAt(255, 0), 255);
  EXPECT_EQ(Frame.PixelAt(256, 0), 0);
  EXPECT_EQ(Frame.PixelAt(299, 0), 0);

  // With the image's default reduction (216 web colours) the colours are reduced first.
  TGIFImage Web;
  TGIFSubImage W(&Web);
  W.Assign(Many.get());
  for (std::uint8_t I : FramePixels(&W)) ASSERT_LT(I, 216);
}

TEST(FrameImport, TransparentBitmapsIconsAndMetafiles) {
  TGIFImage Image;
  // A bitmap with a transparent colour: an extra black entry becomes the transparent index.
  auto B = PaintBitmap24(4, 2, [](int x, int) { return x < 2 ? Rgb{0, 255, 0} : Rgb{255, 0, 255}; });
  B->SetTransparentColor(static_cast<TColor>(0xFF00FF));
  B->SetTransparent(true);
  TGIFSubImage Frame(&Image);
  Frame.Assign(B.get());
  ASSERT_TRUE(Frame.Transparent());
  const int T = Frame.GraphicControlExtension()->TransparentIndex();
  EXPECT_EQ(MapColors(Frame.ColorMap())[static_cast<std::size_t>(T)], (Rgb{0, 0, 0}));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      if (x >= 2) {
        EXPECT_EQ(Frame.PixelAt(x, y), T);
      } else {
        EXPECT_EQ(MapColors(Frame.ColorMap())[Frame.PixelAt(x, y)], (Rgb{0, 255, 0}));
      }
    }
  EXPECT_NE(GetObjectType(B->MaskHandle()), 0u);  // the source keeps its mask

  // An icon with a transparent half, and one without.
  for (bool Half : {true, false}) {
    auto Colour = PaintBitmap24(4, 4, [](int x, int) { return x < 2 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; });
    const std::uint8_t MaskRows[8] = {Half ? std::uint8_t{0x30} : std::uint8_t{0}, 0, Half ? std::uint8_t{0x30} : std::uint8_t{0}, 0,
                                      Half ? std::uint8_t{0x30} : std::uint8_t{0}, 0, Half ? std::uint8_t{0x30} : std::uint8_t{0}, 0};
    HBITMAP Mask = CreateBitmap(4, 4, 1, 1, MaskRows);
    ICONINFO Info{};
    Info.fIcon = TRUE;
    Info.hbmMask = Mask;
    Info.hbmColor = Colour->Handle();
    TIcon Icon;
    Icon.SetHandle(CreateIconIndirect(&Info));
    DeleteObject(Mask);
    TGIFSubImage F(&Image);
    F.Assign(&Icon);
    ASSERT_EQ(F.Width(), 4);
    if (Half) {
      ASSERT_TRUE(F.Transparent());
      const int I = F.GraphicControlExtension()->TransparentIndex();
      EXPECT_EQ(I, F.ColorMap()->Count() - 1);
      EXPECT_EQ(MapColors(F.ColorMap()).back(), (Rgb{0, 0, 0}));
      EXPECT_EQ(F.PixelAt(2, 1), I);
      EXPECT_EQ(F.PixelAt(3, 3), I);
      EXPECT_NE(F.PixelAt(0, 0), I);
    } else {
      EXPECT_FALSE(F.Transparent());
      EXPECT_EQ(F.Extensions().Count(), 0);
      EXPECT_EQ(F.ColorMap()->Count(), 2);  // red and blue, nothing added
    }
  }

  // Metafiles: what the recording leaves uncovered becomes transparent.
  for (bool Whole : {true, false}) {
    TMetafile Meta;
    Meta.SetWidth(6);
    Meta.SetHeight(4);
    {
      TMetafileCanvas C(&Meta, nullptr);
      C.Brush()->SetColor(clBlue);
      C.Pen()->SetColor(clBlue);
      C.FillRect(Whole ? TRect{0, 0, 6, 4} : TRect{0, 0, 3, 4});
    }
    TGIFSubImage F(&Image);
    F.Assign(&Meta);
    ASSERT_EQ(F.Width(), 6);
    EXPECT_EQ(F.Transparent(), !Whole);
    if (!Whole) {
      const int I = F.GraphicControlExtension()->TransparentIndex();
      EXPECT_NE(F.PixelAt(1, 1), I);
      EXPECT_EQ(F.PixelAt(4, 1), I);
    }
  }
}

TEST(FrameImport, CopiesOfFrames) {
  TGIFImage Image;
  TGIFSubImage* Src = AddFrame(Image, 2, 3, 2, 2, {0, 1, 2, 3}, kFour);
  auto C = std::make_unique<gif::TGIFCommentExtension>(Src);
  C->Text()->Add("hello");
  Src->Extensions().Add(C.release());
  AddGce(Src, 2, 7, 3);
  Src->RenderBitmap();
  TGIFImage Other;
  TGIFSubImage Copy(&Other);
  Copy.Assign(Src);
  EXPECT_EQ(FramePixels(&Copy), (Bytes{0, 1, 2, 3}));
  EXPECT_EQ(Copy.Left(), 2);
  EXPECT_EQ(Kinds(&Copy), Kinds(Src));
  ASSERT_NE(Copy.GraphicControlExtension(), nullptr);
  EXPECT_NE(Copy.GraphicControlExtension(), Src->GraphicControlExtension());
  EXPECT_TRUE(Copy.Transparent());
  EXPECT_EQ(Copy.GraphicControlExtension()->DelayTime(), 7);
  EXPECT_TRUE(Copy.HasBitmapCache());
  TMemoryStream A, B;
  Src->Extensions().SaveToStream(&A);
  Copy.Extensions().SaveToStream(&B);
  EXPECT_EQ(BytesOf(A), BytesOf(B));
}

TEST(FrameCrop, ToTheOpaquePixels) {
  TGIFImage Image;
  Image.SetWidth(40);
  Image.SetHeight(40);
  Bytes P(100, 5);
  P[7 * 10 + 3] = 1;
  TGIFSubImage* F = AddFrame(Image, 4, 6, 10, 10, P, kFour);
  AddGce(F, 1, 0, 5);
  std::vector<std::string> Warnings;
  Image.OnFormatWarning = [&](TObject*, int, const std::string& M) { Warnings.push_back(M); };
  F->CropTransparentBorders();
  EXPECT_EQ(F->Width(), 1);
  EXPECT_EQ(F->Height(), 1);
  EXPECT_EQ(F->Left(), 7);
  EXPECT_EQ(F->Top(), 13);
  EXPECT_EQ(FramePixels(F), (Bytes{1}));
  EXPECT_EQ(Image.Width(), 40);
  EXPECT_TRUE(Warnings.empty());

  TGIFSubImage* Clear = AddFrame(Image, 0, 0, 4, 4, Bytes(16, 2), kFour);
  AddGce(Clear, 1, 0, 2);
  Clear->CropTransparentBorders();
  EXPECT_TRUE(Clear->IsEmpty());
  EXPECT_EQ(Clear->Extensions().Count(), 0);

  TGIFSubImage* Opaque = AddFrame(Image, 0, 0, 4, 4, Bytes(16, 2), kFour);
  AddGce(Opaque, 1, 0);
  Opaque->CropTransparentBorders();
  EXPECT_EQ(Opaque->Width(), 4);
}

TEST(FrameMerge, RepeatedPixelsBecomeTransparent) {
  // Two identical opaque frames on the global map: one black entry is appended.
  TGIFImage Image;
  for (const Rgb& C : kFour) Image.GlobalColorMap()->AddColor(C.R | (C.G << 8) | (C.B << 16));
  TGIFSubImage* A = AddFrame(Image, 0, 0, 4, 2, {0, 1, 2, 3, 0, 1, 2, 3}, {});
  TGIFSubImage* B = AddFrame(Image, 2, 0, 4, 2, {2, 3, 1, 1, 2, 3, 0, 0}, {});
  B->MergeWithPrevious(A);
  ASSERT_EQ(Image.GlobalColorMap()->Count(), 5);
  ASSERT_TRUE(B->Transparent());
  EXPECT_EQ(B->GraphicControlExtension()->TransparentIndex(), 4);
  EXPECT_EQ(FramePixels(B), (Bytes{4, 4, 1, 1, 4, 4, 0, 0}));

  // A further frame on the global map shares that transparent index, unless it uses it itself.
  TGIFSubImage* C = AddFrame(Image, 0, 0, 2, 2, {0, 1, 0, 1}, {});
  C->MergeWithPrevious(A);
  EXPECT_EQ(Image.GlobalColorMap()->Count(), 5);
  EXPECT_EQ(FramePixels(C), (Bytes{4, 4, 4, 4}));
  TGIFSubImage* D = AddFrame(Image, 0, 0, 2, 2, {0, 4, 0, 1}, {});
  D->MergeWithPrevious(A);
  EXPECT_EQ(Image.GlobalColorMap()->Count(), 6);
  EXPECT_EQ(FramePixels(D), (Bytes{5, 4, 5, 5}));  // its own black pixel stays opaque

  // An already transparent frame keeps its index; pixels over the previous frame's transparent
  // ones stay as they are.
  TGIFImage Two;
  TGIFSubImage* P = AddFrame(Two, 0, 0, 3, 1, {0, 1, 3}, kFour);
  AddGce(P, 1, 0, 3);
  TGIFSubImage* Q = AddFrame(Two, 0, 0, 3, 1, {0, 2, 3}, kFour);
  AddGce(Q, 1, 0, 2);
  Q->MergeWithPrevious(P);
  EXPECT_EQ(Q->ColorMap()->Count(), 4);
  EXPECT_EQ(FramePixels(Q), (Bytes{2, 2, 3}));

  // No change: previous frame disposed (2 or 3), no overlap, or a full map.
  for (int Disposal : {2, 3}) {
    TGIFImage I3;
    TGIFSubImage* X = AddFrame(I3, 0, 0, 2, 1, {0, 1}, kFour);
    AddGce(X, Disposal, 0);
    TGIFSubImage* Y = AddFrame(I3, 0, 0, 2, 1, {0, 1}, kFour);
    Y->MergeWithPrevious(X);
    EXPECT_FALSE(Y->Transparent());
  }
  TGIFImage I4;
  TGIFSubImage* X = AddFrame(I4, 0, 0, 2, 1, {0, 1}, kFour);
  TGIFSubImage* Y = AddFrame(I4, 2, 0, 2, 1, {0, 1}, kFour);
  Y->MergeWithPrevious(X);
  EXPECT_FALSE(Y->Transparent());
  std::vector<Rgb> Full;
  for (int i = 0; i < 256; ++i) Full.push_back(Rgb{static_cast<std::uint8_t>(i), 0, 0});
  TGIFSubImage* Z1 = AddFrame(I4, 0, 0, 2, 1, {0, 1}, Full);
  TGIFSubImage* Z2 = AddFrame(I4, 0, 0, 2, 1, {0, 1}, Full);
  Z2->MergeWithPrevious(Z1);
  EXPECT_FALSE(Z2->Transparent());
  EXPECT_EQ(FramePixels(Z2), (Bytes{0, 1}));
}

TEST(FrameMerge, RunsStayWhole) {
  using gif::TGIFSubImage;
  // Each case: the previous frame, this frame (transparent index 3 when Hidden), and what each
  // kind of merge leaves (3 or 4: transparent).
  struct Case {
    Bytes Previous, Mine;
    bool Hidden;
    Bytes All, Clear, Keep;
  };
  const std::vector<Case> Cases{
      // Repeated pixels beyond the ones that change all go; between changed ones, a stretch
      // that breaks as many runs either way goes or stays by the kind.
      {{3, 1, 1, 1, 1, 3, 2, 2}, {0, 1, 1, 1, 1, 0, 2, 2}, false, {0, 4, 4, 4, 4, 0, 4, 4}, {0, 4, 4, 4, 4, 0, 4, 4},
       {0, 1, 1, 1, 1, 0, 4, 4}},
      // A stretch that continues a run keeps its colour.
      {{3, 3, 1, 1, 3}, {0, 1, 1, 1, 0}, false, {0, 1, 4, 4, 0}, {0, 1, 1, 1, 0}, {0, 1, 1, 1, 0}},
      // Transparent pixels over the previous frame's opaque ones may show its colour themselves.
      {{1, 1, 1, 1, 1, 1}, {2, 1, 3, 3, 1, 2}, true, {2, 3, 3, 3, 3, 2}, {2, 3, 3, 3, 3, 2}, {2, 1, 1, 1, 1, 2}},
      {{2, 1, 1, 1, 1, 2}, {1, 3, 3, 3, 3, 0}, true, {1, 3, 3, 3, 3, 0}, {1, 1, 1, 1, 1, 0}, {1, 1, 1, 1, 1, 0}},
  };
  for (std::size_t c = 0; c < Cases.size(); ++c) {
    const Case& K = Cases[c];
    for (auto [Kind, Want] : {std::pair{TGIFSubImage::mgAll, K.All}, std::pair{TGIFSubImage::mgRunsClear, K.Clear},
                              std::pair{TGIFSubImage::mgRunsKeep, K.Keep}}) {
      TGIFImage Image;
      const int W = static_cast<int>(K.Mine.size());
      TGIFSubImage* A = AddFrame(Image, 0, 0, W, 1, K.Previous, kFour);
      TGIFSubImage* B = AddFrame(Image, 0, 0, W, 1, K.Mine, kFour);
      if (K.Hidden) AddGce(B, 1, 0, 3);
      B->MergeWithPrevious(A, false, Kind);
      EXPECT_EQ(FramePixels(B), Want) << c << " kind " << Kind;
      if (Want != K.Mine) {
        ASSERT_TRUE(B->Transparent());
        EXPECT_EQ(B->GraphicControlExtension()->TransparentIndex(), K.Hidden ? 3 : 4);
      }
    }
  }
  // Where the previous frame is transparent, what shows there is unknown: the pixel stays.
  TGIFImage Image;
  TGIFSubImage* A = AddFrame(Image, 0, 0, 4, 1, {1, 2, 1, 3}, kFour);
  AddGce(A, 1, 0, 2);
  TGIFSubImage* B = AddFrame(Image, 0, 0, 4, 1, {0, 3, 3, 1}, kFour);
  AddGce(B, 1, 0, 3);
  B->MergeWithPrevious(A, false, TGIFSubImage::mgRunsKeep);
  EXPECT_EQ(FramePixels(B), (Bytes{0, 3, 1, 1}));
}

TEST(Optimize, DropsWhatCarriesNothing) {
  // A single frame loses a plain graphic control extension; comments go as well.
  TGIFImage One;
  TGIFSubImage* F = AddFrame(One, 0, 0, 2, 1, {0, 1}, kFour);
  AddGce(F, 3, 50);
  auto C = std::make_unique<gif::TGIFCommentExtension>(F);
  F->Extensions().Add(C.release());
  One.Optimize(gif::optDropRedundant, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(F->Extensions().Count(), 0);

  // Loops: kept on frame 0 of an animation, dropped elsewhere. Unused transparency goes.
  TGIFImage Anim;
  TGIFSubImage* A0 = AddFrame(Anim, 0, 0, 2, 1, {0, 1}, kFour);
  TGIFSubImage* A1 = AddFrame(Anim, 0, 0, 2, 1, {1, 2}, kFour);
  for (TGIFSubImage* S : {A0, A1}) {
    auto L = std::make_unique<gif::TGIFAppExtNSLoop>(S);
    S->Extensions().Add(L.release());
  }
  AddGce(A1, 1, 10, 3);
  Anim.Optimize(gif::optDropRedundant, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(Kinds(A0), (std::vector<std::string>{"TGIFAppExtNSLoop"}));
  EXPECT_EQ(Kinds(A1), (std::vector<std::string>{"TGIFGraphicControlExtension"}));
  EXPECT_FALSE(A1->Transparent());

  // A last frame transparent everywhere goes; its delay moves to the transparent frame before.
  TGIFImage Crop;
  TGIFSubImage* B0 = AddFrame(Crop, 0, 0, 2, 1, {0, 1}, kFour);
  AddGce(B0, 1, 10, 3);
  TGIFSubImage* B1 = AddFrame(Crop, 0, 0, 2, 1, {3, 3}, kFour);
  AddGce(B1, 1, 25, 3);
  Crop.Optimize(gif::optCropBorders, gif::grKeepTrueColor, 8, gif::gdNearest);
  ASSERT_EQ(Crop.Images().Count(), 1);
  EXPECT_EQ(B0->GraphicControlExtension()->DelayTime(), 35);
}

TEST(Optimize, KeepsEveryFramesTimeTheLoopAndTheBackground) {
  auto Delays = [](TGIFImage& I) {
    std::vector<int> D;
    for (int i = 0; i < I.Images().Count(); ++i) {
      gif::TGIFGraphicControlExtension* G = I.Images().FrameAt(i)->GraphicControlExtension();
      D.push_back(G ? G->DelayTime() : 0);
    }
    return D;
  };
  // A blank frame after an opaque one: its time goes to that frame (20 + 50).
  TGIFImage Opaque;
  AddGce(AddFrame(Opaque, 0, 0, 2, 1, {0, 1}, kFour), 1, 20);
  AddGce(AddFrame(Opaque, 0, 0, 2, 1, {3, 3}, kFour), 1, 50, 3);
  AddGce(AddFrame(Opaque, 0, 0, 2, 1, {1, 0}, kFour), 1, 10);
  Opaque.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(Delays(Opaque), (std::vector<int>{70, 10}));

  // Where the sum would not fit in 16 bits, where the frame before is disposed (2 or 3), or
  // where a delay the painter lengthens is involved, the blank frame stays as one transparent
  // pixel with its own time.
  struct Case {
    int PrevDelay, PrevDisposal, Delay;
  };
  for (const Case& C : {Case{65000, 1, 1000}, Case{10, 2, 10}, Case{10, 3, 10}, Case{0, 1, 10}, Case{10, 1, 2}}) {
    TGIFImage I;
    AddGce(AddFrame(I, 0, 0, 2, 2, {0, 1, 2, 1}, kFour), C.PrevDisposal, C.PrevDelay);
    AddGce(AddFrame(I, 0, 0, 2, 2, {3, 3, 3, 3}, kFour), 1, C.Delay, 3);
    I.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    ASSERT_EQ(I.Images().Count(), 2) << C.PrevDelay << "/" << C.PrevDisposal << "/" << C.Delay;
    EXPECT_EQ(Delays(I), (std::vector<int>{C.PrevDelay, C.Delay}));
    TGIFSubImage* Blank = I.Images().FrameAt(1);
    EXPECT_EQ(Blank->Width() * Blank->Height(), 1);
    EXPECT_TRUE(Blank->Transparent());
  }

  // A blank first frame keeps its time and the looping extension it carries; a looping
  // extension on a later frame (the only one) stays as well.
  for (int On : {0, 1}) {
    TGIFImage I;
    TGIFSubImage* F0 = AddFrame(I, 0, 0, 2, 1, {3, 3}, kFour);
    AddGce(F0, 1, 40, 3);
    TGIFSubImage* F1 = AddFrame(I, 0, 0, 2, 1, {0, 1}, kFour);
    AddGce(F1, 1, 30);
    auto L = std::make_unique<gif::TGIFAppExtNSLoop>(On ? F1 : F0);
    L->SetLoopCount(4);
    (On ? F1 : F0)->Extensions().Add(L.release());
    I.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    ASSERT_EQ(I.Images().Count(), 2) << On;
    EXPECT_EQ(Delays(I), (std::vector<int>{40, 30}));
    int Loops = 0;
    for (int f = 0; f < 2; ++f)
      for (int e = 0; e < I.Images().FrameAt(f)->Extensions().Count(); ++e)
        if (auto* X = dynamic_cast<gif::TGIFAppExtNSLoop*>(I.Images().FrameAt(f)->Extensions().ExtensionAt(e))) {
          EXPECT_EQ(X->LoopCount(), 4);
          ++Loops;
        }
    EXPECT_EQ(Loops, 1) << On;
  }

  // Sorting the global map keeps the background colour, used by no pixel or not.
  for (bool Used : {true, false}) {
    TGIFImage I;
    for (TColor C : {0x000000, 0xC3C380, 0x0000FF, 0x00FF00}) I.GlobalColorMap()->AddColor(C);
    I.Header().SetBackgroundColorIndex(1);
    AddFrame(I, 0, 0, 4, 1, Used ? Bytes{2, 2, 3, 1} : Bytes{2, 2, 3, 0}, {});
    const TColor Back = I.BackColor();
    I.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    EXPECT_EQ(I.BackColor(), Back) << Used;
    EXPECT_EQ(I.BackColor(), 0xC3C380);
  }
}

TEST(Optimize, NeverGrowsAFrame) {
  // A frame that repeats every other pixel of the one before: merging would scatter transparent
  // pixels through a run the encoder packs well, so the run stays whole (only the last column,
  // all repeated, may go).
  TGIFImage I;
  Bytes A(64 * 64), B(64 * 64);
  for (int i = 0; i < 64 * 64; ++i) {
    A[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i % 2 ? 1 : 2);
    B[static_cast<std::size_t>(i)] = 1;
  }
  AddGce(AddFrame(I, 0, 0, 64, 64, A, kFour), 1, 10);
  AddGce(AddFrame(I, 0, 0, 64, 64, B, kFour), 1, 10);
  const std::size_t Before = Save(I).size();
  I.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_LE(Save(I).size(), Before);
  TGIFSubImage* F = I.Images().FrameAt(1);
  EXPECT_GE(F->Width(), 63);
  EXPECT_EQ(F->Height(), 64);
  const Bytes Left = FramePixels(F);
  EXPECT_EQ(std::count(Left.begin(), Left.end(), Left[0]), static_cast<long>(Left.size()));
  // Where merging and cropping pay, they are done.
  TGIFImage J;
  Bytes C = A;
  C[static_cast<std::size_t>(20 * 64 + 20)] = 3;
  AddGce(AddFrame(J, 0, 0, 64, 64, A, kFour), 1, 10);
  AddGce(AddFrame(J, 0, 0, 64, 64, C, kFour), 1, 10);
  J.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(J.Images().FrameAt(1)->Width(), 1);
  EXPECT_EQ(J.Images().FrameAt(1)->Left(), 20);
}

TEST(Optimize, DisposalsProgressAndTheReductionCheck) {
  // Disposal 2 is reset only when the next opaque frame covers the whole frame.
  TGIFImage Image;
  TGIFSubImage* F0 = AddFrame(Image, 2, 2, 2, 2, Bytes(4, 0), kFour);
  AddGce(F0, 2, 10);
  TGIFSubImage* F1 = AddFrame(Image, 0, 0, 6, 6, Bytes(36, 1), kFour);
  AddGce(F1, 2, 10);
  AddFrame(Image, 0, 0, 3, 3, Bytes(9, 2), kFour);
  Image.Optimize(gif::optDropRedundant, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(F0->GraphicControlExtension()->DisposalMethod(), 0);
  EXPECT_EQ(F1->GraphicControlExtension()->DisposalMethod(), 2);

  std::vector<int> Percent;
  Image.OnProgress = [&](TObject*, TProgressStage, BYTE P, bool, const TRect&, const std::string& M) {
    EXPECT_EQ(M, "Optimizing...");
    Percent.push_back(P);
  };
  Image.Optimize(0, gif::grKeepTrueColor, 8, gif::gdNearest);
  EXPECT_EQ(Percent, (std::vector<int>{0, 100}));
  EXPECT_THROW(Image.Optimize(gif::optReducePalette, gif::grGivenPalette, 8, gif::gdNearest), gif::GIFException);
  EXPECT_NO_THROW(Image.Optimize(gif::optReducePalette | gif::optDropRedundant, gif::grGivenPalette, 8, gif::gdNearest));
  TGIFImage Empty;
  EXPECT_NO_THROW(Empty.Optimize(0x1F, gif::grGivenPalette, 8, gif::gdNearest));
}

TEST(FrameImport, BitmapsOfEveryDepthComeBackUnchanged) {
  // A bitmap added to an image, written as GIF and read again shows the same pixels.
  for (int Seed = 0; Seed < 24; ++Seed) {
    Rng R(static_cast<std::uint64_t>(Seed) + 5);
    const TPixelFormat Formats[] = {pf1bit, pf4bit, pf8bit, pf24bit, pf32bit};
    const TPixelFormat Format = Formats[Seed % 5];
    const int W = 1 + R.Below(40), H = 1 + R.Below(20);
    const int Colors = Format == pf1bit ? 2 : Format == pf4bit ? 16 : 200;
    std::vector<Rgb> Table;
    for (int i = 0; i < Colors; ++i)
      Table.push_back(Rgb{static_cast<std::uint8_t>(R.Below(256)), static_cast<std::uint8_t>(R.Below(256)),
                          static_cast<std::uint8_t>(R.Below(256))});
    auto B = PaintBitmap24(W, H, [&](int, int) { return Table[static_cast<std::size_t>(R.Below(Colors))]; });
    if (Format != pf24bit) B->SetPixelFormat(Format);
    const auto Want = PixelsOf(B.get());
    TGIFImage Image;
    Image.SetColorReduction(gif::grKeepTrueColor);
    Image.Add(B.get());
    Loaded L = Load(Save(Image));
    ASSERT_TRUE(L.Error.empty()) << Seed << ": " << L.Error;
    TBitmap Back;
    Back.Assign(L.Image.get());
    EXPECT_EQ(PixelsOf(&Back), Want) << Seed << " format " << int(Format);
  }
}
