#include "picture/PxBaseThumbnail.h"

#include "platform/ui/Published.h"

namespace px {

TPxBaseThumbImage::TPxBaseThumbImage(TComponent* AOwner) : TPxExImage(AOwner) {
  SetControlStyle(ControlStyle() & ~static_cast<TControlStyle>(csSetCaption));
  FIgnoreMouse = false;
}

TPxBaseThumbImage::~TPxBaseThumbImage() = default;

bool TPxBaseThumbImage::HitTest(int X, int Y) {
  if (ComponentState() & csDesigning) return TPxExImage::HitTest(X, Y);
  return !FIgnoreMouse;
}

const TPublishedClass* TPxBaseThumbImage::PublishedClass() const {
  static const TPublishedClass published{
      "TPxBaseThumbImage",
      TPxExImage::PublishedClass(),
      {
          BooleanProperty(
              "IgnoreMouse", [](TControl* C) { return static_cast<TPxBaseThumbImage*>(C)->IgnoreMouse(); },
              [](TControl* C, bool V) { static_cast<TPxBaseThumbImage*>(C)->SetIgnoreMouse(V); }, psAlways),
      }};
  return &published;
}

}  // namespace px
