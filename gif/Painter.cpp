#include "gif/Painter.h"

#include <algorithm>
#include <limits>
#include <mutex>
#include <set>

namespace gif {

namespace {

std::mutex& PumpLock() {
  static std::mutex Lock;
  return Lock;
}

TGIFMessagePump& Pump() {
  static TGIFMessagePump P;
  return P;
}

bool RunMessagePump() {
  TGIFMessagePump P;
  {
    std::lock_guard<std::mutex> Guard(PumpLock());
    P = Pump();
  }
  if (P) return P();
  if (IsMainThread()) CheckSynchronize();
  return true;
}

HPALETTE SystemPalette() { return static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)); }

std::unique_ptr<TBitmap> MakeBuffer(int Width, int Height) {
  auto B = std::make_unique<TBitmap>();
  B->SetWidth(Width);
  B->SetHeight(Height);
  return B;
}

}  // namespace

void SetGIFMessagePump(TGIFMessagePump P) {
  std::lock_guard<std::mutex> Guard(PumpLock());
  Pump() = std::move(P);
}

int FrameDelay(TGIFSubImage* Frame, bool Threaded) {
  TGIFGraphicControlExtension* GCE = Frame ? Frame->GraphicControlExtension() : nullptr;
  if (!GCE || GCE->DelayTime() == 0) return DefaultFrameDelay;
  int Delay = std::max<int>(GCE->DelayTime(), MinimumFrameDelay);
  if (!Threaded) Delay = std::min(Delay, MaximumFrameDelay);
  return Delay;
}

TFrameWait PlanFrameWait(int Delay, int Rate, DWORD Now, DWORD LastTick, int Carried, bool Threaded) {
  if (Rate < 1) return TFrameWait{Threaded ? INFINITE_WAIT : PausedFrameWait, Carried};
  // The clock wraps after 49.7 days: the difference of two readings is taken modulo 2^32.
  const auto Since = static_cast<std::int64_t>(static_cast<std::int32_t>(Now - LastTick));
  const std::int64_t Elapsed = Since - Carried;
  const std::int64_t Half = Elapsed / 2;
  const std::int64_t Plan = static_cast<std::int64_t>(Delay) * FrameDelayScale - Half;
  // MulDiv(Plan, 100, Rate), rounded half away from zero.
  const std::int64_t Product = Plan * 100;
  std::int64_t Wait = (Product >= 0 ? Product + Rate / 2 : Product - Rate / 2) / Rate;
  if (Plan < std::numeric_limits<std::int32_t>::min() || Plan > std::numeric_limits<std::int32_t>::max() ||
      Wait < std::numeric_limits<std::int32_t>::min() || Wait > std::numeric_limits<std::int32_t>::max())
    return TFrameWait{PausedFrameWait, 0};
  return TFrameWait{Wait, static_cast<int>(Wait)};
}

// ---------------------------------------------------------------------------------------------
// Creation and end

TGIFPainter::TGIFPainter(TGIFImage* Image, TGIFPaintFlags Options, const TRect& Rect, TCanvas* Canvas)
    : TThread(true), FImage(Image), FCanvas(Canvas), FRect(Rect), FOptions(Options), FRate(Image->AnimationSpeed()) {
  SetFreeOnTerminate(true);
  OnTerminate = [this](TObject*) { HandleTerminate(); };
  if ((Options & drThreaded) && (Options & drAnimate) && Image->Images().Count() > 1 && FRate >= 0)
    FWakeEvent = CreateEvent(nullptr, FALSE, FALSE, nullptr);

  if (Image->BackgroundColor() != clNone)
    FFillColor = ColorToRGB(Image->BackgroundColor());
  else if (Image->GlobalColorMap()->Count() > 0)
    FFillColor = Image->BackColor();
  else
    FFillColor = ColorToRGB(clWindow);

  std::set<int> Disposals;
  for (int i = 0; i < Image->Images().Count(); ++i)
    if (TGIFGraphicControlExtension* GCE = Image->Images().FrameAt(i)->GraphicControlExtension())
      Disposals.insert(GCE->DisposalMethod());
  if (Options & drClearOnLoop) Disposals.insert(2);

  const int W = Rect.right - Rect.left, H = Rect.bottom - Rect.top;
  const TRect Whole{0, 0, W, H};
  try {
    if (Disposals.count(2) && (Options & drTransparent)) {
      FBackdrop = MakeBuffer(W, H);
      FBackdrop->Canvas()->SetCopyMode(SRCCOPY);
      FBackdrop->Canvas()->CopyRect(Whole, Canvas, Rect);
    }
    if (Disposals.count(2) || Disposals.count(3)) {
      FUnderlay = MakeBuffer(W, H);
      FUnderlay->Canvas()->Brush()->SetColor(FFillColor);
      FUnderlay->Canvas()->Brush()->SetStyle(bsSolid);
      FUnderlay->Canvas()->CopyRect(Whole, Canvas, Rect);
      FWork = MakeBuffer(W, H);
      FWork->Canvas()->Brush()->SetColor(FFillColor);
      FWork->Canvas()->Brush()->SetStyle(bsSolid);
    }
  } catch (...) {
    if (FWakeEvent) CloseHandle(FWakeEvent);
    FWakeEvent = nullptr;
    throw;
  }
}

TGIFPainter::TGIFPainter(TGIFPainter** Reference, TGIFPaintFlags Options, const TRect& Rect, TCanvas* Canvas,
                         TGIFImage* Image)
    : TGIFPainter(Image, Options, Rect, Canvas) {
  FOwnerReference = Reference;
  if (Reference) *Reference = this;
}

TGIFPainter::~TGIFPainter() {
  // A threaded painter has been unlisted by its OnTerminate on the user-interface thread; an
  // inline or never started one is unlisted here.
  if (!FTerminateHandled && (!Threaded() || IsMainThread() || Suspended())) HandleTerminate();
  FUnderlay.reset();
  FWork.reset();
  FBackdrop.reset();
  if (FWakeEvent) CloseHandle(FWakeEvent);
  FWakeEvent = nullptr;
}

void TGIFPainter::HandleTerminate() {
  FTerminateHandled = true;
  if (TGIFImage* Img = FImage.load()) {
    Img->PainterList()->LockList();
    if (FOwnerReference && *FOwnerReference == this) *FOwnerReference = nullptr;
    Img->PainterList()->UnlockList();
    Img->PainterList()->Remove(this);
    FImage.store(nullptr);
  }
  FUnderlay.reset();
  FWork.reset();
  FBackdrop.reset();
  if (FWakeEvent) CloseHandle(FWakeEvent);
  FWakeEvent = nullptr;
}

void TGIFPainter::Start() {
  if (Threaded()) Resume();
}

void TGIFPainter::Stop() {
  Terminate();
  if (!Threaded()) return;
  if (FWakeEvent) SetEvent(FWakeEvent);
  SetPriority(tpNormal);
  if (Suspended()) Resume();
}

// ---------------------------------------------------------------------------------------------
// The animation

void TGIFPainter::RunInMainThread(const std::function<void()>& Step) {
  if (Terminated()) return;
  if (!Threaded()) {
    Step();
    return;
  }
  Synchronize([this, &Step] {
    // A step queued before the painter was stopped does nothing.
    if (Terminated()) return;
    FInStep.store(true);
    try {
      Step();
    } catch (...) {
      FInStep.store(false);
      throw;
    }
    FInStep.store(false);
  });
}

void TGIFPainter::RaisePaintEvent(const TNotifyEvent& Event) {
  if (!Event) return;
  RunInMainThread([this, &Event] { Event(this); });
}

TGIFSubImage* TGIFPainter::FrameAt(int Index) const {
  TGIFImage* Img = FImage.load();
  if (!Img || Index < 0 || Index >= Img->Images().Count()) return nullptr;
  return Img->Images().FrameAt(Index);
}

void TGIFPainter::Execute() {
  try {
    Animate();
  } catch (const Exception&) {
    Terminate();
    FKeptException = std::current_exception();
  }
}

void TGIFPainter::Animate() {
  // After every step that ran on the user-interface thread the terminated flag is tested before
  // the image is touched again: an image that stops its painters from such a step may go.
  if (FOptions & drCheckCanvas) RunInMainThread([this] { FStartDC = FCanvas->Handle(); });
  FActiveFrame.store(0);
  RaisePaintEvent(OnPaintStart);
  FHasPainted = false;

  const bool IsThreaded = Threaded();
  int Passes = 1;
  int LoopStart = 0;
  bool LoopSeen = false;
  int Delay = IsThreaded ? 0 : 1;
  FPreviousDisposal = 1;
  DWORD LastTick = timeGetTime();
  int Carried = 0;

  while ((Passes != 0 || (FOptions & drLoopForever)) && !Terminated()) {
    FActiveFrame.store(LoopStart);
    if (FHasPainted) RaisePaintEvent(OnPaintLoop);
    bool Shown = false;
    for (;;) {
      if (Terminated()) break;
      TGIFSubImage* Frame = FrameAt(FActiveFrame.load());
      if (!Frame || Frame->IsEmpty()) break;

      if (Delay > 0) {
        // The frame is rendered before the wait, so that rendering takes from the wait.
        RunInMainThread([Frame] { Frame->RenderBitmap(); });
        if (Terminated()) break;
        const DWORD Now = timeGetTime();
        const TFrameWait Plan = PlanFrameWait(Delay, FRate, Now, LastTick, Carried, IsThreaded);
        Carried = Plan.Carried;
        LastTick = Now;
        if (IsThreaded) {
          if ((Plan.Wait > 0 || FRate == 0) && FWakeEvent) {
            const DWORD Ms = Plan.Wait == INFINITE_WAIT ? INFINITE : static_cast<DWORD>(Plan.Wait);
            if (WaitForSingleObject(FWakeEvent, Ms) == WAIT_OBJECT_0) {
              Carried = 0;
              LastTick = timeGetTime();
            }
          }
        } else {
          WaitInline(Plan.Wait);
        }
      } else {
        Sleep(0);
      }
      if (Terminated()) break;
      RaisePaintEvent(OnPaintFrame);
      if (Terminated()) break;
      // An event handler may have moved to another frame.
      Frame = FrameAt(FActiveFrame.load());
      if (!Frame || Frame->IsEmpty()) break;

      FCurrentDisposal = 1;
      for (int i = 0; i < Frame->Extensions().Count(); ++i) {
        TGIFExtension* Ext = Frame->Extensions().ExtensionAt(i);
        if (auto* Loop = dynamic_cast<TGIFAppExtNSLoop*>(Ext)) {
          if (LoopSeen) continue;
          LoopSeen = true;
          Passes = Loop->LoopCount();
          if (IsThreaded && (Loop->LoopCount() == 0 || (FOptions & drLoopForever))) Passes = -1;
          LoopStart = FActiveFrame.load();
        } else if (auto* GCE = dynamic_cast<TGIFGraphicControlExtension*>(Ext)) {
          FCurrentDisposal = GCE->DisposalMethod();
        }
      }
      if (FUnderlay)
        RunInMainThread([this] { PaintWithDisposal(); });
      else
        RunInMainThread([this] { PaintWhole(); });
      Shown = true;
      FPreviousDisposal = FCurrentDisposal;
      if (Terminated()) break;

      Delay = FrameDelay(Frame, IsThreaded);
      const int Noted = FActiveFrame.load();
      RaisePaintEvent(OnPaintFrameDone);
      if (Terminated()) break;
      if (FActiveFrame.load() == Noted) FActiveFrame.store(Noted + 1);
      if (!(FOptions & drAnimate)) break;
    }
    if (Passes > 0) --Passes;
    if (!(FOptions & drAnimate) || !(FOptions & drLoop)) break;
    // A pass that showed nothing (it begins at an empty frame) still takes the shortest frame
    // time, so that endless passes neither burn a processor nor starve the message queue.
    if (!Shown && (Passes != 0 || (FOptions & drLoopForever)) && !Terminated()) WaitForPass();
  }
  FActiveFrame.store(-1);
  RaisePaintEvent(OnPaintEnd);
}

void TGIFPainter::WaitForPass() {
  constexpr int Wait = MinimumFrameDelay * FrameDelayScale;
  if (!Threaded())
    WaitInline(Wait);
  else if (FWakeEvent)
    WaitForSingleObject(FWakeEvent, Wait);
  else
    Sleep(Wait);
}

void TGIFPainter::WaitInline(std::int64_t Wait) {
  Wait = std::max<std::int64_t>(Wait, 1);
  DWORD Mark = timeGetTime();
  while (Wait > 0 && !Terminated()) {
    Sleep(static_cast<DWORD>(std::min<std::int64_t>(Wait, 100)));
    const DWORD Now = timeGetTime();
    Wait -= static_cast<std::int64_t>(Now - Mark);
    Mark = Now;
    if (!RunMessagePump()) Terminate();
  }
}

// ---------------------------------------------------------------------------------------------
// Paint steps (user-interface thread)

void TGIFPainter::PaintWhole() {
  TGIFSubImage* Frame = FrameAt(FActiveFrame.load());
  if (!Frame) return;
  Frame->DrawFrame(FCanvas, FRect, (FOptions & drTile) != 0, (FOptions & drTransparent) != 0);
  FHasPainted = true;
}

void TGIFPainter::PaintWithDisposal() {
  if (FOptions & drCheckCanvas) {
    // A memory DC is a device context as well.
    const DWORD Type = GetObjectType(FStartDC);
    if (Type != OBJ_DC && Type != OBJ_MEMDC) {
      Terminate();
      return;
    }
  }
  TGIFSubImage* Frame = FrameAt(FActiveFrame.load());
  if (!Frame) return;
  const bool ClearFirst = (FOptions & drClearOnLoop) && FActiveFrame.load() == 0;
  const TRect Whole{0, 0, FRect.right - FRect.left, FRect.bottom - FRect.top};

  TCanvas* DrawCanvas;
  TRect DrawRect = Whole;
  TBitmap* CopyFrom = nullptr;
  if (FCurrentDisposal == 3 && FPreviousDisposal != 2 && FPreviousDisposal != 3) {
    DrawCanvas = FCanvas;
    DrawRect = FRect;
  } else if (FCurrentDisposal == 3) {
    FWork->Canvas()->SetCopyMode(SRCCOPY);
    FWork->Canvas()->CopyRect(Whole, FUnderlay->Canvas(), Whole);
    DrawCanvas = FWork->Canvas();
    CopyFrom = FWork.get();
  } else {
    // 0, 1, 2 and the undefined values 4 to 7 are drawn onto the underlay.
    DrawCanvas = FUnderlay->Canvas();
    CopyFrom = FUnderlay.get();
  }

  HPALETTE Palette = Frame->PaletteHandle();
  if (!Palette) Palette = SystemPalette();
  HDC DC = DrawCanvas->Handle();
  HPALETTE OldPalette = SelectPalette(DC, Palette, FALSE);
  RealizePalette(DC);
  try {
    if (ClearFirst) RestoreBackground(Frame);
    Frame->DrawFrame(DrawCanvas, DrawRect, (FOptions & drTile) != 0, (FOptions & drTransparent) != 0);
    if (CopyFrom) {
      FCanvas->SetCopyMode(SRCCOPY);
      FCanvas->CopyRect(FRect, CopyFrom->Canvas(), Whole);
    }
  } catch (...) {
    if (OldPalette) SelectPalette(DrawCanvas->Handle(), OldPalette, FALSE);
    throw;
  }
  if (OldPalette) SelectPalette(DrawCanvas->Handle(), OldPalette, FALSE);
  if (FCurrentDisposal == 2) RestoreBackground(Frame);
  FHasPainted = true;
}

void TGIFPainter::RestoreBackground(TGIFSubImage* Frame) {
  TGIFImage* Img = FImage.load();
  if (!Img || !FUnderlay) return;
  // The buffers cover the target rectangle from their own (0, 0).
  const TRect Whole{0, 0, FRect.right - FRect.left, FRect.bottom - FRect.top};
  const int SW = Img->Width() > 0 ? Img->Width() : std::max(Frame->Width(), 1);
  const int SH = Img->Height() > 0 ? Img->Height() : std::max(Frame->Height(), 1);
  const bool Tile = (FOptions & drTile) != 0;
  TCanvas* Under = FUnderlay->Canvas();
  auto EachTile = [&](auto&& Action) {
    const TRect F = Frame->FrameRect();
    for (std::int64_t X = F.left; X < Whole.right; X += SW)
      for (std::int64_t Y = F.top; Y < Whole.bottom; Y += SH)
        Action(TRect{static_cast<LONG>(X), static_cast<LONG>(Y), static_cast<LONG>(X + Frame->Width()),
                     static_cast<LONG>(Y + Frame->Height())});
  };
  if (FOptions & drTransparent) {
    if (!FBackdrop) return;
    Under->SetCopyMode(SRCCOPY);
    if (Tile)
      EachTile([&](const TRect& R) { Under->CopyRect(R, FBackdrop->Canvas(), R); });
    else {
      const TRect R = Frame->MapRectToDest(Whole);
      Under->CopyRect(R, FBackdrop->Canvas(), R);
    }
    return;
  }
  if (Tile && Frame->Width() != Img->Width() && Frame->Height() != Img->Height()) {
    const TColor Old = Under->Brush()->Color();
    Under->Brush()->SetColor(Img->BackgroundColor() != clNone ? Img->BackgroundColor() : FFillColor);
    EachTile([&](const TRect& R) { Under->FillRect(R); });
    Under->Brush()->SetColor(Old);
    return;
  }
  Under->FillRect(Frame->MapRectToDest(Whole));
}

}  // namespace gif
