// Decodes arbitrary bytes as JPEG, through the codec and through TJPEGImage, with options picked
// from the first byte.
#include <cstddef>
#include <cstdint>

#include "platform/graphics/Jpeg.h"
#include "platform/graphics/JpegCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t pick = data[0];
  const std::uint8_t* jpeg = data + 1;
  const std::size_t jpegSize = size - 1;

  TJpegDecodeOptions options;
  options.ScaleDenom = 1 << (pick & 3);
  options.Smoothing = (pick & 4) != 0;
  options.Grayscale = (pick & 8) != 0;
  options.QuantizeColors = (pick & 16) ? 8 + (pick >> 5) * 32 : 0;
  options.FastDct = (pick & 32) != 0;
  try {
    JpegReadHeader(jpeg, jpegSize);
    auto picture = JpegDecode(jpeg, jpegSize, options);
    if (picture.Pixels.size() != std::size_t(picture.Width) * std::size_t(picture.Height) * std::size_t(picture.Channels))
      __builtin_trap();
    if (picture.Quantized())
      for (std::uint8_t v : picture.Pixels)
        if (v >= picture.ColorMap.size()) __builtin_trap();
  } catch (const EJpegCodecError&) {
  }

  // The graphic: load, decode with the same options into its bitmap, save unchanged.
  try {
    TMemoryStream in;
    in.WriteBuffer(jpeg, static_cast<std::int64_t>(jpegSize));
    in.SetPosition(0);
    TJPEGImage image;
    image.LoadFromStream(&in);
    image.SetScale(static_cast<TJPEGScale>(pick & 3));
    image.SetGrayscale((pick & 8) != 0);
    image.SetPixelFormat((pick & 16) ? jf8Bit : jf24Bit);
    TBitmap bitmap;
    bitmap.Assign(&image);
    TMemoryStream out;
    image.SaveToStream(&out);
    if (out.Size() != static_cast<std::int64_t>(jpegSize)) __builtin_trap();
  } catch (const Exception&) {
  }
  return 0;
}
