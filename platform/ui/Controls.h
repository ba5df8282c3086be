#pragma once
// The class library's control model: component notification messages, TControl (message
// dispatch through WndProc/Perform, parent, bounds, alignment, font, colour, hints, mouse),
// TGraphicControl (painted on a canvas) and TWinControl (a parent that holds controls and stands
// for a Qt widget).
//
// The model itself is plain C++; a control shows on screen through a host (IControlHost): a
// TWinControl binds to a QWidget (AttachWidget / HandleNeeded), and every non-windowed child of
// a TWinControl that has a widget gets a hosting widget of its own (platform/ui/QtHost.h).
// The hosts turn Qt's events into the messages below and the model's changes into widget state.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/ui/Messages.h"

class QWidget;
class TWinControl;
struct TPublishedClass;

// An operation the control's state does not allow.
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// ---------------------------------------------------------------------------------------------
// Component notification messages

inline constexpr UINT CM_BASE = 0xB000;
inline constexpr UINT CM_DIALOGCHAR = CM_BASE + 0x06;       // WParam: character; LParam: key data
inline constexpr UINT CM_FOCUSCHANGED = CM_BASE + 0x07;     // LParam: the control that got the focus (or 0)
inline constexpr UINT CM_PARENTFONTCHANGED = CM_BASE + 0x08;   // WParam != 0: LParam is the TFont to take
inline constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 0x09;  // WParam != 0: LParam is the TColor to take
inline constexpr UINT CM_HITTEST = CM_BASE + 0x0A;          // LParam: client X, Y (MAKELPARAM); Result: HTCLIENT or 0
inline constexpr UINT CM_VISIBLECHANGED = CM_BASE + 0x0B;
inline constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 0x0C;
inline constexpr UINT CM_COLORCHANGED = CM_BASE + 0x0D;
inline constexpr UINT CM_FONTCHANGED = CM_BASE + 0x0E;
inline constexpr UINT CM_TEXTCHANGED = CM_BASE + 0x12;
inline constexpr UINT CM_MOUSEENTER = CM_BASE + 0x13;       // LParam: 0 from the host; the child when passed up
inline constexpr UINT CM_MOUSELEAVE = CM_BASE + 0x14;
inline constexpr UINT CM_SHOWHINTCHANGED = CM_BASE + 0x22;
inline constexpr UINT CM_PARENTSHOWHINTCHANGED = CM_BASE + 0x23;
inline constexpr UINT CM_HINTSHOW = CM_BASE + 0x30;         // LParam: THintInfo*; Result != 0 cancels the hint

// ---------------------------------------------------------------------------------------------
// Small types

// Control style: a set of flags.
enum TControlStyleFlag : std::uint32_t {
  csAcceptsControls = 1u << 0,
  csCaptureMouse = 1u << 1,
  csClickEvents = 1u << 2,
  csSetCaption = 1u << 3,  // renaming the control also renames its Text while Text equals the old name
  csOpaque = 1u << 4,      // the control covers its whole client area when painting
  csDoubleClicks = 1u << 5,
  csReplicatable = 1u << 6,
};
using TControlStyle = std::uint32_t;

enum TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

// Shift state: a set of flags.
enum TShiftStateFlag : std::uint16_t {
  ssShift = 1u << 0,
  ssAlt = 1u << 1,
  ssCtrl = 1u << 2,
  ssLeft = 1u << 3,
  ssRight = 1u << 4,
  ssMiddle = 1u << 5,
  ssDouble = 1u << 6,
};
using TShiftState = std::uint16_t;

enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

// Key data (the LParam of CM_DIALOGCHAR): Alt is 0x20000000, Ctrl 0x10000000, Shift 0x08000000;
// the mouse-button and double-click flags of a shift state have no bit. The hosts encode all
// three keys, so the conversion back reads all three.
inline constexpr LPARAM KF_ALTDOWN_BIT = 0x20000000;
inline constexpr LPARAM KF_CTRLDOWN_BIT = 0x10000000;
inline constexpr LPARAM KF_SHIFTDOWN_BIT = 0x08000000;
LPARAM ShiftStateToKeyData(TShiftState Shift);
TShiftState KeyDataToShiftState(LPARAM KeyData);

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

class TControl;

// The hint record passed with CM_HINTSHOW. Positions are screen coordinates except CursorPos and
// CursorRect (client coordinates of HintControl).
struct THintInfo {
  TControl* HintControl{nullptr};
  TPoint HintPos;
  int HintMaxWidth{0};
  TColor HintColor{clInfoBk};
  TRect CursorRect;
  TPoint CursorPos;
  int ReshowTimeout{0};
  int HideTimeout{0};
  std::string HintStr;
  void* HintData{nullptr};
};

// ---------------------------------------------------------------------------------------------
// Hosts

enum TControlChange : std::uint8_t {
  ccInvalidate,  // repaint the control
  ccBounds,      // Left/Top/Width/Height changed
  ccVisible,
  ccEnabled,
  ccFont,
  ccColor,
  ccText,
  ccParent,      // Parent changed
  ccDestroying,  // the control is being destroyed: forget it
};

// What shows a control on screen. A control has at most one host; the host detaches itself
// (SetHost(nullptr)) when it goes first, and is told ccDestroying when the control goes first.
class IControlHost {
 public:
  virtual ~IControlHost() = default;
  virtual void ControlChanged(TControlChange Change) = 0;
  // The client area of a windowed control as its widget has it (a group box keeps room for its
  // frame and title); the default is the whole control.
  virtual TRect HostClientRect(const TRect& Default) { return Default; }
};

// ---------------------------------------------------------------------------------------------
// TControl

// Default handling of the notifications by TControl::WndProc (TWinControl adds what is noted):
//   CM_DIALOGCHAR          Result left as it is (0: no accelerator here); TWinControl offers it to
//                          its controls in order until one answers non-zero and returns that answer
//   CM_FOCUSCHANGED        nothing; TWinControl passes it on to its controls
//   CM_PARENTFONTCHANGED   with ParentFont: takes the font of LParam (WParam != 0) or else of the
//                          parent; ParentFont stays true; TWinControl then passes it on
//   CM_PARENTCOLORCHANGED  the same for Color and ParentColor
//   CM_HITTEST             Result := HTCLIENT (every point of the client area hits)
//   CM_VISIBLECHANGED      the parent realigns when the control is aligned; repaint
//   CM_ENABLEDCHANGED      repaint
//   CM_COLORCHANGED        repaint; TWinControl passes CM_PARENTCOLORCHANGED (WParam 0) to its controls
//   CM_FONTCHANGED         repaint; TWinControl passes CM_PARENTFONTCHANGED (WParam 0) to its controls
//   CM_TEXTCHANGED         repaint
//   CM_MOUSEENTER/LEAVE    passed to the parent with LParam = the control the mouse entered or left
//                          (this control when LParam is 0)
//   CM_SHOWHINTCHANGED     nothing; TWinControl passes CM_PARENTSHOWHINTCHANGED to its controls
//   CM_PARENTSHOWHINTCHANGED  with ParentShowHint: ShowHint := the parent's; ParentShowHint stays
//   CM_HINTSHOW            Result left as it is (0: show the hint as the record says)
//   WM_*BUTTON*, WM_MOUSEMOVE  MouseDown/MouseUp/MouseMove; a left press and release inside the
//                          control (csClickEvents) is a Click
// Every other message is left as it is (Result unchanged).
class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;

  // Messages
  virtual void WndProc(TMessage& Message);
  // Sends a message to this control (through WndProc) and returns its Result.
  LRESULT Perform(UINT Msg, WPARAM WParam, LPARAM LParam);

  // Parent: the windowed control this control sits in (not an owner).
  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  // csSetCaption: while Text equals the old name, the new name becomes the Text as well.
  void SetName(const std::string& NewName) override;

  TControlStyle ControlStyle() const { return FControlStyle; }
  void SetControlStyle(TControlStyle Value) { FControlStyle = Value; }

  // Bounds in the parent's client coordinates.
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  // Negative sizes become 0. An aligned control asks its parent to realign afterwards, which may
  // override the new bounds.
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  TRect BoundsRect() const { return TRect{FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  virtual TRect ClientRect();
  int ClientWidth() { TRect r = ClientRect(); return r.right - r.left; }
  int ClientHeight() { TRect r = ClientRect(); return r.bottom - r.top; }

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  bool AutoSize() const { return FAutoSize; }
  virtual void SetAutoSize(bool Value);

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value);

  // Colour and font; a change clears the Parent... flag and sends CM_COLORCHANGED or
  // CM_FONTCHANGED. Setting Parent... true takes the parent's value at once.
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);
  TFont* Font() const { return FFont.get(); }
  void SetFont(TFont* Value) { FFont->Assign(Value); }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value);

  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);  // sends CM_TEXTCHANGED when it changes

  // Hints
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value) { FHint = Value; }
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value);  // clears ParentShowHint; CM_SHOWHINTCHANGED when it changes
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool Value);

  // Asks the host to repaint the control (nothing without a host).
  virtual void Invalidate();

  IControlHost* Host() const { return FHost; }
  void SetHost(IControlHost* Value) { FHost = Value; }

  // The published properties of the control's class (platform/ui/Published.h). TControl
  // publishes Left, Top, Width and Height (always stored).
  virtual const TPublishedClass* PublishedClass() const;

  TNotifyEvent OnClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

 protected:
  virtual void Click();
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);

  void NotifyHost(TControlChange Change) {
    if (FHost) FHost->ControlChanged(Change);
  }
  // The parent realigns its controls (when this control is aligned).
  void RequestAlign();

 private:
  friend class TWinControl;

  void FontObjectChanged();
  void HandleMouse(TMessage& Message);
  void CMParentFontChanged(const TMessage& Message);
  void CMParentColorChanged(const TMessage& Message);

  TWinControl* FParent{nullptr};
  IControlHost* FHost{nullptr};
  TControlStyle FControlStyle{csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks};
  int FLeft{0}, FTop{0}, FWidth{0}, FHeight{0};
  TAlign FAlign{alNone};
  bool FAutoSize{false};
  bool FVisible{true};
  bool FEnabled{true};
  TColor FColor{clWindow};
  bool FParentColor{true};
  std::unique_ptr<TFont> FFont;
  bool FParentFont{true};
  bool FAdoptingFont{false};
  std::string FText;
  std::string FHint;
  bool FShowHint{false};
  bool FParentShowHint{true};
  bool FClicking{false};
};

// ---------------------------------------------------------------------------------------------
// TGraphicControl: a control without a window of its own, painted on a canvas.

class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* AOwner);
  ~TGraphicControl() override;

  // The canvas to paint on; it has a device context only while Paint runs.
  TCanvas* Canvas() const { return FCanvas.get(); }

  // WM_PAINT (WParam = HDC): gives the canvas that device context, runs Paint, takes it back.
  void WndProc(TMessage& Message) override;

 protected:
  virtual void Paint() {}

 private:
  std::unique_ptr<TCanvas> FCanvas;
};

// ---------------------------------------------------------------------------------------------
// TWinControl: a windowed control that holds other controls.

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  // Its controls stay alive (their owners free them) and are left without a parent.
  ~TWinControl() override;

  void WndProc(TMessage& Message) override;

  // The class's own message handlers by message number: a table fixed with the class whose
  // entries can be replaced at run time; WndProc runs an entry before anything else. The table
  // holds WM_PRINTCLIENT: the visible controls paint into the device context of WParam, each at
  // its place and clipped to its bounds (the context is handed back as it came).
  using TMessageHandler = void (*)(TWinControl* Control, TMessage& Message);
  static TMessageHandler MessageHandler(UINT Msg);  // null when the table has no entry
  // Replaces the entry of Msg; false (nothing changes) when the table has none.
  static bool SetMessageHandler(UINT Msg, TMessageHandler Handler);

  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int Index) const;  // EListError when out of range
  // Sends a message to every control (its own WParam and LParam) and to nothing else.
  void NotifyControls(UINT Msg);
  // Sends Message to each control in turn until one answers non-zero.
  void Broadcast(TMessage& Message);
  // The topmost visible control under a client point that answers CM_HITTEST non-zero (disabled
  // controls only with AllowDisabled); null when none.
  TControl* ControlAtPos(const TPoint& Pos, bool AllowDisabled);

  // Places the aligned controls in the client area: first the top ones (downwards, in order),
  // then the bottom ones (upwards), the left ones, the right ones, and finally the client ones,
  // each of which fills what is left.
  void Realign();
  TRect ClientRect() override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

  // The widget: an existing one bound with AttachWidget (not owned; the control takes its
  // bounds, font, colour, enabled and visible state from it, and follows its changes), or a
  // plain one made by HandleNeeded (owned) as a child of the parent's widget.
  QWidget* Widget() const { return FWidget; }
  bool HandleAllocated() const { return FWidget != nullptr; }
  void AttachWidget(QWidget* Widget);
  void HandleNeeded();
  // Hosting: the Qt layer registers the widget here (null when it goes).
  void SetWidget(QWidget* Widget) { FWidget = Widget; }

 protected:
  friend class TControl;
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  // Gives a control that has just joined a host of its own when this control has a widget.
  void HostChild(TControl* AControl);

 private:
  struct TMessageTable;
  static TMessageTable& OwnMessages();
  static void PrintClient(TWinControl* Control, TMessage& Message);

  std::vector<TControl*> FControls;  // in z-order, bottom first
  QWidget* FWidget{nullptr};
  int FAligning{0};
};
