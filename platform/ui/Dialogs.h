#pragma once
// Message boxes.
#include <string>

// Shows Msg in a modal message box captioned with the application's title (wide enough for the
// whole title), with one OK button, and returns when the user closes it.
void ShowMessage(const std::string& Msg);
