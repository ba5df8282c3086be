#pragma once
// The painter: walks the frames of an animated image with their delays, applies each frame's
// disposal through off-screen bitmaps, honours the loop count and raises the paint events.
// A threaded painter keeps time on its own thread and runs every paint step and event on the
// user-interface thread (Synchronize); an inline one runs in the caller's thread and keeps the
// message queue going between frames.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

#include "gif/Image.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

namespace gif {

// Timing, in hundredths of a second for delays and milliseconds for waits.
inline constexpr int FrameDelayScale = 12;    // ms per unit of a frame delay
inline constexpr int DefaultFrameDelay = 10;  // after a frame without a delay
inline constexpr int MinimumFrameDelay = 3;
inline constexpr int MaximumFrameDelay = 1000;  // inline painters only
inline constexpr int PausedFrameWait = MaximumFrameDelay * FrameDelayScale;

// The delay used after a frame: its graphic control extension's non-zero delay within the
// bounds, else the default.
int FrameDelay(TGIFSubImage* Frame, bool Threaded);

// The wait before the next frame. Half of the time by which the last step overran its plan
// (Now - LastTick - Carried) is taken off; Rate is in percent, below 1 paused.
struct TFrameWait {
  std::int64_t Wait;  // ms; INFINITE_WAIT for a threaded pause
  int Carried;        // the plan, remembered for the next step
};
inline constexpr std::int64_t INFINITE_WAIT = -1;
TFrameWait PlanFrameWait(int Delay, int Rate, DWORD Now, DWORD LastTick, int Carried, bool Threaded);

// Keeps the queue of the inline painter's thread going between frames; false when the
// application's loop is ending (the request stays for the loop to see). The default runs the
// queued synchronised calls of the user-interface thread.
using TGIFMessagePump = std::function<bool()>;
void SetGIFMessagePump(TGIFMessagePump Pump);

class TGIFPainter : public TThread {
 public:
  TGIFPainter(TGIFImage* Image, TGIFPaintFlags Options, const TRect& Rect, TCanvas* Canvas);
  // Also writes itself into *Reference, which it clears when it ends.
  TGIFPainter(TGIFPainter** Reference, TGIFPaintFlags Options, const TRect& Rect, TCanvas* Canvas, TGIFImage* Image);
  ~TGIFPainter() override;

  // A threaded painter starts running; an inline one does nothing.
  void Start();
  // Ends the painter soon: a waiting threaded painter wakes at once, an inline one within 100 ms.
  void Stop();

  TGIFImage* Image() const { return FImage.load(); }
  TCanvas* Canvas() const { return FCanvas; }
  const TRect& Rect() const { return FRect; }
  TGIFPaintFlags PaintOptions() const { return FOptions; }
  int AnimationRate() const { return FRate; }
  int ActiveFrame() const { return FActiveFrame.load(); }
  // Event handlers may choose the next frame (OnPaintFrameDone).
  void SetActiveFrame(int Value) { FActiveFrame.store(Value); }
  int CurrentDisposal() const { return FCurrentDisposal; }
  int PreviousDisposal() const { return FPreviousDisposal; }
  TBitmap* UnderlayBitmap() const { return FUnderlay.get(); }
  TBitmap* BackdropBitmap() const { return FBackdrop.get(); }
  bool HasWakeEvent() const { return FWakeEvent != nullptr; }
  bool Threaded() const { return (FOptions & drThreaded) != 0; }
  // The painter's step or event is running on the user-interface thread right now.
  bool InStep() const { return FInStep.load(); }
  // The error that ended the painting (an exception of the class library), if any.
  std::exception_ptr KeptException() const { return FKeptException; }

  TNotifyEvent OnPaintStart, OnPaintFrame, OnPaintFrameDone, OnPaintLoop, OnPaintEnd;

 protected:
  void Execute() override;

 private:
  friend class TGIFImage;

  void Animate();
  void RunInMainThread(const std::function<void()>& Step);
  void RaisePaintEvent(const TNotifyEvent& Event);
  void PaintWhole();
  void PaintWithDisposal();
  void RestoreBackground(TGIFSubImage* Frame);
  void WaitInline(std::int64_t Wait);
  // The shortest frame time, cut short by Stop.
  void WaitForPass();
  // Unlists the painter, clears the owner's reference, frees the bitmaps and the event.
  void HandleTerminate();
  // The image is going: it is not touched any more.
  void Detach() { FImage.store(nullptr); }
  TGIFSubImage* FrameAt(int Index) const;

  std::atomic<TGIFImage*> FImage;
  TCanvas* FCanvas;
  TRect FRect;
  TGIFPaintFlags FOptions;
  int FRate;
  std::atomic<int> FActiveFrame{-1};
  int FCurrentDisposal{1};
  int FPreviousDisposal{1};
  std::unique_ptr<TBitmap> FUnderlay;
  std::unique_ptr<TBitmap> FWork;
  std::unique_ptr<TBitmap> FBackdrop;
  TColor FFillColor{clWhite};
  HDC FStartDC{nullptr};
  bool FHasPainted{false};
  TGIFPainter** FOwnerReference{nullptr};
  HANDLE FWakeEvent{nullptr};
  std::exception_ptr FKeptException;
  std::atomic<bool> FInStep{false};
  bool FTerminateHandled{false};
};

}  // namespace gif
