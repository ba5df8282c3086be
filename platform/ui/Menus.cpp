#include "platform/ui/Menus.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QMenu>
#include <QWidget>

#include "platform/ui/Forms.h"

namespace {
constexpr const char* kLinkName = "TPopupMenuLink";
}  // namespace

// ---------------------------------------------------------------------------------------------
// TMenuItem

TMenuItem::TMenuItem(TPopupMenu* Menu) : TComponent(nullptr), FMenu(Menu), FAction(std::make_unique<QAction>()) {
  QObject::connect(FAction.get(), &QAction::triggered, FAction.get(),
                   [this] { Application->Guard([this] { Click(); }); });
}

TMenuItem::~TMenuItem() = default;

void TMenuItem::SetCaption(const std::string& Value) {
  FCaption = Value;
  // A line is a separator only: the menu would show the caption of a separator as its text.
  FAction->setSeparator(IsLine());
  FAction->setText(IsLine() ? QString() : QString::fromStdString(Value));
}

void TMenuItem::SetEnabled(bool Value) {
  FEnabled = Value;
  FAction->setEnabled(Value);
}

void TMenuItem::Click() {
  if (FEnabled && OnClick) OnClick(this);
}

// ---------------------------------------------------------------------------------------------
// TPopupMenu

TPopupMenu::TPopupMenu(TComponent* AOwner) : TComponent(AOwner), FMenu(std::make_unique<QMenu>()) {}

TPopupMenu::~TPopupMenu() {
  // The items' actions leave the menu before it goes.
  FItems.clear();
  FMenu.reset();
}

TMenuItem* TPopupMenu::Add(const std::string& Caption, TNotifyEvent OnClick) {
  FItems.push_back(std::unique_ptr<TMenuItem>(new TMenuItem(this)));
  TMenuItem* item = FItems.back().get();
  item->SetCaption(Caption);
  item->OnClick = std::move(OnClick);
  FMenu->addAction(item->Action());
  return item;
}

TMenuItem* TPopupMenu::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FItems[static_cast<std::size_t>(Index)].get();
}

void TPopupMenu::Popup(int X, int Y) {
  if (OnPopup) Application->Guard([this] { OnPopup(this); });
  FMenu->popup(QPoint(X, Y));
}

void SetPopupMenu(QWidget* Control, TPopupMenu* Menu) {
  if (!Control) return;
  delete Control->findChild<QObject*>(QLatin1String(kLinkName), Qt::FindDirectChildrenOnly);
  if (!Menu) {
    Control->setContextMenuPolicy(Qt::DefaultContextMenu);
    return;
  }
  auto* link = new QObject(Control);
  link->setObjectName(QLatin1String(kLinkName));
  Control->setContextMenuPolicy(Qt::CustomContextMenu);
  const QPointer<QMenu> menu = Menu->Menu();
  QObject::connect(Control, &QWidget::customContextMenuRequested, link, [Control, Menu, menu](const QPoint& Pos) {
    if (!menu) return;  // the menu is gone
    // A scroll area reports the position in its viewport.
    QWidget* area = Control;
    if (auto* scroll = qobject_cast<QAbstractScrollArea*>(Control)) area = scroll->viewport();
    const QPoint global = area->mapToGlobal(Pos);
    Menu->FPopupComponent = Control;
    Menu->Popup(global.x(), global.y());
  });
}
