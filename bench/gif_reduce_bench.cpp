// Colour reduction of photographs beside ImageMagick, in the same run.
//
// Three photographs of the desktop backgrounds package (mate-backgrounds), scaled to 1250 x 800
// (one megapixel) by ImageMagick, are reduced to 256 colours by an adaptive palette: ours by the
// octree palette without dithering and with Floyd-Steinberg (ReduceBitmapColors, palette made
// from the picture each time), ImageMagick's "convert -limit thread 1 -colors 256" with
// "+dither" and "-dither FloydSteinberg". Both report the error against the photograph (RMSE
// over all channels, in levels 0..255). ImageMagick runs as a command: its time is the CPU time
// of the child process (user + system) less that of the same command without "-colors", which
// only reads and writes the picture; its wall time is in the counter "wall_ms".
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ChildTools.h"
#include "gif/GIFImage.h"

namespace {

namespace fs = std::filesystem;

const char* const kPhotos[] = {"GreenMeadow", "Storm", "LadyBird"};
constexpr int kWidth = 1250, kHeight = 800;

fs::path WorkDir() {
  static benchtools::ScratchFolder Folder("kelv_gif_reduce_bench");
  return Folder.Path();
}

bool HaveImageMagick() { return std::system("command -v convert-im6.q16 > /dev/null 2>&1") == 0; }

// The photograph as a binary PPM of kWidth x kHeight; empty when it cannot be made.
fs::path PhotoFile(const std::string& Name) {
  const fs::path Source = fs::path("/usr/share/backgrounds/mate/nature") / (Name + ".jpg");
  const fs::path Out = WorkDir() / (Name + ".ppm");
  if (fs::exists(Out)) return Out;
  if (!fs::exists(Source) || !HaveImageMagick()) return {};
  const std::string Command = "convert-im6.q16 '" + Source.string() + "' -resize " + std::to_string(kWidth) + "x" +
                              std::to_string(kHeight) + "! -strip -depth 8 '" + Out.string() + "'";
  if (std::system(Command.c_str()) != 0) return {};
  return Out;
}

// RGB triples of a binary PPM (8 bits a channel).
bool ReadPpm(const fs::path& File, int& Width, int& Height, std::vector<std::uint8_t>& Rgb) {
  std::ifstream In(File, std::ios::binary);
  std::string Magic;
  int Max = 0;
  In >> Magic >> Width >> Height >> Max;
  In.get();
  if (!In || Magic != "P6" || Max != 255) return false;
  Rgb.resize(static_cast<std::size_t>(Width) * Height * 3);
  In.read(reinterpret_cast<char*>(Rgb.data()), static_cast<std::streamsize>(Rgb.size()));
  return static_cast<bool>(In);
}

struct Photo {
  int Width{0}, Height{0};
  std::vector<std::uint8_t> Rgb;
  fs::path File;
};

const Photo* LoadPhoto(const std::string& Name) {
  static std::vector<std::pair<std::string, std::unique_ptr<Photo>>> Cache;
  for (auto& [N, P] : Cache)
    if (N == Name) return P.get();
  auto P = std::make_unique<Photo>();
  P->File = PhotoFile(Name);
  if (P->File.empty() || !ReadPpm(P->File, P->Width, P->Height, P->Rgb)) P.reset();
  Cache.emplace_back(Name, std::move(P));
  return Cache.back().second.get();
}

std::unique_ptr<TBitmap> BitmapOf(const Photo& P) {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(P.Width);
  B->SetHeight(P.Height);
  for (int y = 0; y < P.Height; ++y) {
    auto* Row = static_cast<std::uint8_t*>(B->ScanLine(y));
    const std::uint8_t* Src = P.Rgb.data() + static_cast<std::size_t>(y) * P.Width * 3;
    for (int x = 0; x < P.Width; ++x) {
      Row[x * 3] = Src[x * 3 + 2];
      Row[x * 3 + 1] = Src[x * 3 + 1];
      Row[x * 3 + 2] = Src[x * 3];
    }
  }
  return B;
}

double Rmse(const std::vector<std::uint8_t>& A, const std::vector<std::uint8_t>& B) {
  double Sum = 0;
  for (std::size_t i = 0; i < A.size(); ++i) {
    const double D = static_cast<double>(A[i]) - B[i];
    Sum += D * D;
  }
  return std::sqrt(Sum / static_cast<double>(A.size()));
}

// The reduced picture's colours as RGB triples.
std::vector<std::uint8_t> ColoursOf(TBitmap* Reduced) {
  std::vector<PALETTEENTRY> Table(256);
  GetPaletteEntries(Reduced->Palette(), 0, 256, Table.data());
  std::vector<std::uint8_t> Out;
  Out.reserve(static_cast<std::size_t>(Reduced->Width()) * Reduced->Height() * 3);
  for (int y = 0; y < Reduced->Height(); ++y) {
    const auto* Row = static_cast<const std::uint8_t*>(Reduced->ScanLine(y));
    for (int x = 0; x < Reduced->Width(); ++x) {
      const PALETTEENTRY& E = Table[Row[x]];
      Out.insert(Out.end(), {E.peRed, E.peGreen, E.peBlue});
    }
  }
  return Out;
}

void Ours(benchmark::State& State, const std::string& Name, gif::TGIFDitherKind Dither) {
  const Photo* P = LoadPhoto(Name);
  if (!P) {
    State.SkipWithError("photograph not available (mate-backgrounds, ImageMagick)");
    return;
  }
  auto Source = BitmapOf(*P);
  std::unique_ptr<TBitmap> Result;
  for (auto _ : State) {
    Result = gif::ReduceBitmapColors(Source.get(), gif::grOctree, Dither, 8, nullptr);
    benchmark::DoNotOptimize(Result.get());
  }
  State.counters["RMSE"] = Rmse(ColoursOf(Result.get()), P->Rgb);
  State.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(P->Width) * P->Height * State.iterations() / 1e6,
                                                  benchmark::Counter::kIsRate);
}

// CPU seconds of one run of the command, the best of Runs.
double CommandCpu(const std::string& Command, int Runs) {
  double Best = 1e9;
  for (int i = 0; i < Runs; ++i) {
    const double Before = benchtools::ChildCpuSeconds();
    if (std::system(Command.c_str()) != 0) return -1;
    Best = std::min(Best, benchtools::ChildCpuSeconds() - Before);
  }
  return Best;
}

void ImageMagick(benchmark::State& State, const std::string& Name, const std::string& Dither) {
  const Photo* P = LoadPhoto(Name);
  if (!P || !HaveImageMagick()) {
    State.SkipWithError("photograph or ImageMagick not available");
    return;
  }
  const fs::path Out = WorkDir() / (Name + "-im.ppm");
  const std::string Base = "convert-im6.q16 -limit thread 1 '" + P->File.string() + "' ";
  const std::string Command = Base + Dither + " -colors 256 '" + Out.string() + "'";
  const double Plain = CommandCpu(Base + "'" + Out.string() + "'", 3);
  double Cpu = 0;
  for (auto _ : State) {
    const double Before = benchtools::ChildCpuSeconds();
    if (std::system(Command.c_str()) != 0) {
      State.SkipWithError("convert failed");
      return;
    }
    Cpu += benchtools::ChildCpuSeconds() - Before;
  }
  // The timing reported is the child's CPU time for the reduction alone.
  const double PerRun = Cpu / static_cast<double>(State.iterations());
  State.counters["cpu_ms"] = PerRun * 1e3;
  State.counters["net_cpu_ms"] = (PerRun - Plain) * 1e3;
  int W = 0, H = 0;
  std::vector<std::uint8_t> Rgb;
  if (ReadPpm(Out, W, H, Rgb) && W == P->Width && H == P->Height) State.counters["RMSE"] = Rmse(Rgb, P->Rgb);
}

#define PHOTO_BENCHMARKS(Photo)                                                                                   \
  BENCHMARK_CAPTURE(Ours, Photo##_Octree256_Nearest, #Photo, gif::gdNearest)->Unit(benchmark::kMillisecond);      \
  BENCHMARK_CAPTURE(ImageMagick, Photo##_Colors256_NoDither, #Photo, "+dither")                                   \
      ->Unit(benchmark::kMillisecond)                                                                             \
      ->Iterations(3)                                                                                             \
      ->UseRealTime();                                                                                            \
  BENCHMARK_CAPTURE(Ours, Photo##_Octree256_FloydSteinberg, #Photo, gif::gdFloydSteinberg)                        \
      ->Unit(benchmark::kMillisecond);                                                                            \
  BENCHMARK_CAPTURE(ImageMagick, Photo##_Colors256_FloydSteinberg, #Photo, "-dither FloydSteinberg")              \
      ->Unit(benchmark::kMillisecond)                                                                             \
      ->Iterations(3)                                                                                             \
      ->UseRealTime();

PHOTO_BENCHMARKS(GreenMeadow)
PHOTO_BENCHMARKS(Storm)
PHOTO_BENCHMARKS(LadyBird)

}  // namespace

BENCHMARK_MAIN();
