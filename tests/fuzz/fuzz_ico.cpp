// Reads arbitrary bytes as an ICO or CUR file, then puts an accepted icon through the icon
// class: load, make its handle, save and read back.
#include <cstddef>
#include <cstdint>

#include "platform/graphics/DibFormat.h"
#include "platform/graphics/Graphics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    dib::IconFile file = dib::ReadIco(data, size);
    for (const dib::IconImage& image : file.images) {
      const std::uint64_t rows = static_cast<std::uint64_t>(image.color.height);
      if (image.color.bits.size() != dib::RowBytes(image.color.width, image.color.bitCount) * rows ||
          image.mask.size() != dib::RowBytes(image.color.width, 1) * rows)
        __builtin_trap();
    }
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    TIcon icon;
    icon.LoadFromStream(&stream);
    if (static_cast<std::uint64_t>(icon.Width()) * static_cast<std::uint64_t>(icon.Height()) <= 65536) icon.Handle();
    TMemoryStream saved;
    icon.SaveToStream(&saved);
    dib::IconFile back = dib::ReadIco(static_cast<const std::uint8_t*>(saved.Memory()), static_cast<std::size_t>(saved.Size()));
    if (back.images.size() != file.images.size()) __builtin_trap();
  } catch (const EInvalidGraphic&) {
  } catch (const EReadError&) {
  }
  return 0;
}
