#pragma once
// TTimer: the class library's window-message timer. Its ticks run on the user-interface thread
// between other events, so a handler needs no locking. Ticks come from the Qt event loop: while
// no QCoreApplication exists (and in builds without Qt) an enabled timer stays silent.
#include "platform/rtl/Classes.h"

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner = nullptr);
  ~TTimer() override;

  // Ticks run while Enabled and Interval > 0. Default: enabled, 1000 ms.
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  UINT Interval() const { return FInterval; }
  void SetInterval(UINT Value);  // milliseconds; values above 2^31 - 1 count as 2^31 - 1

  // Raised on each tick; an exception it lets out goes to ShowException.
  TNotifyEvent OnTimer;

 protected:
  // Runs OnTimer.
  virtual void Timer();

 private:
  void UpdateTimer();
  struct TQtTimer;
  TQtTimer* FTimer{nullptr};
  bool FEnabled{true};
  UINT FInterval{1000};
};
