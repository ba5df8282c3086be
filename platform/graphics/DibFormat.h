#pragma once
// BMP and ICO file formats over byte buffers: the readers validate hostile input and produce a
// device-independent picture in one canonical form; the writers produce standard files.
// Errors are raised through the class library's exceptions (EInvalidGraphic, EReadError).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dib {

// One colour-table entry in file order: blue, green, red, reserved.
struct Quad {
  std::uint8_t blue{0}, green{0}, red{0}, reserved{0};
  bool operator==(const Quad&) const = default;
};

// Canonical picture: rows bottom-up, each padded to 4 bytes, as a DIB section holds them.
// bitCount is 1, 4, 8, 16, 24 or 32. For 16 bits, mask565 selects 5-6-5 (written with bit fields)
// instead of 5-5-5; 32-bit rows are blue, green, red, x.
struct Image {
  std::int32_t width{0};
  std::int32_t height{0};
  int bitCount{0};
  bool mask565{false};
  std::vector<Quad> colors;  // 1..2^bitCount entries for bitCount <= 8, empty above
  std::vector<std::uint8_t> bits;
};

// Largest picture the readers accept (the bounds of the platform's bitmaps).
inline constexpr std::int64_t kMaxDimension = 65535;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// Bytes of one row of a DIB; 64-bit so that hostile sizes cannot wrap.
constexpr std::uint64_t RowBytes(std::uint64_t width, std::uint64_t bitCount) {
  return (width * bitCount + 31) / 32 * 4;
}

// Reads a whole BMP file (BITMAPFILEHEADER first). Raises EInvalidGraphic "Bitmap image is not
// valid" for malformed or unsupported data and EReadError "Stream read error" when the file ends early.
Image ReadBmp(const std::uint8_t* data, std::size_t size);

// Writes a BMP file: BITMAPFILEHEADER, a 40-byte BITMAPINFOHEADER (bit fields for 5-6-5),
// the colour table and the rows bottom-up.
std::vector<std::uint8_t> WriteBmp(const Image& image);

// One image of an icon or cursor file.
struct IconImage {
  Image color;                      // the XOR picture at its own size
  std::vector<std::uint8_t> mask;   // AND mask, 1 bit a pixel, rows bottom-up padded to 4 bytes
  std::uint16_t hotspotX{0}, hotspotY{0};  // cursors only
};

struct IconFile {
  std::uint16_t type{1};  // 1 icon, 2 cursor
  std::vector<IconImage> images;
};

// Reads an ICO or CUR file. Raises EInvalidGraphic "Icon image is not valid" for malformed data,
// EInvalidGraphic "PNG-compressed icon images are not supported" for PNG entries and EReadError
// "Stream read error" when the file ends early.
IconFile ReadIco(const std::uint8_t* data, std::size_t size);

// Writes an icon or cursor file holding every image at its own size and depth.
std::vector<std::uint8_t> WriteIco(const IconFile& icon);

// Colour of one pixel (x from the left, y from the top) as 0x00RRGGBB; an index past the
// colour table reads as black.
std::uint32_t PixelRgb(const Image& image, std::int32_t x, std::int32_t y);

// Converts a picture to another layout (bitCount 1, 4, 8, 16, 24 or 32; mask565 for 16 bits).
// Targets of up to 8 bits take `palette` when given (nearest entry for every pixel); otherwise
// they keep the source's colour table when it fits, else the picture's own colours when there
// are few enough, else DefaultPalette(bitCount) with the nearest entry for every pixel.
Image ConvertImage(const Image& src, int bitCount, bool mask565 = false, const std::vector<Quad>* palette = nullptr);

// Fixed palettes: black and white; the 16 standard colours; a 6 x 6 x 6 colour cube
// (entry r * 36 + g * 6 + b, levels 0, 51, ..., 255) followed by 40 greys.
std::vector<Quad> DefaultPalette(int bitCount);

// Bit fields of a 16-bit picture: 5-5-5 or 5-6-5.
inline constexpr std::uint32_t kMasks555[3] = {0x7C00, 0x03E0, 0x001F};
inline constexpr std::uint32_t kMasks565[3] = {0xF800, 0x07E0, 0x001F};

}  // namespace dib
