// Queries, cursor, fields, parameters, filters and data sources on the edge-case test catalogue.
#include <gtest/gtest.h>

#include <memory>

#include "platform/db/ADODB.h"
#include "tests/platform/db/DbTestSupport.h"

namespace {

class EdgeCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_CATALOGUE("edge");
    conn = std::make_unique<TADOConnection>(nullptr);
    conn->SetConnectionString(dbtest::ConnectionString(dbtest::Catalogue("edge")));
    conn->Open();
  }

  std::unique_ptr<TADOQuery> Query(const std::string& Sql) {
    auto q = std::make_unique<TADOQuery>(nullptr);
    q->SetName("qryTest");
    q->SetConnection(conn.get());
    q->SQL()->SetText(Sql);
    q->AfterScroll = [this](TDataSet*) { ++scrolls; };
    return q;
  }

  static std::vector<std::string> Column(TADOQuery& Q, const std::string& Field) {
    std::vector<std::string> out;
    for (Q.First(); !Q.Eof(); Q.Next()) out.push_back(Q.FieldByName(Field)->AsString());
    return out;
  }

  static std::vector<std::string> FieldNames(TADOQuery& Q) {
    std::vector<std::string> out;
    for (int i = 0; i < Q.FieldCount(); ++i) out.push_back(Q.Fields()[i]->FieldName());
    return out;
  }

  std::unique_ptr<TADOConnection> conn;
  int scrolls = 0;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(EdgeCatalogue, CursorMovesAndRaisesAfterScrollOnEveryMove) {
  auto q = Query("SELECT * FROM Brands");
  q->Open();
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(q->RecordCount(), 4);
  EXPECT_EQ(q->RecNo(), 1);
  EXPECT_TRUE(q->Bof());
  EXPECT_FALSE(q->Eof());
  q->Next();
  q->Next();
  q->Next();
  EXPECT_EQ(q->RecNo(), 4);
  EXPECT_FALSE(q->Eof());
  EXPECT_EQ(q->MoveBy(1), 0);  // past the end: stays, Eof
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->RecNo(), 4);
  q->Prior();
  EXPECT_FALSE(q->Eof());
  EXPECT_EQ(q->RecNo(), 3);
  EXPECT_EQ(q->MoveBy(-10), -2);
  EXPECT_TRUE(q->Bof());
  q->Last();
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(q->FieldByName("Name")->AsString(), "Празна марка");
  q->First();
  EXPECT_TRUE(q->Bof());
  q->SetRecNo(3);
  EXPECT_EQ(q->FieldByName("ID")->AsString(), "123456");
  EXPECT_EQ(scrolls, 1 + 3 + 1 + 1 + 1 + 1 + 1 + 1);
}

TEST_F(EdgeCatalogue, EmptyResultAndClosedDataset) {
  auto q = Query("SELECT ID, Name FROM Models WHERE Brand_ID = 4");
  EXPECT_TRUE(q->Eof());
  EXPECT_THROW(q->RecordCount(), Exception);
  EXPECT_THROW(q->Next(), Exception);
  q->Open();
  EXPECT_EQ(scrolls, 1);
  EXPECT_TRUE(q->Bof());
  EXPECT_TRUE(q->Eof());
  EXPECT_TRUE(q->IsEmpty());
  EXPECT_EQ(q->RecNo(), 0);
  EXPECT_TRUE(q->FieldByName("Name")->IsNull());
  EXPECT_EQ(q->FieldByName("Name")->AsString(), "");
  q->Next();
  EXPECT_TRUE(q->Eof());
  EXPECT_EQ(scrolls, 2);
  TField* f = q->FieldByName("Name");
  q->Close();
  EXPECT_EQ(q->FieldCount(), 0);  // fields made by opening go with closing
  (void)f;
  EXPECT_THROW(q->RecNo(), Exception);
}

TEST_F(EdgeCatalogue, FieldsAreFoundWithoutRegardToCase) {
  auto q = Query("SELECT * FROM Auto WHERE ID = 6");
  q->Open();
  EXPECT_TRUE(q->FieldByName("Sedan") == q->FieldByName("sedan"));
  EXPECT_TRUE(q->FieldByName("COUPE")->AsBoolean());
  EXPECT_EQ(q->FieldByName("picture")->AsString(), "");
  EXPECT_FALSE(q->FieldByName("picture")->IsNull());  // empty text, not null
  EXPECT_EQ(q->FindField("nothing"), nullptr);
  try {
    q->FieldByName("Nothing");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "qryTest: Field 'Nothing' not found");
  }
}

TEST_F(EdgeCatalogue, JoinedColumnsAreNamedAsTheAccessLayerNamesThem) {
  auto q = Query("SELECT * FROM Models INNER JOIN Brands ON Models.Brand_ID = Brands.ID WHERE Models.ID = 7");
  q->Open();
  EXPECT_EQ(FieldNames(*q), (Strings{"Models.ID", "Models.Name", "Brand_ID", "Brands.ID", "Brands.Name"}));
  EXPECT_EQ(q->FieldByName("models.name")->AsString(), "Нива");
  EXPECT_EQ(q->FieldByName("Brands.Name")->AsString(), "Lada/VAZ");

  auto names = Query(
      "SELECT Brands.Name,Models.Name,Engines.Def FROM Brands,Models,Engines WHERE Brands.ID=123456 AND "
      "Models.ID=654321 AND Engines.ID=1234567");
  names->Open();
  EXPECT_EQ(FieldNames(*names), (Strings{"Brands.Name", "Models.Name", "Def"}));
  EXPECT_EQ(names->FieldByName("Def")->AsString(), "1.9 TDI");
  EXPECT_EQ(names->FieldByName("Brands.Name")->AsString(), "Škoda");
}

TEST_F(EdgeCatalogue, TextIsOrderedAndComparedWithoutRegardToCase) {
  auto q = Query("SELECT ID,Name FROM Models\r\nORDER by Name ;");
  q->Open();
  EXPECT_EQ(Column(*q, "Name"), (Strings{"Escort", "fiesta", "Focus", "Octavia", "Samara", "амулет", "Ка", "Нива"}));
  auto fuels = Query("SELECT ID FROM Fuels WHERE Def = 'дИЗЕЛ'");
  fuels->Open();
  EXPECT_EQ(Column(*fuels, "ID"), (Strings{"2"}));
  auto engines = Query("SELECT Def FROM Engines WHERE Model_ID = 4 ORDER BY Def DESC");
  engines->Open();
  EXPECT_EQ(Column(*engines, "Def"), (Strings{"Ж 1.3", "ж 1.1"}));
}

TEST_F(EdgeCatalogue, ParametersAreTextAndFoundWithoutRegardToCase) {
  auto q = Query("SELECT ID,Name FROM Models\r\n  WHERE Brand_ID=:BrandID\r\nORDER by Name ;");
  ASSERT_EQ(q->Parameters().Count(), 1);
  EXPECT_THROW(q->Open(), Exception);  // no value yet
  q->Parameters().ParamByName("brandid")->SetValue("123456");
  q->Open();
  EXPECT_EQ(Column(*q, "Name"), (Strings{"Octavia"}));
  q->Close();
  q->Parameters().ParamByName("BrandID")->Clear();
  q->Open();
  EXPECT_EQ(q->RecordCount(), 0);  // null matches nothing
  EXPECT_THROW(q->Parameters().ParamByName("Nope"), Exception);
  q->SQL()->SetText("SELECT * FROM Models WHERE Brand_ID=:BRANDID OR ID=:Other");
  EXPECT_FALSE(q->Active());  // changing the text closes the query
  ASSERT_EQ(q->Parameters().Count(), 2);
  EXPECT_TRUE(q->Parameters().Items(0)->IsNull());  // kept across the change
  q->Parameters().ParamByName("BrandID")->SetValue("2");
  q->Parameters().ParamByName("Other")->SetValue("1");
  q->Open();
  EXPECT_EQ(q->RecordCount(), 3);
}

TEST_F(EdgeCatalogue, FiltersNarrowReapplyAndLift) {
  auto q = Query("SELECT ID,Name,Brand_ID FROM Models ORDER BY Name");
  q->Open();
  scrolls = 0;
  q->SetFilter("Name='FIESTA'");  // not filtered yet: nothing happens
  EXPECT_EQ(q->RecordCount(), 8);
  EXPECT_EQ(scrolls, 0);
  TField* name = q->FieldByName("Name");
  q->SetFiltered(true);
  EXPECT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(q->FieldByName("ID")->AsString(), "2");
  EXPECT_EQ(q->FieldByName("Name"), name);  // filtering keeps the fields
  EXPECT_EQ(name->AsString(), "fiesta");
  EXPECT_EQ(scrolls, 1);
  q->SetFilter("Name='нива'");
  EXPECT_EQ(Column(*q, "ID"), (Strings{"7"}));
  q->SetFiltered(false);
  EXPECT_EQ(q->RecordCount(), 8);
  EXPECT_EQ(q->RecNo(), 1);
  q->Close();
  q->SetFilter("Brand_ID='1'");
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ(q->RecordCount(), 5);
}

TEST_F(EdgeCatalogue, FilterValuesWithQuotes) {
  auto q = Query("SELECT * FROM Fuels");
  q->SetFilter("Def='Бензин ''Супер'''");
  q->SetFiltered(true);
  q->Open();
  EXPECT_EQ(Column(*q, "ID"), (Strings{"3"}));
  q->SetFilter("Def='Газ \"CNG\"'");
  EXPECT_EQ(Column(*q, "ID"), (Strings{"4"}));
  q->SetFilter("Def='Бензин'");
  EXPECT_EQ(Column(*q, "ID"), (Strings{"1"}));
}

TEST_F(EdgeCatalogue, BadFiltersRaiseAndChangeNothing) {
  auto q = Query("SELECT ID,Name FROM Models");
  q->SetFilter("Name='Focus'");
  q->SetFiltered(true);
  q->Open();
  ASSERT_EQ(q->RecordCount(), 1);
  scrolls = 0;
  EXPECT_THROW(q->SetFilter("Name=Focus"), Exception);
  EXPECT_THROW(q->SetFilter("Name='Focus' AND ID='1'"), Exception);
  try {
    q->SetFilter("Brand='Ford'");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("'Brand' not found"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(q->Filter(), "Name='Focus'");
  EXPECT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(scrolls, 0);
  q->Close();
  q->SetFilter("Name=");
  EXPECT_THROW(q->Open(), Exception);
  EXPECT_FALSE(q->Active());
}

TEST_F(EdgeCatalogue, FilterInSqlAndFilterOnRowsAgree) {
  // A plain query takes the filter into its WHERE clause; with an alias the rows are filtered.
  auto direct = Query("SELECT Models.Name, Brand_ID FROM Models ORDER BY Name");
  auto aliased = Query("SELECT m.Name, m.Brand_ID FROM Models AS m ORDER BY m.Name");
  direct->Open();
  aliased->Open();
  for (const char* f : {"Name='focus'", "Name='КА'", "Name='Нива '", "Brand_ID='1'", "Brand_ID=' 2 '",
                        "Brand_ID='x'", "Name=''", "Name='Ка'''"}) {
    SCOPED_TRACE(f);
    direct->SetFiltered(false);
    aliased->SetFiltered(false);
    direct->SetFilter(f);
    aliased->SetFilter(f);
    direct->SetFiltered(true);
    aliased->SetFiltered(true);
    EXPECT_EQ(Column(*direct, "Name"), Column(*aliased, "Name"));
  }
}

TEST_F(EdgeCatalogue, DistinctRowKeepsOneRowPerRecord) {
  const char* from = " EngineDefs.Def FROM EngineDefs INNER JOIN Serials ON EngineDefs.Auto_ID = Serials.Auto_ID";
  auto all = Query(std::string("SELECT") + from);
  auto rows = Query(std::string("SELECT DISTINCTROW") + from + ";");
  auto values = Query(std::string("SELECT DISTINCT") + from);
  all->Open();
  rows->Open();
  values->Open();
  EXPECT_EQ(all->RecordCount(), 11);
  EXPECT_EQ(rows->RecordCount(), 9);
  EXPECT_EQ(values->RecordCount(), 6);
  EXPECT_EQ(FieldNames(*rows), (Strings{"Def"}));  // the helper columns stay hidden
}

TEST_F(EdgeCatalogue, BrokenSqlNamesTheQuery) {
  auto q = Query("SELECT * FROM NoSuchTable");
  try {
    q->Open();
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("qryTest: ", 0), 0u) << e.Message();
  }
  q->SQL()->SetText("SELECT * FROM Brands; SELECT 1");
  EXPECT_THROW(q->Open(), Exception);
  q->SQL()->Clear();
  EXPECT_THROW(q->Open(), Exception);
}

TEST_F(EdgeCatalogue, DeclaredFieldsAreTheOnlyFields) {
  auto q = Query("SELECT * FROM Brands");
  q->DeclareField("Name", ftWideString, 50);
  q->Open();
  EXPECT_EQ(q->FieldCount(), 1);
  EXPECT_EQ(q->FindField("ID"), nullptr);
  EXPECT_EQ(q->FieldByName("name")->Size(), 50);
  EXPECT_THROW(q->DeclareField("ID", ftAutoInc), Exception);
  q->Close();
  q->DeclareField("Missing", ftInteger);
  EXPECT_THROW(q->Open(), Exception);
  EXPECT_FALSE(q->Active());
}

TEST_F(EdgeCatalogue, ClosingTheConnectionClosesItsQueries) {
  auto q = Query("SELECT * FROM Fuels");
  q->Open();
  EXPECT_EQ(conn->DataSetCount(), 1);
  conn->Close();
  EXPECT_FALSE(q->Active());
  q->Open();  // opens the connection again
  EXPECT_TRUE(conn->Connected());
  EXPECT_EQ(q->RecordCount(), 4);
  EXPECT_THROW(conn->SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0"), Exception);
  q.reset();
  EXPECT_EQ(conn->DataSetCount(), 0);
}

namespace {

struct CountingLink : TDataLink {
  int active = 0, changed = 0, scrolled = 0;
  void ActiveChanged() override { ++active; }
  void DataSetChanged() override { ++changed; }
  void DataSetScrolled(int) override { ++scrolled; }
};

}  // namespace

TEST_F(EdgeCatalogue, DataSourceTellsBoundControls) {
  auto q = Query("SELECT * FROM Models ORDER BY Name");
  TDataSource ds(nullptr);
  ds.SetDataSet(q.get());
  int dataChanges = 0, stateChanges = 0;
  ds.OnDataChange = [&](TObject*, TField*) { ++dataChanges; };
  ds.OnStateChange = [&](TObject*) { ++stateChanges; };
  CountingLink link;
  link.SetDataSource(&ds);
  EXPECT_FALSE(link.Active());
  link.active = 0;
  q->Open();
  EXPECT_TRUE(link.Active());
  EXPECT_EQ(link.active, 1);
  EXPECT_EQ(stateChanges, 1);
  q->Next();
  EXPECT_EQ(link.scrolled, 1);
  q->SetFilter("Brand_ID='1'");
  q->SetFiltered(true);
  EXPECT_EQ(link.changed, 1);
  // A grid reads any row without moving the cursor.
  const int before = scrolls;
  EXPECT_EQ(q->FieldByName("Name")->AsStringAt(5), "Ка");
  EXPECT_EQ(q->FieldByName("Name")->AsStringAt(6), "");
  EXPECT_EQ(q->RecNo(), 1);
  EXPECT_EQ(scrolls, before);
  q->DisableControls();
  q->Next();
  q->Next();
  EXPECT_EQ(link.scrolled, 1);
  EXPECT_EQ(scrolls, before + 2);  // events still fire
  q->EnableControls();
  EXPECT_EQ(link.changed, 2);
  const int data = dataChanges;
  ds.SetEnabled(false);
  q->Next();
  EXPECT_EQ(dataChanges, data);
  EXPECT_FALSE(link.Active());
  ds.SetEnabled(true);
  q->Close();
  EXPECT_FALSE(link.Active());
  q.reset();  // the source forgets a dataset that goes
  EXPECT_EQ(ds.DataSet(), nullptr);
}

TEST(TypesCatalogue, ValuesReadAsTextNumbersAndBooleans) {
  SKIP_WITHOUT_CATALOGUE("types");
  TADOConnection conn(nullptr);
  conn.SetConnectionString(dbtest::ConnectionString(dbtest::Catalogue("types")));
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->SetText("SELECT * FROM Types ORDER BY ID");
  q.Open();
  EXPECT_EQ(q.FieldByName("ID")->DataType(), ftAutoInc);
  EXPECT_EQ(q.FieldByName("Note")->DataType(), ftMemo);
  EXPECT_EQ(q.FieldByName("Flag")->AsString(), "True");
  EXPECT_EQ(q.FieldByName("Short")->AsInteger(), -12);
  EXPECT_DOUBLE_EQ(q.FieldByName("Money")->AsFloat(), 12.5);
  EXPECT_EQ(q.FieldByName("Moment")->AsString(), "2004-05-28 17:46:30");
  EXPECT_EQ(q.FieldByName("Note")->AsString(), "Кратка бележка");
  EXPECT_THROW(q.FieldByName("Name")->AsInteger(), EConvertError);
  EXPECT_FALSE(q.FieldByName("Name")->AsBoolean());  // "Ford ...": F is false
  EXPECT_THROW(q.FieldByName("Note")->AsBoolean(), EConvertError);
  q.Next();  // every value null
  for (int i = 1; i < q.FieldCount(); ++i) {
    TField* f = q.Fields()[i];
    if (f->DataType() == ftBoolean) continue;  // Yes/No is never null
    EXPECT_TRUE(f->IsNull()) << f->FieldName();
    EXPECT_EQ(f->AsString(), "");
    EXPECT_EQ(f->AsInteger(), 0);
    EXPECT_FALSE(f->AsBoolean());
  }
  q.Next();  // empty texts
  for (const char* name : {"Name", "NamePlain", "NameCompressed", "Note"}) {
    EXPECT_FALSE(q.FieldByName(name)->IsNull()) << name;
    EXPECT_EQ(q.FieldByName(name)->AsString(), "") << name;
  }
  q.Next();
  EXPECT_EQ(q.FieldByName("Long")->AsInteger(), 2147483647);
  EXPECT_EQ(q.FieldByName("Small")->AsInteger(), 255);
  EXPECT_GT(q.FieldByName("Note")->AsString().size(), 500u);
}
