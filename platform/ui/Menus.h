#pragma once
// Pop-up menus: a TPopupMenu holds TMenuItems and pops up on a right click of the widgets it is
// attached to (SetPopupMenu), or at a screen position (Popup).
//
// Popping up raises OnPopup first, so a handler can enable or disable items, then shows the
// menu. Choosing an enabled item raises its OnClick with the item as Sender. An item whose
// caption is "-" is a separator. Exceptions leaving a handler go to the application's handler.
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"

class QAction;
class QMenu;
class QWidget;
class TPopupMenu;

class TMenuItem : public TComponent {
 public:
  ~TMenuItem() override;
  DECLARE_CLASS_NAME(TMenuItem)

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  bool IsLine() const { return FCaption == "-"; }
  TPopupMenu* Menu() const { return FMenu; }

  // Raises OnClick (what choosing the item does).
  void Click();
  // The action that stands for the item in the Qt menu.
  QAction* Action() const { return FAction.get(); }

  TNotifyEvent OnClick;

 private:
  friend class TPopupMenu;
  explicit TMenuItem(TPopupMenu* Menu);

  TPopupMenu* FMenu;
  std::string FCaption;
  bool FEnabled{true};
  std::unique_ptr<QAction> FAction;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;
  DECLARE_CLASS_NAME(TPopupMenu)

  // Appends an item (owned by the menu) and returns it.
  TMenuItem* Add(const std::string& Caption, TNotifyEvent OnClick = {});
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int Index) const;  // EListError when out of range

  // Raises OnPopup, then shows the menu at screen position X, Y (it stays up until an item is
  // chosen or it is dismissed; this call does not wait).
  void Popup(int X, int Y);
  // The widget whose right click popped the menu up last (null until one did).
  QWidget* PopupComponent() const { return FPopupComponent; }

  QMenu* Menu() const { return FMenu.get(); }

  TNotifyEvent OnPopup;

 private:
  friend void SetPopupMenu(QWidget* Control, TPopupMenu* Menu);
  std::unique_ptr<QMenu> FMenu;
  std::vector<std::unique_ptr<TMenuItem>> FItems;
  QPointer<QWidget> FPopupComponent;
};

// Attaches Menu to Control: a right click (or the menu key) on Control pops it up at the mouse.
// A null Menu detaches the control's menu. The attachment ends by itself when either goes.
void SetPopupMenu(QWidget* Control, TPopupMenu* Menu);
