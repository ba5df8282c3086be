// Block transfers: the raster-operation engine behind BitBlt, StretchBlt, MaskBlt, PatBlt,
// FillRect, Rectangle, StretchDIBits and SetDIBitsToDevice.
//
// Every transfer works in the destination's pixel values: source pixels are converted to the
// destination format first (monochrome device bitmaps follow the DCs' text and background
// colours, indexed destinations take the nearest entry), then the ternary raster operation is
// applied bit by bit to source, pattern and destination values. Row engines do the same on whole
// rows of bytes (destinations of 8 bits and more) or bits (monochrome ones without a mask);
// 4-bit destinations, masked monochrome ones and combining shrinks take the per-pixel engine.
//
// Stretching samples the source pixel under the centre of each destination pixel. In
// BLACKONWHITE and WHITEONBLACK modes a shrinking axis instead combines all the source pixels
// that fall into a destination pixel with AND or OR. HALFTONE behaves as COLORONCOLOR.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <optional>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/gdi/GdiInternal.h"

namespace gdi {
namespace {

using i128 = __int128;

// One axis of a transfer: the destination range and, per destination coordinate, the source
// range that feeds it.
struct Axis {
  int lo = 0;
  int hi = 0;
  std::vector<int> srcLo;
  std::vector<int> srcHi;
  bool straight = false;  // source = destination + constant, one pixel each
};

// quick: an unscaled axis is mapped as the shift it is rather than coordinate by coordinate.
bool MapAxis(std::int64_t d0, std::int64_t dExt, std::int64_t s0, std::int64_t sExt, int clipLo, int clipHi,
             int srcSize, bool combine, bool quick, Axis& a) {
  if (dExt == 0) return false;
  std::int64_t dl = dExt > 0 ? d0 : d0 + dExt;
  std::int64_t dh = dl + (dExt > 0 ? dExt : -dExt);
  std::int64_t lo = std::max<std::int64_t>(dl, clipLo), hi = std::min<std::int64_t>(dh, clipHi);
  if (lo >= hi) return false;
  a.lo = static_cast<int>(lo);
  a.hi = static_cast<int>(hi);
  if (srcSize < 0) return true;  // no source
  if (sExt == 0) return false;
  std::int64_t D = dExt > 0 ? dExt : -dExt, S = sExt > 0 ? sExt : -sExt;
  if (quick && S == D && (dExt > 0) == (sExt > 0)) {
    // Either way round, source = destination + s0 - d0, valid where it falls inside the source.
    const std::int64_t shift = s0 - d0;
    lo = std::max<std::int64_t>(lo, -shift);
    hi = std::min<std::int64_t>(hi, srcSize - shift);
    if (lo >= hi) return false;
    a.lo = static_cast<int>(lo);
    a.hi = static_cast<int>(hi);
    const std::size_t n = static_cast<std::size_t>(hi - lo);
    a.srcLo.resize(n);
    a.srcHi.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      a.srcLo[i] = static_cast<int>(lo + shift + static_cast<std::int64_t>(i));
      a.srcHi[i] = a.srcLo[i] + 1;
    }
    a.straight = true;
    return true;
  }
  bool span = combine && S > D;
  std::size_t n = static_cast<std::size_t>(hi - lo);
  a.srcLo.resize(n);
  a.srcHi.resize(n);
  std::int64_t firstValid = -1, lastValid = -1;
  for (std::int64_t c = lo; c < hi; ++c) {
    std::int64_t k = dExt > 0 ? c - d0 : (d0 - 1) - c;
    std::int64_t offLo, offHi;
    if (span) {
      offLo = static_cast<std::int64_t>(static_cast<i128>(k) * S / D);
      offHi = static_cast<std::int64_t>(static_cast<i128>(k + 1) * S / D);
    } else {
      offLo = static_cast<std::int64_t>((static_cast<i128>(2 * k + 1) * S) / (2 * D));
      offHi = offLo + 1;
    }
    std::int64_t sLo = sExt > 0 ? s0 + offLo : s0 - offHi;
    std::int64_t sHi = sExt > 0 ? s0 + offHi : s0 - offLo;
    sLo = std::max<std::int64_t>(sLo, 0);
    sHi = std::min<std::int64_t>(sHi, srcSize);
    std::size_t i = static_cast<std::size_t>(c - lo);
    if (sLo < sHi) {
      a.srcLo[i] = static_cast<int>(sLo);
      a.srcHi[i] = static_cast<int>(sHi);
      if (firstValid < 0) firstValid = c;
      lastValid = c;
    } else {
      a.srcLo[i] = a.srcHi[i] = -1;
    }
  }
  if (firstValid < 0) return false;
  // The mapping is monotonic, so the valid coordinates form one run.
  std::size_t cut = static_cast<std::size_t>(firstValid - lo);
  a.srcLo.erase(a.srcLo.begin(), a.srcLo.begin() + static_cast<std::ptrdiff_t>(cut));
  a.srcHi.erase(a.srcHi.begin(), a.srcHi.begin() + static_cast<std::ptrdiff_t>(cut));
  a.lo = static_cast<int>(firstValid);
  a.hi = static_cast<int>(lastValid + 1);
  a.srcLo.resize(static_cast<std::size_t>(a.hi - a.lo));
  a.srcHi.resize(static_cast<std::size_t>(a.hi - a.lo));
  a.straight = S == D && (dExt > 0) == (sExt > 0);
  return true;
}

inline std::uint32_t EvalRop(std::uint8_t rop, std::uint32_t p, std::uint32_t s, std::uint32_t d) {
  std::uint32_t r = 0;
  for (int i = 0; i < 8; ++i)
    if ((rop >> i) & 1) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  return r;
}

void ApplyRop(std::uint8_t rop, const std::uint32_t* S, const std::uint32_t* P, std::uint32_t* D, int n) {
  switch (rop) {
    case 0x00:
      std::fill(D, D + n, 0u);
      return;
    case 0xFF:
      std::fill(D, D + n, ~0u);
      return;
    case 0xAA:
      return;
    case 0xCC:
      std::copy(S, S + n, D);
      return;
    case 0x33:
      for (int i = 0; i < n; ++i) D[i] = ~S[i];
      return;
    case 0x88:
      for (int i = 0; i < n; ++i) D[i] &= S[i];
      return;
    case 0xEE:
      for (int i = 0; i < n; ++i) D[i] |= S[i];
      return;
    case 0x66:
      for (int i = 0; i < n; ++i) D[i] ^= S[i];
      return;
    case 0x44:
      for (int i = 0; i < n; ++i) D[i] = S[i] & ~D[i];
      return;
    case 0x11:
      for (int i = 0; i < n; ++i) D[i] = ~(S[i] | D[i]);
      return;
    case 0xC0:
      for (int i = 0; i < n; ++i) D[i] = P[i] & S[i];
      return;
    case 0xBB:
      for (int i = 0; i < n; ++i) D[i] |= ~S[i];
      return;
    case 0xF0:
      std::copy(P, P + n, D);
      return;
    case 0xFB:
      for (int i = 0; i < n; ++i) D[i] |= P[i] | ~S[i];
      return;
    case 0x5A:
      for (int i = 0; i < n; ++i) D[i] ^= P[i];
      return;
    case 0x55:
      for (int i = 0; i < n; ++i) D[i] = ~D[i];
      return;
    default:
      for (int i = 0; i < n; ++i) D[i] = EvalRop(rop, P[i], S[i], D[i]);
      return;
  }
}

template <int Bpp>
void FetchSpanT(const std::uint8_t* row, int x0, int n, std::uint32_t* out) {
  for (int i = 0; i < n; ++i) out[i] = GetRaw(row, x0 + i, Bpp);
}

template <int Bpp>
void StoreSpanT(std::uint8_t* row, int x0, int n, const std::uint32_t* in) {
  for (int i = 0; i < n; ++i) PutRaw(row, x0 + i, Bpp, in[i]);
}

template <int Bpp>
void GatherT(const std::uint8_t* row, const int* xs, int n, std::uint32_t* out) {
  for (int i = 0; i < n; ++i) out[i] = GetRaw(row, xs[i], Bpp);
}

void FetchSpan(const Bitmap& b, int y, int x0, int n, std::uint32_t* out) {
  const std::uint8_t* row = b.Row(y);
  switch (b.fmt.bpp) {
    case 1: return FetchSpanT<1>(row, x0, n, out);
    case 4: return FetchSpanT<4>(row, x0, n, out);
    case 8: return FetchSpanT<8>(row, x0, n, out);
    case 16: return FetchSpanT<16>(row, x0, n, out);
    case 24: return FetchSpanT<24>(row, x0, n, out);
    default: return FetchSpanT<32>(row, x0, n, out);
  }
}

void StoreSpan(Bitmap& b, int y, int x0, int n, const std::uint32_t* in) {
  std::uint8_t* row = b.Row(y);
  switch (b.fmt.bpp) {
    case 1: return StoreSpanT<1>(row, x0, n, in);
    case 4: return StoreSpanT<4>(row, x0, n, in);
    case 8: return StoreSpanT<8>(row, x0, n, in);
    case 16: return StoreSpanT<16>(row, x0, n, in);
    case 24: return StoreSpanT<24>(row, x0, n, in);
    default: return StoreSpanT<32>(row, x0, n, in);
  }
}

// Raw source values of one row at the given columns.
void Gather(const Bitmap& b, int y, const int* xs, int n, std::uint32_t* out) {
  const std::uint8_t* row = b.Row(y);
  switch (b.fmt.bpp) {
    case 1: return GatherT<1>(row, xs, n, out);
    case 4: return GatherT<4>(row, xs, n, out);
    case 8: return GatherT<8>(row, xs, n, out);
    case 16: return GatherT<16>(row, xs, n, out);
    case 24: return GatherT<24>(row, xs, n, out);
    default: return GatherT<32>(row, xs, n, out);
  }
}

// A copy of some rows of a bitmap (for transfers within one bitmap).
std::shared_ptr<Bitmap> CopyRows(const Bitmap& b, int y0, int y1) {
  auto c = std::make_shared<Bitmap>();
  c->width = b.width;
  c->height = y1 - y0;
  c->stride = b.stride;
  c->topDown = true;
  c->fmt = b.fmt;
  c->owned.reset(static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(b.stride * c->height))));
  if (!c->owned) return nullptr;
  c->bits = c->owned.get();
  for (int y = y0; y < y1; ++y) std::memcpy(c->Row(y - y0), b.Row(y), static_cast<std::size_t>(b.stride));
  return c;
}

struct Pattern {
  bool solid = true;
  std::uint32_t value = 0;
  std::vector<std::uint32_t> tile;
  int tw = 0;
  int th = 0;
  POINT org{};

  void Row(int y, int x0, int n, std::uint32_t* out) const {
    if (solid) {
      std::fill(out, out + n, value);
      return;
    }
    int ty = static_cast<int>(((static_cast<std::int64_t>(y) - org.y) % th + th) % th);
    const std::uint32_t* t = tile.data() + static_cast<std::int64_t>(ty) * tw;
    int tx = static_cast<int>(((static_cast<std::int64_t>(x0) - org.x) % tw + tw) % tw);
    for (int i = 0; i < n; ++i) {
      out[i] = t[tx];
      if (++tx == tw) tx = 0;
    }
  }
};

bool BuildPattern(const BlitJob& j, const ColorSpace& dcs, Pattern& p) {
  p.org = j.brushOrg;
  if (!j.brush || j.brush->lb.lbStyle != BS_PATTERN || !j.brush->pattern) {
    p.solid = true;
    p.value = dcs.FromRgb(j.brushColor);
    return true;
  }
  const Bitmap& pb = *j.brush->pattern;
  ColorSpace pcs(pb.fmt);
  Converter conv(pcs, dcs, true, pcs.FromRgb(j.dstBk), j.dstText, j.dstBk);
  p.solid = false;
  p.tw = pb.width;
  p.th = pb.height;
  p.tile.resize(static_cast<std::size_t>(pb.width) * static_cast<std::size_t>(pb.height));
  for (int y = 0; y < pb.height; ++y)
    for (int x = 0; x < pb.width; ++x)
      p.tile[static_cast<std::size_t>(y) * static_cast<std::size_t>(pb.width) + static_cast<std::size_t>(x)] =
          conv(GetRaw(pb.Row(y), x, pb.fmt.bpp));
  return true;
}

// ---------------------------------------------------------------------------------------------
// Row engine. Transfers into 8-, 16-, 24- and 32-bit destinations that combine no source pixels
// work on the destination's bytes a row at a time: the source row is converted to destination
// bytes once, and since raster operations are bitwise they apply to those bytes directly.
// Results equal the per-pixel engine's byte for byte; SetBlitFastPaths(false) forces the latter.

std::atomic<bool> gFastPaths{true};

template <class T>
inline T EvalRopT(std::uint8_t rop, T p, T s, T d) {
  T r = 0;
  for (int i = 0; i < 8; ++i)
    if ((rop >> i) & 1) r |= ((i & 4) ? p : T(~p)) & ((i & 2) ? s : T(~s)) & ((i & 1) ? d : T(~d));
  return r;
}

// D = op(P, S, D) over n bytes, eight at a time. S and P are never partly overlapping D.
template <class Op>
void Bytewise(std::uint8_t* D, const std::uint8_t* S, const std::uint8_t* P, std::size_t n, Op op) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t d, s, p;
    std::memcpy(&d, D + i, 8);
    std::memcpy(&s, S + i, 8);
    std::memcpy(&p, P + i, 8);
    d = op(p, s, d);
    std::memcpy(D + i, &d, 8);
  }
  for (; i < n; ++i)
    D[i] = static_cast<std::uint8_t>(op(std::uint64_t{P[i]}, std::uint64_t{S[i]}, std::uint64_t{D[i]}));
}

void RopBytes(std::uint8_t rop, const std::uint8_t* S, const std::uint8_t* P, std::uint8_t* D, std::size_t n) {
  using W = std::uint64_t;
  switch (rop) {
    case 0x00:
      std::memset(D, 0, n);
      return;
    case 0xFF:
      std::memset(D, 0xFF, n);
      return;
    case 0xAA:
      return;
    case 0xCC:
      std::memmove(D, S, n);
      return;
    case 0xF0:
      std::memmove(D, P, n);
      return;
    case 0x33:
      return Bytewise(D, S, P, n, [](W, W s, W) { return ~s; });
    case 0x88:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return d & s; });
    case 0xEE:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return d | s; });
    case 0x66:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return d ^ s; });
    case 0x44:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return s & ~d; });
    case 0x11:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return ~(s | d); });
    case 0xBB:
      return Bytewise(D, S, P, n, [](W, W s, W d) { return d | ~s; });
    case 0xC0:
      return Bytewise(D, S, P, n, [](W p, W s, W) { return p & s; });
    case 0xFB:
      return Bytewise(D, S, P, n, [](W p, W s, W d) { return d | p | ~s; });
    case 0x5A:
      return Bytewise(D, S, P, n, [](W p, W, W d) { return d ^ p; });
    case 0x55:
      return Bytewise(D, S, P, n, [](W, W, W d) { return ~d; });
    default:
      return Bytewise(D, S, P, n, [rop](W p, W s, W d) { return EvalRopT<W>(rop, p, s, d); });
  }
}

template <int DB>
inline void PutPixel(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  if constexpr (DB > 1) p[1] = static_cast<std::uint8_t>(v >> 8);
  if constexpr (DB > 2) p[2] = static_cast<std::uint8_t>(v >> 16);
  if constexpr (DB > 3) p[3] = static_cast<std::uint8_t>(v >> 24);
}

// Converters of one source row to destination bytes. Straight rows read n pixels from x0,
// others the columns xs. SB: source bits per pixel, DB: destination bytes per pixel.
using RowFn = void (*)(const std::uint8_t* srow, int x0, const int* xs, int n, const std::uint32_t* table,
                       std::uint8_t* out);

inline std::int64_t Col(bool straight, int x0, const int* xs, int i) { return straight ? x0 + i : xs[i]; }

// Indexed sources through a table of every source value's destination value.
template <int SB, int DB, bool St>
struct TableRow {
  static void Run(const std::uint8_t* srow, int x0, const int* xs, int n, const std::uint32_t* t, std::uint8_t* out) {
    int i = 0;
    if constexpr (DB == 3 && std::endian::native == std::endian::little) {
      // Four bytes a pixel, the fourth overwritten by the next pixel.
      for (; i + 1 < n; ++i) std::memcpy(out + static_cast<std::ptrdiff_t>(i) * 3, &t[GetRaw(srow, static_cast<int>(Col(St, x0, xs, i)), SB)], 4);
    }
    for (; i < n; ++i)
      PutPixel<DB>(out + static_cast<std::ptrdiff_t>(i) * DB, t[GetRaw(srow, static_cast<int>(Col(St, x0, xs, i)), SB)]);
  }
};

// 24- and 32-bit sources into the other of the two.
template <int SB, int DB, bool St>
struct Rgb888Row {
  static void Run(const std::uint8_t* srow, int x0, const int* xs, int n, const std::uint32_t*, std::uint8_t* out) {
    for (int i = 0; i < n; ++i)
      PutPixel<DB>(out + static_cast<std::ptrdiff_t>(i) * DB,
                   GetRaw(srow, static_cast<int>(Col(St, x0, xs, i)), SB) & 0xFFFFFFu);
  }
};

// The same format: bytes copied.
template <int SB, int DB, bool St>
struct CopyRow {
  static void Run(const std::uint8_t* srow, int x0, const int* xs, int n, const std::uint32_t*, std::uint8_t* out) {
    if constexpr (St) {
      std::memcpy(out, srow + static_cast<std::int64_t>(x0) * DB, static_cast<std::size_t>(n) * DB);
    } else {
      for (int i = 0; i < n; ++i)
        std::memcpy(out + static_cast<std::ptrdiff_t>(i) * DB, srow + static_cast<std::int64_t>(xs[i]) * DB, DB);
    }
  }
};

// 32-bit pixels to 24-bit ones and back (the fourth byte 0), straight rows. The vector loops
// leave the last pixels to the word loops, which never read or write past the row's pixels.
#if defined(__x86_64__) || defined(__i386__)
#define KELV_GDI_SSSE3 1

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

__attribute__((target("ssse3"))) int Pack32To24Ssse3(const std::uint8_t* s, std::uint8_t* out, int n) {
  const __m128i pick = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int i = 0;
  for (; i + 16 <= n; i += 16, s += 64, out += 48) {
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), pick);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16)), pick);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32)), pick);
    const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 48)), pick);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4)));
  }
  return i;
}

__attribute__((target("ssse3"))) int Expand24To32Ssse3(const std::uint8_t* s, std::uint8_t* out, int n) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  int i = 0;
  for (; i + 6 <= n; i += 4, s += 12, out += 16)  // reads 16 bytes: 4 pixels and 4 bytes of the next two
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), spread));
  return i;
}
#endif

void Pack32To24(const std::uint8_t* srow, int x0, const int*, int n, const std::uint32_t*, std::uint8_t* out) {
  const std::uint8_t* s = srow + static_cast<std::int64_t>(x0) * 4;
  int i = 0;
#ifdef KELV_GDI_SSSE3
  if (HasSsse3()) {
    i = Pack32To24Ssse3(s, out, n);
    s += static_cast<std::ptrdiff_t>(i) * 4;
    out += static_cast<std::ptrdiff_t>(i) * 3;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= n; i += 4, s += 16, out += 12) {
      std::uint32_t a, b, c, d;
      std::memcpy(&a, s, 4);
      std::memcpy(&b, s + 4, 4);
      std::memcpy(&c, s + 8, 4);
      std::memcpy(&d, s + 12, 4);
      const std::uint32_t w0 = (a & 0xFFFFFFu) | (b << 24);
      const std::uint32_t w1 = ((b >> 8) & 0xFFFFu) | (c << 16);
      const std::uint32_t w2 = ((c >> 16) & 0xFFu) | (d << 8);
      std::memcpy(out, &w0, 4);
      std::memcpy(out + 4, &w1, 4);
      std::memcpy(out + 8, &w2, 4);
    }
  }
  for (; i < n; ++i, s += 4, out += 3) {
    out[0] = s[0];
    out[1] = s[1];
    out[2] = s[2];
  }
}

void Expand24To32(const std::uint8_t* srow, int x0, const int*, int n, const std::uint32_t*, std::uint8_t* out) {
  const std::uint8_t* s = srow + static_cast<std::int64_t>(x0) * 3;
  int i = 0;
#ifdef KELV_GDI_SSSE3
  if (HasSsse3()) {
    i = Expand24To32Ssse3(s, out, n);
    s += static_cast<std::ptrdiff_t>(i) * 3;
    out += static_cast<std::ptrdiff_t>(i) * 4;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= n; i += 4, s += 12, out += 16) {
      std::uint32_t a, b, c;
      std::memcpy(&a, s, 4);
      std::memcpy(&b, s + 4, 4);
      std::memcpy(&c, s + 8, 4);
      const std::uint32_t w0 = a & 0xFFFFFFu;
      const std::uint32_t w1 = (a >> 24) | ((b & 0xFFFFu) << 8);
      const std::uint32_t w2 = (b >> 16) | ((c & 0xFFu) << 16);
      const std::uint32_t w3 = c >> 8;
      std::memcpy(out, &w0, 4);
      std::memcpy(out + 4, &w1, 4);
      std::memcpy(out + 8, &w2, 4);
      std::memcpy(out + 12, &w3, 4);
    }
  }
  for (; i < n; ++i, s += 3, out += 4) {
    out[0] = s[0];
    out[1] = s[1];
    out[2] = s[2];
    out[3] = 0;
  }
}

template <template <int, int, bool> class F, int SB, int DB>
RowFn Pick(bool straight) {
  return straight ? &F<SB, DB, true>::Run : &F<SB, DB, false>::Run;
}

template <template <int, int, bool> class F, int SB>
RowFn PickDB(int db, bool straight) {
  switch (db) {
    case 1: return Pick<F, SB, 1>(straight);
    case 2: return Pick<F, SB, 2>(straight);
    case 3: return Pick<F, SB, 3>(straight);
    default: return Pick<F, SB, 4>(straight);
  }
}

class SourceRows {
 public:
  SourceRows(const Bitmap& src, const Converter& conv, const Axis& ax, int db) : src_(src), conv_(conv), ax_(ax), db_(db) {
    const int sbpp = src.fmt.bpp;
    const bool st = ax.straight;
    if (conv.Identity()) {
      switch (db) {
        case 1: fn_ = Pick<CopyRow, 8, 1>(st); break;
        case 2: fn_ = Pick<CopyRow, 16, 2>(st); break;
        case 3: fn_ = Pick<CopyRow, 24, 3>(st); break;
        default: fn_ = Pick<CopyRow, 32, 4>(st); break;
      }
    } else if (sbpp <= 8) {
      for (std::uint32_t v = 0; v < (1u << sbpp); ++v) table_[v] = conv(v);
      switch (sbpp) {
        case 1: fn_ = PickDB<TableRow, 1>(db, st); break;
        case 4: fn_ = PickDB<TableRow, 4>(db, st); break;
        default: fn_ = PickDB<TableRow, 8>(db, st); break;
      }
    } else if (conv.Rgb888() && (db == 3 || db == 4) && (sbpp == 24 || sbpp == 32)) {
      if (sbpp == 32 && db == 3)
        fn_ = st ? &Pack32To24 : Pick<Rgb888Row, 32, 3>(false);
      else if (sbpp == 32)
        fn_ = Pick<Rgb888Row, 32, 4>(st);
      else if (db == 4)
        fn_ = st ? &Expand24To32 : Pick<Rgb888Row, 24, 4>(false);
      else
        fn_ = Pick<Rgb888Row, 24, 3>(st);
    }
  }

  // Destination bytes of n pixels of the source row sy from the transfer's column i0 on.
  void Part(int sy, int i0, int n, std::uint8_t* out) const {
    const std::uint8_t* srow = src_.Row(sy);
    const int x0 = ax_.srcLo[0] + i0;
    const int* xs = ax_.srcLo.data() + i0;
    if (fn_) return fn_(srow, x0, xs, n, table_.data(), out);
    // Any other pair of formats, a pixel at a time.
    const int sbpp = src_.fmt.bpp, dbpp = db_ * 8;
    for (int i = 0; i < n; ++i)
      PutRaw(out, i, dbpp, conv_(GetRaw(srow, static_cast<int>(Col(ax_.straight, x0, xs, i)), sbpp)));
  }

 private:
  const Bitmap& src_;
  const Converter& conv_;
  const Axis& ax_;
  int db_;
  RowFn fn_ = nullptr;
  std::array<std::uint32_t, 256> table_;  // filled for the source's values only
};

// 64 bits of a 1-bit row of rowBytes bytes from byte at on, the first pixel in the top bit
// (bits past the row are 0).
inline std::uint64_t LoadBits(const std::uint8_t* row, std::int64_t at, std::int64_t rowBytes) {
  std::uint64_t w = 0;
  if (at + 8 <= rowBytes) {
    std::memcpy(&w, row + at, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
  }
  for (std::int64_t k = at; k < rowBytes; ++k) w |= static_cast<std::uint64_t>(row[k]) << (56 - 8 * (k - at));
  return w;
}

// Calls f(i0, i1, bit) for the runs of equal mask bits of one destination row (n pixels whose
// first lies on mask column mx0 of a row mrow, null outside the mask); 0 outside the mask.
template <class F>
void ForEachMaskRun(const std::uint8_t* mrow, std::int64_t mx0, std::int64_t mw, int n, F&& f) {
  if (!mrow) {
    f(0, n, false);
    return;
  }
  const std::int64_t lo = std::clamp<std::int64_t>(-mx0, 0, n), hi = std::clamp<std::int64_t>(mw - mx0, lo, n);
  const std::int64_t rowBytes = (mw + 7) / 8;
  std::int64_t start = 0, i = lo;
  bool cur = false;
  while (i < hi) {
    const std::int64_t mx = mx0 + i;
    const int shift = static_cast<int>(mx & 7);
    // Up to 57 bits at once: the first that differs from the current run ends it.
    const std::uint64_t w = LoadBits(mrow, mx >> 3, rowBytes) << shift;
    const std::uint64_t diff = cur ? ~w : w;
    const std::int64_t span = std::min<std::int64_t>(64 - shift, hi - i);
    const std::int64_t same = diff ? std::countl_zero(diff) : 64;
    if (same >= span) {
      i += span;
      continue;
    }
    i += same;
    // Pixel i starts a run of the other bit.
    if (i > start) f(static_cast<int>(start), static_cast<int>(i), cur);
    start = i;
    cur = !cur;
  }
  if (cur) {
    f(static_cast<int>(start), static_cast<int>(hi), true);
    start = hi;
  }
  if (n > start) f(static_cast<int>(start), n, false);
}

// Scratch rows kept per thread, so that transfers allocate nothing once warmed up.
struct RowScratch {
  std::vector<std::uint8_t> s, p, t, zero;
  std::vector<std::uint32_t> values;
};

RowScratch& Scratch(std::size_t bytes, int pixels) {
  thread_local RowScratch sc;
  for (auto* v : {&sc.s, &sc.p, &sc.t, &sc.zero})
    if (v->size() < bytes) v->resize(bytes);  // zero is never written: it stays zero
  if (sc.values.size() < static_cast<std::size_t>(pixels)) sc.values.resize(static_cast<std::size_t>(pixels));
  return sc;
}

bool SharesMemory(const Bitmap& a, const Bitmap& b) {
  const std::uint8_t *a0 = a.bits, *a1 = a.bits + a.stride * a.height;
  const std::uint8_t *b0 = b.bits, *b1 = b.bits + b.stride * b.height;
  return a0 < b1 && b0 < a1;
}

// Runs a transfer row by row. A source that is the destination itself comes with straight rows,
// taken in the order that reads each before it is overwritten.
void RunRows(const BlitJob& j, Bitmap& dst, const Bitmap* src, const Bitmap* mask, const Axis& ax, const Axis& ay,
             const ColorSpace& dcs, const Converter* conv, std::uint8_t fore, std::uint8_t back, bool useP) {
  const int db = dst.fmt.bpp / 8;
  const int nx = ax.hi - ax.lo, ny = ay.hi - ay.lo;
  RowScratch& sc = Scratch(static_cast<std::size_t>(nx) * static_cast<std::size_t>(db), nx);

  // A source in the destination's memory is converted into a buffer a whole row at a time,
  // before any of the row is written.
  const bool alias = src && SharesMemory(*src, dst);
  const bool upward = src == &dst && ay.srcLo[0] < ay.lo;
  std::optional<SourceRows> reader;
  if (src) reader.emplace(*src, *conv, ax, db);
  const bool borrow = src && conv->Identity() && ax.straight && !alias;

  Pattern pat;
  const std::uint8_t* P = sc.zero.data();
  if (useP) {
    BuildPattern(j, dcs, pat);
    if (pat.solid)
      for (int i = 0; i < nx; ++i) PutRaw(sc.p.data(), i, dst.fmt.bpp, pat.value);
    P = sc.p.data();
  }

  for (int k = 0; k < ny; ++k) {
    const int r = upward ? ny - 1 - k : k;
    const int y = ay.lo + r;
    std::uint8_t* d = dst.Row(y) + static_cast<std::int64_t>(ax.lo) * db;
    const int sy = src ? ay.srcLo[static_cast<std::size_t>(r)] : 0;
    if (useP && !pat.solid) {
      pat.Row(y, ax.lo, nx, sc.values.data());
      for (int i = 0; i < nx; ++i) PutRaw(sc.p.data(), i, dst.fmt.bpp, sc.values[static_cast<std::size_t>(i)]);
    }
    if (alias) reader->Part(sy, 0, nx, sc.s.data());
    // Pixels i0 .. i1 - 1 of the row under one raster operation.
    auto apply = [&](int i0, int i1, std::uint8_t rop) {
      if (rop == 0xAA) return;
      const std::size_t off = static_cast<std::size_t>(i0) * static_cast<std::size_t>(db);
      const std::size_t len = static_cast<std::size_t>(i1 - i0) * static_cast<std::size_t>(db);
      const bool needS = src && RopUsesSource(rop);
      if (needS && rop == 0xCC && !alias) return reader->Part(sy, i0, i1 - i0, d + off);
      const std::uint8_t* S = sc.zero.data() + off;
      if (needS) {
        if (alias) {
          S = sc.s.data() + off;
        } else if (borrow) {
          S = src->Row(sy) + static_cast<std::int64_t>(ax.srcLo[0]) * db + off;
        } else {
          reader->Part(sy, i0, i1 - i0, sc.s.data() + off);
          S = sc.s.data() + off;
        }
      }
      RopBytes(rop, S, P + off, d + off, len);
    };
    if (!mask) {
      apply(0, nx, fore);
      continue;
    }
    const std::int64_t my = static_cast<std::int64_t>(j.ym) + y - j.yd;
    const std::uint8_t* mrow = (my >= 0 && my < mask->height) ? mask->Row(static_cast<int>(my)) : nullptr;
    ForEachMaskRun(mrow, static_cast<std::int64_t>(j.xm) + ax.lo - j.xd, mask->width, nx,
                   [&](int i0, int i1, bool bit) { apply(i0, i1, bit ? fore : back); });
  }
}

// Monochrome destinations: rows of bits. Buffers hold the bytes of the destination row that the
// transfer touches, bit j standing for pixel (first byte) * 8 + j.
void SetBit(std::uint8_t* row, std::int64_t bit) { row[bit >> 3] |= static_cast<std::uint8_t>(0x80u >> (bit & 7)); }

// Bits first .. first + n - 1 of a 1-bit row of `bits` pixels into out from bit off on (off < 8);
// the other bits of out's bytes are left unspecified (the row engine never stores them).
void CopyBits(const std::uint8_t* row, std::int64_t bits, std::int64_t first, int n, int off, std::uint8_t* out) {
  const std::int64_t bytes = (off + static_cast<std::int64_t>(n) + 7) / 8;
  const std::int64_t rowBytes = (bits + 7) / 8;
  for (std::int64_t k = 0; k < bytes; ++k) {
    const std::int64_t p = first - off + 8 * k;  // source bit of out's bit 8k
    if (p >= 0 && (p >> 3) + 1 < rowBytes) {
      const unsigned pair = (static_cast<unsigned>(row[p >> 3]) << 8) | row[(p >> 3) + 1];
      out[k] = static_cast<std::uint8_t>(pair >> (8 - (p & 7)));
    } else {
      out[k] = 0;
      for (int b = 0; b < 8; ++b)
        if (p + b >= 0 && p + b < bits && ((row[(p + b) >> 3] >> (7 - ((p + b) & 7))) & 1)) out[k] |= static_cast<std::uint8_t>(0x80u >> b);
    }
  }
}

void RunBitRows(const BlitJob& j, Bitmap& dst, const Bitmap* src, const Axis& ax, const Axis& ay,
                const ColorSpace& dcs, const Converter* conv, std::uint8_t rop, bool useP) {
  const int nx = ax.hi - ax.lo, ny = ay.hi - ay.lo;
  const int off = ax.lo & 7;
  const std::size_t bytes = static_cast<std::size_t>((off + nx + 7) / 8);
  RowScratch& sc = Scratch(bytes, nx);
  const bool upward = src == &dst && ay.srcLo[0] < ay.lo;
  const bool copyBits = src && conv->Identity() && ax.straight;
  std::array<std::uint32_t, 256> table{};
  if (src && src->fmt.bpp <= 8)
    for (std::uint32_t v = 0; v < (1u << src->fmt.bpp); ++v) table[v] = (*conv)(v);

  Pattern pat;
  const std::uint8_t* P = sc.zero.data();
  auto patternBits = [&](int y) {
    std::memset(sc.p.data(), 0, bytes);
    pat.Row(y, ax.lo, nx, sc.values.data());
    for (int i = 0; i < nx; ++i)
      if (sc.values[static_cast<std::size_t>(i)] & 1) SetBit(sc.p.data(), off + i);
  };
  if (useP) {
    BuildPattern(j, dcs, pat);
    if (pat.solid) patternBits(0);
    P = sc.p.data();
  }
  const std::uint8_t firstMask = static_cast<std::uint8_t>(0xFFu >> off);
  const std::uint8_t lastMask = static_cast<std::uint8_t>(0xFF00u >> (((off + nx - 1) & 7) + 1));

  for (int k = 0; k < ny; ++k) {
    const int r = upward ? ny - 1 - k : k;
    const int y = ay.lo + r;
    std::uint8_t* d = dst.Row(y) + (ax.lo >> 3);
    const std::uint8_t* S = sc.zero.data();
    if (src) {
      const std::uint8_t* srow = src->Row(ay.srcLo[static_cast<std::size_t>(r)]);
      if (copyBits) {
        CopyBits(srow, src->width, ax.srcLo[0], nx, off, sc.s.data());
      } else {
        std::memset(sc.s.data(), 0, bytes);
        const int sbpp = src->fmt.bpp;
        for (int i = 0; i < nx; ++i) {
          const std::uint32_t raw = GetRaw(srow, static_cast<int>(Col(ax.straight, ax.srcLo[0], ax.srcLo.data(), i)), sbpp);
          if ((sbpp <= 8 ? table[raw] : (*conv)(raw)) & 1) SetBit(sc.s.data(), off + i);
        }
      }
      S = sc.s.data();
    }
    if (useP && !pat.solid) patternBits(y);
    // Combined in a copy of the row's bytes, then stored inside the transfer's bits.
    std::uint8_t* t = sc.t.data();
    std::memcpy(t, d, bytes);
    RopBytes(rop, S, P, t, bytes);
    if (bytes == 1) {
      const std::uint8_t m = firstMask & lastMask;
      d[0] = static_cast<std::uint8_t>((d[0] & ~m) | (t[0] & m));
      continue;
    }
    d[0] = static_cast<std::uint8_t>((d[0] & ~firstMask) | (t[0] & firstMask));
    if (bytes > 2) std::memcpy(d + 1, t + 1, bytes - 2);
    d[bytes - 1] = static_cast<std::uint8_t>((d[bytes - 1] & ~lastMask) | (t[bytes - 1] & lastMask));
  }
}

}  // namespace

void SetBlitFastPaths(bool on) { gFastPaths.store(on, std::memory_order_relaxed); }

bool RunBlit(const BlitJob& j) {
  Bitmap& dst = *j.dst;
  const bool hasMask = j.mask != nullptr;
  const std::uint8_t fore = j.ropFore, back = hasMask ? j.ropBack : j.ropFore;
  const bool useS = RopUsesSource(fore) || RopUsesSource(back);
  const bool useP = RopUsesPattern(fore) || RopUsesPattern(back);
  const bool useD = RopUsesDest(fore) || RopUsesDest(back);
  const Bitmap* src = useS ? j.src : nullptr;
  if (useS && !src) return true;
  const bool combineMode = j.stretchMode == BLACKONWHITE || j.stretchMode == WHITEONBLACK;

  const bool fast = gFastPaths.load(std::memory_order_relaxed);
  Axis ax, ay;
  if (!MapAxis(j.xd, j.wd, j.xs, j.ws, j.clip.left, j.clip.right, src ? src->width : -1, combineMode, fast, ax))
    return true;
  if (!MapAxis(j.yd, j.hd, j.ys, j.hs, j.clip.top, j.clip.bottom, src ? src->height : -1, combineMode, fast, ay))
    return true;
  const int nx = ax.hi - ax.lo;
  const int bpp = dst.fmt.bpp;

  ColorSpace dcs(dst.fmt);
  std::shared_ptr<Bitmap> srcCopy;
  std::unique_ptr<ColorSpace> scs;
  std::unique_ptr<Converter> conv;
  if (src) {
    scs = std::make_unique<ColorSpace>(src->fmt);
    // The source's background colour only matters where colours turn monochrome.
    const std::uint32_t srcBkRaw = j.dcRules && !scs->MonoDdb() && dcs.MonoDdb() ? scs->FromRgb(j.srcBk) : 0;
    conv = std::make_unique<Converter>(*scs, dcs, j.dcRules, srcBkRaw, j.dstText, j.dstBk);
  }

  // Plain copy between identical formats: one memmove per row.
  if (fast && src && !hasMask && fore == 0xCC && ax.straight && ay.straight && conv->Identity() && bpp >= 8) {
    const int bytes = bpp / 8;
    const int ny = ay.hi - ay.lo;
    const bool upward = src == &dst && ay.srcLo[0] < ay.lo;
    for (int i = 0; i < ny; ++i) {
      int k = upward ? ny - 1 - i : i;
      std::memmove(dst.Row(ay.lo + k) + static_cast<std::int64_t>(ax.lo) * bytes,
                   src->Row(ay.srcLo[static_cast<std::size_t>(k)]) + static_cast<std::int64_t>(ax.srcLo[0]) * bytes,
                   static_cast<std::size_t>(nx) * bytes);
    }
    return true;
  }

  const bool spanX = src && combineMode && std::abs(static_cast<std::int64_t>(j.ws)) > std::abs(static_cast<std::int64_t>(j.wd));
  const bool spanY = src && combineMode && std::abs(static_cast<std::int64_t>(j.hs)) > std::abs(static_cast<std::int64_t>(j.hd));
  const bool rows = fast && (bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32) && !spanX && !spanY &&
                    (!hasMask || (j.mask->fmt.bpp == 1 && j.mask != &dst));
  const bool bitRows = fast && bpp == 1 && !hasMask && !spanX && !spanY;

  // Transfers within one bitmap read from a copy of the source rows (the row engine orders
  // straight rows instead).
  if ((src == &dst && !((rows || bitRows) && ay.straight)) || (hasMask && j.mask == &dst)) {
    int y0 = src ? ay.srcLo.front() : 0, y1 = src ? ay.srcHi.back() : 0;
    if (src) {
      for (std::size_t i = 0; i < ay.srcLo.size(); ++i) {
        y0 = std::min(y0, ay.srcLo[i]);
        y1 = std::max(y1, ay.srcHi[i]);
      }
    }
    if (src == &dst) {
      srcCopy = CopyRows(dst, y0, y1);
      if (!srcCopy) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
      }
      for (std::size_t i = 0; i < ay.srcLo.size(); ++i) {
        ay.srcLo[i] -= y0;
        ay.srcHi[i] -= y0;
      }
      src = srcCopy.get();
    }
  }
  std::shared_ptr<Bitmap> maskCopy;
  const Bitmap* mask = j.mask;
  if (hasMask && mask == &dst) {
    maskCopy = CopyRows(dst, 0, dst.height);
    if (!maskCopy) {
      SetError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    mask = maskCopy.get();
  }

  if (rows) {
    RunRows(j, dst, src, mask, ax, ay, dcs, conv.get(), fore, back, useP);
    return true;
  }
  if (bitRows) {
    RunBitRows(j, dst, src, ax, ay, dcs, conv.get(), fore, useP);
    return true;
  }

  // The per-pixel engine: every value converted and combined on its own.
  Pattern pat;
  if (useP) BuildPattern(j, dcs, pat);

  std::vector<std::uint32_t> S(static_cast<std::size_t>(nx), 0), P(static_cast<std::size_t>(nx), 0),
      D(static_cast<std::size_t>(nx), 0), D2, srcRow, acc;
  if (hasMask) D2.resize(static_cast<std::size_t>(nx));
  int sxMin = 0, sxMax = 0;
  if (spanX || spanY) {
    sxMin = ax.srcLo.front();
    sxMax = ax.srcHi.back();
    for (std::size_t i = 0; i < ax.srcLo.size(); ++i) {
      sxMin = std::min(sxMin, ax.srcLo[i]);
      sxMax = std::max(sxMax, ax.srcHi[i]);
    }
    srcRow.resize(static_cast<std::size_t>(sxMax - sxMin));
    acc.resize(static_cast<std::size_t>(nx));
  }
  const bool andCombine = j.stretchMode == BLACKONWHITE;
  auto combine = [andCombine](std::uint32_t a, std::uint32_t b) { return andCombine ? (a & b) : (a | b); };

  for (int y = ay.lo; y < ay.hi; ++y) {
    std::size_t yi = static_cast<std::size_t>(y - ay.lo);
    if (useD) FetchSpan(dst, y, ax.lo, nx, D.data());
    if (src) {
      if (spanX || spanY) {
        for (int sy = ay.srcLo[yi]; sy < ay.srcHi[yi]; ++sy) {
          const std::uint8_t* srow = src->Row(sy);
          for (int sx = sxMin; sx < sxMax; ++sx)
            srcRow[static_cast<std::size_t>(sx - sxMin)] = (*conv)(GetRaw(srow, sx, src->fmt.bpp));
          for (int i = 0; i < nx; ++i) {
            std::uint32_t v = srcRow[static_cast<std::size_t>(ax.srcLo[static_cast<std::size_t>(i)] - sxMin)];
            for (int sx = ax.srcLo[static_cast<std::size_t>(i)] + 1; sx < ax.srcHi[static_cast<std::size_t>(i)]; ++sx)
              v = combine(v, srcRow[static_cast<std::size_t>(sx - sxMin)]);
            acc[static_cast<std::size_t>(i)] = sy == ay.srcLo[yi] ? v : combine(acc[static_cast<std::size_t>(i)], v);
          }
        }
        S = acc;
      } else {
        if (ax.straight)
          FetchSpan(*src, ay.srcLo[yi], ax.srcLo[0], nx, S.data());
        else
          Gather(*src, ay.srcLo[yi], ax.srcLo.data(), nx, S.data());
        if (!conv->Identity())
          for (int i = 0; i < nx; ++i) S[static_cast<std::size_t>(i)] = (*conv)(S[static_cast<std::size_t>(i)]);
      }
    }
    if (useP) pat.Row(y, ax.lo, nx, P.data());
    if (!hasMask) {
      ApplyRop(fore, S.data(), P.data(), D.data(), nx);
    } else {
      D2 = D;
      ApplyRop(fore, S.data(), P.data(), D.data(), nx);
      ApplyRop(back, S.data(), P.data(), D2.data(), nx);
      std::int64_t my = static_cast<std::int64_t>(j.ym) + y - j.yd;
      const std::uint8_t* mrow = (my >= 0 && my < mask->height) ? mask->Row(static_cast<int>(my)) : nullptr;
      for (int i = 0; i < nx; ++i) {
        std::int64_t mx = static_cast<std::int64_t>(j.xm) + ax.lo + i - j.xd;
        bool bit = mrow && mx >= 0 && mx < mask->width && GetRaw(mrow, static_cast<int>(mx), mask->fmt.bpp) != 0;
        if (!bit) D[static_cast<std::size_t>(i)] = D2[static_cast<std::size_t>(i)];
      }
    }
    StoreSpan(dst, y, ax.lo, nx, D.data());
  }
  return true;
}

}  // namespace gdi

using namespace gdi;

namespace {

// A transfer between device contexts; src null when the raster operation needs no source.
BOOL DcBlit(Dc& d, int xd, int yd, int wd, int hd, Dc* s, int xs, int ys, int ws, int hs, std::uint8_t fore,
            std::uint8_t back, const Bitmap* mask, int xm, int ym, const Brush* brushOverride = nullptr) {
  Bitmap* bm;
  RECT clip;
  if (!DrawTarget(d, bm, clip)) return TRUE;
  BlitJob j;
  j.dst = bm;
  j.clip = clip;
  j.xd = d.ToDeviceX(xd);
  j.yd = d.ToDeviceY(yd);
  j.wd = wd;
  j.hd = hd;
  j.dstText = ResolveColor(d.st, d.st.textColor, bm);
  j.dstBk = ResolveColor(d.st, d.st.bkColor, bm);
  j.stretchMode = d.st.stretchMode;
  j.ropFore = fore;
  j.ropBack = back;
  j.mask = mask;
  j.xm = xm;
  j.ym = ym;
  bool useS = RopUsesSource(fore) || (mask && RopUsesSource(back));
  bool useP = RopUsesPattern(fore) || (mask && RopUsesPattern(back));
  if (useS) {
    if (!s || !s->memory || !s->st.bitmap) return TRUE;  // a display DC has no pixels to read
    j.src = s->st.bitmap.get();
    j.xs = s->ToDeviceX(xs);
    j.ys = s->ToDeviceY(ys);
    j.ws = ws;
    j.hs = hs;
    j.srcBk = ResolveColor(s->st, s->st.bkColor, j.src);
    j.srcState = &s->st;
  }
  if (useP) {
    const Brush* br = brushOverride ? brushOverride : d.st.brush.get();
    if (!br || br->lb.lbStyle == BS_NULL) return TRUE;  // a hollow brush paints nothing
    j.brush = br;
    j.brushColor = ResolveColor(d.st, br->lb.lbColor, bm);
    j.brushOrg = d.st.brushOrg;
  }
  return RunBlit(j) ? TRUE : FALSE;
}

std::uint8_t RopIndex(DWORD rop) { return static_cast<std::uint8_t>((rop >> 16) & 0xFF); }

}  // namespace

BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc, int wSrc,
                int hSrc, DWORD rop) {
  std::shared_ptr<Dc> d = FindDc(hdcDest);
  if (!d) return FALSE;
  std::uint8_t r = RopIndex(rop);
  std::shared_ptr<Dc> s;
  if (RopUsesSource(r)) {
    s = FindDc(hdcSrc);
    if (!s) return FALSE;
  }
  return DcBlit(*d, xDest, yDest, wDest, hDest, s.get(), xSrc, ySrc, wSrc, hSrc, r, r, nullptr, 0, 0);
}

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
  return StretchBlt(hdc, x, y, cx, cy, hdcSrc, x1, y1, cx, cy, rop);
}

BOOL MaskBlt(HDC hdcDest, int xDest, int yDest, int width, int height, HDC hdcSrc, int xSrc, int ySrc,
             HBITMAP hbmMask, int xMask, int yMask, DWORD rop) {
  if (!hbmMask) return BitBlt(hdcDest, xDest, yDest, width, height, hdcSrc, xSrc, ySrc, rop & 0x00FFFFFFu);
  std::shared_ptr<Dc> d = FindDc(hdcDest);
  if (!d) return FALSE;
  std::shared_ptr<Bitmap> mask = FindBitmap(hbmMask);
  if (!mask) return FALSE;
  if (mask->fmt.bpp != 1) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::uint8_t fore = RopIndex(rop), back = static_cast<std::uint8_t>((rop >> 24) & 0xFF);
  std::shared_ptr<Dc> s;
  if (RopUsesSource(fore) || RopUsesSource(back)) {
    s = FindDc(hdcSrc);
    if (!s) return FALSE;
  }
  if (width <= 0 || height <= 0) return TRUE;
  return DcBlit(*d, xDest, yDest, width, height, s.get(), xSrc, ySrc, width, height, fore, back, mask.get(), xMask,
                yMask);
}

BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
  std::shared_ptr<Dc> d = FindDc(hdc);
  if (!d) return FALSE;
  std::uint8_t r = RopIndex(rop);
  if (RopUsesSource(r)) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return DcBlit(*d, x, y, w, h, nullptr, 0, 0, 0, 0, r, r, nullptr, 0, 0);
}

int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
  std::shared_ptr<Dc> d = FindDc(hDC);
  if (!d) return 0;
  std::shared_ptr<Brush> br = FindBrush(hbr);
  if (!br) return 0;
  if (!lprc) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::int64_t w = static_cast<std::int64_t>(lprc->right) - lprc->left;
  std::int64_t h = static_cast<std::int64_t>(lprc->bottom) - lprc->top;
  if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return 1;
  return DcBlit(*d, lprc->left, lprc->top, static_cast<int>(w), static_cast<int>(h), nullptr, 0, 0, 0, 0, 0xF0, 0xF0,
                nullptr, 0, 0, br.get())
             ? 1
             : 0;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  std::shared_ptr<Dc> d = FindDc(hdc);
  if (!d) return FALSE;
  std::int64_t l = std::min(left, right), r = std::max(left, right);
  std::int64_t t = std::min(top, bottom), b = std::max(top, bottom);
  auto fill = [&](std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const Brush* br) {
    if (x1 <= x0 || y1 <= y0) return TRUE;
    return DcBlit(*d, static_cast<int>(x0), static_cast<int>(y0), Saturate(x1 - x0), Saturate(y1 - y0),
                  nullptr, 0, 0, 0, 0, 0xF0, 0xF0, nullptr, 0, 0, br);
  };
  const Pen* pen = d->st.pen.get();
  if (!pen || pen->lp.lopnStyle == static_cast<UINT>(PS_NULL)) {
    // Without an outline the interior covers one pixel less to the right and at the bottom.
    return fill(l, t, r - 1, b - 1, d->st.brush.get());
  }
  // The outline lies inside the rectangle, pen width thick, in the pen's colour.
  std::int64_t pw = std::max<LONG>(1, pen->lp.lopnWidth.x);
  Brush line;
  line.lb.lbStyle = BS_SOLID;
  line.lb.lbColor = pen->lp.lopnColor;
  BOOL ok = fill(l + pw, t + pw, r - pw, b - pw, d->st.brush.get());
  ok &= fill(l, t, r, std::min(b, t + pw), &line);
  ok &= fill(l, std::max(t, b - pw), r, b, &line);
  ok &= fill(l, t + pw, std::min(r, l + pw), b - pw, &line);
  ok &= fill(std::max(l, r - pw), t + pw, r, b - pw, &line);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Device-independent sources

namespace {

// Draws a DIB in caller memory onto a DC. The source rectangle is in top-down rows of the view.
BOOL DibBlit(Dc& d, int xd, int yd, int wd, int hd, const Bitmap& view, int xs, int ys, int ws, int hs,
             std::uint8_t rop) {
  Bitmap* bm;
  RECT clip;
  if (!DrawTarget(d, bm, clip)) return TRUE;
  BlitJob j;
  j.dst = bm;
  j.clip = clip;
  j.xd = d.ToDeviceX(xd);
  j.yd = d.ToDeviceY(yd);
  j.wd = wd;
  j.hd = hd;
  j.src = &view;
  j.xs = xs;
  j.ys = ys;
  j.ws = ws;
  j.hs = hs;
  j.dcRules = false;
  j.dstText = ResolveColor(d.st, d.st.textColor, bm);
  j.dstBk = ResolveColor(d.st, d.st.bkColor, bm);
  j.stretchMode = d.st.stretchMode;
  j.ropFore = j.ropBack = rop;
  if (RopUsesPattern(rop)) {
    const Brush* br = d.st.brush.get();
    if (!br || br->lb.lbStyle == BS_NULL) return TRUE;
    j.brush = br;
    j.brushColor = ResolveColor(d.st, br->lb.lbColor, bm);
    j.brushOrg = d.st.brushOrg;
  }
  return RunBlit(j) ? TRUE : FALSE;
}

}  // namespace

int StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc, int SrcWidth,
                  int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop) {
  std::shared_ptr<Dc> d = FindDc(hdc);
  if (!d) return 0;
  DibDesc desc;
  if (!DescribeDib(lpbmi, iUsage, d.get(), desc)) return 0;
  std::uint8_t r = RopIndex(rop);
  if (RopUsesSource(r) && !lpBits) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::shared_ptr<Bitmap> view = DibView(desc, lpBits);
  // For a bottom-up DIB (xSrc, ySrc) is the lower-left corner, counted from the bottom row.
  std::int64_t ys = desc.topDown ? ySrc : static_cast<std::int64_t>(desc.height) - ySrc - SrcHeight;
  if (ys < INT32_MIN || ys > INT32_MAX) return 0;
  if (!DibBlit(*d, xDest, yDest, DestWidth, DestHeight, *view, xSrc, static_cast<int>(ys), SrcWidth, SrcHeight, r))
    return 0;
  return SrcHeight < 0 ? -SrcHeight : SrcHeight;
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT StartScan,
                      UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi, UINT ColorUse) {
  std::shared_ptr<Dc> d = FindDc(hdc);
  if (!d) return 0;
  DibDesc desc;
  if (!DescribeDib(lpbmi, ColorUse, d.get(), desc)) return 0;
  if (!lpvBits) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (StartScan >= static_cast<UINT>(desc.height)) return 0;
  int band = static_cast<int>(std::min<std::int64_t>(cLines, desc.height - static_cast<std::int64_t>(StartScan)));
  if (band <= 0) return 0;
  int wi = static_cast<int>(std::min<DWORD>(w, INT32_MAX)), hi = static_cast<int>(std::min<DWORD>(h, INT32_MAX));
  // The buffer holds scans StartScan .. StartScan + band - 1; view them as a bitmap of band rows.
  DibDesc bandDesc = desc;
  bandDesc.height = band;
  std::shared_ptr<Bitmap> view = DibView(bandDesc, lpvBits);
  std::int64_t ys = desc.topDown ? static_cast<std::int64_t>(ySrc) - StartScan
                                 : static_cast<std::int64_t>(StartScan) + band - ySrc - hi;
  if (ys < INT32_MIN || ys > INT32_MAX) return 0;
  if (!DibBlit(*d, xDest, yDest, wi, hi, *view, xSrc, static_cast<int>(ys), wi, hi, 0xCC)) return 0;
  return band;
}
