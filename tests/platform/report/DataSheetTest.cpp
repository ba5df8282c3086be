// The program's data sheet (app/report/kelv2.rav) on car versions of the writer's test catalogue,
// written to PDF through the Output Options dialog and read back with poppler's tools. The sheets
// are also rendered to PNG in the build tree (artifacts/) for a person to look at.
#include <gtest/gtest.h>

#include <QImage>

#include "ReportTestSupport.h"
#include "platform/db/ADODB.h"
#include "platform/report/Report.h"
#include "tests/platform/db/DbTestSupport.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

// The four report queries of the catalogue, as the program declares them.
const char* const kPrnDetails[] = {
    "SELECT Auto.ID, Auto.Picture, Brands.Name, Models.Name, Engines.Def, Auto.Def, Auto.EndYear, Auto.EndMonth, "
    "Auto.StartYear, Auto.StartMonth, Auto.Others, Auto.hatchback, Auto.sedan, Auto.cabrio, Auto.estate, Auto.van, "
    "Auto.coupe, Fuels.Def",
    "FROM (((Engines INNER JOIN Auto ON Engines.ID = Auto.Engine_ID) INNER JOIN Brands ON Auto.Brand_ID = Brands.ID) "
    "INNER JOIN Models ON Auto.Model_ID = Models.ID) INNER JOIN Fuels ON Auto.Fuel_ID = Fuels.ID ",
    "WHERE Auto.ID=:AutoID ; "};
const char* const kEngineDefs[] = {"SELECT * FROM EngineDefs WHERE Auto_ID=:AutoID ;"};
const char* const kEngineTypes[] = {"SELECT * FROM EngineTypes WHERE Auto_ID=:AutoID;"};
const char* const kSerials[] = {
    "SELECT DISTINCTROW Serials.ID, Serials.Auto_ID, Serials.Part_ID, Serials.SerialKELV, Serials.SerialBOSAL, "
    "Serials.SerialWALKER, Serials.Other, Parts.ID, Parts.Name",
    "FROM Parts INNER JOIN Serials ON Parts.ID = Serials.Part_ID ", "WHERE Serials.Auto_ID=:AutoID;"};

struct TBodyType {
  const char* Field;
  const char* Param;
  const char* File;
  const char* Caption;
};
const TBodyType kBodyTypes[] = {{"hatchback", "bmpHatchback", "Hatchback.bmp", "Хечбек"},
                                {"van", "bmpVan", "Van.bmp", "Ван"},
                                {"estate", "bmpEstate", "Estate.bmp", "Комби"},
                                {"coupe", "bmpCoupe", "Coupe.bmp", "Купе"},
                                {"sedan", "bmpSedan", "Sedan.bmp", "Седан"},
                                {"cabrio", "bmpCabrio", "Cabrio.bmp", "Кабриолет"}};

class DataSheet : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_CATALOGUE("edge");
    if (!testsupport::HaveProgram("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    conn = new TADOConnection(&owner);
    conn->SetConnectionString(dbtest::ConnectionString(dbtest::Catalogue("edge")));
    conn->SetLoginPrompt(false);
    conn->Open();
    auto add = [&](const char* Name, auto& Lines) {
      auto* q = new TADOQuery(&owner);
      q->SetConnection(conn);
      for (const char* line : Lines) q->SQL()->Add(line);
      auto* c = new TRvDataSetConnection(&owner);
      c->SetName(Name);
      c->SetDataSet(q);
      queries.push_back(q);
    };
    add("RVDSAuto", kPrnDetails);
    add("rvDSEngineDefs", kEngineDefs);
    add("rvDSEngineTypes", kEngineTypes);
    add("rvDSSerials", kSerials);
    project = new TRvProject(&owner);
  }

  // Prints version AutoID as the program does (picture path or "", icons of its body types) to
  // a PDF file; returns its text. The sheet is also left as PNG and PDF in the artifacts folder.
  std::string Print(const std::string& AutoID, const std::string& Picture) {
    for (TADOQuery* q : queries) {
      q->Close();
      q->Parameters().ParamByName("AutoID")->SetValue(AutoID);
      q->Open();
    }
    project->SetProjectFile((testsupport::SourceDir() / "app/report/kelv2").string());
    project->Open();
    EXPECT_TRUE(project->Active());
    project->SetParam("bmpAutoPicture", Picture);
    const fs::path res = testsupport::SourceDir() / "app/report/res";
    for (const TBodyType& b : kBodyTypes)
      if (queries[0]->FieldByName(b.Field)->AsBoolean()) project->SetParam(b.Param, (res / b.File).string());
    const fs::path pdf = ArtifactDir() / ("MasterReport-auto" + AutoID + ".pdf");
    fs::remove(pdf);
    auto watch = ChooseFileOutput(QString::fromStdString(pdf.string()));
    project->ExecuteReport("MasterReport");
    project->Close();
    EXPECT_TRUE(watch->Done());
    EXPECT_TRUE(fs::exists(pdf));
    lastPdf = pdf.string();
    if (testsupport::HaveProgram("pdftoppm"))
      testsupport::RunCommand("pdftoppm -r 110 -png '" + pdf.string() + "' '" +
                              (ArtifactDir() / ("MasterReport-auto" + AutoID)).string() + "'");
    return PdfText(pdf.string());
  }

  std::string CarPicture() {
    QImage img(QString::fromStdString((testsupport::SourceDir() / "demo/images/Opel/astra_cabrio.jpg").string()));
    if (img.isNull()) {  // a plain stand-in when the demo pictures are not there
      img = QImage(320, 200, QImage::Format_RGB32);
      img.fill(QColor(90, 140, 200));
    }
    const fs::path file = dir / "tmp_rep.bmp";
    img.save(QString::fromStdString(file.string()), "BMP");
    return file.string();
  }

  static void ExpectAll(const std::string& Text, std::initializer_list<const char*> Expected) {
    for (const char* e : Expected) EXPECT_NE(Text.find(e), std::string::npos) << "missing: " << e << "\n" << Text;
  }
  static void ExpectNone(const std::string& Text, std::initializer_list<const char*> Absent) {
    for (const char* e : Absent) EXPECT_EQ(Text.find(e), std::string::npos) << "present: " << e << "\n" << Text;
  }

  testsupport::TempDir dir;
  TComponent owner{nullptr};
  TADOConnection* conn{nullptr};
  std::vector<TADOQuery*> queries;
  TRvProject* project{nullptr};
  std::string lastPdf;
};

}  // namespace

// A version with four body types, a picture, engine data, no engine types and one part.
TEST_F(DataSheet, VersionWithPictureAndFourBodyTypes) {
  const std::string text = Print("6", CarPicture());
  ExpectAll(text, {"Лист с данни за автомобил", "Ford Focus", "Марка:", "Модел:", "Двигател:", "Версия:",
                   "Производство:", "Гориво:", "Забележки:", "1.6i", "1.6i CNG", "Газ \"CNG\"", "от 1.2000 до 12.2003",
                   "Тип каросерия", "Ван", "Комби", "Купе", "Кабриолет", "Данни за двигателя", "1.6i 16V CNG", "1596",
                   "94", "69", "Типове двигатели", "Няма въведени типове двигатели.", "Каталожни номера", "Част",
                   "KELV", "BOSAL", "WALKER", "Катализатор", "FO.16.03", "099-512", "20437"});
  ExpectNone(text, {"Хечбек", "Седан"});
  EXPECT_EQ(PdfPageCount(lastPdf), 1);
  if (testsupport::HaveProgram("pdfimages")) {
    EXPECT_EQ(PdfImageCount(lastPdf), 5);  // the car and four icons
  }
}

// An estate only, without a picture: no car picture is drawn, only its icon; catalogue numbers
// with quote characters come out as they are.
TEST_F(DataSheet, EstateWithoutPicture) {
  const std::string text = Print("8", "");
  ExpectAll(text, {"Škoda Octavia", "1.9 TDI Комби", "Дизел", "от 3.1998 до 11.2004", "Комби", "ALH", "1896",
                   "Предно гърне", "Задно гърне", "SK.19.01", "256-041", "O'Neil-7", "SK'19.02", "15'123"});
  ExpectNone(text, {"Купе", "Ван", "Хечбек", "Седан", "Кабриолет"});
  if (testsupport::HaveProgram("pdfimages")) {
    EXPECT_EQ(PdfImageCount(lastPdf), 1);
  }
}

// A coupe-less van-less hatchback and sedan with two engine types and long catalogue numbers.
TEST_F(DataSheet, LongCatalogueNumbersStayOnTheSheet) {
  const std::string text = Print("7", CarPicture());
  ExpectAll(text, {"1.8 TDDi", "Хечбек", "Седан", "C9DA", "FO.18.TDDI", "123-456-789012", "WALKER-"});
  ExpectNone(text, {"Купе", "Ван"});
}
