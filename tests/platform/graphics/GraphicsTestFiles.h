#pragma once
// Builders of small BMP and ICO files for the picture tests, and pixel helpers.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/graphics/DibFormat.h"

namespace graphicstest {

inline void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A BMP file written field by field, so that tests can state any header value.
struct BmpSpec {
  std::int32_t width{1};
  std::int32_t height{1};
  std::uint16_t bitCount{24};
  std::uint32_t compression{0};
  std::uint32_t headerSize{40};  // 12 (OS/2), 40, 56, 108, 124
  std::uint32_t clrUsed{0};
  std::vector<dib::Quad> colors;  // written as the colour table
  std::vector<std::uint32_t> masks;  // after a 40-byte header, or inside a longer one
  std::vector<std::uint8_t> pixels;  // rows exactly as stored in the file
  std::int64_t offBits{-1};          // -1: right after the table
  std::uint32_t sizeImage{0};
};

inline std::vector<std::uint8_t> MakeBmp(const BmpSpec& s) {
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 0);  // size, set below
  Put32(out, 0);
  Put32(out, 0);  // offBits, set below
  if (s.headerSize == 12) {
    Put32(out, 12);
    Put16(out, static_cast<std::uint32_t>(s.width));
    Put16(out, static_cast<std::uint32_t>(s.height));
    Put16(out, 1);
    Put16(out, s.bitCount);
    for (const auto& q : s.colors) out.insert(out.end(), {q.blue, q.green, q.red});
  } else {
    std::size_t start = out.size();
    Put32(out, s.headerSize);
    Put32(out, static_cast<std::uint32_t>(s.width));
    Put32(out, static_cast<std::uint32_t>(s.height));
    Put16(out, 1);
    Put16(out, s.bitCount);
    Put32(out, s.compression);
    Put32(out, s.sizeImage);
    Put32(out, 2835);
    Put32(out, 2835);
    Put32(out, s.clrUsed);
    Put32(out, 0);
    if (s.headerSize > 40) {
      for (std::size_t i = 0; i < 4; ++i) Put32(out, i < s.masks.size() ? s.masks[i] : 0);
      out.resize(start + s.headerSize, 0);
    } else {
      for (std::uint32_t m : s.masks) Put32(out, m);
    }
    for (const auto& q : s.colors) out.insert(out.end(), {q.blue, q.green, q.red, 0});
  }
  // bfOffBits as given (pixels then start at that offset when it lies past the table, else
  // right after the table).
  std::size_t offBits = s.offBits >= 0 ? static_cast<std::size_t>(s.offBits) : out.size();
  if (out.size() < offBits) out.resize(offBits, 0);
  Set32(out, 10, static_cast<std::uint32_t>(offBits));
  out.insert(out.end(), s.pixels.begin(), s.pixels.end());
  Set32(out, 2, static_cast<std::uint32_t>(out.size()));
  return out;
}

// A picture whose pixel (x, y) is a colour that differs between neighbours.
inline std::uint32_t PatternRgb(int x, int y) {
  return static_cast<std::uint32_t>(((x * 37 + y * 11) & 0xFF) << 16 | ((x * 5 + y * 29) & 0xFF) << 8 |
                                    ((x * 13 + y * 7 + 90) & 0xFF));
}

// A canonical picture at bitCount with the given colours cycling through the palette.
inline dib::Image MakeImage(int width, int height, int bitCount) {
  dib::Image image;
  image.width = width;
  image.height = height;
  image.bitCount = 24;
  const std::size_t stride = dib::RowBytes(width, 24);
  image.bits.assign(stride * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.bits.data() + (height - 1 - y) * stride + 3 * x;
      std::uint32_t rgb = PatternRgb(x, y);
      if (bitCount <= 8) {
        // Few colours so that an exact palette fits.
        int count = 1 << bitCount;
        int i = (x + 3 * y) % count;
        rgb = static_cast<std::uint32_t>((i * 53) & 0xFF) << 16 | static_cast<std::uint32_t>((i * 97) & 0xFF) << 8 |
              static_cast<std::uint32_t>((255 - i * 31) & 0xFF);
      }
      p[0] = static_cast<std::uint8_t>(rgb);
      p[1] = static_cast<std::uint8_t>(rgb >> 8);
      p[2] = static_cast<std::uint8_t>(rgb >> 16);
    }
  return bitCount == 24 ? image : dib::ConvertImage(image, bitCount);
}

}  // namespace graphicstest
