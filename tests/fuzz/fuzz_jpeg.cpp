// Decodes arbitrary bytes as JPEG with options picked from the first byte.
#include <cstddef>
#include <cstdint>

#include "platform/graphics/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  TJpegDecodeOptions options;
  options.ScaleDenom = 1 << (pick & 3);
  options.Smoothing = (pick & 4) != 0;
  options.Grayscale = (pick & 8) != 0;
  options.QuantizeColors = (pick & 16) ? 8 + (pick >> 5) * 32 : 0;
  options.FastDct = (pick & 32) != 0;
  try {
    JpegReadHeader(data + 1, size - 1);
    auto picture = JpegDecode(data + 1, size - 1, options);
    // touch every pixel so that a short buffer shows
    unsigned sum = 0;
    for (std::uint8_t v : picture.Pixels) sum += v;
    if (picture.Quantized())
      for (std::uint8_t v : picture.Pixels)
        if (v >= picture.ColorMap.size()) __builtin_trap();
    (void)sum;
  } catch (const EJpegCodecError&) {
  }
  return 0;
}
