#pragma once
// TPxThumbImage: the picture control; turns its picture by quarter turns through Angle.
#include <cstdint>
#include <functional>
#include <string>

#include "picture/PxBaseThumbnail.h"

namespace px {

// n: the loaded picture turned clockwise by n x 90 degrees.
enum TAngle : std::uint8_t { AT0 = 0, AT90 = 1, AT180 = 2, AT270 = 3 };

using TRotateNotify = std::function<void(TObject* Sender, BYTE Percent, bool& Cancel)>;
using TInvalidImageEvent = std::function<void(TObject* Sender, const std::string& AFileName)>;

// Turns a picture of 24-bit rows by a quarter turn: SrcRows holds the H rows (W pixels each) of
// the source, DstRows the W rows (H pixels each) of the destination. Clockwise: destination
// row y, column x := source row H-1-x, column y; counter-clockwise: := source row x, column W-1-y.
void QuarterTurn24(const std::uint8_t* const* SrcRows, int W, int H, std::uint8_t* const* DstRows, bool Clockwise);

class TPxThumbImage : public TPxBaseThumbImage {
 public:
  explicit TPxThumbImage(TComponent* AOwner);
  ~TPxThumbImage() override;

  TAngle Angle() const { return FAngle; }
  // The write accessor of Angle: turns the picture from the current angle to NewAngle (a
  // quarter turn either way, or a half turn by reflecting in both directions) and only then
  // records the new angle. Refused silently (Angle unchanged) without a graphic, with an empty
  // one, an icon or a metafile, and when NewAngle is the current angle. A failing turn
  // propagates its exception and leaves Angle and Modified as they were.
  void ChangeAngle(TAngle NewAngle);
  void SetAngle(TAngle Value) { ChangeAngle(Value); }
  // True while Angle is not AT0.
  bool Modified() const { return FModified; }
  // False without a graphic, with an empty graphic, an icon or a metafile (or classes derived
  // from them); true for every other graphic.
  bool CanModify() const { return IsPictureModifiable(); }
  bool IsPictureModifiable() const;
  // Stored only.
  WORD Zoom() const { return FZoom; }
  void SetZoom(WORD Value) { FZoom = Value; }

  // Turn the current picture by 90 degrees (the picture becomes a 24-bit bitmap of the turned
  // picture, whatever its class was). Nothing happens when CanModify is false.
  void RotateClockwise();
  void RotateCounterClockwise();
  // Reflects the current picture in place, keeping the graphic's class (its own Assign takes
  // the reflected bitmap): Kind 0 left-right, 1 top-bottom, 2 both (a half turn); other kinds
  // do nothing. Nothing happens when CanModify is false.
  void MirrorPicture(BYTE Kind);

  // Published; the control never raises them.
  TRotateNotify OnRotate;
  TNotifyEvent OnLoaded;
  TInvalidImageEvent OnInvalidImage;

  const TPublishedClass* PublishedClass() const override;

 private:
  void Rotate(bool Clockwise);

  TAngle FAngle{AT0};
  bool FModified{false};
  WORD FZoom{0};
};

}  // namespace px
