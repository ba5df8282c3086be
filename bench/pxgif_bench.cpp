// The second GIF graphic's codec beside giflib on the same files in the same run, and the
// picture formats' colour quantisers on a 1-megapixel picture.
//
// Files: the bench corpus (ImageMagick's pictures, BenchCorpus.h), one case a file; synthetic
// pictures written by giflib, the 2560 generated pictures of the differential tests (one case)
// and the public GIF test suite (one case, when present). Decoding: TPxGIFImage reads each
// stream and decodes every frame into its DIB (DecodeToDib), against DGifSlurp from memory.
// Encoding: the LZW encoder on the same frames' index rows (at the depth the graphic gives
// their table), against EGifSpew of the same frames; the "bytes" counter is the size written.
// Throughput is MB/s of pixels (a byte a pixel); sets of fewer than a megapixel are decoded
// several times an iteration. After the run a table gives, per case, both times and giflib's
// time divided by ours.
//
// Times are the thread's CPU time, so that a busy machine does not count the time the thread
// waits for a processor. For figures to compare: pin to one core and repeat, e.g.
//   taskset -c 3 bench_pxgif --benchmark_filter=code/ --benchmark_repetitions=7
// once as the program runs and once with freed memory kept by the allocator
// (GLIBC_TUNABLES=glibc.malloc.trim_threshold=1073741824:glibc.malloc.mmap_threshold=33554432;
// every name needs its prefix and numbers take no suffix; a short form such as
// "trim_threshold=1G:mmap_threshold=32M" leaves large blocks mapped afresh at every load).
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchCorpus.h"
#include "RatioTable.h"
#include "picture/PxDibConvert.h"
#include "picture/PxGIF.h"
#include "picture/PxGIFCodec.h"
#include "picture/PxGraphUtils.h"
#include "picture/PxQuantize.h"
#include "tests/picture/PxGifTestSupport.h"

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

// One frame as both encoders take it: its indices (top row first), interlacing and the bits
// of its colour table.
struct Frame {
  int Width, Height;
  bool Interlaced;
  int TableBits;
  Bytes Indices;
};

// Files decoded side by side, and their frames encoded side by side.
struct Set {
  std::vector<Bytes> Files;
  std::vector<std::vector<Frame>> Frames;  // per file
  std::int64_t Pixels{0};
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

int WriteMemory(GifFileType* G, const GifByteType* Data, int N) {
  auto* out = static_cast<Bytes*>(G->UserData);
  out->insert(out->end(), Data, Data + N);
  return N;
}

// The frames as a GIF file written by giflib, each with a colour table of its own bits.
Bytes GiflibEncode(const std::vector<Frame>& Frames) {
  Bytes out;
  int error = 0;
  GifFileType* g = EGifOpen(&out, WriteMemory, &error);
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i)
    colors[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 7)};
  g->SWidth = 1;
  g->SHeight = 1;
  g->SColorResolution = 8;
  for (const Frame& frame : Frames) {
    g->SWidth = std::max(g->SWidth, frame.Width);
    g->SHeight = std::max(g->SHeight, frame.Height);
    SavedImage image{};
    image.ImageDesc.Width = frame.Width;
    image.ImageDesc.Height = frame.Height;
    image.ImageDesc.Interlace = frame.Interlaced;
    image.ImageDesc.ColorMap = GifMakeMapObject(1 << frame.TableBits, colors);
    image.RasterBits = static_cast<GifByteType*>(malloc(frame.Indices.size()));
    std::memcpy(image.RasterBits, frame.Indices.data(), frame.Indices.size());
    GifMakeSavedImage(g, &image);
    GifFreeMapObject(image.ImageDesc.ColorMap);
    free(image.RasterBits);
  }
  EGifSpew(g);
  return out;
}

// The frames of a file as giflib decodes them; none when it cannot.
std::vector<Frame> GiflibFrames(const Bytes& File) {
  std::vector<Frame> frames;
  GifFileType* g = benchcorpus::GiflibSlurp(File);
  if (!g) return frames;
  for (int i = 0; i < g->ImageCount; ++i) {
    const SavedImage& s = g->SavedImages[i];
    const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : g->SColorMap;
    const int bits = map ? map->BitsPerPixel : 8;
    Frame f{s.ImageDesc.Width, s.ImageDesc.Height, s.ImageDesc.Interlace, bits, {}};
    f.Indices.assign(s.RasterBits, s.RasterBits + static_cast<std::ptrdiff_t>(f.Width) * f.Height);
    for (auto& v : f.Indices) v = static_cast<std::uint8_t>(v & ((1 << bits) - 1));
    frames.push_back(std::move(f));
  }
  benchcorpus::CloseGiflib(g);
  return frames;
}

void Add(Set& S, Bytes File, std::vector<Frame> Frames) {
  for (const Frame& f : Frames) S.Pixels += static_cast<std::int64_t>(f.Width) * f.Height;
  S.Files.push_back(std::move(File));
  S.Frames.push_back(std::move(Frames));
}

using NamedSet = std::pair<std::string, Set>;

// The corpus files, synthetic pictures written by giflib, the generated pictures of the
// differential tests and the public GIF test suite (when present).
std::vector<NamedSet>& Sets() {
  static std::vector<NamedSet> sets = [] {
    std::vector<NamedSet> s;
    auto named = [&](const std::string& Name) -> Set& { return s.emplace_back(Name, Set{}).second; };
    for (const benchcorpus::File& file : benchcorpus::GifCorpus()) Add(named(file.Name), file.Data, GiflibFrames(file.Data));
    auto picture = [&](const std::string& Name, int W, int H, bool Interlaced, std::vector<Bytes> Frames) {
      std::vector<Frame> frames;
      for (Bytes& f : Frames) frames.push_back(Frame{W, H, Interlaced, 8, std::move(f)});
      Add(named(Name), GiflibEncode(frames), frames);
    };
    picture("photo_100k", 365, 274, false, {Indices(365, 274, true, 1)});
    picture("photo_1000k", 1155, 866, false, {Indices(1155, 866, true, 2)});
    picture("flat_1000k", 1155, 866, false, {Indices(1155, 866, false, 3)});
    picture("photo_interlaced_1000k", 1155, 866, true, {Indices(1155, 866, true, 4)});
    std::vector<Bytes> anim;
    for (int i = 0; i < 24; ++i) anim.push_back(Indices(200, 150, i % 2 == 0, i));
    picture("animation_24", 200, 150, false, std::move(anim));
    Set& generated = named("generated_2560");
    for (int n = 0; n < pxtest::kGeneratedGifs; ++n) {
      Bytes file = pxtest::GeneratedGif(n);
      std::vector<Frame> frames = GiflibFrames(file);
      Add(generated, std::move(file), std::move(frames));
    }
    const char* env = std::getenv("KELV_TESTDATA");
    const std::filesystem::path suite = std::filesystem::path(env && *env ? env : KELV_TESTDATA_DIR) / "gif-test-suite/gifs";
    std::error_code ec;
    std::vector<std::filesystem::path> names;
    for (const auto& e : std::filesystem::directory_iterator(suite, ec))
      if (e.path().extension() == ".gif") names.push_back(e.path());
    std::sort(names.begin(), names.end());
    Set& suiteSet = named("gif_test_suite");
    for (const auto& name : names) {
      std::ifstream in(name, std::ios::binary);
      Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::vector<Frame> frames = GiflibFrames(file);
      if (!frames.empty()) Add(suiteSet, std::move(file), std::move(frames));
    }
    if (suiteSet.Files.empty()) s.pop_back();
    return s;
  }();
  return sets;
}

const Set& SetAt(int Index) { return Sets()[static_cast<std::size_t>(Index)].second; }

// Small sets are decoded several times an iteration (about a megapixel), so that reading the
// clock does not weigh on their times.
int RoundsOf(const Set& S) { return static_cast<int>(std::max<std::int64_t>(1, (std::int64_t{1} << 20) / std::max<std::int64_t>(S.Pixels, 1))); }

// Manual timing with the thread's CPU clock.
struct Clock {
  static double Now() { return benchsupport::ThreadSeconds(); }
};

void DecodeOurs(benchmark::State& State, int Index) {
  const Set& set = SetAt(Index);
  std::vector<std::unique_ptr<TMemoryStream>> streams;
  for (const Bytes& file : set.Files) {
    streams.push_back(std::make_unique<TMemoryStream>());
    streams.back()->WriteBuffer(file.data(), static_cast<std::int64_t>(file.size()));
  }
  const int rounds = RoundsOf(set);
  for (auto _ : State) {
    const double start = Clock::Now();
    for (int r = 0; r < rounds; ++r)
      for (const auto& s : streams) {
        s->SetPosition(0);
        px::TPxGIFImage image;
        image.DecodeStream(s->Size(), s.get(), false);
        for (int f = 0; f < image.FrameCount(); ++f) {
          TMemoryStream dib;
          image.FrameAt(f)->DecodeToDib(&dib);
          benchmark::DoNotOptimize(dib.Memory());
        }
      }
    State.SetIterationTime(Clock::Now() - start);
  }
  State.SetBytesProcessed(State.iterations() * rounds * set.Pixels);
}

void DecodeGiflib(benchmark::State& State, int Index) {
  const Set& set = SetAt(Index);
  const int rounds = RoundsOf(set);
  for (auto _ : State) {
    const double start = Clock::Now();
    for (int r = 0; r < rounds; ++r)
      for (const Bytes& file : set.Files) {
        GifFileType* g = benchcorpus::GiflibSlurp(file);
        if (!g) State.SkipWithError("giflib failed");
        benchmark::DoNotOptimize(g);
        benchcorpus::CloseGiflib(g);
      }
    State.SetIterationTime(Clock::Now() - start);
  }
  State.SetBytesProcessed(State.iterations() * rounds * set.Pixels);
}

// A frame as the rows our encoder takes: bottom-up, at the depth the graphic gives its table
// (1 bit for 2 colours, 4 for up to 16, else 8).
struct Rows {
  BITMAPINFOHEADER Info{};
  Bytes Data;
  bool Interlaced;
};

Rows RowsOf(const Frame& F) {
  Rows r;
  const int bits = F.TableBits == 1 ? 1 : (F.TableBits <= 4 ? 4 : 8);
  r.Info.biSize = 40;
  r.Info.biWidth = F.Width;
  r.Info.biHeight = F.Height;
  r.Info.biBitCount = static_cast<WORD>(bits);
  r.Interlaced = F.Interlaced;
  const std::int64_t stride = px::DibScanlineBytes(static_cast<std::int64_t>(bits) * F.Width);
  r.Data.assign(static_cast<std::size_t>(stride * F.Height), 0);
  for (int y = 0; y < F.Height; ++y) {
    std::uint8_t* row = &r.Data[static_cast<std::size_t>((F.Height - 1 - y) * stride)];
    for (int x = 0; x < F.Width; ++x) {
      const std::uint8_t v = F.Indices[static_cast<std::size_t>(y) * F.Width + x];
      if (bits == 8) row[x] = v;
      if (bits == 4) row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 ? v : v << 4));
      if (bits == 1) row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | v << (7 - x % 8));
    }
  }
  return r;
}

void EncodeOurs(benchmark::State& State, int Index) {
  const Set& set = SetAt(Index);
  std::vector<Rows> rows;
  for (const auto& frames : set.Frames)
    for (const Frame& f : frames) rows.push_back(RowsOf(f));
  std::int64_t bytes = 0;
  for (auto _ : State) {
    const double start = Clock::Now();
    bytes = 0;
    for (const Rows& r : rows) {
      TMemoryStream out;
      px::PxLzwEncode(&out, r.Info, r.Interlaced, nullptr, r.Data.data());
      bytes += out.Size();
    }
    State.SetIterationTime(Clock::Now() - start);
  }
  State.SetBytesProcessed(State.iterations() * set.Pixels);
  State.counters["bytes"] = static_cast<double>(bytes);
}

void EncodeGiflib(benchmark::State& State, int Index) {
  const Set& set = SetAt(Index);
  std::int64_t bytes = 0;
  for (auto _ : State) {
    const double start = Clock::Now();
    bytes = 0;
    for (const auto& frames : set.Frames) bytes += static_cast<std::int64_t>(GiflibEncode(frames).size());
    State.SetIterationTime(Clock::Now() - start);
  }
  State.SetBytesProcessed(State.iterations() * set.Pixels);
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
  benchmark::Initialize(&argc, argv);
  for (std::size_t i = 0; i < Sets().size(); ++i) {
    const std::string& name = Sets()[i].first;
    const int index = static_cast<int>(i);
    using Run = void (*)(benchmark::State&, int);
    const std::pair<std::string, Run> runs[] = {
        {"decode/ours/", DecodeOurs}, {"decode/giflib/", DecodeGiflib}, {"encode/ours/", EncodeOurs}, {"encode/giflib/", EncodeGiflib}};
    for (const auto& [operation, run] : runs)
      benchmark::RegisterBenchmark((operation + name).c_str(), run, index)->UseManualTime()->Unit(benchmark::kMillisecond);
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
  return benchsupport::RunWithRatioTable("ours", "giflib");
}
