// Reads arbitrary bytes as an animated cursor and walks what was read: every step (none may
// fail to be looked up), its icon drawn at its own size, the animation's timing; an accepted
// file is written and read back.
#include <cstddef>
#include <cstdint>

#include "picture/PxAni.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream;
  if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
  stream.SetPosition(0);
  px::TPxAni ani;
  try {
    ani.LoadFromStream(&stream);
  } catch (const EReadError&) {
  }
  if (ani.IconCount() == 0) return 0;
  TBitmap sheet;
  sheet.SetWidth(64);
  sheet.SetHeight(64);
  for (int step = 0; step < ani.FrameCount() && step < 64; ++step) {
    try {
      px::TPxIconFrame* frame = ani.FrameAt(step);
      if (!frame || !frame->Icon()) __builtin_trap();
      ani.SetFrameIndex(step);
      ani.ScheduleNextFrame();
      if (ani.Timer()->Interval() == 0) __builtin_trap();
      if (static_cast<std::int64_t>(ani.Width()) * ani.Height() <= 65536) sheet.Canvas()->Draw(0, 0, &ani);
    } catch (const EInvalidGraphic&) {
    } catch (const EOutOfResources&) {
    }
  }
  TMemoryStream saved;
  ani.SaveToStream(&saved);
  saved.SetPosition(0);
  px::TPxAni back;
  back.LoadFromStream(&saved);
  if (back.IconCount() != ani.IconCount() || back.Sequence() != ani.Sequence() || back.Rates() != ani.Rates())
    __builtin_trap();
  return 0;
}
