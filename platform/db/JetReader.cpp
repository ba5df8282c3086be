// The libmdb side of the import: Jet 4.0 file image -> SQLite tables. Runs in the import's child
// process (see JetImport.h); nothing here may be trusted to survive a hostile file.
#include "platform/db/Collation.h"
#include "platform/db/JetImport.h"
#include "platform/db/JetSql.h"

// libmdb's header needs glib's first.
#include <glib.h>
#include <mdbtools.h>
#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kelvdb {
namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kBindSize = 256 * 1024;  // longest value taken from one column (memo)
constexpr std::uint64_t kMaxFileSize = 2ull << 30;  // Jet 4.0's own limit

enum class Kind { Bool, Int, Real, Text, Blob };

struct ColumnPlan {
  std::string Name;
  std::string Decl;
  Kind K{Kind::Text};
  bool Auto{false};
  bool NullableText{false};  // empty value may be an empty text or a null
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
  switch (c->col_type) {
    case MDB_BOOL: p.Decl = "JetBoolean INTEGER", p.K = Kind::Bool; break;
    case MDB_BYTE: p.Decl = "JetByte INTEGER", p.K = Kind::Int; break;
    case MDB_INT: p.Decl = "JetInteger INTEGER", p.K = Kind::Int; break;
    case MDB_LONGINT:
      p.Auto = c->is_long_auto != 0;
      p.Decl = p.Auto ? "JetAutoNumber INTEGER" : "JetLong INTEGER", p.K = Kind::Int;
      break;
    case MDB_MONEY: p.Decl = "JetCurrency REAL", p.K = Kind::Real; break;
    case MDB_FLOAT: p.Decl = "JetSingle REAL", p.K = Kind::Real; break;
    case MDB_DOUBLE: p.Decl = "JetDouble REAL", p.K = Kind::Real; break;
    case MDB_NUMERIC: p.Decl = "JetNumeric REAL", p.K = Kind::Real; break;
    case MDB_DATETIME: p.Decl = "JetDateTime TEXT", p.K = Kind::Text; break;
    case MDB_TEXT:
      p.Decl = "JetText TEXT(" + std::to_string(c->col_size > 0 ? c->col_size / 2 : 0) + ") COLLATE " + kCollationName;
      p.K = Kind::Text, p.NullableText = true;
      break;
    case MDB_MEMO:
      p.Decl = std::string("JetMemo TEXT COLLATE ") + kCollationName, p.K = Kind::Text, p.NullableText = true;
      break;
    case MDB_REPID: p.Decl = "JetGuid TEXT", p.K = Kind::Text, p.NullableText = true; break;
    case MDB_BINARY: p.Decl = "JetBinary BLOB", p.K = Kind::Blob; break;
    case MDB_OLE: p.Decl = "JetOle BLOB", p.K = Kind::Blob; break;
    default: break;
  }
  return p;
}

// Whether the column ColIndex of the row that mdb_fetch_row has just read is null. libmdb gives a
// null and an empty text alike (length 0); the row's null mask tells them apart. Leaves the
// table's current page loaded as it found it.
bool FetchedValueIsNull(MdbTableDef* T, unsigned ColIndex) {
  MdbHandle* mdb = T->entry->mdb;
  const unsigned long page = T->cur_phys_pg;
  if (T->cur_row == 0 || mdb_read_pg(mdb, page) != static_cast<ssize_t>(kPageSize)) return true;
  bool isNull = true;
  const int row = static_cast<int>(T->cur_row) - 1;
  const int rco = mdb->fmt->row_count_offset;
  const int rows = mdb_get_int16(mdb->pg_buf, rco);
  if (row < rows && rco + 2 + row * 2 + 2 <= static_cast<int>(kPageSize)) {
    const int entry = mdb_get_int16(mdb->pg_buf, rco + 2 + row * 2);
    bool located = true;
    int start = 0;
    std::size_t len = 0;
    if (entry & 0x4000) {  // the row lives on another page
      const int at = entry & 0x1FFF;
      located = at + 4 <= static_cast<int>(kPageSize);
      if (located) {
        const auto pgRow = static_cast<std::uint32_t>(mdb_get_int32(mdb->pg_buf, at));
        located = mdb_read_pg(mdb, pgRow >> 8) == static_cast<ssize_t>(kPageSize) &&
                  mdb_find_row(mdb, static_cast<int>(pgRow & 0xFF), &start, &len) == 0;
      }
    } else {
      located = mdb_find_row(mdb, row, &start, &len) == 0;
    }
    if (located && len > 0 && start >= 0 && static_cast<std::size_t>(start) + len <= kPageSize) {
      std::vector<MdbField> fields(T->num_cols + 1);
      const int n = mdb_crack_row(T, start, len, fields.data());
      for (int k = 0; k < n && k < static_cast<int>(T->num_cols); ++k)
        if (fields[static_cast<std::size_t>(k)].colnum == static_cast<int>(ColIndex)) {
          isNull = fields[static_cast<std::size_t>(k)].is_null != 0;
          break;
        }
    }
  }
  mdb_read_pg(mdb, page);
  return isNull;
}

std::string ImportTable(MdbCatalogEntry* Entry, sqlite3* Db, int TableNo) {
  const std::string tname = Entry->object_name;
  std::unique_ptr<MdbTableDef, TableDefFree> t(mdb_read_table(Entry));
  if (!t) return "table \"" + tname + "\" cannot be read";
  if (!mdb_read_columns(t.get()) || !t->columns) return "the columns of table \"" + tname + "\" cannot be read";
  const unsigned ncols = t->num_cols;
  if (ncols == 0 || ncols > MDB_MAX_COLS || t->columns->len != ncols)
    return "table \"" + tname + "\" has an invalid column count";
  if (tname.empty()) return "a table has no name";

  std::vector<ColumnPlan> plan;
  std::string create = "CREATE TABLE " + QuoteIdent(tname) + " (";
  std::string insert = "INSERT INTO " + QuoteIdent(tname) + " VALUES (";
  for (unsigned i = 0; i < ncols; ++i) {
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(t->columns, i));
    ColumnPlan p = PlanColumn(col);
    if (p.Decl.empty()) return "column \"" + p.Name + "\" of table \"" + tname + "\" has an unknown type";
    if (p.Name.empty()) return "a column of table \"" + tname + "\" has no name";
    create += (i ? ", " : "") + QuoteIdent(p.Name) + " " + p.Decl;
    insert += i ? ",?" : "?";
    plan.push_back(std::move(p));
  }
  create += ")";
  insert += ")";
  if (std::string e = Exec(Db, create); !e.empty()) return "table \"" + tname + "\": " + e;

  // Index column lists: AutoNumber columns, then the file's own indexes; duplicates once.
  std::vector<std::vector<unsigned>> indexes;
  std::set<std::vector<unsigned>> seen;
  for (unsigned i = 0; i < ncols; ++i)
    if (plan[i].Auto && seen.insert({i}).second) indexes.push_back({i});
  if (mdb_read_indices(t.get()) && t->indices) {
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

  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(Db, insert.c_str(), -1, &raw, nullptr) != SQLITE_OK)
    return "table \"" + tname + "\": " + sqlite3_errmsg(Db);
  std::unique_ptr<sqlite3_stmt, StmtFinalize> stmt(raw);

  std::vector<std::unique_ptr<char[]>> bufs(ncols);
  std::vector<int> lens(ncols, 0);
  mdb_rewind_table(t.get());
  for (unsigned i = 0; i < ncols; ++i) {
    bufs[i].reset(new char[kBindSize + 16]());
    if (mdb_bind_column(t.get(), static_cast<int>(i + 1), bufs[i].get(), &lens[i]) == -1)
      return "table \"" + tname + "\": a column cannot be read";
  }

  std::uint64_t rows = 0;
  while (mdb_fetch_row(t.get())) {
    ++rows;
    for (unsigned i = 0; i < ncols; ++i) {
      const int n = i + 1;
      const char* v = bufs[i].get();
      const int len = lens[i];
      if (len < 0 || static_cast<std::size_t>(len) > kBindSize) return "table \"" + tname + "\": a value is too long";
      const ColumnPlan& p = plan[i];
      if (len == 0) {
        if (p.NullableText && !FetchedValueIsNull(t.get(), i))
          sqlite3_bind_text(stmt.get(), n, "", 0, SQLITE_STATIC);
        else if (p.K == Kind::Bool)
          sqlite3_bind_int(stmt.get(), n, 0);
        else
          sqlite3_bind_null(stmt.get(), n);
        continue;
      }
      switch (p.K) {
        case Kind::Bool:
          sqlite3_bind_int(stmt.get(), n, !(len == 1 && v[0] == '0'));
          break;
        case Kind::Int: {
          std::int64_t x = 0;
          const auto r = std::from_chars(v, v + len, x);
          if (r.ec == std::errc() && r.ptr == v + len)
            sqlite3_bind_int64(stmt.get(), n, x);
          else
            sqlite3_bind_text(stmt.get(), n, v, len, SQLITE_TRANSIENT);
          break;
        }
        case Kind::Real: {
          double x = 0;
          const auto r = std::from_chars(v, v + len, x);
          if (r.ec == std::errc() && r.ptr == v + len)
            sqlite3_bind_double(stmt.get(), n, x);
          else
            sqlite3_bind_text(stmt.get(), n, v, len, SQLITE_TRANSIENT);
          break;
        }
        case Kind::Text:
          sqlite3_bind_text(stmt.get(), n, v, len, SQLITE_TRANSIENT);
          break;
        case Kind::Blob:
          sqlite3_bind_blob(stmt.get(), n, v, len, SQLITE_TRANSIENT);
          break;
      }
    }
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) return "table \"" + tname + "\": " + sqlite3_errmsg(Db);
    sqlite3_reset(stmt.get());
  }

  // Pages that are gone or belong elsewhere make libmdb skip rows quietly; the table's own row
  // count tells.
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
  mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
  mdb_set_shortdate_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
  mdb_set_boolean_fmt_numbers(mdb.get());
  mdb_set_bind_size(mdb.get(), kBindSize);
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
  int tableNo = 0;
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    if (!entry || entry->object_type != MDB_TABLE || !mdb_is_user_table(entry)) continue;
    if (std::string e = ImportTable(entry, Db, tableNo++); !e.empty()) return e;
  }
  if (std::string e = Exec(Db, "COMMIT"); !e.empty()) return e;
  return {};
}

}  // namespace kelvdb
