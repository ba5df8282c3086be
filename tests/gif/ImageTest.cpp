// The GIF graphic and frame rendering: loading, palettes, sizes, the whole-image bitmap,
// assignment, the clipboard, registration, masks and drawing (placement, tiling, transparency).
#include <gtest/gtest.h>

#include "PictureTestUtil.h"
#include "gif/GIFImage.h"
#include "support/TestSupport.h"

using namespace giftest;
using gif::TGIFImage;

namespace {

const std::vector<Rgb> kFour{{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

std::unique_ptr<TBitmap> Canvas(int W, int H, TColor Color) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(W);
  B->SetHeight(H);
  B->Canvas()->Brush()->SetColor(Color);
  B->Canvas()->FillRect(TRect{0, 0, W, H});
  return B;
}

Rgb At(const std::vector<Rgb>& P, int W, int X, int Y) { return P[static_cast<std::size_t>(Y) * W + X]; }

}  // namespace

TEST(GIFImage, BannerLoadsAndDrawsWithoutAThread) {
  // 87a, 800 x 57, 256-entry global table, one frame.
  Bytes Pixels(800 * 57);
  for (std::size_t i = 0; i < Pixels.size(); ++i) Pixels[i] = static_cast<std::uint8_t>(i % 251);
  Bytes G = SimpleGif(800, 57, Pixels, 256);
  G[3] = '8', G[4] = '7';
  Loaded L = Load(G);
  ASSERT_TRUE(L.Error.empty()) << L.Error;
  EXPECT_EQ(L.Image->Images().Count(), 1);
  EXPECT_EQ(L.Image->Width(), 800);
  EXPECT_EQ(L.Image->Height(), 57);
  auto Target = Canvas(800, 57, clBlack);
  Target->Canvas()->Draw(0, 0, L.Image.get());
  EXPECT_EQ(L.Image->PainterList()->LockList()->Count(), 0);
  L.Image->PainterList()->UnlockList();
  EXPECT_EQ(L.Image->Painter(), nullptr);
  const auto P = PixelsOf(Target.get());
  // Entry i of the test table is (i, 2i, 3i).
  EXPECT_EQ(At(P, 800, 5, 0), (Rgb{5, 10, 15}));
}

TEST(GIFImage, FailedLoadRestoresThePosition) {
  Bytes G = SimpleGif(4, 4, Bytes(16, 1), 4);
  Bytes Two = G;
  Two.pop_back();  // no trailer
  Bytes Broken(Two.begin(), Two.end());
  // A second frame whose descriptor is cut short.
  for (std::uint8_t B : {0x2C, 0, 0, 0, 0}) Broken.push_back(B);
  auto S = StreamOf(Broken);
  S->SetPosition(0);
  TGIFImage Image;
  EXPECT_THROW(Image.LoadFromStream(S.get()), gif::GIFException);
  EXPECT_EQ(S->Position(), 0);
  EXPECT_EQ(Image.Images().Count(), 1);
}

TEST(GIFImage, FileStreamsLoadAsMemoryStreamsDo) {
  // A file with other bytes before and after the GIF stream: it is read through a buffer, and
  // left where the reading ends, after the trailer.
  GifWriter W;
  W.Header(40, 30, 0x83).Table(16);
  for (int f = 0; f < 3; ++f) {
    const Bytes Pixels = NoisePixels(40, 30, 16, static_cast<std::uint64_t>(f));
    W.Gce(0x04, 5, 0).Descriptor(0, 0, 40, 30, f == 1 ? 0x40 : 0);
    if (f == 1) {
      Bytes Rows;
      for (int Start : {0, 4, 2, 1})
        for (int y = Start; y < 30; y += Start == 0 ? 8 : Start * 2)
          Rows.insert(Rows.end(), Pixels.begin() + y * 40, Pixels.begin() + (y + 1) * 40);
      W.ImageData(4, PackCodes(LzwCodes(Rows, 4)), {17});
    } else {
      W.ImageData(4, PackCodes(LzwCodes(Pixels, 4)), {255, 3});
    }
  }
  const Bytes Gif = W.Trailer().Get();
  Bytes File{'a', 'b', 'c'};
  File.insert(File.end(), Gif.begin(), Gif.end());
  File.insert(File.end(), {'x', 'y', 'z'});
  testsupport::TempDir Dir;
  testsupport::WriteFile(Dir / "framed.bin", std::vector<unsigned char>(File.begin(), File.end()));
  const Loaded FromMemory = Load(Gif);
  ASSERT_EQ(FromMemory.Image->Images().Count(), 3);
  {
    TFileStream S((Dir / "framed.bin").string(), fmOpenRead);
    S.SetPosition(3);
    TGIFImage Image;
    Image.LoadFromStream(&S);
    EXPECT_EQ(S.Position(), 3 + static_cast<std::int64_t>(Gif.size()));
    ASSERT_EQ(Image.Images().Count(), 3);
    for (int f = 0; f < 3; ++f)
      EXPECT_EQ(FramePixels(Image.Images().FrameAt(f)), FramePixels(FromMemory.Image->Images().FrameAt(f))) << f;
  }
  // A broken stream in a file: the position goes back to where the reading began.
  Bytes Broken(File.begin(), File.begin() + 3 + static_cast<long>(Gif.size()) - 1);
  for (std::uint8_t B : {0x2C, 0, 0, 0, 0}) Broken.push_back(B);
  testsupport::WriteFile(Dir / "broken.bin", std::vector<unsigned char>(Broken.begin(), Broken.end()));
  TFileStream S((Dir / "broken.bin").string(), fmOpenRead);
  S.SetPosition(3);
  TGIFImage Image;
  EXPECT_THROW(Image.LoadFromStream(&S), gif::GIFException);
  EXPECT_EQ(S.Position(), 3);
}

TEST(GIFImage, SizesPalettesAndEquality) {
  TGIFImage Image;
  EXPECT_EQ(Image.Palette(), nullptr);  // no global map, no frames
  AddFrame(Image, 10, 5, 20, 10, {}, kFour);
  EXPECT_EQ(Image.Width(), 30);
  Image.SetWidth(30);
  EXPECT_THROW(Image.SetWidth(29), gif::GIFException);
  EXPECT_EQ(Image.Width(), 30);
  EXPECT_THROW(Image.SetHeight(14), gif::GIFException);
  Image.SetHeight(40);
  EXPECT_EQ(Image.Height(), 40);

  TGIFImage Same;
  Same.Assign(&Image);
  TGraphic* Base = &Image;
  EXPECT_FALSE(Base->Empty());
  EXPECT_EQ(Same.Images().Count(), 1);
  // Equal only to itself.
  struct Probe : TGIFImage {
    bool Eq(TGraphic* G) { return Equals(G); }
  } P;
  EXPECT_TRUE(P.Eq(&P));
  EXPECT_FALSE(P.Eq(&Same));

  // Palette display and dithering.
  const auto Options = Image.PaintOptions();
  Image.SetPaintOptions(gif::drDither | gif::drDitherOnPaletteDevice);
  const bool Was = gif::PaletteDisplay;
  gif::PaletteDisplay = false;
  EXPECT_FALSE(Image.ShouldDither());
  Image.SetPaintOptions(gif::drDither);
  EXPECT_TRUE(Image.ShouldDither());
  EXPECT_EQ(EntriesOf(Image.Palette()).size(), 216u);
  gif::PaletteDisplay = Was;
  Image.SetPaintOptions(Options);

  // The bitmap cache's own palette handed back: the image keeps a copy, the cache its own.
  Image.RenderBitmap();
  HPALETTE CachePalette = Image.BitmapCache()->Palette();
  ASSERT_NE(CachePalette, nullptr);
  const auto Entries = EntriesOf(CachePalette);
  Image.SetPalette(CachePalette);
  EXPECT_EQ(Image.BitmapCache()->Palette(), CachePalette);
  Image.FreeBitmapCache();
  ASSERT_EQ(GetObjectType(Image.Palette()), OBJ_PAL);
  EXPECT_EQ(EntriesOf(Image.Palette()).size(), Entries.size());
}

TEST(GIFImage, AssignClearsTheHandlersAndCopiesFrames) {
  Loaded L = Load(SimpleGif(3, 2, Bytes{0, 1, 2, 3, 0, 1}, 4, 0, 2));
  TGIFImage Copy;
  int Progress = 0;
  Copy.OnProgress = [&](TObject*, TProgressStage, BYTE, bool, const TRect&, const std::string&) { ++Progress; };
  Copy.OnFormatWarning = [](TObject*, int, const std::string&) {};
  Copy.Assign(L.Image.get());
  EXPECT_FALSE(Copy.OnProgress);
  EXPECT_FALSE(Copy.OnFormatWarning);
  ASSERT_EQ(Copy.Images().Count(), 1);
  EXPECT_EQ(FramePixels(Copy.Images().FrameAt(0)), (Bytes{0, 1, 2, 3, 0, 1}));
  EXPECT_TRUE(Copy.Images().FrameAt(0)->Transparent());
  Copy.Assign(&Copy);
  EXPECT_EQ(Copy.Images().Count(), 1);
  Copy.Assign(nullptr);
  EXPECT_TRUE(Copy.Images().Count() == 0);

  // A bitmap becomes one frame; the image becomes a bitmap again.
  auto B = PaintBitmap24(5, 4, [](int x, int y) { return kFour[static_cast<std::size_t>((x + y) % 4)]; });
  Copy.Assign(B.get());
  ASSERT_EQ(Copy.Images().Count(), 1);
  TBitmap Back;
  Back.Assign(&Copy);
  EXPECT_EQ(PixelsOf(&Back), PixelsOf(B.get()));
  EXPECT_THROW(Copy.Add(Copy.Images().FrameAt(0)->ColorMap()), gif::GIFException);

  // Frames that carry only extensions (a looping extension, a comment) are copied with them.
  const Bytes Looping = GifWriter()
                            .Header(2, 1, 0x80)
                            .Table(2)
                            .AppExt("NETSCAPE2.0", {3, 1, 7, 0, 0})
                            .Comment({"first"})
                            .Descriptor(0, 0, 2, 1)
                            .ImageData(2, PackCodes(LzwCodes({0, 1}, 2)))
                            .Comment({"last"})
                            .Trailer()
                            .Get();
  Loaded Anim = Load(Looping);
  ASSERT_EQ(Anim.Image->Images().Count(), 2);
  TGIFImage Whole;
  Whole.Assign(Anim.Image.get());
  EXPECT_EQ(Save(Whole), Looping);
  gif::TGIFSubImage Frame(&Whole);
  Frame.Assign(Anim.Image->Images().FrameAt(1));
  EXPECT_TRUE(Frame.IsEmpty());
  ASSERT_EQ(Frame.Extensions().Count(), 1);
  EXPECT_NE(dynamic_cast<gif::TGIFCommentExtension*>(Frame.Extensions().ExtensionAt(0)), nullptr);
}

TEST(GIFImage, EmptyImages) {
  TGIFImage Image;
  TMemoryStream S;
  int Ended = -1;
  Image.OnProgress = [&](TObject*, TProgressStage Stage, BYTE Percent, bool, const TRect&, const std::string&) {
    if (Stage == psEnding) Ended = Percent;
  };
  try {
    Image.SaveToStream(&S);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_STREQ(E.what(), "Unsupported GIF version");
  }
  EXPECT_EQ(S.Size(), 0);
  EXPECT_EQ(Ended, 0);
  WORD Format = 0;
  HANDLE Data = nullptr;
  HPALETTE Pal = nullptr;
  Image.SaveToClipboardFormat(Format, Data, Pal);
  EXPECT_EQ(Data, nullptr);
  EXPECT_EQ(Image.RenderBitmap(), nullptr);
  auto Target = Canvas(4, 4, clRed);
  Target->Canvas()->Draw(0, 0, &Image);
  EXPECT_EQ(At(PixelsOf(Target.get()), 4, 1, 1), (Rgb{255, 0, 0}));
}

TEST(GIFImage, ClipboardExchange) {
  gif::RegisterGIFImageFormats();
  ASSERT_NE(gif::CF_GIF, 0);
  EXPECT_EQ(TPicture::FindFileFormat("gif"), TGIFImage::StaticClass());

  // Colours far apart: the 5-5-5 cells of the colour lookup keep them apart.
  Loaded L;
  L.Image = std::make_unique<TGIFImage>();
  AddFrame(*L.Image, 0, 0, 3, 2, {0, 1, 2, 3, 0, 1}, kFour);
  HANDLE Stored = nullptr;
  gif::SetGIFClipboardAccess({[&](UINT) { return Stored; }, [&](UINT Format, HANDLE Data) {
                                EXPECT_EQ(Format, gif::CF_GIF);
                                Stored = Data;
                                return Data;
                              }});
  WORD Format = 0;
  HANDLE Bitmap = nullptr;
  HPALETTE Pal = nullptr;
  L.Image->SaveToClipboardFormat(Format, Bitmap, Pal);
  EXPECT_EQ(Format, CF_BITMAP);
  ASSERT_NE(Bitmap, nullptr);
  ASSERT_NE(Stored, nullptr);

  // The GIF block, fetched from the clipboard and given directly.
  TGIFImage A, B, C;
  A.LoadFromClipboardFormat(gif::CF_GIF, nullptr, nullptr);
  EXPECT_EQ(FramePixels(A.Images().FrameAt(0)), (Bytes{0, 1, 2, 3, 0, 1}));
  B.LoadFromClipboardFormat(gif::CF_GIF, Stored, nullptr);
  EXPECT_EQ(B.Images().Count(), 1);
  // The bitmap becomes one frame with the same colours (an octree palette holds them all).
  C.SetColorReduction(gif::grOctree);
  C.LoadFromClipboardFormat(CF_BITMAP, Bitmap, Pal);
  TBitmap Shown;
  Shown.Assign(&C);
  TBitmap Original;
  Original.Assign(L.Image.get());
  EXPECT_EQ(PixelsOf(&Shown), PixelsOf(&Original));
  EXPECT_THROW(C.LoadFromClipboardFormat(CF_TEXT, Bitmap, nullptr), gif::GIFException);

  // A clipboard that refuses the block: the error comes back and nothing is left over.
  gif::SetGIFClipboardAccess({nullptr, [](UINT, HANDLE) -> HANDLE { return nullptr; }});
  HANDLE Second = nullptr;
  HPALETTE SecondPal = nullptr;
  try {
    L.Image->SaveToClipboardFormat(Format, Second, SecondPal);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_STREQ(E.what(), "Failed to store GIF on clipboard");
  }
  EXPECT_EQ(Second, nullptr);
  gif::SetGIFClipboardAccess({});
  DeleteObject(Bitmap);
  if (Pal) DeleteObject(Pal);
  GlobalFree(Stored);
  gif::UnregisterGIFImageFormats();
  EXPECT_EQ(TPicture::FindFileFormat("GIF"), nullptr);
}

TEST(FrameRender, MasksAndEmptyFrames) {
  TGIFImage Image;
  gif::TGIFSubImage* Empty = AddFrame(Image, 0, 0, 0, 0, {}, kFour);
  EXPECT_EQ(Empty->RenderBitmap(), nullptr);

  // Transparent, but no pixel carries the index: no mask, drawn opaque.
  gif::TGIFSubImage* F = AddFrame(Image, 0, 0, 3, 1, {0, 1, 2}, kFour);
  AddGce(F, 1, 0, 3);
  EXPECT_FALSE(F->EnsureMask());
  EXPECT_NE(F->RenderBitmap(), nullptr);

  // A mask, kept while only the bitmap is rendered again.
  gif::TGIFSubImage* T = AddFrame(Image, 0, 0, 3, 1, {0, 3, 2}, kFour);
  AddGce(T, 1, 0, 3);
  ASSERT_TRUE(T->EnsureMask());
  HBITMAP Mask = T->Mask();
  T->FreeBitmapCache();
  T->RenderBitmap();
  EXPECT_EQ(T->Mask(), Mask);

  // A progress handler that aborts: no bitmap, no error.
  gif::TGIFSubImage* A = AddFrame(Image, 0, 0, 2, 2, {0, 1, 2, 3}, kFour);
  Image.OnProgress = [](TObject*, TProgressStage Stage, BYTE, bool, const TRect&, const std::string&) {
    if (Stage == psRunning) throw EAbort();
  };
  EXPECT_EQ(A->RenderBitmap(), nullptr);
  Image.OnProgress = nullptr;
  EXPECT_NE(A->RenderBitmap(), nullptr);
}

TEST(FrameRender, GlobalFramesKeepTheirColoursNextToALocalFirstFrame) {
  // Frame 0 covers the screen with a local map; frame 1 uses the global map. The whole-image
  // bitmap (rendered from frame 0) must not lend its palette to frame 1.
  TGIFImage Image;
  for (const Rgb& C : {Rgb{10, 20, 30}, Rgb{40, 50, 60}}) Image.GlobalColorMap()->AddColor(C.R | (C.G << 8) | (C.B << 16));
  AddFrame(Image, 0, 0, 2, 1, {0, 1}, kFour);
  gif::TGIFSubImage* G = AddFrame(Image, 0, 0, 2, 1, {1, 0}, {});
  ASSERT_NE(Image.RenderBitmap(), nullptr);
  EXPECT_EQ(PixelsOf(G->RenderBitmap()), (std::vector<Rgb>{{40, 50, 60}, {10, 20, 30}}));
}

TEST(FrameRender, Dithered) {
  TGIFImage Image;
  Image.SetPaintOptions(gif::drDither | gif::drTransparent);
  gif::TGIFSubImage* F = AddFrame(Image, 0, 0, 4, 2, {0, 1, 2, 3, 3, 2, 1, 0}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {7, 7, 7}});
  AddGce(F, 1, 0, 3);
  TBitmap* B = F->RenderBitmap();
  ASSERT_NE(B, nullptr);
  const auto Table = EntriesOf(B->Palette());
  ASSERT_GE(Table.size(), 216u);
  EXPECT_EQ(Table[180].peRed, 255);
  EXPECT_EQ(Table[215].peBlue, 255);
  const auto I = IndicesOf(B);
  EXPECT_EQ(I[0], 180);
  EXPECT_EQ(I[1], 30);
  EXPECT_EQ(I[2], 5);
  EXPECT_EQ(I[3], 0);  // transparent: the web colour nearest (7, 7, 7)
  ASSERT_NE(F->Mask(), nullptr);
  // Drawn through the mask, the transparent pixels keep the ground.
  auto Target = Canvas(4, 2, clYellow);
  F->DrawFrame(Target->Canvas(), TRect{0, 0, 4, 2}, false, true);
  const auto P = PixelsOf(Target.get());
  EXPECT_EQ(At(P, 4, 3, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(At(P, 4, 0, 1), (Rgb{255, 255, 0}));
  EXPECT_EQ(At(P, 4, 0, 0), (Rgb{255, 0, 0}));
}

TEST(FrameDraw, PlacementTilingAndTransparency) {
  TGIFImage Image;
  Image.SetWidth(100);
  Image.SetHeight(50);
  gif::TGIFSubImage* Dot = AddFrame(Image, 10, 20, 1, 1, {0}, kFour);
  const TRect M = Dot->MapRectToDest(TRect{0, 0, 200, 100});
  EXPECT_EQ(M.left, 20);
  EXPECT_EQ(M.top, 40);
  EXPECT_EQ(M.right, 22);
  EXPECT_EQ(M.bottom, 42);

  // Tiling a 10 x 10 frame at (5, 5) of a 20 x 20 screen into (0, 0, 50, 30): tiles at x 5, 25,
  // 45 and y 5, 25, the last column reaching beyond the rectangle.
  TGIFImage Tiled;
  Tiled.SetWidth(20);
  Tiled.SetHeight(20);
  gif::TGIFSubImage* Tile = AddFrame(Tiled, 5, 5, 10, 10, Bytes(100, 0), kFour);
  auto Target = Canvas(60, 40, clBlack);
  Tile->DrawFrame(Target->Canvas(), TRect{0, 0, 50, 30}, true, false);
  const auto P = PixelsOf(Target.get());
  for (int X : {5, 25, 45, 54})
    for (int Y : {5, 25, 34}) EXPECT_EQ(At(P, 60, X, Y), (Rgb{255, 0, 0})) << X << "," << Y;
  for (int X : {4, 15, 24, 35, 44, 55})
    for (int Y : {4, 15, 24, 35}) EXPECT_EQ(At(P, 60, X, Y), (Rgb{0, 0, 0})) << X << "," << Y;

  // Transparent copies, unstretched (mask blit) and stretched (two blits): the target's text and
  // background colours are kept.
  TGIFImage Image2;
  gif::TGIFSubImage* T = AddFrame(Image2, 0, 0, 2, 2, {0, 3, 3, 1}, kFour);
  AddGce(T, 1, 0, 3);
  for (int Scale : {1, 3}) {
    auto Ground = Canvas(8, 8, clYellow);
    HDC DC = Ground->Canvas()->Handle();
    SetTextColor(DC, RGB(1, 2, 3));
    SetBkColor(DC, RGB(4, 5, 6));
    T->DrawFrame(Ground->Canvas(), TRect{0, 0, 2 * Scale, 2 * Scale}, false, true);
    EXPECT_EQ(GetTextColor(DC), RGB(1, 2, 3));
    EXPECT_EQ(GetBkColor(DC), RGB(4, 5, 6));
    const auto Q = PixelsOf(Ground.get());
    EXPECT_EQ(At(Q, 8, 0, 0), (Rgb{255, 0, 0})) << Scale;
    EXPECT_EQ(At(Q, 8, Scale, 0), (Rgb{255, 255, 0})) << Scale;
    EXPECT_EQ(At(Q, 8, 0, Scale), (Rgb{255, 255, 0})) << Scale;
    EXPECT_EQ(At(Q, 8, Scale, Scale), (Rgb{0, 255, 0})) << Scale;
    EXPECT_EQ(At(Q, 8, 2 * Scale, 0), (Rgb{255, 255, 0})) << Scale;
  }

  // Shrunk: picture and mask drop the same rows (red and green rows would AND to black, and an
  // opaque row would cover a transparent one).
  TGIFImage Striped;
  gif::TGIFSubImage* S = AddFrame(Striped, 0, 0, 2, 4, {0, 3, 1, 3, 0, 3, 1, 1}, kFour);
  AddGce(S, 1, 0, 3);
  auto Ground = Canvas(4, 4, clYellow);
  HDC DC = Ground->Canvas()->Handle();
  S->DrawFrame(Ground->Canvas(), TRect{0, 0, 2, 2}, false, true);
  EXPECT_EQ(GetStretchBltMode(DC), BLACKONWHITE);
  const auto Q = PixelsOf(Ground.get());
  EXPECT_EQ(At(Q, 4, 0, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(At(Q, 4, 1, 0), (Rgb{255, 255, 0}));
  EXPECT_EQ(At(Q, 4, 0, 1), (Rgb{0, 255, 0}));
  EXPECT_EQ(At(Q, 4, 1, 1), (Rgb{0, 255, 0}));
}

TEST(GIFImage, RegistryServesLayoutsFilesAndPaletteScreens) {
  gif::RegisterGIFImageFormats();
  EXPECT_FALSE(gif::PaletteDisplay);  // the stand-in screen has 32 bits per pixel
  // A layout's picture data names the class, then the plain GIF stream follows.
  const Bytes Gif = SimpleGif(3, 2, Bytes{0, 1, 2, 3, 0, 1}, 4);
  TMemoryStream Data;
  const std::string Name = "TGIFImage";
  const BYTE Length = static_cast<BYTE>(Name.size());
  Data.WriteBuffer(&Length, 1);
  Data.WriteBuffer(Name.data(), Length);
  Data.WriteBuffer(Gif.data(), static_cast<std::int64_t>(Gif.size()));
  Data.SetPosition(0);
  TPicture Picture;
  Picture.ReadData(&Data);
  ASSERT_NE(Picture.Graphic(), nullptr);
  EXPECT_EQ(Picture.Graphic()->ClassType(), TGIFImage::StaticClass());
  EXPECT_EQ(Picture.Width(), 3);
  // Files by extension, in any case.
  testsupport::TempDir Dir;
  testsupport::WriteFile(Dir / "car.GIF", std::vector<unsigned char>(Gif.begin(), Gif.end()));
  TPicture FromFile;
  FromFile.LoadFromFile((Dir / "car.GIF").string());
  EXPECT_EQ(FromFile.Graphic()->ClassType(), TGIFImage::StaticClass());
  gif::UnregisterGIFImageFormats();

  // On a screen of 8 bits per pixel the default options dither onto the 216 web colours.
  GdiSetScreenBitsPerPixel(8);
  gif::RegisterGIFImageFormats();
  EXPECT_TRUE(gif::PaletteDisplay);
  Loaded L = Load(Gif);
  EXPECT_TRUE(L.Image->ShouldDither());
  EXPECT_GE(EntriesOf(L.Image->Images().FrameAt(0)->RenderBitmap()->Palette()).size(), 216u);
  gif::UnregisterGIFImageFormats();
  GdiSetScreenBitsPerPixel(32);
  gif::RegisterGIFImageFormats();
  EXPECT_FALSE(gif::PaletteDisplay);
  gif::UnregisterGIFImageFormats();
}

TEST(GIFImage, RenderFramesOnLoad) {
  const Bytes Gif = SimpleGif(3, 2, Bytes{0, 1, 2, 3, 0, 1}, 4);
  std::vector<bool> Redraw;
  auto Count = [&](TGIFImage& I) {
    I.OnProgress = [&](TObject*, TProgressStage Stage, BYTE, bool R, const TRect&, const std::string& M) {
      if (Stage == psRunning && M == "Loading...") Redraw.push_back(R);
    };
  };
  TGIFImage Plain;
  Count(Plain);
  auto S = StreamOf(Gif);
  Plain.LoadFromStream(S.get());
  EXPECT_FALSE(Plain.Images().FrameAt(0)->HasBitmapCache());
  ASSERT_FALSE(Redraw.empty());
  EXPECT_FALSE(Redraw.back());
  gif::RenderFramesOnLoad = true;
  TGIFImage Rendered;
  Count(Rendered);
  auto S2 = StreamOf(Gif);
  Rendered.LoadFromStream(S2.get());
  gif::RenderFramesOnLoad = false;
  EXPECT_TRUE(Rendered.Images().FrameAt(0)->HasBitmapCache());
  EXPECT_TRUE(Redraw.back());
}

TEST(FrameDraw, TilingAScreenOfNoSizeEnds) {
  // A stream may declare a logical screen of 0 x 0 around its frames: tiles then step by the
  // frame's own size instead of standing still.
  TGIFImage Image;
  gif::TGIFSubImage* F = AddFrame(Image, 0, 0, 2, 2, {0, 1, 2, 3}, kFour);
  Image.Header().SetWidth(0);
  Image.Header().SetHeight(0);
  auto Target = Canvas(6, 4, clBlack);
  F->DrawFrame(Target->Canvas(), TRect{0, 0, 6, 4}, true, false);
  const auto P = PixelsOf(Target.get());
  EXPECT_EQ(At(P, 6, 4, 2), (Rgb{255, 0, 0}));
  EXPECT_EQ(At(P, 6, 5, 3), (Rgb{255, 255, 255}));
}
