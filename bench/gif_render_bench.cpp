// GIF rendering and colour reduction beside peers, in the same run.
//
// Rendering: a 24-frame animation (400 x 300 screen, 200 x 150 frames at moving places, local
// tables, transparency, disposals "leave" and "restore background") is decoded and composed frame
// by frame: ours (load + inline painter onto a canvas) beside Qt's QImageReader (which also
// composes every frame). Also ours alone: rendering every frame's bitmap and mask.
//
// Colour reduction of a 1-megapixel photograph-like picture to 256 colours or fewer: ours by the
// web palette (nearest and Floyd-Steinberg) and by the octree palette, beside Qt's
// QImage::convertToFormat(Indexed8) with the same web palette (threshold and diffuse dither)
// and, when installed, ImageMagick's "convert -colors 256" timed as a whole command (process
// start and PPM/GIF file input and output included).
#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "gif/GIFImage.h"

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

const Bytes& AnimationFile() {
  static const Bytes File = [] {
    gif::TGIFImage Image;
    Image.Header().SetWidth(400);
    Image.Header().SetHeight(300);
    for (int f = 0; f < 24; ++f) {
      auto Frame = std::make_unique<gif::TGIFSubImage>(&Image);
      Frame->ChangeBounds((f * 37) % 200, (f * 23) % 150, 200, 150);
      for (int i = 0; i < 256; ++i)
        Frame->ColorMap()->AddColor(static_cast<TColor>(Hash(static_cast<std::uint32_t>(i + f * 256)) & 0xFFFFFF));
      for (int y = 0; y < 150; ++y) {
        std::uint8_t* Row = Frame->RowPointer(y);
        for (int x = 0; x < 200; ++x) {
          const int dx = x - 100, dy = y - 75;
          Row[x] = dx * dx + dy * dy > 70 * 70 ? 0 : static_cast<std::uint8_t>(1 + ((x / 4 + y / 3 + f) % 255));
        }
      }
      auto G = std::make_unique<gif::TGIFGraphicControlExtension>(Frame.get());
      G->SetDisposalMethod(f % 2 ? 2 : 1);
      G->SetDelayTime(5);
      G->SetTransparentIndexRaw(0);
      G->SetTransparentFlag(true);
      Frame->Extensions().Add(G.release());
      Image.Images().Add(Frame.release());
    }
    TMemoryStream S;
    Image.SaveToStream(&S);
    return Bytes(static_cast<const std::uint8_t*>(S.Memory()), static_cast<const std::uint8_t*>(S.Memory()) + S.Size());
  }();
  return File;
}

std::unique_ptr<gif::TGIFImage> LoadAnimation() {
  const Bytes& F = AnimationFile();
  TMemoryStream S;
  S.WriteBuffer(F.data(), static_cast<std::int64_t>(F.size()));
  S.SetPosition(0);
  auto Image = std::make_unique<gif::TGIFImage>();
  Image->LoadFromStream(&S);
  return Image;
}

void BM_ComposeFrames_Ours(benchmark::State& State) {
  TBitmap Screen;
  Screen.SetPixelFormat(pf24bit);
  Screen.SetWidth(400);
  Screen.SetHeight(300);
  int Frames = 0;
  for (auto _ : State) {
    auto Image = LoadAnimation();
    Image->SetAnimationSpeed(100000000);
    Image->OnPaintFrameDone = [&](TObject*) { ++Frames; };
    Image->StartPainter(nullptr, Screen.Canvas(), gif::drAnimate | gif::drTransparent | gif::drDirect,
                        TRect{0, 0, 400, 300});
  }
  State.counters["frames/s"] = benchmark::Counter(Frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeFrames_Ours)->Unit(benchmark::kMillisecond);  // CPU time: an inline painter sleeps >= 1 ms a frame

// The same through a threaded painter that does not wait (a paused rate below 0): every step
// handed to this thread, which pumps the synchronised calls.
void BM_ComposeFrames_OursThreaded(benchmark::State& State) {
  TBitmap Screen;
  Screen.SetPixelFormat(pf24bit);
  Screen.SetWidth(400);
  Screen.SetHeight(300);
  int Frames = 0;
  for (auto _ : State) {
    auto Image = LoadAnimation();
    Image->SetAnimationSpeed(-1);
    Image->OnPaintFrameDone = [&](TObject*) { ++Frames; };
    gif::TGIFPainter* Painter = nullptr;
    Image->StartPainter(&Painter, Screen.Canvas(), gif::drAnimate | gif::drTransparent | gif::drDirect | gif::drThreaded,
                        TRect{0, 0, 400, 300})
        ->Start();
    while (Painter) CheckSynchronize(1);
  }
  State.counters["frames/s"] = benchmark::Counter(Frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeFrames_OursThreaded)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComposeFrames_QtReader(benchmark::State& State) {
  const Bytes& F = AnimationFile();
  QByteArray Data(reinterpret_cast<const char*>(F.data()), static_cast<qsizetype>(F.size()));
  int Frames = 0;
  for (auto _ : State) {
    QBuffer Buffer(&Data);
    Buffer.open(QIODevice::ReadOnly);
    QImageReader Reader(&Buffer, "gif");
    while (Reader.canRead()) {
      QImage I = Reader.read();
      if (I.isNull()) break;
      benchmark::DoNotOptimize(I.constBits());
      ++Frames;
    }
  }
  State.counters["frames/s"] = benchmark::Counter(Frames, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeFrames_QtReader)->Unit(benchmark::kMillisecond);

void BM_RenderFrameBitmaps_Ours(benchmark::State& State) {
  auto Image = LoadAnimation();
  for (auto _ : State) {
    for (int f = 0; f < Image->Images().Count(); ++f) {
      gif::TGIFSubImage* Frame = Image->Images().FrameAt(f);
      Frame->FreeBitmapCache();
      Frame->ReleaseMask();
      benchmark::DoNotOptimize(Frame->RenderBitmap());
    }
  }
  State.SetItemsProcessed(State.iterations() * Image->Images().Count());
}
BENCHMARK(BM_RenderFrameBitmaps_Ours)->Unit(benchmark::kMillisecond);

// --------------------------------------------------------------------------------------------
// Colour reduction of 1024 x 1024 pixels

constexpr int kSide = 1024;

std::uint8_t Channel(int x, int y, int c) {
  const double v = 127 + 90 * std::sin((x * (c + 1) + y * (3 - c)) / 97.0) + 30 * std::cos((x - y) / 13.0 + c);
  return static_cast<std::uint8_t>(std::clamp(static_cast<int>(v) + static_cast<int>(Hash(x * 4099 + y * 7 + c) % 17) - 8, 0, 255));
}

std::unique_ptr<TBitmap> Photo() {
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(pf24bit);
  B->SetWidth(kSide);
  B->SetHeight(kSide);
  for (int y = 0; y < kSide; ++y) {
    auto* Row = static_cast<std::uint8_t*>(B->ScanLine(y));
    for (int x = 0; x < kSide; ++x)
      for (int c = 0; c < 3; ++c) Row[x * 3 + c] = Channel(x, y, 2 - c);
  }
  return B;
}

void Reduce(benchmark::State& State, gif::TGIFColorReductionKind Kind, gif::TGIFDitherKind Dither) {
  auto Source = Photo();
  for (auto _ : State) {
    auto R = gif::ReduceBitmapColors(Source.get(), Kind, Dither, 8, nullptr);
    benchmark::DoNotOptimize(R.get());
  }
  State.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(kSide) * kSide * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_Reduce_Ours_Web_Nearest(benchmark::State& S) { Reduce(S, gif::grWebSafe216, gif::gdNearest); }
void BM_Reduce_Ours_Web_FloydSteinberg(benchmark::State& S) { Reduce(S, gif::grWebSafe216, gif::gdFloydSteinberg); }
void BM_Reduce_Ours_Web_Stucki(benchmark::State& S) { Reduce(S, gif::grWebSafe216, gif::gdStucki); }
void BM_Reduce_Ours_Octree256_Nearest(benchmark::State& S) { Reduce(S, gif::grOctree, gif::gdNearest); }
void BM_Reduce_Ours_Octree256_FloydSteinberg(benchmark::State& S) { Reduce(S, gif::grOctree, gif::gdFloydSteinberg); }
BENCHMARK(BM_Reduce_Ours_Web_Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce_Ours_Web_FloydSteinberg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce_Ours_Web_Stucki)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce_Ours_Octree256_Nearest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce_Ours_Octree256_FloydSteinberg)->Unit(benchmark::kMillisecond);

void QtReduce(benchmark::State& State, Qt::ImageConversionFlags Flags) {
  QImage Source(kSide, kSide, QImage::Format_RGB32);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) Source.setPixel(x, y, qRgb(Channel(x, y, 0), Channel(x, y, 1), Channel(x, y, 2)));
  QList<QRgb> Table;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) Table.push_back(qRgb(r * 51, g * 51, b * 51));
  for (auto _ : State) {
    QImage R = Source.convertToFormat(QImage::Format_Indexed8, Table, Flags);
    benchmark::DoNotOptimize(R.constBits());
  }
  State.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(kSide) * kSide * State.iterations() / 1e6, benchmark::Counter::kIsRate);
}
void BM_Reduce_Qt_Web_Threshold(benchmark::State& S) { QtReduce(S, Qt::ThresholdDither); }
void BM_Reduce_Qt_Web_Diffuse(benchmark::State& S) { QtReduce(S, Qt::DiffuseDither); }
BENCHMARK(BM_Reduce_Qt_Web_Threshold)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reduce_Qt_Web_Diffuse)->Unit(benchmark::kMillisecond);

// ImageMagick as a command: median adaptive palette with its default dithering.
void BM_Reduce_ImageMagick_Colors256_Command(benchmark::State& State) {
  if (std::system("command -v convert-im6.q16 > /dev/null 2>&1") != 0) {
    State.SkipWithError("ImageMagick not installed");
    return;
  }
  const std::filesystem::path Dir = std::filesystem::temp_directory_path() / "kelv_gif_bench";
  std::filesystem::create_directories(Dir);
  const std::string In = (Dir / "photo.ppm").string(), Out = (Dir / "photo.gif").string();
  {
    std::ofstream F(In, std::ios::binary);
    F << "P6\n" << kSide << " " << kSide << "\n255\n";
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x)
        for (int c = 0; c < 3; ++c) F.put(static_cast<char>(Channel(x, y, c)));
  }
  const std::string Command = "convert-im6.q16 " + In + " -colors 256 " + Out;
  for (auto _ : State)
    if (std::system(Command.c_str()) != 0) State.SkipWithError("convert failed");
  State.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(kSide) * kSide * State.iterations() / 1e6, benchmark::Counter::kIsRate);
  std::filesystem::remove_all(Dir);
}
BENCHMARK(BM_Reduce_ImageMagick_Colors256_Command)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
