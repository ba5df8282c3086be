// Block transfers of a 1-megapixel 24-bit bitmap beside memcpy of the same bytes. Every case
// reports the bytes it writes per second, so the ratio to memcpy can be read directly.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace {

constexpr int kSide = 1024;  // 1024 x 1024 = 1 megapixel

struct Canvas {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  Canvas(int w, int h) {
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    dc = CreateCompatibleDC(nullptr);
    bmp = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    old = SelectObject(dc, bmp);
    SetStretchBltMode(dc, COLORONCOLOR);
    auto* p = static_cast<unsigned char*>(bits);
    std::size_t n = static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h);
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(i * 31 + (i >> 11));
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
};

std::int64_t Bytes(int w, int h) { return static_cast<std::int64_t>(w) * 3 * h; }

void BM_Memcpy(benchmark::State& state) {
  std::vector<unsigned char> a(static_cast<std::size_t>(Bytes(kSide, kSide)), 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_Memcpy);

void BM_BitBltSrcCopy(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide, kSide);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_BitBltSrcCopy);

// A raster operation outside the copy fast paths (per-pixel evaluation).
void BM_BitBltSrcAnd(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide, kSide);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCAND));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_BitBltSrcAnd);

void BM_StretchBltHalf(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide / 2, kSide / 2);
  for (auto _ : state)
    benchmark::DoNotOptimize(StretchBlt(dst.dc, 0, 0, kSide / 2, kSide / 2, src.dc, 0, 0, kSide, kSide, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide / 2, kSide / 2));
}
BENCHMARK(BM_StretchBltHalf);

void BM_StretchBltOneAndHalf(benchmark::State& state) {
  const int side = kSide * 3 / 2;
  Canvas src(kSide, kSide), dst(side, side);
  for (auto _ : state) benchmark::DoNotOptimize(StretchBlt(dst.dc, 0, 0, side, side, src.dc, 0, 0, kSide, kSide, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(side, side));
}
BENCHMARK(BM_StretchBltOneAndHalf);

void BM_StretchBltMirror(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide, kSide);
  for (auto _ : state)
    benchmark::DoNotOptimize(StretchBlt(dst.dc, kSide, 0, -kSide, kSide, src.dc, 0, 0, kSide, kSide, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_StretchBltMirror);

// Mirroring a bitmap onto itself first copies the source rows.
void BM_StretchBltMirrorInPlace(benchmark::State& state) {
  Canvas c(kSide, kSide);
  for (auto _ : state)
    benchmark::DoNotOptimize(StretchBlt(c.dc, kSide, kSide, -kSide, -kSide, c.dc, 0, 0, kSide, kSide, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_StretchBltMirrorInPlace);

}  // namespace

BENCHMARK_MAIN();
