// The data module on the test catalogues: start-up connection, the nine queries as the windows
// use them, the filters they set and the row-change forwarding.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "app/uDataMod.h"
#include "tests/platform/db/DbTestSupport.h"

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

class DataModule : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHook = ShowMessageHook;
    ShowMessageHook = [this](const std::string& Msg) { messages.push_back(Msg); };
  }
  void TearDown() override {
    dm.reset();
    ShowMessageHook = savedHook;
    SetExecutableFolder("");
  }

  // A program folder holding the catalogue as File (below "DB"), and the data module made there.
  void Start(const char* Catalogue, const std::string& File = "kelv.m$$") {
    if (Catalogue) {
      fs::create_directories(dir.path() / "DB");
      fs::copy_file(dbtest::Catalogue(Catalogue), dir.path() / "DB" / File);
    }
    SetExecutableFolder(dir.path().string());
    dm = std::make_unique<TDM>(nullptr);
    dm->BrowseTreeLoaded = [this] { return treeLoaded; };
    dm->BrowseShowDetails = [this] { ++browseDetails; };
    dm->SearchShowDetails = [this] { ++searchDetails; };
  }

  static Strings Column(TADOQuery* Q, const std::string& Field) {
    Strings out;
    for (Q->First(); !Q->Eof(); Q->Next()) out.push_back(Q->FieldByName(Field)->AsString());
    return out;
  }
  static std::set<std::string> ColumnSet(TADOQuery* Q, const std::string& Field) {
    const Strings v = Column(Q, Field);
    return {v.begin(), v.end()};
  }
  static Strings FieldNames(TADOQuery* Q) {
    Strings out;
    for (int i = 0; i < Q->FieldCount(); ++i) out.push_back(Q->Fields()[i]->FieldName());
    return out;
  }

  // As the browse window selects an engine node.
  void SelectEngine(const std::string& Brand, const std::string& Model, const std::string& Engine) {
    TADOQuery* q = dm->qryFillDetails;
    q->Close();
    q->SetFilter("");
    q->SetFiltered(false);
    q->Parameters().ParamByName("BrandID")->SetValue(Brand);
    q->Parameters().ParamByName("ModelID")->SetValue(Model);
    q->Parameters().ParamByName("EngineID")->SetValue(Engine);
    q->Open();
  }
  // As the browse window's fuel choice.
  void ChooseFuel(const std::string& Fuel) {
    TADOQuery* q = dm->qryFillDetails;
    if (Fuel.find("---") != std::string::npos) {
      q->SetFiltered(false);
      return;
    }
    q->SetFiltered(false);
    q->SetFilter("Fuels.Def=" + QuotedStr(Fuel));
    q->SetFiltered(true);
  }
  // As the search window's search button.
  void Search(const std::string& Column, const std::string& Number) {
    TADOQuery* q = dm->qrySearchSerial;
    q->Close();
    q->SetFilter(Column + "=" + QuotedStr(Number));
    q->SetFiltered(true);
    q->Open();
  }

  testsupport::TempDir dir;
  std::unique_ptr<TDM> dm;
  std::function<void(const std::string&)> savedHook;
  Strings messages;
  bool treeLoaded = true;
  int browseDetails = 0, searchDetails = 0;
};

}  // namespace

TEST_F(DataModule, MissingDatabaseShowsTheMessageAndStartUpGoesOn) {
  Start(nullptr);
  EXPECT_EQ(messages, (Strings{"Липсва базата данни. Можеби ще се наложи да инсталирате КЕЛВ Електронен Каталог отново!"}));
  EXPECT_FALSE(dm->Conn->Connected());
  EXPECT_EQ(dm->Conn->ConnectionString(),
            "Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=" + dir.path().string() +
                "\\DB\\kelv.m$$");
  EXPECT_THROW(dm->Conn->SetConnected(true), Exception);  // the tree loading's unguarded connect
}

TEST_F(DataModule, DamagedDatabaseShowsTheSameMessage) {
  fs::create_directories(dir.path() / "DB");
  testsupport::WriteFile(dir.path() / "DB" / "kelv.m$$", {'n', 'o', 't', ' ', 'j', 'e', 't'});
  Start(nullptr);
  EXPECT_EQ(messages.size(), 1u);
  EXPECT_FALSE(dm->Conn->Connected());
}

TEST_F(DataModule, ConnectsToTheProgramFoldersCatalogueWhateverItsCase) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge", "KELV.M$$");
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(dm->Conn->Connected());
  EXPECT_FALSE(dm->Conn->LoginPrompt());
  EXPECT_EQ(dm->Conn->Mode(), cmShareDenyNone);
  EXPECT_EQ(dm->Conn->Provider(), "Microsoft.Jet.OLEDB.4.0");
}

TEST_F(DataModule, ComponentsAsTheLayoutDeclaresThem) {
  Start(nullptr);
  struct Q {
    TADOQuery* Query;
    const char* Name;
    TCursorType Cursor;
    Strings Params;
  };
  const std::vector<Q> queries = {{dm->qryFillBrands, "qryFillBrands", ctStatic, {}},
                                  {dm->qryFillModels, "qryFillModels", ctKeyset, {"BrandID"}},
                                  {dm->qryFillEngines, "qryFillEngines", ctKeyset, {"ModelID"}},
                                  {dm->qryFillDetails, "qryFillDetails", ctStatic, {"BrandID", "ModelID", "EngineID"}},
                                  {dm->qrySearchSerial, "qrySearchSerial", ctStatic, {}},
                                  {dm->qryPrnDetails, "qryPrnDetails", ctStatic, {"AutoID"}},
                                  {dm->qryRepEngineDefs, "qryRepEngineDefs", ctStatic, {"AutoID"}},
                                  {dm->qryRepEngineTypes, "qryRepEngineTypes", ctStatic, {"AutoID"}},
                                  {dm->qryRepSerials, "qryRepSerials", ctStatic, {"AutoID"}}};
  for (const Q& q : queries) {
    SCOPED_TRACE(q.Name);
    EXPECT_EQ(q.Query->Name(), q.Name);
    EXPECT_EQ(q.Query->Connection(), dm->Conn);
    EXPECT_EQ(q.Query->CursorType(), q.Cursor);
    ASSERT_EQ(q.Query->Parameters().Count(), static_cast<int>(q.Params.size()));
    for (int i = 0; i < q.Query->Parameters().Count(); ++i) {
      const TParameter* p = q.Query->Parameters().Items(i);
      EXPECT_EQ(p->Name(), q.Params[static_cast<std::size_t>(i)]);
      EXPECT_EQ(p->DataType(), ftWideString);
      EXPECT_EQ(p->Size(), 510);
      EXPECT_TRUE(p->Attributes() & paNullable);
    }
  }
  EXPECT_EQ(dm->qryFillDetails->Parameters().ParamByName("EngineID")->Value(), "0");
  EXPECT_EQ(dm->qryFillModels->SQL()->Text(), "SELECT ID,Name FROM Models\r\n  WHERE Brand_ID=:BrandID\r\nORDER by Name ;\r\n");
  EXPECT_EQ(dm->qryFillEngines->SQL()->Strings(0), "SELECT ID,Def FROM Engines ");
  EXPECT_EQ(dm->qryFillDetails->SQL()->Count(), 36);
  EXPECT_EQ(dm->qrySearchSerial->SQL()->Count(), 43);
  EXPECT_EQ(dm->qryRepSerials->SQL()->Strings(2), "WHERE Serials.Auto_ID=:AutoID;");

  EXPECT_EQ(dm->dsFillBrands->DataSet(), dm->qryFillBrands);
  EXPECT_EQ(dm->dsFillModels->DataSet(), dm->qryFillModels);
  EXPECT_EQ(dm->dsFillEngines->DataSet(), dm->qryFillEngines);
  EXPECT_EQ(dm->dsFillDetails->DataSet(), dm->qryFillDetails);
  EXPECT_EQ(dm->dsSearchSerial->DataSet(), dm->qrySearchSerial);
  EXPECT_EQ(dm->DSPrnDetails->DataSet(), dm->qryPrnDetails);
  EXPECT_EQ(dm->DSPrnDetails->Name(), "DSPrnDetails");
  // The report components, found by the engine by name.
  EXPECT_EQ(dm->RvProject1->Name(), "RvProject1");
  const std::pair<TRvDataSetConnection*, TADOQuery*> connections[] = {{dm->RVDSAuto, dm->qryPrnDetails},
                                                                      {dm->rvDSEngineDefs, dm->qryRepEngineDefs},
                                                                      {dm->rvDSEngineTypes, dm->qryRepEngineTypes},
                                                                      {dm->rvDSSerials, dm->qryRepSerials}};
  const char* names[] = {"RVDSAuto", "rvDSEngineDefs", "rvDSEngineTypes", "rvDSSerials"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(connections[i].first->Name(), names[i]);
    EXPECT_EQ(connections[i].first->DataSet(), connections[i].second);
    EXPECT_EQ(connections[i].first->RuntimeVisibility(), rtDeveloper);
    EXPECT_EQ(TRvDataSetConnection::Find(names[i], dm.get()), connections[i].first);
  }
}

TEST_F(DataModule, TreeQueriesGiveBrandsInDatabaseOrderModelsAndEnginesByName) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  TADOQuery fuels(nullptr);
  fuels.SetConnection(dm->Conn);
  fuels.SQL()->SetText("SELECT * FROM Fuels");
  fuels.Open();
  EXPECT_EQ(Column(&fuels, "Def"), (Strings{"Бензин", "Дизел", "Бензин 'Супер'", "Газ \"CNG\""}));

  std::string tree;
  dm->Conn->SetConnected(true);
  TADOQuery* brands = dm->qryFillBrands;
  TADOQuery* models = dm->qryFillModels;
  TADOQuery* engines = dm->qryFillEngines;
  brands->Open();
  for (; !brands->Eof(); brands->Next()) {
    tree += brands->FieldByName("Name")->AsString() + "[" + brands->FieldByName("ID")->AsString() + "]:";
    models->Close();
    models->Parameters().ParamByName("BrandID")->SetValue(brands->FieldByName("ID")->AsString());
    models->Open();
    for (; !models->Eof(); models->Next()) {
      tree += " " + models->FieldByName("Name")->AsString() + "(";
      engines->Close();
      engines->Parameters().ParamByName("ModelID")->SetValue(models->FieldByName("ID")->AsString());
      engines->Open();
      for (; !engines->Eof(); engines->Next())
        tree += engines->FieldByName("Def")->AsString() + "#" + engines->FieldByName("ID")->AsString() + ";";
      tree += ")";
    }
    tree += "\n";
  }
  EXPECT_EQ(tree,
            "Ford[1]: Escort() fiesta(1.25#4;) Focus(1.4i#3;1.6i#1;1.8 TDDi#2;) амулет() Ка(ж 1.1#7;Ж 1.3#6;)\n"
            "Lada/VAZ[2]: Samara() Нива(1.7i#5;)\n"
            "Škoda[123456]: Octavia(1.9 TDI#1234567;)\n"
            "Празна марка[4]:\n");
}

TEST_F(DataModule, DetailsLeaveOutVersionsWithoutEngineDataOrFuel) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  SelectEngine("1", "1", "1");
  TADOQuery* q = dm->qryFillDetails;
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"1", "2", "5", "6"}));
  EXPECT_EQ(q->RecordCount(), 4);
  EXPECT_EQ(FieldNames(q),
            (Strings{"Auto.ID", "Engine_ID", "Picture", "Auto.Def", "EndYear", "EndMonth", "StartYear", "StartMonth",
                     "Brand_ID", "Model_ID", "Fuel_ID", "Others", "hatchback", "sedan", "cabrio", "estate", "van",
                     "coupe", "EngineDefs.ID", "Auto_ID", "EngineDefs.Def", "cc", "HP", "KW", "Fuels.ID",
                     "Fuels.Def"}));
  for (q->First(); !q->Eof(); q->Next()) {
    const std::string id = q->FieldByName("Auto.ID")->AsString();
    const std::string period = q->FieldByName("StartYear")->AsString() + "." + q->FieldByName("StartMonth")->AsString() +
                               "-" + q->FieldByName("EndYear")->AsString() + "." + q->FieldByName("EndMonth")->AsString();
    if (id == "1") {
      EXPECT_EQ(period, "1998.10-2004.11");
      EXPECT_EQ(q->FieldByName("Picture")->AsString(), "focus.jpg");
      EXPECT_EQ(q->FieldByName("Fuels.Def")->AsString(), "Бензин");
      EXPECT_EQ(q->FieldByName("EngineDefs.Def")->AsString() + " " + q->FieldByName("CC")->AsString(), "1.6i 16V 1596");
      EXPECT_TRUE(q->FieldByName("Hatchback")->AsBoolean());
      EXPECT_FALSE(q->FieldByName("Sedan")->AsBoolean());
    } else if (id == "5") {
      EXPECT_EQ(period, ".-.");
      EXPECT_EQ(q->FieldByName("Picture")->AsString(), "");
      EXPECT_EQ(q->FieldByName("cc")->AsString() + q->FieldByName("HP")->AsString(), "");
      for (const char* body : {"hatchback", "sedan", "cabrio", "estate", "van", "coupe"})
        EXPECT_FALSE(q->FieldByName(body)->AsBoolean()) << body;
    } else if (id == "6") {
      EXPECT_TRUE(q->FieldByName("coupe")->AsBoolean() && q->FieldByName("van")->AsBoolean() &&
                  q->FieldByName("estate")->AsBoolean() && q->FieldByName("cabrio")->AsBoolean());
    }
  }
  SelectEngine("123456", "654321", "1234567");  // identifiers of more than five digits
  EXPECT_EQ(Column(q, "Auto.Def"), (Strings{"1.9 TDI Комби"}));
  SelectEngine("2", "6", "0");  // a model without engines
  EXPECT_EQ(q->RecordCount(), 0);
}

TEST(QuotedStr, DoublesInnerQuotes) {
  EXPECT_EQ(QuotedStr(""), "''");
  EXPECT_EQ(QuotedStr("O'Neil-7"), "'O''Neil-7'");
  EXPECT_EQ(QuotedStr("''"), "''''''");
  EXPECT_EQ(QuotedStr("Газ \"CNG\""), "'Газ \"CNG\"'");
}

TEST_F(DataModule, FuelFilterWithQuotesAndWithoutRegardToCase) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  SelectEngine("1", "1", "1");
  TADOQuery* q = dm->qryFillDetails;
  ChooseFuel("Бензин 'Супер'");
  EXPECT_EQ(Column(q, "Auto.ID"), (Strings{"2"}));
  ChooseFuel("Газ \"CNG\"");
  EXPECT_EQ(Column(q, "Auto.ID"), (Strings{"6"}));
  ChooseFuel("бЕНЗИН");
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"1", "5"}));
  ChooseFuel("Дизел");
  EXPECT_EQ(q->RecordCount(), 0);
  ChooseFuel("--------------без значение--------------");
  EXPECT_EQ(q->RecordCount(), 4);
  ChooseFuel("Дизел");
  SelectEngine("1", "1", "2");  // a new engine lifts the filter
  EXPECT_FALSE(q->Filtered());
  EXPECT_EQ(Column(q, "Auto.ID"), (Strings{"7"}));
}

TEST_F(DataModule, BrowseDetailsFollowEveryRowChangeOnceTheTreeIsLoaded) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  treeLoaded = false;
  SelectEngine("1", "1", "1");
  dm->qryFillDetails->Next();
  EXPECT_EQ(browseDetails, 0);
  treeLoaded = true;
  SelectEngine("1", "1", "1");
  EXPECT_EQ(browseDetails, 1);  // opening
  dm->qryFillDetails->Next();
  dm->qryFillDetails->Last();
  dm->qryFillDetails->Prior();
  EXPECT_EQ(browseDetails, 4);  // moves
  ChooseFuel("Бензин");
  EXPECT_EQ(browseDetails, 5);  // setting the filter
  ChooseFuel("Дизел");
  EXPECT_EQ(browseDetails, 7);  // lifting it and setting another
  EXPECT_EQ(searchDetails, 0);
}

TEST_F(DataModule, SearchFindsEveryPartRowOfTheTypedNumber) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  TADOQuery* q = dm->qrySearchSerial;
  q->Open();
  EXPECT_EQ(q->RecordCount(), 10);  // one row per serial row of versions with engine data and fuel
  EXPECT_EQ(FieldNames(q).size(), 37u);
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"1", "2", "6", "7", "8", "9", "10", "11"}));

  Search("SerialKELV", "FO.16.01");
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"1", "2"}));
  Search("SerialKELV", "fo.12.ab");  // typed in lower case, stored in both
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"9", "10"}));
  Search("SerialKELV", "SK'19.02");
  ASSERT_EQ(q->RecordCount(), 1);
  EXPECT_EQ(q->FieldByName("Parts.Name")->AsString(), "Задно гърне");
  EXPECT_EQ(q->FieldByName("Brands.Name")->AsString(), "Škoda");
  EXPECT_EQ(q->FieldByName("Models.Name")->AsString(), "Octavia");
  EXPECT_EQ(q->FieldByName("Fuels.Def")->AsString(), "Дизел");
  EXPECT_EQ(q->FieldByName("Engines.Def")->AsString(), "1.9 TDI");
  EXPECT_EQ(q->FieldByName("Auto.Model_ID")->AsString(), "654321");
  EXPECT_EQ(q->FieldByName("Type")->AsString(), "ALH");
  Search("SerialWALKER", "O'Neil-7");
  EXPECT_EQ(Column(q, "SerialKELV"), (Strings{"SK.19.01"}));
  Search("SerialBOSAL", "281-723");
  EXPECT_EQ(ColumnSet(q, "Auto.ID"), (std::set<std::string>{"1", "2"}));
  Search("SerialKELV", "FO.18.TDDI.LONG");
  EXPECT_EQ(Column(q, "SerialWALKER"), (Strings{"WALKER-1234567890123456"}));
  Search("SerialKELV", "FO.16");  // whole numbers only
  EXPECT_EQ(q->RecordCount(), 0);
  EXPECT_TRUE(q->Eof() && q->Bof());
  Search("SerialKELV", "  .  .  ");
  EXPECT_EQ(q->RecordCount(), 0);
}

TEST_F(DataModule, SearchDetailsFollowEveryRowChange) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  treeLoaded = false;
  Search("SerialKELV", "FO.16.01");
  EXPECT_EQ(searchDetails, 1);
  dm->qrySearchSerial->Next();
  dm->qrySearchSerial->Next();  // at the end: still a move
  EXPECT_EQ(searchDetails, 3);
  Search("SerialKELV", "nothing");
  EXPECT_EQ(searchDetails, 4);
  EXPECT_EQ(browseDetails, 0);
}

TEST_F(DataModule, ReportQueriesOpenForOneVersion) {
  SKIP_WITHOUT_CATALOGUE("edge");
  Start("edge");
  dm->qryRepSerials->SetFilter("SerialKELV='none'");
  dm->qryRepSerials->SetFiltered(true);
  for (TADOQuery* q : {dm->qryPrnDetails, dm->qryRepEngineDefs, dm->qryRepEngineTypes, dm->qryRepSerials})
    dm->OpenForAuto(q, "8");
  TADOQuery* prn = dm->qryPrnDetails;
  ASSERT_EQ(prn->RecordCount(), 1);
  EXPECT_EQ(FieldNames(prn),
            (Strings{"ID", "Picture", "Brands.Name", "Models.Name", "Engines.Def", "Auto.Def", "EndYear", "EndMonth",
                     "StartYear", "StartMonth", "Others", "hatchback", "sedan", "cabrio", "estate", "van", "coupe",
                     "Fuels.Def"}));
  EXPECT_EQ(prn->FieldByName("Brands.Name")->AsString() + "|" + prn->FieldByName("Models.Name")->AsString() + "|" +
                prn->FieldByName("Engines.Def")->AsString() + "|" + prn->FieldByName("Auto.Def")->AsString() + "|" +
                prn->FieldByName("Fuels.Def")->AsString(),
            "Škoda|Octavia|1.9 TDI|1.9 TDI Комби|Дизел");
  EXPECT_TRUE(prn->FieldByName("estate")->AsBoolean());
  EXPECT_EQ(Column(dm->qryRepEngineDefs, "cc"), (Strings{"1896"}));
  EXPECT_EQ(Column(dm->qryRepEngineTypes, "Def"), (Strings{"ALH"}));
  TADOQuery* serials = dm->qryRepSerials;
  EXPECT_FALSE(serials->Filtered());
  EXPECT_EQ(serials->Filter(), "");
  EXPECT_EQ(FieldNames(serials), (Strings{"Serials.ID", "Auto_ID", "Part_ID", "SerialKELV", "SerialBOSAL",
                                          "SerialWALKER", "Other", "Parts.ID", "Name"}));
  EXPECT_EQ(ColumnSet(serials, "Name"), (std::set<std::string>{"Предно гърне", "Задно гърне"}));
  EXPECT_EQ(ColumnSet(serials, "SerialKELV"), (std::set<std::string>{"SK.19.01", "SK'19.02"}));

  dm->OpenForAuto(dm->qryRepEngineDefs, "5");  // engine data with nulls
  EXPECT_EQ(dm->qryRepEngineDefs->FieldByName("KW")->AsString(), "");
  dm->OpenForAuto(dm->qryRepSerials, "5");  // no catalogue numbers
  EXPECT_EQ(serials->RecordCount(), 0);
  dm->OpenForAuto(dm->qryPrnDetails, "3");  // Fuel_ID without a Fuels row
  EXPECT_EQ(prn->RecordCount(), 0);
}

TEST_F(DataModule, EmptyCatalogueGivesNoBrandsAndNoFuels) {
  SKIP_WITHOUT_CATALOGUE("empty");
  Start("empty");
  dm->qryFillBrands->Open();
  EXPECT_TRUE(dm->qryFillBrands->Eof());
  EXPECT_EQ(dm->qryFillBrands->RecordCount(), 0);
  dm->qrySearchSerial->Open();
  EXPECT_EQ(dm->qrySearchSerial->RecordCount(), 0);
}

TEST_F(DataModule, LongBrandNamesComeWhole) {
  SKIP_WITHOUT_CATALOGUE("long-brand");
  Start("long-brand");
  dm->qryFillBrands->Open();
  EXPECT_EQ(dm->qryFillBrands->FieldByName("Name")->AsString(),
            "Автомобилна компания с много дълго име за проверка на съкращаването ООД");
}
