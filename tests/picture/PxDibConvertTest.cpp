#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "picture/PxDibConvert.h"
#include "picture/PxGraphUtils.h"
#include "support/TestSupport.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

struct BmpView {
  Bytes File;
  explicit BmpView(TStream* S) : File(StreamBytes(S)) {}
  std::uint32_t FileSize() const { return LE32(File, 2); }
  std::uint32_t Offset() const { return LE32(File, 10); }
  std::int32_t Width() const { return static_cast<std::int32_t>(LE32(File, 18)); }
  std::int32_t Height() const { return static_cast<std::int32_t>(LE32(File, 22)); }
  int BitCount() const { return LE16(File, 28); }
  std::uint32_t SizeImage() const { return LE32(File, 34); }
  std::uint32_t ClrUsed() const { return LE32(File, 46); }
  std::uint32_t ClrImportant() const { return LE32(File, 50); }
  RGBQUAD Color(int I) const {
    const std::uint8_t* p = &File.at(54 + 4 * static_cast<std::size_t>(I));
    return RGBQUAD{p[0], p[1], p[2], p[3]};
  }
  std::uint8_t Index(int X, int MemoryRow) const {
    return File.at(Offset() + static_cast<std::size_t>(MemoryRow) * static_cast<std::size_t>(ScanlineBytes(Width(), 8, 32)) +
                   static_cast<std::size_t>(X));
  }
};

TColor Rgb(const RGBQUAD& Q) { return Q.rgbRed | Q.rgbGreen << 8 | Q.rgbBlue << 16; }

// A picture of W x H with many colours.
ColorFn Gradient(int W, int H) {
  return [=](int X, int Y) { return static_cast<TColor>(((X * 255 / W) & 0xFF) | ((Y * 255 / H) & 0xFF) << 8 | 0x400000); };
}

// Reads the stream back through the platform's BMP reader.
std::unique_ptr<TBitmap> ReadBack(TStream* S) {
  auto b = std::make_unique<TBitmap>();
  S->SetPosition(0);
  b->LoadFromStream(S);
  return b;
}

// Pixels of a P6 file (netpbm's bmptopnm output).
std::vector<TColor> ReadPpm(const std::string& Data, int& W, int& H) {
  std::istringstream in(Data);
  std::string magic;
  int maxval = 0;
  in >> magic >> W >> H >> maxval;
  in.get();
  std::vector<TColor> px(static_cast<std::size_t>(W * H));
  for (auto& c : px) {
    unsigned char rgb[3];
    in.read(reinterpret_cast<char*>(rgb), 3);
    c = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
  }
  if (magic != "P6" || !in) px.clear();
  return px;
}

}  // namespace

TEST(DibConvert, SameFormatIsTheBitmapsOwnStream) {
  auto b = MakeBitmap(13, 7, pf24bit, Gradient(13, 7));
  TMemoryStream own;
  b->SaveToStream(&own);
  for (BYTE method : {rmHistogram, rmBoxSplit, rmTriple}) {
    auto s = BitmapToMemoryStream(b.get(), pf24bit, method);
    EXPECT_EQ(s->Position(), 0);
    EXPECT_EQ(StreamBytes(s.get()), StreamBytes(&own));
  }
}

TEST(DibConvert, GreyBypassesTheShortcut) {
  auto b = MakeBitmap(9, 5, pf8bit, [](int X, int) { return X < 4 ? clRed : clBlue; });
  ASSERT_EQ(b->PixelFormat(), pf8bit);
  auto s = BitmapToMemoryStream(b.get(), pf8bit, rmGray);
  BmpView v(s.get());
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Rgb(v.Color(i)), static_cast<TColor>(i | i << 8 | i << 16));
  EXPECT_EQ(v.Index(0, 0), (77 * 255) >> 8);
  EXPECT_EQ(v.Index(8, 4), (29 * 255) >> 8);
  EXPECT_EQ(v.ClrUsed(), 0u);  // the whole table is valid, whatever the source section said
}

TEST(DibConvert, EightBitLayoutPadsRows) {
  for (int w : {1, 2, 3, 5, 6, 7, 13}) {
    auto b = MakeBitmap(w, 3, pfDevice, Gradient(w, 3));
    auto s = BitmapToMemoryStream(b.get(), pf8bit, rmHistogram);
    BmpView v(s.get());
    const std::int64_t rows = ScanlineBytes(w, 8, 32) * 3;
    EXPECT_EQ(v.File.size(), static_cast<std::size_t>(14 + 40 + 1024 + rows)) << w;
    EXPECT_EQ(v.FileSize(), v.File.size());
    EXPECT_EQ(v.Offset(), 1078u);
    EXPECT_EQ(v.SizeImage(), static_cast<std::uint32_t>(rows));
    EXPECT_EQ(v.BitCount(), 8);
    EXPECT_EQ(v.Height(), 3);
    // Few colours: the histogram keeps them exactly.
    auto back = ReadBack(s.get());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(back->Canvas()->Pixels(x, y), b->Canvas()->Pixels(x, y)) << w;
  }
}

TEST(DibConvert, OneColourThroughTheBoxSplit) {
  auto b = MakeBitmap(10, 10, pfDevice, [](int, int) { return clWhite; });
  BmpView v(BitmapToMemoryStream(b.get(), pf8bit, rmBoxSplit).get());
  EXPECT_EQ(v.ClrImportant(), 1u);
  EXPECT_EQ(Rgb(v.Color(0)), clWhite);
  EXPECT_EQ(Rgb(v.Color(1)), clBlack);
}

TEST(DibConvert, TruncationTables) {
  EXPECT_EQ(ClosestPaletteEntry(64, 7), 1);  // a tie goes to the lower level (43)
  EXPECT_EQ(ClosestPaletteEntry(65, 7), 2);
  EXPECT_EQ(ClosestPaletteEntry(255, 8), 7);
  EXPECT_EQ(ClosestPaletteEntry(25, 6), 0);
  EXPECT_EQ(ClosestPaletteEntry(26, 6), 1);
  auto b = MakeBitmap(4, 1, pfDevice, [](int X, int) {
    const TColor c[4] = {static_cast<TColor>(0x40FF40), clBlack, clWhite, static_cast<TColor>(0x808080)};
    return c[X];
  });
  BmpView v784(BitmapToMemoryStream(b.get(), pf8bit, rmTruncate784).get());
  EXPECT_EQ(v784.ClrImportant(), 224u);
  EXPECT_EQ(v784.Index(0, 0), 1 * 32 + 7 * 4 + 1);  // red 64 -> 43 (1), green 255 -> 7, blue 64 -> 85 (1)
  EXPECT_EQ(v784.Index(2, 0), 6 * 32 + 7 * 4 + 3);
  const RGBQUAD e = v784.Color(1 * 32 + 7 * 4 + 1);
  EXPECT_EQ(e.rgbRed, 43);
  EXPECT_EQ(e.rgbGreen, 255);
  EXPECT_EQ(e.rgbBlue, 85);
  EXPECT_EQ(e.rgbReserved, 0);
  const RGBQUAD unused = v784.Color(224);
  EXPECT_EQ(unused.rgbRed, 128);
  EXPECT_EQ(unused.rgbReserved, 128);

  BmpView v666(BitmapToMemoryStream(b.get(), pf8bit, rmTruncate666).get());
  EXPECT_EQ(v666.ClrImportant(), 216u);
  EXPECT_EQ(v666.Index(3, 0), 3 * 36 + 3 * 6 + 3);  // 128 -> 153 (3)
  EXPECT_EQ(Rgb(v666.Color(215)), clWhite);
  EXPECT_EQ(v666.Color(216).rgbReserved, 128);
}

TEST(DibConvert, TriplePaletteKeepsOneChannelAPixel) {
  auto b = MakeBitmap(5, 4, pfDevice, [](int, int) { return static_cast<TColor>(0x30C0F8); });  // R F8, G C0, B 30
  BmpView v(BitmapToMemoryStream(b.get(), pf8bit, rmTriple).get());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      const int expected[3] = {0xF8 >> 2, (0xC0 >> 2) + 64, (0x30 >> 2) + 128};
      ASSERT_EQ(v.Index(x, y), expected[(x + y) % 3]) << x << "," << y;
    }
  EXPECT_EQ(Rgb(v.Color(63)), static_cast<TColor>(252));
  EXPECT_EQ(Rgb(v.Color(64 + 10)), static_cast<TColor>(40 << 8));
  EXPECT_EQ(Rgb(v.Color(128 + 1)), static_cast<TColor>(4 << 16));
  EXPECT_EQ(Rgb(v.Color(200)), clBlack);
}

TEST(DibConvert, OtherFormatsAreRefused) {
  auto b = MakeBitmap(4, 4, pf24bit, Gradient(4, 4));
  for (TPixelFormat f : {pf15bit, pf16bit, pf32bit, pfDevice, pfCustom}) {
    try {
      BitmapToMemoryStream(b.get(), f, rmHistogram);
      ADD_FAILURE() << f;
    } catch (const EPxException& e) {
      EXPECT_STREQ(e.what(), "BitmapToMemoryStream: pixel format not implemented");
    }
  }
  // A bitmap of that very format takes the shortcut.
  for (TPixelFormat f : {pf15bit, pf16bit, pf32bit}) {
    auto own = MakeBitmap(4, 4, f, Gradient(4, 4));
    EXPECT_NO_THROW(BitmapToMemoryStream(own.get(), f, rmHistogram));
  }
  auto device = MakeBitmap(4, 4, pfDevice, Gradient(4, 4));
  ASSERT_EQ(device->PixelFormat(), pfDevice);
  EXPECT_NO_THROW(BitmapToMemoryStream(device.get(), pfDevice, rmHistogram));
  TBitmap empty;
  EXPECT_THROW(BitmapToMemoryStream(&empty, pf8bit, rmHistogram), EInvalidGraphic);
  EXPECT_THROW(BitmapToMemoryStream(device.get(), pf8bit, 6), EPxException);
}

TEST(DibConvert, OneAndFourBitsUseNoMethod) {
  auto b = MakeBitmap(11, 6, pfDevice, Gradient(11, 6));
  for (TPixelFormat f : {pf1bit, pf4bit}) {
    auto a = BitmapToMemoryStream(b.get(), f, rmHistogram);
    auto c = BitmapToMemoryStream(b.get(), f, rmTriple);
    EXPECT_EQ(StreamBytes(a.get()), StreamBytes(c.get()));
    BmpView v(a.get());
    EXPECT_EQ(v.BitCount(), f == pf1bit ? 1 : 4);
    EXPECT_EQ(v.FileSize(), v.File.size());
    EXPECT_EQ(v.Offset(), 14u + 40 + 4 * (f == pf1bit ? 2 : 16));
  }
}

TEST(DibConvert, ReducedStreamFormatByColourCount) {
  auto b = MakeBitmap(6, 6, pfDevice, Gradient(6, 6));
  const std::pair<int, int> cases[] = {{1, 1}, {2, 1}, {3, 4}, {16, 4}, {17, 8}, {256, 8}, {257, 24}, {100000, 24}};
  for (auto [count, bits] : cases) {
    BmpView v(BitmapToReducedStream(b.get(), count).get());
    EXPECT_EQ(v.BitCount(), bits) << count;
  }
}

TEST(DibConvert, ReduceBitmapColorCount) {
  auto b = MakeBitmap(20, 20, pfDevice, Gradient(20, 20));
  ReduceBitmapColorCount(nullptr, 16);
  ReduceBitmapColorCount(b.get(), 0);
  EXPECT_EQ(b->PixelFormat(), pfDevice);
  ReduceBitmapColorCount(b.get(), 200);
  EXPECT_EQ(b->PixelFormat(), pf8bit);
  EXPECT_EQ(b->Width(), 20);
  ReduceBitmapColorCount(b.get(), 16);
  EXPECT_EQ(b->PixelFormat(), pf4bit);
}

// A 5-6-5 section converted to 8 bits: rows taken behind a plain 40-byte header.
TEST(DibConvert, SixteenBitSectionToEightBits) {
  auto b = MakeBitmap(7, 3, pf16bit, [](int X, int) { return X < 3 ? clRed : clBlue; });
  ASSERT_EQ(b->PixelFormat(), pf16bit);
  auto s = BitmapToMemoryStream(b.get(), pf8bit, rmHistogram);
  auto back = ReadBack(s.get());
  EXPECT_EQ(back->Canvas()->Pixels(0, 0), clRed);
  EXPECT_EQ(back->Canvas()->Pixels(6, 2), clBlue);
  std::int64_t length = 0;
  void* block = BitmapToDibBlock(b->Handle(), nullptr, pf24bit, length);
  EXPECT_EQ(GetLE32(OffsetPtr(block, 10)), 54u);
  EXPECT_EQ(GetLE32(OffsetPtr(block, 14 + 16)), BI_RGB);
  FreeGlobalBuffer(block);
}

TEST(DibConvert, DibBlockOfADeviceBitmap) {
  auto b = MakeBitmap(3, 2, pfDevice, [](int X, int Y) { return X == 0 && Y == 0 ? clRed : clWhite; });
  std::int64_t length = 0;
  void* block = BitmapToDibBlock(b->Handle(), nullptr, pf24bit, length);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(length, 14 + 40 + 12 * 2);
  const auto* p = static_cast<const std::uint8_t*>(block);
  EXPECT_EQ(p[0], 'B');
  EXPECT_EQ(GetLE32(p + 2), 78u);
  // Bottom-up: the top-left red pixel starts the second row.
  EXPECT_EQ(p[54 + 12 + 2], 255);
  EXPECT_EQ(p[54 + 12 + 0], 0);
  FreeGlobalBuffer(block);
  EXPECT_THROW(BitmapToDibBlock(nullptr, nullptr, pf24bit, length), EInvalidGraphic);
  // A handle whose rows cannot be fetched (a pen's description reads as a bitmap's) is refused,
  // not made into a black picture.
  HPEN pen = CreatePen(PS_SOLID, 7, RGB(1, 2, 3));
  EXPECT_THROW(BitmapToDibBlock(reinterpret_cast<HBITMAP>(pen), nullptr, pf24bit, length), EInvalidGraphic);
  DeleteObject(pen);
}

// A top-down section (rows stored top first) converts to the same picture at every depth.
TEST(DibConvert, TopDownSourceKeepsItsRowOrder) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 3;
  info.bmiHeader.biHeight = -2;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(section, nullptr);
  const std::uint8_t rows[24] = {0, 0, 255, 0, 0, 255, 0, 255, 0, 0, 0, 0,  // top: red, red, lime
                                 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0};  // bottom: blue
  std::memcpy(bits, rows, sizeof rows);
  TBitmap source;
  source.SetHandle(section);
  DIBSECTION ds{};
  ASSERT_EQ(GetObject(source.Handle(), sizeof ds, &ds), static_cast<int>(sizeof ds));
  ASSERT_LT(ds.dsBmih.biHeight, 0);
  auto expectPicture = [](TBitmap& B, const std::string& What) {
    EXPECT_EQ(B.Canvas()->Pixels(0, 0), clRed) << What;
    EXPECT_EQ(B.Canvas()->Pixels(2, 0), clLime) << What;
    EXPECT_EQ(B.Canvas()->Pixels(0, 1), clBlue) << What;
  };
  for (TPixelFormat format : {pf4bit, pf8bit}) {
    auto s = BitmapToMemoryStream(&source, format, rmHistogram);
    expectPicture(*ReadBack(s.get()), "format " + std::to_string(format));
  }
  std::int64_t length = 0;
  void* block = BitmapToDibBlock(source.Handle(), nullptr, pf24bit, length);
  EXPECT_EQ(static_cast<std::int32_t>(GetLE32(OffsetPtr(block, 22))), 2);  // written bottom-up
  TMemoryStream out;
  out.WriteBuffer(block, length);
  FreeGlobalBuffer(block);
  expectPicture(*ReadBack(&out), "block");
}

TEST(DibConvert, ReadBackByTheBmpReaderAndNetpbm) {
  SKIP_WITHOUT_PROGRAM("bmptopnm");
  testsupport::TempDir dir;
  // Eight colours, so that every depth holds the picture: black, white and pure primaries.
  const TColor colours[8] = {clBlack, clWhite, clRed, clLime, clBlue, clYellow, clFuchsia, clAqua};
  auto b = MakeBitmap(21, 9, pfDevice, [&](int X, int Y) { return colours[(X / 3 + Y) % 8]; });
  auto bw = MakeBitmap(21, 9, pfDevice, [&](int X, int Y) { return (X + Y) % 3 ? clBlack : clWhite; });
  for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf24bit}) {
    TBitmap* source = f == pf1bit ? bw.get() : b.get();
    auto s = BitmapToMemoryStream(source, f, rmHistogram);
    auto back = ReadBack(s.get());
    ASSERT_EQ(back->Width(), 21);
    const std::string file = (dir / ("d" + std::to_string(f) + ".bmp")).string();
    testsupport::WriteFile(file, StreamBytes(s.get()));
    std::string ppm;
    ASSERT_EQ(testsupport::RunCommand("bmptopnm " + file + " 2>/dev/null | ppmtoppm", &ppm), 0);
    int w = 0, h = 0;
    std::vector<TColor> pixels = ReadPpm(ppm, w, h);
    ASSERT_FALSE(pixels.empty()) << f;
    ASSERT_EQ(w, 21) << f;
    ASSERT_EQ(h, 9);
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) {
        const TColor expected = source->Canvas()->Pixels(x, y);
        ASSERT_EQ(back->Canvas()->Pixels(x, y), expected) << f << " " << x << "," << y;
        ASSERT_EQ(pixels[static_cast<std::size_t>(y * 21 + x)], expected) << f;
      }
  }
}
