#include "platform/graphics/JpegCodec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/graphics/JpegTestImages.h"
#include "support/TestSupport.h"

using testsupport::RunCommand;
using testsupport::TempDir;
namespace jt = jpegtest;

namespace {

TJpegPicture Decode(const std::vector<std::uint8_t>& data, const TJpegDecodeOptions& opt = {}) {
  return JpegDecode(data.data(), data.size(), opt);
}

// Our picture as the PNM bytes djpeg writes (colour indices expanded through the colour map).
std::vector<std::uint8_t> AsPnm(const TJpegPicture& p) {
  int channels = p.Quantized() ? 3 : p.Channels;
  if (p.Quantized()) {
    // djpeg writes a grey PGM for a quantised grey picture
    bool grey = true;
    for (const auto& c : p.ColorMap) grey = grey && c[0] == c[1] && c[1] == c[2];
    if (grey && p.Channels == 1 && p.ColorMap.size() <= 256) channels = 1;
  }
  std::string head = (channels == 3 ? "P6\n" : "P5\n") + std::to_string(p.Width) + " " +
                     std::to_string(p.Height) + "\n255\n";
  std::vector<std::uint8_t> out(head.begin(), head.end());
  if (!p.Quantized()) {
    out.insert(out.end(), p.Pixels.begin(), p.Pixels.end());
    return out;
  }
  for (std::uint8_t index : p.Pixels)
    for (int k = 0; k < channels; ++k) out.push_back(p.ColorMap.at(index)[static_cast<std::size_t>(k)]);
  return out;
}

struct PeerCase {
  const char* name;
  const char* djpegSwitches;
  TJpegDecodeOptions options;
};

class JpegPeer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::HaveProgram("cjpeg") || !testsupport::HaveProgram("djpeg"))
      GTEST_SKIP() << "cjpeg/djpeg not installed";
  }
  // Encodes the picture with cjpeg (given switches) and returns the file.
  std::vector<std::uint8_t> Cjpeg(const jt::Image& img, const std::string& switches) {
    auto in = dir_ / "in.pnm";
    auto out = dir_ / "in.jpg";
    testsupport::WriteFile(in, jt::ToPnm(img));
    EXPECT_EQ(0, RunCommand("cjpeg " + switches + " -outfile '" + out.string() + "' '" + in.string() + "'"));
    return testsupport::ReadFile(out);
  }
  // djpeg's PNM output for the file.
  std::vector<std::uint8_t> Djpeg(const std::vector<std::uint8_t>& jpeg, const std::string& switches) {
    auto in = dir_ / "peer.jpg";
    auto out = dir_ / "peer.pnm";
    testsupport::WriteFile(in, jpeg);
    EXPECT_EQ(0, RunCommand("djpeg -pnm " + switches + " -outfile '" + out.string() + "' '" + in.string() +
                            "' 2>/dev/null"));
    return testsupport::ReadFile(out);
  }
  void ExpectSameAsDjpeg(const std::vector<std::uint8_t>& jpeg, const PeerCase& c) {
    SCOPED_TRACE(c.name);
    auto ours = AsPnm(Decode(jpeg, c.options));
    auto theirs = Djpeg(jpeg, c.djpegSwitches);
    ASSERT_FALSE(theirs.empty());
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_TRUE(ours == theirs);
  }
  TempDir dir_;
};

TJpegDecodeOptions Opt(int scale, bool smoothing, bool grey, int colours, bool fast) {
  TJpegDecodeOptions o;
  o.ScaleDenom = scale;
  o.Smoothing = smoothing;
  o.Grayscale = grey;
  o.QuantizeColors = colours;
  o.FastDct = fast;
  return o;
}

const PeerCase kPeerCases[] = {
    {"defaults", "", Opt(1, true, false, 0, false)},
    {"half", "-scale 1/2", Opt(2, true, false, 0, false)},
    {"quarter", "-scale 1/4", Opt(4, true, false, 0, false)},
    {"eighth", "-scale 1/8", Opt(8, true, false, 0, false)},
    {"grayscale", "-grayscale", Opt(1, true, true, 0, false)},
    {"256 colours, two-pass, Floyd-Steinberg", "-colors 256", Opt(1, true, false, 256, false)},
    {"16 colours at half size", "-colors 16 -scale 1/2", Opt(2, true, false, 16, false)},
    {"no smoothing", "-nosmooth", Opt(1, false, false, 0, false)},
    {"fast DCT", "-dct fast", Opt(1, true, false, 0, true)},
};

}  // namespace

TEST_F(JpegPeer, DecodeEqualsDjpegForEachOption) {
  auto jpeg = Cjpeg(jt::Photo(173, 111), "-quality 85");
  for (const auto& c : kPeerCases) ExpectSameAsDjpeg(jpeg, c);
}

TEST_F(JpegPeer, ProgressiveAndGreyFilesEqualDjpeg) {
  auto progressive = Cjpeg(jt::Photo(120, 97), "-quality 75 -progressive");
  EXPECT_TRUE(JpegReadHeader(progressive.data(), progressive.size()).Progressive);
  for (const auto& c : kPeerCases) ExpectSameAsDjpeg(progressive, c);
  // Smoothing off also turns block smoothing off, which djpeg has no switch for; progressive
  // smoothing matters only for unfinished coefficients, so a complete file still matches -nosmooth.

  auto grey = Cjpeg(jt::Photo(64, 50), "-grayscale");
  auto hdr = JpegReadHeader(grey.data(), grey.size());
  EXPECT_EQ(1, hdr.Components);
  auto picture = Decode(grey);
  EXPECT_EQ(1, picture.Channels);
  ExpectSameAsDjpeg(grey, kPeerCases[0]);
  ExpectSameAsDjpeg(grey, kPeerCases[5]);
}

TEST_F(JpegPeer, OurEncodingDecodesWithDjpeg) {
  auto img = jt::Photo(97, 61);
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "sequential");
    TJpegEncodeOptions eo;
    eo.Progressive = progressive;
    auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data(), eo);
    EXPECT_EQ(progressive, JpegReadHeader(jpeg.data(), jpeg.size()).Progressive);
    EXPECT_EQ(AsPnm(Decode(jpeg)), Djpeg(jpeg, ""));
  }
}

TEST(JpegCodec, ReadsHeader) {
  auto img = jt::Photo(33, 17);
  auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data());
  auto h = JpegReadHeader(jpeg.data(), jpeg.size());
  EXPECT_EQ(33, h.Width);
  EXPECT_EQ(17, h.Height);
  EXPECT_EQ(3, h.Components);
  EXPECT_FALSE(h.Progressive);
}

// Round trip: mean absolute error per sample (levels of 255) on photo-like content with noise.
// Quality 90: below 3.5 in colour (2.73 measured, chroma halved both ways) and 2.5 in grey (1.76).
TEST(JpegCodec, RoundTripErrorIsBounded) {
  auto img = jt::Photo(160, 120);
  struct Case {
    int quality;
    bool progressive;
    double bound;
  } cases[] = {{90, false, 3.5}, {90, true, 3.5}, {100, false, 2.0}, {50, false, 6.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quality);
    TJpegEncodeOptions eo;
    eo.Quality = c.quality;
    eo.Progressive = c.progressive;
    auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data(), eo);
    auto back = Decode(jpeg);
    ASSERT_EQ(img.width, back.Width);
    ASSERT_EQ(img.height, back.Height);
    ASSERT_EQ(3, back.Channels);
    EXPECT_LT(jt::MeanAbsoluteError(img.pixels, back.Pixels), c.bound);
    EXPECT_EQ(0, back.Warnings);
  }
  auto grey = jt::Grey(jt::Photo(80, 60));
  auto jpeg = JpegEncode(grey.width, grey.height, 1, grey.pixels.data());
  auto back = Decode(jpeg);
  ASSERT_EQ(1, back.Channels);
  EXPECT_LT(jt::MeanAbsoluteError(grey.pixels, back.Pixels), 2.5);
}

TEST(JpegCodec, EncodesFromRowSourceAndStopsOnMissingRow) {
  auto img = jt::Photo(20, 10);
  int calls = 0;
  auto jpeg = JpegEncode(20, 10, 3, [&](int y) {
    ++calls;
    return img.pixels.data() + 60 * y;
  });
  EXPECT_EQ(10, calls);
  EXPECT_EQ(AsPnm(Decode(jpeg)), AsPnm(Decode(JpegEncode(20, 10, 3, img.pixels.data()))));
  EXPECT_THROW(JpegEncode(20, 10, 3, [&](int y) { return y < 5 ? img.pixels.data() : nullptr; }), EJpegCodecError);
}

TEST(JpegCodec, RefusesBadArguments) {
  std::vector<std::uint8_t> px(3 * 4 * 4, 100);
  TJpegEncodeOptions q0, q101;
  q0.Quality = 0;
  q101.Quality = 101;
  EXPECT_THROW(JpegEncode(4, 4, 3, px.data(), q0), EJpegCodecError);
  EXPECT_THROW(JpegEncode(4, 4, 3, px.data(), q101), EJpegCodecError);
  EXPECT_THROW(JpegEncode(0, 4, 3, px.data()), EJpegCodecError);
  EXPECT_THROW(JpegEncode(4, 70000, 3, px.data()), EJpegCodecError);
  EXPECT_THROW(JpegEncode(4, 4, 4, px.data()), EJpegCodecError);
  EXPECT_THROW(JpegEncode(4, 4, 3, static_cast<const std::uint8_t*>(nullptr)), EJpegCodecError);

  auto jpeg = JpegEncode(4, 4, 3, px.data());
  for (int bad : {0, 3, 16}) {
    TJpegDecodeOptions o;
    o.ScaleDenom = bad;
    EXPECT_THROW(Decode(jpeg, o), EJpegCodecError);
  }
  for (int bad : {1, 7, 257, -1}) {
    TJpegDecodeOptions o;
    o.QuantizeColors = bad;
    EXPECT_THROW(Decode(jpeg, o), EJpegCodecError);
  }
}

TEST(JpegCodec, QuantisesToAColourMap) {
  auto img = jt::Photo(64, 48);
  auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data());
  for (int colours : {8, 16, 256}) {
    TJpegDecodeOptions o;
    o.QuantizeColors = colours;
    auto p = Decode(jpeg, o);
    EXPECT_EQ(1, p.Channels);
    ASSERT_TRUE(p.Quantized());
    EXPECT_LE(p.ColorMap.size(), static_cast<std::size_t>(colours));
    for (auto index : p.Pixels) ASSERT_LT(index, p.ColorMap.size());
  }
  TJpegDecodeOptions grey;
  grey.Grayscale = true;
  grey.QuantizeColors = 8;
  auto p = Decode(jpeg, grey);
  ASSERT_TRUE(p.Quantized());
  for (const auto& c : p.ColorMap) EXPECT_TRUE(c[0] == c[1] && c[1] == c[2]);
}

TEST(JpegCodec, DecodesIntoTheCallersRowsInBlueGreenRed) {
  // Bottom-up rows with padding behind each, as a bitmap has them: every row gets the RGB
  // decode's pixels in blue, green, red order, and the padding is left alone.
  auto img = jt::Photo(37, 23);
  auto colour = JpegEncode(img.width, img.height, 3, img.pixels.data());
  std::vector<std::uint8_t> grey(img.pixels.size() / 3);
  for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = img.pixels[3 * i + 1];
  auto greyFile = JpegEncode(img.width, img.height, 1, grey.data());
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>& data;
    bool greyOption;
  };
  for (const Case& c : {Case{"colour", colour, false}, Case{"colour shown grey", colour, true},
                        Case{"grey file", greyFile, false}}) {
    SCOPED_TRACE(c.name);
    TJpegDecodeOptions o;
    o.Grayscale = c.greyOption;
    const TJpegPicture rgb = Decode(c.data, o);
    o.Bgr = true;
    constexpr std::ptrdiff_t kStride = 37 * 3 + 5;
    std::vector<std::uint8_t> memory(kStride * 23, 0xEE);
    const int warnings = JpegDecodeInto(c.data.data(), c.data.size(), o, [&](const TJpegLayout& layout) {
      EXPECT_EQ(37, layout.Width);
      EXPECT_EQ(23, layout.Height);
      EXPECT_EQ(3, layout.Channels);
      return TJpegRows{memory.data() + kStride * 22, -kStride};
    });
    EXPECT_EQ(0, warnings);
    for (int y = 0; y < 23; ++y) {
      const std::uint8_t* row = memory.data() + kStride * (22 - y);
      for (int x = 0; x < 37; ++x)
        for (int k = 0; k < 3; ++k) {
          const std::size_t at = static_cast<std::size_t>(y) * 37 + static_cast<std::size_t>(x);
          const std::uint8_t want = rgb.Channels == 3 ? rgb.Pixels[3 * at + 2 - static_cast<std::size_t>(k)] : rgb.Pixels[at];
          ASSERT_EQ(want, row[3 * x + k]) << x << "," << y;
        }
      for (int k = 37 * 3; k < kStride; ++k) ASSERT_EQ(0xEE, row[k]);
    }
  }
  // Colour indices stay indices.
  TJpegDecodeOptions indexed;
  indexed.QuantizeColors = 16;
  const TJpegPicture plain = Decode(colour, indexed);
  indexed.Bgr = true;
  const TJpegPicture bgr = Decode(colour, indexed);
  EXPECT_EQ(1, bgr.Channels);
  EXPECT_EQ(plain.Pixels, bgr.Pixels);
  EXPECT_EQ(plain.ColorMap, bgr.ColorMap);
}

TEST(JpegCodec, ReportsProgressByRows) {
  auto img = jt::Photo(40, 30);
  auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data());
  std::vector<int> seen;
  JpegDecode(jpeg.data(), jpeg.size(), {}, [&](int done, int total) {
    EXPECT_EQ(30, total);
    seen.push_back(done);
  });
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(0, seen.front());
  EXPECT_EQ(30, seen.back());
  for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
}

TEST(JpegCodec, ExceptionFromProgressPassesThrough) {
  auto img = jt::Photo(40, 30);
  auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data());
  EXPECT_THROW(JpegDecode(jpeg.data(), jpeg.size(), {}, [](int done, int) {
                 if (done > 0) throw std::runtime_error("stop");
               }),
               std::runtime_error);
}

TEST(JpegCodec, RefusesDataThatIsNotJpeg) {
  const std::vector<std::uint8_t> cases[] = {
      {}, {0xFF}, {0xFF, 0xD8}, {'B', 'M', 0, 0, 0, 0}, std::vector<std::uint8_t>(100, 0)};
  for (const auto& data : cases) {
    EXPECT_THROW(JpegReadHeader(data.data(), data.size()), EJpegCodecError);
    EXPECT_THROW(Decode(data), EJpegCodecError);
  }
}

TEST(JpegCodec, ErrorsPrintNothing) {
  auto img = jt::Photo(40, 30);
  auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data());
  jpeg.resize(jpeg.size() - 100);  // inside the scan
  ::testing::internal::CaptureStderr();
  auto p = Decode(jpeg);
  std::vector<std::uint8_t> junk(50, 0x11);
  EXPECT_THROW(Decode(junk), EJpegCodecError);
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
  EXPECT_GT(p.Warnings, 0);
}

// Every prefix of a small file: an exception or a picture of the stated size, flagged by a warning.
// Cut anywhere after the first scan's header, a sequential file always gives a picture.
TEST(JpegCodecHostile, TruncatedAtEveryOffset) {
  auto img = jt::Photo(48, 32);
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "sequential");
    TJpegEncodeOptions eo;
    eo.Progressive = progressive;
    auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data(), eo);
    const std::size_t sos = jt::FindMarker(jpeg, 0xDA);
    ASSERT_NE(std::string::npos, sos);
    const std::size_t scanData = sos + 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);
    std::size_t pictures = 0;
    for (std::size_t n = 0; n < jpeg.size(); ++n) {
      try {
        auto p = JpegDecode(jpeg.data(), n);
        ASSERT_EQ(48, p.Width);
        ASSERT_EQ(32, p.Height);
        ASSERT_EQ(p.Pixels.size(), 48u * 32u * 3u);
        ASSERT_GT(p.Warnings, 0) << n;
        ++pictures;
      } catch (const EJpegCodecError&) {
        ASSERT_TRUE(progressive || n < scanData) << n;
      }
    }
    EXPECT_GT(pictures, (jpeg.size() - scanData) / 2);
    EXPECT_EQ(0, Decode(jpeg).Warnings);
  }
}

TEST(JpegCodecHostile, CorruptBytesNeverCrash) {
  auto img = jt::Photo(40, 24);
  for (bool progressive : {false, true}) {
    TJpegEncodeOptions eo;
    eo.Progressive = progressive;
    auto jpeg = JpegEncode(img.width, img.height, 3, img.pixels.data(), eo);
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (std::size_t pos = 0; pos < jpeg.size(); ++pos) {
      for (std::uint8_t value : {std::uint8_t(jpeg[pos] ^ 0xFF), std::uint8_t(next() >> 24)}) {
        auto bad = jpeg;
        bad[pos] = value;
        TJpegDecodeOptions o;
        o.QuantizeColors = (pos % 3 == 0) ? 64 : 0;
        o.ScaleDenom = 1 << (pos % 4);
        try {
          auto p = Decode(bad, o);
          ASSERT_EQ(p.Pixels.size(), static_cast<std::size_t>(p.Width) * p.Height * p.Channels);
          for (auto i : p.Quantized() ? p.Pixels : std::vector<std::uint8_t>{}) ASSERT_LT(i, p.ColorMap.size());
        } catch (const EJpegCodecError&) {
        }
      }
    }
  }
}

// A header claiming a huge picture over a few bytes of data is refused before anything is allocated.
TEST(JpegCodecHostile, SizeMustBeJustifiedByData) {
  auto jpeg = JpegEncode(8, 8, 1, std::vector<std::uint8_t>(64, 7).data());
  auto sof = jt::FindMarker(jpeg, 0xC0);
  ASSERT_NE(std::string::npos, sof);
  auto withSize = [&](unsigned w, unsigned h) {
    auto j = jpeg;
    j[sof + 5] = static_cast<std::uint8_t>(h >> 8);
    j[sof + 6] = static_cast<std::uint8_t>(h);
    j[sof + 7] = static_cast<std::uint8_t>(w >> 8);
    j[sof + 8] = static_cast<std::uint8_t>(w);
    return j;
  };
  auto huge = withSize(65000, 65000);
  EXPECT_THROW(JpegReadHeader(huge.data(), huge.size()), EJpegCodecError);
  EXPECT_THROW(Decode(huge), EJpegCodecError);
  auto big = withSize(4000, 3000);  // 12 Mpx in a few hundred bytes
  EXPECT_THROW(Decode(big), EJpegCodecError);
  auto fair = withSize(100, 100);  // justified; decodes grey past the data with a warning
  auto p = Decode(fair);
  EXPECT_EQ(100, p.Width);
  EXPECT_GT(p.Warnings, 0);

  TJpegDecodeOptions small;
  small.MaxPixels = 99 * 100;
  EXPECT_THROW(Decode(fair, small), EJpegCodecError);
  EXPECT_THROW(JpegReadHeader(fair.data(), fair.size(), 99 * 100), EJpegCodecError);
}

TEST(JpegCodecHostile, EndlessScansAreCut) {
  auto img = jt::Photo(16, 16);
  TJpegEncodeOptions eo;
  eo.Progressive = true;
  auto jpeg = JpegEncode(16, 16, 3, img.pixels.data(), eo);
  auto lastSos = jt::FindLastMarker(jpeg, 0xDA);
  ASSERT_NE(std::string::npos, lastSos);
  std::vector<std::uint8_t> scan(jpeg.begin() + static_cast<std::ptrdiff_t>(lastSos), jpeg.end() - 2);
  std::vector<std::uint8_t> many(jpeg.begin(), jpeg.end() - 2);
  for (int i = 0; i < kJpegMaxScans; ++i) many.insert(many.end(), scan.begin(), scan.end());
  many.push_back(0xFF);
  many.push_back(0xD9);
  EXPECT_THROW(Decode(many), EJpegCodecError);
  // a few repeats are still read
  std::vector<std::uint8_t> few(jpeg.begin(), jpeg.end() - 2);
  for (int i = 0; i < 3; ++i) few.insert(few.end(), scan.begin(), scan.end());
  few.push_back(0xFF);
  few.push_back(0xD9);
  EXPECT_EQ(16, Decode(few).Width);
}

TEST(JpegCodecHostile, TrailingGarbageKeepsThePicture) {
  auto img = jt::Photo(24, 16);
  auto jpeg = JpegEncode(24, 16, 3, img.pixels.data());
  auto clean = Decode(jpeg);
  jpeg.resize(jpeg.size() - 2);  // no EOI, then junk and a stray SOS marker
  for (int i = 0; i < 100; ++i) jpeg.push_back(static_cast<std::uint8_t>(i * 37));
  jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00});
  auto p = Decode(jpeg);
  EXPECT_EQ(clean.Pixels, p.Pixels);
  EXPECT_GT(p.Warnings, 0);
}
