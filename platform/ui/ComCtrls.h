#pragma once
// The tree view: nodes with a caption and an untyped data pointer, reached by index over the
// whole tree (parents before their children) or child by child.
//
// Layout properties: Qt's own (rootIsDecorated for ShowRoot, indentation for Indent, font,
// editTriggers) plus the dynamic properties AutoExpand and HotTrack (Booleans).
//
// With AutoExpand, selecting a node expands it and folds the node selected before (unless the
// new one lies below it). A click selects the node under the mouse at the press; the rows fold
// and unfold after that, and the rest of that click (a drag, the release, a double click) no
// longer acts on the rows that moved under the mouse.
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/SysUtils.h"

class TTreeView;

class TTreeNode : public QTreeWidgetItem {
 public:
  TTreeNode() = default;
  ~TTreeNode() override;

  std::string Text() const;
  void SetText(const std::string& Value);
  // Not owned: whoever attaches it releases it.
  void* Data() const { return FData; }
  void SetData(void* Value) { FData = Value; }
  TTreeNode* Parent() const { return static_cast<TTreeNode*>(QTreeWidgetItem::parent()); }
  int Count() const { return childCount(); }
  TTreeNode* Item(int Index) const;  // EListError when out of range
  bool Expanded() const { return isExpanded(); }
  void SetExpanded(bool Value) { setExpanded(Value); }

 private:
  void* FData{nullptr};
};

// The nodes of one tree view.
class TTreeNodes {
 public:
  explicit TTreeNodes(TTreeView* Owner) : FOwner(Owner) {}

  void Clear();
  // A new last node on the level of Sibling (a root when Sibling is null).
  TTreeNode* Add(TTreeNode* Sibling, const std::string& S);
  TTreeNode* AddObject(TTreeNode* Sibling, const std::string& S, void* Data);
  // A new last child of Parent (a root when Parent is null).
  TTreeNode* AddChild(TTreeNode* Parent, const std::string& S);
  TTreeNode* AddChildObject(TTreeNode* Parent, const std::string& S, void* Data);
  // Every node of the tree, each parent before its children.
  int Count() const;
  TTreeNode* Item(int Index) const;  // EListError when out of range

 private:
  friend class TTreeView;
  void Changed() { FDirty = true; }
  const std::vector<TTreeNode*>& Flat() const;

  TTreeView* FOwner;
  mutable std::vector<TTreeNode*> FFlat;
  mutable bool FDirty{true};
};

using TTVChangedEvent = std::function<void(TObject* Sender, TTreeNode* Node)>;

class TTreeView : public QTreeWidget, public TObject {
 public:
  explicit TTreeView(QWidget* Parent = nullptr);
  ~TTreeView() override;

  TTreeNodes* Items() { return &FItems; }
  TTreeNode* Selected() const;
  void SetSelected(TTreeNode* Node);

  bool AutoExpand() const { return FAutoExpand; }
  void SetAutoExpand(bool Value) { FAutoExpand = Value; }
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool Value);
  bool ShowRoot() const { return rootIsDecorated(); }
  void SetShowRoot(bool Value) { setRootIsDecorated(Value); }

  bool Visible() const { return !isHidden(); }
  void SetVisible(bool Value) { setVisible(Value); }
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool Value) { setEnabled(Value); }
  void Invalidate() { viewport()->update(); }

  // The selection moved to Node (null when the tree lost its last node).
  TTVChangedEvent OnChange;

 protected:
  bool event(QEvent* Event) override;
  // Taking the focus selects nothing by itself.
  void focusInEvent(QFocusEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

 private:
  void CurrentChanged(QTreeWidgetItem* Current, QTreeWidgetItem* Previous);
  void SelectionMoved(QTreeWidgetItem* Current, QTreeWidgetItem* Previous);

  TTreeNodes FItems{this};
  bool FAutoExpand{false};
  bool FHotTrack{false};
  // A press in progress: the selection's folding waits until the press has selected its node.
  bool FInPress{false};
  bool FPending{false};
  QTreeWidgetItem* FPendingCurrent{nullptr};
  QTreeWidgetItem* FPendingPrevious{nullptr};
  bool FRowsMoved{false};     // the last press folded or unfolded rows under the mouse
  bool FIgnoreGesture{false};  // drags and the release of that press are not the user's aim
};
