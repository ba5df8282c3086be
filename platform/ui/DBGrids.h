#pragma once
// The data-aware grid: the rows of a TDataSource's dataset in a table view.
//
// The grid reads rows through a model over the dataset's rows (nothing is copied; a row is read
// only when it is painted), so results of any size cost the same to show. Columns come from the
// column list (field name, title, width in pixels), or, with an empty list, one per field of the
// dataset with the field name as title. A column whose field the dataset lacks stays empty.
// Numeric fields are right-aligned. Cells are never edited, whatever the options.
//
// A column is at least as wide as its list gives it, and wider where a value needs more: every
// value of the first FittedRows rows is shown whole, its text CellMargin pixels from the cell's
// sides (a value of a later row that is wider still is cut at the cell's edge, never elided).
//
// The current row follows the dataset: the dataset's moves (First, Next, RecNo, ...) move the
// grid's current row and the indicator (a narrow first column with a marker at the current row);
// opening, closing, filtering and re-enabling controls reload the rows. Moving the grid's current
// row (mouse, keyboard) moves the dataset's cursor, which raises its AfterScroll; an exception
// from that goes to the application's handler.
//
// Options: dgTitles shows the titles, dgIndicator the indicator, dgColumnResize lets the user
// resize columns (the column list follows), dgColLines/dgRowLines draw the grid lines (either
// draws both), dgRowSelect selects whole rows, dgTabs lets Tab move between cells; the others
// are kept only.
//
// Layout (dynamic properties in a .ui): Columns, a string list with one column per item,
// "FieldName|Title|Width" (an empty title shows the field name, an empty width the default 64);
// Options, "[dgTitles,dgIndicator,...]"; ReadOnly (Boolean).
#include <QTableView>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DB.h"

struct TColumn {
  std::string FieldName;
  std::string Title;  // empty: the field name
  int Width{64};
};

enum TDBGridOption : std::uint16_t {
  dgEditing = 1u << 0,
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgCancelOnExit = 1u << 11,
  dgMultiSelect = 1u << 12,
};
using TDBGridOptions = std::uint16_t;

class TDBGridModel;

class TDBGrid : public QTableView, public TObject {
 public:
  explicit TDBGrid(QWidget* Parent = nullptr);
  ~TDBGrid() override;
  DECLARE_CLASS_NAME(TDBGrid)

  static constexpr int IndicatorWidth = 11;
  static constexpr int CellMargin = 2;
  static constexpr int FittedRows = 1000;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* Value);
  const std::vector<TColumn>& Columns() const { return FColumns; }
  void SetColumns(std::vector<TColumn> Value);
  TDBGridOptions Options() const { return FOptions; }
  void SetOptions(TDBGridOptions Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }

  // The row the grid shows as current (0-based), or -1.
  int CurrentRow() const;

 protected:
  bool event(QEvent* Event) override;

 private:
  friend class TDBGridModel;
  class Link;
  void Reload();
  void FollowCursor();
  void ApplyWidths();

  std::vector<TColumn> FColumns;
  TDBGridOptions FOptions{dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
                          dgConfirmDelete | dgCancelOnExit};
  bool FReadOnly{false};
  std::unique_ptr<Link> FLink;
  TDBGridModel* FModel{nullptr};
  int FSyncing{0};
};
