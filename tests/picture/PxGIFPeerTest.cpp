// The second GIF graphic against peers: giflib decodes the same files to the same frames, and
// giflib, giftopnm, gifsicle and Qt's reader read what we write.
#include <gtest/gtest.h>
#include <gif_lib.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include "picture/PxGIF.h"
#include "picture/PxGraphUtils.h"
#include "support/TestSupport.h"
#include "tests/picture/PxGifTestSupport.h"

using namespace px;
using namespace pxtest;
namespace fs = std::filesystem;

namespace {

struct PeerFrame {
  int Left, Top, Width, Height;
  bool Interlace;
  std::vector<std::uint32_t> Map;  // 0xRRGGBB
  Bytes Pixels;                    // display order
  int Delay{-1}, Disposal{0}, Transparent{-1};
};

struct Peer {
  bool Ok{false};
  int Width{0}, Height{0};
  std::vector<PeerFrame> Frames;
};

struct Memory {
  const Bytes* Data;
  std::size_t At;
};

int ReadMemory(GifFileType* G, GifByteType* Out, int N) {
  auto* m = static_cast<Memory*>(G->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(N), m->Data->size() - m->At);
  std::memcpy(Out, m->Data->data() + m->At, n);
  m->At += n;
  return static_cast<int>(n);
}

Peer GiflibDecode(const Bytes& Data) {
  Peer p;
  Memory m{&Data, 0};
  int error = 0;
  GifFileType* g = DGifOpen(&m, ReadMemory, &error);
  if (!g) return p;
  if (DGifSlurp(g) == GIF_OK) {
    p.Ok = true;
    p.Width = g->SWidth;
    p.Height = g->SHeight;
    for (int i = 0; i < g->ImageCount; ++i) {
      const SavedImage& s = g->SavedImages[i];
      PeerFrame f{s.ImageDesc.Left, s.ImageDesc.Top, s.ImageDesc.Width, s.ImageDesc.Height, s.ImageDesc.Interlace != 0, {}, {}};
      const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : g->SColorMap;
      if (map)
        for (int c = 0; c < map->ColorCount; ++c)
          f.Map.push_back(static_cast<std::uint32_t>(map->Colors[c].Red) << 16 | map->Colors[c].Green << 8 | map->Colors[c].Blue);
      f.Pixels.assign(s.RasterBits, s.RasterBits + static_cast<std::ptrdiff_t>(f.Width) * f.Height);
      GraphicsControlBlock gcb;
      if (DGifSavedExtensionToGCB(g, i, &gcb) == GIF_OK) {
        f.Delay = gcb.DelayTime;
        f.Disposal = gcb.DisposalMode;
        f.Transparent = gcb.TransparentColor;
      }
      p.Frames.push_back(std::move(f));
    }
  }
  DGifCloseFile(g, &error);
  return p;
}

// Our frame's pixels (display order) from its DIB.
Bytes OurIndices(TPxGIFFrame* F) {
  TMemoryStream dib;
  F->DecodeToDib(&dib);
  const Bytes b = StreamBytes(&dib);
  const int w = static_cast<int>(LE32(b, 18)), h = static_cast<int>(LE32(b, 22)), bits = LE16(b, 28);
  const std::size_t offset = LE32(b, 10), stride = static_cast<std::size_t>(DibScanlineBytes(bits * w));
  Bytes out;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = b.data() + offset + static_cast<std::size_t>(h - 1 - y) * stride;
    for (int x = 0; x < w; ++x) {
      if (bits == 8) out.push_back(row[x]);
      if (bits == 4) out.push_back(static_cast<std::uint8_t>(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4));
      if (bits == 1) out.push_back(static_cast<std::uint8_t>((row[x / 8] >> (7 - x % 8)) & 1));
    }
  }
  return out;
}

std::vector<fs::path> Corpus() {
  static testsupport::TempDir dir;
  static std::vector<fs::path> files = [] {
    std::vector<fs::path> v;
    const fs::path suite = testsupport::TestDataDir() / "gif-test-suite/gifs";
    if (!testsupport::TestDataDir().empty() && fs::exists(suite))
      for (const auto& e : fs::directory_iterator(suite))
        if (e.path().extension() == ".gif") v.push_back(e.path());
    // The GIF conformance corpus of the repository (ImageMagick, pamtogif, gifbuild).
    const fs::path script = testsupport::SourceDir() / "tests/gif/data/make_corpus.sh";
    if (fs::exists(script) &&
        testsupport::RunCommand("bash '" + script.string() + "' '" + dir.path().string() + "' >/dev/null 2>&1") == 0)
      for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.path().extension() == ".gif") v.push_back(e.path());
    std::sort(v.begin(), v.end());
    return v;
  }();
  return files;
}

void Load(TPxGIFImage& Image, const Bytes& File) {
  TMemoryStream s;
  PutBytes(&s, File);
  s.SetPosition(0);
  Image.LoadFromStream(&s);
}

Bytes Save(TPxGIFImage& Image) {
  TMemoryStream s;
  Image.SaveToStream(&s);
  return StreamBytes(&s);
}

// Our frames against giflib's: position, size, interlacing, table, control block, pixels.
void ExpectSameFrames(TPxGIFImage& Ours, const Peer& P, const std::string& Name) {
  ASSERT_EQ(Ours.FrameCount(), static_cast<int>(P.Frames.size())) << Name;
  for (int i = 0; i < Ours.FrameCount(); ++i) {
    TPxGIFFrame* f = Ours.FrameAt(i);
    const PeerFrame& q = P.Frames[static_cast<std::size_t>(i)];
    SCOPED_TRACE(Name + " frame " + std::to_string(i));
    EXPECT_EQ(f->OriginX, q.Left);
    EXPECT_EQ(f->OriginY, q.Top);
    EXPECT_EQ(f->ItemData->ImageWidth, q.Width);
    EXPECT_EQ(f->ItemData->ImageHeight, q.Height);
    EXPECT_EQ(f->IsInterlaced, q.Interlace);
    const TGifColorTable& t = f->ItemData->ColorTable;
    ASSERT_EQ(t.Count, static_cast<int>(q.Map.size()));
    for (int c = 0; c < t.Count; ++c) {
      if (c == q.Transparent) continue;  // made unique in its blue byte
      const TColor ours = t.ColorAt(c);
      EXPECT_EQ(static_cast<std::uint32_t>((ours & 0xFF) << 16 | (ours & 0xFF00) | (ours >> 16 & 0xFF)), q.Map[static_cast<std::size_t>(c)]) << c;
    }
    if (q.Delay >= 0) {
      EXPECT_EQ(f->DelayMs, q.Delay * 10);
      EXPECT_EQ(f->DisposalCode, q.Disposal);
    }
    EXPECT_EQ(ColorTableIndexOf(t, f->KeyColor), q.Transparent);
    ASSERT_EQ(OurIndices(f), q.Pixels);
    EXPECT_FALSE(f->IsCorrupt);
  }
}

// Data read by us into Image and by giflib (returned): the same frames.
Peer DecodeBesideGiflib(TPxGIFImage& Image, const Bytes& Data, const std::string& Name) {
  const Peer peer = GiflibDecode(Data);
  EXPECT_TRUE(peer.Ok) << Name;
  if (!peer.Ok) return peer;
  Load(Image, Data);
  ExpectSameFrames(Image, peer, Name);
  return peer;
}

std::vector<QImage> QtFrames(const Bytes& Gif) {
  QByteArray data(reinterpret_cast<const char*>(Gif.data()), static_cast<qsizetype>(Gif.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "gif");
  std::vector<QImage> frames;
  for (int i = 0; i < 1000 && reader.canRead(); ++i) {
    QImage image = reader.read();
    if (image.isNull()) break;
    frames.push_back(image.convertToFormat(QImage::Format_ARGB32));
  }
  return frames;
}

}  // namespace

// Generated pictures (every code size 1 to 8 with every table size, streams with and without a
// leading clear code, clear codes in the middle, full tables with and without a clear, sub-blocks
// of every length, interlacing, local and global tables, transparency): the same frames as
// giflib's, and our rewritten file gives giflib the same pixels again.
TEST(PxGifPeer, GeneratedPicturesDecodeAsGiflibDecodesThem) {
  for (int n = 0; n < kGeneratedGifs; ++n) {
    const Bytes data = GeneratedGif(n);
    const std::string name = "generated " + std::to_string(n);
    TPxGIFImage image;
    const Peer peer = DecodeBesideGiflib(image, data, name);
    if (HasFailure()) return;
    const Peer again = GiflibDecode(Save(image));
    ASSERT_TRUE(again.Ok) << name;
    ASSERT_EQ(again.Frames.size(), peer.Frames.size()) << name;
    for (std::size_t i = 0; i < peer.Frames.size(); ++i) {
      ASSERT_EQ(again.Frames[i].Pixels, peer.Frames[i].Pixels) << name << " frame " << i;
      ASSERT_EQ(again.Frames[i].Transparent, peer.Frames[i].Transparent) << name << " frame " << i;
    }
  }
}

// Large pictures (the decoder takes other ways there): photograph-like noise, runs and flat
// areas of 256 colours, in rows of several widths, full tables cleared or used on, interlaced
// or not, long or short sub-blocks.
TEST(PxGifPeer, LargePicturesDecodeAsGiflibDecodesThem) {
  std::mt19937 random(41);
  const std::pair<int, int> sizes[] = {{320, 240}, {1000, 80}, {257, 300}, {400, 200}};
  for (int n = 0; n < 8; ++n) {
    const auto [w, h] = sizes[n % 4];
    Bytes pixels(static_cast<std::size_t>(w) * h);
    std::uint8_t run = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      const int x = static_cast<int>(i % static_cast<std::size_t>(w)), y = static_cast<int>(i / static_cast<std::size_t>(w));
      if (random() % 16 == 0) run = static_cast<std::uint8_t>(random() % 256);
      pixels[i] = x < w / 3 ? static_cast<std::uint8_t>((x / 2 + y) % 7 + random() % 3) : (y % 50 < 25 ? run : 200);
    }
    const bool interlaced = n % 3 == 1;
    const Bytes stream = interlaced ? InterlacedRows(pixels, w, h) : pixels;
    LzwStyle style;
    style.LeadingClear = n % 2 == 0;
    style.ClearWhenFull = n % 4 < 2;
    style.MaxBlock = n % 4 == 3 ? 7 : 255;
    const Bytes data = GifBuilder().Screen(w, h, 8).Image(0, 0, w, h, LzwEncode(8, stream, style, random), 0, interlaced).Trailer().File();
    TPxGIFImage image;
    DecodeBesideGiflib(image, data, "large " + std::to_string(n));
  }
}

TEST(PxGifPeer, FilesDecodeAsGiflibDecodesThem) {
  const auto files = Corpus();
  if (files.empty()) GTEST_SKIP() << "no GIF files";
  int compared = 0;
  for (const fs::path& file : files) {
    const Bytes data = testsupport::ReadFile(file);
    const Peer peer = GiflibDecode(data);
    if (!peer.Ok) continue;
    TPxGIFImage image;
    try {
      Load(image, data);
    } catch (const std::exception& e) {
      ADD_FAILURE() << file << ": " << e.what();
      continue;
    }
    EXPECT_EQ(image.LogicalWidth, peer.Width) << file;
    ExpectSameFrames(image, peer, file.filename().string());
    ++compared;
  }
  EXPECT_GE(compared, 10);
}

TEST(PxGifPeer, RewrittenFilesDecodeTheSame) {
  const auto files = Corpus();
  if (files.empty()) GTEST_SKIP() << "no GIF files";
  for (const fs::path& file : files) {
    const Bytes data = testsupport::ReadFile(file);
    const Peer peer = GiflibDecode(data);
    if (!peer.Ok) continue;
    TPxGIFImage image;
    Load(image, data);
    const Bytes written = Save(image);
    const Peer again = GiflibDecode(written);
    ASSERT_TRUE(again.Ok) << file;
    ASSERT_EQ(again.Frames.size(), peer.Frames.size()) << file;
    for (std::size_t i = 0; i < peer.Frames.size(); ++i) {
      EXPECT_EQ(again.Frames[i].Pixels, peer.Frames[i].Pixels) << file << " frame " << i;
      EXPECT_EQ(again.Frames[i].Left, peer.Frames[i].Left);
      EXPECT_EQ(again.Frames[i].Transparent, peer.Frames[i].Transparent) << file;
      if (peer.Frames[i].Delay >= 0) {
        EXPECT_EQ(again.Frames[i].Delay, peer.Frames[i].Delay) << file;
      }
    }
  }
}

TEST(PxGifPeer, EncodedPicturesReadByThePeers) {
  // Pictures encoded by our LZW encoder from bitmaps: 8-bit noise (the table fills and clears),
  // 4 and 1 bits, and several frames.
  std::mt19937 random(17);
  auto noise = MakeBitmap(211, 97, pf24bit, [&](int X, int Y) {
    return static_cast<TColor>(((X * 7 + Y * 13 + static_cast<int>(random() % 40)) % 256) | ((random() % 6) * 40) << 8 | ((Y * 2) & 0xFF) << 16);
  });
  noise->SetPixelFormat(pf8bit);
  auto sixteen = MakeBitmap(64, 40, pf24bit, [](int X, int Y) { return ((X / 8 + Y / 8) % 2) ? clNavy : clYellow; });
  sixteen->SetPixelFormat(pf4bit);
  auto mono = MakeBitmap(33, 9, pfDevice, [](int X, int Y) { return (X * Y) % 3 ? clWhite : clBlack; });
  mono->SetMonochrome(true);
  TPxGIFImage image;
  image.Assign(noise.get());
  image.AppendFrame(sixteen.get());
  image.AppendFrame(mono.get());
  image.FrameAt(1)->OriginX = 10;
  image.FrameAt(1)->DelayMs = 120;
  image.LoopAnimation = true;
  image.LoopCount = 3;
  const Bytes written = Save(image);
  TBitmap* sources[3] = {noise.get(), sixteen.get(), mono.get()};

  const Peer peer = GiflibDecode(written);
  ASSERT_TRUE(peer.Ok);
  ASSERT_EQ(peer.Frames.size(), 3u);
  EXPECT_EQ(peer.Frames[1].Left, 10);
  EXPECT_EQ(peer.Frames[1].Delay, 12);
  for (std::size_t i = 0; i < 3; ++i) {
    const PeerFrame& f = peer.Frames[i];
    TBitmap* s = sources[i];
    ASSERT_EQ(f.Width, s->Width());
    for (int y = 0; y < f.Height; ++y)
      for (int x = 0; x < f.Width; ++x) {
        const std::uint32_t rgb = f.Map.at(f.Pixels[static_cast<std::size_t>(y * f.Width + x)]);
        const TColor expected = s->Canvas()->Pixels(x, y);
        ASSERT_EQ(static_cast<TColor>((rgb >> 16) | (rgb & 0xFF00) | (rgb & 0xFF) << 16), expected) << i << " " << x << "," << y;
      }
  }

  testsupport::TempDir dir;
  const std::string file = (dir / "ours.gif").string();
  testsupport::WriteFile(file, written);
  if (testsupport::HaveProgram("gifsicle")) {
    std::string info;
    ASSERT_EQ(testsupport::RunCommand("gifsicle --info '" + file + "' 2>&1", &info), 0);
    EXPECT_NE(info.find("3 images"), std::string::npos) << info;
    EXPECT_NE(info.find("loop count 3"), std::string::npos) << info;
    EXPECT_EQ(info.find("rror"), std::string::npos) << info;
  }
  if (testsupport::HaveProgram("giftopnm")) {
    std::string ppm;
    ASSERT_EQ(testsupport::RunCommand("giftopnm -image=all '" + file + "' 2>&1 >/dev/null | grep -ci error", &ppm), 1);
    ASSERT_EQ(testsupport::RunCommand("giftopnm '" + file + "' | ppmtoppm | pamfile", &ppm), 0);
    EXPECT_NE(ppm.find("211 by 97"), std::string::npos) << ppm;
  }
  if (QImageReader::supportedImageFormats().contains("gif")) {
    const std::vector<QImage> frames = QtFrames(written);
    ASSERT_EQ(frames.size(), 3u);
    for (int y = 0; y < 97; y += 5)
      for (int x = 0; x < 211; x += 5) {
        const TColor c = noise->Canvas()->Pixels(x, y);
        ASSERT_EQ(frames[0].pixel(x, y) & 0xFFFFFF, static_cast<QRgb>((c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF)));
      }
  }
}

TEST(PxGifPeer, RewrittenFilesShowTheSameInQt) {
  if (!QImageReader::supportedImageFormats().contains("gif")) GTEST_SKIP() << "Qt has no GIF reader here";
  const auto files = Corpus();
  if (files.empty()) GTEST_SKIP() << "no GIF files";
  for (const fs::path& file : files) {
    const Bytes data = testsupport::ReadFile(file);
    if (!GiflibDecode(data).Ok) continue;
    TPxGIFImage image;
    Load(image, data);
    const int width = image.LogicalWidth, height = image.LogicalHeight;
    const Bytes written = Save(image);
    // The writer sizes the logical screen to the frames: pictures with frames beyond their
    // screen are shown on another canvas.
    if (image.LogicalWidth != width || image.LogicalHeight != height) continue;
    const std::vector<QImage> expected = QtFrames(data), got = QtFrames(written);
    ASSERT_EQ(got.size(), expected.size()) << file;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << file << " frame " << i;
  }
}
