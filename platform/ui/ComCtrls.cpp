#include "platform/ui/ComCtrls.h"

#include <QDynamicPropertyChangeEvent>
#include <QMouseEvent>

#include "platform/rtl/Classes.h"
#include "platform/ui/Forms.h"

TTreeNode::~TTreeNode() = default;

std::string TTreeNode::Text() const { return text(0).toStdString(); }

void TTreeNode::SetText(const std::string& Value) { setText(0, QString::fromStdString(Value)); }

TTreeNode* TTreeNode::Item(int Index) const {
  if (Index < 0 || Index >= childCount()) throw EListError(Format("List index out of bounds (%d)", Index));
  return static_cast<TTreeNode*>(child(Index));
}

// ---------------------------------------------------------------------------------------------

void TTreeNodes::Clear() {
  FOwner->clear();
  FFlat.clear();
  FDirty = true;
}

TTreeNode* TTreeNodes::Add(TTreeNode* Sibling, const std::string& S) {
  return AddChild(Sibling ? Sibling->Parent() : nullptr, S);
}

TTreeNode* TTreeNodes::AddObject(TTreeNode* Sibling, const std::string& S, void* Data) {
  TTreeNode* node = Add(Sibling, S);
  node->SetData(Data);
  return node;
}

TTreeNode* TTreeNodes::AddChild(TTreeNode* Parent, const std::string& S) {
  auto* node = new TTreeNode;
  node->SetText(S);
  if (Parent)
    Parent->addChild(node);
  else
    FOwner->addTopLevelItem(node);
  FDirty = true;
  return node;
}

TTreeNode* TTreeNodes::AddChildObject(TTreeNode* Parent, const std::string& S, void* Data) {
  TTreeNode* node = AddChild(Parent, S);
  node->SetData(Data);
  return node;
}

const std::vector<TTreeNode*>& TTreeNodes::Flat() const {
  if (FDirty) {
    FFlat.clear();
    std::vector<QTreeWidgetItem*> stack;
    for (int i = FOwner->topLevelItemCount() - 1; i >= 0; --i) stack.push_back(FOwner->topLevelItem(i));
    while (!stack.empty()) {
      QTreeWidgetItem* item = stack.back();
      stack.pop_back();
      FFlat.push_back(static_cast<TTreeNode*>(item));
      for (int i = item->childCount() - 1; i >= 0; --i) stack.push_back(item->child(i));
    }
    FDirty = false;
  }
  return FFlat;
}

int TTreeNodes::Count() const { return static_cast<int>(Flat().size()); }

TTreeNode* TTreeNodes::Item(int Index) const {
  const auto& flat = Flat();
  if (Index < 0 || Index >= static_cast<int>(flat.size()))
    throw EListError(Format("List index out of bounds (%d)", Index));
  return flat[static_cast<std::size_t>(Index)];
}

// ---------------------------------------------------------------------------------------------

TTreeView::TTreeView(QWidget* Parent) : QTreeWidget(Parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* Current, QTreeWidgetItem* Previous) { CurrentChanged(Current, Previous); });
}

TTreeView::~TTreeView() {
  // The nodes go with the widget; nobody may be told about it.
  OnChange = nullptr;
  blockSignals(true);
}

TTreeNode* TTreeView::Selected() const { return static_cast<TTreeNode*>(currentItem()); }

void TTreeView::SetSelected(TTreeNode* Node) { setCurrentItem(Node); }

void TTreeView::SetHotTrack(bool Value) {
  FHotTrack = Value;
  setMouseTracking(Value);
  viewport()->setAttribute(Qt::WA_Hover, Value);
}

bool TTreeView::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange) {
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName();
    if (name == "AutoExpand") SetAutoExpand(property(name).toBool());
    if (name == "HotTrack") SetHotTrack(property(name).toBool());
  }
  return QTreeWidget::event(Event);
}

void TTreeView::focusInEvent(QFocusEvent* Event) {
  if (currentItem()) {
    QTreeWidget::focusInEvent(Event);
    return;
  }
  QAbstractScrollArea::focusInEvent(Event);
  viewport()->update();
}

void TTreeView::mousePressEvent(QMouseEvent* Event) {
  FRowsMoved = false;
  FIgnoreGesture = false;
  FPending = false;
  FInPress = FAutoExpand;
  QTreeWidget::mousePressEvent(Event);
  FInPress = false;
  if (!FPending) return;
  FPending = false;
  const QPoint at = Event->position().toPoint();
  const QTreeWidgetItem* const under = itemAt(at);
  SelectionMoved(FPendingCurrent, FPendingPrevious);
  if (itemAt(at) != under) FRowsMoved = FIgnoreGesture = true;
}

void TTreeView::mouseMoveEvent(QMouseEvent* Event) {
  // Dragging over rows that moved would select whatever came under the mouse.
  if (FIgnoreGesture && Event->buttons() != Qt::NoButton) {
    Event->accept();
    return;
  }
  QTreeWidget::mouseMoveEvent(Event);
}

void TTreeView::mouseReleaseEvent(QMouseEvent* Event) {
  if (FIgnoreGesture) {
    FIgnoreGesture = false;
    setState(NoState);
    Event->accept();
    return;
  }
  QTreeWidget::mouseReleaseEvent(Event);
}

void TTreeView::mouseDoubleClickEvent(QMouseEvent* Event) {
  // The second click of a double click whose first moved the rows: its node is gone from
  // under the mouse.
  if (FRowsMoved) {
    FRowsMoved = false;
    FIgnoreGesture = true;
    Event->accept();
    return;
  }
  QTreeWidget::mouseDoubleClickEvent(Event);
}

void TTreeView::CurrentChanged(QTreeWidgetItem* Current, QTreeWidgetItem* Previous) {
  if (FInPress) {
    // Folding now would move the rows before the press selects the node it was aimed at.
    if (!FPending) FPendingPrevious = Previous;
    FPendingCurrent = Current;
    FPending = true;
    return;
  }
  SelectionMoved(Current, Previous);
}

void TTreeView::SelectionMoved(QTreeWidgetItem* Current, QTreeWidgetItem* Previous) {
  if (FAutoExpand) {
    // The node selected before folds up unless the new one lies below it.
    if (Previous) {
      bool ancestor = false;
      for (QTreeWidgetItem* p = Current; p; p = p->parent())
        if (p == Previous) ancestor = true;
      if (!ancestor) Previous->setExpanded(false);
    }
    if (Current) Current->setExpanded(true);
  }
  if (OnChange) Application->Guard([&] { OnChange(this, static_cast<TTreeNode*>(Current)); });
}
