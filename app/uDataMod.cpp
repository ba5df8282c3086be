#include "app/uDataMod.h"

#include <cstdio>
#include <initializer_list>

#include "platform/rtl/SysUtils.h"

std::function<void(const std::string& Msg)> ShowMessageHook = [](const std::string& Msg) {
  std::fprintf(stderr, "%s\n", Msg.c_str());
};

TDM* DM = nullptr;

namespace {

struct TFieldDecl {
  const char* Name;
  TFieldType Type;
  int Size;
};

constexpr TFieldType kAuto = ftAutoInc, kLong = ftInteger, kShort = ftSmallint, kBool = ftBoolean,
                     kText = ftWideString;

TADOQuery* MakeQuery(TDM* Owner, const char* Name, TCursorType Cursor, std::initializer_list<const char*> Lines,
                     std::initializer_list<TFieldDecl> Fields) {
  auto* q = new TADOQuery(Owner);
  q->SetName(Name);
  q->SetConnection(Owner->Conn);
  q->SetCursorType(Cursor);
  q->SQL()->BeginUpdate();
  for (const char* line : Lines) q->SQL()->Add(line);
  q->SQL()->EndUpdate();
  // Every parameter: nullable wide text of 510 bytes.
  for (int i = 0; i < q->Parameters().Count(); ++i) {
    TParameter* p = q->Parameters().Items(i);
    p->SetDataType(ftWideString);
    p->SetSize(510);
    p->SetAttributes(paNullable);
    p->Clear();
  }
  for (const TFieldDecl& f : Fields) {
    TField* field = q->DeclareField(f.Name, f.Type, f.Size);
    if (f.Type == ftAutoInc) field->SetReadOnly(true);
  }
  return q;
}

TDataSource* MakeSource(TDM* Owner, const char* Name, TADOQuery* Query) {
  auto* ds = new TDataSource(Owner);
  ds->SetName(Name);
  ds->SetDataSet(Query);
  return ds;
}

TRvDataSetConnection* MakeConnection(TDM* Owner, const char* Name, TADOQuery* Query) {
  auto* c = new TRvDataSetConnection(Owner);
  c->SetName(Name);
  c->SetDataSet(Query);
  c->SetRuntimeVisibility(rtDeveloper);
  return c;
}

}  // namespace

std::string QuotedStr(const std::string& S) {
  std::string out = "'";
  for (char c : S) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

TDM::TDM(TComponent* AOwner) : TComponent(AOwner) {
  SetName("DM");
  Conn = new TADOConnection(this);
  Conn->SetName("Conn");
  Conn->SetLoginPrompt(false);
  Conn->SetMode(cmShareDenyNone);
  Conn->SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0");

  qryFillBrands = MakeQuery(this, "qryFillBrands", ctStatic, {"SELECT * FROM Brands;"}, {});
  qryFillModels = MakeQuery(this, "qryFillModels", ctKeyset,
                            {"SELECT ID,Name FROM Models", "  WHERE Brand_ID=:BrandID", "ORDER by Name ;"}, {});
  qryFillEngines = MakeQuery(this, "qryFillEngines", ctKeyset,
                             {"SELECT ID,Def FROM Engines ", "  WHERE  Engines.Model_ID=:ModelID", "ORDER BY Def ;"},
                             {});
  qryFillDetails = MakeQuery(
      this, "qryFillDetails", ctStatic,
      {"SELECT  ", "Auto.ID, ", "EngineDefs.Auto_ID, ", "EngineDefs.Def, ", "EngineDefs.cc, ", "EngineDefs.HP,",
       " EngineDefs.KW, ", "Fuels.Def, ", "Auto.Picture, ", "Fuels.ID, ", "EngineDefs.ID, ", "Auto.Engine_ID, ",
       "Auto.Def, ", "Auto.EndYear, ", "Auto.EndMonth, ", "Auto.StartYear, ", "Auto.StartMonth, ", "Auto.Brand_ID, ",
       "Auto.Model_ID, ", "Auto.Fuel_ID, ", "Auto.Others, ", "Auto.hatchback, ", "Auto.sedan, ", "Auto.cabrio, ",
       "Auto.estate, ", "Auto.van, ", "Auto.coupe", "FROM ( ",
       "        (Engines INNER JOIN Auto ON Engines.ID = Auto.Engine_ID) ",
       "            INNER JOIN EngineDefs ON Auto.ID = EngineDefs.Auto_ID) ",
       "                    INNER JOIN Fuels ON Auto.Fuel_ID = Fuels.ID", "WHERE ", "Auto.Brand_ID=:BrandID AND ",
       "Auto.Model_ID=:ModelID AND ", "Auto.Engine_ID=:EngineID", ";"},
      {{"Auto.ID", kAuto, 0},        {"Engine_ID", kLong, 0},     {"Picture", kText, 255},   {"Auto.Def", kText, 50},
       {"EndYear", kShort, 0},       {"EndMonth", kShort, 0},     {"StartYear", kShort, 0},  {"StartMonth", kShort, 0},
       {"Brand_ID", kLong, 0},       {"Model_ID", kLong, 0},      {"Fuel_ID", kLong, 0},     {"Others", kText, 255},
       {"hatchback", kBool, 0},      {"sedan", kBool, 0},         {"cabrio", kBool, 0},      {"estate", kBool, 0},
       {"van", kBool, 0},            {"coupe", kBool, 0},         {"EngineDefs.ID", kAuto, 0}, {"Auto_ID", kLong, 0},
       {"EngineDefs.Def", kText, 50}, {"cc", kLong, 0},           {"HP", kLong, 0},          {"KW", kLong, 0},
       {"Fuels.ID", kAuto, 0},       {"Fuels.Def", kText, 50}});
  for (const char* name : {"BrandID", "ModelID", "EngineID"}) qryFillDetails->Parameters().ParamByName(name)->SetValue("0");

  qrySearchSerial = MakeQuery(
      this, "qrySearchSerial", ctStatic,
      {"SELECT ", "Auto.ID,", "Auto.Picture,", "Auto.StartYear,", "Auto.StartMonth, ", "Auto.EndYear,",
       "Auto.EndMonth,", "Auto.Brand_ID, ", "Auto.Model_ID, ", "Auto.Fuel_ID, ", "Auto.Others, ", "Auto.hatchback, ",
       "Auto.sedan, ", "Auto.cabrio, ", "Auto.estate, ", "Auto.van, ", "Auto.coupe, ", "EngineDefs.ID, ",
       "EngineDefs.Auto_ID, ", "EngineDefs.Def, ", "EngineDefs.cc, ", "EngineDefs.HP, ", "EngineDefs.KW, ",
       "Engines.ID, ", "Engines.Fuel_ID, ", "Engines.Def, ", "Engines.Model_ID, ", "Engines.Type, ", "Fuels.ID, ",
       "Fuels.Def, ", "Serials.ID, ", "Serials.SerialKELV, ", "Serials.SerialBOSAL, ", "Serials.SerialWALKER, ",
       "Serials.Other, ", "Brands.Name, ", "Models.Name, ", "Parts.Name", "FROM ( (((( ",
       "    (Engines INNER JOIN Auto ON Engines.ID = Auto.Engine_ID) INNER JOIN EngineDefs ON Auto.ID = "
       "EngineDefs.Auto_ID) ",
       "       INNER JOIN Serials ON Auto.ID = Serials.Auto_ID) ",
       "         INNER JOIN Parts ON Serials.Part_ID = Parts.ID) INNER JOIN Fuels ON Auto.Fuel_ID = Fuels.ID) ",
       "            INNER JOIN Brands ON Auto.Brand_ID = Brands.ID) INNER JOIN Models ON Auto.Model_ID = Models.ID ;"},
      {{"Picture", kText, 255},       {"StartMonth", kShort, 0},     {"Brand_ID", kLong, 0},
       {"Auto.Model_ID", kLong, 0},   {"Auto.Fuel_ID", kLong, 0},    {"Others", kText, 255},
       {"hatchback", kBool, 0},       {"sedan", kBool, 0},           {"cabrio", kBool, 0},
       {"estate", kBool, 0},          {"van", kBool, 0},             {"coupe", kBool, 0},
       {"EngineDefs.ID", kAuto, 0},   {"Auto_ID", kLong, 0},         {"EngineDefs.Def", kText, 50},
       {"cc", kLong, 0},              {"HP", kLong, 0},              {"KW", kLong, 0},
       {"Engines.ID", kAuto, 0},      {"Engines.Fuel_ID", kLong, 0}, {"Engines.Def", kText, 50},
       {"Engines.Model_ID", kLong, 0}, {"Type", kText, 50},          {"Fuels.ID", kAuto, 0},
       {"Fuels.Def", kText, 50},      {"Serials.ID", kAuto, 0},      {"SerialKELV", kText, 50},
       {"SerialBOSAL", kText, 50},    {"SerialWALKER", kText, 50},   {"Other", kText, 255},
       {"Brands.Name", kText, 50},    {"Models.Name", kText, 50},    {"Parts.Name", kText, 50},
       {"StartYear", kShort, 0},      {"EndYear", kShort, 0},        {"EndMonth", kShort, 0},
       {"Auto.ID", kAuto, 0}});

  qryPrnDetails = MakeQuery(
      this, "qryPrnDetails", ctStatic,
      {"SELECT Auto.ID, Auto.Picture, Brands.Name, Models.Name, Engines.Def, Auto.Def, Auto.EndYear, Auto.EndMonth, "
       "Auto.StartYear, Auto.StartMonth, Auto.Others, Auto.hatchback, Auto.sedan, Auto.cabrio, Auto.estate, "
       "Auto.van, Auto.coupe, Fuels.Def",
       "FROM (((Engines INNER JOIN Auto ON Engines.ID = Auto.Engine_ID) INNER JOIN Brands ON Auto.Brand_ID = "
       "Brands.ID) INNER JOIN Models ON Auto.Model_ID = Models.ID) INNER JOIN Fuels ON Auto.Fuel_ID = Fuels.ID ",
       "WHERE Auto.ID=:AutoID ; "},
      {{"ID", kAuto, 0},           {"Picture", kText, 255},   {"Brands.Name", kText, 50}, {"Models.Name", kText, 50},
       {"Engines.Def", kText, 50}, {"Auto.Def", kText, 50},   {"EndYear", kShort, 0},     {"EndMonth", kShort, 0},
       {"StartYear", kShort, 0},   {"StartMonth", kShort, 0}, {"Others", kText, 255},     {"hatchback", kBool, 0},
       {"sedan", kBool, 0},        {"cabrio", kBool, 0},      {"estate", kBool, 0},       {"van", kBool, 0},
       {"coupe", kBool, 0},        {"Fuels.Def", kText, 50}});
  qryRepEngineDefs = MakeQuery(this, "qryRepEngineDefs", ctStatic,
                               {"SELECT * FROM EngineDefs WHERE Auto_ID=:AutoID ;"},
                               {{"ID", kAuto, 0},
                                {"Auto_ID", kLong, 0},
                                {"Def", kText, 50},
                                {"cc", kLong, 0},
                                {"HP", kLong, 0},
                                {"KW", kLong, 0}});
  qryRepEngineTypes = MakeQuery(this, "qryRepEngineTypes", ctStatic,
                                {"SELECT * FROM EngineTypes WHERE Auto_ID=:AutoID;"},
                                {{"ID", kAuto, 0}, {"Auto_ID", kLong, 0}, {"Def", kText, 50}});
  qryRepSerials = MakeQuery(
      this, "qryRepSerials", ctStatic,
      {"SELECT DISTINCTROW Serials.ID, Serials.Auto_ID, Serials.Part_ID, Serials.SerialKELV, Serials.SerialBOSAL, "
       "Serials.SerialWALKER, Serials.Other, Parts.ID, Parts.Name",
       "FROM Parts INNER JOIN Serials ON Parts.ID = Serials.Part_ID ", "WHERE Serials.Auto_ID=:AutoID;"},
      {{"Serials.ID", kAuto, 0},
       {"Auto_ID", kLong, 0},
       {"Part_ID", kLong, 0},
       {"SerialKELV", kText, 50},
       {"SerialBOSAL", kText, 50},
       {"SerialWALKER", kText, 50},
       {"Other", kText, 255},
       {"Parts.ID", kAuto, 0},
       {"Name", kText, 50}});

  dsFillBrands = MakeSource(this, "dsFillBrands", qryFillBrands);
  dsFillModels = MakeSource(this, "dsFillModels", qryFillModels);
  dsFillEngines = MakeSource(this, "dsFillEngines", qryFillEngines);
  dsFillDetails = MakeSource(this, "dsFillDetails", qryFillDetails);
  dsSearchSerial = MakeSource(this, "dsSearchSerial", qrySearchSerial);
  DSPrnDetails = MakeSource(this, "DSPrnDetails", qryPrnDetails);

  RvProject1 = new TRvProject(this);
  RvProject1->SetName("RvProject1");
  RVDSAuto = MakeConnection(this, "RVDSAuto", qryPrnDetails);
  rvDSEngineDefs = MakeConnection(this, "rvDSEngineDefs", qryRepEngineDefs);
  rvDSEngineTypes = MakeConnection(this, "rvDSEngineTypes", qryRepEngineTypes);
  rvDSSerials = MakeConnection(this, "rvDSSerials", qryRepSerials);

  qryFillDetails->AfterScroll = [this](TDataSet* DataSet) { qryFillDetailsAfterScroll(DataSet); };
  qrySearchSerial->AfterScroll = [this](TDataSet* DataSet) { qrySearchSerialAfterScroll(DataSet); };

  DataModuleCreate(this);
}

TDM::~TDM() {
  if (DM == this) DM = nullptr;
}

void TDM::DataModuleCreate(TObject* /*Sender*/) {
  Conn->Close();
  try {
    const std::string source = ExtractFileDir(ExecutableFolder()) + "\\DB\\kelv.m$$";
    Conn->SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=" + source);
    Conn->SetConnected(true);
  } catch (const Exception&) {
    MissingDatabaseShown = true;
    if (ShowMessageHook) ShowMessageHook(kMissingDatabaseMessage);
  }
}

void TDM::qryFillDetailsAfterScroll(TDataSet* /*DataSet*/) {
  if (BrowseTreeLoaded && BrowseTreeLoaded() && BrowseShowDetails) BrowseShowDetails();
}

void TDM::qrySearchSerialAfterScroll(TDataSet* /*DataSet*/) {
  if (SearchShowDetails) SearchShowDetails();
}

void TDM::OpenForAuto(TADOQuery* Query, const std::string& AutoID) {
  Query->Close();
  Query->SetFilter("");
  Query->SetFiltered(false);
  Query->Parameters().ParamByName("AutoID")->SetValue(AutoID);
  Query->SetActive(true);
}

void TDM::PrintAutoReport(const std::string& PicturePath, const std::string& AutoID) {
  for (TADOQuery* q : {qryPrnDetails, qryRepEngineDefs, qryRepEngineTypes, qryRepSerials}) OpenForAuto(q, AutoID);
  const std::string folder = ExecutableFolder();
  RvProject1->SetProjectFile(folder + "kelv2.rav");
  RvProject1->Open();
  RvProject1->SetParam("bmpAutoPicture", PicturePath);
  static constexpr struct {
    const char* Field;
    const char* Param;
    const char* Icon;
  } kBodyTypes[] = {{"hatchback", "bmpHatchback", "res/Hatchback.bmp"}, {"van", "bmpVan", "res/Van.bmp"},
                    {"estate", "bmpEstate", "res/Estate.bmp"},          {"coupe", "bmpCoupe", "res/Coupe.bmp"},
                    {"sedan", "bmpSedan", "res/Sedan.bmp"},             {"cabrio", "bmpCabrio", "res/Cabrio.bmp"}};
  for (const auto& body : kBodyTypes)
    if (qryPrnDetails->FieldByName(body.Field)->AsBoolean()) RvProject1->SetParam(body.Param, folder + body.Icon);
  RvProject1->ExecuteReport("MasterReport");
  RvProject1->Close();
}
