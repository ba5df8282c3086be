// JPEG decoding of photo-like pictures (cjpeg, quality 85) of 1 and 4 megapixels: the JPEG
// graphic as the program uses it (the data loaded from a stream, decoded into its bitmap),
// beside libjpeg called directly in the same process (memory source, blue-green-red rows into a
// new buffer, as a program makes a picture), with the ratio in a table after the run; and the
// djpeg program run as a process.
//
// Times of the graphic and of libjpeg are the thread's CPU time (page faults of new memory
// included). For figures to compare: pin to one core and repeat, e.g.
//   taskset -c 3 bench_jpeg --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
// once as the program runs and once with freed memory kept by the allocator
// (GLIBC_TUNABLES=glibc.malloc.trim_threshold=1073741824:glibc.malloc.mmap_threshold=33554432;
// every name needs its prefix and numbers take no suffix; a short form such as
// "trim_threshold=1G:mmap_threshold=32M" leaves large blocks mapped afresh at every load).
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "RatioTable.h"
#include "platform/graphics/Jpeg.h"
#include "tests/platform/graphics/JpegTestImages.h"

extern char** environ;

namespace {

struct Sample {
  int side;
  std::filesystem::path dir;
  std::filesystem::path jpegPath;
  std::vector<std::uint8_t> jpeg;

  explicit Sample(int side) : side(side) {
    dir = std::filesystem::temp_directory_path() /
          ("kelv-jpeg-bench-" + std::to_string(getpid()) + "-" + std::to_string(side));
    std::filesystem::create_directories(dir);
    const auto ppm = dir / "photo.ppm";
    jpegPath = dir / "photo.jpg";
    const auto bytes = jpegtest::ToPnm(jpegtest::Photo(side, side));
    std::ofstream(ppm, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    const std::string cmd = "cjpeg -quality 85 -outfile '" + jpegPath.string() + "' '" + ppm.string() + "'";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cjpeg failed (libjpeg-turbo-progs installed?)");
    std::ifstream in(jpegPath, std::ios::binary);
    jpeg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ~Sample() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// 1 and 4 megapixels.
const Sample& SampleOf(int megapixels) {
  static const Sample one(1024), four(2048);
  return megapixels == 1 ? one : four;
}

void SetCounters(benchmark::State& state, const Sample& s) {
  state.SetItemsProcessed(state.iterations() * s.side * s.side);  // pixels
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(s.jpeg.size()));
}

// The graphic: load (the data are copied and the header read) and decode into the bitmap.
void DecodeGraphic(benchmark::State& state, int megapixels) {
  const auto& s = SampleOf(megapixels);
  TMemoryStream stream;
  stream.WriteBuffer(s.jpeg.data(), static_cast<std::int64_t>(s.jpeg.size()));
  for (auto _ : state) {
    stream.SetPosition(0);
    const double t0 = benchsupport::ThreadSeconds();
    TJPEGImage image;
    image.LoadFromStream(&stream);
    image.DIBNeeded();
    benchmark::DoNotOptimize(&image);
    state.SetIterationTime(benchsupport::ThreadSeconds() - t0);
  }
  SetCounters(state, s);
}

// The same decode straight over libjpeg: memory source, default error manager, default options.
void DecodeLibjpeg(benchmark::State& state, int megapixels) {
  const auto& s = SampleOf(megapixels);
  for (auto _ : state) {
    const double t0 = benchsupport::ThreadSeconds();
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, s.jpeg.data(), static_cast<unsigned long>(s.jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t{cinfo.output_width} * 3;
    std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[stride * cinfo.output_height]);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.get() + stride * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.get());
    state.SetIterationTime(benchsupport::ThreadSeconds() - t0);
  }
  SetCounters(state, s);
}

int Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The djpeg program on the same file, output thrown away; includes starting the process.
void DecodeDjpegProcess(benchmark::State& state, int megapixels) {
  const auto& s = SampleOf(megapixels);
  const std::vector<std::string> args{"djpeg", "-outfile", "/dev/null", s.jpegPath.string()};
  for (auto _ : state)
    if (Spawn(args) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
  SetCounters(state, s);
}

// Starting a process that does nothing, to read the djpeg figure against.
void ProcessStartOnly(benchmark::State& state) {
  const std::vector<std::string> args{"true"};
  for (auto _ : state)
    if (Spawn(args) != 0) {
      state.SkipWithError("true failed");
      break;
    }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (int megapixels : {1, 4}) {
    const std::string size = std::to_string(megapixels) + "MP";
    benchsupport::WithMinimum(benchmark::RegisterBenchmark(("decode/graphic/" + size).c_str(), DecodeGraphic, megapixels))
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchsupport::WithMinimum(benchmark::RegisterBenchmark(("decode/libjpeg/" + size).c_str(), DecodeLibjpeg, megapixels))
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("process/djpeg/" + size).c_str(), DecodeDjpegProcess, megapixels)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(1.0);
  }
  benchmark::RegisterBenchmark("process/start_only", ProcessStartOnly)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->MinTime(0.5);
  return benchsupport::RunWithRatioTable("graphic", "libjpeg");
}
