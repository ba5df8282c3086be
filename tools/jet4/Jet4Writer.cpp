#include "tools/jet4/Jet4Writer.h"

#include "tools/jet4/Jet4Text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <string_view>

namespace jet4 {

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 100 || year > 9999 || month < 1 || month > 12) throw EJet4Error("invalid date");
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int mdays = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day < 1 || day > mdays || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    throw EJet4Error("invalid date or time");
  // Days from the civil calendar (proleptic Gregorian), counted from 1970-01-01.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long days1970 = static_cast<long>(era) * 146097 + doe - 719468;
  const double days = static_cast<double>(days1970 + 25569);  // 1899-12-30 .. 1970-01-01
  const double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before 1899-12-30 the fraction counts away from zero, as the date format has it.
  return days < 0 ? days - frac : days + frac;
}

namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kDataHeader = 14;        // type, 1, free space, owner, unknown, row count
constexpr std::size_t kMaxRowsPerPage = 255;   // the row number of a data pointer is one byte
constexpr std::size_t kMaxRowSize = kPageSize - kDataHeader - 2;
constexpr std::uint32_t kMaxPages = 0x80000000u / kPageSize;  // a Jet 4.0 file stays below 2 GB
constexpr std::size_t kMapRowSize = 69;        // usage map row: type, 4 bytes, 64 bytes of bits
constexpr std::uint32_t kInlineMapPages = 64 * 8;
constexpr std::uint32_t kMapPageBits = (kPageSize - 4) * 8;  // pages covered by one 0x05 page
constexpr std::size_t kMapPagePointers = (kMapRowSize - 1) / 4;
constexpr std::size_t kMemoInlineMax = 64;     // longer memo values go to long-value pages
constexpr std::size_t kLvalChunk = kPageSize - kDataHeader - 2 - 4;
constexpr std::size_t kMaxMemoBytes = 0x3FFFFFFF;
constexpr std::size_t kMaxCompressedMemoChars = 1024;
constexpr std::uint32_t kBuildTag = 0x0659;    // the tag real files carry in table and column definitions
constexpr std::uint16_t kSortGeneral = 0x0409;
constexpr std::size_t kMaxIndexColumns = 10;
constexpr std::uint16_t kCodePage = 1252;

using TPage = std::array<std::uint8_t, kPageSize>;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutDouble(std::uint8_t* p, double d) { Put64(p, std::bit_cast<std::uint64_t>(d)); }

void Append16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Append32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

std::uint32_t DataPointer(std::uint32_t page, std::uint32_t row) { return (page << 8) | row; }

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

bool IsFixed(TColumnType t) {
  switch (t) {
    case TColumnType::Text:
    case TColumnType::Memo:
    case TColumnType::Binary:
    case TColumnType::Ole: return false;
    default: return true;
  }
}

bool IsLongValue(TColumnType t) { return t == TColumnType::Memo || t == TColumnType::Ole; }

std::uint8_t TypeCode(TColumnType t) {
  switch (t) {
    case TColumnType::Boolean: return 0x01;
    case TColumnType::Byte: return 0x02;
    case TColumnType::Integer: return 0x03;
    case TColumnType::LongInteger:
    case TColumnType::AutoNumber: return 0x04;
    case TColumnType::Currency: return 0x05;
    case TColumnType::Single: return 0x06;
    case TColumnType::Double: return 0x07;
    case TColumnType::DateTime: return 0x08;
    case TColumnType::Binary: return 0x09;
    case TColumnType::Text: return 0x0A;
    case TColumnType::Ole: return 0x0B;
    case TColumnType::Memo: return 0x0C;
  }
  return 0;
}

// Bytes a column takes in the fixed part of a row (Yes/No values live in the null mask).
std::uint16_t FixedSize(TColumnType t) {
  switch (t) {
    case TColumnType::Byte: return 1;
    case TColumnType::Integer: return 2;
    case TColumnType::LongInteger:
    case TColumnType::AutoNumber:
    case TColumnType::Single: return 4;
    case TColumnType::Currency:
    case TColumnType::Double:
    case TColumnType::DateTime: return 8;
    default: return 0;
  }
}

// The file under construction: a growing list of zeroed pages.
class TPages {
 public:
  std::uint32_t New() {
    if (pages_.size() >= kMaxPages) throw EJet4Error("database larger than 2 GB");
    pages_.emplace_back();
    pages_.back().fill(0);
    return static_cast<std::uint32_t>(pages_.size() - 1);
  }
  std::uint8_t* operator[](std::uint32_t n) { return pages_.at(n).data(); }
  std::size_t Count() const { return pages_.size(); }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(pages_.size() * kPageSize);
    for (const auto& p : pages_) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

 private:
  std::vector<TPage> pages_;
};

// Rows packed into one data or long-value page, from the end of the page downwards.
class TRowPage {
 public:
  TRowPage(TPages& pages, std::uint32_t page, const char owner[4]) : pages_(pages), page_(page) {
    std::uint8_t* p = pages_[page_];
    p[0] = 0x01;
    p[1] = 0x01;
    std::memcpy(p + 4, owner, 4);
    Finish();
  }
  std::uint32_t Page() const { return page_; }
  bool Fits(std::size_t size) const {
    return rows_ < kMaxRowsPerPage && kDataHeader + 2 * (rows_ + 1) + used_ + size <= kPageSize;
  }
  // Adds a row and returns its number on the page; the caller checks Fits first.
  std::uint32_t Add(const std::vector<std::uint8_t>& row) {
    if (!Fits(row.size())) throw EJet4Error("internal error: row does not fit its page");
    std::uint8_t* p = pages_[page_];
    used_ += row.size();
    const std::size_t start = kPageSize - used_;
    if (!row.empty()) std::memcpy(p + start, row.data(), row.size());
    Put16(p + kDataHeader + 2 * rows_, static_cast<std::uint32_t>(start));
    ++rows_;
    Finish();
    return static_cast<std::uint32_t>(rows_ - 1);
  }

 private:
  void Finish() {
    std::uint8_t* p = pages_[page_];
    Put16(p + 2, static_cast<std::uint32_t>(kPageSize - kDataHeader - 2 * rows_ - used_));
    Put16(p + 12, static_cast<std::uint32_t>(rows_));
  }

  TPages& pages_;
  std::uint32_t page_;
  std::size_t rows_ = 0;
  std::size_t used_ = 0;
};

struct TColumnLayout {
  std::uint16_t FixedOffset = 0;
  std::uint16_t VarIndex = 0;   // for a fixed column: the number of variable columns before it
  std::uint16_t Length = 0;     // bytes, as the definition states it
  std::uint8_t Flags = 0;
  bool Compressed = false;
};

// A table as it is laid out in the file: system or user, its pages and usage maps.
struct TTableFile {
  TTableFile(const TTable* table, bool system) : Table(table), System(system) {}
  const TTable* Table = nullptr;
  bool System = false;
  std::uint32_t DefPage = 0;
  std::vector<TColumnLayout> Cols;
  std::uint16_t VarCount = 0;
  std::uint16_t FixedBytes = 0;
  std::vector<std::uint32_t> DataPages;
  std::vector<std::vector<std::uint32_t>> LvalPages;  // per column (empty for other columns)
  std::uint32_t UsedMap = 0, FreeMap = 0;             // data pointers to usage map rows
  std::vector<std::pair<std::uint32_t, std::uint32_t>> LvalMaps;  // per long-value column, in column order
  std::int64_t LastAutoNumber = 0;
};

class TWriter {
 public:
  explicit TWriter(const TDatabase& db) : db_(db) {}

  std::vector<std::uint8_t> Run() {
    Validate();
    BuildSystemTables();
    for (const auto& t : db_.Tables) tables_.emplace_back(&t, false);
    std::vector<TTableFile*> all;
    for (auto& t : system_) all.push_back(&t);
    for (auto& t : tables_) all.push_back(&t);

    pages_.New();  // 0: database definition
    pages_.New();  // 1: global usage map
    for (auto* t : all) {
      t->DefPage = pages_.New();
      Layout(*t);
    }
    FillCatalogue();
    // Usage map rows: the table's pages and its free pages, and the same for each long-value column.
    std::size_t mapRows = 0;
    for (auto* t : all) {
      mapRows += 2;
      for (const auto& c : t->Table->Columns) mapRows += IsLongValue(c.Type) ? 2 : 0;
    }
    const std::size_t rowsPerMapPage = std::min(kMaxRowsPerPage, (kPageSize - kDataHeader) / (kMapRowSize + 2));
    for (std::size_t i = 0; i < (mapRows + rowsPerMapPage - 1) / rowsPerMapPage; ++i)
      mapPages_.push_back(TRowPage(pages_, pages_.New(), "\0\0\0\0"));
    for (auto* t : all) WriteRows(*t);
    for (auto* t : all) WriteMaps(*t);
    for (auto* t : all) WriteDefinition(*t);
    WriteHeader();
    WriteGlobalMap();
    return pages_.Bytes();
  }

 private:
  [[noreturn]] static void Fail(const TTable& t, const std::string& msg) {
    throw EJet4Error("table '" + t.Name + "': " + msg);
  }

  static void CheckName(const std::string& name, const std::string& what) {
    std::u16string w;
    try {
      w = Utf8ToUtf16(name);
    } catch (const EJet4Error&) {
      throw EJet4Error(what + " name is not valid UTF-8");
    }
    if (w.empty() || w.size() > 64) throw EJet4Error(what + " name '" + name + "' must have 1 to 64 characters");
    if (w.front() == u' ') throw EJet4Error(what + " name '" + name + "' begins with a blank");
    for (char16_t c : w)
      if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
        throw EJet4Error(what + " name '" + name + "' contains a character not allowed in names");
  }

  void Validate() const {
    if (!std::isfinite(db_.Created) || db_.Created < -657434.0 || db_.Created >= 2958466.0)
      throw EJet4Error("creation date out of range");
    std::set<std::string> names;
    for (const auto& t : db_.Tables) {
      CheckName(t.Name, "table");
      if (Lower(t.Name).rfind("msys", 0) == 0) Fail(t, "names beginning with MSys are kept for system tables");
      if (!names.insert(Lower(t.Name)).second) Fail(t, "declared twice");
      if (t.Columns.empty()) Fail(t, "no columns");
      if (t.Columns.size() > 255) Fail(t, "more than 255 columns");
      if (t.Rows.size() > static_cast<std::size_t>(INT32_MAX)) Fail(t, "too many rows");
      std::set<std::string> cols, live;
      for (const auto& c : t.Columns) {
        CheckName(c.Name, "column");
        if (!cols.insert(Lower(c.Name)).second) Fail(t, "column '" + c.Name + "' declared twice");
        if (c.Type == TColumnType::Binary) Fail(t, "column '" + c.Name + "': binary columns are not supported");
        if (c.Type == TColumnType::Text && (c.Length < 1 || c.Length > 255))
          Fail(t, "column '" + c.Name + "': text length must be 1 to 255");
        if (c.Deleted && IsLongValue(c.Type)) Fail(t, "column '" + c.Name + "': a deleted column cannot be memo or OLE");
        if (!c.Deleted) live.insert(Lower(c.Name));
      }
      if (live.empty()) Fail(t, "no columns that are not deleted");
      std::set<std::string> indexes;
      for (const auto& x : t.Indexes) {
        CheckName(x.Name, "index");
        if (!indexes.insert(Lower(x.Name)).second) Fail(t, "index '" + x.Name + "' declared twice");
        if (x.Columns.empty() || x.Columns.size() > kMaxIndexColumns)
          Fail(t, "index '" + x.Name + "' must have 1 to 10 columns");
        for (const auto& c : x.Columns)
          if (!live.count(Lower(c))) Fail(t, "index '" + x.Name + "': no column '" + c + "'");
      }
    }
  }

  // Checks one value against its column; returns the text as UTF-16 for Text and Memo.
  static std::u16string CheckValue(const TTable& t, const TColumn& c, const TValue& v, std::size_t row) {
    auto fail = [&](const std::string& msg) -> void {
      Fail(t, "row " + std::to_string(row + 1) + ", column '" + c.Name + "': " + msg);
    };
    if (std::holds_alternative<std::monostate>(v)) {
      if (c.Type == TColumnType::Boolean || c.Type == TColumnType::AutoNumber)
        fail("cannot be null");
      return {};
    }
    auto intIn = [&](std::int64_t lo, std::int64_t hi) {
      const auto* i = std::get_if<std::int64_t>(&v);
      if (!i) fail("expected an integer");
      else if (*i < lo || *i > hi) fail("value " + std::to_string(*i) + " out of range");
    };
    switch (c.Type) {
      case TColumnType::Boolean:
        if (!std::holds_alternative<bool>(v)) fail("expected yes or no");
        break;
      case TColumnType::Byte: intIn(0, 255); break;
      case TColumnType::Integer: intIn(INT16_MIN, INT16_MAX); break;
      case TColumnType::LongInteger:
      case TColumnType::AutoNumber: intIn(INT32_MIN, INT32_MAX); break;
      case TColumnType::Currency: intIn(INT64_MIN, INT64_MAX); break;
      case TColumnType::Single: {
        const auto* d = std::get_if<double>(&v);
        if (!d || !std::isfinite(*d) || std::fabs(*d) > std::numeric_limits<float>::max())
          fail("expected a finite number within a single's range");
        break;
      }
      case TColumnType::Double:
      case TColumnType::DateTime: {
        const auto* d = std::get_if<double>(&v);
        if (!d || !std::isfinite(*d)) fail("expected a finite number");
        break;
      }
      case TColumnType::Text:
      case TColumnType::Memo: {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) {
          fail("expected text");
          return {};
        }
        std::u16string w;
        try {
          w = Utf8ToUtf16(*s);
        } catch (const EJet4Error& e) {
          fail(e.what());
        }
        if (c.Type == TColumnType::Text && w.size() > static_cast<std::size_t>(c.Length))
          fail("text longer than " + std::to_string(c.Length) + " characters");
        if (w.size() * 2 > kMaxMemoBytes) fail("text too long");
        return w;
      }
      case TColumnType::Ole: {
        const auto* s = std::get_if<std::string>(&v);
        if (!s) fail("expected bytes");
        else if (s->size() > kMaxMemoBytes) fail("value too long");
        break;
      }
      case TColumnType::Binary: fail("binary values are not supported"); break;
    }
    return {};
  }

  void BuildSystemTables() {
    using C = TColumnType;
    auto col = [](const char* n, C t, int len = 0) { return TColumn{n, t, len, TTextForm::Plain}; };
    TTable objects{"MSysObjects",
                   {col("Id", C::LongInteger), col("ParentId", C::LongInteger), col("Name", C::Text, 255),
                    col("Type", C::Integer), col("DateCreate", C::DateTime), col("DateUpdate", C::DateTime),
                    col("Owner", C::Binary), col("Flags", C::LongInteger), col("Database", C::Memo),
                    col("Connect", C::Memo), col("ForeignName", C::Text, 255), col("RmtInfoShort", C::Binary),
                    col("RmtInfoLong", C::Ole), col("Lv", C::Ole), col("LvProp", C::Ole), col("LvModule", C::Ole),
                    col("LvExtra", C::Ole)},
                   {}};
    TTable aces{"MSysACEs",
                {col("ObjectId", C::LongInteger), col("SID", C::Binary), col("ACM", C::LongInteger),
                 col("FInheritable", C::Boolean)},
                {}};
    TTable queries{"MSysQueries",
                   {col("ObjectId", C::LongInteger), col("Attribute", C::Byte), col("Order", C::Binary),
                    col("Name1", C::Text, 255), col("Name2", C::Text, 255), col("Expression", C::Memo),
                    col("Flag", C::Integer), col("LvExtra", C::LongInteger)},
                   {}};
    TTable relations{"MSysRelationships",
                     {col("szRelationship", C::Text, 255), col("grbit", C::LongInteger), col("ccolumn", C::LongInteger),
                      col("icolumn", C::LongInteger), col("szObject", C::Text, 255), col("szColumn", C::Text, 255),
                      col("szReferencedObject", C::Text, 255), col("szReferencedColumn", C::Text, 255)},
                     {}};
    systemDefs_ = {std::move(objects), std::move(aces), std::move(queries), std::move(relations)};
    for (const auto& t : systemDefs_) system_.emplace_back(&t, true);
  }

  // MSysObjects rows: the containers, the database object, the system tables and the user tables.
  void FillCatalogue() {
    constexpr std::int64_t kTablesId = 0x0F000001, kDatabasesId = 0x0F000002, kRelationshipsId = 0x0F000003;
    constexpr std::int64_t kRoot = 0x0F000000, kSystemFlag = INT32_MIN;
    auto& rows = systemDefs_[0].Rows;
    auto add = [&](std::int64_t id, std::int64_t parent, const std::string& name, std::int64_t type,
                   std::int64_t flags) {
      TRow r(systemDefs_[0].Columns.size());
      r[0] = id;
      r[1] = parent;
      r[2] = name;
      r[3] = type;
      r[4] = db_.Created;
      r[5] = db_.Created;
      r[7] = flags;
      rows.push_back(std::move(r));
    };
    add(kTablesId, kRoot, "Tables", 3, kSystemFlag);
    add(kDatabasesId, kRoot, "Databases", 3, kSystemFlag);
    add(kRelationshipsId, kRoot, "Relationships", 3, kSystemFlag);
    add(0x10000000, kDatabasesId, "MSysDb", 2, kSystemFlag);
    for (const auto& t : system_) add(t.DefPage, kTablesId, t.Table->Name, 1, kSystemFlag);
    std::int64_t containerId = INT32_MIN + 2;
    for (const char* name : {"Forms", "Reports", "Scripts", "Modules", "SysRel", "DataAccessPages"})
      add(containerId++, kRoot, name, 3, 0);
    for (const auto& t : tables_) add(t.DefPage, kTablesId, t.Table->Name, 1, 0);
  }

  void Layout(TTableFile& tf) {
    const TTable& t = *tf.Table;
    std::uint16_t fixedOffset = 0;
    for (const auto& c : t.Columns) {
      TColumnLayout l;
      if (IsFixed(c.Type)) {
        l.FixedOffset = c.Type == TColumnType::Boolean ? 0 : fixedOffset;
        fixedOffset = static_cast<std::uint16_t>(fixedOffset + FixedSize(c.Type));
        l.VarIndex = tf.VarCount;
        l.Length = c.Type == TColumnType::Boolean ? 1 : FixedSize(c.Type);
        l.Flags = 0x01 | 0x02 | (c.Type == TColumnType::AutoNumber ? 0x04 : 0);
      } else {
        l.VarIndex = tf.VarCount++;
        l.Length = c.Type == TColumnType::Text ? static_cast<std::uint16_t>(2 * c.Length)
                   : c.Type == TColumnType::Binary ? 510 : 0;
        l.Flags = 0x02;
        TTextForm form = c.TextForm == TTextForm::Default ? db_.DefaultTextForm : c.TextForm;
        l.Compressed = (c.Type == TColumnType::Text || c.Type == TColumnType::Memo) && form != TTextForm::Plain;
      }
      if (tf.System) l.Flags |= 0x10;
      tf.Cols.push_back(l);
    }
    tf.FixedBytes = fixedOffset;
    tf.LvalPages.resize(t.Columns.size());
  }

  // Stores a long value on long-value pages of its column; returns the 12-byte memo header.
  std::vector<std::uint8_t> StoreLongValue(TTableFile& tf, std::size_t col, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> head;
    if (data.size() <= kMemoInlineMax) {
      Append32(head, static_cast<std::uint32_t>(data.size()) | 0x80000000u);
      Append32(head, 0);
      Append32(head, 0);
      head.insert(head.end(), data.begin(), data.end());
      return head;
    }
    auto& pages = tf.LvalPages[col];
    if (data.size() <= kLvalChunk + 4) {
      // One row on a shared long-value page.
      if (!lval_ || lvalTable_ != &tf || lvalCol_ != col || !lval_->Fits(data.size())) {
        lval_.emplace(pages_, pages_.New(), "LVAL");
        lvalTable_ = &tf;
        lvalCol_ = col;
        pages.push_back(lval_->Page());
      }
      const std::uint32_t row = lval_->Add(data);
      Append32(head, static_cast<std::uint32_t>(data.size()) | 0x40000000u);
      Append32(head, DataPointer(lval_->Page(), row));
      Append32(head, 0);
      return head;
    }
    // A chain of pages, each one row: the pointer to the next row, then a piece of the value.
    const std::size_t n = (data.size() + kLvalChunk - 1) / kLvalChunk;
    std::vector<std::uint32_t> chain;
    for (std::size_t i = 0; i < n; ++i) {
      chain.push_back(pages_.New());
      pages.push_back(chain.back());
    }
    for (std::size_t i = 0; i < n; ++i) {
      TRowPage page(pages_, chain[i], "LVAL");
      std::vector<std::uint8_t> row;
      Append32(row, i + 1 < n ? DataPointer(chain[i + 1], 0) : 0);
      const std::size_t from = i * kLvalChunk;
      const std::size_t len = std::min(kLvalChunk, data.size() - from);
      row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + len));
      page.Add(row);
    }
    Append32(head, static_cast<std::uint32_t>(data.size()));
    Append32(head, DataPointer(chain[0], 0));
    Append32(head, 0);
    return head;
  }

  std::vector<std::uint8_t> EncodeRow(TTableFile& tf, const TRow& values, std::size_t rowIndex) {
    const TTable& t = *tf.Table;
    const std::size_t ncols = t.Columns.size();
    if (values.size() != ncols)
      Fail(t, "row " + std::to_string(rowIndex + 1) + " has " + std::to_string(values.size()) + " values for " +
                  std::to_string(ncols) + " columns");
    std::vector<std::uint8_t> row(2 + tf.FixedBytes, 0);
    Put16(row.data(), static_cast<std::uint32_t>(ncols));
    std::vector<std::uint8_t> mask((ncols + 7) / 8, 0);
    std::vector<std::uint16_t> varOffsets;
    for (std::size_t i = 0; i < ncols; ++i) {
      const TColumn& c = t.Columns[i];
      const TValue& v = values[i];
      const std::u16string text = CheckValue(t, c, v, rowIndex);
      const bool isNull = std::holds_alternative<std::monostate>(v);
      if (c.Type == TColumnType::Boolean) {
        if (std::get<bool>(v)) mask[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        continue;
      }
      if (!isNull) mask[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
      if (IsFixed(c.Type)) {
        if (isNull) continue;
        std::uint8_t* p = row.data() + 2 + tf.Cols[i].FixedOffset;
        switch (c.Type) {
          case TColumnType::Byte: p[0] = static_cast<std::uint8_t>(std::get<std::int64_t>(v)); break;
          case TColumnType::Integer: Put16(p, static_cast<std::uint32_t>(std::get<std::int64_t>(v))); break;
          case TColumnType::LongInteger:
          case TColumnType::AutoNumber: Put32(p, static_cast<std::uint32_t>(std::get<std::int64_t>(v))); break;
          case TColumnType::Currency: Put64(p, static_cast<std::uint64_t>(std::get<std::int64_t>(v))); break;
          case TColumnType::Single: Put32(p, std::bit_cast<std::uint32_t>(static_cast<float>(std::get<double>(v)))); break;
          case TColumnType::Double:
          case TColumnType::DateTime: PutDouble(p, std::get<double>(v)); break;
          default: break;
        }
        if (c.Type == TColumnType::AutoNumber)
          tf.LastAutoNumber = std::max(tf.LastAutoNumber, std::get<std::int64_t>(v));
        continue;
      }
      varOffsets.push_back(static_cast<std::uint16_t>(std::min<std::size_t>(row.size(), 0xFFFF)));
      if (isNull) continue;
      const bool memo = c.Type == TColumnType::Memo;
      std::vector<std::uint8_t> bytes;
      if (c.Type == TColumnType::Ole) {
        const std::string& raw = std::get<std::string>(v);
        bytes.assign(raw.begin(), raw.end());
      } else {
        bytes = EncodeText(text, tf.Cols[i].Compressed && (!memo || text.size() <= kMaxCompressedMemoChars));
      }
      if (IsLongValue(c.Type)) bytes = StoreLongValue(tf, i, bytes);
      if (row.size() + bytes.size() > kMaxRowSize)
        Fail(t, "row " + std::to_string(rowIndex + 1) + " is larger than a page");
      row.insert(row.end(), bytes.begin(), bytes.end());
    }
    if (tf.VarCount > 0) {
      const std::size_t eod = row.size();
      Append16(row, static_cast<std::uint32_t>(eod));
      for (auto it = varOffsets.rbegin(); it != varOffsets.rend(); ++it) Append16(row, *it);
      Append16(row, tf.VarCount);
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > kMaxRowSize) Fail(t, "row " + std::to_string(rowIndex + 1) + " is larger than a page");
    return row;
  }

  void WriteRows(TTableFile& tf) {
    const TTable& t = *tf.Table;
    std::set<std::int64_t> autoNumbers;
    std::optional<TRowPage> page;
    char owner[4];
    Put32(reinterpret_cast<std::uint8_t*>(owner), tf.DefPage);
    for (std::size_t r = 0; r < t.Rows.size(); ++r) {
      const std::vector<std::uint8_t> row = EncodeRow(tf, t.Rows[r], r);
      for (std::size_t i = 0; i < t.Columns.size(); ++i)
        if (t.Columns[i].Type == TColumnType::AutoNumber &&
            !autoNumbers.insert(std::get<std::int64_t>(t.Rows[r][i])).second)
          Fail(t, "row " + std::to_string(r + 1) + ", column '" + t.Columns[i].Name + "': AutoNumber " +
                      std::to_string(std::get<std::int64_t>(t.Rows[r][i])) + " repeated");
      if (!page || !page->Fits(row.size())) {
        page.emplace(pages_, pages_.New(), owner);
        tf.DataPages.push_back(page->Page());
      }
      page->Add(row);
    }
    lval_.reset();
  }

  // Adds a usage map row listing the given pages; returns its data pointer.
  std::uint32_t AddMap(std::vector<std::uint32_t> pages) {
    std::sort(pages.begin(), pages.end());
    std::vector<std::uint8_t> row(kMapRowSize, 0);
    if (pages.empty() || pages.back() < kInlineMapPages) {
      row[0] = 0x00;  // the bits inline, from page 0
      for (std::uint32_t p : pages) row[5 + p / 8] |= static_cast<std::uint8_t>(1u << (p % 8));
    } else {
      row[0] = 0x01;  // pointers to 0x05 pages, each covering a fixed range of pages
      std::vector<std::uint32_t> mapPages(kMapPagePointers, 0);
      for (std::uint32_t p : pages) {
        const std::size_t slot = p / kMapPageBits;
        if (slot >= kMapPagePointers) throw EJet4Error("internal error: page beyond the reach of a usage map");
        if (mapPages[slot] == 0) {
          mapPages[slot] = pages_.New();
          std::uint8_t* m = pages_[mapPages[slot]];
          m[0] = 0x05;
          m[1] = 0x01;
        }
        const std::uint32_t bit = p % kMapPageBits;
        pages_[mapPages[slot]][4 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
      }
      for (std::size_t i = 0; i < kMapPagePointers; ++i) Put32(row.data() + 1 + 4 * i, mapPages[i]);
    }
    while (!mapPages_.at(mapPage_).Fits(row.size())) ++mapPage_;
    const std::uint32_t n = mapPages_.at(mapPage_).Add(row);
    return DataPointer(mapPages_.at(mapPage_).Page(), n);
  }

  void WriteMaps(TTableFile& tf) {
    tf.UsedMap = AddMap(tf.DataPages);
    tf.FreeMap = AddMap({});
    for (std::size_t i = 0; i < tf.Table->Columns.size(); ++i)
      if (IsLongValue(tf.Table->Columns[i].Type)) {
        const std::uint32_t used = AddMap(tf.LvalPages[i]);
        tf.LvalMaps.emplace_back(used, AddMap({}));
      }
  }

  // The definition lists the columns that are not deleted, each with its number among all
  // columns (deleted ones included, as in the rows), then the index definitions.
  void WriteDefinition(TTableFile& tf) {
    const TTable& t = *tf.Table;
    const std::size_t ncols = t.Columns.size();
    std::vector<std::size_t> live;
    for (std::size_t i = 0; i < ncols; ++i)
      if (!t.Columns[i].Deleted) live.push_back(i);
    const std::size_t nidx = t.Indexes.size();
    std::vector<std::uint8_t> d(63, 0);
    d[0] = 0x02;
    d[1] = 0x01;
    Put32(&d[12], kBuildTag);
    Put32(&d[16], static_cast<std::uint32_t>(t.Rows.size()));
    Put32(&d[20], static_cast<std::uint32_t>(tf.LastAutoNumber));
    d[24] = 0x01;
    d[40] = tf.System ? 0x53 : 0x4E;
    Put16(&d[41], static_cast<std::uint32_t>(ncols));
    Put16(&d[43], tf.VarCount);
    Put16(&d[45], static_cast<std::uint32_t>(live.size()));
    Put32(&d[47], static_cast<std::uint32_t>(nidx));
    Put32(&d[51], static_cast<std::uint32_t>(nidx));
    Put32(&d[55], tf.UsedMap);
    Put32(&d[59], tf.FreeMap);
    for (std::size_t k = 0; k < nidx; ++k) {
      d.insert(d.end(), 12, 0);
      Put32(&d[d.size() - 8], static_cast<std::uint32_t>(t.Rows.size()));
    }
    for (std::size_t i : live) {
      const TColumnLayout& l = tf.Cols[i];
      std::uint8_t c[25] = {};
      c[0] = TypeCode(t.Columns[i].Type);
      Put32(c + 1, kBuildTag);
      Put16(c + 5, static_cast<std::uint32_t>(i));
      Put16(c + 7, l.VarIndex);
      Put16(c + 9, static_cast<std::uint32_t>(i));
      Put16(c + 11, kSortGeneral);
      c[15] = l.Flags;
      c[16] = l.Compressed ? 0x01 : 0x00;
      Put16(c + 21, l.FixedOffset);
      Put16(c + 23, l.Length);
      d.insert(d.end(), c, c + 25);
    }
    for (std::size_t i : live) {
      const std::vector<std::uint8_t> name = EncodeText(Utf8ToUtf16(t.Columns[i].Name), false);
      Append16(d, static_cast<std::uint32_t>(name.size()));
      d.insert(d.end(), name.begin(), name.end());
    }
    // Physical indexes (their columns by number, ascending), then the logical ones over them.
    for (const TIndex& x : t.Indexes) {
      std::uint8_t e[52] = {};
      Put32(e, kBuildTag);
      for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
        std::uint32_t number = 0xFFFF;
        if (k < x.Columns.size())
          for (std::size_t i : live)
            if (Lower(t.Columns[i].Name) == Lower(x.Columns[k])) number = static_cast<std::uint32_t>(i);
        Put16(e + 4 + 3 * k, number);
        e[6 + 3 * k] = k < x.Columns.size() ? 0x01 : 0x00;
      }
      e[42] = x.Primary ? 0x01 : 0x00;  // unique
      d.insert(d.end(), e, e + sizeof e);
    }
    for (std::size_t k = 0; k < nidx; ++k) {
      std::uint8_t e[28] = {};
      Put32(e, kBuildTag);
      Put32(e + 4, static_cast<std::uint32_t>(k));
      Put32(e + 8, static_cast<std::uint32_t>(k));
      Put32(e + 13, 0xFFFFFFFFu);  // not a foreign key
      e[23] = t.Indexes[k].Primary ? 0x01 : 0x00;
      d.insert(d.end(), e, e + sizeof e);
    }
    for (const TIndex& x : t.Indexes) {
      const std::vector<std::uint8_t> name = EncodeText(Utf8ToUtf16(x.Name), false);
      Append16(d, static_cast<std::uint32_t>(name.size()));
      d.insert(d.end(), name.begin(), name.end());
    }
    std::size_t lv = 0;
    for (std::size_t i = 0; i < ncols; ++i)
      if (IsLongValue(t.Columns[i].Type)) {
        Append16(d, static_cast<std::uint32_t>(i));
        Append32(d, tf.LvalMaps[lv].first);
        Append32(d, tf.LvalMaps[lv].second);
        ++lv;
      }
    Append16(d, 0xFFFF);
    const std::size_t length = d.size();
    d.resize(length + 8, 0);
    if (d.size() > kPageSize) Fail(t, "the table definition does not fit one page");
    Put16(&d[2], static_cast<std::uint32_t>(kPageSize - 8 - length));
    Put32(&d[8], static_cast<std::uint32_t>(length));
    std::memcpy(pages_[tf.DefPage], d.data(), d.size());
  }

  // Page 0: signature, version, and the area that real files keep RC4-encoded with a fixed key.
  void WriteHeader() {
    std::uint8_t* p = pages_[0];
    p[1] = 0x01;
    std::memcpy(p + 4, "Standard Jet DB", 16);
    p[0x14] = 0x01;  // Jet 4.0
    std::uint8_t area[128] = {};
    for (std::uint32_t i = 0; i < 6; ++i) Put32(area + 4 * i, i == 0 ? 0x100u : (i == 1 ? 0x101u : i));
    Put16(area + 0x3C - 0x18, kCodePage);
    Put32(area + 0x3E - 0x18, 0);  // database key 0: the pages themselves are not encoded
    // An empty password, masked with the whole days of the creation date as real files do.
    const std::uint32_t mask = static_cast<std::uint32_t>(static_cast<std::int64_t>(db_.Created));
    for (int i = 0; i < 40; i += 4) Put32(area + 0x42 - 0x18 + i, mask);
    Put32(area + 0x6E - 0x18, kSortGeneral);
    PutDouble(area + 0x72 - 0x18, db_.Created);
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(key, area, sizeof area);
    std::memcpy(p + 0x18, area, sizeof area);
    Put32(p + 0x98, 0x0654);
    std::memcpy(p + 0x9C, "4.0", 4);
  }

  static void Rc4(const std::uint8_t key[4], std::uint8_t* data, std::size_t n) {
    std::uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
      j = (j + s[i] + key[i % 4]) & 0xFF;
      std::swap(s[i], s[j]);
    }
    for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
      i = (i + 1) & 0xFF;
      j = (j + s[i]) & 0xFF;
      std::swap(s[i], s[j]);
      data[k] ^= s[(s[i] + s[j]) & 0xFF];
    }
  }

  // Page 1: the database-wide map of free pages (none: the file holds no unused page).
  void WriteGlobalMap() {
    TRowPage page(pages_, 1, "\x01\0\0\0");
    std::vector<std::uint8_t> freeMap(101, 0), second(kMapRowSize, 0);
    page.Add(freeMap);
    page.Add(second);
  }

  const TDatabase& db_;
  TPages pages_;
  std::vector<TTable> systemDefs_;
  std::vector<TTableFile> system_, tables_;
  std::vector<TRowPage> mapPages_;
  std::size_t mapPage_ = 0;
  std::optional<TRowPage> lval_;
  const TTableFile* lvalTable_ = nullptr;
  std::size_t lvalCol_ = 0;
};

}  // namespace

std::vector<std::uint8_t> WriteDatabase(const TDatabase& db) { return TWriter(db).Run(); }

void SaveDatabase(const TDatabase& db, const std::string& path) {
  const std::vector<std::uint8_t> bytes = WriteDatabase(db);
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) throw EJet4Error("cannot create " + tmp);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::remove(tmp.c_str());
      throw EJet4Error("cannot write " + tmp);
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::remove(tmp.c_str());
    throw EJet4Error("cannot rename " + tmp + " to " + path + ": " + ec.message());
  }
}

}  // namespace jet4
