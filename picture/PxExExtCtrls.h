#pragma once
// TPxExImage: an image control whose component notifications are overridable operations.
#include <cstdint>
#include <string>

#include "platform/ui/Controls.h"
#include "platform/ui/ExtCtrls.h"

namespace px {

struct TGUID {
  std::uint32_t D1;
  std::uint16_t D2;
  std::uint16_t D3;
  std::uint8_t D4[8];
  friend bool operator==(const TGUID& A, const TGUID& B) {
    if (A.D1 != B.D1 || A.D2 != B.D2 || A.D3 != B.D3) return false;
    for (int i = 0; i < 8; ++i)
      if (A.D4[i] != B.D4[i]) return false;
    return true;
  }
};

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

// The interface the image controls implement (only the three basic operations).
inline constexpr TGUID IID_IPxExImage = {0x8E6579C3, 0xD683, 0x4562, {0xAF, 0xAB, 0xD2, 0x3C, 0x85, 0x26, 0xE3, 0x86}};
// The interface message CM_PXQUERYINTERFACE asks about; the image controls do not implement it.
inline constexpr TGUID IID_IPxQueried = {0x76942BC0, 0x2A6E, 0x4DC4, {0xBF, 0xC9, 0x8E, 0x11, 0x0D, 0xB7, 0xF6, 0x01}};
// Result 1 when the control implements IID_IPxQueried, else 0.
inline constexpr UINT CM_PXQUERYINTERFACE = 0xB7D0;

// WndProc turns each notification into an operation; every other message goes to TImage.
//
//   message                  operation                                   Result
//   CM_DIALOGCHAR            DialogChar(low 16 bits of WParam,            1 when it returns true, else 0
//                              KeyDataToShiftState(LParam), that
//                              character as UTF-8 text)
//   CM_FOCUSCHANGED          FocusChanged(LParam)                         unchanged
//   CM_PARENTFONTCHANGED     ParentFontChanged                            unchanged
//   CM_PARENTCOLORCHANGED    ParentColorChanged                           unchanged
//   CM_HITTEST               HitTest(signed low / high 16 bits of LParam) 1 when true, else 0
//   CM_VISIBLECHANGED, CM_ENABLEDCHANGED, CM_COLORCHANGED, CM_FONTCHANGED, CM_TEXTCHANGED,
//   CM_PARENTSHOWHINTCHANGED their operations                            unchanged
//   CM_MOUSEENTER/LEAVE      MouseEnter / MouseLeave(LParam)              unchanged
//   CM_HINTSHOW              HintShow(*LParam)                            1 when true, else 0
//   CM_PXQUERYINTERFACE      -                                            1 / 0 (see above)
//
// The default operations pass a fresh message (Result 0) to TImage's window procedure; the
// parent-font and parent-colour messages go with WParam 0, so the control takes the value from
// its parent, whatever the original message carried.
class TPxExImage : public TImage {
 public:
  explicit TPxExImage(TComponent* AOwner);
  ~TPxExImage() override;

  void WndProc(TMessage& Message) override;

  // The basic interface operations: components are not reference-counted (both give -1).
  HRESULT QueryInterface(const TGUID& IID, void** Obj);
  std::int32_t _AddRef() { return -1; }
  std::int32_t _Release() { return -1; }

  // clDefault: the hint takes the colour the parent chooses; clNone: the application's hint
  // colour; any other colour is used as it is.
  TColor HintColor() const { return FHintColor; }
  bool MouseOver() const { return FMouseOver; }
  // Design-time information only (never stored).
  std::string AboutPx() const { return "Px image controls"; }

  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;
  TNotifyEvent OnParentColorChange;

  const TPublishedClass* PublishedClass() const override;

 protected:
  virtual bool GetInterface(const TGUID& IID) const { return IID == IID_IPxExImage; }

  virtual void TextChanged();
  virtual bool DialogChar(WORD Key, TShiftState Shift, const std::string& KeyText);
  virtual bool HitTest(int X, int Y);
  virtual void FocusChanged(TControl* Control);
  virtual void VisibleChanged();
  virtual void EnabledChanged();
  virtual void ColorChanged();
  virtual void FontChanged();
  virtual void ParentFontChanged();
  virtual void ParentColorChanged();
  virtual void ParentShowHintChanged();
  // Applies the hint colour, then passes the record on; true cancels the hint.
  virtual bool HintShow(THintInfo& HintInfo);
  // MouseOver := true, OnMouseEnter, then the message.
  virtual void MouseEnter(TControl* Control);
  // MouseOver := false, the message, then OnMouseLeave.
  virtual void MouseLeave(TControl* Control);

  void SetHintColor(TColor Value) { FHintColor = Value; }

 private:
  LRESULT PassOn(UINT Msg, WPARAM WParam, LPARAM LParam);
  void ApplyHintColor(THintInfo& HintInfo);

  TColor FHintColor{clDefault};
  bool FMouseOver{false};
};

}  // namespace px
