#pragma once
// Start-up services of the control library: the print-client fix (a windowed control painted
// into a caller's device context by WM_PRINTCLIENT hands it back unchanged), the screen's
// cursor aliases, and the library's start-up data (PxLibraryData.h).
#include "platform/ui/Controls.h"

namespace px {

// The replacement of the windowed-control class's WM_PRINTCLIENT handler: saves the state of
// the device context of WParam, runs the class library's handler and restores the state, also
// when that handler raises. Other messages go to the class library's handler unchanged.
void PrintClientWithSavedDC(TWinControl* Control, TMessage& Message);
// Puts PrintClientWithSavedDC in place of the class's WM_PRINTCLIENT handler, keeping that one;
// nothing when the class has none (false). RemovePrintClientFix puts the kept handler back.
bool InstallPrintClientFix();
void RemovePrintClientFix();

// Cursor slots 100..103 of the screen take the handles of the stock cursors -16, -12, -16 and
// -16; errors are swallowed; nothing without a screen, or while the screen keeps no cursor
// handles.
void AliasScreenCursors();

// Start-up in the units' order (print-client fix, library data, cursor aliases) and exit in
// the reverse order; each runs once however often it is asked for.
void StartControlLibrary();
void StopControlLibrary();

}  // namespace px
