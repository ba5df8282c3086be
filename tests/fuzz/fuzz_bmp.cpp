// Reads arbitrary bytes as a BMP file, then puts an accepted picture through the bitmap class:
// load, convert, save and read back.
#include <cstddef>
#include <cstdint>

#include "platform/graphics/DibFormat.h"
#include "platform/graphics/Graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    dib::Image image = dib::ReadBmp(data, size);
    if (image.bits.size() != dib::RowBytes(image.width, image.bitCount) * static_cast<std::uint64_t>(image.height))
      __builtin_trap();
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    TBitmap bitmap;
    bitmap.LoadFromStream(&stream);
    if (bitmap.Width() != image.width || bitmap.Height() != image.height) __builtin_trap();
    TMemoryStream saved;
    bitmap.SaveToStream(&saved);
    dib::Image back = dib::ReadBmp(static_cast<const std::uint8_t*>(saved.Memory()), static_cast<std::size_t>(saved.Size()));
    if (back.width != image.width || back.height != image.height) __builtin_trap();
    if (static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height) <= 4096) {
      bitmap.SetPixelFormat(pf8bit);
      bitmap.ScanLine(image.height - 1);
    }
  } catch (const EInvalidGraphic&) {
  } catch (const EReadError&) {
  }
  return 0;
}
