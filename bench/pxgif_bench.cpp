// The second GIF graphic's codec beside giflib on the same files in the same run, and the
// picture formats' colour quantisers on a 1-megapixel picture.
//
// Decoding: TPxGIFImage reads the stream and decodes every frame into its DIB (DecodeToDib),
// against DGifSlurp. Encoding: the LZW encoder on the same index rows, against EGifSpew; the
// "bytes" counter is the size written. Throughput is MB/s of index bytes (a byte a pixel).
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "picture/PxDibConvert.h"
#include "picture/PxGIF.h"
#include "picture/PxGIFCodec.h"
#include "picture/PxGraphUtils.h"
#include "picture/PxQuantize.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Hash(std::uint32_t X) {
  X ^= X >> 16;
  X *= 0x7feb352d;
  X ^= X >> 15;
  X *= 0x846ca68b;
  X ^= X >> 16;
  return X;
}

struct Picture {
  int Width, Height;
  bool Interlaced;
  std::vector<Bytes> Frames;  // indices, top row first
};

// A dithered smooth picture over a 6 x 7 x 6 cube, or flat shapes in 16 colours.
Bytes Indices(int W, int H, bool Photo, int Seed) {
  static const int Bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Bytes out(static_cast<std::size_t>(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      std::uint8_t v;
      if (Photo) {
        const double u = static_cast<double>(x) / W, t = static_cast<double>(y) / H;
        const double noise = (Hash(static_cast<std::uint32_t>(x * 7919 + y * 104729 + Seed)) % 1000) / 1000.0;
        const double d = (Bayer[y & 3][x & 3] + 0.5) / 16.0;
        auto q = [&](double c, int levels) {
          const double s = std::fmin(std::fmax(c, 0.0), 1.0) * (levels - 1);
          int l = static_cast<int>(s);
          if (s - l > d) ++l;
          return std::min(l, levels - 1);
        };
        v = static_cast<std::uint8_t>(q(0.5 + 0.4 * std::sin(6 * u + Seed) * std::cos(4 * t) + 0.08 * noise, 6) * 42 +
                                      q(0.5 + 0.4 * std::sin(3 * t + 2 * u) + 0.08 * noise, 7) * 6 +
                                      q(0.5 + 0.4 * std::cos(5 * (u + t)) + 0.08 * noise, 6));
      } else {
        v = static_cast<std::uint8_t>(((x / 37 + Seed) % 3 == 0 ? 1 : 0) + ((y / 23) % 4) * 2 + ((x - y + Seed) % 97 == 0 ? 9 : 0));
      }
      out[static_cast<std::size_t>(y) * W + x] = v;
    }
  return out;
}

std::map<std::string, Picture>& Pictures() {
  static std::map<std::string, Picture> pictures = [] {
    std::map<std::string, Picture> p;
    p["photo_100k"] = {365, 274, false, {Indices(365, 274, true, 1)}};
    p["photo_1000k"] = {1155, 866, false, {Indices(1155, 866, true, 2)}};
    p["flat_1000k"] = {1155, 866, false, {Indices(1155, 866, false, 3)}};
    p["photo_interlaced_1000k"] = {1155, 866, true, {Indices(1155, 866, true, 4)}};
    Picture anim{200, 150, false, {}};
    for (int i = 0; i < 24; ++i) anim.Frames.push_back(Indices(200, 150, i % 2 == 0, i));
    p["animation_24"] = anim;
    return p;
  }();
  return pictures;
}

int WriteMemory(GifFileType* G, const GifByteType* Data, int N) {
  auto* out = static_cast<Bytes*>(G->UserData);
  out->insert(out->end(), Data, Data + N);
  return N;
}

// The picture as a GIF file written by giflib.
Bytes GiflibEncode(const Picture& P) {
  Bytes out;
  int error = 0;
  GifFileType* g = EGifOpen(&out, WriteMemory, &error);
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i)
    colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 7)};
  g->SWidth = P.Width;
  g->SHeight = P.Height;
  g->SColorResolution = 8;
  g->SColorMap = GifMakeMapObject(256, colors);
  for (const Bytes& frame : P.Frames) {
    SavedImage image{};
    image.ImageDesc.Width = P.Width;
    image.ImageDesc.Height = P.Height;
    image.ImageDesc.Interlace = P.Interlaced;
    image.RasterBits = static_cast<GifByteType*>(malloc(frame.size()));
    std::memcpy(image.RasterBits, frame.data(), frame.size());
    GifMakeSavedImage(g, &image);
    free(image.RasterBits);
  }
  EGifSpew(g);
  return out;
}

const Bytes& FileOf(const std::string& Name) {
  static std::map<std::string, Bytes> files;
  auto it = files.find(Name);
  if (it == files.end()) it = files.emplace(Name, GiflibEncode(Pictures().at(Name))).first;
  return it->second;
}

struct MemoryIn {
  const Bytes* Data;
  std::size_t At;
};

int ReadMemory(GifFileType* G, GifByteType* Out, int N) {
  auto* m = static_cast<MemoryIn*>(G->UserData);
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(N), m->Data->size() - m->At);
  std::memcpy(Out, m->Data->data() + m->At, n);
  m->At += n;
  return static_cast<int>(n);
}

std::int64_t PixelsOf(const Picture& P) { return static_cast<std::int64_t>(P.Width) * P.Height * static_cast<std::int64_t>(P.Frames.size()); }

void DecodeOurs(benchmark::State& State, const std::string& Name) {
  const Bytes& file = FileOf(Name);
  for (auto _ : State) {
    TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
    s.SetPosition(0);
    px::TPxGIFImage image;
    image.DecodeStream(s.Size(), &s, false);
    for (int f = 0; f < image.FrameCount(); ++f) {
      TMemoryStream dib;
      image.FrameAt(f)->DecodeToDib(&dib);
      benchmark::DoNotOptimize(dib.Memory());
    }
  }
  State.SetBytesProcessed(State.iterations() * PixelsOf(Pictures().at(Name)));
}

void DecodeGiflib(benchmark::State& State, const std::string& Name) {
  const Bytes& file = FileOf(Name);
  for (auto _ : State) {
    MemoryIn m{&file, 0};
    int error = 0;
    GifFileType* g = DGifOpen(&m, ReadMemory, &error);
    if (DGifSlurp(g) != GIF_OK) State.SkipWithError("giflib failed");
    benchmark::DoNotOptimize(g->SavedImages);
    DGifCloseFile(g, &error);
  }
  State.SetBytesProcessed(State.iterations() * PixelsOf(Pictures().at(Name)));
}

void EncodeOurs(benchmark::State& State, const std::string& Name) {
  const Picture& p = Pictures().at(Name);
  // The frames as bottom-up 8-bit rows, as the encoder takes them.
  const std::int64_t stride = px::DibScanlineBytes(8 * p.Width);
  std::vector<Bytes> rows;
  for (const Bytes& frame : p.Frames) {
    Bytes r(static_cast<std::size_t>(stride * p.Height), 0);
    for (int y = 0; y < p.Height; ++y)
      std::memcpy(&r[static_cast<std::size_t>((p.Height - 1 - y) * stride)], &frame[static_cast<std::size_t>(y) * p.Width], static_cast<std::size_t>(p.Width));
    rows.push_back(std::move(r));
  }
  BITMAPINFOHEADER info{};
  info.biSize = 40;
  info.biWidth = p.Width;
  info.biHeight = p.Height;
  info.biBitCount = 8;
  std::int64_t bytes = 0;
  for (auto _ : State) {
    bytes = 0;
    for (const Bytes& r : rows) {
      TMemoryStream out;
      px::PxLzwEncode(&out, info, p.Interlaced, nullptr, r.data());
      bytes += out.Size();
    }
  }
  State.SetBytesProcessed(State.iterations() * PixelsOf(p));
  State.counters["bytes"] = static_cast<double>(bytes);
}

void EncodeGiflib(benchmark::State& State, const std::string& Name) {
  const Picture& p = Pictures().at(Name);
  std::int64_t bytes = 0;
  for (auto _ : State) bytes = static_cast<std::int64_t>(GiflibEncode(p).size());
  State.SetBytesProcessed(State.iterations() * PixelsOf(p));
  State.counters["bytes"] = static_cast<double>(bytes);
}

// A 1-megapixel 24-bit DIB with many colours.
struct TrueColor {
  BITMAPINFOHEADER Header{};
  Bytes Rows;
  TrueColor() {
    const int w = 1155, h = 866;
    Header.biSize = 40;
    Header.biWidth = w;
    Header.biHeight = h;
    Header.biBitCount = 24;
    const std::int64_t stride = px::DibScanlineBytes(24 * w);
    Rows.assign(static_cast<std::size_t>(stride * h), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint8_t* p = &Rows[static_cast<std::size_t>(y * stride + 3 * x)];
        const std::uint32_t n = Hash(static_cast<std::uint32_t>(x * 31 + y * 17)) % 24;
        p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x / 90.0) + n);
        p[1] = static_cast<std::uint8_t>(y * 255 / h);
        p[2] = static_cast<std::uint8_t>(x * 255 / w ^ (y & 16));
      }
  }
};

const TrueColor& Picture1M() {
  static const TrueColor picture;
  return picture;
}

template <class F>
void Quantise(benchmark::State& State, F Run) {
  const TrueColor& source = Picture1M();
  Bytes work;
  RGBQUAD table[256];
  for (auto _ : State) {
    State.PauseTiming();
    work = source.Rows;
    State.ResumeTiming();
    Run(source.Header, work.data(), table);
    benchmark::DoNotOptimize(work.data());
  }
  State.SetItemsProcessed(State.iterations() * source.Header.biWidth * source.Header.biHeight);
}

}  // namespace

int main(int argc, char** argv) {
  for (const auto& [name, picture] : Pictures()) {
    benchmark::RegisterBenchmark(("decode/ours/" + name).c_str(), DecodeOurs, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("decode/giflib/" + name).c_str(), DecodeGiflib, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("encode/ours/" + name).c_str(), EncodeOurs, name)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("encode/giflib/" + name).c_str(), EncodeGiflib, name)->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("quantise/histogram_1M", [](benchmark::State& S) {
    Quantise(S, [](const BITMAPINFOHEADER& H, std::uint8_t* R, RGBQUAD* T) { px::ReduceByHistogram(H, T, R, 0xFF, 0xFF, 0xFF, 256, R); });
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("quantise/box_split_1M", [](benchmark::State& S) {
    Quantise(S, [](const BITMAPINFOHEADER& H, std::uint8_t* R, RGBQUAD* T) {
      int colours = 256;
      px::QuantizeByBoxSplit(H, R, R, T, colours);
    });
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("quantise/truncate666_1M", [](benchmark::State& S) {
    Quantise(S, [](const BITMAPINFOHEADER& H, std::uint8_t* R, RGBQUAD* T) { px::Truncate666(H, R, T); });
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("quantise/gray_1M", [](benchmark::State& S) {
    Quantise(S, [](const BITMAPINFOHEADER& H, std::uint8_t* R, RGBQUAD* T) { px::ConvertToGray(H, R, T); });
  })->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
