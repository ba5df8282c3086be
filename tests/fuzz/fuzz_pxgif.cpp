// Reads arbitrary bytes as a GIF stream into the second GIF graphic, decodes every frame
// whose pixels are few enough, and writes an accepted image and reads it back.
#include <cstddef>
#include <cstdint>

#include "picture/PxGIF.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  px::TPxGIFImage image;
  try {
    image.LoadFromStream(&stream);
  } catch (const EReadError&) {
  } catch (const EInvalidGraphicOperation&) {
  } catch (const EInvalidGraphic&) {
  } catch (const EOutOfResources&) {
  }
  if (image.FrameCount() == 0) return 0;
  int decoded = 0;
  for (int f = 0; f < image.FrameCount(); ++f) {
    px::TPxGIFFrame* frame = image.FrameAt(f);
    const std::int64_t pixels = static_cast<std::int64_t>(frame->ItemData->ImageWidth) * frame->ItemData->ImageHeight;
    if (pixels > (1 << 20)) continue;
    try {
      TMemoryStream dib;
      frame->DecodeToDib(&dib);
      if (dib.Size() < 54) __builtin_trap();
      ++decoded;
    } catch (const EInvalidGraphicOperation&) {
    }
  }
  if (decoded != image.FrameCount()) return 0;
  TMemoryStream saved;
  image.SaveToStream(&saved);
  saved.SetPosition(0);
  px::TPxGIFImage back;
  back.LoadFromStream(&saved);
  // Frames without pixels may be left out (a zero size reads back as the screen's); none other.
  int withPixels = 0;
  for (int f = 0; f < image.FrameCount(); ++f)
    if (image.FrameAt(f)->ItemData->ImageWidth > 0 && image.FrameAt(f)->ItemData->ImageHeight > 0) ++withPixels;
  if (back.FrameCount() < withPixels || back.FrameCount() > image.FrameCount()) __builtin_trap();
  return 0;
}
