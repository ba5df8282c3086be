#include <cstdlib>
#include <cstring>

#include "platform/graphics/Graphics.h"
#include "platform/graphics/GraphicsInternal.h"

using namespace graphics_detail;

IMPLEMENT_GRAPHIC_CLASS(TIcon, TGraphic)

struct TIcon::Parsed {
  dib::IconFile File;
};

namespace {

// AND-mask rows (DIB layout: bottom-up, 4-byte aligned) as device rows (top-down, word-aligned).
std::vector<std::uint8_t> DeviceMaskRows(const std::vector<std::uint8_t>& Mask, int Width, int Height) {
  const std::size_t dibRow = static_cast<std::size_t>(dib::RowBytes(Width, 1));
  const std::size_t wordRow = static_cast<std::size_t>((Width + 15) / 16 * 2);
  std::vector<std::uint8_t> rows(wordRow * static_cast<std::size_t>(Height), 0);
  for (int y = 0; y < Height; ++y) {
    std::size_t from = static_cast<std::size_t>(Height - 1 - y) * dibRow;
    if (from + dibRow > Mask.size()) continue;
    std::memcpy(rows.data() + static_cast<std::size_t>(y) * wordRow, Mask.data() + from, std::min(dibRow, wordRow));
  }
  return rows;
}

// Bits of a 1-bit picture in which 1 stands for white.
std::vector<std::uint8_t> WhiteBits(const dib::Image& Image) {
  std::vector<std::uint8_t> bits = Image.bits;
  if (Image.colors.size() >= 2 && Image.colors[0].red > Image.colors[1].red)
    for (auto& b : bits) b = static_cast<std::uint8_t>(~b);
  return bits;
}

// One image from the parts of an icon handle.
dib::IconImage ImageOfHandle(const ICONINFO& Info) {
  dib::IconImage image;
  image.hotspotX = static_cast<std::uint16_t>(Info.xHotspot);
  image.hotspotY = static_cast<std::uint16_t>(Info.yHotspot);
  dib::Image mask = ReadBitmap(Info.hbmMask);
  if (mask.bitCount != 1) mask = dib::ConvertImage(mask, 1, false, nullptr);
  if (Info.hbmColor) {
    BitmapInfo described = DescribeBitmap(Info.hbmColor, false);
    image.color = ReadBitmap(Info.hbmColor);
    // A device-dependent picture has no meaningful fourth byte: write it without one.
    if (!described.dib && image.color.bitCount == 32) image.color = dib::ConvertImage(image.color, 24);
    if (image.color.bitCount == 16 && image.color.mask565) image.color = dib::ConvertImage(image.color, 24);
    image.mask = WhiteBits(mask);
    return image;
  }
  // A monochrome icon's mask bitmap holds the AND rows above the XOR rows.
  const int height = mask.height / 2;
  const std::size_t row = static_cast<std::size_t>(dib::RowBytes(mask.width, 1));
  std::vector<std::uint8_t> bits = WhiteBits(mask);
  image.color.width = mask.width;
  image.color.height = height;
  image.color.bitCount = 1;
  image.color.colors = dib::DefaultPalette(1);
  image.color.bits.assign(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(row * height));
  image.mask.assign(bits.begin() + static_cast<std::ptrdiff_t>(row * height), bits.end());
  return image;
}

}  // namespace

TIcon::TIcon() { FTransparent = true; }

TIcon::~TIcon() {
  if (FHandle) DestroyIcon(FHandle);
}

void TIcon::Clear() {
  if (FHandle) DestroyIcon(FHandle);
  FHandle = nullptr;
  FData.clear();
  FParsed.reset();
}

int TIcon::ChosenImage() const {
  if (!FParsed || FParsed->File.images.empty()) return -1;
  int wantW = GetSystemMetrics(SM_CXICON), wantH = GetSystemMetrics(SM_CYICON);
  if (wantW <= 0) wantW = 32;
  if (wantH <= 0) wantH = 32;
  int best = 0;
  for (int i = 1; i < static_cast<int>(FParsed->File.images.size()); ++i) {
    const dib::Image& a = FParsed->File.images[static_cast<std::size_t>(i)].color;
    const dib::Image& b = FParsed->File.images[static_cast<std::size_t>(best)].color;
    long da = std::labs(static_cast<long>(a.width) - wantW) + std::labs(static_cast<long>(a.height) - wantH);
    long db = std::labs(static_cast<long>(b.width) - wantW) + std::labs(static_cast<long>(b.height) - wantH);
    if (da < db || (da == db && a.bitCount > b.bitCount)) best = i;
  }
  return best;
}

void TIcon::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    Changed(this);
    return;
  }
  auto* source = dynamic_cast<TIcon*>(Source);
  if (!source) {
    TGraphic::Assign(Source);
    return;
  }
  HICON handle = nullptr;
  if (!source->FParsed && source->FHandle) handle = Check(CopyIcon(source->FHandle));
  Clear();
  FData = source->FData;
  if (source->FParsed) FParsed = std::make_unique<Parsed>(*source->FParsed);
  FHandle = handle;
  Changed(this);
}

void TIcon::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TIcon::SetTransparent(bool) {}

bool TIcon::GetEmpty() { return !FHandle && !FParsed; }

int TIcon::GetWidth() {
  int chosen = ChosenImage();
  if (chosen >= 0) return FParsed->File.images[static_cast<std::size_t>(chosen)].color.width;
  if (!FHandle) return 0;
  ICONINFO info{};
  if (!GetIconInfo(FHandle, &info)) return 0;
  BitmapInfo mask = DescribeBitmap(info.hbmMask, false);
  BitmapInfo color = DescribeBitmap(info.hbmColor, false);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return info.hbmColor ? color.width : mask.width;
}

int TIcon::GetHeight() {
  int chosen = ChosenImage();
  if (chosen >= 0) return FParsed->File.images[static_cast<std::size_t>(chosen)].color.height;
  if (!FHandle) return 0;
  ICONINFO info{};
  if (!GetIconInfo(FHandle, &info)) return 0;
  BitmapInfo mask = DescribeBitmap(info.hbmMask, false);
  BitmapInfo color = DescribeBitmap(info.hbmColor, false);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return info.hbmColor ? color.height : mask.height / 2;
}

HICON TIcon::Handle() {
  int chosen = ChosenImage();
  if (!FHandle && chosen >= 0) {
    const dib::IconImage& image = FParsed->File.images[static_cast<std::size_t>(chosen)];
    HBITMAP color = CreateDibSection(image.color);
    std::vector<std::uint8_t> rows = DeviceMaskRows(image.mask, image.color.width, image.color.height);
    HBITMAP mask = CreateBitmap(image.color.width, image.color.height, 1, 1, rows.data());
    ICONINFO info;
    info.fIcon = FParsed->File.type == 1 ? TRUE : FALSE;
    info.xHotspot = image.hotspotX;
    info.yHotspot = image.hotspotY;
    info.hbmMask = mask;
    info.hbmColor = color;
    FHandle = mask ? CreateIconIndirect(&info) : nullptr;
    DeleteObject(color);
    if (mask) DeleteObject(mask);
    Check(FHandle);
  }
  return FHandle;
}

void TIcon::SetHandle(HICON Value) {
  if (Value == FHandle) return;
  Clear();
  FHandle = Value;
  Changed(this);
}

HICON TIcon::ReleaseHandle() {
  HICON handle = Handle();
  FHandle = nullptr;
  return handle;
}

void TIcon::Draw(TCanvas* ACanvas, const TRect& Rect) {
  HICON icon = Handle();
  if (!icon) return;
  DrawIconEx(ACanvas->Handle(), Rect.left, Rect.top, icon, Rect.right - Rect.left, Rect.bottom - Rect.top, 0, nullptr,
             DI_NORMAL);
}

void TIcon::LoadFromStream(TStream* Stream) {
  const std::int64_t remaining = std::max<std::int64_t>(Stream->Size() - Stream->Position(), 0);
  std::vector<std::uint8_t> data(static_cast<std::size_t>(remaining));
  if (remaining) Stream->ReadBuffer(data.data(), remaining);
  auto parsed = std::make_unique<Parsed>(Parsed{dib::ReadIco(data.data(), data.size())});
  Clear();
  FData = std::move(data);
  FParsed = std::move(parsed);
  Changed(this);
}

void TIcon::SaveToStream(TStream* Stream) {
  if (!FData.empty()) {
    Stream->WriteBuffer(FData.data(), static_cast<std::int64_t>(FData.size()));
    return;
  }
  if (!FHandle) return;
  ICONINFO info{};
  if (!GetIconInfo(FHandle, &info)) throw EInvalidGraphic("Icon image is not valid");
  dib::IconFile file;
  file.type = info.fIcon ? 1 : 2;
  try {
    file.images.push_back(ImageOfHandle(info));
  } catch (...) {
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    throw;
  }
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  std::vector<std::uint8_t> bytes = dib::WriteIco(file);
  Stream->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

void TIcon::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphicOperation("Clipboard does not support Icons");
}

void TIcon::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphicOperation("Clipboard does not support Icons");
}
