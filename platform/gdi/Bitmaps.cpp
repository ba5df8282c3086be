// Bitmap creation, device-independent transfers and raw bit access.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "platform/gdi/GdiInternal.h"

namespace gdi {

bool CheckSize(std::int64_t width, std::int64_t height, std::int64_t stride) {
  if (width <= 0 || height <= 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (width > kMaxDimension || height > kMaxDimension || static_cast<std::uint64_t>(width * height) > kMaxPixels ||
      static_cast<std::uint64_t>(stride * height) > kMaxBytes) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return true;
}

std::shared_ptr<Bitmap> NewBitmap(int width, int height, const Format& fmt, bool topDown, bool Cleared) {
  std::int64_t stride = fmt.dib ? DibStride(width, fmt.bpp) : DdbStride(width, fmt.bpp);
  if (!CheckSize(width, height, stride)) return nullptr;
  auto bm = std::make_shared<Bitmap>();
  const auto bytes = static_cast<std::size_t>(stride * height);
  bm->owned.reset(static_cast<std::uint8_t*>(Cleared ? std::calloc(bytes, 1) : std::malloc(bytes)));
  if (!bm->owned) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  bm->bits = bm->owned.get();
  bm->width = width;
  bm->height = height;
  bm->stride = stride;
  bm->topDown = topDown;
  bm->fmt = fmt;
  return bm;
}

namespace {

BlitJob CopyJob(Bitmap& dst, const Bitmap& src, int dstY, int srcY, int w, int h) {
  BlitJob j;
  j.dst = &dst;
  j.clip = {0, 0, dst.width, dst.height};
  j.xd = 0;
  j.yd = dstY;
  j.wd = w;
  j.hd = h;
  j.src = &src;
  j.xs = 0;
  j.ys = srcY;
  j.ws = w;
  j.hs = h;
  j.dcRules = false;
  j.stretchMode = COLORONCOLOR;
  j.ropFore = j.ropBack = 0xCC;
  return j;
}

void FillDibHeader(Bitmap& b, LONG signedHeight, DWORD clrUsed, DWORD clrImportant) {
  BITMAPINFOHEADER& h = b.dibHeader;
  h = BITMAPINFOHEADER{};
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = b.width;
  h.biHeight = signedHeight;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(b.fmt.bpp);
  h.biCompression = b.fmt.compression;
  h.biSizeImage = static_cast<DWORD>(b.stride * b.height);
  h.biClrUsed = clrUsed;
  h.biClrImportant = clrImportant;
}

bool ValidMasks(const DWORD m[3], int bpp) {
  for (int i = 0; i < 3; ++i) {
    if (m[i] == 0) return false;
    if (bpp == 16 && (m[i] >> 16)) return false;
    std::uint32_t v = m[i] >> std::countr_zero(m[i]);
    if (v & (v + 1)) return false;  // not contiguous
  }
  return !((m[0] & m[1]) | (m[0] & m[2]) | (m[1] & m[2]));
}

bool ValidBpp(int bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

std::shared_ptr<Dc> OptionalDc(HDC hdc, bool& ok) {
  ok = true;
  if (!hdc) return nullptr;
  std::shared_ptr<Dc> dc = FindDc(hdc);
  ok = dc != nullptr;
  return dc;
}

// Row of a bitmap that a DIB scan line stands for (scan 0 is the bottom row of a bottom-up DIB).
int FirstRowOfBand(int bitmapHeight, bool topDown, int start, int count) {
  return topDown ? start : bitmapHeight - start - count;
}

}  // namespace

std::shared_ptr<Bitmap> ConvertBitmap(const Bitmap& src, const Format& fmt, bool topDown) {
  std::shared_ptr<Bitmap> out = NewBitmap(src.width, src.height, fmt, topDown);
  if (!out) return nullptr;
  if (!RunBlit(CopyJob(*out, src, 0, 0, src.width, src.height))) return nullptr;
  return out;
}

bool DescribeDib(const BITMAPINFO* bmi, UINT usage, const Dc* dc, DibDesc& out) {
  if (!bmi || (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) {
    SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 1024 || !ValidBpp(h.biBitCount)) {
    SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  int bpp = h.biBitCount;
  if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32))) {
    SetError(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::int64_t width = h.biWidth;
  std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  std::int64_t stride = DibStride(width, bpp);
  if (!CheckSize(width, height, stride)) return false;
  out = DibDesc{};
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.topDown = h.biHeight < 0;
  out.stride = stride;
  out.imageBytes = stride * height;
  out.fmt.bpp = bpp;
  out.fmt.dib = true;
  out.fmt.compression = h.biCompression;
  const std::uint8_t* base = reinterpret_cast<const std::uint8_t*>(bmi);
  out.colorTable = base + h.biSize;
  if (h.biCompression == BI_BITFIELDS) {
    std::memcpy(out.fmt.masks, base + sizeof(BITMAPINFOHEADER), sizeof out.fmt.masks);
    if (!ValidMasks(out.fmt.masks, bpp)) {
      SetError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (h.biSize == sizeof(BITMAPINFOHEADER)) out.colorTable += sizeof out.fmt.masks;
  } else if (bpp > 8) {
    Format d = DdbFormat(bpp);
    std::copy(d.masks, d.masks + 3, out.fmt.masks);
  }
  if (bpp <= 8) {
    DWORD n = 1u << bpp;
    if (h.biClrUsed != 0 && h.biClrUsed < n) n = h.biClrUsed;
    out.fmt.table.resize(n);
    if (usage == DIB_PAL_COLORS) {
      const std::vector<PALETTEENTRY>* pal = dc && dc->st.palette ? &dc->st.palette->entries : nullptr;
      for (DWORD i = 0; i < n; ++i) {
        WORD idx;
        std::memcpy(&idx, out.colorTable + 2 * i, sizeof idx);
        if (pal && idx < pal->size()) {
          const PALETTEENTRY& e = (*pal)[idx];
          out.fmt.table[i] = {e.peBlue, e.peGreen, e.peRed, 0};
        }
      }
    } else {
      std::memcpy(out.fmt.table.data(), out.colorTable, n * sizeof(RGBQUAD));
      for (RGBQUAD& q : out.fmt.table) q.rgbReserved = 0;
    }
  }
  return true;
}

std::shared_ptr<Bitmap> DibView(const DibDesc& d, const void* bits) {
  auto bm = std::make_shared<Bitmap>();
  bm->width = d.width;
  bm->height = d.height;
  bm->stride = d.stride;
  bm->topDown = d.topDown;
  bm->bits = const_cast<std::uint8_t*>(static_cast<const std::uint8_t*>(bits));
  bm->fmt = d.fmt;
  return bm;
}

}  // namespace gdi

using namespace gdi;

// ---------------------------------------------------------------------------------------------
// Creation

HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) {
  if (nWidth < 0 || nHeight < 0 || nPlanes != 1 || nBitCount == 0 || nBitCount > 32) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (nWidth == 0 || nHeight == 0) return StockBitmapHandle();
  int bpp = nBitCount <= 1 ? 1 : nBitCount <= 4 ? 4 : nBitCount <= 8 ? 8 : nBitCount <= 16 ? 16 : nBitCount <= 24 ? 24 : 32;
  std::shared_ptr<Bitmap> bm = NewBitmap(nWidth, nHeight, DdbFormat(bpp), true);
  if (!bm) return nullptr;
  if (lpBits) std::memcpy(bm->bits, lpBits, static_cast<std::size_t>(bm->stride * bm->height));
  return static_cast<HBITMAP>(AddObject(std::move(bm)));
}

HBITMAP CreateBitmapIndirect(const BITMAP* pbm) {
  if (!pbm) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!pbm->bmBits || pbm->bmWidth <= 0 || pbm->bmHeight <= 0)
    return CreateBitmap(pbm->bmWidth, pbm->bmHeight, pbm->bmPlanes, pbm->bmBitsPixel, nullptr);
  HBITMAP h = CreateBitmap(pbm->bmWidth, pbm->bmHeight, pbm->bmPlanes, pbm->bmBitsPixel, nullptr);
  if (!h) return nullptr;
  std::shared_ptr<Bitmap> bm = FindBitmap(h);
  if (pbm->bmWidthBytes < bm->stride) {
    DeleteObject(h);
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto* src = static_cast<const std::uint8_t*>(pbm->bmBits);
  for (int y = 0; y < bm->height; ++y)
    std::memcpy(bm->Row(y), src + static_cast<std::int64_t>(y) * pbm->bmWidthBytes, static_cast<std::size_t>(bm->stride));
  return h;
}

HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return nullptr;
  if (cx < 0 || cy < 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (cx == 0 || cy == 0) return StockBitmapHandle();
  std::shared_ptr<Bitmap> sel = dc->memory ? dc->st.bitmap : nullptr;
  std::shared_ptr<Bitmap> bm;
  if (sel && sel->fmt.dib) {
    bm = NewBitmap(cx, cy, sel->fmt, sel->topDown);
    if (bm) FillDibHeader(*bm, sel->topDown ? -cy : cy, sel->dibHeader.biClrUsed, sel->dibHeader.biClrImportant);
  } else {
    bm = NewBitmap(cx, cy, sel ? DdbFormat(sel->fmt.bpp) : ScreenFormat(), true);
  }
  if (!bm) return nullptr;
  return static_cast<HBITMAP>(AddObject(std::move(bm)));
}

namespace {

HBITMAP NewDibSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, bool cleared) {
  if (ppvBits) *ppvBits = nullptr;
  bool ok;
  std::shared_ptr<Dc> dc = OptionalDc(hdc, ok);
  if (!ok) return nullptr;
  DibDesc d;
  if (!DescribeDib(pbmi, usage, dc.get(), d)) return nullptr;
  std::shared_ptr<Bitmap> bm = NewBitmap(d.width, d.height, d.fmt, d.topDown, cleared);
  if (!bm) return nullptr;
  DWORD clrUsed = pbmi->bmiHeader.biClrUsed;
  if (d.fmt.bpp <= 8) clrUsed = std::min<DWORD>(clrUsed, static_cast<DWORD>(d.fmt.table.size()));
  FillDibHeader(*bm, pbmi->bmiHeader.biHeight, clrUsed, pbmi->bmiHeader.biClrImportant);
  void* bits = bm->bits;
  HBITMAP h = static_cast<HBITMAP>(AddObject(std::move(bm)));
  if (h && ppvBits) *ppvBits = bits;
  return h;
}

}  // namespace

HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset) {
  (void)offset;
  if (ppvBits) *ppvBits = nullptr;
  if (hSection) {  // file-mapping sections are not supported
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return NewDibSection(hdc, pbmi, usage, ppvBits, true);
}

HBITMAP GdiCreateDIBSectionForWriting(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits) {
  return NewDibSection(hdc, pbmi, usage, ppvBits, false);
}

HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* pbmih, DWORD flInit, const void* pjBits,
                       const BITMAPINFO* pbmi, UINT iUsage) {
  if (!pbmih) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool ok;
  std::shared_ptr<Dc> dc = OptionalDc(hdc, ok);
  if (!ok) return nullptr;
  Format fmt = DdbFormat(1);
  if (dc) {
    if (!dc->memory)
      fmt = ScreenFormat();
    else if (dc->st.bitmap)
      fmt = DdbFormat(dc->st.bitmap->fmt.bpp);
  }
  std::int64_t width = pbmih->biWidth;
  std::int64_t height = pbmih->biHeight < 0 ? -static_cast<std::int64_t>(pbmih->biHeight) : pbmih->biHeight;
  if (!CheckSize(width, height, DdbStride(width, fmt.bpp))) return nullptr;
  std::shared_ptr<Bitmap> bm = NewBitmap(static_cast<int>(width), static_cast<int>(height), fmt, true);
  if (!bm) return nullptr;
  HBITMAP h = static_cast<HBITMAP>(AddObject(bm));
  if (!h) return nullptr;
  if ((flInit & CBM_INIT) && pjBits && pbmi) {
    DibDesc d;
    if (!DescribeDib(pbmi, iUsage, dc.get(), d) ||
        SetDIBits(hdc, h, 0, static_cast<UINT>(d.height), pjBits, pbmi, iUsage) == 0) {
      DWORD err = LastError();
      DeleteObject(h);
      SetError(err);
      return nullptr;
    }
  }
  return h;
}

// ---------------------------------------------------------------------------------------------
// Device-independent transfers

int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage) {
  std::shared_ptr<Bitmap> bm = FindBitmap(hbm);
  if (!bm) return 0;
  bool ok;
  std::shared_ptr<Dc> dc = OptionalDc(hdc, ok);
  if (!ok) return 0;
  if (!lpbmi || lpbmi->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
      (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  BITMAPINFOHEADER& h = lpbmi->bmiHeader;
  if (h.biBitCount == 0) {
    if (lpvBits) {
      SetError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    // Describe the bitmap's own format.
    h.biWidth = bm->width;
    h.biHeight = bm->fmt.dib ? bm->dibHeader.biHeight : bm->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bm->fmt.bpp);
    ColorSpace cs(bm->fmt);
    bool defaultMasks = bm->fmt.bpp <= 8 || bm->fmt.bpp == 24 ||
                        cs.SameAs(ColorSpace(DdbFormat(bm->fmt.bpp)));
    h.biCompression = defaultMasks ? BI_RGB : BI_BITFIELDS;
    h.biSizeImage = static_cast<DWORD>(DibStride(bm->width, bm->fmt.bpp) * bm->height);
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    return bm->height;
  }
  int bpp = h.biBitCount;
  // A header copied from a BI_BITFIELDS section may ask for another depth: plain rows then.
  if (h.biCompression == BI_BITFIELDS && bpp != 16 && bpp != 32) h.biCompression = BI_RGB;
  if (!ValidBpp(bpp) || (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS)) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::int64_t width = h.biWidth;
  std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  std::int64_t stride = DibStride(width, bpp);
  if (!CheckSize(width, height, stride)) return 0;
  h.biSizeImage = static_cast<DWORD>(stride * height);
  Format fmt;
  fmt.bpp = bpp;
  fmt.dib = true;
  fmt.compression = h.biCompression;
  auto* base = reinterpret_cast<std::uint8_t*>(lpbmi);
  if (bpp <= 8) {
    std::size_t n = std::size_t{1} << bpp;
    if (usage == DIB_PAL_COLORS) {
      const std::vector<PALETTEENTRY>* pal = dc && dc->st.palette ? &dc->st.palette->entries : nullptr;
      fmt.table.assign(n, RGBQUAD{});
      for (std::size_t i = 0; i < n; ++i) {
        if (pal && i < pal->size()) fmt.table[i] = {(*pal)[i].peBlue, (*pal)[i].peGreen, (*pal)[i].peRed, 0};
        WORD w = static_cast<WORD>(i);
        std::memcpy(base + h.biSize + 2 * i, &w, sizeof w);
      }
    } else {
      if (bm->fmt.bpp == bpp)
        fmt.table = EffectiveTable(bm->fmt);
      else if (bpp == 1)
        fmt.table = EffectiveTable(DdbFormat(1));
      else if (bpp == 4)
        fmt.table.assign(Vga16Table().begin(), Vga16Table().end());
      else
        fmt.table = HalftoneTable();
      fmt.table.resize(n, RGBQUAD{});
      std::memcpy(base + h.biSize, fmt.table.data(), n * sizeof(RGBQUAD));
    }
  } else if (h.biCompression == BI_BITFIELDS) {
    DWORD* masks = reinterpret_cast<DWORD*>(base + sizeof(BITMAPINFOHEADER));
    std::memcpy(fmt.masks, masks, sizeof fmt.masks);
    if (!ValidMasks(fmt.masks, bpp)) {
      if (bpp == 16) {
        fmt.masks[0] = 0xF800;
        fmt.masks[1] = 0x07E0;
        fmt.masks[2] = 0x001F;
      } else {
        Format d = DdbFormat(32);
        std::copy(d.masks, d.masks + 3, fmt.masks);
      }
      std::memcpy(masks, fmt.masks, sizeof fmt.masks);
    }
  } else {
    Format d = DdbFormat(bpp);
    std::copy(d.masks, d.masks + 3, fmt.masks);
  }
  h.biClrUsed = 0;  // a full table for 8 bits or fewer, none above
  if (!lpvBits) return static_cast<int>(height);
  if (start >= height) return 0;
  int count = static_cast<int>(std::min<std::int64_t>(cLines, height - start));
  if (count <= 0) return 0;
  std::memset(lpvBits, 0, static_cast<std::size_t>(stride * count));
  DibDesc d;
  d.fmt = fmt;
  d.width = static_cast<int>(width);
  d.height = count;
  d.topDown = h.biHeight < 0;
  d.stride = stride;
  std::shared_ptr<Bitmap> view = DibView(d, lpvBits);
  int firstRow = FirstRowOfBand(bm->height, d.topDown, static_cast<int>(start), count);
  if (!RunBlit(CopyJob(*view, *bm, 0, firstRow, view->width, count))) return 0;
  return count;
}

int SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void* lpBits, const BITMAPINFO* lpbmi,
              UINT ColorUse) {
  std::shared_ptr<Bitmap> bm = FindBitmap(hbm);
  if (!bm) return 0;
  bool ok;
  std::shared_ptr<Dc> dc = OptionalDc(hdc, ok);
  if (!ok) return 0;
  DibDesc d;
  if (!DescribeDib(lpbmi, ColorUse, dc.get(), d)) return 0;
  if (!lpBits) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (start >= static_cast<UINT>(d.height)) return 0;
  int count = static_cast<int>(std::min<std::int64_t>(cLines, d.height - static_cast<std::int64_t>(start)));
  if (count <= 0) return 0;
  d.height = count;
  std::shared_ptr<Bitmap> view = DibView(d, lpBits);
  int firstRow = FirstRowOfBand(bm->height, d.topDown, static_cast<int>(start), count);
  if (!RunBlit(CopyJob(*bm, *view, firstRow, 0, view->width, count))) return 0;
  return count;
}

// ---------------------------------------------------------------------------------------------
// Raw bits (device-dependent layout: rows WORD-aligned, top row first)

LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits) {
  std::shared_ptr<Bitmap> bm = FindBitmap(hbit);
  if (!bm) return 0;
  std::int64_t rowBytes = DdbStride(bm->width, bm->fmt.bpp);
  std::int64_t total = rowBytes * bm->height;
  if (!lpvBits) return static_cast<LONG>(total);
  std::int64_t n = std::min<std::int64_t>(std::max<LONG>(cb, 0), total);
  auto* out = static_cast<std::uint8_t*>(lpvBits);
  std::int64_t inRow = std::min(rowBytes, bm->stride);
  for (std::int64_t done = 0, y = 0; done < n; ++y) {
    std::int64_t take = std::min(rowBytes, n - done);
    std::int64_t copy = std::min(take, inRow);
    std::memcpy(out + done, bm->Row(static_cast<int>(y)), static_cast<std::size_t>(copy));
    if (take > copy) std::memset(out + done + copy, 0, static_cast<std::size_t>(take - copy));
    done += take;
  }
  return static_cast<LONG>(n);
}

LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits) {
  std::shared_ptr<Bitmap> bm = FindBitmap(hbm);
  if (!bm) return 0;
  if (!pvBits) {
    SetError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::int64_t rowBytes = DdbStride(bm->width, bm->fmt.bpp);
  std::int64_t n = std::min<std::int64_t>(cb, rowBytes * bm->height);
  const auto* in = static_cast<const std::uint8_t*>(pvBits);
  std::int64_t inRow = std::min(rowBytes, bm->stride);
  for (std::int64_t done = 0, y = 0; done < n; ++y) {
    std::int64_t take = std::min(rowBytes, n - done);
    std::memcpy(bm->Row(static_cast<int>(y)), in + done, static_cast<std::size_t>(std::min(take, inRow)));
    done += take;
  }
  return static_cast<LONG>(n);
}

// ---------------------------------------------------------------------------------------------
// Colour tables of DIB sections

namespace {

std::shared_ptr<Bitmap> SelectedDibSection(HDC hdc) {
  std::shared_ptr<Dc> dc = FindDc(hdc);
  if (!dc) return nullptr;
  std::shared_ptr<Bitmap> bm = dc->memory ? dc->st.bitmap : nullptr;
  if (!bm || !bm->fmt.dib || bm->fmt.bpp > 8) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return bm;
}

}  // namespace

UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq) {
  std::shared_ptr<Bitmap> bm = SelectedDibSection(hdc);
  if (!bm || !prgbq) return 0;
  UINT size = static_cast<UINT>(bm->fmt.table.size());
  if (iStart >= size) return 0;
  UINT n = std::min(cEntries, size - iStart);
  std::copy_n(bm->fmt.table.begin() + iStart, n, prgbq);
  return n;
}

UINT SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq) {
  std::shared_ptr<Bitmap> bm = SelectedDibSection(hdc);
  if (!bm || !prgbq) return 0;
  UINT size = static_cast<UINT>(bm->fmt.table.size());
  if (iStart >= size) return 0;
  UINT n = std::min(cEntries, size - iStart);
  std::copy_n(prgbq, n, bm->fmt.table.begin() + iStart);
  for (UINT i = 0; i < n; ++i) bm->fmt.table[iStart + i].rgbReserved = 0;
  return n;
}
