#pragma once
// GIF data made by hand for the second GIF graphic's tests: LZW code streams and whole files.
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tests/picture/PxTestSupport.h"

namespace pxtest {

// The code widths of GIF image data as a decoder sizes them: a clear code resets them; every
// code after the first one of a run (from the start or from a clear code) adds a table entry;
// after every code the width grows when the next entry no longer fits it (up to 12 bits).
struct CodeWidths {
  explicit CodeWidths(int Minimum) : Minimum(Minimum), Width(Minimum + 1), Next((1u << Minimum) + 2) {}
  // Steps past Code (read at Width bits).
  void After(std::uint32_t Code) {
    if (Code == (1u << Minimum)) {
      Width = Minimum + 1;
      Next = (1u << Minimum) + 2;
      First = true;
      return;
    }
    if (!First && Next < 4096) ++Next;
    First = false;
    if (Next >= (1u << Width) && Width < 12) ++Width;
  }
  int Minimum;
  int Width;
  std::uint32_t Next;
  bool First{true};
};

// Packs codes as GIF image data: the minimum code size byte, 255-byte sub-blocks, terminator.
inline Bytes PackCodes(int Minimum, const std::vector<std::uint32_t>& Codes) {
  CodeWidths widths(Minimum);
  std::vector<std::uint8_t> bits;
  std::uint64_t acc = 0;
  int held = 0;
  for (std::uint32_t code : Codes) {
    acc |= static_cast<std::uint64_t>(code) << held;
    held += widths.Width;
    while (held >= 8) {
      bits.push_back(static_cast<std::uint8_t>(acc));
      acc >>= 8;
      held -= 8;
    }
    widths.After(code);
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
  CodeWidths widths(minimum);
  std::uint64_t bit = 0;
  while (bit + static_cast<std::uint64_t>(widths.Width) <= 8 * bytes.size()) {
    std::uint32_t code = 0;
    for (int i = 0; i < widths.Width; ++i, ++bit)
      code |= static_cast<std::uint32_t>((bytes[bit / 8] >> (bit % 8)) & 1) << i;
    ++t.Codes;
    t.MaxWidth = std::max(t.MaxWidth, widths.Width);
    t.HighestCode = std::max(t.HighestCode, code);
    if (code == end) {
      t.EndCode = true;
      break;
    }
    if (code == clear) ++t.Clears;
    widths.After(code);
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

// How the hand-made LZW encoder writes a code stream.
struct LzwStyle {
  bool LeadingClear{true};    // a clear code before the first code
  double ClearChance{0};      // chance of a clear code after each string
  bool ClearWhenFull{true};   // false: the full table goes on being used without a clear
  int MaxBlock{255};          // sub-blocks of random lengths from 1 to this
};

// Greedy LZW of Pixels (each below 2^Minimum) as GIF image data, written as Style says.
inline Bytes LzwEncode(int Minimum, const Bytes& Pixels, const LzwStyle& Style, std::mt19937& Random) {
  const std::uint32_t clear = 1u << Minimum, end = clear + 1;
  std::unordered_map<std::uint32_t, std::uint32_t> table;
  std::uint32_t next = clear + 2;
  std::vector<std::uint32_t> codes;
  if (Style.LeadingClear) codes.push_back(clear);
  std::uniform_real_distribution<double> chance(0, 1);
  if (!Pixels.empty()) {
    std::uint32_t prefix = Pixels[0];
    for (std::size_t i = 1; i < Pixels.size(); ++i) {
      const std::uint32_t key = prefix << 8 | Pixels[i];
      if (auto it = table.find(key); it != table.end()) {
        prefix = it->second;
        continue;
      }
      codes.push_back(prefix);
      if (next < 4096) table[key] = next++;
      if ((next == 4096 && Style.ClearWhenFull) || chance(Random) < Style.ClearChance) {
        codes.push_back(clear);
        table.clear();
        next = clear + 2;
      }
      prefix = Pixels[i];
    }
    codes.push_back(prefix);
  }
  codes.push_back(end);

  CodeWidths widths(Minimum);
  Bytes bits;
  std::uint64_t acc = 0;
  int held = 0;
  for (std::uint32_t code : codes) {
    acc |= static_cast<std::uint64_t>(code) << held;
    held += widths.Width;
    for (; held >= 8; held -= 8, acc >>= 8) bits.push_back(static_cast<std::uint8_t>(acc));
    widths.After(code);
  }
  if (held > 0) bits.push_back(static_cast<std::uint8_t>(acc));
  Bytes out{static_cast<std::uint8_t>(Minimum)};
  std::uniform_int_distribution<int> block(1, std::max(1, Style.MaxBlock));
  for (std::size_t i = 0; i < bits.size();) {
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(block(Random)), bits.size() - i);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), bits.begin() + static_cast<std::ptrdiff_t>(i), bits.begin() + static_cast<std::ptrdiff_t>(i + n));
    i += n;
  }
  out.push_back(0);
  return out;
}

// Rows of W pixels in the order an interlaced picture sends them: 0, 8, ..; 4, 12, ..; 2, 6, ..;
// 1, 3, ..
inline Bytes InterlacedRows(const Bytes& Pixels, int W, int H) {
  Bytes rows;
  const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass)
    for (int y = starts[pass]; y < H; y += steps[pass])
      rows.insert(rows.end(), Pixels.begin() + static_cast<std::ptrdiff_t>(y) * W,
                  Pixels.begin() + static_cast<std::ptrdiff_t>(y + 1) * W);
  return rows;
}

// The generated pictures of the differential tests. Picture N has code size 1 + N % 8 and
// colour tables of 1 + N / 8 % 8 bits (global, local, or a global one of another size beside
// local ones); its one to three frames are noise, runs or stripes, interlaced or not, with or
// without a transparent index and delay; its code streams start with a clear code or not,
// clear in the middle or not, come in sub-blocks of every length, and some pictures are large
// enough to fill the string table, cleared then or used full. The same N gives the same file.
inline constexpr int kGeneratedGifs = 2560;

inline Bytes GeneratedGif(int N) {
  std::mt19937 random(static_cast<std::uint32_t>(N) * 2654435761u + 7);
  auto pick = [&](int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(random); };
  const int minimum = 1 + N % 8, tableBits = 1 + N / 8 % 8;
  const int literals = std::min(1 << minimum, 1 << tableBits);
  const int big = N / 64 % 8;  // 0: full table kept, 1: full table cleared
  const bool fills = big < 2 && literals >= 16;
  const int frames = fills ? 1 : pick(1, 3);
  const int tables = pick(0, 2);  // 0 global, 1 local, 2 both (the global one of other bits)
  struct Frame {
    int X, Y, W, H;
    Bytes Data;
    bool Interlaced;
  };
  std::vector<Frame> list;
  int screenW = 1, screenH = 1;
  for (int f = 0; f < frames; ++f) {
    Frame fr{pick(0, 5), pick(0, 5), fills ? 160 : pick(1, 40), fills ? 120 : pick(1, 30), {}, pick(0, 3) == 0};
    Bytes pixels(static_cast<std::size_t>(fr.W) * fr.H);
    const int pattern = fills ? 0 : pick(0, 2);
    std::uint8_t run = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      const int x = static_cast<int>(i % static_cast<std::size_t>(fr.W)), y = static_cast<int>(i / static_cast<std::size_t>(fr.W));
      if (pattern == 0) pixels[i] = static_cast<std::uint8_t>(pick(0, literals - 1));
      if (pattern == 1) {
        if (pick(0, 9) == 0) run = static_cast<std::uint8_t>(pick(0, literals - 1));
        pixels[i] = run;
      }
      if (pattern == 2) pixels[i] = static_cast<std::uint8_t>((x / 3 + y) % literals);
    }
    const Bytes stream = fr.Interlaced ? InterlacedRows(pixels, fr.W, fr.H) : pixels;
    LzwStyle style;
    style.LeadingClear = pick(0, 1) == 1;
    style.ClearChance = pick(0, 2) == 0 ? 0.02 : 0;
    style.ClearWhenFull = !fills || big == 1;
    style.MaxBlock = pick(0, 2) == 0 ? pick(1, 8) : 255;
    fr.Data = LzwEncode(minimum, stream, style, random);
    screenW = std::max(screenW, fr.X + fr.W);
    screenH = std::max(screenH, fr.Y + fr.H);
    list.push_back(std::move(fr));
  }
  GifBuilder gif;
  const int globalBits = tables == 0 ? tableBits : (tables == 2 ? 1 + (tableBits % 8) : 0);
  gif.Screen(screenW, screenH, globalBits);
  for (const Frame& fr : list) {
    if (pick(0, 1)) gif.Control(pick(0, 500), pick(0, 2) == 0 ? pick(0, (1 << tableBits) - 1) : -1, pick(0, 3));
    gif.Image(fr.X, fr.Y, fr.W, fr.H, fr.Data, tables == 0 ? 0 : tableBits, fr.Interlaced);
  }
  return gif.Trailer().File();
}

}  // namespace pxtest
