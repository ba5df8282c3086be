// Pixel formats and colour conversion.
#include <algorithm>
#include <bit>

#include "platform/gdi/GdiInternal.h"

namespace gdi {

Format DdbFormat(int bpp) {
  Format f;
  f.bpp = bpp;
  f.dib = false;
  if (bpp == 16) {
    f.masks[0] = 0x7C00;
    f.masks[1] = 0x03E0;
    f.masks[2] = 0x001F;
  } else if (bpp > 16) {
    f.masks[0] = 0xFF0000;
    f.masks[1] = 0x00FF00;
    f.masks[2] = 0x0000FF;
  }
  return f;
}

Format ScreenFormat() { return DdbFormat(ScreenBpp()); }

std::vector<RGBQUAD> EffectiveTable(const Format& fmt) {
  if (fmt.bpp > 8) return {};
  if (fmt.dib) return fmt.table;
  switch (fmt.bpp) {
    case 1:
      return {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    case 4:
      return std::vector<RGBQUAD>(Vga16Table().begin(), Vga16Table().end());
    default: {
      // 8-bit device bitmaps hold indices into the system palette.
      std::array<PALETTEENTRY, 256> sys = SystemPaletteSnapshot();
      std::vector<RGBQUAD> t(256);
      for (int i = 0; i < 256; ++i) t[i] = {sys[i].peBlue, sys[i].peGreen, sys[i].peRed, 0};
      return t;
    }
  }
}

COLORREF ResolveColor(const DcState& st, COLORREF c, const Bitmap* target) {
  switch (c >> 24) {
    case 0x01: {
      const std::vector<PALETTEENTRY>* pal = st.palette ? &st.palette->entries : nullptr;
      if (!pal || pal->empty()) return 0;
      std::size_t i = c & 0xFFFF;
      if (i >= pal->size()) i = 0;
      const PALETTEENTRY& e = (*pal)[i];
      return RGB(e.peRed, e.peGreen, e.peBlue);
    }
    case 0x02: {
      COLORREF rgb = c & 0xFFFFFF;
      // Only bitmaps that hold system-palette indices go through the logical palette.
      if (target && !target->fmt.dib && target->fmt.bpp == 8 && st.palette && !st.palette->entries.empty()) {
        const auto& e = st.palette->entries;
        const PALETTEENTRY& n = e[NearestIndex(e.data(), static_cast<int>(e.size()), rgb)];
        return RGB(n.peRed, n.peGreen, n.peBlue);
      }
      return rgb;
    }
    default:
      return c & 0xFFFFFF;
  }
}

void Channel::Set(DWORD m) {
  mask = m;
  shift = m ? std::countr_zero(m) : 0;
  bits = std::popcount(m);
}

int Channel::Extract(std::uint32_t v) const {
  if (bits == 0) return 0;
  std::uint32_t c = (v & mask) >> shift;
  if (bits >= 8) return static_cast<int>(c >> (bits - 8));
  std::uint32_t max = (1u << bits) - 1;
  return static_cast<int>((c * 255 + max / 2) / max);
}

std::uint32_t Channel::Pack(int c8) const {
  if (bits == 0) return 0;
  std::uint32_t c = static_cast<std::uint32_t>(c8);
  std::uint32_t v = bits >= 8 ? (c << (bits - 8)) | (bits > 8 ? c >> (16 - std::min(bits, 16)) : 0) : c >> (8 - bits);
  return (v << shift) & mask;
}

ColorSpace::ColorSpace(const Format& fmt) : bpp_(fmt.bpp), monoDdb_(fmt.MonoDdb()) {
  if (bpp_ <= 8) {
    table_ = EffectiveTable(fmt);
    return;
  }
  DWORD m[3] = {fmt.masks[0], fmt.masks[1], fmt.masks[2]};
  if (bpp_ == 24 || !(m[0] | m[1] | m[2])) {
    Format d = DdbFormat(bpp_);
    std::copy(d.masks, d.masks + 3, m);
  }
  for (int i = 0; i < 3; ++i) ch_[i].Set(m[i]);
  plain888_ = m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF;
}

COLORREF ColorSpace::ToRgb(std::uint32_t v) const {
  if (bpp_ <= 8) {
    if (v >= table_.size()) return 0;
    const RGBQUAD& q = table_[v];
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
  }
  if (plain888_) return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  return RGB(ch_[0].Extract(v), ch_[1].Extract(v), ch_[2].Extract(v));
}

std::uint32_t ColorSpace::FromRgb(COLORREF rgb) const {
  rgb &= 0xFFFFFF;
  if (bpp_ <= 8) {
    if (table_.empty()) return 0;
    if (cache_.empty()) cache_.resize(4096);
    CacheEntry& e = cache_[(rgb * 2654435761u) >> 20];
    if (e.key != rgb) {
      e.key = rgb;
      e.value = static_cast<std::uint32_t>(NearestIndex(table_.data(), static_cast<int>(table_.size()), rgb));
    }
    return e.value;
  }
  if (plain888_)
    return (static_cast<std::uint32_t>(GetRValue(rgb)) << 16) | (static_cast<std::uint32_t>(GetGValue(rgb)) << 8) |
           GetBValue(rgb);
  return ch_[0].Pack(GetRValue(rgb)) | ch_[1].Pack(GetGValue(rgb)) | ch_[2].Pack(GetBValue(rgb));
}

bool ColorSpace::SameAs(const ColorSpace& o) const {
  if (bpp_ != o.bpp_) return false;
  if (bpp_ <= 8) {
    if (table_.size() != o.table_.size()) return false;
    for (std::size_t i = 0; i < table_.size(); ++i) {
      const RGBQUAD &a = table_[i], &b = o.table_[i];
      if (a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue) return false;
    }
    return true;
  }
  for (int i = 0; i < 3; ++i)
    if (ch_[i].mask != o.ch_[i].mask) return false;
  return true;
}

Converter::Converter(const ColorSpace& src, const ColorSpace& dst, bool dcRules, std::uint32_t srcBkRaw,
                     COLORREF dstText, COLORREF dstBk)
    : src_(src), dst_(dst) {
  if (dcRules && src.MonoDdb() && !dst.MonoDdb()) {
    mode_ = Mode::Lut;
    lut_ = {dst.FromRgb(dstText), dst.FromRgb(dstBk)};
    lutMask_ = 1;
  } else if (dcRules && !src.MonoDdb() && dst.MonoDdb()) {
    mode_ = Mode::ToMono;
    srcBk_ = srcBkRaw;
  } else if (src.SameAs(dst)) {
    mode_ = Mode::Identity;
  } else if (src.Indexed()) {
    mode_ = Mode::Lut;
    std::uint32_t n = 1u << src.Bpp();
    lutMask_ = n - 1;
    lut_.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) lut_[i] = dst.FromRgb(src.ToRgb(i));
  } else if (src.Plain888() && dst.Plain888()) {
    mode_ = Mode::Rgb888;
  } else {
    mode_ = Mode::Direct;
  }
}

}  // namespace gdi
