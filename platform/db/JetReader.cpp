// The libmdb side of the import: Jet 4.0 file image -> SQLite tables. Runs in the import's child
// process (see JetImport.h); nothing here may be trusted to survive a hostile file.
//
// libmdb finds the tables, their data pages (mdb_read_next_dpg) and the column values of each
// row (mdb_crack_row); the values themselves are decoded here, which is several times faster than
// libmdb's conversion of every value to text (printf, iconv and a heap block each), keeps a null
// apart from an empty text, and is exact where libmdb is not: dates before 1900 or after 4636,
// currency beyond 15 digits, memo text beyond the Basic Multilingual Plane. Long values (memo
// and OLE) are read here from the file image, every step bounded; GUIDs and decimals still go
// through libmdb. Whether the file is damaged is judged by what the reader gets (values inside
// their pages, long values whole, as many rows as each table declares), never by what libmdb
// prints: it complains about valid files too.
#include "platform/db/Collation.h"
#include "platform/db/JetImport.h"
#include "platform/db/JetSql.h"

// libmdb's header needs glib's first.
#include <glib.h>
#include <mdbtools.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace kelvdb {
namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kRowCountOffset = 12;  // of a data page; the row offsets follow
constexpr std::uint64_t kMaxFileSize = 2ull << 30;  // Jet 4.0's own limit
constexpr unsigned kBatch = 32;                      // rows per INSERT

enum class Kind { Int, Real, Text, Blob };

std::atomic<std::uint64_t> Progress{0};

// The file image the reader works on.
struct Image {
  const unsigned char* Data{nullptr};
  std::size_t Size{0};
};

struct ColumnPlan {
  std::string Name;
  std::string Decl;
  Kind K{Kind::Text};
  bool Auto{false};
  int JetType{0};
  int Scale{0}, Prec{0};
};

struct MdbHandleCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableDefFree {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
struct StmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
struct GFree {
  void operator()(char* p) const { g_free(p); }
};

std::string Exec(sqlite3* Db, const std::string& Sql) {
  char* err = nullptr;
  if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(Db);
    sqlite3_free(err);
    return msg;
  }
  return {};
}

// Column plan from the Jet column; "" Decl when the type is unknown.
ColumnPlan PlanColumn(const MdbColumn* c) {
  ColumnPlan p;
  p.Name = c->name;
  p.JetType = c->col_type;
  p.Scale = c->col_scale;
  p.Prec = c->col_prec;
  const std::string text = std::string(" COLLATE ") + kCollationName;
  switch (c->col_type) {
    case MDB_BOOL: p.Decl = "JetBoolean INTEGER", p.K = Kind::Int; break;
    case MDB_BYTE: p.Decl = "JetByte INTEGER", p.K = Kind::Int; break;
    case MDB_INT: p.Decl = "JetInteger INTEGER", p.K = Kind::Int; break;
    case MDB_LONGINT:
      p.Auto = c->is_long_auto != 0;
      p.Decl = p.Auto ? "JetAutoNumber INTEGER" : "JetLong INTEGER", p.K = Kind::Int;
      break;
    case MDB_MONEY: p.Decl = "JetCurrency INTEGER", p.K = Kind::Int; break;
    case MDB_FLOAT: p.Decl = "JetSingle REAL", p.K = Kind::Real; break;
    case MDB_DOUBLE: p.Decl = "JetDouble REAL", p.K = Kind::Real; break;
    case MDB_NUMERIC: p.Decl = "JetNumeric REAL", p.K = Kind::Real; break;
    case MDB_DATETIME: p.Decl = "JetDateTime TEXT", p.K = Kind::Text; break;
    case MDB_TEXT:
      p.Decl = "JetText TEXT(" + std::to_string(c->col_size > 0 ? c->col_size / 2 : 0) + ")" + text;
      p.K = Kind::Text;
      break;
    case MDB_MEMO: p.Decl = "JetMemo TEXT" + text, p.K = Kind::Text; break;
    case MDB_REPID: p.Decl = "JetGuid TEXT", p.K = Kind::Text; break;
    case MDB_BINARY: p.Decl = "JetBinary BLOB", p.K = Kind::Blob; break;
    case MDB_OLE: p.Decl = "JetOle BLOB", p.K = Kind::Blob; break;
    default: break;
  }
  return p;
}

char* PutUtf8(char* Out, char32_t C) {
  if (C < 0x80) {
    *Out++ = static_cast<char>(C);
  } else if (C < 0x800) {
    *Out++ = static_cast<char>(0xC0 | (C >> 6));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    *Out++ = static_cast<char>(0xE0 | (C >> 12));
    *Out++ = static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  } else {
    *Out++ = static_cast<char>(0xF0 | (C >> 18));
    *Out++ = static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    *Out++ = static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    *Out++ = static_cast<char>(0x80 | (C & 0x3F));
  }
  return Out;
}

// A Jet 4.0 text value as UTF-8: UCS-2 little-endian, or the compressed form (0xFF 0xFE, then
// one byte per character with a high byte of zero; a zero byte switches between one and two
// bytes per character). A surrogate pair gives one character, a lone surrogate U+FFFD.
void DecodeJetText(const unsigned char* P, std::size_t N, std::string& Out) {
  Out.resize(N * 2 + 8);  // one byte gives at most two, two bytes at most three (four per pair)
  char* o = Out.data();
  const bool packed = N >= 2 && P[0] == 0xFF && P[1] == 0xFE;
  std::size_t i = packed ? 2 : 0;
  bool compressed = packed;
  char32_t high = 0;  // pending high surrogate
  while (i < N) {
    char32_t c;
    if (compressed) {
      if (P[i] == 0) {
        compressed = false;
        ++i;
        continue;
      }
      c = P[i++];
    } else if (i + 1 < N) {
      if (packed && P[i] == 0) {  // back to one byte per character
        compressed = true;
        ++i;
        continue;
      }
      c = static_cast<char32_t>(P[i] | P[i + 1] << 8);
      i += 2;
    } else {
      break;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (high) o = PutUtf8(o, 0xFFFD);
      high = c;
      continue;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) {
      o = PutUtf8(o, high ? 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00) : 0xFFFD);
      high = 0;
      continue;
    }
    if (high) o = PutUtf8(o, 0xFFFD), high = 0;
    o = PutUtf8(o, c);
  }
  if (high) o = PutUtf8(o, 0xFFFD);
  Out.resize(static_cast<std::size_t>(o - Out.data()));
}

template <typename T>
T Read(const unsigned char* P) {
  T v;
  std::memcpy(&v, P, sizeof v);
  return v;
}

// A Jet date as "YYYY-MM-DD HH:MM:SS": days since 1899-12-30, the time of day as the fraction
// counted away from zero (-1.25 is 1899-12-29 06:00), rounded to the second. False for a day
// count outside Jet's years 100 to 9999.
bool FormatJetDate(double Days, std::string& Out) {
  constexpr std::int64_t kFirstDay = -657434;  // 0100-01-01
  constexpr std::int64_t kLastDay = 2958465;   // 9999-12-31
  if (!(Days > static_cast<double>(kFirstDay - 1) && Days < static_cast<double>(kLastDay + 1))) return false;
  const double whole = std::trunc(Days);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t secs = std::llround(std::fabs(Days - whole) * 86400.0);
  if (secs >= 86400) secs -= 86400, ++day;
  if (day > kLastDay) day = kLastDay, secs = 86399;
  // Civil date from the days since 1970-01-01 (proleptic Gregorian calendar).
  const std::int64_t z = day - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<std::int64_t>(z - era * 146097);
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(y), static_cast<int>(m),
                static_cast<int>(d), static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  Out = text;
  return true;
}

// The bytes of one row of a long-value page, named by a data pointer (page << 8 | row).
std::string LongValueRow(const Image& Img, std::uint32_t Pointer, const unsigned char*& Row, std::size_t& Length) {
  const std::uint64_t page = Pointer >> 8;
  const unsigned row = Pointer & 0xFF;
  if (page == 0 || (page + 1) * kPageSize > Img.Size) return "a long value lies outside the file";
  const unsigned char* p = Img.Data + page * kPageSize;
  if (p[0] != 0x01 || std::memcmp(p + 4, "LVAL", 4) != 0) return "a long value lies on a page of another kind";
  const unsigned rows = Read<std::uint16_t>(p + kRowCountOffset);
  if (row >= rows || kRowCountOffset + 2 + 2 * std::size_t{rows} > kPageSize) return "a long value cannot be found";
  const unsigned entry = Read<std::uint16_t>(p + kRowCountOffset + 2 + 2 * row);
  const std::size_t start = entry & 0x1FFF;
  const std::size_t end = row == 0 ? kPageSize : Read<std::uint16_t>(p + kRowCountOffset + 2 * row) & 0x1FFF;
  if ((entry & 0xC000) != 0 || start < kRowCountOffset + 2 + 2 * std::size_t{rows} || end > kPageSize || start > end)
    return "a long value cannot be found";
  Row = p + start;
  Length = end - start;
  return {};
}

// A long value (memo or OLE) from its 12-byte field: the length and the kind in the first four
// bytes (0x80: the bytes follow the field; 0x40: one row of a long-value page; 0: a chain of
// such rows, each the data pointer of the next and a piece of the value), the data pointer in
// the next four.
std::string ReadLongValue(const Image& Img, const unsigned char* Field, std::size_t FieldSize, std::string& Out) {
  if (FieldSize < 12) return "a long value is too short";
  const std::uint32_t head = Read<std::uint32_t>(Field);
  const std::size_t length = head & 0x3FFFFFFF;
  std::uint32_t pointer = Read<std::uint32_t>(Field + 4);
  if (length > Img.Size) return "a long value is longer than the file";
  Out.clear();
  if (head & 0x80000000u) {
    if (FieldSize - 12 < length) return "a long value is cut short";
    Out.assign(reinterpret_cast<const char*>(Field + 12), length);
    return {};
  }
  const unsigned char* row = nullptr;
  std::size_t n = 0;
  if (head & 0x40000000u) {
    if (std::string e = LongValueRow(Img, pointer, row, n); !e.empty()) return e;
    if (n < length) return "a long value is cut short";
    Out.assign(reinterpret_cast<const char*>(row), length);
    return {};
  }
  Out.reserve(std::min<std::size_t>(length, 1 << 20));
  std::unordered_set<std::uint32_t> seen;
  while (Out.size() < length) {
    if (pointer == 0) return "a long value is cut short";
    if (!seen.insert(pointer).second) return "a long value's pages go round in a circle";
    if (std::string e = LongValueRow(Img, pointer, row, n); !e.empty()) return e;
    if (n <= 4) return "a long value's piece is empty";
    pointer = Read<std::uint32_t>(row);
    Out.append(reinterpret_cast<const char*>(row + 4), std::min(n - 4, length - Out.size()));
    ++Progress;
  }
  return {};
}

// A decoded value waiting for its INSERT; Buf keeps its capacity from row to row.
struct Value {
  enum { Null, Int, Real, Text, Blob } Type{Null};
  std::int64_t I{0};
  double D{0};
  std::string Buf;
};

// The value of one column of a row (cracked into F, bytes in the page buffer).
std::string DecodeValue(const Image& Img, MdbTableDef* T, const ColumnPlan& P, const MdbField& F, Value& V,
                        std::string& Scratch) {
  std::string& Buf = V.Buf;
  MdbHandle* mdb = T->entry->mdb;
  if (P.JetType == MDB_BOOL) {  // kept in the null mask, never null
    V.Type = Value::Int, V.I = F.is_null ? 0 : 1;
    return {};
  }
  if (F.is_null) {
    V.Type = Value::Null;
    return {};
  }
  const auto* base = static_cast<const unsigned char*>(mdb->pg_buf);
  const auto* v = static_cast<const unsigned char*>(F.value);
  const int siz = F.siz;
  if (siz < 0 || v < base || v + siz > base + kPageSize) return "a value lies outside its page";
  const bool fits = siz >= 8 || (siz >= 4 && (P.JetType == MDB_LONGINT || P.JetType == MDB_FLOAT)) ||
                    (siz >= 2 && P.JetType == MDB_INT) || (siz >= 1 && P.JetType == MDB_BYTE);
  switch (P.JetType) {
    case MDB_BYTE:
      if (!fits) break;
      V.Type = Value::Int, V.I = v[0];
      return {};
    case MDB_INT:
      if (!fits) break;
      V.Type = Value::Int, V.I = Read<std::int16_t>(v);
      return {};
    case MDB_LONGINT:
      if (!fits) break;
      V.Type = Value::Int, V.I = Read<std::int32_t>(v);
      return {};
    case MDB_MONEY:  // ten-thousandths, kept exact
      if (!fits) break;
      V.Type = Value::Int, V.I = Read<std::int64_t>(v);
      return {};
    case MDB_FLOAT: {
      if (!fits) break;
      // A single keeps the digits it has: 0.1f reads as 0.1, not 0.100000001490116.
      char text[32];
      std::snprintf(text, sizeof text, "%.7g", static_cast<double>(Read<float>(v)));
      V.Type = Value::Real, V.D = std::strtod(text, nullptr);
      return {};
    }
    case MDB_DOUBLE:
      if (!fits) break;
      V.Type = Value::Real, V.D = Read<double>(v);
      return {};
    case MDB_DATETIME: {
      if (!fits) break;
      const double days = Read<double>(v);
      if (FormatJetDate(days, Buf)) {
        V.Type = Value::Text;
      } else {  // not a date Jet can hold: the number, so that nothing is lost
        V.Type = Value::Real, V.D = days;
      }
      return {};
    }
    case MDB_TEXT:
      DecodeJetText(v, static_cast<std::size_t>(siz), Buf);
      V.Type = Value::Text;
      return {};
    case MDB_BINARY:
      Buf.assign(reinterpret_cast<const char*>(v), static_cast<std::size_t>(siz));
      V.Type = Value::Blob;
      return {};
    case MDB_MEMO:
      if (std::string e = ReadLongValue(Img, v, static_cast<std::size_t>(siz), Scratch); !e.empty()) return e;
      DecodeJetText(reinterpret_cast<const unsigned char*>(Scratch.data()), Scratch.size(), Buf);
      V.Type = Value::Text;
      return {};
    case MDB_OLE:
      if (std::string e = ReadLongValue(Img, v, static_cast<std::size_t>(siz), Buf); !e.empty()) return e;
      V.Type = Value::Blob;
      return {};
    case MDB_REPID:
    case MDB_NUMERIC: {
      std::unique_ptr<char, GFree> text(P.JetType == MDB_NUMERIC ? mdb_numeric_to_string(mdb, F.start, P.Scale, P.Prec)
                                                                 : mdb_uuid_to_string(mdb->pg_buf, F.start));
      if (!text) return "a value cannot be read";
      if (P.K == Kind::Real) {
        V.Type = Value::Real, V.D = std::strtod(text.get(), nullptr);
      } else {
        Buf.assign(text.get());
        V.Type = Value::Text;
      }
      return {};
    }
    default:
      break;
  }
  return "a value of column \"" + P.Name + "\" is too short";
}

// One table. With RowidKey its AutoNumber column becomes SQLite's row number, which keeps the
// file's row order only while the numbers rise: Retry asks for the table again without.
std::string ImportTable(const Image& Img, MdbCatalogEntry* Entry, sqlite3* Db, int TableNo, bool RowidKey, bool& Retry) {
  Retry = false;
  const std::string tname = Entry->object_name;
  if (tname.empty()) return "a table has no name";
  std::unique_ptr<MdbTableDef, TableDefFree> t(mdb_read_table(Entry));
  if (!t) return "table \"" + tname + "\" cannot be read";
  if (!mdb_read_columns(t.get()) || !t->columns) return "the columns of table \"" + tname + "\" cannot be read";
  const unsigned ncols = t->num_cols;
  if (ncols == 0 || ncols > MDB_MAX_COLS || t->columns->len != ncols)
    return "table \"" + tname + "\" has an invalid column count";

  std::vector<ColumnPlan> plan;
  int keyCol = -1;
  std::string create = "CREATE TABLE " + QuoteIdent(tname) + " (";
  std::string tuple = "(";
  for (unsigned i = 0; i < ncols; ++i) {
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(t->columns, i));
    ColumnPlan p = PlanColumn(col);
    if (p.Decl.empty()) return "column \"" + p.Name + "\" of table \"" + tname + "\" has an unknown type";
    if (p.Name.empty()) return "a column of table \"" + tname + "\" has no name";
    const bool key = RowidKey && keyCol < 0 && p.Auto;
    if (key) keyCol = static_cast<int>(i);
    create += (i ? ", " : "") + QuoteIdent(p.Name) + " " + (key ? std::string("INTEGER PRIMARY KEY") : p.Decl);
    tuple += i ? ",?" : "?";
    plan.push_back(std::move(p));
  }
  create += ")";
  tuple += ")";
  if (std::string e = Exec(Db, create); !e.empty()) return "table \"" + tname + "\": " + e;

  // Index column lists: AutoNumber columns that are not the row number, then the file's own
  // indexes; each list once. libmdb gives an index's columns by their place in the table's
  // column list counted from 1 (the file's own numbers count deleted columns too). The file's
  // indexes only make queries faster: one libmdb cannot read (it complains of some that are
  // valid) is left out. (mdb_read_indices returns null even when it has read them: its list is
  // what counts.)
  std::vector<std::vector<unsigned>> indexes;
  std::set<std::vector<unsigned>> seen;
  if (keyCol >= 0) seen.insert({static_cast<unsigned>(keyCol)});
  for (unsigned i = 0; i < ncols; ++i)
    if (plan[i].Auto && seen.insert({i}).second) indexes.push_back({i});
  mdb_read_indices(t.get());
  if (t->indices) {
    for (unsigned k = 0; k < t->indices->len; ++k) {
      const auto* idx = static_cast<const MdbIndex*>(g_ptr_array_index(t->indices, k));
      if (idx->num_keys == 0 || idx->num_keys > MDB_MAX_IDX_COLS) continue;
      std::vector<unsigned> cols;
      for (unsigned j = 0; j < idx->num_keys; ++j) {
        const int c = idx->key_col_num[j];
        if (c < 1 || c > static_cast<int>(ncols)) {
          cols.clear();
          break;
        }
        cols.push_back(static_cast<unsigned>(c - 1));
      }
      if (!cols.empty() && seen.insert(cols).second) indexes.push_back(cols);
    }
  }

  // Rows go in by the batch: one INSERT of kBatch rows costs little more than one of one row.
  const unsigned batch = std::max(1u, std::min(kBatch, 30000u / ncols));
  std::unique_ptr<sqlite3_stmt, StmtFinalize> many, one;
  for (unsigned n : {batch, 1u}) {
    std::string insert = "INSERT INTO " + QuoteIdent(tname) + " VALUES ";
    for (unsigned r = 0; r < n; ++r) insert += (r ? "," : "") + tuple;
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(Db, insert.c_str(), -1, &raw, nullptr) != SQLITE_OK)
      return "table \"" + tname + "\": " + sqlite3_errmsg(Db);
    (n == batch && batch > 1 ? many : one).reset(raw);
    if (batch == 1) break;
  }
  std::vector<Value> values(static_cast<std::size_t>(batch) * ncols);
  unsigned pending = 0;
  auto flush = [&](unsigned rowsToWrite) -> std::string {
    for (unsigned r = 0; r < rowsToWrite;) {
      sqlite3_stmt* s = rowsToWrite - r >= batch && many ? many.get() : one.get();
      const unsigned n = s == one.get() ? 1 : batch;
      for (unsigned k = 0; k < n * ncols; ++k) {
        const Value& v = values[r * ncols + k];
        const int at = static_cast<int>(k + 1);
        switch (v.Type) {
          case Value::Null: sqlite3_bind_null(s, at); break;
          case Value::Int: sqlite3_bind_int64(s, at, v.I); break;
          case Value::Real: sqlite3_bind_double(s, at, v.D); break;
          case Value::Text: sqlite3_bind_text(s, at, v.Buf.data(), static_cast<int>(v.Buf.size()), SQLITE_STATIC); break;
          case Value::Blob: sqlite3_bind_blob(s, at, v.Buf.data(), static_cast<int>(v.Buf.size()), SQLITE_STATIC); break;
        }
      }
      const int rc = sqlite3_step(s);
      sqlite3_reset(s);
      if (rc != SQLITE_DONE) return "table \"" + tname + "\": " + sqlite3_errmsg(Db);
      r += n;
    }
    return {};
  };

  // The table's data pages in the file's order, and their rows in order. An entry with bit 14
  // set is a deleted row or a pointer to a row that moved to another page; the moved row itself
  // (bit 15 alone) is read where it now lies.
  ++Progress;
  std::string scratch;
  mdb_rewind_table(t.get());
  MdbHandle* mdb = Entry->mdb;
  const int rco = mdb->fmt->row_count_offset;
  std::vector<MdbField> fields(ncols + 1);
  std::vector<int> fieldOf(ncols);
  std::uint64_t rows = 0;
  bool haveKey = false;
  std::int32_t lastKey = 0;
  for (;;) {
    const int pg = mdb_read_next_dpg(t.get());
    if (pg <= 0) break;
    const auto page = static_cast<unsigned long>(pg);
    const int count = mdb_get_int16(mdb->pg_buf, rco);
    if (count < 0 || rco + 2 + count * 2 > static_cast<int>(kPageSize))
      return "table \"" + tname + "\": page " + std::to_string(page) + " has an invalid row count";
    for (int row = 0; row < count; ++row) {
      if (mdb->cur_pg != page && mdb_read_pg(mdb, page) != static_cast<ssize_t>(kPageSize))
        return "table \"" + tname + "\": page " + std::to_string(page) + " cannot be read";
      if (mdb_get_int16(mdb->pg_buf, rco + 2 + row * 2) & 0x4000) continue;
      int start = 0;
      std::size_t len = 0;
      if (mdb_find_row(mdb, row, &start, &len) != 0) return "table \"" + tname + "\": a row cannot be found";
      start &= 0x1FFF;
      if (len == 0 || static_cast<std::size_t>(start) + len > kPageSize)
        return "table \"" + tname + "\": a row lies outside its page";
      if (++rows > t->num_rows)
        return "table \"" + tname + "\" holds more rows than the " + std::to_string(t->num_rows) + " it declares";
      ++Progress;
      std::fill(fieldOf.begin(), fieldOf.end(), -1);
      std::memset(static_cast<void*>(fields.data()), 0, fields.size() * sizeof(MdbField));
      mdb_crack_row(t.get(), start, len, fields.data());
      for (unsigned k = 0; k < ncols; ++k)
        if (fields[k].colnum >= 0 && static_cast<unsigned>(fields[k].colnum) < ncols)
          fieldOf[static_cast<unsigned>(fields[k].colnum)] = static_cast<int>(k);
      if (keyCol >= 0) {
        const int k = fieldOf[static_cast<unsigned>(keyCol)];
        const MdbField* f = k >= 0 ? &fields[static_cast<unsigned>(k)] : nullptr;
        const auto* base = static_cast<const unsigned char*>(mdb->pg_buf);
        const auto* v = f ? static_cast<const unsigned char*>(f->value) : nullptr;
        if (!f || f->is_null || f->siz < 4 || v < base || v + 4 > base + kPageSize ||
            (haveKey && Read<std::int32_t>(v) <= lastKey)) {
          Retry = true;
          return {};
        }
        lastKey = Read<std::int32_t>(v);
        haveKey = true;
      }
      // Long values last: reading them may load other pages.
      for (int pass = 0; pass < 2; ++pass) {
        for (unsigned i = 0; i < ncols; ++i) {
          if ((plan[i].JetType == MDB_MEMO) != (pass == 1)) continue;
          Value& v = values[pending * ncols + i];
          if (pass == 1 && mdb->cur_pg != page && mdb_read_pg(mdb, page) != static_cast<ssize_t>(kPageSize))
            return "table \"" + tname + "\": page " + std::to_string(page) + " cannot be read";
          if (fieldOf[i] < 0) {
            v.Type = plan[i].JetType == MDB_BOOL ? Value::Int : Value::Null;
            v.I = 0;
            continue;
          }
          if (std::string e = DecodeValue(Img, t.get(), plan[i], fields[static_cast<unsigned>(fieldOf[i])], v, scratch);
              !e.empty())
            return "table \"" + tname + "\": " + e;
        }
      }
      if (++pending == batch) {
        if (std::string e = flush(pending); !e.empty()) return e;
        pending = 0;
      }
    }
  }
  if (std::string e = flush(pending); !e.empty()) return e;

  // Pages that are gone or belong elsewhere make libmdb skip rows quietly (or read another
  // table's); the table's own row count tells.
  if (rows != t->num_rows)
    return "table \"" + tname + "\" holds " + std::to_string(rows) + " readable rows of " + std::to_string(t->num_rows);

  int k = 0;
  for (const auto& cols : indexes) {
    std::string sql = "CREATE INDEX " + QuoteIdent("kelv_index_" + std::to_string(TableNo) + "_" + std::to_string(k++)) +
                      " ON " + QuoteIdent(tname) + " (";
    for (std::size_t j = 0; j < cols.size(); ++j) sql += (j ? ", " : "") + QuoteIdent(plan[cols[j]].Name);
    sql += ")";
    if (std::string e = Exec(Db, sql); !e.empty()) return "table \"" + tname + "\": " + e;
  }
  return {};
}

}  // namespace

std::uint64_t ReaderProgress() { return Progress.load(std::memory_order_relaxed); }

std::string CheckJetHeader(const unsigned char* Data, std::size_t Available, std::uint64_t FileSize) {
  if (FileSize == 0) return "the file is empty";
  static const unsigned char jet[] = "\x00\x01\x00\x00Standard Jet DB";
  static const unsigned char ace[] = "\x00\x01\x00\x00Standard ACE DB";
  if (Available < 0x20 || FileSize < 0x20) return "it is not a Jet database file";
  const bool isJet = std::memcmp(Data, jet, 20) == 0, isAce = std::memcmp(Data, ace, 20) == 0;
  if (!isJet && !isAce) return "it is not a Jet database file";
  const unsigned version = Data[0x14];
  if (isJet && version == 0) return "it is a Jet 3 database; only Jet 4.0 databases are supported";
  if (isAce || version != 1) return "it is in a later format than Jet 4.0";
  if (FileSize > kMaxFileSize) return "the file is too large for a Jet 4.0 database";
  if (FileSize % kPageSize != 0) return "the file is damaged (its size is not a whole number of pages)";
  if (FileSize < 3 * kPageSize) return "the file is damaged (it is too short)";
  if (Available >= 3 * kPageSize && Data[2 * kPageSize] != 0x02)
    return "the file is damaged (the system catalogue is missing)";
  return {};
}

sqlite3* OpenMemoryDatabase(bool Serializable) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  if (sqlite3_open_v2(Serializable ? "file:/kelv-import?vfs=memdb" : ":memory:", &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  if (!RegisterCollation(db)) {
    sqlite3_close(db);
    return nullptr;
  }
  return db;
}

std::string ReadJetImage(void* Data, std::size_t Size, sqlite3* Db) {
  if (std::string e = CheckJetHeader(static_cast<const unsigned char*>(Data), Size, Size); !e.empty()) return e;
  std::unique_ptr<MdbHandle, MdbHandleCloser> mdb(mdb_open_buffer(Data, Size, MDB_NOFLAGS));
  if (!mdb) return "it is not a Jet database file";
  if (mdb->f->jet_version != MDB_VER_JET4) return "it is not a Jet 4.0 database";
  if (!mdb_read_catalog(mdb.get(), MDB_TABLE) || !mdb->catalog) return "the system catalogue cannot be read";

  // The catalogue lists itself; without that entry its pages could not be read.
  bool catalogueListed = false;
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    const auto* entry = static_cast<const MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (entry && entry->object_type == MDB_TABLE && g_ascii_strcasecmp(entry->object_name, "MSysObjects") == 0)
      catalogueListed = true;
  }
  if (!catalogueListed) return "the system catalogue cannot be read";

  // user_version marks the database as ours and gives even a file without tables a page.
  if (std::string e = Exec(Db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA user_version=4; BEGIN");
      !e.empty())
    return e;
  // SQLite's own work (inserts, indexes) counts as progress for the watchdog.
  sqlite3_progress_handler(
      Db, 1000,
      [](void*) -> int {
        ++Progress;
        return 0;
      },
      nullptr);
  struct ProgressOff {
    sqlite3* Db;
    ~ProgressOff() { sqlite3_progress_handler(Db, 0, nullptr, nullptr); }
  } progressOff{Db};
  const Image img{static_cast<const unsigned char*>(Data), Size};
  int tableNo = 0;
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (!entry || entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
    bool retry = false;
    std::string e = ImportTable(img, entry, Db, tableNo, true, retry);
    if (e.empty() && retry) {
      e = Exec(Db, "DROP TABLE " + QuoteIdent(entry->object_name));
      if (e.empty()) e = ImportTable(img, entry, Db, tableNo, false, retry);
    }
    if (!e.empty()) return e;
    ++tableNo;
  }
  if (std::string e = Exec(Db, "COMMIT"); !e.empty()) return e;
  return {};
}

}  // namespace kelvdb
