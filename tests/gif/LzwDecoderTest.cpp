// LZW decoder: hand-made code streams and a comparison with a literal one-pixel-at-a-time
// decoder over valid, damaged and random data.
#include <gtest/gtest.h>

#include <cstring>

#include "GifTestUtil.h"
#include "LzwReference.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

struct Decoded {
  Bytes Pixels;
  std::vector<std::string> Warnings;
  std::string Error;
  std::int64_t Position{0};
};

// Decodes Data (code size byte and sub-blocks, maybe followed by more bytes) with the library.
Decoded Decode(const Bytes& Data, int Width, int Height, bool Interlaced = false, std::uint8_t Fill = 0) {
  Decoded D;
  auto S = StreamOf(Data);
  // The buffer starts with other bytes than the fill value: the decoder sets every pixel.
  std::vector<std::uint8_t> Buf(static_cast<std::size_t>(Width) * Height + gif::kLzwOutputSlack,
                                static_cast<std::uint8_t>(Fill ^ 0xA5));
  try {
    gif::DecodeLzwImage(S.get(), Buf.data(), Width, Height, Interlaced, Fill,
                        [&](const std::string& M) { D.Warnings.push_back(M); });
  } catch (const gif::GIFException& E) {
    D.Error = E.Message();
  }
  D.Pixels.assign(Buf.begin(), Buf.begin() + static_cast<long>(static_cast<std::size_t>(Width) * Height));
  D.Position = S->Position();
  return D;
}

ReferenceResult Reference(const Bytes& Data, int Width, int Height, bool Interlaced = false, std::uint8_t Fill = 0) {
  auto S = StreamOf(Data);
  return ReferenceDecode(S.get(), Width, Height, Interlaced, Fill);
}

void ExpectSameAsReference(const Bytes& Data, int Width, int Height, bool Interlaced, std::uint8_t Fill,
                           const std::string& What) {
  const Decoded D = Decode(Data, Width, Height, Interlaced, Fill);
  const ReferenceResult R = Reference(Data, Width, Height, Interlaced, Fill);
  ASSERT_EQ(D.Error, R.Error) << What;
  ASSERT_EQ(D.Warnings, R.Warnings) << What;
  ASSERT_EQ(D.Position, R.Position) << What;
  ASSERT_TRUE(D.Pixels == R.Pixels) << What;
}

Bytes ImageData(int Mcs, const Bytes& Codes, std::vector<int> Sizes = {255}, bool Terminate = true) {
  Bytes Out{static_cast<std::uint8_t>(Mcs)};
  const Bytes Blocks = SubBlocks(Codes, std::move(Sizes), Terminate);
  Out.insert(Out.end(), Blocks.begin(), Blocks.end());
  return Out;
}

}  // namespace

TEST(LzwDecoder, MinimumCodeSizesOneToEight) {
  for (int Mcs = 1; Mcs <= 8; ++Mcs) {
    const int Colors = 1 << Mcs;
    const Bytes Pixels = NoisePixels(37, 23, Colors, static_cast<std::uint64_t>(Mcs));
    const Bytes Data = ImageData(Mcs, PackCodes(LzwCodes(Pixels, Mcs)));
    const Decoded D = Decode(Data, 37, 23);
    EXPECT_TRUE(D.Warnings.empty()) << Mcs;
    EXPECT_EQ(D.Pixels, Pixels) << Mcs;
    EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size())) << Mcs;
  }
}

TEST(LzwDecoder, CodeSizeAboveElevenIsRejected) {
  for (int Mcs : {12, 13, 32, 255}) {
    const Decoded D = Decode(ImageData(Mcs, {1, 2, 3}), 4, 4, false, 7);
    EXPECT_EQ(D.Error, "Invalid GIF data") << Mcs;
    EXPECT_EQ(D.Pixels, Bytes(16, 7));
  }
  // 9 to 11 are read (pixel values are the low byte of the roots).
  const Bytes Codes = PackCodes({{2048, 12}, {300, 12}, {2049, 12}});
  const Decoded D = Decode(ImageData(11, Codes), 1, 1);
  EXPECT_EQ(D.Error, "");
  EXPECT_EQ(D.Pixels, Bytes{300 & 0xFF});
}

TEST(LzwDecoder, CodesStraddlingTinySubBlocks) {
  const Bytes Pixels = NoisePixels(50, 40, 256, 3);
  const Bytes Codes = PackCodes(LzwCodes(Pixels, 8));
  for (std::vector<int> Sizes : std::vector<std::vector<int>>{{1}, {2}, {3, 1, 2}, {254, 1}, {1, 255}}) {
    const Bytes Data = ImageData(8, Codes, Sizes);
    const Decoded D = Decode(Data, 50, 40);
    EXPECT_TRUE(D.Warnings.empty());
    EXPECT_EQ(D.Pixels, Pixels) << Sizes.size();
    EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()));
  }
}

TEST(LzwDecoder, KwKwKAndClearMidStreamAndNoLeadingClear) {
  // 0, then code 6 (= "0 0", the code being defined), then clear, then 1 1 1.
  const Bytes Codes = PackCodes({{4, 3}, {0, 3}, {6, 3}, {4, 3}, {1, 3}, {6, 3}, {5, 3}});
  Decoded D = Decode(ImageData(2, Codes), 6, 1);
  EXPECT_EQ(D.Pixels, (Bytes{0, 0, 0, 1, 1, 1}));
  EXPECT_TRUE(D.Warnings.empty());
  // The clear code resets the code size: after it codes are 3 bits wide again.
  const Bytes Pixels = NoisePixels(64, 64, 4, 11);
  auto List = LzwCodes(Pixels, 2);
  const Bytes Data = ImageData(2, PackCodes(List));
  EXPECT_EQ(Decode(Data, 64, 64).Pixels, Pixels);
  // Without the leading clear code.
  const Bytes NoClear = ImageData(2, PackCodes(LzwCodes(Pixels, 2, false)));
  D = Decode(NoClear, 64, 64);
  EXPECT_EQ(D.Pixels, Pixels);
  EXPECT_TRUE(D.Warnings.empty());
}

TEST(LzwDecoder, InterlacedHeightsOneToNine) {
  for (int H = 1; H <= 9; ++H) {
    const Bytes Rows = NoisePixels(5, H, 16, static_cast<std::uint64_t>(H) + 40);
    // Stream order of the rows: passes 0, 8, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...
    std::vector<int> Order;
    for (int Start : {0, 4, 2, 1}) {
      const int Step = Start == 0 ? 8 : Start * 2;
      for (int y = Start; y < H; y += Step) Order.push_back(y);
    }
    ASSERT_EQ(static_cast<int>(Order.size()), H);
    Bytes Stream;
    for (int y : Order) Stream.insert(Stream.end(), Rows.begin() + y * 5, Rows.begin() + y * 5 + 5);
    const Bytes Data = ImageData(4, PackCodes(LzwCodes(Stream, 4)));
    EXPECT_EQ(Decode(Data, 5, H, true).Pixels, Rows) << H;
    ExpectSameAsReference(Data, 5, H, true, 0, "interlaced");
  }
}

TEST(LzwDecoder, MissingDataKeepsTheFillValue) {
  // No code size byte at all.
  Decoded D = Decode(Bytes{}, 3, 2, false, 5);
  EXPECT_EQ(D.Pixels, Bytes(6, 5));
  EXPECT_TRUE(D.Warnings.empty());
  // End code before all pixels: the rest keeps the fill value, the stream stands after the
  // terminator, and nothing more is read.
  Bytes Data = ImageData(2, PackCodes({{4, 3}, {1, 3}, {2, 3}, {5, 3}}));
  Data.push_back(0x2C);
  D = Decode(Data, 4, 1, false, 3);
  EXPECT_EQ(D.Pixels, (Bytes{1, 2, 3, 3}));
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
  EXPECT_TRUE(D.Warnings.empty());
}

TEST(LzwDecoder, TruncatedData) {
  const Bytes Pixels = NoisePixels(40, 40, 256, 5);
  const Bytes Codes = PackCodes(LzwCodes(Pixels, 8));
  // A sub-block longer than the rest of the stream.
  Bytes Data = ImageData(8, Codes);
  Data.resize(300);
  Decoded D = Decode(Data, 40, 40, false, 9);
  ASSERT_FALSE(D.Warnings.empty());
  EXPECT_EQ(D.Warnings[0], "Premature end of data");
  EXPECT_EQ(D.Position, 300);
  EXPECT_TRUE(std::equal(D.Pixels.begin(), D.Pixels.begin() + 100, Pixels.begin()));
  EXPECT_EQ(D.Pixels.back(), 9);
  // Data that stop after the first sub-block with its terminator: the decoder runs dry.
  Data = ImageData(8, Bytes(Codes.begin(), Codes.begin() + 200));
  D = Decode(Data, 40, 40, false, 9);
  ASSERT_FALSE(D.Warnings.empty());
  EXPECT_EQ(D.Warnings.back(), "Decoder bit buffer under-run");
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()));
  ExpectSameAsReference(Data, 40, 40, false, 9, "dry");
}

TEST(LzwDecoder, StreamStandsAfterTheTerminator) {
  // The end code lies in a later sub-block than the last pixel.
  const Bytes Pixels = NoisePixels(30, 30, 16, 9);
  auto List = LzwCodes(Pixels, 4);
  Bytes Codes = PackCodes(List);
  Bytes Data{4};
  const Bytes Head = SubBlocks(Bytes(Codes.begin(), Codes.end() - 1), {255}, false);
  Data.insert(Data.end(), Head.begin(), Head.end());
  Data.insert(Data.end(), {1, Codes.back(), 0, 0x3B});
  Decoded D = Decode(Data, 30, 30);
  EXPECT_EQ(D.Pixels, Pixels);
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
  // Codes after the last pixel (more pixels than the frame has) are skipped up to the
  // terminator, so that the next block is read where it begins.
  D = Decode(Data, 30, 29);
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
  // A frame with no pixels still reads its data.
  D = Decode(Data, 0, 0);
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
}

TEST(LzwDecoder, DamagedTables) {
  // A self-referencing entry: code 6 is defined as (6, ...) when the previous code was 7.
  // clear, 1, 7 (undefined: KwKwK from 1), 8 (undefined, old = 7) ... the entry 7 then has
  // prefix 7 once next reaches it.
  Bytes Codes = PackCodes({{4, 3}, {1, 3}, {7, 3}, {7, 4}, {7, 4}, {7, 4}, {5, 4}});
  Decoded D = Decode(ImageData(2, Codes), 20, 1);
  ExpectSameAsReference(ImageData(2, Codes), 20, 1, false, 0, "self reference");
  // The first code after a clear that nothing defines ends the frame like the end code.
  Codes = PackCodes({{4, 3}, {1, 3}, {4, 3}, {7, 3}, {2, 3}, {5, 3}});
  Bytes Data = ImageData(2, Codes);
  Data.push_back(0x21);
  D = Decode(Data, 5, 1, false, 3);
  EXPECT_EQ(D.Pixels, (Bytes{1, 3, 3, 3, 3}));
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
  // The end code right after a clear too (it is not a pixel).
  Codes = PackCodes({{4, 3}, {5, 3}});
  D = Decode(ImageData(2, Codes), 2, 1, false, 3);
  EXPECT_EQ(D.Pixels, (Bytes{3, 3}));
}

TEST(LzwDecoder, PrefixCycleEndsTheFrame) {
  // Codes beyond the next one make entries 11 and 12 name each other as prefixes; the walk of
  // code 11 is cut at the output stack's size and the frame ends there, the rest keeping the
  // fill value, the stream standing after the terminator.
  const Bytes Codes = PackCodes({{8, 4}, {0, 4}, {12, 4}, {11, 4}, {0, 4}, {11, 4}, {3, 4}, {9, 4}});
  Bytes Data = ImageData(3, Codes);
  Data.push_back(0x3B);
  const Decoded D = Decode(Data, 40, 1, false, 6);
  EXPECT_EQ(D.Error, "");
  EXPECT_EQ(D.Position, static_cast<std::int64_t>(Data.size()) - 1);
  EXPECT_EQ(D.Pixels.back(), 6);
  ExpectSameAsReference(Data, 40, 1, false, 6, "cycle");
}

TEST(LzwDecoder, CircularEntryRaises) {
  // Codes beyond the next one make entries point forward; a prefix chain can then lead back
  // to itself.
  const Bytes Codes = PackCodes({{4, 3}, {0, 3}, {6, 3}, {6, 3}, {7, 4}, {7, 4}, {8, 4}, {9, 4}, {5, 4}});
  ExpectSameAsReference(ImageData(2, Codes), 30, 1, false, 0, "forward");
  // A search over short random code sequences finds both errors and cycles; each decodes as the
  // literal decoder does.
  Rng R(77);
  int Circular = 0;
  for (int t = 0; t < 20000; ++t) {
    std::vector<std::pair<int, int>> List{{4, 3}};
    const int N = 2 + R.Below(12);
    int Width = 3;
    for (int i = 0; i < N; ++i) {
      List.push_back({R.Below(1 << Width), Width});
      if (i == 3 && R.Below(2)) Width = 4;
    }
    const Bytes Data = ImageData(2, PackCodes(List), {1 + R.Below(4)});
    const Decoded D = Decode(Data, 8 + R.Below(40), 1);
    if (D.Error == "Circular decoder table entry") ++Circular;
    ExpectSameAsReference(Data, static_cast<int>(D.Pixels.size()), 1, false, 0, "random codes");
  }
  EXPECT_GT(Circular, 0);
}

TEST(LzwDecoder, SameAsLiteralDecoderOnDamagedStreams) {
  Rng R(2024);
  for (int t = 0; t < 1500; ++t) {
    const int W = 1 + R.Below(70), H = 1 + R.Below(40);
    const int Mcs = 1 + R.Below(8);
    const Bytes Pixels = (t % 2) ? NoisePixels(W, H, 1 << Mcs, t) : FlatPixels(W, H, 1 << Mcs, t);
    Bytes Codes = PackCodes(LzwCodes(Pixels, Mcs, R.Below(4) != 0));
    // Damage: flipped bits, cut data, missing terminator, extra bytes behind.
    const int Kind = R.Below(6);
    if (Kind == 1 && !Codes.empty())
      for (int k = 0; k < 1 + R.Below(4); ++k) Codes[R.Below(static_cast<int>(Codes.size()))] ^= 1 << R.Below(8);
    if (Kind == 2 && Codes.size() > 2) Codes.resize(R.Below(static_cast<int>(Codes.size())));
    std::vector<int> Sizes{1 + R.Below(255)};
    if (R.Below(3) == 0) Sizes = {1 + R.Below(3), 1 + R.Below(3), 1 + R.Below(255)};
    Bytes Data = ImageData(Mcs, Codes, Sizes, Kind != 3);
    if (Kind == 4 && Data.size() > 3) Data.resize(1 + R.Below(static_cast<int>(Data.size())));
    if (Kind == 5) Data.insert(Data.end(), {0x21, 0xF9, 0x04, 0x3B});
    const int DW = (R.Below(5) == 0) ? W + 3 : W;
    ExpectSameAsReference(Data, DW, H, R.Below(3) == 0, static_cast<std::uint8_t>(R.Below(256)),
                          "case " + std::to_string(t));
  }
}

TEST(LzwDecoder, SameAsLiteralDecoderOnRandomBytes) {
  Rng R(99);
  for (int t = 0; t < 3000; ++t) {
    Bytes Data(1 + R.Below(300));
    for (auto& B : Data) B = static_cast<std::uint8_t>(R.Next());
    Data[0] = static_cast<std::uint8_t>(R.Below(12));
    ExpectSameAsReference(Data, 1 + R.Below(60), 1 + R.Below(20), R.Below(2) == 1, 0, "random " + std::to_string(t));
  }
}

TEST(LzwDecoder, FrameFillsWithTransparentIndexAndRefusesHugeFrames) {
  // A frame with a transparent index of 5 and no image data is filled with index 5.
  Bytes Gif = GifWriter().Header(4, 2, 0x82).Table(8).Gce(0x01, 0, 5).Descriptor(0, 0, 4, 2).Get();
  Loaded L = Load(Gif);
  ASSERT_EQ(L.Image->Images().Count(), 1);
  EXPECT_EQ(FramePixels(L.Image->Images().FrameAt(0)), Bytes(8, 5));
  // A frame of 65535 x 65535 pixels with a few bytes of data is refused before anything is
  // allocated for it.
  Gif = GifWriter().Header(100, 100).Descriptor(0, 0, 65535, 65535).ImageData(2, {0x44, 0x01}).Trailer().Get();
  L = Load(Gif);
  EXPECT_EQ(L.Error, "Invalid image dimensions");
  EXPECT_EQ(L.Position, 0);
  // A zero-size descriptor on a huge screen is repaired to the screen size: refused the same way.
  Gif = GifWriter().Header(65535, 65535).Descriptor(0, 0, 0, 0).ImageData(2, {0x44, 0x01}).Trailer().Get();
  EXPECT_EQ(Load(Gif).Error, "Invalid image dimensions");
}

TEST(LzwDecoder, FramesTogetherClaimNoMoreThanTheStreamJustifies) {
  // Frames of 255 x 255 pixels with no data: a few are filled and kept...
  auto Frames = [](int Count) {
    GifWriter W;
    W.Header(255, 255);
    for (int i = 0; i < Count; ++i) W.Descriptor(0, 0, 255, 255).ImageData(2, {}, {255}, true);
    return W.Trailer().Get();
  };
  Loaded Few = Load(Frames(5));
  EXPECT_EQ(Few.Error, "");
  EXPECT_EQ(Few.Image->Images().Count(), 5);
  // ...but 1,000 of them (12 KB, each frame alone within bounds) would claim 65 megapixels,
  // twice what the whole stream could decode to: the frames past that are refused.
  Loaded Many = Load(Frames(1000));
  EXPECT_EQ(Many.Error, "Invalid image dimensions");
  // The budget ends with the load: the next stream has its own.
  Loaded Again = Load(Frames(5));
  EXPECT_EQ(Again.Error, "");
}
