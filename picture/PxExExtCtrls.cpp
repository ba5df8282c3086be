#include "picture/PxExExtCtrls.h"

#include "platform/ui/Forms.h"
#include "platform/ui/Published.h"

namespace px {

namespace {

// One UTF-16 code unit as UTF-8 text; half of a surrogate pair is no character by itself and
// becomes U+FFFD.
std::string KeyText(WORD Key) {
  std::uint32_t c = Key;
  if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
  std::string s;
  if (c < 0x80) {
    s.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    s.push_back(static_cast<char>(0xC0 | (c >> 6)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    s.push_back(static_cast<char>(0xE0 | (c >> 12)));
    s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return s;
}

}  // namespace

TPxExImage::TPxExImage(TComponent* AOwner) : TImage(AOwner) { FHintColor = clDefault; }

TPxExImage::~TPxExImage() = default;

HRESULT TPxExImage::QueryInterface(const TGUID& IID, void** Obj) {
  if (GetInterface(IID)) {
    if (Obj) *Obj = this;
    return S_OK;
  }
  if (Obj) *Obj = nullptr;
  return E_NOINTERFACE;
}

void TPxExImage::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case CM_DIALOGCHAR: {
      WORD key = LOWORD(Message.WParam);
      Message.Result = DialogChar(key, KeyDataToShiftState(Message.LParam), KeyText(key)) ? 1 : 0;
      return;
    }
    case CM_FOCUSCHANGED:
      FocusChanged(reinterpret_cast<TControl*>(Message.LParam));
      return;
    case CM_PARENTFONTCHANGED:
      ParentFontChanged();
      return;
    case CM_PARENTCOLORCHANGED:
      ParentColorChanged();
      return;
    case CM_HITTEST:
      Message.Result = HitTest(GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)) ? 1 : 0;
      return;
    case CM_VISIBLECHANGED:
      VisibleChanged();
      return;
    case CM_ENABLEDCHANGED:
      EnabledChanged();
      return;
    case CM_COLORCHANGED:
      ColorChanged();
      return;
    case CM_FONTCHANGED:
      FontChanged();
      return;
    case CM_TEXTCHANGED:
      TextChanged();
      return;
    case CM_MOUSEENTER:
      MouseEnter(reinterpret_cast<TControl*>(Message.LParam));
      return;
    case CM_MOUSELEAVE:
      MouseLeave(reinterpret_cast<TControl*>(Message.LParam));
      return;
    case CM_PARENTSHOWHINTCHANGED:
      ParentShowHintChanged();
      return;
    case CM_HINTSHOW:
      if (Message.LParam == 0) break;  // no record: nothing to work on
      Message.Result = HintShow(*reinterpret_cast<THintInfo*>(Message.LParam)) ? 1 : 0;
      return;
    case CM_PXQUERYINTERFACE:
      Message.Result = GetInterface(IID_IPxQueried) ? 1 : 0;
      return;
    default:
      break;
  }
  TImage::WndProc(Message);
}

LRESULT TPxExImage::PassOn(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage message{Msg, WParam, LParam, 0};
  TImage::WndProc(message);
  return message.Result;
}

void TPxExImage::TextChanged() { PassOn(CM_TEXTCHANGED, 0, 0); }

bool TPxExImage::DialogChar(WORD Key, TShiftState Shift, const std::string&) {
  return PassOn(CM_DIALOGCHAR, Key, ShiftStateToKeyData(Shift)) != 0;
}

bool TPxExImage::HitTest(int X, int Y) { return PassOn(CM_HITTEST, 0, MAKELPARAM(X, Y)) != 0; }

void TPxExImage::FocusChanged(TControl* Control) { PassOn(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(Control)); }

void TPxExImage::VisibleChanged() { PassOn(CM_VISIBLECHANGED, 0, 0); }

void TPxExImage::EnabledChanged() { PassOn(CM_ENABLEDCHANGED, 0, 0); }

void TPxExImage::ColorChanged() { PassOn(CM_COLORCHANGED, 0, 0); }

void TPxExImage::FontChanged() { PassOn(CM_FONTCHANGED, 0, 0); }

void TPxExImage::ParentFontChanged() { PassOn(CM_PARENTFONTCHANGED, 0, 0); }

void TPxExImage::ParentColorChanged() {
  PassOn(CM_PARENTCOLORCHANGED, 0, 0);
  if (OnParentColorChange) OnParentColorChange(this);
}

void TPxExImage::ParentShowHintChanged() { PassOn(CM_PARENTSHOWHINTCHANGED, 0, 0); }

bool TPxExImage::HintShow(THintInfo& HintInfo) {
  ApplyHintColor(HintInfo);
  return PassOn(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&HintInfo)) != 0;
}

void TPxExImage::ApplyHintColor(THintInfo& HintInfo) {
  if (FHintColor == clNone) {
    HintInfo.HintColor = Application->HintColor();
  } else if (FHintColor == clDefault) {
    if (TWinControl* parent = Parent()) {
      THintInfo copy = HintInfo;
      parent->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&copy));
      HintInfo.HintColor = copy.HintColor;
    }
  } else {
    HintInfo.HintColor = FHintColor;
  }
}

void TPxExImage::MouseEnter(TControl* Control) {
  FMouseOver = true;
  if (OnMouseEnter) OnMouseEnter(this);
  PassOn(CM_MOUSEENTER, 0, reinterpret_cast<LPARAM>(Control));
}

void TPxExImage::MouseLeave(TControl* Control) {
  FMouseOver = false;
  PassOn(CM_MOUSELEAVE, 0, reinterpret_cast<LPARAM>(Control));
  if (OnMouseLeave) OnMouseLeave(this);
}

const TPublishedClass* TPxExImage::PublishedClass() const {
  static const TPublishedClass published{
      "TPxExImage",
      TImage::PublishedClass(),
      {
          StringProperty(
              "AboutPx", "TPxAboutInfo", [](TControl* C) { return static_cast<TPxExImage*>(C)->AboutPx(); },
              [](TControl*, const std::string&) {}, psNever),
      }};
  return &published;
}

}  // namespace px
