#pragma once
// GIF data made by hand for the second GIF graphic's tests: LZW code streams and whole files.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/picture/PxTestSupport.h"

namespace pxtest {

// Packs codes as GIF image data: the minimum code size byte, 255-byte sub-blocks, terminator.
// Widths follow the decoder: a clear code resets them, every code after the first one of a
// run adds a table entry, and the width grows when the next entry reaches it (up to 12 bits).
inline Bytes PackCodes(int Minimum, const std::vector<std::uint32_t>& Codes) {
  const std::uint32_t clear = 1u << Minimum;
  int width = Minimum + 1;
  std::uint32_t next = clear + 2;
  bool afterClear = false;
  std::vector<std::uint8_t> bits;
  std::uint64_t acc = 0;
  int held = 0;
  for (std::uint32_t code : Codes) {
    acc |= static_cast<std::uint64_t>(code) << held;
    held += width;
    while (held >= 8) {
      bits.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      held -= 8;
    }
    if (code == clear) {
      width = Minimum + 1;
      next = clear + 2;
      afterClear = true;
      continue;
    }
    if (afterClear) {
      afterClear = false;
      continue;
    }
    if (next < 4096) {
      ++next;
      if (next >= (1u << width) && width < 12) ++width;
    }
  }
  if (held > 0) bits.push_back(static_cast<std::uint8_t>(acc));
  Bytes out{static_cast<std::uint8_t>(Minimum)};
  for (std::size_t i = 0; i < bits.size(); i += 255) {
    const std::size_t n = std::min<std::size_t>(255, bits.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), bits.begin() + static_cast<std::ptrdiff_t>(i), bits.begin() + static_cast<std::ptrdiff_t>(i + n));
  }
  out.push_back(0);
  return out;
}

struct CodeTrace {
  int MaxWidth{0};
  int Clears{0};
  bool EndCode{false};
  std::uint32_t HighestCode{0};
  std::size_t Codes{0};
};

// Walks the codes of GIF image data the way a decoder sizes them.
inline CodeTrace TraceCodes(const Bytes& Data) {
  CodeTrace t;
  const int minimum = Data.at(0);
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 1; at < Data.size() && Data[at] != 0; at += Data[at] + 1u)
    bytes.insert(bytes.end(), Data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                 Data.begin() + static_cast<std::ptrdiff_t>(std::min(Data.size(), at + 1 + Data[at])));
  const std::uint32_t clear = 1u << minimum, end = clear + 1;
  int width = minimum + 1;
  std::uint32_t next = clear + 2;
  bool afterClear = false;
  std::uint64_t bit = 0;
  while (bit + static_cast<std::uint64_t>(width) <= 8 * bytes.size()) {
    std::uint32_t code = 0;
    for (int i = 0; i < width; ++i, ++bit)
      code |= static_cast<std::uint32_t>((bytes[bit / 8] >> (bit % 8)) & 1) << i;
    ++t.Codes;
    t.MaxWidth = std::max(t.MaxWidth, width);
    t.HighestCode = std::max(t.HighestCode, code);
    if (code == end) {
      t.EndCode = true;
      break;
    }
    if (code == clear) {
      ++t.Clears;
      width = minimum + 1;
      next = clear + 2;
      afterClear = true;
      continue;
    }
    if (afterClear) {
      afterClear = false;
      continue;
    }
    if (next < 4096) {
      ++next;
      if (next >= (1u << width) && width < 12) ++width;
    }
  }
  return t;
}

// A GIF file put together block by block.
class GifBuilder {
 public:
  explicit GifBuilder(const std::string& Signature = "GIF89a") { AppendText(b_, Signature); }
  GifBuilder& Screen(int W, int H, int TableBits = 0, int Background = 0, int Aspect = 0) {
    Append16(b_, static_cast<std::uint16_t>(W));
    Append16(b_, static_cast<std::uint16_t>(H));
    b_.push_back(static_cast<std::uint8_t>(TableBits ? 0x80 | 0x70 | (TableBits - 1) : 0));
    b_.push_back(static_cast<std::uint8_t>(Background));
    b_.push_back(static_cast<std::uint8_t>(Aspect));
    if (TableBits) Table(TableBits);
    return *this;
  }
  // Entry i: (i * 40, 255 - i * 40, i) unless given.
  GifBuilder& Table(int Bits, std::vector<std::uint32_t> Rgb = {}) {
    for (int i = 0; i < (1 << Bits); ++i) {
      const std::uint32_t c = i < static_cast<int>(Rgb.size()) ? Rgb[static_cast<std::size_t>(i)]
                                                               : (static_cast<std::uint32_t>((i * 40) & 255) << 16) |
                                                                     (static_cast<std::uint32_t>((255 - i * 40) & 255) << 8) |
                                                                     static_cast<std::uint32_t>(i & 255);
      b_.push_back(static_cast<std::uint8_t>(c >> 16));
      b_.push_back(static_cast<std::uint8_t>(c >> 8));
      b_.push_back(static_cast<std::uint8_t>(c));
    }
    return *this;
  }
  GifBuilder& Control(int Delay, int Transparent = -1, int Disposal = 0, int Size = 4) {
    b_.insert(b_.end(), {0x21, 0xF9, static_cast<std::uint8_t>(Size)});
    b_.push_back(static_cast<std::uint8_t>((Disposal << 2) | (Transparent >= 0 ? 1 : 0)));
    Append16(b_, static_cast<std::uint16_t>(Delay));
    b_.push_back(static_cast<std::uint8_t>(Transparent >= 0 ? Transparent : 0));
    b_.push_back(0);
    return *this;
  }
  GifBuilder& Comment(const std::vector<std::string>& Lines) {
    b_.insert(b_.end(), {0x21, 0xFE});
    for (const std::string& l : Lines) {
      b_.push_back(static_cast<std::uint8_t>(l.size()));
      AppendText(b_, l);
    }
    b_.push_back(0);
    return *this;
  }
  GifBuilder& Application(const std::string& Id, const Bytes& Data) {
    b_.insert(b_.end(), {0x21, 0xFF, static_cast<std::uint8_t>(Id.size())});
    AppendText(b_, Id);
    b_.push_back(static_cast<std::uint8_t>(Data.size()));
    b_.insert(b_.end(), Data.begin(), Data.end());
    b_.push_back(0);
    return *this;
  }
  GifBuilder& Loop(int Count, const std::string& Id = "NETSCAPE2.0") {
    return Application(Id, {1, static_cast<std::uint8_t>(Count), static_cast<std::uint8_t>(Count >> 8)});
  }
  GifBuilder& PlainText(const std::string& Text) {
    b_.insert(b_.end(), {0x21, 0x01, 12});
    b_.insert(b_.end(), 12, 1);
    b_.push_back(static_cast<std::uint8_t>(Text.size()));
    AppendText(b_, Text);
    b_.push_back(0);
    return *this;
  }
  // An image: descriptor, optional local table, image data of the codes.
  GifBuilder& Image(int X, int Y, int W, int H, const Bytes& Data, int LocalBits = 0, bool Interlaced = false) {
    b_.push_back(',');
    Append16(b_, static_cast<std::uint16_t>(X));
    Append16(b_, static_cast<std::uint16_t>(Y));
    Append16(b_, static_cast<std::uint16_t>(W));
    Append16(b_, static_cast<std::uint16_t>(H));
    b_.push_back(static_cast<std::uint8_t>((LocalBits ? 0x80 | (LocalBits - 1) : 0) | (Interlaced ? 0x40 : 0)));
    if (LocalBits) Table(LocalBits);
    b_.insert(b_.end(), Data.begin(), Data.end());
    return *this;
  }
  GifBuilder& Raw(const Bytes& B) {
    b_.insert(b_.end(), B.begin(), B.end());
    return *this;
  }
  GifBuilder& Trailer() {
    b_.push_back(';');
    return *this;
  }
  const Bytes& File() const { return b_; }

 private:
  Bytes b_;
};

// Image data of W x H pixels of one index, as codes of a 2-bit (or wider) code size.
inline Bytes Flat(int Minimum, std::uint32_t Index, int Pixels) {
  std::vector<std::uint32_t> codes{1u << Minimum};
  for (int i = 0; i < Pixels; ++i) codes.push_back(Index);
  codes.push_back((1u << Minimum) + 1);
  return PackCodes(Minimum, codes);
}

}  // namespace pxtest
