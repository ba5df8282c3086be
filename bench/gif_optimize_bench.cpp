// Image optimisation beside gifsicle -O3, in the same run: sizes and times.
//
// The animations of the GIF test suite (../shared/testdata/gif-test-suite) and three made here
// by ImageMagick from a photograph of the desktop backgrounds package (mate-backgrounds):
// "pan" (a window moving over the photograph, written as whole frames: nothing to merge),
// "sprite" (a shape moving over the photograph, already optimised by ImageMagick's "-layers
// Optimize") and "ticker" (the photograph with a small changing block, written as whole frames
// on one palette, which merging and cropping shrink most). Ours: load, Optimize with every step, save (CPU time); gifsicle: "-O3" as a
// command, its time the CPU time of the child (user + system). Counters: the input's size and
// each result's size in bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChildTools.h"
#include "gif/GIFImage.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

fs::path WorkDir() {
  static benchtools::ScratchFolder Folder("kelv_gif_optimize_bench");
  return Folder.Path();
}

Bytes ReadFile(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(In), {});
}

bool Run(const std::string& Command) { return std::system(Command.c_str()) == 0; }

// The three ImageMagick animations; an empty path when one cannot be made.
fs::path MadeAnimation(const std::string& Name) {
  const fs::path Out = WorkDir() / (Name + ".gif");
  if (fs::exists(Out)) return Out;
  const fs::path Photo = "/usr/share/backgrounds/mate/nature/Storm.jpg";
  if (!fs::exists(Photo) || !Run("command -v convert-im6.q16 > /dev/null 2>&1")) return {};
  const std::string Im = "convert-im6.q16 -limit thread 1 ";
  const fs::path Small = WorkDir() / "photo.png";
  if (!fs::exists(Small) && !Run(Im + "'" + Photo.string() + "' -resize 480x320! -strip '" + Small.string() + "'"))
    return {};
  std::string Frames;
  if (Name == "pan") {
    for (int i = 0; i < 16; ++i)
      Frames += " \\( '" + Small.string() + "' -crop 240x160+" + std::to_string(i * 12) + "+" + std::to_string(i * 6) +
                " +repage \\)";
    if (!Run(Im + "-delay 8" + Frames + " -loop 0 '" + Out.string() + "'")) return {};
  } else if (Name == "sprite") {
    for (int i = 0; i < 20; ++i)
      Frames += " \\( '" + Small.string() + "' -fill yellow -draw 'circle " + std::to_string(40 + i * 20) + "," +
                std::to_string(160 + (i % 5) * 10) + " " + std::to_string(60 + i * 20) + "," +
                std::to_string(160 + (i % 5) * 10) + "' \\)";
    if (!Run(Im + "-delay 6" + Frames + " -loop 0 -layers Optimize '" + Out.string() + "'")) return {};
  } else {
    // One palette for every frame (no dithering), so that unchanged pixels stay equal.
    const fs::path Palette = WorkDir() / "palette.png";
    if (!Run(Im + "'" + Small.string() + "' +dither -colors 255 '" + Palette.string() + "'")) return {};
    for (int i = 0; i < 20; ++i)
      Frames += " \\( '" + Small.string() + "' -fill 'rgb(" + std::to_string(i * 12) + ",40,200)' -draw 'rectangle " +
                std::to_string(20 + i * 8) + ",20 " + std::to_string(40 + i * 8) + ",40' \\)";
    if (!Run(Im + "-delay 10" + Frames + " +dither -remap '" + Palette.string() + "' -loop 0 '" + Out.string() + "'"))
      return {};
  }
  return fs::exists(Out) ? Out : fs::path{};
}

fs::path Input(const std::string& Name) {
  if (Name == "pan" || Name == "sprite" || Name == "ticker") return MadeAnimation(Name);
  const char* Env = std::getenv("KELV_TESTDATA");
  const fs::path Data = Env && *Env ? fs::path(Env) : fs::path(KELV_TESTDATA_DIR_DEFAULT);
  const fs::path P = Data / "gif-test-suite" / "gifs" / (Name + ".gif");
  return fs::exists(P) ? P : fs::path{};
}

Bytes OptimiseOurs(const Bytes& In) {
  gif::TGIFImage Image;
  TMemoryStream S;
  S.WriteBuffer(In.data(), static_cast<std::int64_t>(In.size()));
  S.SetPosition(0);
  Image.LoadFromStream(&S);
  Image.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
  TMemoryStream Out;
  Image.SaveToStream(&Out);
  const auto* M = static_cast<const std::uint8_t*>(Out.Memory());
  return Bytes(M, M + Out.Size());
}

void Ours(benchmark::State& State, const std::string& Name) {
  const fs::path File = Input(Name);
  if (File.empty()) {
    State.SkipWithError("input not available");
    return;
  }
  const Bytes In = ReadFile(File);
  Bytes Out;
  for (auto _ : State) {
    Out = OptimiseOurs(In);
    benchmark::DoNotOptimize(Out.data());
  }
  State.counters["in_bytes"] = static_cast<double>(In.size());
  State.counters["out_bytes"] = static_cast<double>(Out.size());
}

void Gifsicle(benchmark::State& State, const std::string& Name) {
  const fs::path File = Input(Name);
  if (File.empty() || !Run("command -v gifsicle > /dev/null 2>&1")) {
    State.SkipWithError("input or gifsicle not available");
    return;
  }
  const fs::path Out = WorkDir() / (Name + "-gifsicle.gif");
  const std::string Command = "gifsicle -O3 '" + File.string() + "' -o '" + Out.string() + "' 2>/dev/null";
  double Cpu = 0;
  for (auto _ : State) {
    const double Before = benchtools::ChildCpuSeconds();
    if (!Run(Command)) {
      State.SkipWithError("gifsicle failed");
      return;
    }
    Cpu += benchtools::ChildCpuSeconds() - Before;
  }
  State.counters["cpu_ms"] = Cpu / static_cast<double>(State.iterations()) * 1e3;
  State.counters["in_bytes"] = static_cast<double>(fs::file_size(File));
  State.counters["out_bytes"] = static_cast<double>(fs::file_size(Out));
}

#define OPTIMIZE_BENCHMARKS(Name)                                                                        \
  BENCHMARK_CAPTURE(Ours, Name, #Name)->Unit(benchmark::kMillisecond);                                   \
  BENCHMARK_CAPTURE(Gifsicle, Name, #Name)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

OPTIMIZE_BENCHMARKS(animated_loop)
OPTIMIZE_BENCHMARKS(animated_loop_interlaced)
OPTIMIZE_BENCHMARKS(animated_loop_variable_delay)
OPTIMIZE_BENCHMARKS(animated_noloop)
OPTIMIZE_BENCHMARKS(animated_transparent_firstframerestoreprev_loop)
OPTIMIZE_BENCHMARKS(animated_transparent_frame_norestore_loop)
OPTIMIZE_BENCHMARKS(animated_transparent_frame_restorebackground_loop)
OPTIMIZE_BENCHMARKS(animated_transparent_frame_restoreprev_loop)
OPTIMIZE_BENCHMARKS(animated_transparent_loop)
OPTIMIZE_BENCHMARKS(animated_transparent_loop_frames_out_of_bounds)
OPTIMIZE_BENCHMARKS(animated_transparent_restoreprev_loop)
OPTIMIZE_BENCHMARKS(static_nontransparent)
OPTIMIZE_BENCHMARKS(static_transparent)
OPTIMIZE_BENCHMARKS(pan)
OPTIMIZE_BENCHMARKS(sprite)
OPTIMIZE_BENCHMARKS(ticker)

}  // namespace

BENCHMARK_MAIN();
