#include "platform/ui/Controls.h"

#include <algorithm>
#include <atomic>

#include "platform/ui/Published.h"
#include "platform/ui/QtHost.h"

// ---------------------------------------------------------------------------------------------
// Key data

LPARAM ShiftStateToKeyData(TShiftState Shift) {
  LPARAM data = 0;
  if (Shift & ssAlt) data |= KF_ALTDOWN_BIT;
  if (Shift & ssCtrl) data |= KF_CTRLDOWN_BIT;
  if (Shift & ssShift) data |= KF_SHIFTDOWN_BIT;
  return data;
}

TShiftState KeyDataToShiftState(LPARAM KeyData) {
  TShiftState shift = 0;
  if (KeyData & KF_ALTDOWN_BIT) shift |= ssAlt;
  if (KeyData & KF_CTRLDOWN_BIT) shift |= ssCtrl;
  if (KeyData & KF_SHIFTDOWN_BIT) shift |= ssShift;
  return shift;
}

namespace {

TShiftState MouseKeysToShiftState(WPARAM Keys) {
  TShiftState shift = 0;
  if (Keys & MK_SHIFT) shift |= ssShift;
  if (Keys & MK_CONTROL) shift |= ssCtrl;
  if (Keys & MK_ALT) shift |= ssAlt;
  if (Keys & MK_LBUTTON) shift |= ssLeft;
  if (Keys & MK_RBUTTON) shift |= ssRight;
  if (Keys & MK_MBUTTON) shift |= ssMiddle;
  return shift;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
  FFont->OnChange = [this](TObject*) { FontObjectChanged(); };
}

TControl::~TControl() {
  FFont->OnChange = nullptr;
  if (FHost) {
    IControlHost* host = FHost;
    FHost = nullptr;
    host->ControlChanged(ccDestroying);
  }
  if (FParent) FParent->RemoveControl(this);
}

LRESULT TControl::Perform(UINT Msg, WPARAM WParam, LPARAM LParam) {
  TMessage message{Msg, WParam, LParam, 0};
  WndProc(message);
  return message.Result;
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case CM_PARENTFONTCHANGED:
      CMParentFontChanged(Message);
      break;
    case CM_PARENTCOLORCHANGED:
      CMParentColorChanged(Message);
      break;
    case CM_HITTEST:
      Message.Result = HTCLIENT;
      break;
    case CM_VISIBLECHANGED:
      RequestAlign();
      Invalidate();
      break;
    case CM_ENABLEDCHANGED:
    case CM_COLORCHANGED:
    case CM_FONTCHANGED:
    case CM_TEXTCHANGED:
      Invalidate();
      break;
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
      if (FParent) {
        LPARAM control = Message.LParam != 0 ? Message.LParam : reinterpret_cast<LPARAM>(this);
        FParent->Perform(Message.Msg, 0, control);
      }
      break;
    case CM_PARENTSHOWHINTCHANGED:
      if (FParentShowHint && FParent) {
        SetShowHint(FParent->ShowHint());
        FParentShowHint = true;
      }
      break;
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      HandleMouse(Message);
      break;
    default:
      break;
  }
}

void TControl::CMParentFontChanged(const TMessage& Message) {
  if (!FParentFont) return;
  TFont* source = nullptr;
  if (Message.WParam != 0)
    source = reinterpret_cast<TFont*>(Message.LParam);
  else if (FParent)
    source = FParent->Font();
  if (!source) return;
  FAdoptingFont = true;
  try {
    FFont->Assign(source);
  } catch (...) {
    FAdoptingFont = false;
    throw;
  }
  FAdoptingFont = false;
}

void TControl::CMParentColorChanged(const TMessage& Message) {
  if (!FParentColor) return;
  TColor color;
  if (Message.WParam != 0)
    color = static_cast<TColor>(Message.LParam);
  else if (FParent)
    color = FParent->Color();
  else
    return;
  SetColor(color);
  FParentColor = true;
}

void TControl::HandleMouse(TMessage& Message) {
  int x = GET_X_LPARAM(Message.LParam);
  int y = GET_Y_LPARAM(Message.LParam);
  TShiftState shift = MouseKeysToShiftState(Message.WParam);
  switch (Message.Msg) {
    case WM_MOUSEMOVE:
      MouseMove(shift, x, y);
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      if (Message.Msg == WM_LBUTTONDBLCLK) shift |= ssDouble;
      if (FControlStyle & csClickEvents) FClicking = true;
      MouseDown(mbLeft, shift, x, y);
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      if (Message.Msg == WM_RBUTTONDBLCLK) shift |= ssDouble;
      MouseDown(mbRight, shift, x, y);
      break;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      if (Message.Msg == WM_MBUTTONDBLCLK) shift |= ssDouble;
      MouseDown(mbMiddle, shift, x, y);
      break;
    case WM_LBUTTONUP: {
      bool click = FClicking && x >= 0 && y >= 0 && x < FWidth && y < FHeight;
      FClicking = false;
      MouseUp(mbLeft, shift, x, y);
      if (click) Click();
      break;
    }
    case WM_RBUTTONUP:
      MouseUp(mbRight, shift, x, y);
      break;
    case WM_MBUTTONUP:
      MouseUp(mbMiddle, shift, x, y);
      break;
    default:
      break;
  }
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int X, int Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot have itself as its parent");
  for (TWinControl* p = AParent; p; p = p->Parent())
    if (p == this) throw EInvalidOperation("A control cannot have one of its children as its parent");
  if (FParent) FParent->RemoveControl(this);
  if (AParent) AParent->InsertControl(this);
  NotifyHost(ccParent);
  if (AParent) AParent->HostChild(this);
  if (FParent) {
    if (FParentFont) Perform(CM_PARENTFONTCHANGED, 0, 0);
    if (FParentColor) Perform(CM_PARENTCOLORCHANGED, 0, 0);
    if (FParentShowHint) Perform(CM_PARENTSHOWHINTCHANGED, 0, 0);
    RequestAlign();
  }
}

void TControl::SetName(const std::string& NewName) {
  bool changeText = (FControlStyle & csSetCaption) != 0 && (ComponentState() & csLoading) == 0 &&
                    FText == Name();
  TComponent::SetName(NewName);
  if (changeText) SetText(NewName);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  if (ALeft != FLeft || ATop != FTop || AWidth != FWidth || AHeight != FHeight) {
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
    NotifyHost(ccBounds);
    Invalidate();
  }
  RequestAlign();
}

TRect TControl::ClientRect() { return TRect{0, 0, FWidth, FHeight}; }

void TControl::SetAlign(TAlign Value) {
  if (Value == FAlign) return;
  TAlign old = FAlign;
  FAlign = Value;
  if (old != alNone || Value != alNone) {
    if (FParent) FParent->Realign();
  }
}

void TControl::SetAutoSize(bool Value) { FAutoSize = Value; }

void TControl::RequestAlign() {
  if (FAlign != alNone && FParent) FParent->Realign();
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  NotifyHost(ccVisible);
  Perform(CM_VISIBLECHANGED, Value ? 1 : 0, 0);
}

void TControl::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  NotifyHost(ccEnabled);
  Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TControl::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  FParentColor = false;
  NotifyHost(ccColor);
  Perform(CM_COLORCHANGED, 0, 0);
}

void TControl::SetParentColor(bool Value) {
  if (Value == FParentColor) return;
  FParentColor = Value;
  if (Value) Perform(CM_PARENTCOLORCHANGED, 0, 0);
}

void TControl::FontObjectChanged() {
  if (!FAdoptingFont) FParentFont = false;
  NotifyHost(ccFont);
  Perform(CM_FONTCHANGED, 0, 0);
}

void TControl::SetParentFont(bool Value) {
  if (Value == FParentFont) return;
  FParentFont = Value;
  if (Value) Perform(CM_PARENTFONTCHANGED, 0, 0);
}

void TControl::SetText(const std::string& Value) {
  if (Value == FText) return;
  FText = Value;
  NotifyHost(ccText);
  Perform(CM_TEXTCHANGED, 0, 0);
}

void TControl::SetShowHint(bool Value) {
  FParentShowHint = false;
  if (Value == FShowHint) return;
  FShowHint = Value;
  Perform(CM_SHOWHINTCHANGED, 0, 0);
}

void TControl::SetParentShowHint(bool Value) {
  if (Value == FParentShowHint) return;
  FParentShowHint = Value;
  if (Value) Perform(CM_PARENTSHOWHINTCHANGED, 0, 0);
}

void TControl::Invalidate() { NotifyHost(ccInvalidate); }

const TPublishedClass* TControl::PublishedClass() const {
  static const TPublishedClass published{
      "TControl",
      nullptr,
      {
          IntegerProperty(
              "Left", "Integer", INT32_MIN, INT32_MAX, [](TControl* C) { return C->Left(); },
              [](TControl* C, std::int64_t V) { C->SetLeft(static_cast<int>(V)); }, psAlways),
          IntegerProperty(
              "Top", "Integer", INT32_MIN, INT32_MAX, [](TControl* C) { return C->Top(); },
              [](TControl* C, std::int64_t V) { C->SetTop(static_cast<int>(V)); }, psAlways),
          IntegerProperty(
              "Width", "Integer", INT32_MIN, INT32_MAX, [](TControl* C) { return C->Width(); },
              [](TControl* C, std::int64_t V) { C->SetWidth(static_cast<int>(V)); }, psAlways),
          IntegerProperty(
              "Height", "Integer", INT32_MIN, INT32_MAX, [](TControl* C) { return C->Height(); },
              [](TControl* C, std::int64_t V) { C->SetHeight(static_cast<int>(V)); }, psAlways),
      }};
  return &published;
}

// ---------------------------------------------------------------------------------------------
// TGraphicControl

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner), FCanvas(std::make_unique<TCanvas>()) {}

TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_PAINT) {
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    if (!dc) return;
    struct Restore {
      TCanvas* Canvas;
      ~Restore() { Canvas->SetHandle(nullptr); }
    } restore{FCanvas.get()};
    FCanvas->SetHandle(dc);
    FCanvas->Lock();
    try {
      Paint();
    } catch (...) {
      FCanvas->Unlock();
      throw;
    }
    FCanvas->Unlock();
    return;
  }
  TControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {
  SetControlStyle(ControlStyle() | csAcceptsControls);
}

TWinControl::~TWinControl() {
  while (!FControls.empty()) FControls.back()->SetParent(nullptr);
  // The binding lets go of the widget before this object's members go.
  if (IControlHost* host = Host()) {
    SetHost(nullptr);
    host->ControlChanged(ccDestroying);
  }
  FWidget = nullptr;
}

TControl* TWinControl::Controls(int Index) const {
  if (Index < 0 || Index >= ControlCount()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FControls[static_cast<std::size_t>(Index)];
}

void TWinControl::InsertControl(TControl* AControl) {
  FControls.push_back(AControl);
  AControl->FParent = this;
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto it = std::find(FControls.begin(), FControls.end(), AControl);
  if (it != FControls.end()) FControls.erase(it);
  if (AControl->FParent == this) AControl->FParent = nullptr;
  if (AControl->Align() != alNone) Realign();
}

void TWinControl::HostChild(TControl* AControl) {
  if (FWidget) QtHostControl(this, AControl);
}

void TWinControl::NotifyControls(UINT Msg) {
  TMessage message{Msg, 0, 0, 0};
  // A copy: a handler may add or remove controls.
  std::vector<TControl*> controls = FControls;
  for (TControl* control : controls) {
    if (std::find(FControls.begin(), FControls.end(), control) == FControls.end()) continue;
    message.Result = 0;
    control->WndProc(message);
  }
}

void TWinControl::Broadcast(TMessage& Message) {
  std::vector<TControl*> controls = FControls;
  for (TControl* control : controls) {
    if (std::find(FControls.begin(), FControls.end(), control) == FControls.end()) continue;
    control->WndProc(Message);
    if (Message.Result != 0) return;
  }
}

struct TWinControl::TMessageTable {
  struct TEntry {
    UINT Msg;
    std::atomic<TMessageHandler> Handler;
  };
  TEntry Entries[1];
  TEntry* Find(UINT Msg) {
    for (TEntry& e : Entries)
      if (e.Msg == Msg) return &e;
    return nullptr;
  }
};

TWinControl::TMessageTable& TWinControl::OwnMessages() {
  static TMessageTable table{{{WM_PRINTCLIENT, {&TWinControl::PrintClient}}}};
  return table;
}

TWinControl::TMessageHandler TWinControl::MessageHandler(UINT Msg) {
  TMessageTable::TEntry* entry = OwnMessages().Find(Msg);
  return entry ? entry->Handler.load() : nullptr;
}

bool TWinControl::SetMessageHandler(UINT Msg, TMessageHandler Handler) {
  TMessageTable::TEntry* entry = OwnMessages().Find(Msg);
  if (!entry) return false;
  entry->Handler.store(Handler);
  return true;
}

void TWinControl::PrintClient(TWinControl* Control, TMessage& Message) {
  HDC dc = reinterpret_cast<HDC>(Message.WParam);
  if (!dc) return;
  // A copy: painting may add or remove controls.
  std::vector<TControl*> controls = Control->FControls;
  for (TControl* control : controls) {
    if (!control->Visible()) continue;
    const int saved = SaveDC(dc);
    POINT origin;
    GetViewportOrgEx(dc, &origin);
    SetViewportOrgEx(dc, origin.x + control->Left(), origin.y + control->Top(), nullptr);
    IntersectClipRect(dc, 0, 0, control->Width(), control->Height());
    try {
      control->Perform(WM_PAINT, Message.WParam, 0);
    } catch (...) {
      RestoreDC(dc, saved);
      throw;
    }
    RestoreDC(dc, saved);
  }
}

void TWinControl::WndProc(TMessage& Message) {
  if (TMessageHandler handler = MessageHandler(Message.Msg)) {
    handler(this, Message);
    return;
  }
  switch (Message.Msg) {
    case CM_DIALOGCHAR: {
      TMessage message{Message.Msg, Message.WParam, Message.LParam, 0};
      Broadcast(message);
      Message.Result = message.Result;
      return;
    }
    case CM_FOCUSCHANGED: {
      TMessage message = Message;
      Broadcast(message);
      return;
    }
    case CM_COLORCHANGED:
      TControl::WndProc(Message);
      NotifyControls(CM_PARENTCOLORCHANGED);
      return;
    case CM_FONTCHANGED:
      TControl::WndProc(Message);
      NotifyControls(CM_PARENTFONTCHANGED);
      return;
    case CM_SHOWHINTCHANGED:
      TControl::WndProc(Message);
      NotifyControls(CM_PARENTSHOWHINTCHANGED);
      return;
    default:
      TControl::WndProc(Message);
      return;
  }
}

TControl* TWinControl::ControlAtPos(const TPoint& Pos, bool AllowDisabled) {
  for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
    TControl* control = *it;
    if (!control->Visible()) continue;
    if (!control->Enabled() && !AllowDisabled) continue;
    TRect r = control->BoundsRect();
    if (Pos.x < r.left || Pos.y < r.top || Pos.x >= r.right || Pos.y >= r.bottom) continue;
    if (control->Perform(CM_HITTEST, 0, MAKELPARAM(Pos.x - r.left, Pos.y - r.top)) != 0) return control;
  }
  return nullptr;
}

TRect TWinControl::ClientRect() {
  TRect r = TControl::ClientRect();
  if (Host()) r = Host()->HostClientRect(r);
  return r;
}

void TWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  bool resized = std::max(AWidth, 0) != Width() || std::max(AHeight, 0) != Height();
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (resized) Realign();
}

void TWinControl::Realign() {
  if (FAligning > 0) return;
  ++FAligning;
  try {
    TRect rect = ClientRect();
    auto place = [&](TAlign align) {
      for (TControl* c : FControls) {
        if (c->Align() != align || !c->Visible()) continue;
        int w = c->Width();
        int h = c->Height();
        switch (align) {
          case alTop:
            c->SetBounds(rect.left, rect.top, rect.right - rect.left, h);
            rect.top = std::min(rect.top + h, rect.bottom);
            break;
          case alBottom:
            c->SetBounds(rect.left, rect.bottom - h, rect.right - rect.left, h);
            rect.bottom = std::max(rect.bottom - h, rect.top);
            break;
          case alLeft:
            c->SetBounds(rect.left, rect.top, w, rect.bottom - rect.top);
            rect.left = std::min(rect.left + w, rect.right);
            break;
          case alRight:
            c->SetBounds(rect.right - w, rect.top, w, rect.bottom - rect.top);
            rect.right = std::max(rect.right - w, rect.left);
            break;
          case alClient:
            c->SetBounds(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
            break;
          case alNone:
            break;
        }
      }
    };
    place(alTop);
    place(alBottom);
    place(alLeft);
    place(alRight);
    place(alClient);
  } catch (...) {
    --FAligning;
    throw;
  }
  --FAligning;
}

void TWinControl::AttachWidget(QWidget* Widget) { QtBindWinControl(this, Widget, false); }

void TWinControl::HandleNeeded() {
  if (!FWidget) QtBindWinControl(this, nullptr, true);
}
