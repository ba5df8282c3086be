// The import of Jet 4.0 files: real files against mdb-export, and files that are not fit to open.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>

#include "platform/db/ADODB.h"
#include "platform/db/JetImport.h"
#include "support/TestSupport.h"
#include "tests/platform/db/DbTestSupport.h"
#include "tools/jet4/Jet4Writer.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

std::vector<fs::path> RealJetFiles() {
  std::vector<fs::path> files;
  const fs::path dir = testsupport::TestDataDir() / "jet4";
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.path().extension() == ".mdb") files.push_back(e.path());
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

// Every table of File read through a query equals what mdb-export prints.
void ExpectSameAsMdbExport(const fs::path& file) {
  SCOPED_TRACE(file.filename().string());
  TADOConnection conn(nullptr);
  conn.SetConnectionString(ConnectionString(file));
  ASSERT_NO_THROW(conn.Open());
  const auto tables = Tables(file);
  for (const std::string& table : tables) {
    SCOPED_TRACE(table);
    std::string csv;
    ASSERT_EQ(testsupport::RunCommand("mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' '" + file.string() +
                                          "' '" + table + "'",
                                      &csv),
              0);
    const auto rows = ParseCsv(csv);
    ASSERT_FALSE(rows.empty());
    TADOQuery q(nullptr);
    q.SetConnection(&conn);
    q.SQL()->Add("SELECT * FROM [" + table + "]");
    q.Open();
    ASSERT_EQ(q.FieldCount(), static_cast<int>(rows[0].size()));
    for (int i = 0; i < q.FieldCount(); ++i) EXPECT_EQ(q.Fields()[i]->FieldName(), rows[0][static_cast<std::size_t>(i)].Text);
    ASSERT_EQ(q.RecordCount(), static_cast<int>(rows.size()) - 1);
    for (std::size_t r = 1; r < rows.size(); ++r, q.Next()) {
      ASSERT_EQ(rows[r].size(), static_cast<std::size_t>(q.FieldCount()));
      for (int i = 0; i < q.FieldCount(); ++i) {
        const CsvField& want = rows[r][static_cast<std::size_t>(i)];
        TField* f = q.Fields()[i];
        SCOPED_TRACE(f->FieldName() + " row " + std::to_string(r));
        if (want.Empty) {  // mdb-export prints empty text like null
          const bool text = f->DataType() == ftWideString || f->DataType() == ftMemo;
          EXPECT_TRUE(f->IsNull() || (text && f->AsString().empty()));
        } else if (want.Quoted) {
          EXPECT_FALSE(f->IsNull());
          EXPECT_EQ(f->AsString(), want.Text);
        } else if (f->DataType() == ftBoolean) {
          EXPECT_EQ(f->AsInteger(), std::atoi(want.Text.c_str()));
        } else {
          const double w = std::strtod(want.Text.c_str(), nullptr);
          EXPECT_NEAR(f->AsFloat(), w, 1e-9 * std::max(1.0, std::fabs(w)));
        }
      }
    }
  }
}

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

std::string OpenError(const fs::path& p, double timeout = 0) {
  try {
    kelvdb::ImportOptions o;
    o.TimeoutSeconds = timeout;
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
      const auto t0 = std::chrono::steady_clock::now();
      const std::string e = OpenError(dir / "flip.mdb", 3);
      const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      EXPECT_LT(secs, 3 + 10.0) << sample.Name << " run " << run;  // stopped, not hung
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

TEST(JetImportErrors, TheTimeLimitStopsTheReader) {
  SKIP_WITHOUT_CATALOGUE("edge");
  const fs::path file = dbtest::Catalogue("edge");
  const auto t0 = std::chrono::steady_clock::now();
  const std::string e = OpenError(file, 0.001);
  EXPECT_TRUE(Contains(e, "reading it took longer than 0.001 seconds; the file may be damaged")) << e;
  // Stopped, not hung.
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
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

TEST(JetImportErrors, AFileThatMakesTheReaderLoopEndsInAnError) {
  SKIP_WITHOUT_CATALOGUE("types");
  TempDir dir;
  auto data = testsupport::ReadFile(dbtest::Catalogue("types"));
  // A piece of a long memo's chain of long-value pages shrinks to its 4-byte link, pointing to
  // itself: libmdb follows it round in circles, gaining nothing.
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
  const std::size_t link = at + kPage - 4;
  data[at + 14] = static_cast<unsigned char>((kPage - 4) & 0xff);
  data[at + 15] = static_cast<unsigned char>((kPage - 4) >> 8);
  for (int i = 0; i < 4; ++i) data[link + i] = static_cast<unsigned char>((piece << 8) >> (8 * i));
  testsupport::WriteFile(dir / "loop.mdb", data);
  TADOConnection conn(nullptr);
  conn.SetConnectionTimeout(1);
  conn.SetConnectionString(ConnectionString(dir / "loop.mdb"));
  const auto t0 = std::chrono::steady_clock::now();
  try {
    conn.Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_TRUE(Contains(e.Message(), "took longer than 1 seconds") || Contains(e.Message(), "is damaged"))
        << e.Message();
  }
  // Stopped, not hung.
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 1 + 10.0);
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
