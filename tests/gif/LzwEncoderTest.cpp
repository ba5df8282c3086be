// LZW and run-length encoders and the sub-block writer.
#include <gtest/gtest.h>

#include <algorithm>

#include "GifTestUtil.h"
#include "gif/GIFImage.h"

using namespace giftest;

namespace {

Bytes Encode(gif::TGIFEncoder&& Encoder, int Bits, int Colors, const Bytes& Pixels, int Width, int Height,
             bool Interlaced = false) {
  TMemoryStream S;
  Encoder.Encode(&S, Bits, Colors, Pixels.empty() ? nullptr : Pixels.data(), Interlaced, Height, Width);
  return BytesOf(S);
}

// Unpacks the code stream of image data written at a known minimum code size, following the
// decoder's width rules; returns the codes.
std::vector<int> Codes(const Bytes& Data) {
  const int Mcs = Data[0];
  Bytes Raw;
  std::size_t At = 1;
  while (At < Data.size() && Data[At] != 0) {
    Raw.insert(Raw.end(), Data.begin() + static_cast<long>(At + 1), Data.begin() + static_cast<long>(At + 1 + Data[At]));
    At += 1 + Data[At];
  }
  const int Clear = 1 << Mcs;
  std::vector<int> Out;
  int Width = Mcs + 1, Next = Clear + 2, Limit = 2 * Clear;
  bool First = true;
  std::size_t Bit = 0;
  while (Bit + Width <= Raw.size() * 8) {
    int Code = 0;
    for (int b = 0; b < Width; ++b, ++Bit) Code |= ((Raw[Bit / 8] >> (Bit % 8)) & 1) << b;
    Out.push_back(Code);
    if (Code == Clear) {
      Width = Mcs + 1;
      Next = Clear + 2;
      Limit = 2 * Clear;
      First = true;
      continue;
    }
    if (Code == Clear + 1) break;
    if (First) {
      First = false;
      continue;
    }
    if (Next < 4096) {
      ++Next;
      if (Next >= Limit && Limit < 4096) {
        Limit *= 2;
        ++Width;
      }
    }
  }
  return Out;
}

// Wraps image data into a one-frame GIF with a global table of 2^Bits entries.
Bytes WrapFrame(const Bytes& Data, int Width, int Height, int Bits, bool Interlaced = false) {
  return GifWriter()
      .Header(Width, Height, static_cast<std::uint8_t>(0x80 | (Bits - 1)))
      .Table(1 << Bits)
      .Descriptor(0, 0, Width, Height, Interlaced ? 0x40 : 0)
      .Raw(Data)
      .Trailer()
      .Get();
}

// The LZW encoder written out plainly (per-pixel walk, the 8009-slot hash table, byte-at-a-time
// sub-blocks, the code size the smallest that holds the largest pixel): the library's encoder
// must write exactly these bytes.
Bytes ReferenceLzw(int Bits, const Bytes& Pixels, int Width, int Height, bool Interlaced) {
  if (Width > 0 && Height > 0) {
    const int Largest = *std::max_element(Pixels.begin(), Pixels.end());
    int Needed = 0;
    while ((1 << Needed) <= Largest) ++Needed;
    Bits = std::min(Bits, Needed);
  }
  Bits = std::max(Bits, 2);
  Bytes Out{static_cast<std::uint8_t>(Bits)};
  Bytes Block;
  auto PutByte = [&](std::uint8_t B) {
    Block.push_back(B);
    if (Block.size() == 255) {
      Out.push_back(255);
      Out.insert(Out.end(), Block.begin(), Block.end());
      Block.clear();
    }
  };
  const int Initial = Bits + 1, Clear = 1 << Bits, End = Clear + 1;
  int Width_ = Initial, Max = (1 << Initial) - 1, NextFree = Clear + 2;
  bool ClearFlag = false;
  std::uint32_t Bucket = 0;
  int N = 0;
  auto Output = [&](int Code) {
    if (N > 0)
      Bucket = (Bucket & ((1u << N) - 1)) | (static_cast<std::uint32_t>(Code) << N);
    else
      Bucket = static_cast<std::uint32_t>(Code);
    N += Width_;
    while (N >= 8) {
      PutByte(static_cast<std::uint8_t>(Bucket));
      Bucket >>= 8;
      N -= 8;
    }
    if (Code == End)
      while (N > 0) {
        PutByte(static_cast<std::uint8_t>(Bucket));
        Bucket >>= 8;
        N -= 8;
      }
    if (NextFree > Max || ClearFlag) {
      if (ClearFlag) {
        Width_ = Initial;
        Max = (1 << Width_) - 1;
        ClearFlag = false;
      } else {
        ++Width_;
        Max = Width_ == 12 ? 4096 : (1 << Width_) - 1;
      }
    }
  };
  gif::THashTable Hash;
  auto Reset = [&] {
    ClearFlag = true;
    Output(Clear);
    Hash.Clear();
    NextFree = Clear + 2;
  };
  // Pixel order.
  std::vector<int> Order;
  if (Interlaced) {
    for (int Start : {0, 4, 2, 1})
      for (int y = Start; y < Height; y += Start == 0 ? 8 : Start * 2)
        for (int x = 0; x < Width; ++x) Order.push_back(y * Width + x);
  } else {
    for (int i = 0; i < Width * Height; ++i) Order.push_back(i);
  }
  if (!Order.empty()) {
    Reset();
    int Prefix = Pixels[static_cast<std::size_t>(Order[0])];
    for (std::size_t i = 1; i < Order.size(); ++i) {
      const int P = Pixels[static_cast<std::size_t>(Order[i])];
      const std::uint32_t Key = (static_cast<std::uint32_t>(Prefix) << 8) | static_cast<std::uint32_t>(P);
      const int Code = Hash.Find(Key);
      if (Code >= 0) {
        Prefix = Code;
        continue;
      }
      Output(Prefix);
      Prefix = P;
      if (NextFree >= 4095) {
        Reset();
      } else {
        Hash.Insert(Key, NextFree);
        ++NextFree;
      }
    }
    Output(Prefix);
  }
  Output(End);
  if (!Block.empty()) {
    Out.push_back(static_cast<std::uint8_t>(Block.size()));
    Out.insert(Out.end(), Block.begin(), Block.end());
  }
  Out.push_back(0);
  return Out;
}

}  // namespace

TEST(LzwEncoder, WritesExactlyThePlainAlgorithmsBytes) {
  Rng R(5);
  for (int t = 0; t < 60; ++t) {
    const int Bits = 1 + R.Below(8);
    // Pixels of a third of the pictures use only part of the table.
    const int Used = t % 3 == 2 ? 1 + R.Below(Bits) : Bits;
    const int W = 1 + R.Below(t < 50 ? 200 : 900), H = 1 + R.Below(t < 50 ? 120 : 700);
    Bytes Pixels;
    switch (t % 3) {
      case 0: Pixels = NoisePixels(W, H, 1 << Used, t); break;
      case 1: Pixels = FlatPixels(W, H, 1 << Used, t); break;
      default:  // mixed: flat areas with noisy stripes, so that both kinds of stretch occur
        Pixels = FlatPixels(W, H, 1 << Used, t);
        for (int y = 0; y < H; y += 7)
          for (int x = 0; x < W; ++x) Pixels[static_cast<std::size_t>(y) * W + x] = static_cast<std::uint8_t>(R.Below(1 << Used));
    }
    const bool Interlaced = R.Below(3) == 0;
    const Bytes Ours = Encode(gif::TLZWEncoder(), Bits, 1 << Bits, Pixels, W, H, Interlaced);
    ASSERT_EQ(Ours, ReferenceLzw(Bits, Pixels, W, H, Interlaced)) << t << ": " << W << "x" << H << " bits " << Bits;
  }
}

TEST(GIFWriter, SubBlocksOfAtMost255Bytes) {
  for (int N : {0, 1, 254, 255, 256, 510, 511}) {
    TMemoryStream S;
    {
      gif::TGIFWriter W(&S);
      for (int i = 0; i < N; ++i) W.PutByte(static_cast<std::uint8_t>(i));
    }
    const Bytes Out = BytesOf(S);
    Bytes Expected;
    for (int At = 0; At < N; At += 255) {
      const int K = std::min(255, N - At);
      Expected.push_back(static_cast<std::uint8_t>(K));
      for (int i = 0; i < K; ++i) Expected.push_back(static_cast<std::uint8_t>(At + i));
    }
    EXPECT_EQ(Out, Expected) << N;  // no empty block after a full one
    // The same bytes in one write.
    TMemoryStream S2;
    {
      gif::TGIFWriter W(&S2);
      Bytes Data(static_cast<std::size_t>(N));
      for (int i = 0; i < N; ++i) Data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
      EXPECT_EQ(W.Write(Data.data(), N), N);
    }
    EXPECT_EQ(BytesOf(S2), Expected) << N;
  }
  gif::TGIFWriter W(nullptr);
  std::uint8_t B;
  EXPECT_THROW(W.Read(&B, 1), Exception);
  EXPECT_THROW(W.Seek(0, soFromBeginning), Exception);
  EXPECT_THROW(W.Size(), Exception);
  try {
    W.Read(&B, 1);
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "Invalid stream operation");
  }
}

TEST(HashTable, InsertFindAndClear) {
  gif::THashTable H;
  Rng R(1);
  std::vector<std::pair<std::uint32_t, int>> Keys;
  for (int i = 0; i < 3800; ++i) {
    const std::uint32_t Key = (static_cast<std::uint32_t>(R.Below(4096)) << 8) | static_cast<std::uint32_t>(R.Below(256));
    if (H.Find(Key) >= 0) continue;
    H.Insert(Key, 258 + i % 3800);
    Keys.push_back({Key, 258 + i % 3800});
  }
  for (auto [Key, Code] : Keys) EXPECT_EQ(H.Find(Key), Code);
  H.Clear();
  for (auto [Key, Code] : Keys) EXPECT_EQ(H.Find(Key), -1);
}

TEST(LzwEncoder, MinimumCodeSizeAndEmptyFrames) {
  // A 1-bit image is written with minimum code size 2 (clear 4, end 5).
  Bytes Out = Encode(gif::TLZWEncoder(), 1, 2, Bytes{0, 1, 1, 0}, 2, 2);
  EXPECT_EQ(Out[0], 2);
  EXPECT_EQ(Codes(Out).front(), 4);
  EXPECT_EQ(Codes(Out).back(), 5);
  // The code size holds the largest pixel, not more than the table: fewer bits per code. Both
  // encoders' output reads back through the peer and through us.
  for (const auto& [Pixels, Size] : std::vector<std::pair<Bytes, int>>{
           {Bytes(64, 0), 2}, {Bytes{0, 3, 1, 2}, 2}, {Bytes{4, 0, 1, 2}, 3}, {Bytes{15, 9, 9, 9}, 4},
           {Bytes{16, 0, 0, 0}, 5}, {Bytes{127, 1, 2, 3}, 7}, {Bytes{128, 1, 2, 3}, 8}, {Bytes{255, 0, 0, 0}, 8}}) {
    const int W = static_cast<int>(Pixels.size()) / 4;
    for (bool Rle : {false, true}) {
      Out = Rle ? Encode(gif::TRLEEncoder(), 8, 256, Pixels, W, 4) : Encode(gif::TLZWEncoder(), 8, 256, Pixels, W, 4);
      EXPECT_EQ(Out[0], Size) << int(Pixels[0]) << Rle;
      EXPECT_EQ(Codes(Out).front(), 1 << Size);
      const Bytes Gif = WrapFrame(Out, W, 4, 8);
      const PeerImage P = PeerDecode(Gif);
      ASSERT_TRUE(P.Ok);
      EXPECT_EQ(P.Frames[0].Pixels, Pixels);
      EXPECT_EQ(FramePixels(Load(Gif).Image->Images().FrameAt(0)), Pixels);
    }
  }
  // Pixels beyond the table still raise (below), whatever bits they need.
  EXPECT_THROW(Encode(gif::TLZWEncoder(), 3, 5, Bytes{5, 0}, 2, 1), gif::GIFException);
  // No pixels: the code size byte, a sub-block with only the end code, the terminator.
  Out = Encode(gif::TLZWEncoder(), 8, 256, Bytes{}, 0, 0);
  EXPECT_EQ(Out, (Bytes{8, 2, 0x01, 0x01, 0}));
  Out = Encode(gif::TRLEEncoder(), 3, 8, Bytes{1, 2}, 0, 5);
  EXPECT_EQ(Out, (Bytes{3, 1, 0x09, 0}));
}

TEST(LzwEncoder, ColorNotInColorTable) {
  const Bytes Pixels{0, 1, 2, 3, 4};
  try {
    Encode(gif::TLZWEncoder(), 2, 4, Pixels, 5, 1);
    FAIL();
  } catch (const gif::GIFException& E) {
    EXPECT_EQ(E.Message(), "Color not in color table");
  }
  EXPECT_THROW(Encode(gif::TRLEEncoder(), 2, 4, Pixels, 5, 1), gif::GIFException);
  EXPECT_THROW(Encode(gif::TLZWEncoder(), 2, 4, Bytes{7}, 1, 1), gif::GIFException);
}

TEST(LzwEncoder, LargeImagesClearBeforeTheTableFills) {
  const Bytes Pixels = NoisePixels(300, 300, 256, 4);
  const Bytes Out = Encode(gif::TLZWEncoder(), 8, 256, Pixels, 300, 300);
  const std::vector<int> List = Codes(Out);
  int Clears = 0;
  for (int C : List) {
    EXPECT_LT(C, 4096);
    if (C == 256) ++Clears;
  }
  EXPECT_GT(Clears, 3);
  const PeerImage P = PeerDecode(WrapFrame(Out, 300, 300, 8));
  ASSERT_TRUE(P.Ok);
  EXPECT_EQ(P.Frames[0].Pixels, Pixels);
}

TEST(LzwEncoder, InterlacedRowsInPassOrder) {
  for (int H = 1; H <= 9; ++H) {
    const Bytes Pixels = NoisePixels(7, H, 16, static_cast<std::uint64_t>(H));
    for (bool Rle : {false, true}) {
      const Bytes Out = Rle ? Encode(gif::TRLEEncoder(), 4, 16, Pixels, 7, H, true)
                            : Encode(gif::TLZWEncoder(), 4, 16, Pixels, 7, H, true);
      const Loaded L = Load(WrapFrame(Out, 7, H, 4, true));
      ASSERT_EQ(L.Error, "");
      EXPECT_TRUE(L.Warnings.empty());
      EXPECT_EQ(FramePixels(L.Image->Images().FrameAt(0)), Pixels) << H << Rle;
      const PeerImage P = PeerDecode(WrapFrame(Out, 7, H, 4, true));
      ASSERT_TRUE(P.Ok);
      EXPECT_EQ(P.Frames[0].Pixels, Pixels) << H << Rle;
    }
  }
}

TEST(RleEncoder, DecodesWithStandardDecoders) {
  struct Case {
    int W, H, Bits;
    Bytes Pixels;
  };
  std::vector<Case> Cases;
  Cases.push_back({64, 64, 1, Bytes(64 * 64, 1)});     // single colour
  Cases.push_back({500, 400, 8, Bytes(500 * 400, 77)});  // long runs beyond the table
  Cases.push_back({120, 90, 8, FlatPixels(120, 90, 256, 1)});
  Cases.push_back({120, 90, 2, FlatPixels(120, 90, 4, 2)});
  Cases.push_back({77, 55, 4, NoisePixels(77, 55, 16, 3)});
  Cases.push_back({200, 3, 3, NoisePixels(200, 3, 8, 4)});
  for (int i = 0; i < 30; ++i) {
    Rng R(static_cast<std::uint64_t>(i) + 100);
    const int Bits = 1 + R.Below(8), W = 1 + R.Below(300), H = 1 + R.Below(60);
    Bytes P(static_cast<std::size_t>(W) * H);
    std::size_t At = 0;
    while (At < P.size()) {  // runs of random lengths
      const std::size_t N = std::min<std::size_t>(P.size() - At, 1 + R.Below(i % 2 ? 9000 : 40));
      std::fill(P.begin() + static_cast<long>(At), P.begin() + static_cast<long>(At + N),
                static_cast<std::uint8_t>(R.Below(1 << Bits)));
      At += N;
    }
    Cases.push_back({W, H, Bits, P});
  }
  for (const Case& C : Cases) {
    const Bytes Out = Encode(gif::TRLEEncoder(), C.Bits, 1 << C.Bits, C.Pixels, C.W, C.H);
    for (int Code : Codes(Out)) ASSERT_LT(Code, 4096);
    const Bytes Gif = WrapFrame(Out, C.W, C.H, std::max(C.Bits, 1));
    const PeerImage P = PeerDecode(Gif);
    ASSERT_TRUE(P.Ok) << C.W << "x" << C.H;
    EXPECT_EQ(P.Frames[0].Pixels, C.Pixels) << C.W << "x" << C.H << " bits " << C.Bits;
    const Loaded L = Load(Gif);
    EXPECT_TRUE(L.Warnings.empty());
    EXPECT_EQ(FramePixels(L.Image->Images().FrameAt(0)), C.Pixels);
  }
}

TEST(LzwEncoder, RoundTripsThroughBothDecoders) {
  for (int Bits = 1; Bits <= 8; ++Bits) {
    for (int Kind = 0; Kind < 2; ++Kind) {
      const int W = 131, H = 47;
      const Bytes Pixels = Kind ? NoisePixels(W, H, 1 << Bits, Bits) : FlatPixels(W, H, 1 << Bits, Bits);
      const Bytes Out = Encode(gif::TLZWEncoder(), Bits, 1 << Bits, Pixels, W, H);
      const Bytes Gif = WrapFrame(Out, W, H, Bits);
      const PeerImage P = PeerDecode(Gif);
      ASSERT_TRUE(P.Ok);
      EXPECT_EQ(P.Frames[0].Pixels, Pixels);
      EXPECT_EQ(FramePixels(Load(Gif).Image->Images().FrameAt(0)), Pixels);
    }
  }
}
