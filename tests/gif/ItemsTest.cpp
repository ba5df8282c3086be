// Header, item lists, frames, trailer and the image's stream reading and writing.
#include <gtest/gtest.h>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

Bytes TwoByTwo() { return SimpleGif(2, 2, {0, 1, 2, 3}, 4); }

}  // namespace

TEST(GifHeader, Signature) {
  const Bytes Gif = TwoByTwo();
  // Four bytes of anything in front are accepted, another count is not.
  Bytes Prefixed{'a', 'b', 'c', 'd'};
  Prefixed.insert(Prefixed.end(), Gif.begin(), Gif.end());
  Loaded L = Load(Prefixed);
  EXPECT_EQ(L.Error, "");
  EXPECT_EQ(L.Image->Images().Count(), 1);
  for (int N : {1, 3, 5}) {
    Bytes P(static_cast<std::size_t>(N), 'z');
    P.insert(P.end(), Gif.begin(), Gif.end());
    EXPECT_EQ(Load(P).Error, "Invalid GIF signature") << N;
  }
  // Lower case and any version letters.
  Bytes Lower = Gif;
  Lower[0] = 'g';
  Lower[1] = 'i';
  Lower[2] = 'f';
  Lower[3] = 'X';
  Lower[4] = '?';
  Lower[5] = '!';
  L = Load(Lower);
  EXPECT_EQ(L.Error, "");
  EXPECT_TRUE(L.Warnings.empty());
  EXPECT_EQ(Load(Bytes(Gif.begin(), Gif.begin() + 5)).Error, "Premature end of data");
  EXPECT_EQ(Load({}).Error, "Premature end of data");
}

TEST(GifHeader, DescriptorAndVersion) {
  // A descriptor without bit 7 leaves the global map empty whatever its size field says.
  Bytes Gif = GifWriter().Header(3, 4, 0x07, 5, 0).Descriptor(0, 0, 3, 4, 0x80).Table(2).ImageData(2, PackCodes(LzwCodes(Bytes(12, 1), 2))).Trailer().Get();
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "");
  EXPECT_EQ(L.Image->GlobalColorMap()->Count(), 0);
  EXPECT_EQ(L.Image->Width(), 3);
  EXPECT_EQ(L.Image->Height(), 4);
  EXPECT_EQ(L.Image->Header().BackgroundColorIndex(), 5);
  gif::TGIFHeader& H = L.Image->Header();
  EXPECT_EQ(H.RequiredVersion(), gif::gv87a);
  H.SetAspectRatio(49);
  EXPECT_EQ(H.RequiredVersion(), gif::gv89a);
  H.SetAspectRatio(0);
  H.ColorMap()->AddColor(1);
  H.ColorMap()->SetSorted(true);
  EXPECT_EQ(H.RequiredVersion(), gif::gv89a);
  // An image without frames cannot be saved, and nothing is written.
  gif::TGIFImage Empty;
  TMemoryStream S;
  try {
    Empty.SaveToStream(&S);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Unsupported GIF version");
  }
  EXPECT_EQ(S.Size(), 0);
  // 87a without extensions, 89a with one.
  L = Load(TwoByTwo());
  Bytes Out = Save(*L.Image);
  EXPECT_EQ(std::string(Out.begin(), Out.begin() + 6), "GIF87a");
  L = Load(SimpleGif(2, 1, {0, 1}, 4, 0, 1));
  Out = Save(*L.Image);
  EXPECT_EQ(std::string(Out.begin(), Out.begin() + 6), "GIF89a");
}

TEST(GifHeader, GlobalTableWrittenAtItsOwnSize) {
  // The global table has 4 entries, a frame's local table 256: the descriptor declares the
  // global table's own size, and readers find what it promises.
  GifWriter G;
  G.Header(4, 2, 0x81).Table(4);
  G.Descriptor(0, 0, 2, 2).ImageData(2, PackCodes(LzwCodes({0, 1, 2, 3}, 2)));
  G.Descriptor(2, 0, 2, 2, 0x87).Table(256).ImageData(8, PackCodes(LzwCodes({200, 1, 2, 255}, 8)));
  Loaded L = Load(G.Trailer().Get());
  ASSERT_EQ(L.Error, "");
  Bytes Out = Save(*L.Image);
  EXPECT_EQ(Out[10] & 0x87, 0x81);
  PeerImage P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok) << P.Error;
  EXPECT_EQ(P.GlobalMap, MapBytes(L.Image->GlobalColorMap()));
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 1, 2, 3}));
  EXPECT_EQ(P.Frames[1].Pixels, (Bytes{200, 1, 2, 255}));
  Loaded Back = Load(Out);
  EXPECT_EQ(Back.Error, "");
  EXPECT_TRUE(Back.Warnings.empty());

  // A frame on the global table with a pixel beyond it: the table is written as far as that
  // pixel needs, padded with black.
  L.Image->Images().FrameAt(0)->RowPointer(1)[1] = 6;
  Out = Save(*L.Image);
  EXPECT_EQ(Out[10] & 0x87, 0x82);
  P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok) << P.Error;
  ASSERT_EQ(P.GlobalMap.size(), 8u * 3);
  EXPECT_TRUE(std::equal(P.GlobalMap.begin(), P.GlobalMap.begin() + 12, MapBytes(L.Image->GlobalColorMap()).begin()));
  EXPECT_EQ(P.GlobalMap[18], 0);
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 1, 2, 6}));
  Back = Load(Out);
  EXPECT_TRUE(Back.Warnings.empty());
}

TEST(GifFrame, ZeroSizeDescriptorTakesTheScreenSize) {
  Bytes Gif = GifWriter().Header(100, 50, 0x81).Table(4).Descriptor(7, 9, 0, 30).ImageData(2, PackCodes(LzwCodes(Bytes(10, 1), 2))).Trailer().Get();
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "");
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  EXPECT_EQ(F->Width(), 100);
  EXPECT_EQ(F->Height(), 50);
  EXPECT_EQ(F->Left(), 7);
  EXPECT_EQ(F->Top(), 9);
  EXPECT_EQ(L.Warnings, std::vector<std::string>{"Image exceeds Logical Screen size"});
  // A zero-size screen with a zero-size frame: nothing to decode, no error.
  Gif = GifWriter().Header(0, 0, 0x80).Table(2).Descriptor(0, 0, 0, 0).ImageData(2, PackCodes({{4, 3}, {5, 3}})).Trailer().Get();
  L = Load(Gif);
  EXPECT_EQ(L.Error, "");
  EXPECT_EQ(L.Position, static_cast<std::int64_t>(Gif.size()));
  EXPECT_TRUE(L.Image->Images().FrameAt(0)->IsEmpty());
}

TEST(GifFrame, ExtensionsOnlyFramesAndEmptyFrames) {
  // After the extensions a ";" ends the frame without a descriptor; the ";" is left for the
  // trailer.
  Bytes Gif = GifWriter().Header(2, 2, 0x80).Table(2).Comment({"hello"}).Trailer().Get();
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "");
  ASSERT_EQ(L.Image->Images().Count(), 1);
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  EXPECT_TRUE(F->IsEmpty());
  EXPECT_EQ(F->Extensions().Count(), 1);
  EXPECT_TRUE(L.Warnings.empty());
  EXPECT_EQ(L.Position, static_cast<std::int64_t>(Gif.size()));
  // Saving an empty frame writes its extensions only.
  const Bytes Out = Save(*L.Image);
  EXPECT_EQ(Out, Gif);
}

TEST(GifFrame, InterlaceFlagOnWriting) {
  const Bytes Pixels = NoisePixels(5, 7, 4, 1);
  // Without a local table the interlace bit and order are kept.
  Loaded L = Load(SimpleGif(5, 7, Pixels, 4, 0, -1, true));
  ASSERT_EQ(FramePixels(L.Image->Images().FrameAt(0)), Pixels);
  Bytes Out = Save(*L.Image);
  PeerImage P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok);
  EXPECT_TRUE(P.Frames[0].Interlace);
  EXPECT_EQ(P.Frames[0].Pixels, Pixels);
  // With a local table the frame is written plain.
  L = Load(SimpleGif(5, 7, Pixels, 0, 4, -1, true));
  ASSERT_EQ(FramePixels(L.Image->Images().FrameAt(0)), Pixels);
  Out = Save(*L.Image);
  P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok);
  EXPECT_FALSE(P.Frames[0].Interlace);
  EXPECT_EQ(P.Frames[0].Pixels, Pixels);
}

TEST(GifFrame, BoundsAndPixels) {
  gif::TGIFImage Image;
  std::vector<std::string> W;
  Image.OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  auto* F = new gif::TGIFSubImage(&Image);
  Image.Images().Add(F);
  // On a 0 x 0 screen the screen grows silently.
  F->ChangeBounds(10, 10, 20, 20);
  EXPECT_EQ(Image.Width(), 30);
  EXPECT_EQ(Image.Height(), 30);
  EXPECT_TRUE(W.empty());
  EXPECT_EQ(F->DataSize(), 400);
  EXPECT_EQ(F->FrameRect().right, 30);
  // On a 25 x 25 screen it grows with the two warnings and the summary.
  gif::TGIFImage Small;
  Small.OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  Small.SetWidth(25);
  Small.SetHeight(25);
  auto* G = new gif::TGIFSubImage(&Small);
  Small.Images().Add(G);
  G->ChangeBounds(10, 10, 20, 20);
  EXPECT_EQ(Small.Width(), 30);
  EXPECT_EQ(W, (std::vector<std::string>{"Image width too small for contained frames",
                                         "Image height too small for contained frames",
                                         "Image exceeds Logical Screen size"}));
  // Changing the width gives a new zero-filled buffer of the new size.
  F->RowPointer(3)[4] = 7;
  EXPECT_EQ(F->PixelAt(4, 3), 7);
  F->SetDescriptorField(3, 5);
  EXPECT_EQ(F->DataSize(), 100);
  EXPECT_EQ(F->PixelAt(4, 3), 0);
  EXPECT_EQ(F->DescriptorField(9), 0);
  for (auto [X, Y] : {std::pair{-1, 0}, std::pair{5, 0}, std::pair{0, -1}, std::pair{0, 20}}) {
    try {
      F->PixelAt(X, Y);
      FAIL();
    } catch (const gif::GIFException& E) {
      EXPECT_EQ(E.Message(), "Invalid pixel coordinates");
    }
  }
  // The screen may not shrink below a frame.
  EXPECT_NO_THROW(Image.SetWidth(15));
  try {
    Image.SetWidth(14);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Image width too small for contained frames");
  }
  EXPECT_EQ(Image.Width(), 15);
  EXPECT_THROW(Image.SetHeight(29), gif::GIFException);
  // A frame freed leaves the image's list.
  delete F;
  EXPECT_EQ(Image.Images().Count(), 0);
  gif::TGIFSubImage Loose(&Image);
  EXPECT_THROW(Loose.EnsurePixels(), gif::GIFException);
}

TEST(GifTrailer, WrongOrMissing) {
  Bytes Gif = TwoByTwo();
  Gif.pop_back();
  Loaded L = Load(Gif);  // no trailer: accepted
  EXPECT_EQ(L.Error, "");
  EXPECT_TRUE(L.Warnings.empty());
  gif::TGIFImage Image;
  std::vector<std::string> W;
  Image.OnFormatWarning = [&](TObject*, int, const std::string& M) { W.push_back(M); };
  gif::TGIFTrailer T(&Image);
  auto S = StreamOf({0});
  T.LoadFromStream(S.get());
  EXPECT_EQ(W, std::vector<std::string>{"Invalid Image trailer"});
  // Trailing garbage after the trailer is not read.
  Gif = TwoByTwo();
  Gif.insert(Gif.end(), {1, 2, 3});
  L = Load(Gif);
  EXPECT_EQ(L.Error, "");
  EXPECT_EQ(L.Position, static_cast<std::int64_t>(Gif.size()) - 3);
}

TEST(GifImageList, BlocksBetweenFrames) {
  // Zero bytes between frames are skipped.
  GifWriter G;
  G.Header(2, 1, 0x80).Table(2);
  G.Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 1}, 2))).Byte(0).Byte(0);
  G.Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({1, 1}, 2)));
  Loaded L = Load(G.Trailer().Get());
  ASSERT_EQ(L.Error, "");
  ASSERT_EQ(L.Image->Images().Count(), 2);
  EXPECT_TRUE(L.Warnings.empty());
  // An unknown block byte: one warning, the frames so far stay, the trailer check then meets
  // that byte.
  GifWriter U;
  U.Header(2, 1, 0x80).Table(2).Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 1}, 2))).Byte(0x99);
  U.Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({1, 1}, 2))).Trailer();
  L = Load(U.Get());
  EXPECT_EQ(L.Error, "");
  EXPECT_EQ(L.Image->Images().Count(), 1);
  EXPECT_EQ(L.Warnings, (std::vector<std::string>{"Unknown GIF block type", "Invalid Image trailer"}));
}

TEST(GifImageList, DamagedSeparatorIsWrittenAsTheSeparator) {
  // A stray byte stands where the image separator belongs, after an extension: the frame loads
  // (with a warning) and is written back with 0x2C, which a peer reads again.
  GifWriter G;
  G.Header(2, 1, 0x80).Table(2).Comment({"x"}).Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 1}, 2)));
  Bytes Gif = G.Trailer().Get();
  const std::size_t Separator = 6 + 7 + 6 + 5;
  ASSERT_EQ(Gif[Separator], 0x2C);
  Gif[Separator] = 0x77;
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "");
  EXPECT_EQ(L.Warnings, std::vector<std::string>{"Invalid extension introducer"});
  ASSERT_EQ(L.Image->Images().Count(), 1);
  const Bytes Out = Save(*L.Image);
  EXPECT_EQ(Out[Separator], 0x2C);
  const PeerImage P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok) << P.Error;
  ASSERT_EQ(P.Frames.size(), 1u);
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 1}));
}

TEST(GifImageList, TeardownIsLinearInTheItems) {
  // 300,000 empty comments in front of one frame: clearing, reloading and freeing the image
  // visit and move each item a bounded number of times.
  constexpr int N = 300000;
  GifWriter G;
  G.Header(2, 1, 0x80).Table(2);
  for (int i = 0; i < N; ++i) G.Raw({0x21, 0xFE, 0x00});
  const Bytes Gif = G.Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 1}, 2))).Trailer().Get();
  const std::int64_t Before = gif::TGIFList::ItemSteps();
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Error, "");
  ASSERT_EQ(L.Image->Images().FrameAt(0)->Extensions().Count(), N);
  L.Image->Clear();
  EXPECT_TRUE(L.Image->Empty());
  auto S = StreamOf(Gif);
  L.Image->LoadFromStream(S.get());
  ASSERT_EQ(L.Image->Images().FrameAt(0)->Extensions().Count(), N);
  L.Image.reset();
  EXPECT_LT(gif::TGIFList::ItemSteps() - Before, 4 * N);
}

TEST(GifImage, FailedLoadRestoresThePosition) {
  GifWriter G;
  G.Header(2, 1, 0x80).Table(2).Descriptor(0, 0, 2, 1).ImageData(2, PackCodes(LzwCodes({0, 1}, 2)));
  G.Descriptor(0, 0, 2, 1, 0x81).Raw({1, 2, 3});  // the local table ends early
  Bytes Gif = G.Get();
  Bytes Prefixed = Gif;
  Prefixed.insert(Prefixed.begin(), 10, 0xAA);
  gif::TGIFImage Image;
  std::vector<std::tuple<TProgressStage, int, std::string>> Progress;
  Image.OnProgress = [&](TObject*, TProgressStage Stage, BYTE Percent, bool, const TRect& R, const std::string& Msg) {
    EXPECT_EQ(R.left | R.top | R.right | R.bottom, 0);
    Progress.emplace_back(Stage, Percent, Msg);
  };
  auto S = StreamOf(Prefixed);
  S->SetPosition(10);
  try {
    Image.LoadFromStream(S.get());
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Premature end of data");
  }
  EXPECT_EQ(S->Position(), 10);
  EXPECT_EQ(Image.Images().Count(), 1);
  ASSERT_GE(Progress.size(), 3u);
  EXPECT_EQ(Progress.front(), std::make_tuple(psStarting, 0, std::string("Loading...")));
  EXPECT_EQ(std::get<0>(Progress[1]), psRunning);
  EXPECT_EQ(Progress.back(), std::make_tuple(psEnding, 0, std::string("Loading...")));
  // Saving reports its progress too.
  Progress.clear();
  Save(Image);
  EXPECT_EQ(Progress.back(), std::make_tuple(psEnding, 100, std::string("Saving...")));
  EXPECT_EQ(Progress[1], std::make_tuple(psRunning, 100, std::string("Saving...")));
}

TEST(GifImage, PixelsBeyondTheTableStaySavable) {
  // The local table has 4 entries but the pixels reach 200: the table is grown (black) so
  // that the frame saves again with the same indices.
  GifWriter G;
  G.Header(4, 1).Descriptor(0, 0, 4, 1, 0x81).Table(4).ImageData(8, PackCodes(LzwCodes({0, 3, 200, 4}, 8)));
  Loaded L = Load(G.Trailer().Get());
  ASSERT_EQ(L.Error, "");
  gif::TGIFSubImage* F = L.Image->Images().FrameAt(0);
  EXPECT_EQ(FramePixels(F), (Bytes{0, 3, 200, 4}));
  EXPECT_EQ(F->ColorMap()->Count(), 201);
  const Bytes M = MapBytes(F->ColorMap());
  EXPECT_EQ(M[3 * 200], 0);
  const Bytes Out = Save(*L.Image);
  PeerImage P = PeerDecode(Out);
  ASSERT_TRUE(P.Ok);
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 3, 200, 4}));
  // The same for a frame on the global table, and for a frame with no table at all.
  Loaded L2 = Load(GifWriter().Header(4, 1, 0x80).Table(2).Descriptor(0, 0, 4, 1).ImageData(4, PackCodes(LzwCodes({0, 1, 9, 15}, 4))).Trailer().Get());
  EXPECT_EQ(L2.Image->GlobalColorMap()->Count(), 16);
  P = PeerDecode(Save(*L2.Image));
  ASSERT_TRUE(P.Ok);
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 1, 9, 15}));
  Loaded L3 = Load(GifWriter().Header(4, 1).Descriptor(0, 0, 4, 1).ImageData(2, PackCodes(LzwCodes({0, 1, 2, 3}, 2))).Trailer().Get());
  P = PeerDecode(Save(*L3.Image));
  ASSERT_TRUE(P.Ok);
  EXPECT_EQ(P.Frames[0].Pixels, (Bytes{0, 1, 2, 3}));
  // A frame built in memory with a pixel beyond its table is still refused.
  gif::TGIFImage Image;
  auto* Built = new gif::TGIFSubImage(&Image);
  Image.Images().Add(Built);
  Built->ChangeBounds(0, 0, 2, 1);
  for (int i = 0; i < 4; ++i) Built->ColorMap()->AddColor(i);
  Built->RowPointer(0)[1] = 4;
  TMemoryStream S;
  try {
    Image.SaveToStream(&S);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Color not in color table");
  }
}

TEST(GifImage, TruncationAtEveryOffset) {
  // A small animated file with every kind of block, cut at every length: each load ends with
  // the library's error or warnings, never a crash or a hang.
  GifWriter G;
  G.Header(6, 4, 0x81, 0, 0).Table(4);
  G.AppExt("NETSCAPE2.0", {3, 1, 0, 0, 0});
  G.Comment({"comment"});
  G.Gce(0x05, 10, 2).Descriptor(0, 0, 6, 4).ImageData(2, PackCodes(LzwCodes(NoisePixels(6, 4, 4, 1), 2)), {3});
  G.Raw({0x21, 0x01, 12, 0, 0, 0, 0, 6, 0, 4, 0, 8, 8, 1, 0, 2, 'h', 'i', 0});
  G.Gce(0x09, 20, 1).Descriptor(1, 1, 4, 2, 0xC1).Table(4).ImageData(2, PackCodes(LzwCodes(NoisePixels(4, 2, 4, 2), 2)));
  const Bytes Full = G.Trailer().Get();
  Loaded L = Load(Full);
  ASSERT_EQ(L.Error, "");
  ASSERT_TRUE(L.Warnings.empty()) << L.Warnings[0];
  ASSERT_EQ(L.Image->Images().Count(), 2);
  for (std::size_t N = 0; N < Full.size(); ++N) {
    const Loaded T = Load(Bytes(Full.begin(), Full.begin() + static_cast<long>(N)));
    if (!T.Error.empty()) {
      EXPECT_TRUE(T.Error == "Premature end of data" || T.Error == "Invalid GIF signature" ||
                  T.Error == "Unknown extension type")
          << N << " " << T.Error;
      EXPECT_EQ(T.Position, 0);
    }
  }
}
