#pragma once
// The image control.
#include <memory>

#include "platform/graphics/Graphics.h"
#include "platform/ui/Controls.h"

// Where a picture of PictureWidth x PictureHeight is drawn in a client area of
// ClientWidth x ClientHeight:
//   - Stretch without Proportional: the whole client area;
//   - Proportional, when Stretch is set or the picture is wider or taller than the client area:
//     scaled by one factor to fit the client area; the side that limits takes the client size
//     exactly, the other is rounded to the nearest pixel (at least 1). Proportional alone never
//     enlarges a picture that fits;
//   - otherwise the picture's own size, clipped by nothing (it may stick out);
//   - Center moves the result by ((ClientWidth - w) / 2, (ClientHeight - h) / 2), the halves
//     rounded toward zero; without Center it starts at (0, 0).
// An empty picture (a side of 0) gives the empty rectangle (0, 0, 0, 0).
TRect ImageDestRect(int PictureWidth, int PictureHeight, int ClientWidth, int ClientHeight, bool Stretch,
                    bool Proportional, bool Center);

// Shows a TPicture. A change of the picture (a new graphic, or the graphic's own change)
// repaints the control, and with AutoSize sizes the control to the picture (an aligned control
// is then placed by its parent again). Transparent is handed to the graphic (not to icons and
// metafiles, which decide for themselves).
class TImage : public TGraphicControl {
 public:
  explicit TImage(TComponent* AOwner);
  ~TImage() override;

  TPicture* Picture() const { return FPicture.get(); }
  // Copies Value (null clears the picture).
  void SetPicture(TPicture* Value) { FPicture->Assign(Value); }

  bool Center() const { return FCenter; }
  void SetCenter(bool Value);
  bool Proportional() const { return FProportional; }
  void SetProportional(bool Value);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool Value);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  void SetAutoSize(bool Value) override;

  // The destination rectangle of the current picture in the client area (ImageDestRect).
  TRect DestRect();

  const TPublishedClass* PublishedClass() const override;

 protected:
  void Paint() override;
  virtual void PictureChanged(TObject* Sender);

 private:
  std::unique_ptr<TPicture> FPicture;
  bool FCenter{false};
  bool FProportional{false};
  bool FStretch{false};
  bool FTransparent{false};
  bool FInPictureChanged{false};
};
