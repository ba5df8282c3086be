#include "platform/graphics/DibFormat.h"

#include <gtest/gtest.h>

#include "GraphicsTestFiles.h"
#include "platform/rtl/SysUtils.h"

using namespace graphicstest;

namespace {

dib::Image Read(const std::vector<std::uint8_t>& file) { return dib::ReadBmp(file.data(), file.size()); }

// Every reader failure is one of the two class-library errors.
enum class Outcome { Ok, Invalid, Short, Other };
template <class F>
Outcome Try(F f) {
  try {
    f();
    return Outcome::Ok;
  } catch (const EInvalidGraphic&) {
    return Outcome::Invalid;
  } catch (const EReadError&) {
    return Outcome::Short;
  } catch (...) {
    return Outcome::Other;
  }
}

std::vector<std::uint8_t> Small8BitBmp() {
  BmpSpec s;
  s.width = 3;
  s.height = 2;
  s.bitCount = 8;
  s.colors = {{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
  s.clrUsed = 3;
  s.pixels = {0, 1, 2, 0, 2, 1, 0, 0};  // bottom row first, each padded to 4 bytes
  return MakeBmp(s);
}

}  // namespace

TEST(BmpReader, ReadsEveryDepthBottomUpAndTopDown) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    dib::Image source = MakeImage(7, 5, bits);
    std::vector<std::uint8_t> file = dib::WriteBmp(source);
    dib::Image back = Read(file);
    ASSERT_EQ(back.bitCount, bits);
    ASSERT_EQ(back.width, 7);
    ASSERT_EQ(back.height, 5);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(dib::PixelRgb(back, x, y), dib::PixelRgb(source, x, y)) << bits;

    // The same rows stored top-down (negative height).
    BmpSpec s;
    s.width = 7;
    s.height = -5;
    s.bitCount = static_cast<std::uint16_t>(bits);
    s.colors = source.colors;
    std::size_t stride = dib::RowBytes(7, bits);
    for (int y = 4; y >= 0; --y)
      s.pixels.insert(s.pixels.end(), source.bits.begin() + y * stride, source.bits.begin() + (y + 1) * stride);
    dib::Image topDown = Read(MakeBmp(s));
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) ASSERT_EQ(dib::PixelRgb(topDown, x, y), dib::PixelRgb(source, x, y)) << bits;
  }
}

TEST(BmpReader, HonoursPixelOffsetAndShortColourTable) {
  std::vector<std::uint8_t> file = Small8BitBmp();
  dib::Image image = Read(file);
  EXPECT_EQ(image.colors.size(), 3u);
  EXPECT_EQ(dib::PixelRgb(image, 1, 1), 0x00FF00u);  // top row is the second row stored
  EXPECT_EQ(dib::PixelRgb(image, 2, 0), 0xFF0000u);
  EXPECT_EQ(dib::PixelRgb(image, 2, 1), 0x0000FFu);

  // A gap between the table and the pixels, announced by bfOffBits.
  BmpSpec s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 24;
  s.offBits = 100;
  s.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
  dib::Image gap = Read(MakeBmp(s));
  EXPECT_EQ(dib::PixelRgb(gap, 0, 0), 0x030201u);
  EXPECT_EQ(dib::PixelRgb(gap, 1, 0), 0x060504u);
}

TEST(BmpReader, BitFieldsAndCoreHeaders) {
  // 16 bits with 5-6-5 masks after a 40-byte header.
  BmpSpec s;
  s.width = 2;
  s.height = 1;
  s.bitCount = 16;
  s.compression = 3;
  s.masks = {0xF800, 0x07E0, 0x001F};
  s.pixels = {0x00, 0xF8, 0xE0, 0x07};  // red, green
  dib::Image rgb565 = Read(MakeBmp(s));
  EXPECT_TRUE(rgb565.mask565);
  EXPECT_EQ(dib::PixelRgb(rgb565, 0, 0), 0xFF0000u);
  EXPECT_EQ(dib::PixelRgb(rgb565, 1, 0), 0x00FF00u);

  // 32 bits, unusual masks inside a V3 header: converted to blue, green, red, alpha.
  BmpSpec t;
  t.width = 1;
  t.height = 1;
  t.bitCount = 32;
  t.compression = 3;
  t.headerSize = 56;
  t.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
  t.pixels = {0x11, 0x22, 0x33, 0x80};
  dib::Image swapped = Read(MakeBmp(t));
  EXPECT_EQ(dib::PixelRgb(swapped, 0, 0), 0x112233u);
  EXPECT_EQ(swapped.bits[3], 0x80);

  // Masks that are not contiguous are refused.
  t.masks = {0x00FF00FF, 0x0000FF00, 0, 0};
  EXPECT_EQ(Try([&] { Read(MakeBmp(t)); }), Outcome::Invalid);

  // OS/2 core header with a 3-byte colour table.
  BmpSpec c;
  c.headerSize = 12;
  c.width = 3;
  c.height = 1;
  c.bitCount = 1;
  c.colors = {{0, 0, 0, 0}, {10, 20, 30, 0}};
  c.pixels = {0xA0, 0, 0, 0};  // 1 0 1
  dib::Image core = Read(MakeBmp(c));
  EXPECT_EQ(dib::PixelRgb(core, 0, 0), 0x1E140Au);
  EXPECT_EQ(dib::PixelRgb(core, 1, 0), 0u);
  EXPECT_EQ(dib::PixelRgb(core, 2, 0), 0x1E140Au);
}

TEST(BmpReader, RunLengthEncodings) {
  // RLE8, 4 x 3: row 0 run, row 1 delta past two pixels then absolute run, end of bitmap.
  BmpSpec s;
  s.width = 4;
  s.height = 3;
  s.bitCount = 8;
  s.compression = 1;
  s.colors = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
  s.pixels = {4, 1, 0, 0,              // bottom row: four of index 1, end of line
              0, 2, 2, 0,              // delta right 2
              0, 3, 2, 3, 1, 0,        // absolute run 2 3 1 (padded): pixels 2.. clipped at 4
              0, 1};                   // end of bitmap
  dib::Image image = Read(MakeBmp(s));
  EXPECT_EQ(dib::PixelRgb(image, 0, 2), 0xFF0000u);  // bottom row
  EXPECT_EQ(dib::PixelRgb(image, 3, 2), 0xFF0000u);
  EXPECT_EQ(dib::PixelRgb(image, 0, 1), 0u);         // skipped by the delta
  EXPECT_EQ(dib::PixelRgb(image, 2, 1), 0x00FF00u);
  EXPECT_EQ(dib::PixelRgb(image, 3, 1), 0x0000FFu);
  EXPECT_EQ(dib::PixelRgb(image, 0, 0), 0u);         // never written

  // RLE4: a run alternates the two nibbles.
  BmpSpec f;
  f.width = 5;
  f.height = 1;
  f.bitCount = 4;
  f.compression = 2;
  f.colors = s.colors;
  f.pixels = {5, 0x12, 0, 1};
  dib::Image four = Read(MakeBmp(f));
  EXPECT_EQ(dib::PixelRgb(four, 0, 0), 0xFF0000u);
  EXPECT_EQ(dib::PixelRgb(four, 1, 0), 0x00FF00u);
  EXPECT_EQ(dib::PixelRgb(four, 4, 0), 0xFF0000u);

  // Data that ends before the end-of-bitmap escape is short.
  f.pixels = {5, 0x12};
  EXPECT_EQ(Try([&] { Read(MakeBmp(f)); }), Outcome::Short);
  // A tiny run-length file may not claim a huge picture.
  s.width = 60000;
  s.height = 4000;
  s.pixels = {0, 1};
  EXPECT_EQ(Try([&] { Read(MakeBmp(s)); }), Outcome::Invalid);
}

TEST(BmpReader, TruncatedAtEveryOffsetFailsCleanly) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    std::vector<std::uint8_t> file = dib::WriteBmp(MakeImage(5, 3, bits));
    for (std::size_t n = 0; n < file.size(); ++n) {
      Outcome o = Try([&] { dib::ReadBmp(file.data(), n); });
      ASSERT_TRUE(o == Outcome::Short || o == Outcome::Invalid) << bits << " bits, " << n << " bytes";
    }
  }
}

TEST(BmpReader, AbsurdHeadersAreRefused) {
  auto with = [](auto change) {
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.bitCount = 24;
    s.pixels.assign(16, 0x55);
    change(s);
    return MakeBmp(s);
  };
  // 65535 x 65535 claimed by a 70-byte file: refused before anything is allocated.
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.width = 65535; s.height = 65535; })); }), Outcome::Invalid);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.width = 20000; s.height = 10000; })); }), Outcome::Short);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.height = INT32_MIN; })); }), Outcome::Invalid);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.width = -2; })); }), Outcome::Invalid);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.width = 0; })); }), Outcome::Invalid);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.bitCount = 7; })); }), Outcome::Invalid);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.compression = 4; })); }), Outcome::Invalid);  // JPEG inside
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.headerSize = 41; })); }), Outcome::Invalid);
  // A colour count of 4 billion: skipped when bfOffBits places the pixels, past the file when
  // the table has to be stepped over.
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.clrUsed = 0xFFFFFFFF; })); }), Outcome::Ok);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.clrUsed = 0xFFFFFFFF; s.offBits = 0; })); }), Outcome::Short);
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.bitCount = 8; s.clrUsed = 0xFFFFFFFF; s.offBits = 0; })); }),
            Outcome::Short);
  // Pixel offset into the headers, or past the end.
  std::vector<std::uint8_t> back = with([](BmpSpec&) {});
  Set32(back, 10, 20);
  EXPECT_EQ(Try([&] { Read(back); }), Outcome::Invalid);
  std::vector<std::uint8_t> far = with([](BmpSpec&) {});
  Set32(far, 10, 0x7FFFFFFF);
  EXPECT_EQ(Try([&] { Read(far); }), Outcome::Short);
  // RLE data stored top-down is not a thing.
  EXPECT_EQ(Try([&] { Read(with([](BmpSpec& s) { s.bitCount = 8; s.compression = 1; s.height = -2;
                                                 s.colors = {{}, {}}; })); }),
            Outcome::Invalid);
  // Not a bitmap at all.
  std::vector<std::uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Try([&] { Read(gif); }), Outcome::Invalid);
}

TEST(BmpWriter, WritesStandardHeaders) {
  dib::Image image = MakeImage(3, 2, 4);
  std::vector<std::uint8_t> file = dib::WriteBmp(image);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  const std::uint32_t offBits = file[10] | file[11] << 8;
  EXPECT_EQ(offBits, 14u + 40u + 4u * image.colors.size());
  EXPECT_EQ(file.size(), offBits + 4u * 2u);
  EXPECT_EQ(file[2] | file[3] << 8, static_cast<int>(file.size()));

  dib::Image rgb565 = dib::ConvertImage(MakeImage(3, 2, 24), 16, true);
  std::vector<std::uint8_t> bf = dib::WriteBmp(rgb565);
  EXPECT_EQ(bf[30], 3);  // BI_BITFIELDS, masks follow the header
  EXPECT_EQ(bf[54] | bf[55] << 8, 0xF800);
}

TEST(PixelConversion, KeepsColoursThePaletteCanHold) {
  dib::Image few = MakeImage(9, 4, 4);  // at most 16 colours
  dib::Image wide = dib::ConvertImage(few, 24);
  dib::Image back = dib::ConvertImage(wide, 4);
  dib::Image up = dib::ConvertImage(few, 8);
  EXPECT_EQ(up.colors, few.colors);  // indices kept under the same table
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(dib::PixelRgb(back, x, y), dib::PixelRgb(few, x, y));
      EXPECT_EQ(dib::PixelRgb(up, x, y), dib::PixelRgb(few, x, y));
    }
  // Too many colours for 1 bit: black and white by nearness.
  dib::Image mono = dib::ConvertImage(MakeImage(16, 16, 24), 1);
  ASSERT_EQ(mono.colors.size(), 2u);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      std::uint32_t c = dib::PixelRgb(mono, x, y);
      EXPECT_TRUE(c == 0 || c == 0xFFFFFF);
    }
  // 24 to 16 bits keeps the top five (six) bits of each channel.
  dib::Image source = MakeImage(5, 5, 24);
  dib::Image rgb555 = dib::ConvertImage(source, 16);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) {
      std::uint32_t a = dib::PixelRgb(source, x, y), b = dib::PixelRgb(rgb555, x, y);
      for (int shift : {0, 8, 16}) EXPECT_NEAR(static_cast<int>(a >> shift & 0xFF), static_cast<int>(b >> shift & 0xFF), 8);
    }
}

TEST(IcoReader, RoundTripsEveryDepthWithMask) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    dib::IconFile icon;
    for (int size : {16, 48}) {
      dib::IconImage image;
      image.color = MakeImage(size, size, bits);
      image.mask.assign(dib::RowBytes(size, 1) * size, 0);
      image.mask[0] = 0xF0;  // four transparent pixels in the bottom row
      icon.images.push_back(image);
    }
    std::vector<std::uint8_t> file = dib::WriteIco(icon);
    dib::IconFile back = dib::ReadIco(file.data(), file.size());
    ASSERT_EQ(back.images.size(), 2u);
    EXPECT_EQ(back.images[1].color.width, 48);
    EXPECT_EQ(back.images[1].color.bitCount, bits);
    EXPECT_EQ(back.images[1].color.bits, icon.images[1].color.bits);
    EXPECT_EQ(back.images[1].mask, icon.images[1].mask);
    EXPECT_EQ(dib::WriteIco(back), file);
  }
}

TEST(IcoReader, HostileFiles) {
  dib::IconFile icon;
  dib::IconImage image;
  image.color = MakeImage(4, 4, 8);
  image.mask.assign(16, 0);
  icon.images.push_back(image);
  const std::vector<std::uint8_t> file = dib::WriteIco(icon);

  for (std::size_t n = 0; n < file.size(); ++n) {
    Outcome o = Try([&] { dib::ReadIco(file.data(), n); });
    ASSERT_TRUE(o == Outcome::Short || o == Outcome::Invalid) << n;
  }
  auto patched = [&](std::size_t at, std::uint32_t v, int bytes = 4) {
    std::vector<std::uint8_t> f = file;
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return Try([&] { dib::ReadIco(f.data(), f.size()); });
  };
  const std::size_t image0 = 22;  // after the directory of one entry
  EXPECT_EQ(patched(2, 3, 2), Outcome::Invalid);              // neither icon nor cursor
  EXPECT_EQ(patched(4, 0, 2), Outcome::Invalid);              // no images
  EXPECT_EQ(patched(4, 65535, 2), Outcome::Short);            // a directory longer than the file
  EXPECT_EQ(patched(18, 2), Outcome::Invalid);                // image offset back into the directory
  EXPECT_EQ(patched(18, 0xFFFFFFF0), Outcome::Short);         // image offset past the end
  EXPECT_EQ(patched(14, 0xFFFFFFFF), Outcome::Short);         // image size past the end
  EXPECT_EQ(patched(image0 + 4, 65535), Outcome::Invalid);    // width the image bytes cannot hold
  EXPECT_EQ(patched(image0 + 8, static_cast<std::uint32_t>(-8)), Outcome::Invalid);  // negative height
  EXPECT_EQ(patched(image0 + 8, 7), Outcome::Invalid);        // odd doubled height
  EXPECT_EQ(patched(image0 + 32, 0xFFFFFFFF), Outcome::Invalid);  // colour count
  EXPECT_EQ(patched(image0 + 16, 1), Outcome::Invalid);       // compressed

  // Many entries naming the same image would multiply memory: the sizes must fit the file.
  std::vector<std::uint8_t> many(6 + 16 * 1000, 0);
  many[2] = 1;
  many[4] = 1000 & 0xFF;
  many[5] = 1000 >> 8;
  std::vector<std::uint8_t> body(file.begin() + image0, file.end());
  for (int i = 0; i < 1000; ++i) {
    Set32(many, 6 + 16 * i + 8, static_cast<std::uint32_t>(body.size()));
    Set32(many, 6 + 16 * i + 12, static_cast<std::uint32_t>(6 + 16 * 1000));
  }
  many.insert(many.end(), body.begin(), body.end());
  EXPECT_EQ(Try([&] { dib::ReadIco(many.data(), many.size()); }), Outcome::Short);

  // PNG-compressed images are refused with their own message.
  std::vector<std::uint8_t> png = file;
  const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::copy(std::begin(signature), std::end(signature), png.begin() + image0);
  try {
    dib::ReadIco(png.data(), png.size());
    FAIL() << "PNG entry accepted";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "PNG-compressed icon images are not supported");
  }
}
