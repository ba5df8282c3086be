#pragma once
// The application object (the part the controls need so far: hint settings) and the
// Application global. Forms, message boxes and cursors join this header later.
#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Colour of hint windows: clInfoBk until set.
  TColor HintColor() const { return FHintColor; }
  void SetHintColor(TColor Value) { FHintColor = Value; }
  // Hints are shown at all only while this is true (the default).
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value) { FShowHint = Value; }

 private:
  TColor FHintColor{clInfoBk};
  bool FShowHint{true};
};

// The one application object; it exists before any code runs and lives until the process ends.
extern TApplication* Application;
