#pragma once
// Pictures made for the picture-format tests: bitmaps from a colour function, icon and cursor
// files, and byte-level helpers.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/DibFormat.h"
#include "platform/graphics/Graphics.h"

namespace pxtest {

using Bytes = std::vector<std::uint8_t>;
using ColorFn = std::function<TColor(int X, int Y)>;

// A bitmap of W x H at the pixel format (pfDevice: screen-compatible) painted by Fn.
inline std::unique_ptr<TBitmap> MakeBitmap(int W, int H, TPixelFormat Format, const ColorFn& Fn) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetWidth(W);
  b->SetHeight(H);
  auto* rowBase = static_cast<std::uint8_t*>(nullptr);
  for (int y = 0; y < H; ++y) {
    rowBase = static_cast<std::uint8_t*>(b->ScanLine(y));
    for (int x = 0; x < W; ++x) {
      TColor c = ColorToRGB(Fn(x, y));
      rowBase[3 * x] = static_cast<std::uint8_t>(c >> 16);
      rowBase[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
      rowBase[3 * x + 2] = static_cast<std::uint8_t>(c);
    }
  }
  if (Format != pf24bit) b->SetPixelFormat(Format);
  return b;
}

// A picture at 24 bits painted by Fn, for icon images.
inline dib::Image MakeImage(int W, int H, const ColorFn& Fn) {
  dib::Image img;
  img.width = W;
  img.height = H;
  img.bitCount = 24;
  const std::size_t row = static_cast<std::size_t>(dib::RowBytes(W, 24));
  img.bits.assign(row * static_cast<std::size_t>(H), 0);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      TColor c = ColorToRGB(Fn(x, y));
      std::uint8_t* p = img.bits.data() + static_cast<std::size_t>(H - 1 - y) * row + 3 * static_cast<std::size_t>(x);
      p[0] = static_cast<std::uint8_t>(c >> 16);
      p[1] = static_cast<std::uint8_t>(c >> 8);
      p[2] = static_cast<std::uint8_t>(c);
    }
  return img;
}

struct IconSpec {
  int Width{32};
  int Height{32};
  int BitCount{24};
  ColorFn Color = [](int, int) { return clRed; };
  // true where the pixel is transparent (AND mask bit set)
  std::function<bool(int X, int Y)> Transparent = [](int, int) { return false; };
  std::uint16_t HotX{0}, HotY{0};
};

// An ICO (Type 1) or CUR (Type 2) file of the given images.
inline Bytes MakeIconFile(std::uint16_t Type, const std::vector<IconSpec>& Specs) {
  dib::IconFile file;
  file.type = Type;
  for (const IconSpec& s : Specs) {
    dib::IconImage image;
    // Transparent pixels are black in the colour image (the screen shows through unchanged).
    image.color = MakeImage(s.Width, s.Height, [&](int X, int Y) { return s.Transparent(X, Y) ? clBlack : s.Color(X, Y); });
    if (s.BitCount != 24) image.color = dib::ConvertImage(image.color, s.BitCount);
    const std::size_t row = static_cast<std::size_t>(dib::RowBytes(s.Width, 1));
    image.mask.assign(row * static_cast<std::size_t>(s.Height), 0);
    for (int y = 0; y < s.Height; ++y)
      for (int x = 0; x < s.Width; ++x)
        if (s.Transparent(x, y)) image.mask[static_cast<std::size_t>(s.Height - 1 - y) * row + x / 8] |= 0x80 >> (x % 8);
    image.hotspotX = s.HotX;
    image.hotspotY = s.HotY;
    file.images.push_back(std::move(image));
  }
  return dib::WriteIco(file);
}

inline std::unique_ptr<TIcon> LoadIcon(const Bytes& File) {
  auto icon = std::make_unique<TIcon>();
  TMemoryStream s;
  s.WriteBuffer(File.data(), static_cast<std::int64_t>(File.size()));
  s.SetPosition(0);
  icon->LoadFromStream(&s);
  return icon;
}

inline Bytes StreamBytes(TStream* S) {
  Bytes b(static_cast<std::size_t>(S->Size()));
  std::int64_t pos = S->Position();
  S->SetPosition(0);
  if (!b.empty()) S->ReadBuffer(b.data(), static_cast<std::int64_t>(b.size()));
  S->SetPosition(pos);
  return b;
}

inline void PutBytes(TStream* S, const Bytes& B) {
  if (!B.empty()) S->WriteBuffer(B.data(), static_cast<std::int64_t>(B.size()));
}

inline std::uint32_t LE32(const Bytes& B, std::size_t At) {
  return static_cast<std::uint32_t>(B.at(At)) | static_cast<std::uint32_t>(B.at(At + 1)) << 8 |
         static_cast<std::uint32_t>(B.at(At + 2)) << 16 | static_cast<std::uint32_t>(B.at(At + 3)) << 24;
}
inline std::uint16_t LE16(const Bytes& B, std::size_t At) {
  return static_cast<std::uint16_t>(B.at(At) | B.at(At + 1) << 8);
}
inline void Append32(Bytes& B, std::uint32_t V) {
  for (int i = 0; i < 4; ++i) B.push_back(static_cast<std::uint8_t>(V >> (8 * i)));
}
inline void Append16(Bytes& B, std::uint16_t V) {
  B.push_back(static_cast<std::uint8_t>(V));
  B.push_back(static_cast<std::uint8_t>(V >> 8));
}
inline void AppendText(Bytes& B, const std::string& S) { B.insert(B.end(), S.begin(), S.end()); }

}  // namespace pxtest

namespace pxtest {

// Builds RIFF "ACON" files chunk by chunk.
class AniBuilder {
 public:
  AniBuilder() { AppendText(body_, "ACON"); }
  // A chunk with its body (pad byte added after an odd size unless NoPad).
  AniBuilder& Chunk(const std::string& Id, const Bytes& Body, bool NoPad = false) {
    AppendChunk(body_, Id, Body, NoPad);
    return *this;
  }
  AniBuilder& Header(std::uint32_t Icons, std::uint32_t Steps, std::uint32_t Rate, std::uint32_t Flags = 1,
                     std::size_t Size = 36) {
    Bytes h;
    const std::uint32_t fields[9] = {36, Icons, Steps, 32, 32, 8, 1, Rate, Flags};
    for (std::uint32_t f : fields) Append32(h, f);
    h.resize(Size, 0xAB);
    return Chunk("anih", h);
  }
  AniBuilder& Table(const std::string& Id, const std::vector<std::uint32_t>& Values, std::size_t Extra = 0) {
    Bytes b;
    for (std::uint32_t v : Values) Append32(b, v);
    b.insert(b.end(), Extra, 0x77);
    return Chunk(Id, b);
  }
  AniBuilder& Info(const std::string& Title, const std::string& Author) {
    Bytes list;
    AppendText(list, "INFO");
    if (!Title.empty()) AppendChunk(list, "INAM", Text(Title), false);
    if (!Author.empty()) AppendChunk(list, "IART", Text(Author), false);
    return Chunk("LIST", list);
  }
  AniBuilder& Frames(const std::vector<Bytes>& IconFiles) {
    Bytes list;
    AppendText(list, "fram");
    for (const Bytes& f : IconFiles) AppendChunk(list, "icon", f, false);
    return Chunk("LIST", list);
  }
  Bytes File(const std::string& Form = "RIFF") const {
    Bytes f;
    AppendText(f, Form);
    Append32(f, static_cast<std::uint32_t>(body_.size()));
    f.insert(f.end(), body_.begin(), body_.end());
    return f;
  }

  static void AppendChunk(Bytes& To, const std::string& Id, const Bytes& Body, bool NoPad) {
    AppendText(To, Id);
    Append32(To, static_cast<std::uint32_t>(Body.size()));
    To.insert(To.end(), Body.begin(), Body.end());
    if (Body.size() % 2 && !NoPad) To.push_back(0);
  }
  static Bytes Text(const std::string& S) {
    Bytes b(S.begin(), S.end());
    b.push_back(0);
    return b;
  }

 private:
  Bytes body_;
};

// A one-image icon (or cursor) file of one colour.
inline Bytes SolidIcon(TColor Color, int W = 16, int H = 16, std::uint16_t Type = 1, std::uint16_t HotX = 0,
                       std::uint16_t HotY = 0, int BitCount = 24) {
  IconSpec s;
  s.Width = W;
  s.Height = H;
  s.BitCount = BitCount;
  s.Color = [=](int, int) { return Color; };
  s.HotX = HotX;
  s.HotY = HotY;
  return MakeIconFile(Type, {s});
}

}  // namespace pxtest
