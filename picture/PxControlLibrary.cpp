#include "picture/PxControlLibrary.h"

#include <atomic>
#include <mutex>

#include "picture/PxLibraryData.h"
#include "platform/ui/Forms.h"

namespace px {

namespace {

std::atomic<TWinControl::TMessageHandler> KeptHandler{nullptr};
std::mutex StartLock;
int StartCount = 0;

// The screen's cursor slots, where the screen has them.
template <class S>
void AliasCursorsOf(S* AScreen) {
  if constexpr (requires(S* s, HCURSOR h) {
                  s->Cursors(0);
                  s->SetCursors(0, h);
                }) {
    try {
      AScreen->SetCursors(100, AScreen->Cursors(-16));
      AScreen->SetCursors(101, AScreen->Cursors(-12));
      AScreen->SetCursors(102, AScreen->Cursors(-16));
      AScreen->SetCursors(103, AScreen->Cursors(-16));
    } catch (...) {
    }
  } else {
    (void)AScreen;
  }
}

}  // namespace

void PrintClientWithSavedDC(TWinControl* Control, TMessage& Message) {
  TWinControl::TMessageHandler inherited = KeptHandler.load();
  if (Message.Msg != WM_PRINTCLIENT) {
    if (inherited) inherited(Control, Message);
    return;
  }
  HDC dc = reinterpret_cast<HDC>(Message.WParam);
  const int saved = SaveDC(dc);
  try {
    if (inherited) inherited(Control, Message);
  } catch (...) {
    RestoreDC(dc, saved);
    throw;
  }
  RestoreDC(dc, saved);
}

bool InstallPrintClientFix() {
  TWinControl::TMessageHandler own = TWinControl::MessageHandler(WM_PRINTCLIENT);
  if (!own || own == &PrintClientWithSavedDC) return false;
  KeptHandler.store(own);
  return TWinControl::SetMessageHandler(WM_PRINTCLIENT, &PrintClientWithSavedDC);
}

void RemovePrintClientFix() {
  if (TWinControl::MessageHandler(WM_PRINTCLIENT) != &PrintClientWithSavedDC) return;
  TWinControl::SetMessageHandler(WM_PRINTCLIENT, KeptHandler.load());
  KeptHandler.store(nullptr);
}

void AliasScreenCursors() {
  if (Screen) AliasCursorsOf(Screen);
}

void StartControlLibrary() {
  std::lock_guard<std::mutex> guard(StartLock);
  if (StartCount++ != 0) return;
  InstallPrintClientFix();
  StartLibraryData();
  AliasScreenCursors();
}

void StopControlLibrary() {
  std::lock_guard<std::mutex> guard(StartLock);
  if (StartCount == 0 || --StartCount != 0) return;
  StopLibraryData();
  RemovePrintClientFix();
}

}  // namespace px
