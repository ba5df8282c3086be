#include <climits>

#include "platform/rtl/Timers.h"

#if KELV_RTL_WITH_QT
#include <QCoreApplication>
#include <QTimer>
#endif

#if KELV_RTL_WITH_QT
struct TTimer::TQtTimer {
  QTimer Timer;
};
#else
struct TTimer::TQtTimer {};
#endif

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() { delete FTimer; }

void TTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TTimer::SetInterval(UINT Value) {
  if (Value > static_cast<UINT>(INT_MAX)) Value = INT_MAX;
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TTimer::Timer() {
  if (!OnTimer) return;
  try {
    OnTimer(this);
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

void TTimer::UpdateTimer() {
#if KELV_RTL_WITH_QT
  const bool run = FEnabled && FInterval > 0 && QCoreApplication::instance() != nullptr;
  if (!run) {
    if (FTimer) FTimer->Timer.stop();
    return;
  }
  if (!FTimer) {
    FTimer = new TQtTimer;
    QObject::connect(&FTimer->Timer, &QTimer::timeout, [this] { Timer(); });
  }
  FTimer->Timer.start(static_cast<int>(FInterval));
#endif
}
