// Quarter and half turns of a 2-megapixel picture in the picture control, against a plain
// memcpy of the same bytes (1600 x 1250 pixels at 3 bytes) in the same run. Each benchmark
// reports bytes per second of the picture; the program ends with the time ratios to memcpy.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "picture/PxThumbImage.h"

namespace {

constexpr int kWidth = 1600;
constexpr int kHeight = 1250;
constexpr std::int64_t kBytes = static_cast<std::int64_t>(kWidth) * kHeight * 3;

std::unique_ptr<TBitmap> Picture() {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(kWidth);
  b->SetHeight(kHeight);
  for (int y = 0; y < kHeight; ++y) {
    auto* row = static_cast<std::uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < kWidth * 3; ++x) row[x] = static_cast<std::uint8_t>(x * 13 + y * 7);
  }
  return b;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<std::uint8_t> src(static_cast<std::size_t>(kBytes), 1), dst(static_cast<std::size_t>(kBytes));
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// The pixel loop alone, on 24-bit rows.
void BM_QuarterTurnRows(benchmark::State& state) {
  const int rowBytes = kWidth * 3;
  std::vector<std::uint8_t> src(static_cast<std::size_t>(kBytes), 2), dst(static_cast<std::size_t>(kBytes));
  std::vector<const std::uint8_t*> srcRows(kHeight);
  std::vector<std::uint8_t*> dstRows(kWidth);
  for (int y = 0; y < kHeight; ++y) srcRows[static_cast<std::size_t>(y)] = src.data() + y * rowBytes;
  for (int y = 0; y < kWidth; ++y) dstRows[static_cast<std::size_t>(y)] = dst.data() + y * kHeight * 3;
  for (auto _ : state) {
    px::QuarterTurn24(srcRows.data(), kWidth, kHeight, dstRows.data(), true);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_QuarterTurnRows)->Unit(benchmark::kMillisecond);

// The control's quarter turn: AT0 -> AT90 and back, one turn an iteration (bitmap copies and the
// picture's replacement included).
void BM_QuarterTurnControl(benchmark::State& state) {
  px::TPxThumbImage image(nullptr);
  auto picture = Picture();
  image.Picture()->SetGraphic(picture.get());
  bool turned = false;
  for (auto _ : state) {
    image.SetAngle(turned ? px::AT0 : px::AT90);
    turned = !turned;
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_QuarterTurnControl)->Unit(benchmark::kMillisecond);

// The control's half turn: AT0 -> AT180 and back (draw on a bitmap, StretchBlt onto itself,
// assign back to the graphic).
void BM_HalfTurnControl(benchmark::State& state) {
  px::TPxThumbImage image(nullptr);
  auto picture = Picture();
  image.Picture()->SetGraphic(picture.get());
  bool turned = false;
  for (auto _ : state) {
    image.SetAngle(turned ? px::AT0 : px::AT180);
    turned = !turned;
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_HalfTurnControl)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration (the median when repeated) for the ratios printed
// at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& run : Runs) {
      if (run.error_occurred) continue;
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        Times[name] = run.GetAdjustedRealTime();
        Medians[name] = true;
      } else if (run.run_type == Run::RT_Iteration && !Medians[name]) {
        Times[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(Runs);
  }
  std::map<std::string, double> Times;
  std::map<std::string, bool> Medians;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  auto copy = reporter.Times.find("BM_Memcpy");
  if (copy == reporter.Times.end() || copy->second <= 0) return 0;
  std::printf("\nTime as a multiple of memcpy of the same %lld bytes:\n", static_cast<long long>(kBytes));
  for (const auto& [name, time] : reporter.Times)
    if (name != "BM_Memcpy") std::printf("  %-24s %8.1f x\n", name.c_str(), time / copy->second);
  return 0;
}
