#pragma once
// Data-aware controls: the grid and the read-only edit box, following a TDataSource.
//
// TDBGrid layout properties (dynamic properties in a .ui): Columns, a string list with one
// column per item, "FieldName|Title|Width" (an empty title shows the field name, an empty width
// the default 64 pixels); Options, the grid's options as "[dgTitles,dgIndicator,...]" (titles,
// the current-row indicator, row selection; without dgEditing the cells are read-only);
// ReadOnly (Boolean). TDBEdit: DataField.
#include <QLineEdit>
#include <QTableView>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DB.h"

struct TColumn {
  std::string FieldName;
  std::string Title;
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

class TDBGrid : public QTableView {
 public:
  explicit TDBGrid(QWidget* Parent = nullptr);
  ~TDBGrid() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* Value);
  const std::vector<TColumn>& Columns() const { return FColumns; }
  void SetColumns(std::vector<TColumn> Value);
  TDBGridOptions Options() const { return FOptions; }
  void SetOptions(TDBGridOptions Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }

 protected:
  bool event(QEvent* Event) override;

 private:
  class Link;
  void Reload();
  void FollowCursor();

  std::vector<TColumn> FColumns;
  TDBGridOptions FOptions{dgEditing | dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
                          dgConfirmDelete | dgCancelOnExit};
  bool FReadOnly{false};
  std::unique_ptr<Link> FLink;
  TDBGridModel* FModel;
  bool FMoving{false};
};

class TDBEdit : public QLineEdit {
 public:
  explicit TDBEdit(QWidget* Parent = nullptr);
  ~TDBEdit() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* Value);
  const std::string& DataField() const { return FDataField; }
  void SetDataField(const std::string& Value);

 protected:
  bool event(QEvent* Event) override;

 private:
  class Link;
  void Refresh();

  std::string FDataField;
  std::unique_ptr<Link> FLink;
};
