// The import of Jet 4.0 files: real files against mdb-export, and files that are not fit to open.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>

#include "platform/db/ADODB.h"
#include "platform/db/JetImport.h"
#include "support/TestSupport.h"
#include "tests/platform/db/DbTestSupport.h"
#include "tools/MdbRead.h"
#include "tools/jet4/Jet4Writer.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// The desktop product's files of the shared test data.
std::vector<fs::path> RealJetFiles() {
  std::vector<fs::path> files;
  for (const char* folder : {"jet4", "jet4-later"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(testsupport::TestDataDir() / folder, ec))
      if (e.path().extension() == ".mdb") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ConnectionString(const fs::path& p) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=" + p.string();
}

struct CsvField {
  bool Quoted{false};
  bool Empty{true};  // unquoted and empty: null
  std::string Text;
};

// mdb-export's CSV: text in double quotes (inner quotes doubled), numbers bare, null empty.
std::vector<std::vector<CsvField>> ParseCsv(const std::string& S) {
  std::vector<std::vector<CsvField>> rows;
  std::vector<CsvField> row;
  CsvField f;
  std::size_t i = 0;
  bool any = false;
  while (i < S.size()) {
    const char c = S[i];
    if (c == '"' && !f.Quoted && f.Text.empty()) {
      f.Quoted = true, f.Empty = false, any = true;
      ++i;
      while (i < S.size()) {
        if (S[i] == '"') {
          if (i + 1 < S.size() && S[i + 1] == '"') {
            f.Text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        f.Text += S[i++];
      }
    } else if (c == ',') {
      row.push_back(f), f = {}, any = true, ++i;
    } else if (c == '\n') {
      if (any || !f.Text.empty()) row.push_back(f);
      rows.push_back(row), row.clear(), f = {}, any = false, ++i;
    } else {
      f.Text += c, f.Empty = false, any = true, ++i;
    }
  }
  if (any) row.push_back(f), rows.push_back(row);
  return rows;
}

std::vector<std::string> Tables(const fs::path& file) {
  std::string out;
  testsupport::RunCommand("mdb-tables -1 '" + file.string() + "'", &out);
  std::vector<std::string> tables;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) tables.push_back(line);
  return tables;
}

// mdb-export prints a character beyond the Basic Multilingual Plane as "??".
std::string AsMdbExportPrintsIt(const std::string& Utf8) {
  std::string out;
  for (std::size_t i = 0; i < Utf8.size(); ++i) {
    if ((static_cast<unsigned char>(Utf8[i]) & 0xF8) == 0xF0) {
      out += "??";
      i += 3;
    } else {
      out += Utf8[i];
    }
  }
  return out;
}

std::string Hex(const std::string& Bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Bytes) out += digits[c >> 4], out += digits[c & 15];
  return out;
}

// Every table of File read through a query equals what mdb-export prints: text exactly,
// currency to the last digit, OLE objects byte for byte, other numbers by value. NULL and empty
// text, which mdb-export prints alike, and dates, which it prints wrong outside 1900 to 4636,
// are compared with libmdb's own reading of the row and of the stored day count.
void ExpectSameAsMdbExport(const fs::path& file) {
  SCOPED_TRACE(file.filename().string());
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(file));
  ASSERT_NO_THROW(conn.Open());
  const auto tables = Tables(file);
  for (const std::string& table : tables) {
    SCOPED_TRACE(table);
    std::string csv;
    ASSERT_EQ(testsupport::RunCommand("mdb-export -b hex '" + file.string() + "' '" + table + "'", &csv), 0);
    const auto rows = ParseCsv(csv);
    ASSERT_FALSE(rows.empty());
    const tooltest::TTableRead raw = tooltest::ReadWithLibmdb(file, table);
    TADOQuery q(nullptr);
    q.SetConnection(&conn);
    q.SQL()->Add("SELECT * FROM [" + table + "]");
    q.Open();
    ASSERT_EQ(q.FieldCount(), static_cast<int>(rows[0].size()));
    for (int i = 0; i < q.FieldCount(); ++i) EXPECT_EQ(q.Fields()[i]->FieldName(), rows[0][static_cast<std::size_t>(i)].Text);
    ASSERT_EQ(q.RecordCount(), static_cast<int>(rows.size()) - 1);
    ASSERT_EQ(raw.Rows.size(), rows.size() - 1);
    for (std::size_t r = 1; r < rows.size(); ++r, q.Next()) {
      ASSERT_EQ(rows[r].size(), static_cast<std::size_t>(q.FieldCount()));
      for (int i = 0; i < q.FieldCount(); ++i) {
        const CsvField& want = rows[r][static_cast<std::size_t>(i)];
        const tooltest::TCell& cell = raw.Rows[r - 1].at(static_cast<std::size_t>(i));
        TField* f = q.Fields()[i];
        SCOPED_TRACE(f->FieldName() + " row " + std::to_string(r));
        EXPECT_EQ(f->IsNull(), !cell.has_value());
        if (!cell) continue;
        switch (f->DataType()) {
          case ftDateTime: EXPECT_EQ(f->AsString(), *cell); break;
          case ftBoolean: EXPECT_EQ(f->AsInteger(), std::atoi(want.Text.c_str())); break;
          case ftCurrency: {  // mdb-export gives four decimals
            std::string text = want.Text;
            if (text.find('.') != std::string::npos) {
              while (text.back() == '0') text.pop_back();
              if (text.back() == '.') text.pop_back();
            }
            EXPECT_EQ(f->AsString(), text == "-0" ? "0" : text);
            break;
          }
          case ftBlob: EXPECT_EQ(Hex(f->AsString()), want.Text); break;
          case ftWideString:
          case ftMemo:
          case ftGuid: EXPECT_EQ(AsMdbExportPrintsIt(f->AsString()), want.Text); break;
          default: {
            const double w = std::strtod(want.Text.c_str(), nullptr);
            EXPECT_NEAR(f->AsFloat(), w, 1e-9 * std::max(1.0, std::fabs(w)));
          }
        }
      }
    }
  }
}

// A query opened on the database file File.
struct OpenedQuery {
  TADOConnection Conn{nullptr};
  TADOQuery Q{nullptr};
  OpenedQuery(const fs::path& File, const std::string& Sql) {
    Conn.SetConnectionString(ConnectionString(File));
    Q.SetConnection(&Conn);
    Q.SQL()->SetText(Sql);
    Q.Open();
  }
};

}  // namespace

TEST(JetImport, EveryRealJetFileMatchesMdbExport) {
  SKIP_WITHOUT_TESTDATA();
  SKIP_WITHOUT_PROGRAM("mdb-export");
  const auto files = RealJetFiles();
  ASSERT_FALSE(files.empty());
  for (const auto& file : files) ExpectSameAsMdbExport(file);
}

TEST(JetImport, EveryTestCatalogueMatchesMdbExport) {
  SKIP_WITHOUT_CATALOGUE("edge");
  SKIP_WITHOUT_PROGRAM("mdb-export");
  for (const char* name : {"edge", "edge-plain", "empty", "long-brand", "types", "types-plain"})
    ExpectSameAsMdbExport(dbtest::Catalogue(name));
}

// Every column type our writer stores, and its Yes/No, date and currency values as text.
TEST(JetImport, ColumnTypesAreKept) {
  SKIP_WITHOUT_CATALOGUE("types");
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(dbtest::Catalogue("types")));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT * FROM Types ORDER BY ID");
  q.Open();
  const std::vector<std::pair<const char*, TFieldType>> want = {
      {"ID", ftAutoInc},         {"Flag", ftBoolean},         {"Small", ftWord},          {"Short", ftSmallint},
      {"Long", ftInteger},       {"Money", ftCurrency},       {"Real", ftFloat},          {"Approx", ftFloat},
      {"Moment", ftDateTime},
      {"Name", ftWideString},    {"NamePlain", ftWideString}, {"NameCompressed", ftWideString}, {"Note", ftMemo}};
  ASSERT_EQ(q.FieldCount(), static_cast<int>(want.size()));
  for (const auto& [name, type] : want) EXPECT_EQ(q.FieldByName(name)->DataType(), type) << name;
  EXPECT_EQ(q.FieldByName("Name")->Size(), 255);
  EXPECT_EQ(q.FieldByName("Flag")->AsString(), "True");
  EXPECT_TRUE(q.FieldByName("Flag")->AsBoolean());
  EXPECT_EQ(q.FieldByName("Moment")->AsString(), "2004-05-28 17:46:30");
  EXPECT_EQ(q.FieldByName("Money")->AsString(), "12.5");
  EXPECT_EQ(q.FieldByName("Approx")->AsString(), "0.1") << "a single keeps the digits it has";
  q.Next();
  EXPECT_EQ(q.FieldByName("Flag")->AsString(), "False");
  EXPECT_FALSE(q.FieldByName("Flag")->IsNull());
  q.Close();
  q.SQL()->SetText("SELECT * FROM Empty");
  q.Open();
  EXPECT_EQ(q.FieldByName("Name")->Size(), 50);
}

// The same in a file of the desktop product.
TEST(JetImport, ColumnTypesOfTheProductsFileAreKept) {
  SKIP_WITHOUT_TESTDATA();
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(testsupport::TestDataDir() / "jet4" / "testV2000.mdb"));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT * FROM Table1");
  q.Open();
  const std::vector<std::pair<const char*, TFieldType>> want = {
      {"A", ftWideString}, {"B", ftWideString}, {"C", ftWord},     {"D", ftSmallint}, {"E", ftInteger},
      {"F", ftFloat},      {"G", ftDateTime},   {"H", ftCurrency}, {"I", ftBoolean}};
  for (const auto& [name, type] : want) EXPECT_EQ(q.FieldByName(name)->DataType(), type) << name;
  EXPECT_EQ(q.FieldByName("A")->Size(), 50);
  EXPECT_EQ(q.FieldByName("I")->AsString(), "True");
  EXPECT_TRUE(q.FieldByName("I")->AsBoolean());
  EXPECT_EQ(q.FieldByName("G")->AsString(), "1974-09-21 00:00:00");
  EXPECT_EQ(q.FieldByName("H")->AsString(), "3.5");
  q.Next();
  EXPECT_EQ(q.FieldByName("I")->AsString(), "False");
  EXPECT_FALSE(q.FieldByName("I")->IsNull());
}

TEST(JetImport, SeveralLongValuesInOneRow) {
  TempDir dir;
  std::string a, b;
  for (int i = 0; i < 900; ++i) a += "Ауспух " + std::to_string(i) + "; ";
  for (int i = 0; i < 700; ++i) b += "exhaust " + std::to_string(i) + " ";
  jet4::TDatabase db;
  db.Tables.push_back({"Notes",
                       {{"ID", jet4::TColumnType::AutoNumber},
                        {"First", jet4::TColumnType::Memo},
                        {"Name", jet4::TColumnType::Text, 20},
                        {"Second", jet4::TColumnType::Memo}},
                       {{std::int64_t{1}, a, std::string("между"), b}, {std::int64_t{2}, b, std::monostate{}, a}}});
  std::string huge;  // longer than libmdb's default limit for one value
  while (huge.size() < 400000) huge += "0123456789";
  db.Tables.back().Rows.push_back({std::int64_t{3}, huge, std::string(), std::string()});
  jet4::SaveDatabase(db, (dir / "notes.mdb").string());
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(dir / "notes.mdb"));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT * FROM Notes ORDER BY ID");
  q.Open();
  EXPECT_EQ(q.FieldByName("First")->AsString(), a);
  EXPECT_EQ(q.FieldByName("Name")->AsString(), "между");
  EXPECT_EQ(q.FieldByName("Second")->AsString(), b);
  q.Next();
  EXPECT_EQ(q.FieldByName("First")->AsString(), b);
  EXPECT_TRUE(q.FieldByName("Name")->IsNull());
  EXPECT_EQ(q.FieldByName("Second")->AsString(), a);
  q.Next();
  EXPECT_EQ(q.FieldByName("First")->AsString().size(), huge.size());
  EXPECT_EQ(q.FieldByName("First")->AsString(), huge);
}

// Values at the ends of their ranges come back exactly: libmdb's own conversions give
// "1900-01-00 00:00:00" for these dates, 15 digits of currency and "??" beyond the plane.
TEST(JetImport, ExtremeValuesAreExact) {
  SKIP_WITHOUT_CATALOGUE("types");
  for (const char* name : {"types", "types-plain"}) {
    SCOPED_TRACE(name);
    OpenedQuery opened(dbtest::Catalogue(name), "SELECT * FROM Extremes ORDER BY ID");
    TADOQuery& q = opened.Q;
    ASSERT_EQ(q.RecordCount(), 5);
    EXPECT_EQ(q.FieldByName("Money")->DataType(), ftCurrency);
    const std::vector<std::pair<std::string, std::string>> want = {{"0100-01-01 00:00:00", "-922337203685477.5808"},
                                                                   {"9999-12-31 23:59:59", "922337203685477.5807"},
                                                                   {"1899-12-29 06:00:00", "123456789012.3456"},
                                                                   {"1753-01-01 12:30:15", "-0.0001"},
                                                                   {"4637-06-30 00:00:01", "0.0001"}};
    for (const auto& [moment, money] : want) {
      EXPECT_EQ(q.FieldByName("Moment")->AsString(), moment);
      EXPECT_EQ(q.FieldByName("Money")->AsString(), money);
      q.Next();
    }
    q.First();
    EXPECT_EQ(q.FieldByName("Name")->AsString(), "😀");
    EXPECT_EQ(q.FieldByName("Note")->AsString(), "😀 U+1F600");
    q.Next();
    EXPECT_EQ(q.FieldByName("Name")->AsString(), "𝄞 ключ");
    EXPECT_EQ(q.FieldByName("Note")->AsString(), "Нотен ключ 𝄞 и 😀 в бележка");
    q.Next();  // a memo over several long-value pages
    std::string chain;
    for (int i = 0; i < 600; ++i) chain += "😀 Ауспух ";
    EXPECT_EQ(q.FieldByName("Note")->AsString(), chain);
    EXPECT_DOUBLE_EQ(q.FieldByName("Money")->AsFloat(), 123456789012.3456);
    EXPECT_EQ(q.FieldByName("Money")->AsInteger(), static_cast<std::int32_t>(123456789012LL));
    // A filter compares the amount exactly.
    q.SetFilter("Money='123456789012.3456'");
    q.SetFiltered(true);
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("ID")->AsString(), "3");
    q.SetFilter("Money='123456789012.346'");
    EXPECT_EQ(q.RecordCount(), 0);
  }
}

// OLE objects come as their bytes; a table whose columns were deleted after its rows were
// written reads its remaining columns, and its indexes cover the columns they name.
TEST(JetImport, OleObjectsAndDeletedColumns) {
  TempDir dir;
  using jet4::TColumnType;
  const std::string tiny("\x01\x02\x00\xFF", 4);
  std::string page, chain;
  for (int i = 0; i < 1000; ++i) page += static_cast<char>(i * 7);
  for (int i = 0; i < 9000; ++i) chain += static_cast<char>(i % 251);
  jet4::TTable t{"Parts",
                 {{"ID", TColumnType::LongInteger},
                  {"Old", TColumnType::LongInteger, 0, jet4::TTextForm::Default, true},
                  {"Name", TColumnType::Text, 20},
                  {"OldName", TColumnType::Text, 20, jet4::TTextForm::Default, true},
                  {"Code", TColumnType::LongInteger},
                  {"Maker", TColumnType::Text, 20},
                  {"Drawing", TColumnType::Ole}},
                 {}};
  using I = std::int64_t;
  t.Rows.push_back({I{1}, I{100}, std::string("Гърне"), std::string("gone"), I{10}, std::string("KELV"), tiny});
  t.Rows.push_back({I{2}, I{200}, std::string("Тръба"), std::monostate{}, I{20}, std::string("BOSAL"), page});
  t.Rows.push_back({I{3}, std::monostate{}, std::monostate{}, std::string("x"), std::monostate{}, std::string(""), chain});
  t.Rows.push_back({I{4}, I{400}, std::string("Скоба"), std::string("y"), I{40}, std::monostate{}, std::monostate{}});
  t.Indexes = {{"ByCode", {"Code"}}, {"ByMaker", {"Maker", "ID"}}, {"PrimaryKey", {"ID"}, true}};
  jet4::TDatabase db;
  db.Tables.push_back(t);
  jet4::SaveDatabase(db, (dir / "parts.mdb").string());

  OpenedQuery opened(dir / "parts.mdb", "SELECT * FROM Parts");
  TADOQuery& q = opened.Q;
  ASSERT_EQ(q.FieldCount(), 5);
  EXPECT_EQ(q.Fields()[2]->FieldName(), "Code");
  EXPECT_EQ(q.FieldByName("Drawing")->DataType(), ftBlob);
  const std::vector<std::string> names = {"Гърне", "Тръба", "", "Скоба"}, makers = {"KELV", "BOSAL", "", ""};
  const std::vector<std::string> drawings = {tiny, page, chain, ""};
  for (std::size_t r = 0; r < 4; ++r, q.Next()) {
    SCOPED_TRACE(r);
    EXPECT_EQ(q.FieldByName("ID")->AsInteger(), static_cast<int>(r + 1));
    EXPECT_EQ(q.FieldByName("Name")->AsString(), names[r]);
    EXPECT_EQ(q.FieldByName("Code")->AsString(), r == 2 ? "" : std::to_string((r + 1) * 10));
    EXPECT_EQ(q.FieldByName("Maker")->AsString(), makers[r]);
    EXPECT_EQ(q.FieldByName("Maker")->IsNull(), r == 3);
    EXPECT_EQ(q.FieldByName("Drawing")->AsString(), drawings[r]);
    EXPECT_EQ(q.FieldByName("Drawing")->IsNull(), r == 3);
  }
  std::vector<std::string> indexed;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(opened.Conn.Handle(),
                     "SELECT group_concat(i.name, ',') FROM sqlite_master AS m, pragma_index_info(m.name) AS i "
                     "WHERE m.type = 'index' GROUP BY m.name ORDER BY m.name",
                     -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) indexed.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  EXPECT_EQ(indexed, (std::vector<std::string>{"Code", "Maker,ID", "ID"}));
  if (testsupport::HaveProgram("mdb-export")) ExpectSameAsMdbExport(dir / "parts.mdb");
}

TEST(JetImport, FileIsFoundWithWindowsSeparatorsAndAnyCase) {
  SKIP_WITHOUT_CATALOGUE("edge");
  TempDir dir;
  fs::create_directories(dir.path() / "DB");
  fs::copy_file(dbtest::Catalogue("edge"), dir.path() / "DB" / "KELV.M$$");
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(dir.path().string() + "\\db\\kelv.m$$"));
  EXPECT_NO_THROW(conn.Open());
  EXPECT_TRUE(conn.Connected());
}

// ---------------------------------------------------------------------------------------------
// Files that cannot be opened

namespace {

std::string OpenError(const fs::path& p, const kelvdb::ImportOptions& o = {}) {
  try {
    sqlite3* db = kelvdb::ImportJetFile(p.string(), o);
    sqlite3_close(db);
    return {};
  } catch (const Exception& e) {
    return e.Message();
  }
}

constexpr std::size_t kPage = 4096;

// A valid Jet 4.0 file: the catalogue with the awkward cases, as our writer makes it.
std::vector<unsigned char> Sample() { return testsupport::ReadFile(dbtest::Catalogue("edge")); }

struct SampleFile {
  std::string Name;
  std::vector<unsigned char> Data;
};

// Valid files to damage: our writer's catalogues (one with two unused pages at its end, as
// files have after rows were deleted) and, when the shared test data is there, a file of the
// desktop product with its indexes and property blocks.
std::vector<SampleFile> SamplesToDamage(bool UnusedPages) {
  std::vector<SampleFile> out;
  out.push_back({"edge", Sample()});
  if (UnusedPages) out.back().Data.resize(out.back().Data.size() + 2 * kPage);
  out.push_back({"types", testsupport::ReadFile(dbtest::Catalogue("types"))});
  if (!testsupport::TestDataDir().empty())
    out.push_back({"indexTestV2000", testsupport::ReadFile(testsupport::TestDataDir() / "jet4" / "indexTestV2000.mdb")});
  return out;
}

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// Every table of the imported file as text ("" when it cannot be opened).
std::string Dump(const fs::path& p) {
  sqlite3* db = nullptr;
  try {
    db = kelvdb::ImportJetFile(p.string());
  } catch (const Exception&) {
    return {};
  }
  std::string out;
  sqlite3_stmt* tables = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &tables, nullptr);
  while (sqlite3_step(tables) == SQLITE_ROW) {
    const std::string name = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
    out += "table " + name + "\n";
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(db, ("SELECT * FROM \"" + name + "\"").c_str(), -1, &rows, nullptr);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      for (int i = 0; i < sqlite3_column_count(rows); ++i) {
        const auto* t = sqlite3_column_text(rows, i);
        out += t ? std::string(reinterpret_cast<const char*>(t)) : std::string("<null>");
        out += '|';
      }
      out += '\n';
    }
    sqlite3_finalize(rows);
  }
  sqlite3_finalize(tables);
  sqlite3_close(db);
  return out;
}

}  // namespace

TEST(JetImportErrors, MissingEmptyAndForeignFilesSayWhy) {
  TempDir dir;
  EXPECT_EQ(OpenError(dir / "none.mdb"), "Could not find file '" + (dir / "none.mdb").string() + "'.");
  testsupport::WriteFile(dir / "empty.mdb", {});
  EXPECT_TRUE(Contains(OpenError(dir / "empty.mdb"), "the file is empty")) << OpenError(dir / "empty.mdb");
  std::mt19937 rng(7);
  std::vector<unsigned char> noise(3 * 4096);
  for (auto& b : noise) b = static_cast<unsigned char>(rng());
  testsupport::WriteFile(dir / "noise.mdb", noise);
  EXPECT_TRUE(Contains(OpenError(dir / "noise.mdb"), "not a Jet database file"));
  testsupport::WriteFile(dir / "text.mdb", {'h', 'e', 'l', 'l', 'o'});
  EXPECT_TRUE(Contains(OpenError(dir / "text.mdb"), "not a Jet database file"));
  EXPECT_TRUE(Contains(OpenError(dir.path()), "not a file"));
}

TEST(JetImportErrors, OtherJetVersionsAreNamed) {
  SKIP_WITHOUT_CATALOGUE("edge");
  TempDir dir;
  auto data = Sample();
  ASSERT_EQ(data[0x14], 1);
  data[0x14] = 0;
  testsupport::WriteFile(dir / "jet3.mdb", data);
  EXPECT_TRUE(Contains(OpenError(dir / "jet3.mdb"), "Jet 3"));
  data[0x14] = 2;
  testsupport::WriteFile(dir / "jet5.mdb", data);
  EXPECT_TRUE(Contains(OpenError(dir / "jet5.mdb"), "later format"));
  data[0x14] = 1;
  std::copy_n("Standard ACE DB", 15, data.begin() + 4);
  testsupport::WriteFile(dir / "ace.mdb", data);
  EXPECT_TRUE(Contains(OpenError(dir / "ace.mdb"), "later format"));
}

TEST(JetImportErrors, UnreadableFile) {
  SKIP_WITHOUT_CATALOGUE("edge");
  TempDir dir;
  // A folder of that name is refused as such (for root too).
  fs::create_directory(dir / "folder.mdb");
  const std::string folder = OpenError(dir / "folder.mdb");
  EXPECT_TRUE(Contains(folder, "it is not a file")) << folder;
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  testsupport::WriteFile(dir / "locked.mdb", Sample());
  ::chmod((dir / "locked.mdb").c_str(), 0);
  EXPECT_TRUE(Contains(OpenError(dir / "locked.mdb"), "cannot be read"));
}

TEST(JetImportErrors, TruncatedFilesAreRefusedUnlessNothingIsLost) {
  SKIP_WITHOUT_CATALOGUE("types");
  TempDir dir;
  for (const SampleFile& sample : SamplesToDamage(true)) {
    SCOPED_TRACE(sample.Name);
    const auto& data = sample.Data;
    testsupport::WriteFile(dir / "whole.mdb", data);
    const std::string whole = Dump(dir / "whole.mdb");
    ASSERT_FALSE(whole.empty());
    int kept = 0;
    for (std::size_t cut : {std::size_t{0x10}, std::size_t{0x30}, std::size_t{4095}, std::size_t{4096},
                            std::size_t{8192}, std::size_t{3 * 4096}, std::size_t{6 * 4096}, std::size_t{10000},
                            data.size() / 2, data.size() / 2 + 4096 - data.size() / 2 % 4096, data.size() - 8192,
                            data.size() - 4096, data.size() - 1}) {
      SCOPED_TRACE(cut);
      testsupport::WriteFile(dir / "cut.mdb", {data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)});
      const std::string e = OpenError(dir / "cut.mdb");
      if (cut % 4096 != 0 || cut < 3 * 4096) {
        EXPECT_TRUE(Contains(e, "Cannot open the database")) << e;
      } else if (e.empty()) {
        // Only pages that nothing uses were cut off.
        EXPECT_EQ(Dump(dir / "cut.mdb"), whole);
        ++kept;
      } else {
        EXPECT_TRUE(Contains(e, "is damaged")) << e;
      }
    }
    // The two unused pages at the end of the first go without loss.
    if (sample.Name == "edge") {
      EXPECT_EQ(kept, 2);
    }
  }
  EXPECT_EQ(kelvdb::ReaderSanitizerReports(), 0);
}

TEST(JetImportErrors, FlippedBytesNeverHangOrCrash) {
  SKIP_WITHOUT_CATALOGUE("types");
  TempDir dir;
  std::mt19937 rng(12345);
  kelvdb::ImportOptions limits;  // a reader that loops is stopped after little processor time
  limits.CpuSeconds = 3;
  limits.StallCpuSeconds = 1;
  for (const SampleFile& sample : SamplesToDamage(false)) {
    const auto& data = sample.Data;
    int failures = 0;
    const int runs = 150;
    for (int run = 0; run < runs; ++run) {
      auto copy = data;
      const int flips = 1 + static_cast<int>(rng() % 8);
      // Most flips land in the pages that hold the catalogue, definitions and rows.
      const std::size_t span = run % 3 == 0 ? copy.size() : std::min<std::size_t>(copy.size(), 80 * 4096);
      for (int k = 0; k < flips; ++k) copy[rng() % span] ^= static_cast<unsigned char>(1u << (rng() % 8));
      testsupport::WriteFile(dir / "flip.mdb", copy);
      const std::string e = OpenError(dir / "flip.mdb", limits);
      if (!e.empty()) {
        ++failures;
        EXPECT_TRUE(Contains(e, "Cannot open the database")) << e;
      }
    }
    std::printf("flipped files of %s refused: %d of %d\n", sample.Name.c_str(), failures, runs);
  }
  // A refusal is fine; a memory error of the reader on the way is not (sanitizer builds).
  EXPECT_EQ(kelvdb::ReaderSanitizerReports(), 0);
}

namespace {

void Spin() {
  for (;;) asm volatile("" ::: "memory");
}
void Wait() {
  for (;;) ::pause();
}

}  // namespace

// The reader is limited by the processor time it uses, in all and without progress, never by
// the clock; one that waits without using any (stuck on a lock, say) is ended too.
TEST(JetImportErrors, TheReadersProcessorTimeIsLimited) {
  SKIP_WITHOUT_CATALOGUE("edge");
  const fs::path file = dbtest::Catalogue("edge");
  const std::string prefix = "Cannot open the database '" + file.string() + "': ";
  kelvdb::ImportOptions o;
  o.InReader = Spin;
  o.CpuSeconds = 0.3;
  o.StallCpuSeconds = 1000;
  EXPECT_EQ(OpenError(file, o), prefix + "reading it took more than 0.3 seconds of processor time; the file may be damaged.");
  o.CpuSeconds = 1000;
  o.StallCpuSeconds = 0.3;
  EXPECT_EQ(OpenError(file, o), prefix + "the file is damaged (its reader made no progress in 0.3 seconds of processor time).");
  o.InReader = Wait;
  o.StuckSeconds = 1;
  EXPECT_EQ(OpenError(file, o), prefix + "its reader stopped responding (it used no processor time for 1 seconds).");
  EXPECT_EQ(OpenError(file), "");  // and the next reader starts afresh
}

TEST(JetImportErrors, TheSizeLimitStopsTheReader) {
  SKIP_WITHOUT_CATALOGUE("edge");
  kelvdb::ImportOptions o;
  o.MaxDatabaseBytes = 8192;
  try {
    sqlite3_close(kelvdb::ImportJetFile(dbtest::Catalogue("edge").string(), o));
    FAIL();
  } catch (const Exception& e) {
    EXPECT_TRUE(Contains(e.Message(), "holds more data than allowed")) << e.Message();
  }
}

// A piece of a long memo's chain of long-value pages links back to itself, or shrinks to its
// 4-byte link alone: libmdb would follow either round in circles; the reader sees it and stops.
TEST(JetImportErrors, ALongValueWhosePagesGoRoundIsRefused) {
  SKIP_WITHOUT_CATALOGUE("types");
  TempDir dir;
  const auto data = testsupport::ReadFile(dbtest::Catalogue("types"));
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(data[at] | data[at + 1] << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  auto isLongValuePage = [&](std::size_t page) {
    const std::size_t at = page * kPage;
    return at + kPage <= data.size() && data[at] == 1 && std::equal(data.begin() + at + 4, data.begin() + at + 8, "LVAL");
  };
  std::size_t piece = 0;
  for (std::size_t page = 1; page * kPage < data.size() && !piece; ++page) {
    const std::size_t at = page * kPage;
    if (!isLongValuePage(page) || u16(at + 12) != 1) continue;
    const unsigned next = u32(at + (u16(at + 14) & 0x1fff));
    if (next != 0 && (next & 0xff) == 0 && isLongValuePage(next >> 8)) piece = page;
  }
  ASSERT_NE(piece, 0u) << "no chain of long-value pages in the types catalogue";
  const std::size_t at = piece * kPage;
  auto refusal = [&](bool Shrink) {
    auto copy = data;
    std::size_t link = at + (u16(at + 14) & 0x1fff);
    if (Shrink) {
      link = at + kPage - 4;
      copy[at + 14] = static_cast<unsigned char>((kPage - 4) & 0xff);
      copy[at + 15] = static_cast<unsigned char>((kPage - 4) >> 8);
    }
    for (int i = 0; i < 4; ++i) copy[link + i] = static_cast<unsigned char>((piece << 8) >> (8 * i));
    testsupport::WriteFile(dir / "loop.mdb", copy);
    return OpenError(dir / "loop.mdb");
  };
  EXPECT_TRUE(Contains(refusal(false), "the file is damaged (table \"Types\": a long value's pages go round in a circle)"))
      << refusal(false);
  EXPECT_TRUE(Contains(refusal(true), "the file is damaged (table \"Types\": a long value's piece is empty)"))
      << refusal(true);
}

// libmdb passes over a data page that names another table as its owner without a word: the
// table's own row count shows the rows missing.
TEST(JetImportErrors, MissingRowsAreFoundByTheRowCount) {
  TempDir dir;
  jet4::TTable many{"Many", {{"ID", jet4::TColumnType::LongInteger}, {"Name", jet4::TColumnType::Text, 50}}, {}};
  for (std::int64_t i = 0; i < 600; ++i) many.Rows.push_back({i, "Ред " + std::to_string(i) + " на таблицата"});
  jet4::TTable other{"Other", {{"ID", jet4::TColumnType::LongInteger}}, {{std::int64_t{1}}}};
  jet4::TDatabase db;
  db.Tables = {many, other};
  auto data = jet4::WriteDatabase(db);
  testsupport::WriteFile(dir / "whole.mdb", {data.begin(), data.end()});
  ASSERT_EQ(OpenError(dir / "whole.mdb"), "");
  // The data pages of each table, by the definition page they name.
  std::map<unsigned, std::vector<std::size_t>> pages;
  for (std::size_t page = 3; (page + 1) * kPage <= data.size(); ++page) {
    const std::size_t at = page * kPage;
    if (data[at] != 0x01 || std::equal(data.begin() + at + 4, data.begin() + at + 8, "LVAL")) continue;
    pages[data[at + 4] | data[at + 5] << 8 | data[at + 6] << 16 | static_cast<unsigned>(data[at + 7]) << 24].push_back(page);
  }
  const auto manyPages = std::max_element(pages.begin(), pages.end(), [](const auto& a, const auto& b) {
    return a.second.size() < b.second.size();
  });
  ASSERT_GE(manyPages->second.size(), 3u);
  const std::size_t moved = manyPages->second[1] * kPage;
  const unsigned rowsOnIt = data[moved + 12] | data[moved + 13] << 8;
  const unsigned otherDef = std::prev(pages.end())->first;
  ASSERT_NE(otherDef, manyPages->first);
  for (int i = 0; i < 4; ++i) data[moved + 4 + i] = static_cast<unsigned char>(otherDef >> (8 * i));
  testsupport::WriteFile(dir / "lost.mdb", {data.begin(), data.end()});
  EXPECT_TRUE(Contains(OpenError(dir / "lost.mdb"),
                       ("table \"Many\" holds " + std::to_string(600 - rowsOnIt) + " readable rows of 600").c_str()))
      << OpenError(dir / "lost.mdb");
}

// Anything at the database path that is not a regular file is refused before it is opened: a
// named pipe would block the opening, a device the reading.
TEST(JetImportErrors, SpecialFilesAreRefusedBeforeOpening) {
  TempDir dir;
  auto refused = [](const fs::path& p, const std::string& kind) {
    return "Cannot open the database '" + p.string() + "': it is not a file (" + kind + ").";
  };
  ASSERT_EQ(::mkfifo((dir / "pipe.mdb").c_str(), 0600), 0);
  EXPECT_EQ(OpenError(dir / "pipe.mdb"), refused(dir / "pipe.mdb", "a named pipe"));
  EXPECT_EQ(OpenError("/dev/zero"), refused("/dev/zero", "a character device"));
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir / "socket.mdb").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(OpenError(dir / "socket.mdb"), refused(dir / "socket.mdb", "a socket"));
  ::close(sock);
  // As the program opens it: the pipe in place of DB\kelv.m$$.
  fs::create_directories(dir / "DB");
  ASSERT_EQ(::mkfifo((dir / "DB" / "kelv.m$$").c_str(), 0600), 0);
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(dir.path().string() + "\\DB\\kelv.m$$"));
  try {
    conn.Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_TRUE(Contains(e.Message(), "it is not a file (a named pipe)")) << e.Message();
  }
}

TEST(JetImportErrors, ConnectionRaisesTheOrdinaryErrorClass) {
  TempDir dir;
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(dir / "DB" / "kelv.m$$"));
  EXPECT_THROW(conn.Open(), Exception);
  EXPECT_FALSE(conn.Connected());
  conn.SetConnectionString("Provider=SQLOLEDB;Data Source=x");
  EXPECT_THROW(conn.Open(), Exception);
  conn.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"unterminated");
  EXPECT_THROW(conn.Open(), Exception);
}
