// Loads arbitrary bytes as a GIF stream; whatever loads is written with the LZW and with the
// run-length encoder and read back: the frames must come back with the same pixels.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gif/GIFImage.h"

namespace {

std::vector<std::vector<std::uint8_t>> Pixels(gif::TGIFImage& image) {
  std::vector<std::vector<std::uint8_t>> out;
  for (int f = 0; f < image.Images().Count(); ++f) {
    gif::TGIFSubImage* frame = image.Images().FrameAt(f);
    if (!frame->IsEmpty()) out.emplace_back(frame->Data(), frame->Data() + frame->DataSize());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  gif::TGIFImage image;
  try {
    image.LoadFromStream(&stream);
  } catch (const gif::GIFException&) {
    return 0;
  }
  if (image.Images().Count() == 0) return 0;
  const auto before = Pixels(image);
  for (auto kind : {gif::ckLZW, gif::ckRLE}) {
    image.SetCompression(kind);
    TMemoryStream saved;
    image.SaveToStream(&saved);
    saved.SetPosition(0);
    gif::TGIFImage back;
    back.LoadFromStream(&saved);  // what we write must load without an error
    if (Pixels(back) != before) __builtin_trap();
  }
  return 0;
}
