#include <algorithm>
#include <cstring>

#include "platform/graphics/Graphics.h"
#include "platform/graphics/GraphicsInternal.h"

using namespace graphics_detail;

IMPLEMENT_GRAPHIC_CLASS(TMetafile, TGraphic)

namespace {

// Fourth byte of a record pixel that no drawing has touched (drawing writes 0 there).
constexpr std::uint8_t kUntouched = 0xFF;

int ScreenPixelsPerInch() {
  ScreenDC screen;
  int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

TMetafile::TMetafile() = default;

TMetafile::~TMetafile() {
  if (FRecord) DeleteObject(FRecord);
}

void TMetafile::Clear() {
  if (FRecord) DeleteObject(FRecord);
  FRecord = nullptr;
  FRecordWidth = FRecordHeight = 0;
  FWidth = FHeight = 0;
  Changed(this);
}

void TMetafile::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
    return;
  }
  auto* source = dynamic_cast<TMetafile*>(Source);
  if (!source) {
    TGraphic::Assign(Source);
    return;
  }
  HBITMAP record = source->FRecord ? CopyBitmapHandle(source->FRecord) : nullptr;
  if (FRecord) DeleteObject(FRecord);
  FRecord = record;
  FRecordWidth = source->FRecordWidth;
  FRecordHeight = source->FRecordHeight;
  FWidth = source->FWidth;
  FHeight = source->FHeight;
  FEnhanced = source->FEnhanced;
  Changed(this);
}

void TMetafile::SetWidth(int Value) {
  if (Value == FWidth) return;
  FWidth = std::max(Value, 0);
  Changed(this);
}

void TMetafile::SetHeight(int Value) {
  if (Value == FHeight) return;
  FHeight = std::max(Value, 0);
  Changed(this);
}

int TMetafile::MMWidth() { return MulDiv(FWidth, 2540, ScreenPixelsPerInch()); }
int TMetafile::MMHeight() { return MulDiv(FHeight, 2540, ScreenPixelsPerInch()); }
void TMetafile::SetMMWidth(int Value) { SetWidth(MulDiv(Value, ScreenPixelsPerInch(), 2540)); }
void TMetafile::SetMMHeight(int Value) { SetHeight(MulDiv(Value, ScreenPixelsPerInch(), 2540)); }

bool TMetafile::GetEmpty() { return !FRecord; }

bool TMetafile::Equals(TGraphic* Graphic) {
  auto* other = dynamic_cast<TMetafile*>(Graphic);
  if (!other || other->ClassType() != ClassType()) return false;
  if (!FRecord || !other->FRecord) return !FRecord && !other->FRecord;
  if (FWidth != other->FWidth || FHeight != other->FHeight) return false;
  dib::Image a = ReadBitmap(FRecord), b = ReadBitmap(other->FRecord);
  return a.width == b.width && a.height == b.height && a.bits == b.bits;
}

void TMetafile::LoadFromStream(TStream*) { throw EInvalidGraphic("Metafile is not valid"); }

void TMetafile::SaveToStream(TStream*) { throw EInvalidGraphicOperation("Saving metafiles is not supported"); }

void TMetafile::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TMetafile::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TMetafile::TakeRecord(HBITMAP Record, int RecordWidth, int RecordHeight) {
  if (FRecord) DeleteObject(FRecord);
  FRecord = Record;
  FRecordWidth = RecordWidth;
  FRecordHeight = RecordHeight;
  if (FWidth == 0 || FHeight == 0) {
    FWidth = RecordWidth;
    FHeight = RecordHeight;
  }
  Changed(this);
}

void TMetafile::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (!FRecord) return;
  HDC dst = ACanvas->Handle();
  dib::Image record = ReadBitmap(FRecord);
  const std::size_t stride = static_cast<std::size_t>(dib::RowBytes(record.width, 32));
  const std::size_t wordRow = static_cast<std::size_t>((record.width + 15) / 16 * 2);
  std::vector<std::uint8_t> rows(wordRow * static_cast<std::size_t>(record.height), 0);
  bool uncovered = false;
  for (int y = 0; y < record.height; ++y) {
    const std::uint8_t* line = record.bits.data() + static_cast<std::size_t>(record.height - 1 - y) * stride;
    for (int x = 0; x < record.width; ++x)
      if (line[4 * x + 3] == kUntouched) {
        rows[static_cast<std::size_t>(y) * wordRow + static_cast<std::size_t>(x / 8)] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
        uncovered = true;
      }
  }
  MemoryDC src(FRecord);
  const int w = Rect.right - Rect.left, h = Rect.bottom - Rect.top;
  if (!uncovered) {
    // The record is in colour: it shrinks by dropping rows and columns.
    const int oldMode = SetStretchBltMode(dst, COLORONCOLOR);
    StretchBlt(dst, Rect.left, Rect.top, w, h, src.get(), 0, 0, record.width, record.height, SRCCOPY);
    if (oldMode) SetStretchBltMode(dst, oldMode);
    return;
  }
  HBITMAP mask = Check(CreateBitmap(record.width, record.height, 1, 1, rows.data()));
  try {
    TransparentStretchBlt(dst, Rect.left, Rect.top, w, h, src.get(), 0, 0, record.width, record.height, mask);
  } catch (...) {
    DeleteObject(mask);
    throw;
  }
  DeleteObject(mask);
}

// ---------------------------------------------------------------------------------------------

TMetafileCanvas::TMetafileCanvas(TMetafile* AMetafile, HDC ReferenceDevice) : FMetafile(AMetafile) {
  FRecordWidth = AMetafile->FWidth;
  FRecordHeight = AMetafile->FHeight;
  if (FRecordWidth <= 0 || FRecordHeight <= 0) {
    ScreenDC screen;
    HDC reference = ReferenceDevice ? ReferenceDevice : screen.get();
    FRecordWidth = GetDeviceCaps(reference, HORZRES);
    FRecordHeight = GetDeviceCaps(reference, VERTRES);
    if (FRecordWidth <= 0 || FRecordHeight <= 0) {
      FRecordWidth = 640;
      FRecordHeight = 480;
    }
  }
  dib::Image blank;
  blank.width = FRecordWidth;
  blank.height = FRecordHeight;
  blank.bitCount = 32;
  blank.bits.assign(dib::RowBytes(FRecordWidth, 32) * static_cast<std::uint64_t>(FRecordHeight), 0);
  for (std::size_t i = 3; i < blank.bits.size(); i += 4) blank.bits[i] = kUntouched;
  FRecord = CreateDibSection(blank);
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) {
    DeleteObject(FRecord);
    ThrowOutOfResources();
  }
  FOldBitmap = SelectObject(dc, FRecord);
  SetHandle(dc);
}

TMetafileCanvas::~TMetafileCanvas() {
  HDC dc = HandleAllocated() ? Handle() : nullptr;
  SetHandle(nullptr);
  if (dc) {
    SelectObject(dc, FOldBitmap);
    DeleteDC(dc);
  }
  FMetafile->TakeRecord(FRecord, FRecordWidth, FRecordHeight);
}
