#pragma once
// Datasets, fields and data sources: the data-access classes that windows and reports bind to.
//
// A dataset holds the rows of its last opening in memory (a client-side static cursor): the
// cursor moves over them, fields read the current row, and a filter narrows them. Data-aware
// controls do not talk to a dataset directly: they own a TDataLink on a TDataSource, which tells
// them when the dataset opens or closes, when its rows are replaced and when the current row
// moves. A model/view grid can read any row without moving the cursor (TField::AsStringAt).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"

namespace kelvdb {
struct ResultSet;
}

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDateTime,
  ftBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftWideString,
  ftLargeint,
  ftGuid,
};

enum TDataSetState { dsInactive, dsBrowse };

class TDataSet;
class TDataSource;
class TField;

using TDataSetNotifyEvent = std::function<void(TDataSet* DataSet)>;
using TDataChangeEvent = std::function<void(TObject* Sender, TField* Field)>;

// One column of a dataset. Declared fields are made before opening (TDataSet::DeclareField) and
// are then the only ones; otherwise opening makes one field per column of the result.
class TField : public TObject {
 public:
  ~TField() override;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return FFieldName; }
  TFieldType DataType() const { return FDataType; }
  int Size() const { return FSize; }  // characters of a text field, else 0
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value) { FReadOnly = Value; }
  int Index() const;  // position in the dataset's field list
  TDataSet* DataSet() const { return FDataSet; }

  // Current row. A null value gives empty text, 0 and false. A Boolean field reads as "True" or
  // "False"; a text read as Boolean is true when it starts with T or Y, false with F or N (else
  // EConvertError); a text read as integer must be a whole number (else EConvertError).
  bool IsNull() const;
  std::string AsString() const;
  std::string DisplayText() const { return AsString(); }
  std::int32_t AsInteger() const;
  bool AsBoolean() const;
  double AsFloat() const;

  // Row RecNo (1-based) without moving the cursor: for model/view grids.
  bool IsNullAt(int RecNo) const;
  std::string AsStringAt(int RecNo) const;

 private:
  friend class TDataSet;
  TField(TDataSet* DataSet, std::string FieldName, TFieldType DataType, int Size);
  std::int64_t CellIndex(int RecNo) const;

  TDataSet* FDataSet;
  std::string FFieldName;
  TFieldType FDataType;
  int FSize;
  bool FReadOnly{false};
  int FColumn{-1};  // column of the result while the dataset is open
};

// The field list of a dataset; names are found without regard to case.
class TFields {
 public:
  int Count() const { return static_cast<int>(FList.size()); }
  TField* Fields(int Index) const;  // EListError when out of range
  TField* operator[](int Index) const { return Fields(Index); }
  TField* FindField(const std::string& FieldName) const;  // null when absent
  TField* FieldByName(const std::string& FieldName) const;  // Exception "Field 'X' not found"

 private:
  friend class TDataSet;
  friend class TField;
  explicit TFields(TDataSet* DataSet) : FDataSet(DataSet) {}
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TField>> FList;
};

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* AOwner);
  ~TDataSet() override;

  // Open / close. Opening runs the query, binds the fields, applies the filter when Filtered,
  // puts the cursor on the first row and raises AfterScroll. Operations on rows need an open
  // dataset (Exception "Cannot perform this operation on a closed dataset").
  bool Active() const { return FState != dsInactive; }
  void SetActive(bool Value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return FState; }

  TFields& Fields() { return FFields; }
  const TFields& Fields() const { return FFields; }
  TField* FieldByName(const std::string& FieldName) const { return FFields.FieldByName(FieldName); }
  TField* FindField(const std::string& FieldName) const { return FFields.FindField(FieldName); }
  int FieldCount() const { return FFields.Count(); }
  // Declares a field before opening (closed dataset only); when any field is declared, opening
  // binds the declared ones by name (Exception when the result has no such column) and makes no
  // others.
  TField* DeclareField(const std::string& FieldName, TFieldType DataType, int Size = 0);

  // The cursor. RecNo counts from 1 (0 when there are no rows). Every move raises AfterScroll,
  // also one that stays in place at either end.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int Distance);  // returns the distance actually moved
  bool Eof() const { return FEof; }
  bool Bof() const { return FBof; }
  int RecNo() const;
  void SetRecNo(int Value);
  int RecordCount() const;
  bool IsEmpty() const;

  // Client-side filter: Field='value' (see the filter grammar in JetSql.h). Changing Filter
  // while Filtered, or Filtered itself, on an open dataset re-applies it at once: the cursor
  // goes to the first matching row and AfterScroll is raised. A text that does not parse, or
  // that names no column of the result, raises Exception when it is applied and leaves the
  // dataset as it was.
  const std::string& Filter() const { return FFilter; }
  void SetFilter(const std::string& Value);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool Value);

  // While disabled (counted), bound controls get no notifications; the last EnableControls
  // tells them that the data changed. Events such as AfterScroll still fire.
  void DisableControls() { ++FDisableCount; }
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount > 0; }

  TDataSetNotifyEvent AfterScroll;

 protected:
  // Runs the query into Rows. With a filter (Field non-empty), the dataset may apply it itself:
  // set FilterApplied when the rows are already narrowed.
  struct FilterRequest {
    std::string Field;
    std::string Value;
  };
  virtual void InternalOpen(kelvdb::ResultSet& Rows, const FilterRequest* Filter, bool& FilterApplied) = 0;
  virtual void InternalClose() {}
  void CheckActive() const;
  void CheckInactive() const;
  std::string Prefix() const;  // "Name: " for messages, or ""

 private:
  friend class TField;
  friend class TFields;
  friend class TDataSource;
  void Execute(const std::string& FilterText, bool Filtered);
  void BindFields();
  void DoAfterScroll();
  void NotifyDataChanged();
  void NotifyActiveChanged();
  void NotifyScrolled(int Distance);

  TFields FFields;
  bool FDeclared{false};
  TDataSetState FState{dsInactive};
  std::unique_ptr<kelvdb::ResultSet> FRows;
  int FCurrent{0};  // 0-based row of the cursor
  bool FBof{true};
  bool FEof{true};
  std::string FFilter;
  bool FFiltered{false};
  int FDisableCount{0};
  bool FChangedWhileDisabled{false};
  std::vector<TDataSource*> FDataSources;
};

// The link of one data-aware control to a data source. A control derives from it and overrides
// the notifications it needs.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return FDataSource; }
  void SetDataSource(TDataSource* Value);
  TDataSet* DataSet() const;  // the source's dataset, or null
  bool Active() const;        // the source is enabled and its dataset open

 protected:
  friend class TDataSource;
  virtual void ActiveChanged() {}                    // the dataset opened or closed
  virtual void DataSetChanged() {}                   // its rows were replaced (open, filter)
  virtual void DataSetScrolled(int /*Distance*/) {}  // the current row moved

 private:
  TDataSource* FDataSource{nullptr};
};

// Connects data-aware controls to a dataset.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TDataSetState State() const;

  TDataChangeEvent OnDataChange;  // rows replaced or current row moved (Field is null)
  TNotifyEvent OnStateChange;     // the dataset opened or closed

 private:
  friend class TDataSet;
  friend class TDataLink;
  void ActiveChanged();
  void DataSetChanged();
  void DataSetScrolled(int Distance);

  TDataSet* FDataSet{nullptr};
  bool FEnabled{true};
  std::vector<TDataLink*> FLinks;
};
