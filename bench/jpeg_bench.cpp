// JPEG decoding of a 1-megapixel photo-like picture (cjpeg, quality 85): our codec, plain libjpeg
// in the same process without our wrapper, and the djpeg program run as a process.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/graphics/JpegCodec.h"
#include "tests/platform/graphics/JpegTestImages.h"

extern char** environ;

namespace {

constexpr int kSide = 1024;

struct Sample {
  std::filesystem::path dir;
  std::filesystem::path jpegPath;
  std::vector<std::uint8_t> jpeg;

  Sample() {
    dir = std::filesystem::temp_directory_path() / ("kelv-jpeg-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto ppm = dir / "photo.ppm";
    jpegPath = dir / "photo.jpg";
    const auto bytes = jpegtest::ToPnm(jpegtest::Photo(kSide, kSide));
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

const Sample& TheSample() {
  static const Sample sample;
  return sample;
}

void SetCounters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kSide * kSide);  // pixels
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TheSample().jpeg.size()));
}

void BM_JpegDecode_Ours(benchmark::State& state) {
  const auto& s = TheSample();
  for (auto _ : state) {
    auto picture = JpegDecode(s.jpeg.data(), s.jpeg.size());
    benchmark::DoNotOptimize(picture.Pixels.data());
  }
  SetCounters(state);
}

// The same decode straight over libjpeg: memory source, default error manager, RGB rows.
void BM_JpegDecode_LibjpegDirect(benchmark::State& state) {
  const auto& s = TheSample();
  std::vector<std::uint8_t> pixels(std::size_t{kSide} * kSide * 3);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, s.jpeg.data(), static_cast<unsigned long>(s.jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = std::size_t{cinfo.output_width} * 3;
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels.data() + stride * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(pixels.data());
  }
  SetCounters(state);
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
void BM_JpegDecode_DjpegProcess(benchmark::State& state) {
  const auto& s = TheSample();
  const std::vector<std::string> args{"djpeg", "-outfile", "/dev/null", s.jpegPath.string()};
  for (auto _ : state)
    if (Spawn(args) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
  SetCounters(state);
}

// Starting a process that does nothing, to read the djpeg figure against.
void BM_ProcessStartOnly(benchmark::State& state) {
  const std::vector<std::string> args{"true"};
  for (auto _ : state)
    if (Spawn(args) != 0) {
      state.SkipWithError("true failed");
      break;
    }
}

BENCHMARK(BM_JpegDecode_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecode_LibjpegDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecode_DjpegProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ProcessStartOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
