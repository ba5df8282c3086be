#include <gtest/gtest.h>

#include "GraphicsTestFiles.h"
#include "platform/graphics/Graphics.h"
#include "support/TestSupport.h"

using namespace graphicstest;
using testsupport::TempDir;

namespace {

TColor Rgb(std::uint32_t rgb) { return static_cast<TColor>(RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF)); }

// One icon image of `size` at `bits` whose top-left quarter is transparent: mask bits set and,
// as icon files have it, black colour bits under them (drawing is (screen AND mask) XOR colour).
dib::Image IconPicture(int size, int bits) {
  dib::Image picture = MakeImage(size, size, 24);
  if (bits <= 8) {
    // Black plus at most 2^bits - 1 other colours, so that the table holds them all.
    const int count = (1 << bits) - 1;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        std::uint8_t* p = picture.bits.data() + (size - 1 - y) * dib::RowBytes(size, 24) + 3 * x;
        int i = (x + 3 * y) % count;
        p[0] = static_cast<std::uint8_t>(255 - i * 17);
        p[1] = static_cast<std::uint8_t>(40 + i * 13);
        p[2] = static_cast<std::uint8_t>(200 - i * 9);
      }
  }
  for (int y = 0; y < size / 2; ++y)
    for (int x = 0; x < size / 2; ++x) {
      std::uint8_t* p = picture.bits.data() + (size - 1 - y) * dib::RowBytes(size, 24) + 3 * x;
      p[0] = p[1] = p[2] = 0;
    }
  if (bits == 24) return picture;
  dib::Image converted = dib::ConvertImage(picture, bits);
  if (bits == 32)  // opaque where the mask says so
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        converted.bits[(size - 1 - y) * dib::RowBytes(size, 32) + 4 * x + 3] = (x < size / 2 && y < size / 2) ? 0 : 255;
  return converted;
}

std::vector<std::uint8_t> IconFile(int bits, std::initializer_list<int> sizes) {
  dib::IconFile icon;
  for (int size : sizes) {
    dib::IconImage image;
    image.color = IconPicture(size, bits);
    const std::size_t row = dib::RowBytes(size, 1);
    image.mask.assign(row * size, 0);
    for (int y = 0; y < size / 2; ++y)
      for (int x = 0; x < size / 2; ++x) image.mask[(size - 1 - y) * row + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    icon.images.push_back(image);
  }
  return dib::WriteIco(icon);
}

void Load(TIcon& icon, const std::vector<std::uint8_t>& file) {
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  icon.LoadFromStream(&stream);
}

// Draws the icon on a blue 24-bit bitmap and checks the transparent quarter and the picture.
void ExpectDrawn(TIcon& icon, int bits) {
  const int size = icon.Width();
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.Canvas()->Brush()->SetColor(clBlue);
  target.SetWidth(size);
  target.SetHeight(size);
  target.Canvas()->Draw(0, 0, &icon);
  dib::Image expected = IconPicture(size, bits);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      TColor want = (x < size / 2 && y < size / 2) ? clBlue : Rgb(dib::PixelRgb(expected, x, y));
      ASSERT_EQ(target.Canvas()->Pixels(x, y), want) << bits << " bits at " << x << "," << y;
    }
}

}  // namespace

TEST(IconFiles, RoundTripAtEveryDepth) {
  for (int bits : {1, 4, 8, 24, 32}) {
    std::vector<std::uint8_t> file = IconFile(bits, {16, 32, 48});
    TIcon icon;
    Load(icon, file);
    EXPECT_FALSE(icon.Empty());
    EXPECT_TRUE(icon.Transparent());
    EXPECT_EQ(icon.Width(), 32);  // the image nearest the system icon size
    ExpectDrawn(icon, bits);
    TMemoryStream saved;
    icon.SaveToStream(&saved);
    ASSERT_EQ(saved.Size(), static_cast<std::int64_t>(file.size()));
    EXPECT_EQ(std::memcmp(saved.Memory(), file.data(), file.size()), 0);
  }
}

TEST(IconFiles, ImageMagickReadsOurIcons) {
  SKIP_WITHOUT_PROGRAM("convert");
  TempDir dir;
  for (int bits : {4, 8, 24}) {
    const std::string path = (dir / "i.ico").string();
    testsupport::WriteFile(path, IconFile(bits, {16}));
    std::string out;
    ASSERT_EQ(testsupport::RunCommand("convert '" + path + "[0]' -alpha off -depth 8 ppm:-", &out), 0);
    dib::Image expected = IconPicture(16, bits);
    const std::size_t header = out.size() - 16 * 16 * 3;
    for (int y = 8; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(out.data() + header + 3 * (y * 16 + x));
        ASSERT_EQ(static_cast<std::uint32_t>(p[0] << 16 | p[1] << 8 | p[2]), dib::PixelRgb(expected, x, y)) << bits;
      }
  }
}

TEST(IconHandle, IconMadeFromHandleSavesAsOneImage) {
  TIcon source;
  Load(source, IconFile(24, {16}));
  TIcon fromHandle;
  fromHandle.SetHandle(CopyIcon(source.Handle()));
  EXPECT_EQ(fromHandle.Width(), 16);
  EXPECT_EQ(fromHandle.Height(), 16);
  TMemoryStream saved;
  fromHandle.SaveToStream(&saved);
  saved.SetPosition(0);
  TIcon back;
  back.LoadFromStream(&saved);
  ExpectDrawn(back, 24);
  HICON released = back.ReleaseHandle();
  EXPECT_NE(released, nullptr);
  EXPECT_FALSE(back.Empty());  // the file stays; a new handle is made on demand
  EXPECT_NE(back.Handle(), released);
  DestroyIcon(released);
}

TEST(IconRules, SizeClipboardAssignAndBadFiles) {
  TIcon icon;
  Load(icon, IconFile(8, {16}));
  EXPECT_THROW(icon.SetWidth(5), EInvalidGraphicOperation);
  EXPECT_THROW(icon.SetHeight(5), EInvalidGraphicOperation);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  try {
    icon.SaveToClipboardFormat(format, data, palette);
    FAIL();
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message(), "Clipboard does not support Icons");
  }
  TIcon copy;
  copy.Assign(&icon);
  EXPECT_EQ(copy.Width(), 16);
  ExpectDrawn(copy, 8);
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
  TBitmap bitmap;
  EXPECT_THROW(copy.Assign(&bitmap), EConvertError);

  std::vector<std::uint8_t> png = IconFile(8, {16});
  const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  std::copy(std::begin(signature), std::end(signature), png.begin() + 22);
  EXPECT_THROW(Load(icon, png), EInvalidGraphic);
  std::vector<std::uint8_t> cut = IconFile(8, {16});
  cut.resize(cut.size() - 3);
  EXPECT_THROW(Load(icon, cut), EReadError);
  EXPECT_EQ(icon.Width(), 16);  // unchanged by the failed loads
}
