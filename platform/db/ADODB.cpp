// TADOConnection, TParameters and TADOQuery over the in-memory SQLite copy of the database.
#include "platform/db/ADODB.h"

#include <sqlite3.h>

#include <algorithm>

#include "platform/db/JetImport.h"
#include "platform/db/JetSql.h"
#include "platform/db/ResultSet.h"

namespace {

constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";

std::string TrimBlanks(const std::string& S) {
  std::size_t b = 0, e = S.size();
  while (b < e && (S[b] == ' ' || S[b] == '\t' || S[b] == '\r' || S[b] == '\n')) ++b;
  while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t' || S[e - 1] == '\r' || S[e - 1] == '\n')) --e;
  return S.substr(b, e - b);
}

// name=value pairs of a connection string, names as written; Exception on a malformed string.
std::vector<std::pair<std::string, std::string>> ParseConnectionString(const std::string& S) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t i = 0;
  auto bad = [&] { return Exception("The connection string \"" + S + "\" is not valid: expected Name=Value pairs separated by ';'."); };
  while (i < S.size()) {
    const std::size_t eq = S.find('=', i), semi = S.find(';', i);
    if (semi != std::string::npos && (eq == std::string::npos || semi < eq)) {
      if (!TrimBlanks(S.substr(i, semi - i)).empty()) throw bad();
      i = semi + 1;
      continue;
    }
    if (eq == std::string::npos) {
      if (!TrimBlanks(S.substr(i)).empty()) throw bad();
      break;
    }
    std::string name = TrimBlanks(S.substr(i, eq - i));
    if (name.empty()) throw bad();
    i = eq + 1;
    while (i < S.size() && (S[i] == ' ' || S[i] == '\t')) ++i;
    std::string value;
    if (i < S.size() && (S[i] == '"' || S[i] == '\'')) {
      const char q = S[i++];
      for (;;) {
        if (i >= S.size()) throw bad();
        if (S[i] == q) {
          if (i + 1 < S.size() && S[i + 1] == q) {
            value += q;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += S[i++];
      }
      while (i < S.size() && (S[i] == ' ' || S[i] == '\t')) ++i;
      if (i < S.size() && S[i] != ';') throw bad();
      if (i < S.size()) ++i;
    } else {
      const std::size_t end = S.find(';', i);
      value = TrimBlanks(S.substr(i, end == std::string::npos ? std::string::npos : end - i));
      i = end == std::string::npos ? S.size() : end + 1;
    }
    out.emplace_back(std::move(name), std::move(value));
  }
  return out;
}

std::string Lookup(const std::vector<std::pair<std::string, std::string>>& Pairs, const std::string& Name) {
  std::string v;
  for (const auto& [k, val] : Pairs)
    if (AnsiSameText(k, Name)) v = val;
  return v;
}

struct StatementReset {
  sqlite3_stmt* S;
  ~StatementReset() {
    sqlite3_reset(S);
    sqlite3_clear_bindings(S);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TADOConnection

TADOConnection::TADOConnection(TComponent* AOwner) : TComponent(AOwner) {}

TADOConnection::~TADOConnection() {
  try {
    Close();
  } catch (...) {
  }
  for (TADOQuery* q : FDataSets) q->FConnection = nullptr;
}

void TADOConnection::SetConnectionString(const std::string& Value) {
  if (Connected()) throw Exception("Operation is not allowed when the object is open.");
  FConnectionString = Value;
}

std::string TADOConnection::Provider() const {
  try {
    return Lookup(ParseConnectionString(FConnectionString), "Provider");
  } catch (const Exception&) {
    return {};
  }
}

TADOQuery* TADOConnection::DataSets(int Index) const {
  if (Index < 0 || Index >= DataSetCount()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FDataSets[static_cast<std::size_t>(Index)];
}

void TADOConnection::SetConnected(bool Value) {
  if (Value == Connected()) return;
  if (Value) {
    const auto pairs = ParseConnectionString(FConnectionString);
    if (const std::string provider = Lookup(pairs, "Provider"); !AnsiSameText(provider, kJetProvider))
      throw Exception("Provider '" + provider + "' is not available; only " + kJetProvider + " is.");
    const std::string source = Lookup(pairs, "Data Source");
    const std::string path = source.empty() ? std::string() : FindFileNoCase(source);
    if (path.empty()) throw Exception("Could not find file '" + source + "'.");
    kelvdb::ImportOptions options;
    options.CpuSeconds = FConnectionTimeout;
    FDb = kelvdb::ImportJetFile(path, options);
  } else {
    for (TADOQuery* q : std::vector<TADOQuery*>(FDataSets)) {
      q->Close();
      q->ConnectionClosing();
    }
    sqlite3_close_v2(FDb);
    FDb = nullptr;
    FIndexed.clear();
    FAdvised.clear();
    FTables.clear();
  }
}

const TADOConnection::TableInfo* TADOConnection::Table(const std::string& Name) {
  for (const auto& [name, info] : FTables)
    if (AnsiSameText(name, Name)) return &info;
  if (!FDb) return nullptr;
  TableInfo info;
  bool exists = false;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(FDb, "SELECT name, type, pk FROM pragma_table_info(?1)", -1, &s, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(s, 1, Name.c_str(), -1, SQLITE_TRANSIENT);
    int keys = 0;
    std::string key, keyType;
    while (sqlite3_step(s) == SQLITE_ROW) {
      exists = true;
      const auto* col = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
      const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
      info.Columns.emplace_back(col ? col : "");
      if (sqlite3_column_int(s, 2) > 0) {
        ++keys;
        key = col ? col : "";
        keyType = type ? type : "";
      }
    }
    if (keys == 1 && AnsiSameText(keyType, "INTEGER")) info.RowidColumn = key;
  }
  sqlite3_finalize(s);
  if (!exists) return nullptr;
  s = nullptr;
  if (sqlite3_prepare_v2(FDb, ("SELECT count(*) FROM " + kelvdb::QuoteIdent(Name)).c_str(), -1, &s, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    info.Rows = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  FTables.emplace_back(Name, std::move(info));
  return &FTables.back().second;
}

bool TADOConnection::EnsureIndex(const std::string& Table, const std::vector<std::string>& Columns) {
  if (!FDb || Columns.empty()) return false;
  const std::string key = Table + "\n" + Columns.front();
  for (const auto& k : FIndexed)
    if (AnsiSameText(k, key)) return true;
  bool found = false;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(FDb,
                         "SELECT i.name FROM pragma_index_list(?1) AS l, pragma_index_info(l.name) AS i "
                         "WHERE i.seqno = 0",
                         -1, &s, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(s, 1, Table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(s) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
      if (name && AnsiSameText(name, Columns.front())) found = true;
    }
  }
  sqlite3_finalize(s);
  if (!found) {
    std::string sql = "CREATE INDEX " + kelvdb::QuoteIdent("kelv_query_" + std::to_string(FIndexed.size())) + " ON " +
                      kelvdb::QuoteIdent(Table) + " (";
    for (std::size_t i = 0; i < Columns.size(); ++i) sql += (i ? ", " : "") + kelvdb::QuoteIdent(Columns[i]);
    found = sqlite3_exec(FDb, (sql + ")").c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  if (found) FIndexed.push_back(key);
  return found;
}

void TADOConnection::AdviseIndexes(const std::string& Sql, const kelvdb::TranslatedSql& Translated) {
  constexpr long long kMinRows = 1000;  // smaller tables are scanned as fast
  if (!FDb) return;
  for (const auto& s : FAdvised)
    if (s == Sql) return;
  if (FAdvised.size() >= 4096) FAdvised.clear();
  FAdvised.push_back(Sql);
  for (int round = 0; round < 2; ++round) {
    // (table, columns) wanted, from the query plan.
    std::vector<std::pair<std::string, std::vector<std::string>>> wanted;
    sqlite3_stmt* plan = nullptr;
    if (sqlite3_prepare_v2(FDb, ("EXPLAIN QUERY PLAN " + Sql).c_str(), -1, &plan, nullptr) != SQLITE_OK) {
      sqlite3_finalize(plan);
      return;
    }
    bool outer = true;  // the first loop of the plan
    while (sqlite3_step(plan) == SQLITE_ROW) {
      const auto* d = reinterpret_cast<const char*>(sqlite3_column_text(plan, 3));
      const std::string detail = d ? d : "";
      const bool scan = detail.rfind("SCAN ", 0) == 0, search = detail.rfind("SEARCH ", 0) == 0;
      if (!scan && !search) continue;
      const std::size_t b = detail.find(' ') + 1, e = detail.find(' ', b);
      const std::string table = detail.substr(b, e == std::string::npos ? std::string::npos : e - b);
      const bool inner = !outer;
      outer = false;
      const TableInfo* info = Table(table);
      if (!info || info->Rows < kMinRows) continue;
      auto hasColumn = [&](const std::string& c) {
        return !AnsiSameText(c, info->RowidColumn) &&
               std::any_of(info->Columns.begin(), info->Columns.end(), [&](const std::string& x) { return AnsiSameText(x, c); });
      };
      std::vector<std::string> constants;
      for (const auto& equality : Translated.ConstantEqualities) {
        const std::string& qualifier = equality.first;
        const std::string& column = equality.second;
        if ((qualifier.empty() || AnsiSameText(qualifier, table)) && hasColumn(column) &&
            std::none_of(constants.begin(), constants.end(), [&](const std::string& x) { return AnsiSameText(x, column); }))
          constants.push_back(column);
      }
      if (!constants.empty()) wanted.emplace_back(table, constants);
      // A whole inner table read for every row of the loops outside it: index its join column.
      if (scan && inner && detail.find(" USING ") == std::string::npos)
        for (const auto& [qualifier, column] : Translated.JoinColumns)
          if ((qualifier.empty() || AnsiSameText(qualifier, table)) && hasColumn(column)) {
            wanted.emplace_back(table, std::vector<std::string>{column});
            break;
          }
      // "SEARCH T USING AUTOMATIC [PARTIAL] [COVERING] INDEX (C=? ...)": built anew for every run.
      const std::size_t automatic = detail.find("USING AUTOMATIC");
      const std::size_t open = detail.find('(', automatic == std::string::npos ? detail.size() : automatic);
      if (automatic != std::string::npos && open != std::string::npos) {
        const std::size_t eq = detail.find_first_of("=<>) ", open + 1);
        const std::string column = detail.substr(open + 1, eq == std::string::npos ? 0 : eq - open - 1);
        if (hasColumn(column)) wanted.emplace_back(table, std::vector<std::string>{column});
      }
    }
    sqlite3_finalize(plan);
    bool made = false;
    for (const auto& [table, columns] : wanted) {
      const std::size_t before = FIndexed.size();
      EnsureIndex(table, columns);
      made = made || FIndexed.size() != before;
    }
    if (!made) break;
  }
}

// ---------------------------------------------------------------------------------------------
// TParameters

TParameter* TParameters::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FList[static_cast<std::size_t>(Index)].get();
}

TParameter* TParameters::FindParam(const std::string& Name) const {
  for (const auto& p : FList)
    if (AnsiSameText(p->Name(), Name)) return p.get();
  return nullptr;
}

TParameter* TParameters::ParamByName(const std::string& Name) const {
  if (TParameter* p = FindParam(Name)) return p;
  const std::string who = FQuery && !FQuery->Name().empty() ? FQuery->Name() + ": " : std::string();
  throw Exception(who + "Parameter '" + Name + "' not found");
}

// ---------------------------------------------------------------------------------------------
// TADOQuery

struct TADOQuery::Statement {
  std::string Sql;
  sqlite3_stmt* Stmt{nullptr};
};

struct TADOQuery::Translation {
  kelvdb::TranslatedSql Sql;
  bool BaseReady{false};  // BaseSql and Hidden worked out for the current connection
  std::string BaseSql;    // what runs without a filter
  std::string HiddenColumns;
  std::size_t Hidden{0};
};

namespace {

// Sql with a condition added to its WHERE clause, helper columns before FROM and DISTINCT.
std::string BuildSql(const kelvdb::TranslatedSql& T, const std::string& Condition, const std::string& Hidden,
                     bool Distinct) {
  std::string s = T.Sql;
  if (!Condition.empty()) {
    if (T.HasWhere) {
      s.insert(T.TailPos, ") AND " + Condition + " ");
      s.insert(T.WherePos, " (");
    } else {
      s.insert(T.TailPos, " WHERE " + Condition + " ");
    }
  }
  if (!Hidden.empty()) s.insert(T.FromPos, Hidden + " ");
  if (Distinct) s.insert(T.SelectEnd, " DISTINCT");
  return s;
}

}  // namespace

TADOQuery::TADOQuery(TComponent* AOwner) : TDataSet(AOwner), FParameters(this) {
  FSQL.OnChange = [this](TObject*) { SQLChanged(); };
}

TADOQuery::~TADOQuery() {
  FSQL.OnChange = nullptr;
  DropStatements();
  if (FConnection) {
    auto& v = FConnection->FDataSets;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
}

void TADOQuery::SetConnection(TADOConnection* Value) {
  if (Value == FConnection) return;
  Close();
  DropStatements();
  if (FConnection) {
    auto& v = FConnection->FDataSets;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  FConnection = Value;
  if (FConnection) FConnection->FDataSets.push_back(this);
}

void TADOQuery::SQLChanged() {
  Close();
  DropStatements();
  FParsed = false;
  try {
    SyncParameters();
  } catch (const Exception&) {
    // An unfinished text (lines still being added) is parsed again when used.
  }
}

TParameters& TADOQuery::Parameters() {
  if (!FParsed || FParsedText != FSQL.Text()) {
    try {
      SyncParameters();
    } catch (const Exception&) {
    }
  }
  return FParameters;
}

void TADOQuery::SyncParameters() {
  const std::string text = FSQL.Text();
  auto t = std::make_unique<Translation>();
  t->Sql = kelvdb::TranslateJetSql(text);
  std::vector<std::unique_ptr<TParameter>> list;
  for (const std::string& name : t->Sql.ParamNames) {
    std::unique_ptr<TParameter> p;
    for (auto& old : FParameters.FList)
      if (old && AnsiSameText(old->Name(), name)) p = std::move(old);
    if (!p) p = std::make_unique<TParameter>(name);
    list.push_back(std::move(p));
  }
  FParameters.FList = std::move(list);
  FTranslated = std::move(t);
  FParsedText = text;
  FParsed = true;
  DropStatements();
}

void TADOQuery::ConnectionClosing() { DropStatements(); }

void TADOQuery::DropStatements() {
  for (auto& s : FStatements) sqlite3_finalize(s->Stmt);
  FStatements.clear();
  if (FTranslated) FTranslated->BaseReady = false;
}

sqlite3_stmt* TADOQuery::Prepare(const std::string& Sql, bool Quiet, sqlite3_stmt* Keep) {
  for (auto& s : FStatements)
    if (s->Sql == Sql) return s->Stmt;
  sqlite3_stmt* stmt = nullptr;
  sqlite3* db = FConnection->Handle();
  if (sqlite3_prepare_v3(db, Sql.c_str(), static_cast<int>(Sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) !=
          SQLITE_OK ||
      !stmt) {
    const std::string msg = stmt ? std::string() : std::string(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (Quiet) return nullptr;
    throw Exception(Prefix() + (msg.empty() ? std::string("No SQL statement") : "SQL error: " + msg));
  }
  if (FStatements.size() >= 6) {  // the oldest goes, unless the caller still uses it
    auto victim = FStatements.begin();
    if ((*victim)->Stmt == Keep) ++victim;
    sqlite3_finalize((*victim)->Stmt);
    FStatements.erase(victim);
  }
  auto s = std::make_unique<Statement>();
  s->Sql = Sql;
  s->Stmt = stmt;
  FStatements.push_back(std::move(s));
  return stmt;
}

void TADOQuery::InternalClose() {}

void TADOQuery::InternalOpen(kelvdb::ResultSet& Rows, const FilterRequest* Filter, bool& FilterApplied) {
  if (!FConnection) throw Exception(Prefix() + "Missing Connection or ConnectionString");
  if (!FConnection->Connected()) FConnection->Open();
  if (!FParsed || FParsedText != FSQL.Text()) {
    try {
      SyncParameters();
    } catch (const Exception& e) {
      throw Exception(Prefix() + e.Message());
    }
  }
  Translation& tr = *FTranslated;
  const kelvdb::TranslatedSql& t = tr.Sql;

  // What runs without a filter; DISTINCTROW keeps rows that come from different records:
  // DISTINCT over the selected columns and the record numbers of the tables they come from.
  if (!tr.BaseReady) {
    tr.BaseSql = t.Sql;
    tr.HiddenColumns.clear();
    tr.Hidden = 0;
    if (t.DistinctRow) {
      sqlite3_stmt* plain = Prepare(t.Sql, false);
      std::vector<std::string> tables;
      bool exact = t.Simple;
      for (int i = 0; i < sqlite3_column_count(plain); ++i) {
        const char* tab = sqlite3_column_table_name(plain, i);
        if (!tab) continue;
        if (std::none_of(tables.begin(), tables.end(), [&](const std::string& x) { return AnsiSameText(x, tab); }))
          tables.push_back(tab);
      }
      for (const auto& tab : tables) exact = exact && kelvdb::CountTableRefs(t, tab) == 1;
      if (exact)
        for (const auto& tab : tables) tr.HiddenColumns += ", " + kelvdb::QuoteIdent(tab) + ".rowid";
      tr.Hidden = exact ? tables.size() : 0;
      tr.BaseSql = BuildSql(t, {}, tr.HiddenColumns, true);
    }
    tr.BaseReady = true;
  }

  sqlite3_stmt* stmt = Prepare(tr.BaseSql, false);
  const int ncols = sqlite3_column_count(stmt);
  if (ncols <= 0) throw Exception(Prefix() + "The SQL text returns no rows");
  Rows.Columns.resize(static_cast<std::size_t>(ncols));
  Rows.Visible = static_cast<std::size_t>(ncols) - std::min<std::size_t>(tr.Hidden, static_cast<std::size_t>(ncols));
  for (int i = 0; i < ncols; ++i) {
    kelvdb::ColumnInfo& c = Rows.Columns[static_cast<std::size_t>(i)];
    const char* origin = sqlite3_column_origin_name(stmt, i);
    const char* name = sqlite3_column_name(stmt, i);
    const char* table = sqlite3_column_table_name(stmt, i);
    const char* decl = sqlite3_column_decltype(stmt, i);
    c.Origin = origin ? origin : (name ? name : "");
    c.Table = table ? table : "";
    kelvdb::FieldTypeOfDecl(decl ? decl : "", c.Type, c.Size);
  }
  kelvdb::NameColumns(Rows);

  // A filter on a column of a table that the query names once becomes part of its WHERE clause.
  std::string filterValue;
  if (Filter) {
    const int col = Rows.FindColumn(Filter->Field);
    if (col < 0) throw Exception(Prefix() + "Filter: field '" + Filter->Field + "' not found");
    const kelvdb::ColumnInfo& c = Rows.Columns[static_cast<std::size_t>(col)];
    // Currency is stored in ten-thousandths: the dataset compares it itself.
    if (t.Simple && !c.Table.empty() && c.Type != ftCurrency && kelvdb::CountTableRefs(t, c.Table) == 1) {
      FConnection->EnsureIndex(c.Table, {c.Origin});
      const std::string cond = kelvdb::QuoteIdent(c.Table) + "." + kelvdb::QuoteIdent(c.Origin) + " = ?" +
                               std::to_string(t.ParamNames.size() + 1);
      if (sqlite3_stmt* filtered = Prepare(BuildSql(t, cond, tr.HiddenColumns, t.DistinctRow), true, stmt);
          filtered && sqlite3_column_count(filtered) == ncols) {
        stmt = filtered;
        filterValue = Filter->Value;
        FilterApplied = true;
      }
    }
  }

  FConnection->AdviseIndexes(sqlite3_sql(stmt), t);
  StatementReset reset{stmt};
  for (std::size_t i = 0; i < t.ParamNames.size(); ++i) {
    const TParameter* p = FParameters.FindParam(t.ParamNames[i]);
    if (!p || !p->Assigned()) throw Exception(Prefix() + "No value given for parameter '" + t.ParamNames[i] + "'");
    const int n = static_cast<int>(i + 1);
    if (p->IsNull())
      sqlite3_bind_null(stmt, n);
    else
      sqlite3_bind_text(stmt, n, p->Value().data(), static_cast<int>(p->Value().size()), SQLITE_TRANSIENT);
  }
  if (FilterApplied)
    sqlite3_bind_text(stmt, static_cast<int>(t.ParamNames.size() + 1), filterValue.data(),
                      static_cast<int>(filterValue.size()), SQLITE_TRANSIENT);

  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw Exception(Prefix() + "SQL error: " + sqlite3_errmsg(FConnection->Handle()));
    for (int i = 0; i < ncols; ++i) {
      kelvdb::Cell cell;
      switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
          cell.Type = Rows.Columns[static_cast<std::size_t>(i)].Type == ftCurrency ? kelvdb::CellType::Currency
                                                                                   : kelvdb::CellType::Integer;
          cell.I = sqlite3_column_int64(stmt, i);
          break;
        case SQLITE_FLOAT:
          cell.Type = kelvdb::CellType::Real;
          cell.D = sqlite3_column_double(stmt, i);
          break;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
          const bool text = sqlite3_column_type(stmt, i) == SQLITE_TEXT;
          const void* p = text ? static_cast<const void*>(sqlite3_column_text(stmt, i)) : sqlite3_column_blob(stmt, i);
          const int len = sqlite3_column_bytes(stmt, i);
          cell.Type = text ? kelvdb::CellType::Text : kelvdb::CellType::Blob;
          cell.Off = Rows.Bytes.size();
          cell.Len = static_cast<std::uint32_t>(len);
          if (len > 0) Rows.Bytes.append(static_cast<const char*>(p), static_cast<std::size_t>(len));
          break;
        }
        default:
          break;
      }
      kelvdb::ColumnInfo& c = Rows.Columns[static_cast<std::size_t>(i)];
      if (c.Type == ftUnknown && cell.Type != kelvdb::CellType::Null)
        c.Type = cell.Type == kelvdb::CellType::Integer ? ftLargeint
                 : cell.Type == kelvdb::CellType::Real  ? ftFloat
                 : cell.Type == kelvdb::CellType::Text  ? ftWideString
                                                        : ftBlob;
      Rows.Cells.push_back(cell);
    }
    ++Rows.Rows;
  }
}
