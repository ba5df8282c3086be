#include "platform/ui/DBCtrls.h"

#include <QAbstractTableModel>
#include <QDynamicPropertyChangeEvent>
#include <QHeaderView>

#include "platform/ui/Forms.h"

namespace {

constexpr const char* kOptionNames[] = {"dgEditing",       "dgAlwaysShowEditor", "dgTitles",
                                        "dgIndicator",     "dgColumnResize",     "dgColLines",
                                        "dgRowLines",      "dgTabs",             "dgRowSelect",
                                        "dgAlwaysShowSelection", "dgConfirmDelete", "dgCancelOnExit",
                                        "dgMultiSelect"};

TDBGridOptions ParseOptions(const QString& Text) {
  TDBGridOptions options = 0;
  QString t = Text;
  t.remove(QLatin1Char('[')).remove(QLatin1Char(']')).remove(QLatin1Char(' '));
  for (const QString& item : t.split(QLatin1Char(','), Qt::SkipEmptyParts))
    for (std::size_t i = 0; i < std::size(kOptionNames); ++i)
      if (item == QLatin1String(kOptionNames[i])) options |= static_cast<TDBGridOptions>(1u << i);
  return options;
}

std::vector<TColumn> ParseColumns(const QStringList& Items) {
  std::vector<TColumn> columns;
  for (const QString& item : Items) {
    const QStringList parts = item.split(QLatin1Char('|'));
    TColumn c;
    c.FieldName = parts.value(0).toStdString();
    c.Title = parts.value(1).isEmpty() ? c.FieldName : parts.value(1).toStdString();
    bool ok = false;
    const int width = parts.value(2).toInt(&ok);
    if (ok && width >= 0) c.Width = width;
    columns.push_back(std::move(c));
  }
  return columns;
}

}  // namespace

// The rows of the linked dataset as the grid's columns show them.
class TDBGridModel : public QAbstractTableModel {
 public:
  explicit TDBGridModel(TDBGrid* Grid) : QAbstractTableModel(Grid), FGrid(Grid) {}

  void Reset(TDataSet* DataSet) {
    beginResetModel();
    FDataSet = DataSet && DataSet->Active() ? DataSet : nullptr;
    FFields.clear();
    for (const TColumn& c : FGrid->Columns())
      FFields.push_back(FDataSet ? FDataSet->FindField(c.FieldName) : nullptr);
    FRows = FDataSet ? FDataSet->RecordCount() : 0;
    endResetModel();
  }

  int rowCount(const QModelIndex& Parent) const override { return Parent.isValid() ? 0 : FRows; }
  int columnCount(const QModelIndex& Parent) const override {
    return Parent.isValid() ? 0 : static_cast<int>(FGrid->Columns().size());
  }
  QVariant data(const QModelIndex& Index, int Role) const override {
    if (Role != Qt::DisplayRole || !FDataSet || !Index.isValid()) return {};
    const TField* field = FFields.at(static_cast<std::size_t>(Index.column()));
    if (!field) return {};
    return QString::fromStdString(field->AsStringAt(Index.row() + 1));
  }
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
    if (Role != Qt::DisplayRole) return {};
    if (Orientation == Qt::Horizontal) {
      const auto& cols = FGrid->Columns();
      if (Section < 0 || Section >= static_cast<int>(cols.size())) return {};
      return QString::fromStdString(cols[static_cast<std::size_t>(Section)].Title);
    }
    return (FDataSet && Section == FDataSet->RecNo() - 1) ? QStringLiteral("\u25B6") : QString();
  }
  void CurrentMoved() {
    if (FRows > 0) emit headerDataChanged(Qt::Vertical, 0, FRows - 1);
  }

 private:
  TDBGrid* FGrid;
  TDataSet* FDataSet{nullptr};
  std::vector<const TField*> FFields;
  int FRows{0};
};

class TDBGrid::Link : public TDataLink {
 public:
  explicit Link(TDBGrid* Grid) : FGrid(Grid) {}

 protected:
  void ActiveChanged() override { FGrid->Reload(); }
  void DataSetChanged() override { FGrid->Reload(); }
  void DataSetScrolled(int) override { FGrid->FollowCursor(); }

 private:
  TDBGrid* FGrid;
};

TDBGrid::TDBGrid(QWidget* Parent) : QTableView(Parent), FLink(std::make_unique<Link>(this)) {
  FModel = new TDBGridModel(this);
  setModel(FModel);
  setSelectionMode(QAbstractItemView::SingleSelection);
  verticalHeader()->setDefaultSectionSize(18);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setFixedWidth(12);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  SetOptions(FOptions);
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& Current, const QModelIndex&) {
            TDataSet* ds = FLink->DataSet();
            if (FMoving || !Current.isValid() || !ds || !ds->Active()) return;
            if (ds->RecNo() != Current.row() + 1) Application->Guard([&] { ds->SetRecNo(Current.row() + 1); });
          });
}

TDBGrid::~TDBGrid() { FLink->SetDataSource(nullptr); }

TDataSource* TDBGrid::DataSource() const { return FLink->DataSource(); }

void TDBGrid::SetDataSource(TDataSource* Value) {
  FLink->SetDataSource(Value);
  Reload();
}

void TDBGrid::SetColumns(std::vector<TColumn> Value) {
  FColumns = std::move(Value);
  Reload();
}

void TDBGrid::SetOptions(TDBGridOptions Value) {
  FOptions = Value;
  horizontalHeader()->setVisible(Value & dgTitles);
  verticalHeader()->setVisible(Value & dgIndicator);
  horizontalHeader()->setSectionResizeMode((Value & dgColumnResize) ? QHeaderView::Interactive : QHeaderView::Fixed);
  setShowGrid(Value & (dgColLines | dgRowLines));
  setSelectionBehavior((Value & dgRowSelect) ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
  setTabKeyNavigation(Value & dgTabs);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
}

bool TDBGrid::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange) {
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName();
    if (name == "Columns") SetColumns(ParseColumns(property(name).toStringList()));
    if (name == "Options") SetOptions(ParseOptions(property(name).toString()));
    if (name == "ReadOnly") SetReadOnly(property(name).toBool());
  }
  return QTableView::event(Event);
}

void TDBGrid::Reload() {
  FModel->Reset(FLink->DataSet());
  for (std::size_t i = 0; i < FColumns.size(); ++i) setColumnWidth(static_cast<int>(i), FColumns[i].Width);
  FollowCursor();
}

void TDBGrid::FollowCursor() {
  TDataSet* ds = FLink->DataSet();
  FModel->CurrentMoved();
  if (!ds || !ds->Active() || ds->RecNo() < 1) return;
  FMoving = true;
  const QModelIndex index = FModel->index(ds->RecNo() - 1, std::max(currentIndex().column(), 0));
  setCurrentIndex(index);
  scrollTo(index);
  FMoving = false;
}

// ---------------------------------------------------------------------------------------------

class TDBEdit::Link : public TDataLink {
 public:
  explicit Link(TDBEdit* Edit) : FEdit(Edit) {}

 protected:
  void ActiveChanged() override { FEdit->Refresh(); }
  void DataSetChanged() override { FEdit->Refresh(); }
  void DataSetScrolled(int) override { FEdit->Refresh(); }

 private:
  TDBEdit* FEdit;
};

TDBEdit::TDBEdit(QWidget* Parent) : QLineEdit(Parent), FLink(std::make_unique<Link>(this)) {}

TDBEdit::~TDBEdit() { FLink->SetDataSource(nullptr); }

TDataSource* TDBEdit::DataSource() const { return FLink->DataSource(); }

void TDBEdit::SetDataSource(TDataSource* Value) {
  FLink->SetDataSource(Value);
  Refresh();
}

void TDBEdit::SetDataField(const std::string& Value) {
  FDataField = Value;
  Refresh();
}

bool TDBEdit::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange &&
      static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName() == "DataField")
    SetDataField(property("DataField").toString().toStdString());
  return QLineEdit::event(Event);
}

void TDBEdit::Refresh() {
  TDataSet* ds = FLink->DataSet();
  const TField* field = ds && ds->Active() && !ds->IsEmpty() ? ds->FindField(FDataField) : nullptr;
  setText(field ? QString::fromStdString(field->AsString()) : QString());
}
