#pragma once
// JPEG decoding and encoding in memory over libjpeg (API version 62).
// Independent of the class library: TJPEGImage (Jpeg.h) is built on it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

// Raised for data that libjpeg refuses, for pictures beyond the size limits and for bad arguments.
class EJpegCodecError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Largest picture decoded, in pixels of the full-size image.
inline constexpr std::uint64_t kJpegMaxPixels = std::uint64_t{1} << 28;
// Largest full-size image a file can claim per byte of its own data. A Huffman-coded picture
// needs at least one bit per 8x8 block of its main component (512 pixels a byte); the rest is
// headroom for pictures cut short.
inline constexpr std::uint64_t kJpegPixelsPerByte = 2048;
// Largest number of scans read from one file (hostile progressive files repeat empty scans).
inline constexpr int kJpegMaxScans = 500;

struct TJpegHeader {
  int Width = 0;
  int Height = 0;
  int Components = 0;  // colour components in the file (1 grey, 3 colour, 4 CMYK)
  bool Progressive = false;
};

struct TJpegDecodeOptions {
  int ScaleDenom = 1;          // 1, 2, 4 or 8: output is the image scaled by 1/ScaleDenom
  bool Smoothing = true;       // fancy upsampling and inter-block smoothing
  bool Grayscale = false;      // one grey channel
  int QuantizeColors = 0;      // 0: full colour; 8..256: colour indices into ColorMap
  bool FastDct = false;        // fast integer DCT instead of the accurate one
  bool Bgr = false;            // full colour as blue, green, red (grey pictures too); no effect on colour indices
  std::uint64_t MaxPixels = kJpegMaxPixels;
};

struct TJpegPicture {
  int Width = 0;
  int Height = 0;
  int Channels = 0;                // 3: red, green, blue; 1: grey level or colour index
  std::vector<std::uint8_t> Pixels;  // Height rows of Width * Channels bytes, top row first
  std::vector<std::array<std::uint8_t, 3>> ColorMap;  // red, green, blue; filled when quantised
  int Warnings = 0;                // libjpeg warnings: corrupt or truncated data, decoded anyway

  bool Quantized() const { return !ColorMap.empty(); }
};

// Rows done and rows in all, called while decoding (from the caller's thread).
using TJpegProgress = std::function<void(int rowsDone, int rowsTotal)>;

// Reads the header only; checks the size limits (EJpegCodecError when the file claims too much).
TJpegHeader JpegReadHeader(const std::uint8_t* data, std::size_t size,
                           std::uint64_t maxPixels = kJpegMaxPixels);

// Decodes a whole picture. Data that ends early decodes as far as it goes (the rest grey) with a
// warning; data libjpeg cannot read raises EJpegCodecError.
TJpegPicture JpegDecode(const std::uint8_t* data, std::size_t size, const TJpegDecodeOptions& options = {},
                        const TJpegProgress& progress = {});

// The picture's size and form as decoding will deliver it.
struct TJpegLayout {
  int Width = 0;
  int Height = 0;
  int Channels = 0;  // 3 (red, green, blue, or blue, green, red with Bgr) or 1 (grey level or colour index)
  std::vector<std::array<std::uint8_t, 3>> ColorMap;  // red, green, blue; filled when quantised
};

// Where the rows go: once the layout is known, the address of the top row and the distance in
// bytes from one row to the next (negative when the rows lie bottom-up). Each row must hold
// Width * Channels bytes. The callback may throw; decoding then stops.
struct TJpegRows {
  std::uint8_t* Top = nullptr;
  std::ptrdiff_t Stride = 0;
};
using TJpegRowTarget = std::function<TJpegRows(const TJpegLayout& layout)>;

// Decodes a whole picture into the caller's rows, as JpegDecode does (nothing is filled that
// the decoder writes). Returns the number of libjpeg warnings.
int JpegDecodeInto(const std::uint8_t* data, std::size_t size, const TJpegDecodeOptions& options,
                   const TJpegRowTarget& target, const TJpegProgress& progress = {});

struct TJpegEncodeOptions {
  int Quality = 90;           // 1..100
  bool Progressive = false;
};

// Source rows for the encoder: returns row y (0 = top) of Width * channels bytes (red, green, blue
// or grey). The pointer need stay valid only until the next call.
using TJpegRowSource = std::function<const std::uint8_t*(int y)>;

// Encodes a picture of 1 (grey) or 3 (red, green, blue) channels.
std::vector<std::uint8_t> JpegEncode(int width, int height, int channels, const TJpegRowSource& rows,
                                     const TJpegEncodeOptions& options = {});
// The same over contiguous rows of width * channels bytes.
std::vector<std::uint8_t> JpegEncode(int width, int height, int channels, const std::uint8_t* pixels,
                                     const TJpegEncodeOptions& options = {});
