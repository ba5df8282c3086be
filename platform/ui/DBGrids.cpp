#include "platform/ui/DBGrids.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QDynamicPropertyChangeEvent>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

#include "platform/ui/Forms.h"

namespace {

constexpr const char* kOptionNames[] = {
    "dgEditing",   "dgAlwaysShowEditor", "dgTitles",    "dgIndicator",           "dgColumnResize",
    "dgColLines",  "dgRowLines",         "dgTabs",      "dgRowSelect",           "dgAlwaysShowSelection",
    "dgConfirmDelete", "dgCancelOnExit", "dgMultiSelect"};

const QString kIndicator = QStringLiteral("\u25B6");

TDBGridOptions ParseOptions(const QString& Text) {
  QString t = Text;
  t.remove(u'[').remove(u']').remove(u' ');
  TDBGridOptions options = 0;
  for (const QString& item : t.split(u',', Qt::SkipEmptyParts))
    for (std::size_t i = 0; i < std::size(kOptionNames); ++i)
      if (item == QLatin1String(kOptionNames[i])) options |= static_cast<TDBGridOptions>(1u << i);
  return options;
}

std::vector<TColumn> ParseColumns(const QStringList& Items) {
  std::vector<TColumn> columns;
  for (const QString& item : Items) {
    const QStringList parts = item.split(u'|');
    TColumn c;
    c.FieldName = parts.value(0).toStdString();
    c.Title = parts.value(1).toStdString();
    bool ok = false;
    const int width = parts.value(2).toInt(&ok);
    if (ok && width >= 0) c.Width = width;
    columns.push_back(std::move(c));
  }
  return columns;
}

bool IsNumeric(TFieldType Type) {
  switch (Type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftAutoInc:
    case ftLargeint:
      return true;
    default:
      return false;
  }
}

// The indicator column: an arrow at the current row.
class TIndicatorHeader : public QHeaderView {
 public:
  explicit TIndicatorHeader(QWidget* Parent) : QHeaderView(Qt::Vertical, Parent) {}

 protected:
  void paintSection(QPainter* Painter, const QRect& Rect, int Section) const override {
    QStyleOptionHeader opt;
    initStyleOption(&opt);
    opt.rect = Rect;
    opt.section = Section;
    style()->drawControl(QStyle::CE_HeaderSection, &opt, Painter, this);
    if (!model() || model()->headerData(Section, Qt::Vertical).toString() != kIndicator) return;
    const int h = std::min(Rect.width() - 4, Rect.height() - 6);
    if (h < 3) return;
    const QPointF c = QRectF(Rect).center();
    QPainterPath arrow;
    arrow.moveTo(c.x() - h / 4.0, c.y() - h / 2.0);
    arrow.lineTo(c.x() + h / 4.0 + 1, c.y());
    arrow.lineTo(c.x() - h / 4.0, c.y() + h / 2.0);
    arrow.closeSubpath();
    Painter->save();
    Painter->setRenderHint(QPainter::Antialiasing);
    Painter->fillPath(arrow, palette().color(QPalette::ButtonText));
    Painter->restore();
  }
};

// A cell: the style's background, selection and focus, the text CellMargin pixels from the
// sides, cut at the cell's edge.
class TCellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override {
    QStyleOptionViewItem opt = Option;
    initStyleOption(&opt, Index);
    const QString text = opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, Painter, widget);
    if (text.isEmpty()) return;
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                            : QPalette::Inactive;
    Painter->save();
    Painter->setClipRect(opt.rect);
    Painter->setFont(opt.font);
    Painter->setPen(opt.palette.color(
        group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    const QRect r = opt.rect.adjusted(TDBGrid::CellMargin, 0, -TDBGrid::CellMargin, 0);
    Painter->drawText(r, static_cast<int>(opt.displayAlignment) | Qt::TextSingleLine, text);
    Painter->restore();
  }
};

}  // namespace

// The dataset's rows as the grid's columns show them. Fields are looked up by name and the
// place found is checked on every use, so a dataset that rebuilt its fields is never read
// through a stale field.
class TDBGridModel : public QAbstractTableModel {
 public:
  explicit TDBGridModel(TDBGrid* Grid) : QAbstractTableModel(Grid), FGrid(Grid) {}

  void Reset() {
    beginResetModel();
    FCols.clear();
    TDataSet* ds = DataSet();
    if (!FGrid->FColumns.empty()) {
      for (const TColumn& c : FGrid->FColumns) FCols.push_back(Col{c.FieldName, c.Title.empty() ? c.FieldName : c.Title, -1, {}});
    } else if (ds) {
      for (int i = 0; i < ds->FieldCount(); ++i) {
        const std::string& name = ds->Fields()[i]->FieldName();
        FCols.push_back(Col{name, name, -1, {}});
      }
    }
    FRows = ds ? ds->RecordCount() : 0;
    FCurrent = -1;
    endResetModel();
  }

  void SetCurrent(int Row) {
    if (Row == FCurrent) return;
    const int old = FCurrent;
    FCurrent = Row;
    if (old >= 0 && old < FRows) emit headerDataChanged(Qt::Vertical, old, old);
    if (Row >= 0 && Row < FRows) emit headerDataChanged(Qt::Vertical, Row, Row);
  }

  int rowCount(const QModelIndex& Parent) const override { return Parent.isValid() ? 0 : FRows; }
  int columnCount(const QModelIndex& Parent) const override {
    return Parent.isValid() ? 0 : static_cast<int>(FCols.size());
  }

  Qt::ItemFlags flags(const QModelIndex& Index) const override {
    return Index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  QVariant data(const QModelIndex& Index, int Role) const override {
    if (!Index.isValid() || (Role != Qt::DisplayRole && Role != Qt::TextAlignmentRole)) return {};
    const TField* field = FieldOf(Index.column());
    if (!field) return {};
    if (Role == Qt::TextAlignmentRole)
      return QVariant::fromValue((IsNumeric(field->DataType()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    // The dataset may hold fewer rows than shown while its controls are disabled.
    if (Index.row() >= field->DataSet()->RecordCount()) return {};
    return QString::fromStdString(field->AsStringAt(Index.row() + 1));
  }

  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override {
    if (Role != Qt::DisplayRole) return {};
    if (Orientation == Qt::Horizontal)
      return Section >= 0 && Section < static_cast<int>(FCols.size())
                 ? QString::fromStdString(FCols[static_cast<std::size_t>(Section)].Title)
                 : QVariant();
    return Section == FCurrent ? kIndicator : QString();
  }

 private:
  struct Col {
    std::string FieldName;
    std::string Title;
    mutable int Index{-1};     // place of the field last found
    mutable std::string Found;  // its name as the dataset has it
  };

  TDataSet* DataSet() const {
    TDataSource* src = FGrid->DataSource();
    return src && src->Enabled() && src->DataSet() && src->DataSet()->Active() ? src->DataSet() : nullptr;
  }

  const TField* FieldOf(int Column) const {
    TDataSet* ds = DataSet();
    if (!ds || Column < 0 || Column >= static_cast<int>(FCols.size())) return nullptr;
    const Col& c = FCols[static_cast<std::size_t>(Column)];
    if (c.Index >= 0 && c.Index < ds->FieldCount()) {
      const TField* f = ds->Fields()[c.Index];
      if (f->FieldName() == c.Found) return f;
    }
    const TField* f = ds->FindField(c.FieldName);
    c.Index = f ? f->Index() : -1;
    c.Found = f ? f->FieldName() : std::string();
    return f;
  }

  TDBGrid* FGrid;
  std::vector<Col> FCols;
  int FRows{0};
  int FCurrent{-1};
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
  setVerticalHeader(new TIndicatorHeader(this));
  setModel(FModel);
  setItemDelegate(new TCellDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  QHeaderView* rows = verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(fontMetrics().height() + 4);
  rows->setSectionsClickable(false);
  rows->setFixedWidth(IndicatorWidth);
  QHeaderView* titles = horizontalHeader();
  titles->setHighlightSections(false);
  titles->setSectionsClickable(false);
  titles->setStretchLastSection(false);
  titles->setMinimumSectionSize(1);  // a column as narrow as its list says, whatever the font
  titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  titles->setDefaultSectionSize(64);
  SetOptions(FOptions);

  connect(titles, &QHeaderView::sectionResized, this, [this](int Section, int, int Size) {
    if (!FSyncing && Section >= 0 && Section < static_cast<int>(FColumns.size()))
      FColumns[static_cast<std::size_t>(Section)].Width = Size;
  });
  connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& Current, const QModelIndex&) {
            if (FSyncing || !Current.isValid() || !FLink->Active()) return;
            TDataSet* ds = FLink->DataSet();
            if (ds->RecNo() != Current.row() + 1) Application->Guard([&] { ds->SetRecNo(Current.row() + 1); });
          });
}

TDBGrid::~TDBGrid() = default;

TDataSource* TDBGrid::DataSource() const { return FLink->DataSource(); }

void TDBGrid::SetDataSource(TDataSource* Value) {
  if (Value == FLink->DataSource()) return;
  FLink->SetDataSource(Value);  // reloads through ActiveChanged
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
  ApplyWidths();  // the grid line is part of a column's width
  FollowCursor();
}

int TDBGrid::CurrentRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

bool TDBGrid::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange) {
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName();
    if (name == "Columns") SetColumns(ParseColumns(property(name).toStringList()));
    if (name == "Options") SetOptions(ParseOptions(property(name).toString()));
    if (name == "ReadOnly") SetReadOnly(property(name).toBool());
  }
  const bool handled = QTableView::event(Event);
  if (Event->type() == QEvent::FontChange) {
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    ApplyWidths();
  }
  return handled;
}

void TDBGrid::Reload() {
  ++FSyncing;
  FModel->Reset();
  ApplyWidths();
  --FSyncing;
  FollowCursor();
}

void TDBGrid::ApplyWidths() {
  if (!FModel) return;
  ++FSyncing;
  const int n = FModel->columnCount(QModelIndex());
  const int rows = std::min(FModel->rowCount(QModelIndex()), FittedRows);
  const QFontMetrics metrics(font());
  // The text's margins and the grid line at the cell's right edge.
  const int extra = 2 * CellMargin + (showGrid() ? 1 : 0);
  for (int i = 0; i < n; ++i) {
    int width = i < static_cast<int>(FColumns.size()) ? FColumns[static_cast<std::size_t>(i)].Width : 64;
    for (int r = 0; r < rows; ++r) {
      const QString text = FModel->data(FModel->index(r, i), Qt::DisplayRole).toString();
      if (!text.isEmpty()) width = std::max(width, metrics.horizontalAdvance(text) + extra);
    }
    horizontalHeader()->resizeSection(i, width);
  }
  --FSyncing;
}

void TDBGrid::FollowCursor() {
  if (!FModel) return;
  const bool active = FLink->Active();
  TDataSet* ds = FLink->DataSet();
  const int row = active && ds->RecordCount() > 0 ? ds->RecNo() - 1 : -1;
  ++FSyncing;
  FModel->SetCurrent(row);
  if (row >= 0 && row < FModel->rowCount(QModelIndex()) && FModel->columnCount(QModelIndex()) > 0) {
    const QModelIndex index = FModel->index(row, std::max(currentIndex().column(), 0));
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
    if (FOptions & dgRowSelect) flags |= QItemSelectionModel::Rows;
    selectionModel()->setCurrentIndex(index, flags);
    scrollTo(index);
  } else {
    selectionModel()->clear();
  }
  --FSyncing;
}
