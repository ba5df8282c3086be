// Block transfers of a 1-megapixel 24-bit bitmap beside memcpy of the same bytes. Every case
// reports the bytes it writes per second, so the ratio to memcpy can be read directly. The
// transfers that animated pictures make follow: between formats, through a monochrome mask and
// with a transparent copy.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace {

constexpr int kSide = 1024;  // 1024 x 1024 = 1 megapixel

// A DIB section (24 bits, or 8 bits with a grey table) or, with ddbBits, a device bitmap of that
// many bits per pixel, filled with a pattern.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
  Canvas(int w, int h, int bpp = 24, bool ddb = false) {
    std::vector<unsigned char> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    auto* bmi = reinterpret_cast<BITMAPINFO*>(info.data());
    bmi->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi->bmiHeader.biWidth = w;
    bmi->bmiHeader.biHeight = -h;
    bmi->bmiHeader.biPlanes = 1;
    bmi->bmiHeader.biBitCount = static_cast<WORD>(bpp);
    bmi->bmiHeader.biCompression = BI_RGB;
    if (bpp == 8) {
      bmi->bmiHeader.biClrUsed = 256;
      for (int i = 0; i < 256; ++i) bmi->bmiColors[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0};
    }
    dc = CreateCompatibleDC(nullptr);
    bmp = ddb ? CreateBitmap(w, h, 1, static_cast<UINT>(bpp), nullptr)
              : CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    old = SelectObject(dc, bmp);
    SetStretchBltMode(dc, COLORONCOLOR);
    std::vector<unsigned char> p(static_cast<std::size_t>(GetBitmapBits(bmp, 0, nullptr)));
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(i * 31 + (i >> 11));
    SetBitmapBits(bmp, static_cast<DWORD>(p.size()), p.data());
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

// A 32-bit device bitmap onto a 24-bit DIB section (a composed frame shown on a 24-bit canvas).
void BM_BitBlt32DdbTo24(benchmark::State& state) {
  Canvas src(kSide, kSide, 32, true), dst(kSide, kSide);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_BitBlt32DdbTo24);

// The other way (a canvas saved under an animation).
void BM_BitBlt24To32Ddb(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide, kSide, 32, true);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_BitBlt24To32Ddb);

// An 8-bit picture with its colour table onto a 24-bit one.
void BM_BitBlt8To24(benchmark::State& state) {
  Canvas src(kSide, kSide, 8), dst(kSide, kSide);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCCOPY));
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_BitBlt8To24);

// A monochrome mask whose pixels outside a centred disc are set (transparent).
HBITMAP DiscMask(int side) {
  const int row = (side + 15) / 16 * 2;
  std::vector<unsigned char> bits(static_cast<std::size_t>(row) * static_cast<std::size_t>(side));
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      const int dx = x - side / 2, dy = y - side / 2;
      if (dx * dx + dy * dy > side * side / 5) bits[static_cast<std::size_t>(y * row + x / 8)] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  return CreateBitmap(side, side, 1, 1, bits.data());
}

// The transparent copy of a frame: an 8-bit picture through a mask onto a 32-bit device bitmap,
// the destination kept where the mask is set.
void BM_MaskBltTransparent8To32(benchmark::State& state) {
  Canvas src(kSide, kSide, 8), dst(kSide, kSide, 32, true);
  HBITMAP mask = DiscMask(kSide);
  for (auto _ : state)
    benchmark::DoNotOptimize(MaskBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, mask, 0, 0, MAKEROP4(0x00AA0029, SRCCOPY)));
  DeleteObject(mask);
  state.SetBytesProcessed(state.iterations() * kSide * kSide * 4);
}
BENCHMARK(BM_MaskBltTransparent8To32);

// The same in two steps where no mask transfer is used: the mask ANDed in (monochrome to
// colour), then the picture with black where transparent ORed over it.
void BM_TransparentAndThenPaint(benchmark::State& state) {
  Canvas src(kSide, kSide), dst(kSide, kSide);
  HBITMAP mask = DiscMask(kSide);
  HDC maskDc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(maskDc, mask);
  for (auto _ : state) {
    benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, maskDc, 0, 0, SRCAND));
    benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, src.dc, 0, 0, SRCPAINT));
  }
  SelectObject(maskDc, old);
  DeleteDC(maskDc);
  DeleteObject(mask);
  state.SetBytesProcessed(state.iterations() * 2 * Bytes(kSide, kSide));
}
BENCHMARK(BM_TransparentAndThenPaint);

// A monochrome mask inverted into another (the first step of a stretched transparent copy).
void BM_BitBltMonoInvert(benchmark::State& state) {
  HBITMAP mask = DiscMask(kSide);
  HDC maskDc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(maskDc, mask);
  Canvas dst(kSide, kSide, 1, true);
  for (auto _ : state) benchmark::DoNotOptimize(BitBlt(dst.dc, 0, 0, kSide, kSide, maskDc, 0, 0, NOTSRCCOPY));
  SelectObject(maskDc, old);
  DeleteDC(maskDc);
  DeleteObject(mask);
  state.SetBytesProcessed(state.iterations() * kSide * kSide / 8);
}
BENCHMARK(BM_BitBltMonoInvert);

// Filling with a solid brush.
void BM_PatBltSolid(benchmark::State& state) {
  Canvas dst(kSide, kSide);
  HBRUSH br = CreateSolidBrush(RGB(12, 200, 77));
  HGDIOBJ old = SelectObject(dst.dc, br);
  for (auto _ : state) benchmark::DoNotOptimize(PatBlt(dst.dc, 0, 0, kSide, kSide, PATCOPY));
  SelectObject(dst.dc, old);
  DeleteObject(br);
  state.SetBytesProcessed(state.iterations() * Bytes(kSide, kSide));
}
BENCHMARK(BM_PatBltSolid);

}  // namespace

BENCHMARK_MAIN();
