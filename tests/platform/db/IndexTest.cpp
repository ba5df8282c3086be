// Indexes made on import and as queries need them: they change speed, never results.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

#include "platform/db/ADODB.h"
#include "tests/platform/db/DbTestSupport.h"
#include "tools/jet4/Jet4Writer.h"

namespace fs = std::filesystem;

namespace {

// Parent (2,000 rows, IDs rising) and Child (6,000 rows, IDs falling), written as a Jet file.
fs::path WriteFamily(const testsupport::TempDir& Dir) {
  jet4::TDatabase db;
  jet4::TTable parent{"Parent", {{"ID", jet4::TColumnType::AutoNumber}, {"Name", jet4::TColumnType::Text, 50}}, {}};
  jet4::TTable child{"Child",
                     {{"ID", jet4::TColumnType::AutoNumber},
                      {"Parent_ID", jet4::TColumnType::LongInteger},
                      {"Name", jet4::TColumnType::Text, 50}},
                     {}};
  for (std::int64_t i = 1; i <= 2000; ++i) parent.Rows.push_back({i, "Родител " + std::to_string(i)});
  for (std::int64_t i = 6000; i >= 1; --i)
    child.Rows.push_back({i, std::int64_t{i % 2000 + 1}, (i % 2 ? "дете " : "Дете ") + std::to_string(i % 7)});
  db.Tables = {parent, child};
  const fs::path file = Dir / "family.mdb";
  jet4::SaveDatabase(db, file.string());
  return file;
}

std::vector<std::string> Rows(TADOQuery& Q) {
  std::vector<std::string> out;
  for (Q.First(); !Q.Eof(); Q.Next()) {
    std::string row;
    for (int i = 0; i < Q.FieldCount(); ++i) row += Q.Fields()[i]->AsString() + "|";
    out.push_back(row);
  }
  return out;
}

std::vector<std::string> Indexes(sqlite3* Db) {
  std::vector<std::string> out;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(Db, "SELECT tbl_name || '(' || name || ')' FROM sqlite_master WHERE type = 'index' ORDER BY 1",
                     -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  return out;
}

}  // namespace

TEST(Indexes, AutoNumbersKeepTheFileOrder) {
  testsupport::TempDir dir;
  TADOConnection conn(nullptr);
  conn.SetConnectionString(dbtest::ConnectionString(WriteFamily(dir)));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT * FROM Child");
  q.Open();
  EXPECT_EQ(q.FieldByName("ID")->AsString(), "6000");  // falling numbers: the file's order stays
  EXPECT_EQ(q.FieldByName("ID")->DataType(), ftAutoInc);
  q.Close();
  q.SQL()->SetText("SELECT * FROM Parent");
  q.Open();
  EXPECT_EQ(q.FieldByName("ID")->AsString(), "1");
  EXPECT_EQ(q.FieldByName("ID")->DataType(), ftAutoInc);
  q.Last();
  EXPECT_EQ(q.FieldByName("Name")->AsString(), "Родител 2000");
  // Rising numbers are the row numbers themselves; falling ones get an index.
  EXPECT_EQ(Indexes(conn.Handle()), (std::vector<std::string>{"Child(kelv_index_1_0)"}));
}

TEST(Indexes, QueriesGetTheIndexesTheyNeedAndTheSameRows) {
  testsupport::TempDir dir;
  const fs::path file = WriteFamily(dir);
  const char* sqls[] = {
      "SELECT ID, Name FROM Child WHERE Parent_ID=:P ORDER BY Name, ID",
      "SELECT Parent.Name, Child.ID FROM Parent INNER JOIN Child ON Parent.ID = Child.Parent_ID "
      "WHERE Parent.Name=:P ORDER BY Child.ID",
  };
  const char* values[][3] = {{"17", "2000", "5"}, {"Родител 17", "родител 2000", "none"}};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(sqls[k]);
    // Reference: a database where no index can be made (the query's own statement only).
    TADOConnection conn(nullptr);
    conn.SetConnectionString(dbtest::ConnectionString(file));
    TADOQuery q(nullptr);
    q.SetConnection(&conn);
    q.SQL()->SetText(sqls[k]);
    std::vector<std::vector<std::string>> first, again;
    for (const char* v : values[k]) {
      q.Close();
      q.Parameters().ParamByName("p")->SetValue(v);
      q.Open();
      first.push_back(Rows(q));
    }
    const auto made = Indexes(conn.Handle());
    EXPECT_GT(made.size(), 1u);
    for (const char* v : values[k]) {
      q.Close();
      q.Parameters().ParamByName("p")->SetValue(v);
      q.Open();
      again.push_back(Rows(q));
    }
    EXPECT_EQ(first, again);
    EXPECT_EQ(first[0].size(), 3u);
    EXPECT_EQ(first[2].size(), k == 0 ? 3u : 0u);
  }
}

TEST(Indexes, FilteredColumnsGetAnIndexAndMatchWithoutRegardToCase) {
  testsupport::TempDir dir;
  TADOConnection conn(nullptr);
  conn.SetConnectionString(dbtest::ConnectionString(WriteFamily(dir)));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT Child.ID, Child.Name, Parent.Name FROM Child INNER JOIN Parent ON Child.Parent_ID = Parent.ID");
  q.SetFilter("Child.Name='ДЕТЕ 3'");
  q.SetFiltered(true);
  q.Open();
  EXPECT_EQ(q.RecordCount(), 857);  // i % 7 == 3 for 857 of 1..6000; both spellings
  const auto made = Indexes(conn.Handle());
  EXPECT_NE(std::find(made.begin(), made.end(), "Child(kelv_query_0)"), made.end());
}
