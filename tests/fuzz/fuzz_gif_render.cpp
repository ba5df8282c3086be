// Reads arbitrary bytes as a GIF picture and renders it: every frame's bitmap (plain and
// dithered) and mask, the whole-image bitmap, an inline animation onto a small canvas with its
// disposals, a copy, and an optimised save.
#include <cstddef>
#include <cstdint>

#include "gif/GIFImage.h"

namespace {

// Frames beyond this many pixels are only loaded: rendering them would only slow the search.
constexpr std::int64_t kRenderPixels = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  gif::TGIFImage image;
  try {
    image.LoadFromStream(&stream);
  } catch (const Exception&) {
  }
  std::int64_t pixels = static_cast<std::int64_t>(image.Width()) * image.Height();
  for (int f = 0; f < image.Images().Count(); ++f) {
    gif::TGIFSubImage* frame = image.Images().FrameAt(f);
    pixels += static_cast<std::int64_t>(frame->Width()) * frame->Height();
  }
  if (pixels > kRenderPixels || image.Images().Count() > 64) return 0;
  try {
    for (bool dither : {false, true}) {
      image.SetPaintOptions(dither ? gif::drDither | gif::drTransparent : gif::drTransparent);
      for (int f = 0; f < image.Images().Count(); ++f) {
        gif::TGIFSubImage* frame = image.Images().FrameAt(f);
        frame->FreeBitmapCache();
        frame->ReleaseMask();
        TBitmap* bitmap = frame->RenderBitmap();
        if (bitmap && (bitmap->Width() != frame->Width() || bitmap->Height() != frame->Height())) __builtin_trap();
        frame->EnsureMask();
      }
    }
    TBitmap whole;
    whole.Assign(&image);
    TBitmap screen;
    screen.SetPixelFormat(pf24bit);
    screen.SetWidth(32);
    screen.SetHeight(24);
    image.SetAnimationSpeed(1000000);
    image.StartPainter(nullptr, screen.Canvas(),
                       gif::drAnimate | gif::drTransparent | gif::drDirect | gif::drClearOnLoop, TRect{0, 0, 32, 24});
    image.StartPainter(nullptr, screen.Canvas(), gif::drAnimate | gif::drTile, TRect{1, 2, 30, 20});
    gif::TGIFImage copy;
    copy.Assign(&image);
    copy.Optimize(0x1F, gif::grKeepTrueColor, 8, gif::gdNearest);
    TMemoryStream out;
    if (!copy.Empty()) copy.SaveToStream(&out);
  } catch (const Exception&) {
    // Damaged pictures may raise the library's errors; they must not crash.
  }
  return 0;
}
