// TField, TFields, TDataSet, TDataLink and TDataSource.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/db/Collation.h"
#include "platform/db/DB.h"
#include "platform/db/JetSql.h"
#include "platform/db/ResultSet.h"

namespace kelvdb {

namespace {

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t')) S.remove_suffix(1);
  return S;
}

}  // namespace

int ResultSet::FindColumn(std::string_view Name) const {
  for (std::size_t i = 0; i < Visible && i < Columns.size(); ++i)
    if (AnsiSameText(Columns[i].Name, Name)) return static_cast<int>(i);
  return -1;
}

void FieldTypeOfDecl(std::string_view Decl, TFieldType& Type, int& Size) {
  Size = 0;
  const auto starts = [&](std::string_view P) { return Decl.substr(0, P.size()) == P; };
  if (starts("JetText ")) {
    Type = ftWideString;
    const std::size_t open = Decl.find('(');
    if (open != std::string_view::npos) {
      int n = 0;
      const auto r = std::from_chars(Decl.data() + open + 1, Decl.data() + Decl.size(), n);
      if (r.ec == std::errc()) Size = n;
    }
  } else if (starts("JetMemo ")) {
    Type = ftMemo;
  } else if (starts("JetAutoNumber ") || Decl == "INTEGER") {  // INTEGER: an AutoNumber as row number
    Type = ftAutoInc;
  } else if (starts("JetLong ")) {
    Type = ftInteger;
  } else if (starts("JetInteger ")) {
    Type = ftSmallint;
  } else if (starts("JetByte ")) {
    Type = ftWord;
  } else if (starts("JetBoolean ")) {
    Type = ftBoolean;
  } else if (starts("JetCurrency ")) {
    Type = ftCurrency;
  } else if (starts("JetDouble ") || starts("JetSingle ") || starts("JetNumeric ")) {
    Type = ftFloat;
  } else if (starts("JetDateTime ")) {
    Type = ftDateTime;
  } else if (starts("JetGuid ")) {
    Type = ftGuid;
  } else if (starts("JetBinary ")) {
    Type = ftBytes;
  } else if (starts("JetOle ")) {
    Type = ftBlob;
  } else {
    Type = ftUnknown;
  }
}

void NameColumns(ResultSet& Rows) {
  const std::size_t n = Rows.Visible;
  for (std::size_t i = 0; i < n; ++i) {
    ColumnInfo& c = Rows.Columns[i];
    bool dup = false;
    for (std::size_t j = 0; j < n && !dup; ++j)
      if (j != i && AnsiSameText(Rows.Columns[j].Origin, c.Origin)) dup = true;
    c.Name = dup && !c.Table.empty() ? c.Table + "." + c.Origin : c.Origin;
  }
}

std::string FormatCurrency(std::int64_t TenThousandths) {
  const bool negative = TenThousandths < 0;
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(TenThousandths) : static_cast<std::uint64_t>(TenThousandths);
  std::string text = (negative ? "-" : "") + std::to_string(magnitude / 10000);
  if (std::uint64_t fraction = magnitude % 10000) {
    char digits[8];
    std::snprintf(digits, sizeof digits, ".%04u", static_cast<unsigned>(fraction));
    text += digits;
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

bool ParseCurrency(std::string_view Text, std::int64_t& TenThousandths) {
  const bool negative = !Text.empty() && Text.front() == '-';
  if (negative || (!Text.empty() && Text.front() == '+')) Text.remove_prefix(1);
  const std::size_t dot = Text.find('.');
  const std::string_view whole = Text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : Text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  const auto digits = [](std::string_view D) {
    return std::all_of(D.begin(), D.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!digits(whole) || !digits(fraction)) return false;
  // The magnitude may reach 2^63 ten-thousandths, for the most negative amount.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t v = 0;
  for (std::size_t k = 0; k < whole.size() + 4; ++k) {
    const char c = k < whole.size() ? whole[k] : k - whole.size() < fraction.size() ? fraction[k - whole.size()] : '0';
    if (v > (kLimit - static_cast<std::uint64_t>(c - '0')) / 10) return false;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (fraction.size() > 4 && fraction.substr(4).find_first_not_of('0') != std::string_view::npos) return false;
  if (!negative && v == kLimit) return false;
  TenThousandths = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  return true;
}

bool CellMatches(const ResultSet& Rows, const Cell& C, std::string_view Value) {
  switch (C.Type) {
    case CellType::Null:
      return false;
    case CellType::Currency: {
      std::int64_t v = 0;
      return ParseCurrency(TrimBlanks(Value), v) && v == C.I;
    }
    case CellType::Text:
      return CollateEqual(Rows.TextOf(C), Value);
    case CellType::Blob:
      return Rows.TextOf(C) == Value;
    case CellType::Integer:
    case CellType::Real: {
      std::string_view v = Value;
      while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
      while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
      double d = 0;
      const auto r = std::from_chars(v.data(), v.data() + v.size(), d);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size() || v.empty()) return false;
      return C.Type == CellType::Integer ? static_cast<double>(C.I) == d : C.D == d;
    }
  }
  return false;
}

void FilterRows(ResultSet& Rows, std::size_t Col, std::string_view Value) {
  const std::size_t w = Rows.Columns.size();
  std::size_t kept = 0;
  for (std::size_t r = 0; r < Rows.Rows; ++r) {
    if (!CellMatches(Rows, Rows.At(r, Col), Value)) continue;
    if (kept != r) std::copy_n(Rows.Cells.begin() + static_cast<std::ptrdiff_t>(r * w), w,
                               Rows.Cells.begin() + static_cast<std::ptrdiff_t>(kept * w));
    ++kept;
  }
  Rows.Rows = kept;
  Rows.Cells.resize(kept * w);
}

}  // namespace kelvdb

using kelvdb::Cell;
using kelvdb::CellType;

namespace {

std::string FormatReal(double D) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", D);
  return buf;
}

using kelvdb::TrimBlanks;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TDataSet* DataSet, std::string FieldName, TFieldType DataType, int Size)
    : FDataSet(DataSet), FFieldName(std::move(FieldName)), FDataType(DataType), FSize(Size) {}

TField::~TField() = default;

int TField::Index() const {
  const auto& list = FDataSet->FFields.FList;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == this) return static_cast<int>(i);
  return -1;
}

std::int64_t TField::CellIndex(int RecNo) const {
  FDataSet->CheckActive();
  const kelvdb::ResultSet& rows = *FDataSet->FRows;
  if (FColumn < 0 || RecNo < 1 || static_cast<std::size_t>(RecNo) > rows.Rows) return -1;
  return static_cast<std::int64_t>((static_cast<std::size_t>(RecNo) - 1) * rows.Columns.size() +
                                   static_cast<std::size_t>(FColumn));
}

bool TField::IsNull() const { return IsNullAt(FDataSet->FCurrent + 1); }

bool TField::IsNullAt(int RecNo) const {
  const std::int64_t i = CellIndex(RecNo);
  return i < 0 || FDataSet->FRows->Cells[static_cast<std::size_t>(i)].Type == CellType::Null;
}

std::string TField::AsString() const { return AsStringAt(FDataSet->FCurrent + 1); }

std::string TField::AsStringAt(int RecNo) const {
  const std::int64_t i = CellIndex(RecNo);
  if (i < 0) return {};
  const kelvdb::ResultSet& rows = *FDataSet->FRows;
  const Cell& c = rows.Cells[static_cast<std::size_t>(i)];
  if (FDataType == ftBoolean && (c.Type == CellType::Integer || c.Type == CellType::Real))
    return (c.Type == CellType::Integer ? c.I != 0 : c.D != 0) ? "True" : "False";
  switch (c.Type) {
    case CellType::Null: return {};
    case CellType::Integer: return std::to_string(c.I);
    case CellType::Real: return FormatReal(c.D);
    case CellType::Currency: return kelvdb::FormatCurrency(c.I);
    case CellType::Text:
    case CellType::Blob: return std::string(rows.TextOf(c));
  }
  return {};
}

std::int32_t TField::AsInteger() const {
  const std::int64_t i = CellIndex(FDataSet->FCurrent + 1);
  if (i < 0) return 0;
  const kelvdb::ResultSet& rows = *FDataSet->FRows;
  const Cell& c = rows.Cells[static_cast<std::size_t>(i)];
  switch (c.Type) {
    case CellType::Null: return 0;
    case CellType::Integer: return static_cast<std::int32_t>(c.I);
    case CellType::Real: return static_cast<std::int32_t>(std::llround(c.D));
    case CellType::Currency: {  // rounded half away from zero, as llround
      std::int64_t v = c.I / 10000;
      const std::int64_t rest = c.I % 10000;
      v += rest >= 5000 ? 1 : rest <= -5000 ? -1 : 0;
      return static_cast<std::int32_t>(v);
    }
    case CellType::Text:
    case CellType::Blob: {
      const std::string_view t = TrimBlanks(rows.TextOf(c));
      std::int32_t v = 0;
      const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
      if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size())
        throw EConvertError("'" + std::string(rows.TextOf(c)) + "' is not a valid integer value");
      return v;
    }
  }
  return 0;
}

bool TField::AsBoolean() const {
  const std::int64_t i = CellIndex(FDataSet->FCurrent + 1);
  if (i < 0) return false;
  const kelvdb::ResultSet& rows = *FDataSet->FRows;
  const Cell& c = rows.Cells[static_cast<std::size_t>(i)];
  switch (c.Type) {
    case CellType::Null: return false;
    case CellType::Integer:
    case CellType::Currency: return c.I != 0;
    case CellType::Real: return c.D != 0;
    case CellType::Text:
    case CellType::Blob: {
      const std::string_view t = TrimBlanks(rows.TextOf(c));
      if (!t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y')) return true;
      if (!t.empty() && (t[0] == 'F' || t[0] == 'f' || t[0] == 'N' || t[0] == 'n')) return false;
      throw EConvertError("'" + std::string(rows.TextOf(c)) + "' is not a valid boolean value");
    }
  }
  return false;
}

double TField::AsFloat() const {
  const std::int64_t i = CellIndex(FDataSet->FCurrent + 1);
  if (i < 0) return 0;
  const kelvdb::ResultSet& rows = *FDataSet->FRows;
  const Cell& c = rows.Cells[static_cast<std::size_t>(i)];
  switch (c.Type) {
    case CellType::Null: return 0;
    case CellType::Integer: return static_cast<double>(c.I);
    case CellType::Real: return c.D;
    case CellType::Currency: {  // the double nearest the exact amount
      const std::string text = kelvdb::FormatCurrency(c.I);
      double v = 0;
      std::from_chars(text.data(), text.data() + text.size(), v);
      return v;
    }
    case CellType::Text:
    case CellType::Blob: {
      const std::string_view t = TrimBlanks(rows.TextOf(c));
      double v = 0;
      const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
      if (t.empty() || r.ec != std::errc() || r.ptr != t.data() + t.size())
        throw EConvertError("'" + std::string(rows.TextOf(c)) + "' is not a valid floating point value");
      return v;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TFields

TField* TFields::Fields(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FList[static_cast<std::size_t>(Index)].get();
}

TField* TFields::FindField(const std::string& FieldName) const {
  for (const auto& f : FList)
    if (AnsiSameText(f->FieldName(), FieldName)) return f.get();
  return nullptr;
}

TField* TFields::FieldByName(const std::string& FieldName) const {
  if (TField* f = FindField(FieldName)) return f;
  throw Exception(FDataSet->Prefix() + "Field '" + FieldName + "' not found");
}

// ---------------------------------------------------------------------------------------------
// TDataSet

TDataSet::TDataSet(TComponent* AOwner) : TComponent(AOwner), FFields(this) {}

TDataSet::~TDataSet() {
  for (TDataSource* ds : std::vector<TDataSource*>(FDataSources)) {
    ds->FDataSet = nullptr;
    ds->ActiveChanged();
  }
}

std::string TDataSet::Prefix() const { return Name().empty() ? std::string() : Name() + ": "; }

void TDataSet::CheckActive() const {
  if (FState == dsInactive) throw Exception(Prefix() + "Cannot perform this operation on a closed dataset");
}

void TDataSet::CheckInactive() const {
  if (FState != dsInactive) throw Exception(Prefix() + "Cannot perform this operation on an open dataset");
}

TField* TDataSet::DeclareField(const std::string& FieldName, TFieldType DataType, int Size) {
  CheckInactive();
  if (!FDeclared) FFields.FList.clear();
  FDeclared = true;
  if (FFields.FindField(FieldName)) throw Exception(Prefix() + "Duplicate field name '" + FieldName + "'");
  FFields.FList.push_back(std::unique_ptr<TField>(new TField(this, FieldName, DataType, Size)));
  return FFields.FList.back().get();
}

void TDataSet::Execute(const std::string& FilterText, bool IsFiltered) {
  FilterRequest request;
  bool hasFilter = false;
  if (IsFiltered) {
    const kelvdb::ParsedFilter f = kelvdb::ParseFilter(FilterText);
    if (!f.Empty) {
      request.Field = f.Field;
      request.Value = f.Value;
      hasFilter = true;
    }
  }
  auto rows = std::make_unique<kelvdb::ResultSet>();
  bool applied = false;
  InternalOpen(*rows, hasFilter ? &request : nullptr, applied);
  if (hasFilter && !applied) {
    const int col = rows->FindColumn(request.Field);
    if (col < 0) throw Exception(Prefix() + "Filter \"" + FilterText + "\": field '" + request.Field + "' not found");
    kelvdb::FilterRows(*rows, static_cast<std::size_t>(col), request.Value);
  }
  // Fields bind to the new rows before anything changes, so a failure leaves all as it was.
  std::vector<int> columns;
  if (FDeclared) {
    for (const auto& f : FFields.FList) {
      const int col = rows->FindColumn(f->FieldName());
      if (col < 0) throw Exception(Prefix() + "Field '" + f->FieldName() + "' not found");
      columns.push_back(col);
    }
    for (std::size_t i = 0; i < columns.size(); ++i) FFields.FList[i]->FColumn = columns[i];
  } else if (Active() && FFields.FList.size() == rows->Visible &&
             std::equal(FFields.FList.begin(), FFields.FList.end(), rows->Columns.begin(),
                        [](const std::unique_ptr<TField>& f, const kelvdb::ColumnInfo& c) { return f->FieldName() == c.Name; })) {
    // Filtering an open dataset keeps its fields (controls may hold them).
    for (std::size_t i = 0; i < rows->Visible; ++i) FFields.FList[i]->FColumn = static_cast<int>(i);
  } else {
    FFields.FList.clear();
    for (std::size_t i = 0; i < rows->Visible; ++i) {
      const kelvdb::ColumnInfo& c = rows->Columns[i];
      FFields.FList.push_back(std::unique_ptr<TField>(new TField(this, c.Name, c.Type, c.Size)));
      FFields.FList.back()->FColumn = static_cast<int>(i);
    }
  }
  FRows = std::move(rows);
  FCurrent = 0;
  FBof = true;
  FEof = FRows->Rows == 0;
}

void TDataSet::SetActive(bool Value) {
  if (Value == Active()) return;
  if (Value) {
    Execute(FFilter, FFiltered);
    FState = dsBrowse;
    NotifyActiveChanged();
    DoAfterScroll();
  } else {
    FState = dsInactive;
    FRows.reset();
    if (FDeclared)
      for (const auto& f : FFields.FList) f->FColumn = -1;
    else
      FFields.FList.clear();
    FCurrent = 0;
    FBof = FEof = true;
    InternalClose();
    NotifyActiveChanged();
  }
}

void TDataSet::SetFilter(const std::string& Value) {
  if (Value == FFilter) return;
  if (Active() && FFiltered) {
    Execute(Value, true);
    FFilter = Value;
    NotifyDataChanged();
    DoAfterScroll();
  } else {
    FFilter = Value;
  }
}

void TDataSet::SetFiltered(bool Value) {
  if (Value == FFiltered) return;
  if (Active()) {
    Execute(FFilter, Value);
    FFiltered = Value;
    NotifyDataChanged();
    DoAfterScroll();
  } else {
    FFiltered = Value;
  }
}

void TDataSet::First() {
  CheckActive();
  const int old = FCurrent;
  FCurrent = 0;
  FBof = true;
  FEof = FRows->Rows == 0;
  NotifyScrolled(FCurrent - old);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckActive();
  const int old = FCurrent;
  FCurrent = FRows->Rows == 0 ? 0 : static_cast<int>(FRows->Rows) - 1;
  FEof = true;
  FBof = FRows->Rows == 0;
  NotifyScrolled(FCurrent - old);
  DoAfterScroll();
}

int TDataSet::MoveBy(int Distance) {
  CheckActive();
  const int n = static_cast<int>(FRows->Rows);
  int moved = 0;
  if (n == 0) {
    FBof = FEof = true;
  } else if (Distance > 0) {
    const int room = n - 1 - FCurrent;
    if (Distance > room) {
      moved = room;
      FEof = true;
    } else {
      moved = Distance;
      FEof = false;
    }
    if (moved > 0) FBof = false;
  } else if (Distance < 0) {
    const int room = FCurrent;
    if (-static_cast<long long>(Distance) > room) {
      moved = -room;
      FBof = true;
    } else {
      moved = Distance;
      FBof = false;
    }
    if (moved < 0) FEof = false;
  }
  FCurrent += moved;
  NotifyScrolled(moved);
  DoAfterScroll();
  return moved;
}

int TDataSet::RecNo() const {
  CheckActive();
  return FRows->Rows == 0 ? 0 : FCurrent + 1;
}

void TDataSet::SetRecNo(int Value) {
  CheckActive();
  const int n = static_cast<int>(FRows->Rows);
  const int old = FCurrent;
  if (n > 0) {
    FCurrent = std::clamp(Value, 1, n) - 1;
    FBof = FEof = false;
  }
  NotifyScrolled(FCurrent - old);
  DoAfterScroll();
}

int TDataSet::RecordCount() const {
  CheckActive();
  return static_cast<int>(FRows->Rows);
}

bool TDataSet::IsEmpty() const { return !Active() || FRows->Rows == 0; }

void TDataSet::EnableControls() {
  if (FDisableCount > 0 && --FDisableCount == 0 && FChangedWhileDisabled) {
    FChangedWhileDisabled = false;
    NotifyDataChanged();
  }
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(this);
}

void TDataSet::NotifyActiveChanged() {
  for (TDataSource* ds : std::vector<TDataSource*>(FDataSources)) ds->ActiveChanged();
}

void TDataSet::NotifyDataChanged() {
  if (ControlsDisabled()) {
    FChangedWhileDisabled = true;
    return;
  }
  for (TDataSource* ds : std::vector<TDataSource*>(FDataSources)) ds->DataSetChanged();
}

void TDataSet::NotifyScrolled(int Distance) {
  if (ControlsDisabled()) {
    FChangedWhileDisabled = true;
    return;
  }
  for (TDataSource* ds : std::vector<TDataSource*>(FDataSources)) ds->DataSetScrolled(Distance);
}

// ---------------------------------------------------------------------------------------------
// TDataLink and TDataSource

TDataLink::~TDataLink() { SetDataSource(nullptr); }

void TDataLink::SetDataSource(TDataSource* Value) {
  if (Value == FDataSource) return;
  if (FDataSource) {
    auto& v = FDataSource->FLinks;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FDataSource = Value;
  if (FDataSource) FDataSource->FLinks.push_back(this);
  ActiveChanged();
}

TDataSet* TDataLink::DataSet() const { return FDataSource ? FDataSource->DataSet() : nullptr; }

bool TDataLink::Active() const {
  return FDataSource && FDataSource->Enabled() && FDataSource->DataSet() && FDataSource->DataSet()->Active();
}

TDataSource::TDataSource(TComponent* AOwner) : TComponent(AOwner) {}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->FDataSource = nullptr;
}

void TDataSource::SetDataSet(TDataSet* Value) {
  if (Value == FDataSet) return;
  if (FDataSet) {
    auto& v = FDataSet->FDataSources;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FDataSet = Value;
  if (FDataSet) FDataSet->FDataSources.push_back(this);
  ActiveChanged();
}

void TDataSource::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  ActiveChanged();
}

TDataSetState TDataSource::State() const {
  return FEnabled && FDataSet ? FDataSet->State() : dsInactive;
}

void TDataSource::ActiveChanged() {
  if (OnStateChange) OnStateChange(this);
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->ActiveChanged();
  if (State() != dsInactive && OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::DataSetChanged() {
  if (!FEnabled) return;
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->DataSetChanged();
  if (OnDataChange) OnDataChange(this, nullptr);
}

void TDataSource::DataSetScrolled(int Distance) {
  if (!FEnabled) return;
  for (TDataLink* link : std::vector<TDataLink*>(FLinks)) link->DataSetScrolled(Distance);
  if (OnDataChange) OnDataChange(this, nullptr);
}
