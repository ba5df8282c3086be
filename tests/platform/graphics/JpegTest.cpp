#include "platform/graphics/Jpeg.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/JpegTestImages.h"
#include "support/TestSupport.h"

namespace jt = jpegtest;

namespace {

std::vector<std::uint8_t> EncodePhoto(int w, int h, bool progressive = false) {
  auto img = jt::Photo(w, h);
  TJpegEncodeOptions o;
  o.Progressive = progressive;
  return JpegEncode(w, h, 3, img.pixels.data(), o);
}

std::unique_ptr<TJPEGImage> Load(const std::vector<std::uint8_t>& data) {
  TMemoryStream stream;
  stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream.SetPosition(0);
  auto jpeg = std::make_unique<TJPEGImage>();
  jpeg->LoadFromStream(&stream);
  return jpeg;
}

std::vector<std::uint8_t> Save(TGraphic& graphic) {
  TMemoryStream stream;
  graphic.SaveToStream(&stream);
  const auto* p = static_cast<const std::uint8_t*>(stream.Memory());
  return std::vector<std::uint8_t>(p, p + stream.Size());
}

// The bitmap's pixels as red, green, blue rows, top first.
std::vector<std::uint8_t> RgbOf(TBitmap& bitmap) {
  TBitmap copy;
  copy.Assign(&bitmap);
  copy.SetPixelFormat(pf24bit);
  std::vector<std::uint8_t> out;
  for (int y = 0; y < copy.Height(); ++y) {
    const auto* row = static_cast<const std::uint8_t*>(copy.ScanLine(y));
    for (int x = 0; x < copy.Width(); ++x) {
      out.push_back(row[3 * x + 2]);
      out.push_back(row[3 * x + 1]);
      out.push_back(row[3 * x]);
    }
  }
  return out;
}

std::vector<std::uint8_t> RgbOfDecode(const std::vector<std::uint8_t>& data, const TJpegDecodeOptions& o = {}) {
  auto p = JpegDecode(data.data(), data.size(), o);
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < p.Pixels.size(); ++i) {
    if (p.Quantized()) {
      const auto& c = p.ColorMap[p.Pixels[i]];
      out.insert(out.end(), c.begin(), c.end());
    } else if (p.Channels == 1) {
      out.insert(out.end(), 3, p.Pixels[i]);
    } else {
      out.push_back(p.Pixels[i]);
    }
  }
  return out;
}

std::vector<std::uint8_t> AsBitmapRgb(TJPEGImage& jpeg) {
  TBitmap bitmap;
  bitmap.Assign(&jpeg);
  return RgbOf(bitmap);
}

}  // namespace

TEST(JPEGImage, LoadsHeaderAndSavesDataUnchanged) {
  auto data = EncodePhoto(75, 41);
  auto jpeg = Load(data);
  EXPECT_FALSE(jpeg->Empty());
  EXPECT_EQ(75, jpeg->Width());
  EXPECT_EQ(41, jpeg->Height());
  EXPECT_FALSE(jpeg->Transparent());
  EXPECT_EQ("TJPEGImage", jpeg->ClassName());
  EXPECT_EQ(data, Save(*jpeg));
  // decoding with other options leaves the data as loaded
  jpeg->SetScale(jsHalf);
  jpeg->SetGrayscale(true);
  jpeg->DIBNeeded();
  jpeg->SetPixelFormat(jf8Bit);
  jpeg->DIBNeeded();
  EXPECT_EQ(data, Save(*jpeg));
}

TEST(JPEGImage, LoadReadsFromTheStreamPositionToItsEnd) {
  auto data = EncodePhoto(20, 10);
  TMemoryStream stream;
  stream.WriteBuffer("abc", 3);
  stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream.SetPosition(3);
  TJPEGImage jpeg;
  jpeg.LoadFromStream(&stream);
  EXPECT_EQ(data, Save(jpeg));
}

TEST(JPEGImage, BadDataRaisesAndKeepsThePicture) {
  auto good = EncodePhoto(30, 20);
  auto jpeg = Load(good);
  const std::vector<std::uint8_t> bad[] = {{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0},
                                           {},
                                           std::vector<std::uint8_t>(good.begin(), good.begin() + 100)};
  for (const auto& data : bad) {
    TMemoryStream stream;
    if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    stream.SetPosition(0);
    EXPECT_THROW(jpeg->LoadFromStream(&stream), EJPEG);
    EXPECT_EQ(30, jpeg->Width());
    EXPECT_EQ(good, Save(*jpeg));
  }
  // EJPEG is a graphic error of the class library
  TMemoryStream junk;
  junk.WriteBuffer("xxxx", 4);
  junk.SetPosition(0);
  TJPEGImage other;
  EXPECT_THROW(other.LoadFromStream(&junk), EInvalidGraphic);
  EXPECT_TRUE(other.Empty());
}

TEST(JPEGImage, HugeClaimedSizeIsRefusedAtLoad) {
  auto data = JpegEncode(8, 8, 1, std::vector<std::uint8_t>(64, 9).data());
  auto sof = jt::FindMarker(data, 0xC0);
  data[sof + 5] = data[sof + 7] = 0xFF;  // 65xxx x 65xxx
  EXPECT_THROW(Load(data), EJPEG);
}

TEST(JPEGImage, TruncatedFileStillDraws) {
  auto data = EncodePhoto(64, 48);
  data.resize(data.size() * 3 / 4);
  auto jpeg = Load(data);
  auto rgb = AsBitmapRgb(*jpeg);
  EXPECT_EQ(64u * 48u * 3u, rgb.size());
  EXPECT_EQ(RgbOfDecode(data), rgb);
}

TEST(JPEGImage, DecodedPictureEqualsTheCodecs) {
  auto data = EncodePhoto(61, 37, true);
  auto jpeg = Load(data);
  TBitmap bitmap;
  bitmap.Assign(jpeg.get());
  EXPECT_EQ(61, bitmap.Width());
  EXPECT_EQ(37, bitmap.Height());
  EXPECT_EQ(pf24bit, bitmap.PixelFormat());
  EXPECT_EQ(RgbOfDecode(data), RgbOf(bitmap));
  // The bitmap's memory is not cleared before decoding, but the padding behind its rows is: the
  // file saved from it does not depend on what the memory held (new blocks hold other bytes
  // than zero here).
  mallopt(M_PERTURB, 0x5A);
  auto again = Load(data);
  again->DIBNeeded();
  mallopt(M_PERTURB, 0);
  TMemoryStream bmp;
  TBitmap copy;
  copy.Assign(again.get());
  copy.SaveToStream(&bmp);
  const auto* p = static_cast<const std::uint8_t*>(bmp.Memory());
  const std::size_t stride = 61 * 3 + 1;
  for (int y = 0; y < 37; ++y) ASSERT_EQ(0, p[54 + stride * static_cast<std::size_t>(y) + 61 * 3]) << y;
  // A grey file gives three equal channels.
  auto img = jt::Photo(29, 17);
  std::vector<std::uint8_t> grey(img.pixels.size() / 3);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = img.pixels[3 * i];
  data = JpegEncode(29, 17, 1, grey.data());
  jpeg = Load(data);
  bitmap.Assign(jpeg.get());
  EXPECT_EQ(pf24bit, bitmap.PixelFormat());
  EXPECT_EQ(RgbOfDecode(data), RgbOf(bitmap));
}

TEST(JPEGImage, OptionsReachTheDecoder) {
  auto data = EncodePhoto(50, 30);
  auto jpeg = Load(data);
  const std::vector<std::uint8_t> full = AsBitmapRgb(*jpeg);

  struct Case {
    const char* name;
    void (*set)(TJPEGImage&);
    TJpegDecodeOptions options;
  };
  auto opt = [](int scale, bool smooth, bool grey, int colours, bool fast) {
    TJpegDecodeOptions o;
    o.ScaleDenom = scale;
    o.Smoothing = smooth;
    o.Grayscale = grey;
    o.QuantizeColors = colours;
    o.FastDct = fast;
    return o;
  };
  const Case cases[] = {
      {"half", [](TJPEGImage& j) { j.SetScale(jsHalf); }, opt(2, true, false, 0, false)},
      {"quarter", [](TJPEGImage& j) { j.SetScale(jsQuarter); }, opt(4, true, false, 0, false)},
      {"eighth", [](TJPEGImage& j) { j.SetScale(jsEighth); }, opt(8, true, false, 0, false)},
      {"no smoothing", [](TJPEGImage& j) { j.SetSmoothing(false); }, opt(1, false, false, 0, false)},
      {"grey", [](TJPEGImage& j) { j.SetGrayscale(true); }, opt(1, true, true, 0, false)},
      {"8 bit", [](TJPEGImage& j) { j.SetPixelFormat(jf8Bit); }, opt(1, true, false, 256, false)},
      {"speed", [](TJPEGImage& j) { j.SetPerformance(jpBestSpeed); }, opt(1, true, false, 0, true)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = Load(data);
    image->DIBNeeded();  // a cached picture must be dropped by the change
    int changes = 0;
    image->OnChange = [&](TObject*) { ++changes; };
    c.set(*image);
    EXPECT_EQ(1, changes);
    EXPECT_EQ((50 + c.options.ScaleDenom - 1) / c.options.ScaleDenom, image->Width());
    EXPECT_EQ((30 + c.options.ScaleDenom - 1) / c.options.ScaleDenom, image->Height());
    EXPECT_EQ(RgbOfDecode(data, c.options), AsBitmapRgb(*image));
    c.set(*image);  // the same value again: no change
    EXPECT_EQ(1, changes);
  }
}

TEST(JPEGImage, EightBitGivesAPalette) {
  auto jpeg = Load(EncodePhoto(40, 40));
  EXPECT_EQ(nullptr, jpeg->Palette());
  jpeg->SetPixelFormat(jf8Bit);
  HPALETTE palette = jpeg->Palette();
  ASSERT_NE(nullptr, palette);
  PALETTEENTRY entries[256];
  const UINT n = GetPaletteEntries(palette, 0, 256, entries);
  EXPECT_GT(n, 8u);
  EXPECT_LE(n, 256u);
  TBitmap bitmap;
  bitmap.Assign(jpeg.get());
  EXPECT_EQ(pf8bit, bitmap.PixelFormat());
}

TEST(JPEGImage, DrawStretchesTheDecodedPicture) {
  auto data = EncodePhoto(32, 24);
  auto jpeg = Load(data);
  // the print conversion: a bitmap of the graphic's size, the graphic drawn at (0, 0)
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetWidth(jpeg->Width());
  target.SetHeight(jpeg->Height());
  target.Canvas()->Draw(0, 0, jpeg.get());
  EXPECT_EQ(RgbOfDecode(data), RgbOf(target));
  // stretched to twice the size: each pixel doubled
  TBitmap big;
  big.SetPixelFormat(pf24bit);
  big.SetWidth(64);
  big.SetHeight(48);
  big.Canvas()->StretchDraw(TRect{0, 0, 64, 48}, jpeg.get());
  auto small = RgbOfDecode(data), large = RgbOf(big);
  for (int y : {0, 7, 23})
    for (int x : {0, 13, 31})
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(small[(y * 32 + x) * 3 + k], large[((2 * y + 1) * 64 + 2 * x + 1) * 3 + k]);
}

TEST(JPEGImage, ProgressAroundDecoding) {
  auto jpeg = Load(EncodePhoto(64, 200));
  std::vector<std::pair<TProgressStage, int>> events;
  jpeg->OnProgress = [&](TObject* Sender, TProgressStage Stage, BYTE Percent, bool, const TRect& R,
                         const std::string&) {
    EXPECT_EQ(jpeg.get(), Sender);
    EXPECT_EQ(0, R.right - R.left);
    events.emplace_back(Stage, Percent);
  };
  jpeg->DIBNeeded();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(std::make_pair(psStarting, 0), events.front());
  EXPECT_EQ(std::make_pair(psEnding, 100), events.back());
  for (std::size_t i = 1; i + 1 < events.size(); ++i) {
    EXPECT_EQ(psRunning, events[i].first);
    EXPECT_GT(events[i].second, events[i - 1].second);
  }
  events.clear();
  jpeg->DIBNeeded();  // cached: no second decode
  EXPECT_TRUE(events.empty());
}

TEST(JPEGImage, ProgressEndsAtZeroWhenAHandlerRaises) {
  auto jpeg = Load(EncodePhoto(64, 200));
  std::vector<std::pair<TProgressStage, int>> events;
  jpeg->OnProgress = [&](TObject*, TProgressStage Stage, BYTE Percent, bool, const TRect&, const std::string&) {
    events.emplace_back(Stage, Percent);
    if (Stage == psRunning) throw EAbort();
  };
  EXPECT_THROW(jpeg->DIBNeeded(), EAbort);
  EXPECT_EQ(std::make_pair(psEnding, 0), events.back());
  jpeg->OnProgress = nullptr;
  EXPECT_EQ(64u * 200u * 3u, AsBitmapRgb(*jpeg).size());  // decodes again next time
}

// Round trip through a bitmap at quality 90: mean absolute error below 3.5 levels of 255, as in
// the codec's own round trip.
TEST(JPEGImage, AssignedBitmapIsCompressedOnSave) {
  auto img = jt::Photo(160, 120);
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(160);
  bitmap.SetHeight(120);
  for (int y = 0; y < 120; ++y) {
    auto* row = static_cast<std::uint8_t*>(bitmap.ScanLine(y));
    for (int x = 0; x < 160; ++x)
      for (int k = 0; k < 3; ++k) row[3 * x + k] = img.pixels[(y * 160 + x) * 3 + 2 - k];
  }
  TJPEGImage jpeg;
  EXPECT_EQ(90, jpeg.CompressionQuality());
  jpeg.Assign(&bitmap);
  EXPECT_EQ(160, jpeg.Width());
  EXPECT_EQ(120, jpeg.Height());
  EXPECT_EQ(img.pixels, AsBitmapRgb(jpeg));  // not compressed yet: the picture itself
  auto saved = Save(jpeg);
  auto header = JpegReadHeader(saved.data(), saved.size());
  EXPECT_EQ(160, header.Width);
  EXPECT_FALSE(header.Progressive);
  EXPECT_LT(jt::MeanAbsoluteError(img.pixels, RgbOfDecode(saved)), 3.5);
  EXPECT_EQ(RgbOfDecode(saved), AsBitmapRgb(jpeg));  // now drawn from the data
  EXPECT_EQ(saved, Save(jpeg));

  TJPEGImage low;
  low.SetCompressionQuality(10);
  low.SetProgressiveEncoding(true);
  low.Assign(&bitmap);
  auto small = Save(low);
  EXPECT_LT(small.size(), saved.size());
  EXPECT_TRUE(JpegReadHeader(small.data(), small.size()).Progressive);

  low.SetCompressionQuality(0);
  EXPECT_EQ(1, low.CompressionQuality());
  low.SetCompressionQuality(500);
  EXPECT_EQ(100, low.CompressionQuality());
}

TEST(JPEGImage, CompressReencodesAtFullSize) {
  auto data = EncodePhoto(50, 30);
  auto jpeg = Load(data);
  jpeg->SetScale(jsHalf);
  jpeg->SetCompressionQuality(40);
  jpeg->Compress();
  auto saved = Save(*jpeg);
  EXPECT_NE(data, saved);
  auto header = JpegReadHeader(saved.data(), saved.size());
  EXPECT_EQ(50, header.Width);
  EXPECT_EQ(30, header.Height);
  EXPECT_EQ(25, jpeg->Width());
  jpeg->SetGrayscale(true);
  jpeg->Compress();
  saved = Save(*jpeg);
  EXPECT_EQ(1, JpegReadHeader(saved.data(), saved.size()).Components);
}

TEST(JPEGImage, GreyOptionOnAnAssignedBitmapCompressesItGrey) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(16);
  bitmap.SetHeight(16);
  bitmap.Canvas()->Brush()->SetColor(clRed);
  bitmap.Canvas()->FillRect(TRect{0, 0, 16, 16});
  TJPEGImage jpeg;
  jpeg.Assign(&bitmap);
  jpeg.SetGrayscale(true);
  auto rgb = AsBitmapRgb(jpeg);
  ASSERT_EQ(16u * 16u * 3u, rgb.size());
  EXPECT_EQ(rgb[0], rgb[1]);
  EXPECT_EQ(rgb[1], rgb[2]);
  EXPECT_NEAR(76, rgb[0], 3);  // red's grey level
  auto saved = Save(jpeg);
  EXPECT_EQ(1, JpegReadHeader(saved.data(), saved.size()).Components);
}

// Equals is protected, as in every graphic.
class ComparableJpeg : public TJPEGImage {
 public:
  using TJPEGImage::Equals;
};

TEST(JPEGImage, AssignCopiesAndEqualsComparesData) {
  auto loaded = Load(EncodePhoto(30, 20));
  loaded->SetScale(jsQuarter);
  loaded->SetCompressionQuality(55);
  ComparableJpeg a, b, c;
  a.Assign(loaded.get());
  b.Assign(&a);
  EXPECT_EQ(jsQuarter, b.Scale());
  EXPECT_EQ(55, b.CompressionQuality());
  EXPECT_EQ(Save(*loaded), Save(b));
  EXPECT_TRUE(a.Equals(&b));
  c.Assign(Load(EncodePhoto(30, 21)).get());
  EXPECT_FALSE(a.Equals(&c));
  TBitmap bitmap;
  bitmap.Assign(&a);
  EXPECT_FALSE(a.Equals(&bitmap));
  // an assigned picture compares by the data it compresses to
  ComparableJpeg fromBitmap1, fromBitmap2;
  fromBitmap1.Assign(&bitmap);
  fromBitmap2.Assign(&bitmap);
  EXPECT_TRUE(fromBitmap1.Equals(&fromBitmap2));
  ComparableJpeg e1, e2;
  EXPECT_TRUE(e1.Equals(&e2));
  EXPECT_FALSE(e1.Equals(&a));
  b.Assign(nullptr);
  EXPECT_TRUE(b.Empty());
}

TEST(JPEGImage, AssignFromOtherGraphicsIsRefused) {
  TIcon icon;
  TJPEGImage jpeg;
  EXPECT_THROW(jpeg.Assign(&icon), EConvertError);
}

TEST(JPEGImage, EmptyImage) {
  TJPEGImage jpeg;
  EXPECT_TRUE(jpeg.Empty());
  EXPECT_EQ(0, jpeg.Width());
  EXPECT_EQ(0, jpeg.Height());
  EXPECT_TRUE(Save(jpeg).empty());
  jpeg.SetScale(jsHalf);
  jpeg.DIBNeeded();
  jpeg.JPEGNeeded();
  jpeg.Compress();
  EXPECT_TRUE(jpeg.Empty());
  TBitmap bitmap;
  bitmap.SetWidth(5);
  bitmap.SetHeight(5);
  bitmap.Assign(&jpeg);
  EXPECT_TRUE(bitmap.Empty());
  jpeg.SetTransparent(true);
  EXPECT_FALSE(jpeg.Transparent());
  EXPECT_FALSE(jpeg.ProgressiveDisplay());
  jpeg.SetProgressiveDisplay(true);
  EXPECT_TRUE(jpeg.ProgressiveDisplay());
}

TEST(JPEGImage, RegisteredForJpegAndJpg) {
  RegisterJpegFormats();
  RegisterJpegFormats();  // once only
  EXPECT_EQ(TJPEGImage::StaticClass(), TPicture::FindFileFormat("jpg"));
  EXPECT_EQ(TJPEGImage::StaticClass(), TPicture::FindFileFormat("JPEG"));
  EXPECT_EQ(TJPEGImage::StaticClass(), TPicture::FindFileFormat(".Jpg"));

  testsupport::TempDir dir;
  auto data = EncodePhoto(30, 20);
  const std::string path = (dir / "car.JPG").string();
  testsupport::WriteFile(path, data);
  TPicture picture;
  picture.LoadFromFile(path);
  ASSERT_NE(nullptr, picture.Graphic());
  EXPECT_EQ(TJPEGImage::StaticClass(), picture.Graphic()->ClassType());
  EXPECT_EQ(30, picture.Width());

  // kept in a layout stream by class name
  TMemoryStream layout;
  picture.WriteData(&layout);
  layout.SetPosition(0);
  TPicture copy;
  copy.ReadData(&layout);
  ASSERT_NE(nullptr, copy.Graphic());
  EXPECT_EQ(TJPEGImage::StaticClass(), copy.Graphic()->ClassType());
  EXPECT_EQ(data, Save(*copy.Graphic()));
}

// What the picture control does with a JPEG picture when it turns it.
TEST(JPEGImage, PictureTurnsKeepOrDropTheClass) {
  auto data = EncodePhoto(30, 20);
  TPicture picture;
  {
    auto jpeg = Load(data);
    picture.SetGraphic(jpeg.get());
  }
  // a half turn draws the graphic on a bitmap and assigns the result back: still a JPEG image
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetWidth(picture.Graphic()->Width());
  b.SetHeight(picture.Graphic()->Height());
  b.Canvas()->Draw(0, 0, picture.Graphic());
  picture.Graphic()->Assign(&b);
  EXPECT_EQ(TJPEGImage::StaticClass(), picture.Graphic()->ClassType());
  EXPECT_EQ(RgbOfDecode(data), AsBitmapRgb(*static_cast<TJPEGImage*>(picture.Graphic())));
  auto saved = Save(*picture.Graphic());
  EXPECT_EQ(30, JpegReadHeader(saved.data(), saved.size()).Width);
  // a quarter turn converts it to a bitmap, then the picture's bitmap replaces the JPEG image
  TBitmap src;
  src.Assign(picture.Graphic());
  EXPECT_EQ(30, src.Width());
  picture.Bitmap()->Assign(&src);
  EXPECT_EQ(TBitmap::StaticClass(), picture.Graphic()->ClassType());
}
