#pragma once
// Showing the control model in Qt widgets.
//
// TControlWidget hosts one non-windowed control (a TGraphicControl) in a QWidget of the same
// bounds. Qt's events become the control's messages:
//   - painting: WM_PAINT with a device context on a 32-bit surface of the widget's size; the
//     surface goes to the screen with per-pixel transparency wherever the control did not paint
//     (unless the control is csOpaque), so what lies beneath shows through;
//   - the mouse: every position is tested with CM_HITTEST (client coordinates); a position the
//     control does not hit (answer 0, or the control is disabled or hidden) is not the
//     control's: presses, releases, double clicks, moves and wheel turns there go to the widget
//     beneath it (the topmost sibling below it at that point, else the parent widget; from
//     there Qt passes them further up as usual), and a press that went beneath takes the
//     following moves and the release with it. Positions that hit become WM_*BUTTON* and
//     WM_MOUSEMOVE; after a press the control keeps the mouse until the buttons are released;
//   - CM_MOUSEENTER / CM_MOUSELEAVE when the mouse comes onto / leaves a position that hits
//     (also for a disabled control), so a control that answers 0 sees neither;
//   - a tool-tip request on a position that hits sends CM_HINTSHOW with a THintInfo (HintStr the
//     control's Hint, HintColor the application's hint colour); the hint is shown in the
//     record's colour and text unless the answer is non-zero, the text is empty, or the
//     control's or the application's ShowHint is false; elsewhere the request goes beneath;
//   - the widget's own enabled state, explicit show and hide, own font, own palette and window
//     title become SetEnabled, SetVisible, Font, Color and Text (and so CM_ENABLEDCHANGED,
//     CM_VISIBLECHANGED, CM_FONTCHANGED, CM_COLORCHANGED, CM_TEXTCHANGED). Font and palette
//     changes inherited from the parent widget become CM_PARENTFONTCHANGED /
//     CM_PARENTCOLORCHANGED with the value in the message (WParam 1) when the control has no
//     model parent; with a model parent those come from the parent TWinControl instead;
//   - a change of the focus widget within the window gives CM_FOCUSCHANGED (LParam: the
//     TWinControl bound to the new focus widget or to its nearest bound ancestor, else 0), and
//     a key press with Alt (without Ctrl) anywhere in the window gives CM_DIALOGCHAR (WParam: the
//     UTF-16 character, LParam: the key data of the shift state); the key press is consumed
//     when a control answers non-zero. Both go to the roots of the model in the window (the
//     controls without a model parent); a TWinControl passes them on to its controls.
// The control's changes flow back: bounds, visibility, enabled state, font, colour, text and
// repaint requests update the widget.
//
// A host placed by a Qt layout is laid out by it, as an aligned control is by its parent: the
// model's bounds follow the layout, and bounds set in the model (AutoSize, SetBounds) give way
// to it.
//
// A TWinControl is bound to a widget through TWinControl::AttachWidget / HandleNeeded; its
// widget's geometry, font, palette, enabled state, visibility and title follow the same rules.
#include <QPointer>
#include <QWidget>

#include "platform/ui/Controls.h"
#include "platform/ui/Published.h"

class QFont;

// Hosts Control (without a parent of its own) in ParentWidget and returns the hosting widget
// (owned by ParentWidget). Controls of a TWinControl that has a widget are hosted automatically.
QWidget* HostControl(TControl* Control, QWidget* ParentWidget);

// Puts Control (without a parent of its own) where a layout has a placeholder widget: the
// control's published properties are read from the placeholder's dynamic properties (Booleans,
// numbers and texts in their layout forms, events through Resolver; names the control does not
// publish are left to others; a bad value raises EPropertyError), the control takes the
// placeholder's name when it has none, and a hosting widget takes the placeholder's name,
// geometry, size policy and limits and its place in the parent's layout. The placeholder is
// deleted; the hosting widget is returned.
QWidget* HostInPlaceOf(QWidget* Placeholder, TControl* Control, const TMethodResolver& Resolver = {});

// The control a widget made by HostControl (or by a TWinControl) shows, or null.
TControl* HostedControl(QWidget* Widget);
// The TWinControl bound to a widget, or null.
TWinControl* BoundWinControl(QWidget* Widget);

// Conversions between the model's fonts and colours and Qt's.
QFont ToQFont(TFont* Font);
void AssignQFont(TFont* Font, const QFont& Value);
QColor ToQColor(TColor Color);  // an invalid QColor for clNone and clDefault
TColor FromQColor(const QColor& Color);

// Internal: used by Controls.cpp.
void QtHostControl(TWinControl* Parent, TControl* Control);
void QtBindWinControl(TWinControl* Control, QWidget* Widget, bool CreateOwned);

// The hosting widget of one non-windowed control.
class TControlWidget : public QWidget, public IControlHost {
 public:
  TControlWidget(TControl* Control, QWidget* Parent);
  ~TControlWidget() override;

  TControl* Control() const { return FControl; }
  void ControlChanged(TControlChange Change) override;

 protected:
  bool event(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;

 private:
  bool Hits(const QPoint& Pos, bool AllowDisabled);
  bool LaidOut() const;
  QWidget* WidgetBeneath(const QPoint& Pos);
  void ForwardMouse(QEvent* Event, QWidget* Target);
  bool MouseEvent(QEvent* Event);
  void UpdateMouseOver(const QPoint& Pos, bool Present);
  void ToolTip(QEvent* Event);
  void SyncFromControl();
  void Detach();

  TControl* FControl;
  int FSyncing{0};
  bool FMouseOver{false};
  bool FCaptured{false};             // a press went to the control; it keeps the mouse
  QPointer<QWidget> FForwardTarget;  // a press went beneath to this widget
};
