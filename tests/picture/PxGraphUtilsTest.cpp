#include <gtest/gtest.h>

#include <cstring>

#include "picture/PxGraphUtils.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

// The screen depth for a scope.
struct ScreenDepth {
  explicit ScreenDepth(int Bits) { GdiSetScreenBitsPerPixel(Bits); }
  ~ScreenDepth() { GdiSetScreenBitsPerPixel(32); }
};

TColor PixelOf(TBitmap& B, int X, int Y) { return B.Canvas()->Pixels(X, Y); }

// A white 100 x 100 canvas.
std::unique_ptr<TBitmap> WhiteSheet() {
  return MakeBitmap(100, 100, pfDevice, [](int, int) { return clWhite; });
}

HICON IconFromStream(const Bytes& File, int HeaderBytes = 6) {
  TMemoryStream s;
  PutBytes(&s, File);
  s.SetPosition(HeaderBytes);
  HICON icon = nullptr;
  ReadIconImage(&s, icon, LE16(File, 4), HeaderBytes);
  return icon;
}

// A one-image icon file whose info header is made HeaderSize bytes long (zeros after the 40
// bytes of the plain header), the colour table and bits moved behind it.
Bytes WithHeaderSize(const Bytes& File, std::uint32_t HeaderSize) {
  Bytes out = File;
  const std::size_t image = LE32(File, 6 + 12);
  out.insert(out.begin() + static_cast<std::ptrdiff_t>(image + 40), HeaderSize - 40, 0);
  for (int i = 0; i < 4; ++i) out[image + i] = static_cast<std::uint8_t>(HeaderSize >> (8 * i));
  const std::uint32_t bytes = LE32(File, 6 + 8) + HeaderSize - 40;
  for (int i = 0; i < 4; ++i) out[6 + 8 + i] = static_cast<std::uint8_t>(bytes >> (8 * i));
  return out;
}

}  // namespace

TEST(DibArithmetic, RowBytesAndColorTables) {
  EXPECT_EQ(DibScanlineBytes(1), 4);
  EXPECT_EQ(DibScanlineBytes(32), 4);
  EXPECT_EQ(DibScanlineBytes(33), 8);
  EXPECT_EQ(DibScanlineBytes(24 * 3), 12);
  EXPECT_EQ(DibScanlineBytes(std::int64_t{65535} * 32), 262140);  // no 32-bit wrap
  EXPECT_EQ(DibColorTableEntries(1), 2);
  EXPECT_EQ(DibColorTableEntries(4), 16);
  EXPECT_EQ(DibColorTableEntries(8), 256);
  EXPECT_EQ(DibColorTableEntries(16), 0);
  EXPECT_EQ(DibColorTableEntries(24), 0);
  EXPECT_EQ(DibColorTableEntries(32), 0);
}

TEST(MemoryRoutines, SameMemoryComparesWordsThenTail) {
  const std::uint8_t a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::uint8_t b[8] = {1, 2, 3, 4, 5, 0, 0, 0};
  EXPECT_TRUE(SameMemory(a, b, 0));
  EXPECT_TRUE(SameMemory(a, nullptr, 0));
  EXPECT_TRUE(SameMemory(a, b, 5));  // one word and one byte
  EXPECT_FALSE(SameMemory(a, b, 6));
  b[4] = 9;
  EXPECT_FALSE(SameMemory(a, b, 5));
  b[4] = 5;
  b[1] = 0;
  EXPECT_FALSE(SameMemory(a, b, 2));  // within the tail bytes only
}

TEST(MemoryRoutines, GlobalBuffersAreZeroedAndFreedOnce) {
  EXPECT_EQ(AllocGlobalBuffer(0), nullptr);
  EXPECT_EQ(AllocGlobalBuffer(-5), nullptr);
  EXPECT_EQ(AllocGlobalBuffer(std::int64_t{1} << 40), nullptr);
  void* nothing = nullptr;
  FreeGlobalBuffer(nothing);
  EXPECT_EQ(nothing, nullptr);

  void* p = AllocGlobalBuffer(1000);
  ASSERT_NE(p, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(p);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(bytes[i], 0);
  FreeGlobalBuffer(p);
  EXPECT_EQ(p, nullptr);

  EXPECT_THROW(TGlobalBuffer(std::int64_t{1} << 40), EOutOfMemory);
}

TEST(MemoryRoutines, CopyHandlesOverlapAndOffsets) {
  std::uint8_t b[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  CopyMemoryBlock(OffsetPtr(b, 2), b, 6);
  const std::uint8_t forward[10] = {0, 1, 0, 1, 2, 3, 4, 5, 8, 9};
  EXPECT_EQ(std::memcmp(b, forward, 10), 0);
  CopyMemoryBlock(b, OffsetPtr(b, 2), 6);
  const std::uint8_t back[10] = {0, 1, 2, 3, 4, 5, 4, 5, 8, 9};
  EXPECT_EQ(std::memcmp(b, back, 10), 0);
  CopyMemoryBlock(b, nullptr, 0);  // nothing to copy
}

TEST(IconImages, ImageKeepsItsOwnSize) {
  IconSpec spec;
  spec.Width = 48;
  spec.Height = 48;
  spec.Color = [](int X, int) { return X < 24 ? clRed : clBlue; };
  auto icon = LoadIcon(MakeIconFile(1, {spec}));
  HICON full = MakeFullSizeIcon(icon.get());
  ASSERT_NE(full, nullptr);
  int w = 0, h = 0;
  QueryIconSize(full, w, h);
  EXPECT_EQ(w, 48);
  EXPECT_EQ(h, 48);
  DestroyIcon(full);
}

// An 8-bit image of two colours has a two-entry table (used colours 2): its bits follow that table.
TEST(IconImages, DrawsAtOwnSizeWithMaskAndShortTable) {
  IconSpec spec;
  spec.Width = 40;
  spec.Height = 20;
  spec.BitCount = 8;
  spec.Color = [](int X, int) { return X < 20 ? clRed : clLime; };
  spec.Transparent = [](int X, int Y) { return X == 0 && Y == 0; };
  auto icon = LoadIcon(MakeIconFile(1, {spec}));
  auto sheet = WhiteSheet();
  DrawFullSizeIcon(sheet->Canvas(), icon.get(), 10, 30);
  EXPECT_EQ(PixelOf(*sheet, 10, 30), clWhite);  // transparent corner
  EXPECT_EQ(PixelOf(*sheet, 11, 30), clRed);
  EXPECT_EQ(PixelOf(*sheet, 49, 49), clLime);   // last pixel of the image
  EXPECT_EQ(PixelOf(*sheet, 50, 49), clWhite);  // not stretched to the system icon size
  EXPECT_EQ(PixelOf(*sheet, 49, 50), clWhite);
  EXPECT_EQ(PixelOf(*sheet, 9, 35), clWhite);
}

TEST(IconImages, OneBitImage) {
  IconSpec spec;
  spec.Width = 16;
  spec.Height = 16;
  spec.BitCount = 1;
  spec.Color = [](int X, int Y) { return (X + Y) % 2 ? clWhite : clBlack; };
  auto icon = LoadIcon(MakeIconFile(1, {spec}));
  auto sheet = WhiteSheet();
  sheet->Canvas()->Brush()->SetColor(clBlue);
  sheet->Canvas()->FillRect(TRect{0, 0, 100, 100});
  DrawFullSizeIcon(sheet->Canvas(), icon.get(), 0, 0);
  EXPECT_EQ(PixelOf(*sheet, 0, 0), clBlack);
  EXPECT_EQ(PixelOf(*sheet, 1, 0), clWhite);
  EXPECT_EQ(PixelOf(*sheet, 16, 0), clBlue);
}

TEST(IconImages, CursorDataDrawsFromACopyOfItsHandle) {
  IconSpec spec;
  spec.Width = 24;
  spec.Height = 24;
  spec.HotX = 3;
  spec.HotY = 5;
  auto cursor = LoadIcon(MakeIconFile(2, {spec}));
  HICON copy = MakeFullSizeIcon(cursor.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, cursor->Handle());
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(copy, &info));
  EXPECT_FALSE(info.fIcon);
  EXPECT_EQ(info.xHotspot, 3u);
  EXPECT_EQ(info.yHotspot, 5u);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(copy);
}

TEST(IconImages, TypeZeroGivesTheStandardIcon) {
  // An icon whose file form says type 0.
  struct TTypeZeroIcon : TIcon {
    void SaveToStream(TStream* Stream) override {
      Bytes file = MakeIconFile(1, {IconSpec{}});
      file[2] = 0;
      PutBytes(Stream, file);
    }
  } icon;
  HICON full = MakeFullSizeIcon(&icon);
  EXPECT_EQ(full, LoadIcon(nullptr, IDI_APPLICATION));
  auto sheet = WhiteSheet();
  DrawFullSizeIcon(sheet->Canvas(), &icon, 0, 0);
  DrawFullSizeIcon(sheet->Canvas(), &icon, 0, 0);  // the shared icon survives being destroyed
  EXPECT_EQ(PixelOf(*sheet, 2, 3), clBlack);        // its frame
  int w = 0, h = 0;
  QueryIconSize(full, w, h);
  EXPECT_EQ(w, GetSystemMetrics(SM_CXICON));
}

TEST(IconImages, EntryChosenByTheDisplaysColourCount) {
  IconSpec deep;
  deep.Width = 32;
  deep.Color = [](int, int) { return clRed; };
  IconSpec sixteen = deep;
  sixteen.Width = 20;
  sixteen.BitCount = 4;
  Bytes file = MakeIconFile(1, {deep, sixteen});
  // The writer leaves the colour count of deep images at 0 and gives 16 for 4-bit ones.
  ASSERT_EQ(file[6 + 16 + 2], 16);
  {
    ScreenDepth depth(4);
    HICON icon = IconFromStream(file);
    int w = 0, h = 0;
    QueryIconSize(icon, w, h);
    EXPECT_EQ(w, 20);
    DestroyIcon(icon);
  }
  {
    ScreenDepth depth(32);
    HICON icon = IconFromStream(file);
    int w = 0, h = 0;
    QueryIconSize(icon, w, h);
    EXPECT_EQ(w, 32);
    DestroyIcon(icon);
  }
  {
    // 1-bit display: no entry has 2 colours; the deepest is taken.
    ScreenDepth depth(1);
    HICON icon = IconFromStream(file);
    int w = 0, h = 0;
    QueryIconSize(icon, w, h);
    EXPECT_EQ(w, 32);
    DestroyIcon(icon);
  }
}

TEST(IconImages, HostileDirectoriesAndImages) {
  const Bytes good = MakeIconFile(1, {IconSpec{}});
  // Many entries claimed, few bytes present.
  Bytes many = good;
  many[4] = 0xFF;
  many[5] = 0xFF;
  EXPECT_THROW(IconFromStream(many), EReadError);
  // Image offset beyond the data, or back inside the directory.
  Bytes far = good;
  far[6 + 12] = 0xFF;
  far[6 + 15] = 0x7F;
  EXPECT_THROW(IconFromStream(far), EReadError);
  Bytes inside = good;
  inside[6 + 12] = 2;
  inside[6 + 13] = 0;
  EXPECT_THROW(IconFromStream(inside), EReadError);
  // Byte count larger than the data.
  Bytes big = good;
  big[6 + 11] = 0x40;
  EXPECT_THROW(IconFromStream(big), EReadError);
  // A header claiming a huge image inside a short entry.
  Bytes huge = good;
  const std::size_t image = LE32(good, 6 + 12);
  huge[image + 4] = 0xFF;
  huge[image + 5] = 0xFF;
  EXPECT_THROW(IconFromStream(huge), EInvalidGraphic);
  Bytes depth = good;
  depth[image + 14] = 7;
  EXPECT_THROW(IconFromStream(depth), EInvalidGraphic);
  Bytes flat = good;
  std::memset(&flat[image + 8], 0, 4);  // height 0
  EXPECT_THROW(IconFromStream(flat), EInvalidGraphic);
  // The same file is fine.
  HICON icon = IconFromStream(good);
  EXPECT_NE(icon, nullptr);
  DestroyIcon(icon);
}

TEST(IconImages, TruncatedImageBuffer) {
  const Bytes good = MakeIconFile(1, {IconSpec{}});
  const std::size_t image = LE32(good, 6 + 12);
  Bytes body(good.begin() + static_cast<std::ptrdiff_t>(image), good.end());
  HBITMAP color = nullptr, mask = nullptr;
  for (std::size_t cut : {std::size_t{0}, std::size_t{20}, std::size_t{40}, body.size() - 1}) {
    Bytes part(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(IconDibToBitmaps(part.data(), static_cast<std::int64_t>(part.size()), color, mask), EInvalidGraphic)
        << cut;
    EXPECT_EQ(color, nullptr);
    EXPECT_EQ(mask, nullptr);
  }
  IconDibToBitmaps(body.data(), static_cast<std::int64_t>(body.size()), color, mask);
  BITMAP bm{};
  GetObject(mask, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmWidth, 32);
  DeleteObject(color);
  DeleteObject(mask);
}

// The colour table and bits of an image follow its header, whatever that header's size.
TEST(IconImages, LongerHeadersKeepTheirColours) {
  IconSpec spec;
  spec.Width = 8;
  spec.Height = 4;
  spec.BitCount = 8;
  spec.Color = [](int X, int) { return X % 2 ? clLime : clRed; };
  for (std::uint32_t size : {40u, 108u, 124u}) {
    auto icon = LoadIcon(WithHeaderSize(MakeIconFile(1, {spec}), size));
    auto sheet = WhiteSheet();
    DrawFullSizeIcon(sheet->Canvas(), icon.get(), 0, 0);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelOf(*sheet, x, 2), x % 2 ? clLime : clRed) << size << " " << x;
    EXPECT_EQ(PixelOf(*sheet, 8, 2), clWhite);
  }
}

// Header sizes beyond the image, compressions other than BI_RGB (PNG images included) and
// every cut of the image: "Icon image is not valid" (EInvalidGraphic), nothing read outside.
TEST(IconImages, HostileHeaders) {
  auto expectInvalid = [](Bytes Image, const std::string& What) {
    HBITMAP color = nullptr, mask = nullptr;
    try {
      IconDibToBitmaps(Image.data(), static_cast<std::int64_t>(Image.size()), color, mask);
      ADD_FAILURE() << What << ": accepted";
      DeleteObject(color);
      DeleteObject(mask);
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Icon image is not valid") << What;
    } catch (const std::exception& e) {
      ADD_FAILURE() << What << ": " << e.what();
    }
  };
  IconSpec spec;
  spec.Width = 4;
  spec.Height = 2;
  spec.BitCount = 4;
  const Bytes file = MakeIconFile(1, {spec});
  const std::size_t image = LE32(file, 6 + 12);
  const Bytes body(file.begin() + static_cast<std::ptrdiff_t>(image), file.end());
  // A header of 1000 bytes in an image of 56.
  Bytes large = body;
  large.resize(56);
  large[0] = 0xE8;
  large[1] = 0x03;
  expectInvalid(large, "header 1000");
  for (std::uint32_t size : {0u, 12u, 39u, 0xFFFFFFFFu, static_cast<std::uint32_t>(body.size()) + 1}) {
    Bytes b = body;
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    expectInvalid(b, "header " + std::to_string(size));
  }
  for (std::uint32_t compression : {1u, 2u, 3u, 4u, 5u}) {
    Bytes b = body;
    b[16] = static_cast<std::uint8_t>(compression);
    expectInvalid(b, "compression " + std::to_string(compression));
  }
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  png.resize(body.size(), 0);
  expectInvalid(png, "PNG");
  const Bytes longer = WithHeaderSize(file, 124);
  const Bytes longBody(longer.begin() + static_cast<std::ptrdiff_t>(image), longer.end());
  for (std::size_t cut = 0; cut < longBody.size(); ++cut)
    expectInvalid(Bytes(longBody.begin(), longBody.begin() + static_cast<std::ptrdiff_t>(cut)), "cut " + std::to_string(cut));
  // Through the directory too.
  Bytes pngFile(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(image));
  pngFile.insert(pngFile.end(), png.begin(), png.end());
  try {
    IconFromStream(pngFile);
    ADD_FAILURE() << "PNG image accepted";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), "Icon image is not valid");
  }
}

TEST(IconImages, QueryIconSizeOfNoIcon) {
  int w = 0, h = 0;
  QueryIconSize(nullptr, w, h);
  EXPECT_EQ(w, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(h, GetSystemMetrics(SM_CYICON));
}

TEST(IconImages, StretchToIconBitmap) {
  auto source = MakeBitmap(8, 8, pfDevice, [](int X, int) { return X < 4 ? clBlack : clWhite; });
  HBITMAP mono = StretchToIconBitmap(source->Handle(), SIZE{16, 4}, true);
  BITMAP bm{};
  GetObject(mono, sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  EXPECT_EQ(bm.bmWidth, 16);
  EXPECT_EQ(bm.bmHeight, 4);
  std::uint8_t bits[8] = {};
  GetBitmapBits(mono, sizeof bits, bits);
  EXPECT_EQ(bits[0], 0x00);  // black half
  EXPECT_EQ(bits[1], 0xFF);  // white half
  DeleteObject(mono);
  EXPECT_THROW(StretchToIconBitmap(nullptr, SIZE{4, 4}, false), EOutOfResources);
}
