// Reads arbitrary bytes through the picture formats' own icon routines: the image that the
// directory leads to made into an icon at its own size, the same bytes taken as one icon image
// (in a buffer of exactly their size, so that any read beyond it is caught), and an icon that
// the platform accepts drawn at its own size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/PxGraphUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= 6) {
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(6);
    HICON icon = nullptr;
    try {
      px::ReadIconImage(&stream, icon, px::GetLE16(data + 4), 6);
      int width = 0, height = 0;
      px::QueryIconSize(icon, width, height);
      if (width <= 0 || height <= 0) __builtin_trap();
    } catch (const EReadError&) {
    } catch (const EInvalidGraphic&) {
    } catch (const EOutOfResources&) {
    }
    if (icon) DestroyIcon(icon);
  }

  std::vector<std::uint8_t> image(data, data + size);
  HBITMAP color = nullptr, mask = nullptr;
  try {
    px::IconDibToBitmaps(image.data(), static_cast<std::int64_t>(image.size()), color, mask);
    if (!color || !mask) __builtin_trap();
    DeleteObject(color);
    DeleteObject(mask);
  } catch (const EInvalidGraphic&) {
    if (color || mask) __builtin_trap();
  } catch (const EOutOfResources&) {
  }

  try {
    TMemoryStream stream;
    if (size > 0) stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    TIcon icon;
    icon.LoadFromStream(&stream);
    if (static_cast<std::uint64_t>(icon.Width()) * static_cast<std::uint64_t>(icon.Height()) <= 65536) {
      TBitmap sheet;
      sheet.SetWidth(16);
      sheet.SetHeight(16);
      px::DrawFullSizeIcon(sheet.Canvas(), &icon, 0, 0);
    }
  } catch (const EReadError&) {
  } catch (const EInvalidGraphic&) {
  } catch (const EOutOfResources&) {
  }
  return 0;
}
