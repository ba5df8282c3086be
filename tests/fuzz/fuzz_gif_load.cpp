// Reads arbitrary bytes as a GIF stream into the GIF library's objects and walks what was
// read: every frame's pixels, tables and extensions.
#include <cstddef>
#include <cstdint>

#include "gif/GIFImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  gif::TGIFImage image;
  int warnings = 0;
  image.OnFormatWarning = [&](TObject*, int, const std::string&) { ++warnings; };
  try {
    image.LoadFromStream(&stream);
  } catch (const gif::GIFException&) {
    if (stream.Position() != 0) __builtin_trap();  // a failed load restores the position
  }
  unsigned sum = 0;
  for (int f = 0; f < image.Images().Count(); ++f) {
    gif::TGIFSubImage* frame = image.Images().FrameAt(f);
    if (!frame->IsEmpty()) {
      if (frame->DataSize() != static_cast<std::int64_t>(frame->Width()) * frame->Height()) __builtin_trap();
      for (std::int64_t i = 0; i < frame->DataSize(); i += 97) sum += frame->Data()[i];
      // Every pixel has an entry in the frame's colour table.
      const int count = frame->EffectiveColorMap()->Count();
      for (std::int64_t i = 0; i < frame->DataSize(); ++i)
        if (frame->Data()[i] >= count) __builtin_trap();
    }
    for (int e = 0; e < frame->Extensions().Count(); ++e) sum += frame->Extensions().ExtensionAt(e)->ExtensionLabel();
  }
  return static_cast<int>(sum & 0) + (warnings & 0);
}
