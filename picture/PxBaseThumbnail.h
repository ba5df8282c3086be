#pragma once
// TPxBaseThumbImage: an image control that can be made invisible to the mouse.
#include "picture/PxExExtCtrls.h"

namespace px {

// Renaming the control leaves its Text alone (no csSetCaption).
class TPxBaseThumbImage : public TPxExImage {
 public:
  explicit TPxBaseThumbImage(TComponent* AOwner);
  ~TPxBaseThumbImage() override;

  // True: at run time the control answers every hit test with "no", so the mouse reaches what
  // lies beneath it. While the control is designed the inherited hit test answers instead.
  bool IgnoreMouse() const { return FIgnoreMouse; }
  void SetIgnoreMouse(bool Value) { FIgnoreMouse = Value; }

  const TPublishedClass* PublishedClass() const override;

 protected:
  bool HitTest(int X, int Y) override;

 private:
  bool FIgnoreMouse{false};
};

}  // namespace px
