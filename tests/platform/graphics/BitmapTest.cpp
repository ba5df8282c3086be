#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "GraphicsTestFiles.h"
#include "platform/graphics/Graphics.h"
#include "support/TestSupport.h"

using namespace graphicstest;
using testsupport::TempDir;

namespace {

TColor Rgb(std::uint32_t rgb) { return static_cast<TColor>(RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF)); }

// A bitmap of the given format holding MakeImage(width, height, bits).
std::unique_ptr<TBitmap> PatternBitmap(int width, int height, int bits) {
  auto bitmap = std::make_unique<TBitmap>();
  std::vector<std::uint8_t> file = dib::WriteBmp(MakeImage(width, height, bits));
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  bitmap->LoadFromStream(&stream);
  return bitmap;
}

struct Ppm {
  int width{0}, height{0};
  std::vector<std::uint8_t> rgb;
  std::uint32_t At(int x, int y) const {
    const std::uint8_t* p = rgb.data() + 3 * (static_cast<std::size_t>(y) * width + x);
    return static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
  }
};

Ppm ParsePpm(const std::string& data) {
  Ppm ppm;
  std::istringstream in(data);
  std::string magic;
  int max = 0;
  in >> magic >> ppm.width >> ppm.height >> max;
  in.get();
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(max, 255);
  ppm.rgb.resize(3 * static_cast<std::size_t>(ppm.width) * ppm.height);
  in.read(reinterpret_cast<char*>(ppm.rgb.data()), static_cast<std::streamsize>(ppm.rgb.size()));
  return ppm;
}

void WritePpm(const std::string& path, const dib::Image& image) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << image.width << " " << image.height << "\n255\n";
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      std::uint32_t c = dib::PixelRgb(image, x, y);
      out.put(static_cast<char>(c >> 16)).put(static_cast<char>(c >> 8)).put(static_cast<char>(c));
    }
}

void ExpectPixels(TBitmap& bitmap, const dib::Image& expected, int tolerance = 0) {
  ASSERT_EQ(bitmap.Width(), expected.width);
  ASSERT_EQ(bitmap.Height(), expected.height);
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      TColor got = bitmap.Canvas()->Pixels(x, y);
      TColor want = Rgb(dib::PixelRgb(expected, x, y));
      for (int shift : {0, 8, 16})
        ASSERT_NEAR(got >> shift & 0xFF, want >> shift & 0xFF, tolerance) << "pixel " << x << "," << y;
    }
}

template <class E, class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

}  // namespace

TEST(BitmapPeers, OurBmpFilesReadByNetpbmAndImageMagick) {
  SKIP_WITHOUT_PROGRAM("bmptopnm");
  SKIP_WITHOUT_PROGRAM("convert");
  TempDir dir;
  for (int bits : {1, 4, 8, 24}) {
    auto bitmap = PatternBitmap(13, 7, bits);
    const std::string path = (dir / ("out" + std::to_string(bits) + ".bmp")).string();
    bitmap->SaveToFile(path);
    dib::Image expected = MakeImage(13, 7, bits);
    for (const std::string& cmd : {"bmptopnm " + path + " 2>/dev/null | ppmtoppm", "convert " + path + " -depth 8 ppm:-"}) {
      std::string out;
      ASSERT_EQ(testsupport::RunCommand(cmd, &out), 0) << cmd;
      Ppm ppm = ParsePpm(out);
      ASSERT_EQ(ppm.width, 13);
      ASSERT_EQ(ppm.height, 7);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) ASSERT_EQ(ppm.At(x, y), dib::PixelRgb(expected, x, y)) << cmd << " " << x << "," << y;
    }
  }
}

TEST(BitmapPeers, ReadsFilesWrittenByNetpbmAndImageMagick) {
  SKIP_WITHOUT_PROGRAM("ppmtobmp");
  SKIP_WITHOUT_PROGRAM("convert");
  TempDir dir;
  for (int bits : {1, 4, 8, 24}) {
    dib::Image image = MakeImage(11, 6, bits);
    const std::string ppm = (dir / "in.ppm").string(), bmp = (dir / "in.bmp").string();
    WritePpm(ppm, image);
    ASSERT_EQ(testsupport::RunCommand("ppmtobmp -bpp " + std::to_string(bits) + " " + ppm + " > " + bmp + " 2>/dev/null"), 0);
    TBitmap bitmap;
    bitmap.LoadFromFile(bmp);
    EXPECT_EQ(bitmap.PixelFormat(), bits == 1 ? pf1bit : bits == 4 ? pf4bit : bits == 8 ? pf8bit : pf24bit);
    ExpectPixels(bitmap, image);
  }
  // Bit fields at 16 and 32 bits (5-6-5, 5-5-5, 8-8-8-8), in the V5 header and in the
  // 40-byte header of the BMP3 form.
  dib::Image image = MakeImage(9, 5, 24);
  const std::string ppm = (dir / "in.ppm").string();
  WritePpm(ppm, image);
  struct Case {
    std::string args;
    TPixelFormat format;
    int tolerance;
  };
  for (const Case& c : {Case{"-define bmp:subtype=RGB565", pf16bit, 9}, Case{"-define bmp:subtype=RGB555", pf15bit, 9},
                        Case{"-define bmp:subtype=RGB555 BMP3:", pf15bit, 9},
                        Case{"-alpha set -define bmp:subtype=ARGB8888", pf32bit, 0}}) {
    const std::string bmp = (dir / "im.bmp").string();
    std::string target = c.args.back() == ':' ? c.args.substr(c.args.rfind(' ') + 1) + bmp : bmp;
    std::string defines = c.args.back() == ':' ? c.args.substr(0, c.args.rfind(' ')) : c.args;
    ASSERT_EQ(testsupport::RunCommand("convert " + ppm + " " + defines + " " + target), 0) << c.args;
    TBitmap bitmap;
    bitmap.LoadFromFile(bmp);
    EXPECT_EQ(bitmap.PixelFormat(), c.format) << c.args;
    ExpectPixels(bitmap, image, c.tolerance);
  }
}

TEST(BitmapFormat, PixelFormatConversionsKeepColours) {
  auto bitmap = PatternBitmap(10, 6, 4);
  dib::Image expected = MakeImage(10, 6, 4);
  for (TPixelFormat f : {pf24bit, pf8bit, pf32bit, pf4bit, pf15bit, pf24bit, pfDevice, pf8bit}) {
    bitmap->SetPixelFormat(f);
    EXPECT_EQ(bitmap->PixelFormat(), f);
    EXPECT_EQ(bitmap->HandleType(), f == pfDevice ? bmDDB : bmDIB);
    ExpectPixels(*bitmap, expected, f == pf15bit ? 8 : 0);
    if (f == pf15bit) bitmap = PatternBitmap(10, 6, 4);
  }
  auto mono = PatternBitmap(5, 4, 1);
  mono->SetPixelFormat(pf8bit);
  mono->SetPixelFormat(pf1bit);
  ExpectPixels(*mono, MakeImage(5, 4, 1));
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { mono->SetPixelFormat(pfCustom); }), "Invalid pixel format");
}

TEST(BitmapFormat, EmptyBitmapRemembersFormatForItsPicture) {
  TBitmap bitmap;
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_EQ(bitmap.Handle(), nullptr);
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetHandleType(bmDIB);
  bitmap.SetWidth(3);
  EXPECT_TRUE(bitmap.Empty());
  bitmap.SetHeight(2);
  EXPECT_FALSE(bitmap.Empty());
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  // New pixels take the brush colour (white by default).
  EXPECT_EQ(bitmap.Canvas()->Pixels(2, 1), clWhite);

  TBitmap device;
  device.SetWidth(4);
  device.SetHeight(4);
  EXPECT_EQ(device.HandleType(), bmDDB);
  EXPECT_EQ(device.PixelFormat(), pfDevice);
  TBitmap mono;
  mono.SetMonochrome(true);
  mono.SetWidth(8);
  mono.SetHeight(2);
  EXPECT_TRUE(mono.Monochrome());
}

TEST(BitmapFormat, SizeSetInEitherOrderKeepsOverlap) {
  for (bool widthFirst : {true, false}) {
    auto bitmap = PatternBitmap(6, 5, 24);
    bitmap->Canvas()->Brush()->SetColor(clRed);
    if (widthFirst) {
      bitmap->SetWidth(8);
      bitmap->SetHeight(3);
    } else {
      bitmap->SetHeight(3);
      bitmap->SetWidth(8);
    }
    dib::Image expected = MakeImage(6, 5, 24);
    ASSERT_EQ(bitmap->Width(), 8);
    ASSERT_EQ(bitmap->Height(), 3);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 6; ++x) ASSERT_EQ(bitmap->Canvas()->Pixels(x, y), Rgb(dib::PixelRgb(expected, x, y)));
      EXPECT_EQ(bitmap->Canvas()->Pixels(7, y), clRed);
    }
  }
  // Palette-indexed pictures keep their indices, sub-byte rows included.
  auto four = PatternBitmap(5, 3, 4);
  four->SetWidth(3);
  four->SetWidth(5);
  dib::Image expected = MakeImage(5, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) ASSERT_EQ(four->Canvas()->Pixels(x, y), Rgb(dib::PixelRgb(expected, x, y)));
  four->SetHeight(0);
  EXPECT_TRUE(four->Empty());
  EXPECT_EQ(four->PixelFormat(), pf4bit);
}

TEST(BitmapScanLine, RowsTopFirstAndBounded) {
  auto bitmap = PatternBitmap(4, 3, 24);
  auto* top = static_cast<std::uint8_t*>(bitmap->ScanLine(0));
  std::uint32_t first = dib::PixelRgb(MakeImage(4, 3, 24), 0, 0);
  EXPECT_EQ(top[2], first >> 16 & 0xFF);
  EXPECT_EQ(top[0], first & 0xFF);
  top[0] = top[1] = top[2] = 0;
  EXPECT_EQ(bitmap->Canvas()->Pixels(0, 0), clBlack);
  for (int row : {-1, 3, 1000})
    EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { bitmap->ScanLine(row); }), "Scan line index out of range");
  TBitmap empty;
  EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { empty.ScanLine(0); }), "Scan line index out of range");
  // A device-dependent bitmap becomes device-independent to hand out rows.
  TBitmap device;
  device.SetWidth(2);
  device.SetHeight(2);
  device.Canvas()->SetPixel(1, 1, clBlue);
  auto* last = static_cast<std::uint8_t*>(device.ScanLine(1));
  EXPECT_EQ(device.HandleType(), bmDIB);
  EXPECT_EQ(last[4 * 1], 0xFF);  // blue byte of pixel (1, 1) at 32 bits
}

TEST(BitmapTransparency, TransparentColorAndMask) {
  auto bitmap = PatternBitmap(4, 4, 24);
  dib::Image expected = MakeImage(4, 4, 24);
  EXPECT_EQ(bitmap->TransparentMode(), tmAuto);
  EXPECT_EQ(bitmap->TransparentColor(), Rgb(dib::PixelRgb(expected, 0, 3)));  // bottom-left pixel
  bitmap->SetTransparentColor(clBtnFace);
  EXPECT_EQ(bitmap->TransparentMode(), tmFixed);
  EXPECT_EQ(bitmap->TransparentColor(), static_cast<TColor>(RGB(212, 208, 200)));
  bitmap->SetTransparentMode(tmAuto);
  EXPECT_EQ(bitmap->TransparentColor(), Rgb(dib::PixelRgb(expected, 0, 3)));

  TBitmap mono;
  mono.SetMonochrome(true);
  mono.SetWidth(2);
  mono.SetHeight(2);
  EXPECT_EQ(mono.TransparentColor(), clWhite);

  // Drawn transparently, pixels of the transparent colour leave the destination alone.
  TBitmap sprite;
  sprite.SetPixelFormat(pf24bit);
  sprite.SetWidth(3);
  sprite.SetHeight(1);
  sprite.Canvas()->SetPixel(0, 0, clLime);
  sprite.Canvas()->SetPixel(1, 0, clRed);
  sprite.Canvas()->SetPixel(2, 0, clLime);
  sprite.SetTransparentColor(clLime);
  sprite.SetTransparent(true);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.Canvas()->Brush()->SetColor(clBlue);
  target.SetWidth(6);
  target.SetHeight(2);
  target.Canvas()->Draw(0, 0, &sprite);
  target.Canvas()->StretchDraw(TRect{0, 1, 6, 2}, &sprite);
  EXPECT_EQ(target.Canvas()->Pixels(0, 0), clBlue);
  EXPECT_EQ(target.Canvas()->Pixels(1, 0), clRed);
  EXPECT_EQ(target.Canvas()->Pixels(2, 0), clBlue);
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), clBlue);
  EXPECT_EQ(target.Canvas()->Pixels(2, 1), clRed);
  EXPECT_EQ(target.Canvas()->Pixels(3, 1), clRed);
  EXPECT_EQ(target.Canvas()->Pixels(5, 1), clBlue);
  HBITMAP mask = sprite.ReleaseMaskHandle();
  ASSERT_NE(mask, nullptr);
  BITMAP info{};
  GetObject(mask, sizeof info, &info);
  EXPECT_EQ(info.bmBitsPixel, 1);
  DeleteObject(mask);
}

TEST(BitmapCanvas, DrawingFiresOnChange) {
  TBitmap bitmap;
  bitmap.SetWidth(4);
  bitmap.SetHeight(4);
  int changes = 0, canvasChanging = 0;
  bitmap.OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, &bitmap);
    ++changes;
  };
  bitmap.Canvas()->OnChanging = [&](TObject*) { ++canvasChanging; };
  bitmap.Canvas()->FillRect(TRect{0, 0, 2, 2});
  bitmap.Canvas()->SetPixel(3, 3, clRed);
  bitmap.Canvas()->Rectangle(0, 0, 4, 4);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(canvasChanging, 3);
  EXPECT_TRUE(bitmap.Modified());
  bitmap.SetModified(false);
  EXPECT_FALSE(bitmap.Modified());
  bitmap.SetWidth(5);
  EXPECT_EQ(changes, 4);
}

TEST(BitmapCanvas, CopyModeAppliesToDraw) {
  auto source = PatternBitmap(2, 2, 24);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetWidth(2);
  target.SetHeight(2);
  target.Canvas()->Brush()->SetColor(clWhite);
  target.Canvas()->FillRect(TRect{0, 0, 2, 2});
  target.Canvas()->SetCopyMode(cmSrcInvert);
  target.Canvas()->Draw(0, 0, source.get());
  std::uint32_t c = dib::PixelRgb(MakeImage(2, 2, 24), 1, 1);
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), Rgb(~c & 0xFFFFFF));
  target.Canvas()->CopyRect(TRect{0, 0, 1, 1}, source->Canvas(), TRect{1, 1, 2, 2});  // XOR again, other pixel
  EXPECT_NE(target.Canvas()->Pixels(0, 0), Rgb(~dib::PixelRgb(MakeImage(2, 2, 24), 0, 0) & 0xFFFFFF));
}

TEST(BitmapAssign, CopiesBitmapsAndRefusesOtherClasses) {
  auto source = PatternBitmap(5, 4, 8);
  source->SetTransparentColor(clRed);
  TBitmap copy;
  copy.Assign(source.get());
  EXPECT_EQ(copy.PixelFormat(), pf8bit);
  EXPECT_EQ(copy.TransparentColor(), clRed);
  EXPECT_NE(copy.Handle(), source->Handle());
  source->Canvas()->SetPixel(0, 0, clBlack);  // the copy is independent
  ExpectPixels(copy, MakeImage(5, 4, 8));

  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());

  TIcon icon;
  EXPECT_EQ(MessageOf<EConvertError>([&] { copy.Assign(&icon); }), "Cannot assign a TIcon to a TBitmap");
  TMetafile metafile;
  EXPECT_EQ(MessageOf<EConvertError>([&] { copy.Assign(&metafile); }), "Cannot assign a TMetafile to a TBitmap");
}

TEST(BitmapStreams, LayoutDataFormAndResourceBytes) {
  auto bitmap = PatternBitmap(3, 2, 24);
  TPicture picture;
  picture.SetGraphic(bitmap.get());
  TMemoryStream data;
  picture.WriteData(&data);
  const auto* bytes = static_cast<const std::uint8_t*>(data.Memory());
  ASSERT_GT(data.Size(), 12);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 8), "\x07TBitmap");
  const std::uint32_t count = bytes[8] | bytes[9] << 8 | bytes[10] << 16 | static_cast<std::uint32_t>(bytes[11]) << 24;
  EXPECT_EQ(count, data.Size() - 12);
  EXPECT_EQ(bytes[12], 'B');
  data.SetPosition(0);
  TPicture back;
  back.ReadData(&data);
  ASSERT_NE(dynamic_cast<TBitmap*>(back.Graphic()), nullptr);
  ExpectPixels(*back.Bitmap(), MakeImage(3, 2, 24));

  // A bitmap resource holds the info header without the file header.
  std::vector<std::uint8_t> file = dib::WriteBmp(MakeImage(3, 2, 8));
  TBitmap resource;
  resource.LoadFromResourceData(file.data() + 14, file.size() - 14);
  ExpectPixels(resource, MakeImage(3, 2, 8));
}

TEST(BitmapStreams, HostileFileLeavesBitmapUnchanged) {
  auto bitmap = PatternBitmap(3, 2, 24);
  BmpSpec s;
  s.width = 65535;
  s.height = 65535;
  std::vector<std::uint8_t> file = MakeBmp(s);
  TMemoryStream stream;
  stream.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  stream.SetPosition(0);
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { bitmap->LoadFromStream(&stream); }), "Bitmap image is not valid");
  ExpectPixels(*bitmap, MakeImage(3, 2, 24));
  std::vector<std::uint8_t> good = dib::WriteBmp(MakeImage(3, 2, 24));
  TMemoryStream cut;
  cut.WriteBuffer(good.data(), static_cast<std::int64_t>(good.size() - 1));
  cut.SetPosition(0);
  EXPECT_EQ(MessageOf<EReadError>([&] { bitmap->LoadFromStream(&cut); }), "Stream read error");
}

TEST(BitmapClipboard, BitmapAndPaletteThroughCfBitmap) {
  auto bitmap = PatternBitmap(4, 3, 8);
  WORD format = 0;
  HANDLE data = nullptr;
  HPALETTE palette = nullptr;
  bitmap->SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  ASSERT_NE(data, nullptr);
  EXPECT_NE(palette, nullptr);
  TBitmap pasted;
  pasted.LoadFromClipboardFormat(format, data, palette);
  ExpectPixels(pasted, MakeImage(4, 3, 8));
  DeleteObject(data);
  DeleteObject(palette);
  EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { pasted.LoadFromClipboardFormat(CF_DIB, data, nullptr); }),
            "Unsupported clipboard format");
}

TEST(BitmapPalette, PaletteOfIndexedPictureAndRelease) {
  auto bitmap = PatternBitmap(4, 4, 4);
  HPALETTE palette = bitmap->Palette();
  ASSERT_NE(palette, nullptr);
  WORD entries = 0;
  GetObject(palette, sizeof entries, &entries);
  EXPECT_EQ(entries, MakeImage(4, 4, 4).colors.size());
  HPALETTE released = bitmap->ReleasePalette();
  EXPECT_EQ(released, palette);
  EXPECT_NE(bitmap->Palette(), released);  // made again from the colour table
  DeleteObject(released);

  // A new palette recolours the picture's colour table.
  std::vector<std::uint8_t> buffer(sizeof(LOGPALETTE) + 16 * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
  log->palVersion = 0x300;
  log->palNumEntries = 16;
  for (int i = 0; i < 16; ++i) log->palPalEntry[i] = PALETTEENTRY{static_cast<BYTE>(i * 16), 0, 0, 0};
  bitmap->SetPalette(CreatePalette(log));
  EXPECT_TRUE(bitmap->PaletteModified());
  std::uint8_t index = static_cast<std::uint8_t*>(bitmap->ScanLine(0))[0] >> 4;
  EXPECT_EQ(bitmap->Canvas()->Pixels(0, 0), static_cast<TColor>(RGB(index * 16, 0, 0)));

  TBitmap true24;
  true24.SetPixelFormat(pf24bit);
  true24.SetWidth(1);
  true24.SetHeight(1);
  EXPECT_EQ(true24.Palette(), nullptr);
}

TEST(BitmapHandle, SetAndReleaseHandles) {
  TBitmap bitmap;
  HDC screen = GetDC(nullptr);
  HBITMAP handle = CreateCompatibleBitmap(screen, 7, 3);
  ReleaseDC(nullptr, screen);
  bitmap.SetHandle(handle);
  EXPECT_EQ(bitmap.Width(), 7);
  EXPECT_EQ(bitmap.Height(), 3);
  EXPECT_EQ(bitmap.HandleType(), bmDDB);
  bitmap.Canvas()->SetPixel(0, 0, clRed);
  HBITMAP released = bitmap.ReleaseHandle();
  EXPECT_EQ(released, handle);
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_TRUE(DeleteObject(released));  // no longer selected anywhere
}
