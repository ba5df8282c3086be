#include "picture/PxThumbImage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/ui/Published.h"

namespace px {

void QuarterTurn24(const std::uint8_t* const* SrcRows, int W, int H, std::uint8_t* const* DstRows, bool Clockwise) {
  // In square tiles, so that the column-wise reads of the source stay in the cache. A pixel moves
  // as one 4-byte load and store where the fourth byte is still inside the row (the next pixel
  // writes over it), else as 3 bytes.
  constexpr int kTile = 32;
  for (int y0 = 0; y0 < W; y0 += kTile) {
    const int y1 = std::min(y0 + kTile, W);
    for (int x0 = 0; x0 < H; x0 += kTile) {
      const int x1 = std::min(x0 + kTile, H);
      const int wideEnd = std::min(x1, H - 1);  // the row's last pixel is stored as 3 bytes
      for (int y = y0; y < y1; ++y) {
        std::uint8_t* d = DstRows[y] + static_cast<std::size_t>(x0) * 3;
        const int sourceColumn = Clockwise ? y : W - 1 - y;
        const std::size_t offset = static_cast<std::size_t>(sourceColumn) * 3;
        const bool wideLoad = sourceColumn < W - 1;
        int x = x0;
        if (wideLoad) {
          for (; x < wideEnd; ++x, d += 3) {
            const std::uint8_t* s = (Clockwise ? SrcRows[H - 1 - x] : SrcRows[x]) + offset;
            std::uint32_t v;
            std::memcpy(&v, s, 4);
            std::memcpy(d, &v, 4);
          }
        }
        for (; x < x1; ++x, d += 3) std::memcpy(d, (Clockwise ? SrcRows[H - 1 - x] : SrcRows[x]) + offset, 3);
      }
    }
  }
}

TPxThumbImage::TPxThumbImage(TComponent* AOwner) : TPxBaseThumbImage(AOwner) {
  FAngle = AT0;
  FModified = false;
}

TPxThumbImage::~TPxThumbImage() = default;

bool TPxThumbImage::IsPictureModifiable() const {
  TPicture* picture = Picture();
  if (!picture) return false;
  TGraphic* graphic = picture->Graphic();
  if (!graphic || graphic->Empty()) return false;
  if (graphic->InheritsFrom(TMetafile::StaticClass()) || graphic->InheritsFrom(TIcon::StaticClass())) return false;
  return true;
}

void TPxThumbImage::ChangeAngle(TAngle NewAngle) {
  if (!Picture()->Graphic() || !IsPictureModifiable()) return;
  if (NewAngle == FAngle || NewAngle > AT270) return;
  enum Op : std::uint8_t { None, Clockwise, CounterClockwise, HalfTurn };
  // Rows: the current angle; columns: the new one.
  static constexpr Op kOps[4][4] = {
      {None, Clockwise, HalfTurn, CounterClockwise},
      {CounterClockwise, None, Clockwise, HalfTurn},
      {HalfTurn, CounterClockwise, None, Clockwise},
      {Clockwise, HalfTurn, CounterClockwise, None},
  };
  switch (kOps[FAngle][NewAngle]) {
    case Clockwise:
      RotateClockwise();
      break;
    case CounterClockwise:
      RotateCounterClockwise();
      break;
    case HalfTurn:
      MirrorPicture(2);
      break;
    case None:
      break;
  }
  FAngle = NewAngle;
  FModified = NewAngle != AT0;
}

void TPxThumbImage::RotateClockwise() { Rotate(true); }

void TPxThumbImage::RotateCounterClockwise() { Rotate(false); }

void TPxThumbImage::Rotate(bool Clockwise) {
  TGraphic* graphic = Picture()->Graphic();
  if (!graphic || !IsPictureModifiable()) return;
  TBitmap src;
  TBitmap dst;
  src.Assign(graphic);
  src.SetHandleType(bmDIB);
  src.SetPixelFormat(pf24bit);
  dst.SetPixelFormat(src.PixelFormat());
  dst.SetHandleType(src.HandleType());
  dst.SetWidth(src.Height());
  dst.SetHeight(src.Width());
  const int w = src.Width();
  const int h = src.Height();
  if (w > 0 && h > 0) {
    std::vector<const std::uint8_t*> srcRows(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y) srcRows[static_cast<std::size_t>(y)] = static_cast<const std::uint8_t*>(src.ScanLine(y));
    std::vector<std::uint8_t*> dstRows(static_cast<std::size_t>(w));
    for (int y = 0; y < w; ++y) dstRows[static_cast<std::size_t>(y)] = static_cast<std::uint8_t*>(dst.ScanLine(y));
    QuarterTurn24(srcRows.data(), w, h, dstRows.data(), Clockwise);
    dst.Changed(&dst);
  }
  Picture()->Bitmap()->Assign(&dst);
  Invalidate();
}

void TPxThumbImage::MirrorPicture(BYTE Kind) {
  TGraphic* graphic = Picture()->Graphic();
  if (!graphic || !IsPictureModifiable()) return;
  if (Kind > 2) return;
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetHandleType(bmDIB);
  b.SetWidth(graphic->Width());
  b.SetHeight(Picture()->Height());
  b.Canvas()->Draw(0, 0, graphic);
  const int w = b.Width();
  const int h = b.Height();
  if (w > 0 && h > 0) {
    HDC dc = b.Canvas()->Handle();
    BOOL ok = FALSE;
    switch (Kind) {
      case 0:
        ok = StretchBlt(dc, w, 0, -w, h, dc, 0, 0, w, h, SRCCOPY);
        break;
      case 1:
        ok = StretchBlt(dc, 0, h, w, -h, dc, 0, 0, w, h, SRCCOPY);
        break;
      default:
        ok = StretchBlt(dc, w, h, -w, -h, dc, 0, 0, w, h, SRCCOPY);
        break;
    }
    // A failed reflection must not pass for a turned picture.
    if (!ok) throw EOutOfResources();
    b.Changed(&b);
  }
  graphic->Assign(&b);
  Invalidate();
}

const TPublishedClass* TPxThumbImage::PublishedClass() const {
  auto self = [](TControl* C) { return static_cast<TPxThumbImage*>(C); };
  static const TPublishedClass published{
      "TPxThumbImage",
      TPxBaseThumbImage::PublishedClass(),
      {
          EnumProperty(
              "Angle", "TAngle", {"AT0", "AT90", "AT180", "AT270"},
              [self](TControl* C) { return static_cast<std::int64_t>(self(C)->Angle()); },
              [self](TControl* C, std::int64_t V) { self(C)->ChangeAngle(static_cast<TAngle>(V)); }, psAlways),
          BooleanProperty(
              "Modified", [self](TControl* C) { return self(C)->Modified(); }, nullptr, psNever),
          BooleanProperty(
              "CanModify", [self](TControl* C) { return self(C)->CanModify(); }, nullptr, psNever),
          IntegerProperty(
              "Zoom", "Word", 0, 65535, [self](TControl* C) { return static_cast<std::int64_t>(self(C)->Zoom()); },
              [self](TControl* C, std::int64_t V) { self(C)->SetZoom(static_cast<WORD>(V)); }, psAlways),
          EventProperty<TRotateNotify>("OnRotate", "TRotateNotify",
                                       [self](TControl* C) { return &self(C)->OnRotate; }),
          EventProperty<TNotifyEvent>("OnLoaded", "TNotifyEvent", [self](TControl* C) { return &self(C)->OnLoaded; }),
          EventProperty<TInvalidImageEvent>("OnInvalidImage", "TInvalidImageEvent",
                                            [self](TControl* C) { return &self(C)->OnInvalidImage; }),
      }};
  return &published;
}

}  // namespace px
