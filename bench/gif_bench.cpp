// GIF decoding and encoding of the library beside giflib (DGifSlurp / EGifSpew) on the same
// files in the same run. Throughput is MB/s of index bytes (one byte a pixel) decoded or
// encoded; the encoders also report the size of what they wrote ("bytes" counter). After the
// run a table gives, per file, both times and giflib's time divided by ours.
//
// Files: the bench corpus (ImageMagick's pictures, BenchCorpus.h) and files made here, encoded
// once by giflib: photographic (dithered gradients and noise) and flat graphics (shapes in few
// colours) at about 10 k, 100 k, 1000 k and 4000 k pixels, one interlaced photograph and one
// animation of 24 frames. Each interlaced corpus file comes a second time with its interlace flag
// cleared ("flag off"): the same codes, written row after row, so that the two times show what
// interlacing itself costs.
//
// Times are the thread's CPU time, so that a busy machine does not count the time the thread
// waits for a processor; a load includes freeing the picture again. For figures to compare: pin to one core and repeat, e.g.
//   taskset -c 3 bench_gif --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
// once as the program runs and once with freed memory kept by the allocator
// (GLIBC_TUNABLES=glibc.malloc.trim_threshold=1073741824:glibc.malloc.mmap_threshold=33554432;
// every name needs its prefix and numbers take no suffix; a short form such as
// "trim_threshold=1G:mmap_threshold=32M" leaves large blocks mapped afresh at every load).
#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchCorpus.h"
#include "RatioTable.h"
#include "gif/GIFImage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
  int Width, Height;
  bool Interlaced;
  std::vector<Bytes> Frames;  // full-screen frames
  std::vector<std::uint8_t> Palette;  // 256 r, g, b
};

std::uint32_t Hash(std::uint32_t X) {
  X ^= X >> 16;
  X *= 0x7feb352d;
  X ^= X >> 15;
  X *= 0x846ca68b;
  X ^= X >> 16;
  return X;
}

// A 6x7x6 colour cube (252 entries) padded to 256.
std::vector<std::uint8_t> CubePalette() {
  std::vector<std::uint8_t> P;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 7; ++g)
      for (int b = 0; b < 6; ++b) {
        P.push_back(static_cast<std::uint8_t>(r * 51));
        P.push_back(static_cast<std::uint8_t>(g * 42));
        P.push_back(static_cast<std::uint8_t>(b * 51));
      }
  P.resize(256 * 3, 0);
  return P;
}

// A smooth "photograph" with texture, ordered-dithered onto the colour cube.
Bytes Photo(int W, int H, int Seed) {
  static const int Bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Bytes Out(static_cast<std::size_t>(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double U = static_cast<double>(x) / W, V = static_cast<double>(y) / H;
      const double Noise = static_cast<double>(Hash(static_cast<std::uint32_t>(x * 7919 + y * 104729 + Seed)) % 1000) / 1000.0;
      double R = 0.5 + 0.4 * std::sin(6.0 * U + Seed) * std::cos(4.0 * V) + 0.08 * Noise;
      double G = 0.5 + 0.4 * std::sin(3.0 * V + 2.0 * U) + 0.08 * Noise;
      double B = 0.5 + 0.4 * std::cos(5.0 * (U + V)) + 0.08 * Noise;
      const double D = (Bayer[y & 3][x & 3] + 0.5) / 16.0;
      auto Q = [&](double C, int Levels) {
        const double S = std::clamp(C, 0.0, 1.0) * (Levels - 1);
        int L = static_cast<int>(S);
        if (S - L > D) ++L;
        return std::min(L, Levels - 1);
      };
      Out[static_cast<std::size_t>(y) * W + x] = static_cast<std::uint8_t>(Q(R, 6) * 42 + Q(G, 7) * 6 + Q(B, 6));
    }
  return Out;
}

// Flat graphics: a background, rectangles, discs and thin lines in 16 colours.
Bytes Flat(int W, int H, int Seed) {
  Bytes Out(static_cast<std::size_t>(W) * H, 0);
  std::uint32_t S = static_cast<std::uint32_t>(Seed) * 2654435761u + 7;
  auto Rand = [&](int N) {
    S = Hash(S + 0x9e3779b9u);
    return static_cast<int>(S % static_cast<std::uint32_t>(std::max(N, 1)));
  };
  for (int k = 0; k < 60; ++k) {
    const int Kind = Rand(3), C = 1 + Rand(15);
    const int X0 = Rand(W), Y0 = Rand(H), RW = 1 + Rand(W / 4 + 1), RH = 1 + Rand(H / 4 + 1);
    for (int y = std::max(0, Y0 - RH); y < std::min(H, Y0 + RH); ++y)
      for (int x = std::max(0, X0 - RW); x < std::min(W, X0 + RW); ++x) {
        const double dx = static_cast<double>(x - X0) / RW, dy = static_cast<double>(y - Y0) / RH;
        if (Kind == 0 || (Kind == 1 && dx * dx + dy * dy <= 1.0) || (Kind == 2 && (y - Y0) % 9 == 0))
          Out[static_cast<std::size_t>(y) * W + x] = static_cast<std::uint8_t>(C);
      }
  }
  return Out;
}

int WriteMem(GifFileType* G, const GifByteType* Buf, int N) {
  auto* Out = static_cast<Bytes*>(G->UserData);
  Out->insert(Out->end(), Buf, Buf + N);
  return N;
}

// giflib's encoding of a picture (the frames, one global table, a looping block when animated).
Bytes PeerEncode(const Picture& P) {
  Bytes Out;
  int Err = 0;
  GifFileType* E = EGifOpen(&Out, WriteMem, &Err);
  E->SWidth = P.Width;
  E->SHeight = P.Height;
  E->SColorResolution = 8;
  E->SBackGroundColor = 0;
  std::vector<GifColorType> Colors(256);
  for (int i = 0; i < 256; ++i) Colors[i] = {P.Palette[i * 3], P.Palette[i * 3 + 1], P.Palette[i * 3 + 2]};
  E->SColorMap = GifMakeMapObject(256, Colors.data());
  for (std::size_t f = 0; f < P.Frames.size(); ++f) {
    SavedImage* S = GifMakeSavedImage(E, nullptr);
    S->ImageDesc = {0, 0, P.Width, P.Height, P.Interlaced, nullptr};
    S->RasterBits = static_cast<GifByteType*>(malloc(P.Frames[f].size()));
    std::memcpy(S->RasterBits, P.Frames[f].data(), P.Frames[f].size());
    if (P.Frames.size() > 1) {
      if (f == 0) {
        GifAddExtensionBlock(&S->ExtensionBlockCount, &S->ExtensionBlocks, APPLICATION_EXT_FUNC_CODE, 11,
                             reinterpret_cast<GifByteType*>(const_cast<char*>("NETSCAPE2.0")));
        GifByteType Loop[3] = {1, 0, 0};
        GifAddExtensionBlock(&S->ExtensionBlockCount, &S->ExtensionBlocks, CONTINUE_EXT_FUNC_CODE, 3, Loop);
      }
      GraphicsControlBlock Gcb{DISPOSE_DO_NOT, false, 4, NO_TRANSPARENT_COLOR};
      EGifGCBToSavedExtension(&Gcb, E, static_cast<int>(f));
    }
  }
  EGifSpew(E);
  return Out;
}

// The same file with the interlace flag of every frame cleared: the same codes decoded into rows
// in stream order, to set beside the interlaced decode. Empty when the file has no interlaced
// frame (or its blocks cannot be walked).
Bytes WithoutInterlace(Bytes F) {
  auto SkipSubBlocks = [&](std::size_t& At) {
    while (At < F.size() && F[At] != 0) At += F[At] + 1u;
    ++At;
  };
  if (F.size() < 13) return {};
  std::size_t At = 13 + ((F[10] & 0x80) ? 3u << ((F[10] & 7) + 1) : 0u);
  bool Any = false;
  while (At < F.size() && F[At] != 0x3B) {
    if (F[At] == 0x21) {
      At += 2;
      SkipSubBlocks(At);
    } else if (F[At] == 0x2C && At + 10 < F.size()) {
      std::uint8_t& Flags = F[At + 9];
      Any |= (Flags & 0x40) != 0;
      Flags &= 0xBF;
      At += 10 + ((Flags & 0x80) ? 3u << ((Flags & 7) + 1) : 0u) + 1;  // descriptor, table, code size
      SkipSubBlocks(At);
    } else {
      return {};
    }
  }
  return Any ? F : Bytes{};
}

struct Case {
  std::string Name;
  Bytes File;            // the input of both decoders
  std::int64_t Pixels;   // index bytes in all frames
};

std::vector<Case>& Cases() {
  static std::vector<Case> All = [] {
    std::vector<Case> V;
    for (const benchcorpus::File& F : benchcorpus::GifCorpus()) {
      V.push_back({F.Name, F.Data, F.Pixels});
      if (Bytes Plain = WithoutInterlace(F.Data); !Plain.empty()) V.push_back({F.Name + " (flag off)", std::move(Plain), F.Pixels});
    }
    const auto Palette = CubePalette();
    auto Add = [&](std::string Name, int W, int H, bool Interlaced, int Frames, bool IsPhoto) {
      Picture P{W, H, Interlaced, {}, Palette};
      for (int f = 0; f < Frames; ++f) P.Frames.push_back(IsPhoto ? Photo(W, H, f) : Flat(W, H, f));
      V.push_back({std::move(Name), PeerEncode(P), static_cast<std::int64_t>(W) * H * Frames});
    };
    Add("photo_10k", 100, 100, false, 1, true);
    Add("photo_100k", 316, 316, false, 1, true);
    Add("photo_1000k", 1000, 1000, false, 1, true);
    Add("photo_4000k", 2000, 2000, false, 1, true);
    Add("flat_10k", 100, 100, false, 1, false);
    Add("flat_100k", 316, 316, false, 1, false);
    Add("flat_1000k", 1000, 1000, false, 1, false);
    Add("flat_4000k", 2000, 2000, false, 1, false);
    Add("photo_1000k_interlaced", 1000, 1000, true, 1, true);
    Add("anim_24x90k", 300, 300, false, 24, false);
    return V;
  }();
  return All;
}

// Small files are loaded and written a batch at a time between two readings of the clock (which
// costs about a microsecond); the table divides by the batch.
constexpr std::int64_t kBatchPixels = 250000;

int BatchOf(const Case& C) { return static_cast<int>(std::max<std::int64_t>(1, kBatchPixels / std::max<std::int64_t>(C.Pixels, 1))); }

void SetCounters(benchmark::State& State, const Case& C, int Batch) {
  State.SetBytesProcessed(State.iterations() * Batch * C.Pixels);
  State.counters["batch"] = Batch;
}

// A load as the program makes one: a new image read from the stream, and freed.
void DecodeOurs(benchmark::State& State, int Index) {
  const Case& C = Cases()[static_cast<std::size_t>(Index)];
  const int Batch = BatchOf(C);
  TMemoryStream In;
  In.Write(C.File.data(), static_cast<std::int64_t>(C.File.size()));
  for (auto _ : State) {
    const double T0 = benchsupport::ThreadSeconds();
    for (int b = 0; b < Batch; ++b) {
      In.SetPosition(0);
      gif::TGIFImage Image;
      Image.LoadFromStream(&In);
      benchmark::DoNotOptimize(Image.Images().FrameAt(0)->Data());
    }
    State.SetIterationTime(benchsupport::ThreadSeconds() - T0);
  }
  SetCounters(State, C, Batch);
}

void DecodeGiflib(benchmark::State& State, int Index) {
  const Case& C = Cases()[static_cast<std::size_t>(Index)];
  const int Batch = BatchOf(C);
  for (auto _ : State) {
    const double T0 = benchsupport::ThreadSeconds();
    for (int b = 0; b < Batch; ++b) {
      GifFileType* G = benchcorpus::GiflibSlurp(C.File);
      if (!G) State.SkipWithError("giflib failed");
      benchmark::DoNotOptimize(G);
      benchcorpus::CloseGiflib(G);
    }
    State.SetIterationTime(benchsupport::ThreadSeconds() - T0);
  }
  SetCounters(State, C, Batch);
}

void EncodeOurs(benchmark::State& State, int Index) {
  const Case& C = Cases()[static_cast<std::size_t>(Index)];
  const int Batch = BatchOf(C);
  gif::TGIFImage Image;
  TMemoryStream In;
  In.Write(C.File.data(), static_cast<std::int64_t>(C.File.size()));
  In.SetPosition(0);
  Image.LoadFromStream(&In);
  std::int64_t Size = 0;
  for (auto _ : State) {
    std::vector<TMemoryStream> Out(static_cast<std::size_t>(Batch));
    const double T0 = benchsupport::ThreadSeconds();
    for (TMemoryStream& O : Out) Image.SaveToStream(&O);
    State.SetIterationTime(benchsupport::ThreadSeconds() - T0);
    Size = Out.back().Size();
  }
  SetCounters(State, C, Batch);
  State.counters["bytes"] = static_cast<double>(Size);
}

void EncodeGiflib(benchmark::State& State, int Index) {
  const Case& C = Cases()[static_cast<std::size_t>(Index)];
  const int Batch = BatchOf(C);
  GifFileType* Source = benchcorpus::GiflibSlurp(C.File);
  std::int64_t Size = 0;
  std::vector<benchcorpus::GiflibWriter> Writers(static_cast<std::size_t>(Batch));
  for (auto _ : State) {
    // The picture is handed over as giflib wants it (raster copies) outside the timing.
    for (benchcorpus::GiflibWriter& W : Writers) {
      benchcorpus::PrepareGiflibWriter(W, Source);
      W.Out.reserve(C.File.size() * 2);
    }
    const double T0 = benchsupport::ThreadSeconds();
    for (benchcorpus::GiflibWriter& W : Writers) benchcorpus::SpewGiflibWriter(W);
    State.SetIterationTime(benchsupport::ThreadSeconds() - T0);
    Size = static_cast<std::int64_t>(Writers.back().Out.size());
  }
  benchcorpus::CloseGiflib(Source);
  SetCounters(State, C, Batch);
  State.counters["bytes"] = static_cast<double>(Size);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (std::size_t i = 0; i < Cases().size(); ++i) {
    const std::string N = Cases()[i].Name;
    const int I = static_cast<int>(i);
    using benchsupport::WithMinimum;
    WithMinimum(benchmark::RegisterBenchmark(("decode/ours/" + N).c_str(), DecodeOurs, I))->UseManualTime();
    WithMinimum(benchmark::RegisterBenchmark(("decode/giflib/" + N).c_str(), DecodeGiflib, I))->UseManualTime();
    WithMinimum(benchmark::RegisterBenchmark(("encode/ours/" + N).c_str(), EncodeOurs, I))->UseManualTime();
    WithMinimum(benchmark::RegisterBenchmark(("encode/giflib/" + N).c_str(), EncodeGiflib, I))->UseManualTime();
  }
  return benchsupport::RunWithRatioTable("ours", "giflib");
}
