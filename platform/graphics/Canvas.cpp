#include "platform/graphics/Graphics.h"

// ---------------------------------------------------------------------------------------------
// Brush and pen

void TGraphicsObject::Changed(HGDIOBJ& Handle) {
  HGDIOBJ old = Handle;
  Handle = nullptr;
  if (OnChange) OnChange(this);
  if (old) DeleteObject(old);
}

TBrush::~TBrush() {
  if (FHandle) DeleteObject(FHandle);
}

void TBrush::SetColor(TColor Value) {
  if (Value == FColor && FStyle == bsSolid) return;
  FColor = Value;
  if (FStyle == bsClear) FStyle = bsSolid;
  Changed(FHandle);
}

void TBrush::SetStyle(TBrushStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed(FHandle);
}

HBRUSH TBrush::Handle() {
  if (!FHandle) {
    LOGBRUSH lb;
    lb.lbStyle = FStyle == bsClear ? BS_NULL : BS_SOLID;
    lb.lbColor = static_cast<COLORREF>(ColorToRGB(FColor));
    FHandle = CreateBrushIndirect(&lb);
  }
  return static_cast<HBRUSH>(FHandle);
}

void TBrush::Assign(TPersistent* Source) {
  if (auto* brush = dynamic_cast<TBrush*>(Source)) {
    FColor = brush->FColor;
    FStyle = brush->FStyle;
    Changed(FHandle);
    return;
  }
  TGraphicsObject::Assign(Source);
}

TPen::~TPen() {
  if (FHandle) DeleteObject(FHandle);
}

void TPen::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Changed(FHandle);
}

void TPen::SetWidth(int Value) {
  if (Value == FWidth || Value < 0) return;
  FWidth = Value;
  Changed(FHandle);
}

void TPen::SetStyle(TPenStyle Value) {
  if (Value == FStyle) return;
  FStyle = Value;
  Changed(FHandle);
}

HPEN TPen::Handle() {
  if (!FHandle) {
    static constexpr int kStyles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
    FHandle = CreatePen(kStyles[FStyle], FWidth, static_cast<COLORREF>(ColorToRGB(FColor)));
  }
  return static_cast<HPEN>(FHandle);
}

void TPen::Assign(TPersistent* Source) {
  if (auto* pen = dynamic_cast<TPen*>(Source)) {
    FColor = pen->FColor;
    FWidth = pen->FWidth;
    FStyle = pen->FStyle;
    Changed(FHandle);
    return;
  }
  TGraphicsObject::Assign(Source);
}

// ---------------------------------------------------------------------------------------------
// TCanvas

TCanvas::TCanvas() {
  FBrush.OnChange = [this](TObject*) { BrushChanged(); };
  FPen.OnChange = [this](TObject*) { PenChanged(); };
}

TCanvas::~TCanvas() {
  DeselectHandles();
  FBrush.OnChange = nullptr;
  FPen.OnChange = nullptr;
}

void TCanvas::CreateHandle() { throw EInvalidGraphicOperation("Canvas does not allow drawing"); }

HDC TCanvas::Handle() {
  if (!FHandle) CreateHandle();
  return FHandle;
}

void TCanvas::SetHandle(HDC Value) {
  if (Value == FHandle) return;
  DeselectHandles();
  FHandle = Value;
}

void TCanvas::DeselectHandles() {
  if (FHandle) {
    if (FBrushSelected && FOldBrush) SelectObject(FHandle, FOldBrush);
    if (FPenSelected && FOldPen) SelectObject(FHandle, FOldPen);
  }
  FBrushSelected = FPenSelected = false;
  FOldBrush = FOldPen = nullptr;
}

void TCanvas::RequirePenAndBrush() {
  HDC dc = Handle();
  if (!FBrushSelected) {
    HGDIOBJ old = SelectObject(dc, FBrush.Handle());
    if (!FOldBrush) FOldBrush = old;
    FBrushSelected = true;
  }
  if (!FPenSelected) {
    HGDIOBJ old = SelectObject(dc, FPen.Handle());
    if (!FOldPen) FOldPen = old;
    FPenSelected = true;
  }
}

// The brush or pen is about to delete its handle: take it out of the device context first.
void TCanvas::BrushChanged() {
  if (FHandle && FBrushSelected) {
    SelectObject(FHandle, FOldBrush ? FOldBrush : GetStockObject(NULL_BRUSH));
    FOldBrush = nullptr;
  }
  FBrushSelected = false;
}

void TCanvas::PenChanged() {
  if (FHandle && FPenSelected) {
    SelectObject(FHandle, FOldPen ? FOldPen : GetStockObject(BLACK_PEN));
    FOldPen = nullptr;
  }
  FPenSelected = false;
}

TRect TCanvas::ClipRect() {
  RECT r{};
  GetClipBox(Handle(), &r);
  return r;
}

void TCanvas::Changed() {
  if (OnChange) OnChange(this);
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Refresh() { DeselectHandles(); }

void TCanvas::CopyRect(const TRect& Dest, TCanvas* Canvas, const TRect& Source) {
  Changing();
  HDC dst = Handle();
  HDC src = Canvas->Handle();
  StretchBlt(dst, Dest.left, Dest.top, Dest.right - Dest.left, Dest.bottom - Dest.top, src, Source.left, Source.top,
             Source.right - Source.left, Source.bottom - Source.top, FCopyMode);
  Changed();
}

void TCanvas::Draw(int X, int Y, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  StretchDraw(TRect{X, Y, X + Graphic->Width(), Y + Graphic->Height()}, Graphic);
}

void TCanvas::StretchDraw(const TRect& Rect, TGraphic* Graphic) {
  if (!Graphic || Graphic->Empty()) return;
  Changing();
  HDC dc = Handle();
  RequirePenAndBrush();
  // Monochrome sources take the brush colour for 1 bits and black for 0 bits.
  SetBkColor(dc, static_cast<COLORREF>(ColorToRGB(FBrush.Color())));
  SetTextColor(dc, RGB(0, 0, 0));
  Graphic->Draw(this, Rect);
  Changed();
}

void TCanvas::FillRect(const TRect& Rect) {
  Changing();
  ::FillRect(Handle(), &Rect, FBrush.Handle());
  Changed();
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2) {
  Changing();
  RequirePenAndBrush();
  ::Rectangle(Handle(), X1, Y1, X2, Y2);
  Changed();
}

TColor TCanvas::Pixels(int X, int Y) {
  COLORREF c = GetPixel(Handle(), X, Y);
  return c == CLR_INVALID ? -1 : static_cast<TColor>(c);
}

void TCanvas::SetPixel(int X, int Y, TColor Color) {
  Changing();
  ::SetPixel(Handle(), X, Y, static_cast<COLORREF>(ColorToRGB(Color)));
  Changed();
}

void TCanvas::Lock() {
  FLock.lock();
  ++FLockCount;
}

void TCanvas::Unlock() {
  --FLockCount;
  FLock.unlock();
}

bool TCanvas::TryLock() {
  if (!FLock.try_lock()) return false;
  ++FLockCount;
  return true;
}
