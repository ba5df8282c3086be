#include <gtest/gtest.h>

#include <random>

#include "picture/PxDibConvert.h"
#include "picture/PxGIF.h"
#include "picture/PxGIFCodec.h"
#include "picture/PxGraphUtils.h"
#include "tests/picture/PxGifTestSupport.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

std::vector<std::int64_t> InterlaceOrder(std::int64_t Height) {
  std::vector<std::int64_t> rows;
  int pass = 0;
  for (std::int64_t r = 0; r < Height; r = NextInterlacedRow(r, Height, pass)) rows.push_back(r);
  return rows;
}

BITMAPINFOHEADER Info(int W, int H, int Bits) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = W;
  h.biHeight = H;
  h.biBitCount = static_cast<WORD>(Bits);
  h.biPlanes = 1;
  return h;
}

// Decodes Data (minimum code size byte, sub-blocks) into an 8-bit picture of W x H.
struct Decoded {
  std::vector<std::uint8_t> Rows;  // bottom-up, 4-byte padded
  bool Damaged{false};
  int W, H;
  std::uint8_t At(int X, int Y) const {
    return Rows[static_cast<std::size_t>((H - 1 - Y) * DibScanlineBytes(8 * W) + X)];
  }
};

Decoded Decode(const Bytes& Data, int W, int H, bool Accept = true, bool Interlaced = false) {
  Decoded d;
  d.W = W;
  d.H = H;
  d.Rows.assign(static_cast<std::size_t>(DibScanlineBytes(8 * W) * H), 0);
  TMemoryStream s;
  PutBytes(&s, Data);
  s.SetPosition(0);
  PxLzwDecode(&s, Info(W, H, 8), Interlaced, nullptr, d.Damaged, d.Rows.data(), Accept);
  return d;
}

}  // namespace

TEST(GifLzw, InterlacedRowOrder) {
  EXPECT_EQ(InterlaceOrder(1), (std::vector<std::int64_t>{0}));
  EXPECT_EQ(InterlaceOrder(2), (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(InterlaceOrder(3), (std::vector<std::int64_t>{0, 2, 1}));
  EXPECT_EQ(InterlaceOrder(5), (std::vector<std::int64_t>{0, 4, 2, 1, 3}));
  EXPECT_EQ(InterlaceOrder(9), (std::vector<std::int64_t>{0, 8, 4, 2, 6, 1, 3, 5, 7}));
  EXPECT_EQ(InterlaceOrder(17).size(), 17u);
}

TEST(GifLzw, EncoderCodeSizesByDepth) {
  for (auto [bits, minimum] : {std::pair{1, 2}, std::pair{4, 4}, std::pair{8, 8}}) {
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(DibScanlineBytes(bits * 5) * 3), 0);
    TMemoryStream out;
    PxLzwEncode(&out, Info(5, 3, bits), false, nullptr, rows.data());
    Bytes b = StreamBytes(&out);
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(b[0], minimum);
    // The first code is the clear code at minimum + 1 bits.
    const std::uint32_t first = (b[2] | b[3] << 8) & ((1u << (minimum + 1)) - 1);
    EXPECT_EQ(first, 1u << minimum) << bits;
    EXPECT_EQ(b.back(), 0);  // terminator
    Decoded d = Decode(b, 5, 3);
    EXPECT_FALSE(d.Damaged);
  }
}

TEST(GifLzw, SubBlocks) {
  // No bits: just the terminator.
  TCodeWriter empty;
  TMemoryStream none;
  PxLzwFlush(&none, empty);
  EXPECT_EQ(StreamBytes(&none), (Bytes{0}));
  // 2040 bits exactly: one sub-block of 255 bytes, nothing held back.
  TCodeWriter w;
  w.Width = 8;
  TMemoryStream out;
  for (int i = 0; i < 255; ++i) PxLzwWriteCode(&out, static_cast<std::uint32_t>(i), w);
  EXPECT_EQ(out.Size(), 256);
  EXPECT_EQ(w.Position, 0);
  PxLzwFlush(&out, w);
  EXPECT_EQ(out.Size(), 257);
  // Fewer bits: one shorter block and the terminator.
  TCodeWriter w2;
  w2.Width = 9;
  TMemoryStream out2;
  for (int i = 0; i < 10; ++i) PxLzwWriteCode(&out2, 300, w2);
  PxLzwFlush(&out2, w2);
  Bytes b = StreamBytes(&out2);
  EXPECT_EQ(b.size(), 1u + 12 + 1);
  EXPECT_EQ(b[0], 12);
  EXPECT_EQ(b.back(), 0);
}

TEST(GifLzw, EncoderStaysWithinTwelveBits) {
  // Noise fills the table several times: the width grows to 12 and a clear code follows at 4094.
  std::mt19937 random(11);
  const int w = 300, h = 200;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(DibScanlineBytes(8 * w) * h));
  for (auto& p : rows) p = static_cast<std::uint8_t>(random() % 256);
  TMemoryStream out;
  PxLzwEncode(&out, Info(w, h, 8), false, nullptr, rows.data());
  const Bytes b = StreamBytes(&out);
  const CodeTrace trace = TraceCodes(b);
  EXPECT_LE(trace.MaxWidth, 12);
  EXPECT_EQ(trace.MaxWidth, 12);
  EXPECT_GE(trace.Clears, 3);
  EXPECT_TRUE(trace.EndCode);
  EXPECT_LE(trace.HighestCode, 4095);
  Decoded d = Decode(b, w, h);
  EXPECT_FALSE(d.Damaged);
  EXPECT_EQ(d.Rows, rows);
}

TEST(GifLzw, RoundTripOfDepthsAndInterlace) {
  std::mt19937 random(5);
  for (int bits : {1, 4, 8})
    for (bool interlaced : {false, true})
      for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{33, 17}, std::pair{128, 9}}) {
        const int max = (1 << bits) - 1;
        std::vector<std::uint8_t> indices(static_cast<std::size_t>(w * h));
        for (std::size_t i = 0; i < indices.size(); ++i)
          indices[i] = static_cast<std::uint8_t>(i % 5 == 0 ? random() % (max + 1) : (i / 7) % (max + 1));
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(DibScanlineBytes(bits * w) * h), 0);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            std::uint8_t* row = rows.data() + (h - 1 - y) * DibScanlineBytes(bits * w);
            const std::uint8_t v = indices[static_cast<std::size_t>(y * w + x)];
            if (bits == 8) row[x] = v;
            if (bits == 4) row[x / 2] |= static_cast<std::uint8_t>(x % 2 ? v : v << 4);
            if (bits == 1) row[x / 8] |= static_cast<std::uint8_t>(v << (7 - x % 8));
          }
        TMemoryStream out;
        PxLzwEncode(&out, Info(w, h, bits), interlaced, nullptr, rows.data());
        Decoded d = Decode(StreamBytes(&out), w, h, true, interlaced);
        ASSERT_FALSE(d.Damaged);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) ASSERT_EQ(d.At(x, y), indices[static_cast<std::size_t>(y * w + x)]) << bits << " " << w;
      }
}

TEST(GifLzw, DecoderStoresFourAndOneBitRows) {
  // 2-bit codes into a 4-bit DIB, 1-bit into a 1-bit DIB.
  const Bytes data = PackCodes(2, {4, 1, 2, 3, 0, 5});
  std::vector<std::uint8_t> rows(4, 0xEE);
  bool damaged = false;
  TMemoryStream s;
  PutBytes(&s, data);
  s.SetPosition(0);
  rows.assign(4, 0);
  PxLzwDecode(&s, Info(4, 1, 4), false, nullptr, damaged, rows.data(), true);
  EXPECT_EQ(rows[0], 0x12);
  EXPECT_EQ(rows[1], 0x30);
  const Bytes bw = PackCodes(2, {4, 1, 0, 1, 1, 0, 0, 0, 1, 1, 5});
  TMemoryStream s2;
  PutBytes(&s2, bw);
  s2.SetPosition(0);
  std::vector<std::uint8_t> rows1(8, 0);
  PxLzwDecode(&s2, Info(9, 1, 1), false, nullptr, damaged, rows1.data(), true);
  EXPECT_EQ(rows1[0], 0xB1);  // 1 0 1 1 0 0 0 1
  EXPECT_EQ(rows1[1], 0x80);
}

TEST(GifLzw, TableFilledByAStringAcrossARowEnd) {
  // A full table used on without a clear: at some width the code that fills the table writes
  // a string across a row's end; every width gives the pixels back.
  std::mt19937 random(17);
  Bytes pixels;
  while (pixels.size() < 30000) pixels.insert(pixels.end(), 1 + random() % 6, static_cast<std::uint8_t>(random() % 12));
  LzwStyle style;
  style.ClearWhenFull = false;
  const Bytes data = LzwEncode(8, pixels, style, random);
  for (int w = 20; w <= 120; ++w) {
    const int h = static_cast<int>(pixels.size()) / w;
    const Decoded d = Decode(data, w, h);
    ASSERT_FALSE(d.Damaged) << w;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(d.At(x, y), pixels[static_cast<std::size_t>(y * w + x)]) << w << " " << x << " " << y;
  }
}

TEST(GifLzw, StreamsWithoutALeadingClearCode) {
  // The first code makes no table entry: 258 is then the string of 5 and its first pixel.
  Decoded d = Decode(PackCodes(8, {5, 258, 257}), 3, 1);
  EXPECT_FALSE(d.Damaged);
  EXPECT_EQ(d.At(0, 0), 5);
  EXPECT_EQ(d.At(1, 0), 5);
  EXPECT_EQ(d.At(2, 0), 5);
  // The same after a clear code in the middle: its first code makes no entry either.
  Decoded again = Decode(PackCodes(8, {7, 8, 256, 5, 258, 257}), 5, 1);
  EXPECT_FALSE(again.Damaged);
  for (int x = 2; x < 5; ++x) EXPECT_EQ(again.At(x, 0), 5) << x;
  // A first code that names a string before any exists is damage, not a pixel.
  Decoded none = Decode(PackCodes(8, {258, 1, 257}), 3, 1);
  EXPECT_TRUE(none.Damaged);
  EXPECT_EQ(none.At(0, 0), 0);
}

TEST(GifLzw, LiteralsEndAtTheClearCode) {
  // Code size 2 with a 256-colour table: 6 is the first table entry (0, 1), not a pixel.
  Decoded d = Decode(PackCodes(2, {4, 0, 1, 6, 5}), 4, 1);
  EXPECT_FALSE(d.Damaged);
  const std::uint8_t expected[4] = {0, 1, 0, 1};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(d.At(x, 0), expected[x]) << x;
}

TEST(GifLzw, CodeSizeOneGrowsAfterTheFirstCode) {
  // Clear 2, end 3: the first free code 4 does not fit 2 bits, so the second code has 3.
  const Bytes data = PackCodes(1, {2, 1, 0, 4, 5, 3});
  EXPECT_EQ(TraceCodes(data).MaxWidth, 3);
  Decoded d = Decode(data, 6, 1);
  EXPECT_FALSE(d.Damaged);
  const std::uint8_t expected[6] = {1, 0, 1, 0, 0, 1};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(d.At(x, 0), expected[x]) << x;
}

TEST(GifLzw, PrefixCycleOverflowsTheStack) {
  // 259 arrives before it exists (its entry's prefix becomes 259 itself); walking 259 then
  // cycles. The walk stops at the stack's end and the frame is damaged.
  const Bytes data = PackCodes(8, {256, 1, 259, 258, 259, 257});
  Decoded d = Decode(data, 100, 1);
  EXPECT_TRUE(d.Damaged);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(d.At(x, 0), 1) << x;  // what was decoded before stays
  EXPECT_EQ(d.At(5, 0), 0);
  try {
    Decode(data, 100, 1, false);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "GIF encoded data is corrupt");
  }
}

TEST(GifLzw, CodeSizeOutOfRange) {
  Bytes data = PackCodes(8, {256, 3, 4, 257});
  data[0] = 11;
  Decoded d = Decode(data, 4, 1);
  EXPECT_TRUE(d.Damaged);
  try {
    Decode(data, 4, 1, false);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "GIF code size not in range 1 to 9");
  }
  // Clamped to 9: only the pixel of a code read after a clear is stored.
  Bytes big = PackCodes(9, {512, 3, 4, 513});
  big[0] = 12;
  Decoded c = Decode(big, 4, 1);
  EXPECT_TRUE(c.Damaged);
  EXPECT_EQ(c.At(0, 0), 3);
  EXPECT_EQ(c.At(1, 0), 0);
}

TEST(GifLzw, DataEndingEarly) {
  // No end code and fewer pixels than the picture: damaged, or "Stream read error".
  const Bytes data = PackCodes(2, {4, 1, 1});
  Decoded d = Decode(data, 10, 1);
  EXPECT_TRUE(d.Damaged);
  EXPECT_EQ(d.At(1, 0), 1);
  try {
    Decode(data, 10, 1, false);
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  // Without end code but with every pixel: whole.
  Decoded whole = Decode(PackCodes(2, {4, 1, 1}), 2, 1, false);
  EXPECT_FALSE(whole.Damaged);
  // A sub-block that the data cuts short is a read error of the stream.
  Bytes cut = PackCodes(2, {4, 1, 1, 5});
  cut.resize(cut.size() - 2);
  TMemoryStream s;
  PutBytes(&s, cut);
  s.SetPosition(0);
  std::vector<std::uint8_t> rows(4);
  bool damaged = false;
  EXPECT_THROW(PxLzwDecode(&s, Info(2, 1, 8), false, nullptr, damaged, rows.data(), true), EReadError);
}

TEST(GifLzw, WhatTheDataLeavesOutIsZero) {
  // Ten literal pixels of a 7 x 5 picture in rows of 8, 4 and 1 bits, plain and interlaced: the
  // rest of the row, the rows after it and every row's padding are 0, whatever was there.
  std::vector<std::uint32_t> codes{4};
  for (std::uint32_t i = 0; i < 10; ++i) codes.push_back(1 + i % 3);
  for (int bits : {8, 4, 1})
    for (bool interlaced : {false, true})
      for (bool endCode : {false, true}) {
        std::vector<std::uint32_t> all = codes;
        if (endCode) all.push_back(5);
        const int w = 7, h = 5;
        const std::int64_t stride = DibScanlineBytes(bits * w);
        std::vector<std::uint8_t> expected(static_cast<std::size_t>(stride * h), 0);
        std::int64_t row = 0;
        int pass = 0;
        for (int i = 0; i < 10; ++i) {
          const int x = i % w, v = static_cast<int>((1 + i % 3) & ((1u << bits) - 1));
          if (i > 0 && x == 0) row = interlaced ? NextInterlacedRow(row, h, pass) : row + 1;
          std::uint8_t* line = expected.data() + (h - 1 - row) * stride;
          if (bits == 8) line[x] = static_cast<std::uint8_t>(v);
          if (bits == 4) line[x / 2] |= static_cast<std::uint8_t>(x % 2 ? v : v << 4);
          if (bits == 1) line[x / 8] |= static_cast<std::uint8_t>(v << (7 - x % 8));
        }
        std::vector<std::uint8_t> rows(expected.size(), 0xEE);
        TMemoryStream s;
        PutBytes(&s, PackCodes(2, all));
        s.SetPosition(0);
        bool damaged = false;
        PxLzwDecode(&s, Info(w, h, bits), interlaced, nullptr, damaged, rows.data(), true);
        EXPECT_EQ(damaged, !endCode);
        EXPECT_EQ(rows, expected) << bits << " " << interlaced << " " << endCode;
      }
}

TEST(GifLzw, EntriesNotYetMadeAreEmptyAfterAnotherFrame) {
  // 300 arrives before it exists: entry 259 then leads to entry 300, which no code of this
  // frame made and which stands for nothing (pixel 0), also when the tables of the thread
  // were filled by an earlier frame.
  const Bytes stray = PackCodes(8, {256, 7, 300, 258, 259, 257});
  const std::vector<std::uint8_t> expected{7, 7, 7, 7, 7, 0, 0, 7};
  auto decodeStray = [&] {
    Decoded d = Decode(stray, 8, 1);
    return std::vector<std::uint8_t>(d.Rows.begin(), d.Rows.begin() + 8);
  };
  EXPECT_EQ(decodeStray(), expected);
  std::mt19937 random(3);
  std::vector<std::uint8_t> noise(static_cast<std::size_t>(DibScanlineBytes(8 * 64) * 64));
  for (auto& p : noise) p = static_cast<std::uint8_t>(random() % 256);
  for (int bits : {8, 4}) {
    TMemoryStream out;
    PxLzwEncode(&out, Info(64, 64, bits), false, nullptr, noise.data());
    EXPECT_FALSE(Decode(StreamBytes(&out), 64, 64).Damaged);
    EXPECT_EQ(decodeStray(), expected) << bits;
  }
}

TEST(GifLzw, CodesAcrossTinySubBlocks) {
  // Each byte in a sub-block of its own; 9-bit codes span them.
  const Bytes packed = PackCodes(8, {256, 1, 2, 3, 258, 257});
  Bytes tiny = {packed[0]};
  std::size_t at = 1;
  while (packed[at] != 0) {
    const std::size_t n = packed[at];
    for (std::size_t i = 0; i < n; ++i) tiny.insert(tiny.end(), {1, packed[at + 1 + i]});
    at += n + 1;
  }
  tiny.push_back(0);
  Decoded d = Decode(tiny, 5, 1);
  EXPECT_FALSE(d.Damaged);
  EXPECT_EQ(d.At(0, 0), 1);
  EXPECT_EQ(d.At(3, 0), 1);
  EXPECT_EQ(d.At(4, 0), 2);
}

TEST(GifFrameCodec, FourEntryTableGivesAFourBitDib) {
  TPxGIFFrame frame(nullptr);
  TGIFItem& item = *frame.ItemData;
  item.ImageWidth = 3;
  item.ImageHeight = 2;
  item.TableBits = 2;
  item.ColorTable.Count = 4;
  item.ColorTable.Colors[0] = {255, 0, 0};
  item.ColorTable.Colors[1] = {0, 255, 0};
  item.ColorTable.Colors[2] = {0, 0, 255};
  item.ColorTable.Colors[3] = {1, 2, 3};
  item.CodeStream = std::make_unique<TMemoryStream>();
  PutBytes(item.CodeStream.get(), PackCodes(2, {4, 0, 1, 2, 3, 3, 3, 5}));
  TMemoryStream dib;
  frame.DecodeToDib(&dib);
  const Bytes b = StreamBytes(&dib);
  EXPECT_EQ(LE16(b, 28), 4);
  EXPECT_EQ(LE32(b, 10), 54u + 64);
  EXPECT_EQ(LE32(b, 2), b.size());
  EXPECT_EQ(b[54 + 2], 255);  // entry 0: blue, green, red = 0, 0, 255
  EXPECT_EQ(b[54 + 12], 3);   // entry 3 blue
  for (int i = 4; i < 16; ++i) {
    EXPECT_EQ(b[54 + 4 * static_cast<std::size_t>(i)], 128);
    EXPECT_EQ(b[54 + 4 * static_cast<std::size_t>(i) + 3], 128);
  }
  EXPECT_EQ(b[54 + 64 + 4], 0x01);  // top row (stored second): 0, 1, 2
  EXPECT_EQ(b[54 + 64 + 5], 0x20);
  EXPECT_EQ(b[54 + 64], 0x33);      // bottom row: 3, 3, 3
  EXPECT_FALSE(frame.IsCorrupt);
  // Table bits outside 1..8.
  item.TableBits = 0;
  try {
    frame.DecodeToDib(&dib);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "Wrong number of colors; must be a power of 2");
  }
  // More pixels than the data can describe are refused before anything is allocated.
  item.TableBits = 2;
  item.ImageWidth = 65535;
  item.ImageHeight = 65535;
  EXPECT_THROW(frame.DecodeToDib(&dib), EInvalidGraphicOperation);
}

TEST(GifFrameCodec, DecodingInsideAProgressHandler) {
  // A handler of the decoder's progress that decodes another frame leaves both pictures whole.
  TPxGIFImage image;
  std::mt19937 random(8);
  auto frameOf = [&](int W, int H) {
    auto frame = std::make_unique<TPxGIFFrame>(&image);
    TGIFItem& item = *frame->ItemData;
    item.ImageWidth = W;
    item.ImageHeight = H;
    item.TableBits = 8;
    item.ColorTable.Count = 256;
    std::vector<std::uint8_t> rows(static_cast<std::size_t>(DibScanlineBytes(8 * W) * H));
    for (auto& p : rows) p = static_cast<std::uint8_t>(random() % 7 == 0 ? random() % 256 : 9);
    item.CodeStream = std::make_unique<TMemoryStream>();
    PxLzwEncode(item.CodeStream.get(), Info(W, H, 8), false, nullptr, rows.data());
    return frame;
  };
  auto outer = frameOf(90, 40), inner = frameOf(50, 70);
  auto dib = [](TPxGIFFrame& F) {
    TMemoryStream s;
    F.DecodeToDib(&s);
    return StreamBytes(&s);
  };
  const Bytes outerAlone = dib(*outer), innerAlone = dib(*inner);
  Bytes innerInHandler;
  bool decoding = false;
  image.OnProgress = [&](TObject*, TProgressStage Stage, BYTE, bool, const TRect&, const std::string&) {
    if (Stage != psRunning || decoding || !innerInHandler.empty()) return;
    decoding = true;
    innerInHandler = dib(*inner);
  };
  EXPECT_EQ(dib(*outer), outerAlone);
  EXPECT_EQ(innerInHandler, innerAlone);
}

TEST(GifFrameCodec, EncodingBitmaps) {
  TPxGIFImage image;
  // A 24-bit bitmap goes through the 8-bit reduction (few colours: kept exactly).
  auto b24 = MakeBitmap(10, 6, pf24bit, [](int X, int Y) { return (X + Y) % 3 ? clRed : clNavy; });
  image.Assign(b24.get());
  TPxGIFFrame* frame = image.FrameAt(0);
  frame->EncodeBitmap();
  EXPECT_EQ(frame->ItemData->TableBits, 8);
  EXPECT_EQ(frame->ItemData->ColorTable.Count, 256);
  EXPECT_FALSE(frame->HasLocalTable);  // the first encoded frame supplies the global table
  EXPECT_EQ(image.GifData->GlobalTable.Count, 256);
  EXPECT_EQ(ColorTableIndexOf(frame->ItemData->ColorTable, clRed) >= 0, true);
  // An 8-bit bitmap keeps its own palette of 256 entries.
  auto b8 = MakeBitmap(4, 4, pf8bit, [](int X, int) { return X ? clYellow : clTeal; });
  image.AppendFrame(b8.get());
  TPxGIFFrame* second = image.FrameAt(1);
  second->EncodeBitmap();
  EXPECT_TRUE(second->HasLocalTable);
  EXPECT_EQ(second->ItemData->ColorTable.Count, 256);
  // Grey frames go through the grey reduction.
  image.AppendFrame(b24.get());
  TPxGIFFrame* grey = image.FrameAt(2);
  grey->IsGray = true;
  grey->EncodeBitmap();
  EXPECT_EQ(grey->ItemData->ColorTable.Colors[200], (std::array<BYTE, 3>{200, 200, 200}));
  // Without a bitmap there is nothing to write.
  TPxGIFFrame bare(&image);
  try {
    bare.EncodeBitmap();
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "No GIF Data to write");
  }
  // A BMP of 24 bits cannot be encoded directly.
  TMemoryStream bmp;
  b24->SaveToStream(&bmp);
  try {
    bare.EncodeDib(&bmp);
    ADD_FAILURE();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_STREQ(e.what(), "GIF image encoding error");
  }
}

TEST(GifFrameCodec, ShortColourTableOfABmp) {
  // The platform writes an 8-bit picture of three colours with a table of three entries; the
  // entries after the table are not read from the pixels.
  auto b = MakeBitmap(6, 2, pf24bit, [](int X, int) { return X < 2 ? clRed : (X < 4 ? clLime : clBlue); });
  b->SetPixelFormat(pf8bit);
  TMemoryStream bmp;
  b->SaveToStream(&bmp);
  const Bytes file = StreamBytes(&bmp);
  ASSERT_LT(LE32(file, 46), 256u);  // biClrUsed
  TPxGIFImage image;
  TPxGIFFrame frame(&image);
  bmp.SetPosition(0);
  frame.EncodeDib(&bmp);
  const TGifColorTable& t = frame.ItemData->ColorTable;
  EXPECT_EQ(t.Count, 256);
  for (int i = static_cast<int>(LE32(file, 46)); i < 256; ++i) ASSERT_EQ(t.ColorAt(i), clBlack) << i;
  TMemoryStream dib;
  frame.DecodeToDib(&dib);
  TBitmap back;
  back.LoadFromStream(&dib);
  EXPECT_EQ(back.Canvas()->Pixels(0, 0), clRed);
  EXPECT_EQ(back.Canvas()->Pixels(3, 1), clLime);
  EXPECT_EQ(back.Canvas()->Pixels(5, 1), clBlue);
}
