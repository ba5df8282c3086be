// The report engine: opening projects, parameters, the checks before a report runs, the layout
// of images, icons and tables, and output through the engine's windows to a PDF file and the
// preview.
#include <gtest/gtest.h>

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QFileDialog>
#include <fstream>

#include "FakeDataSet.h"
#include "ReportTestSupport.h"
#include "platform/report/Report.h"
#include "platform/report/ReportEngine.h"

namespace fs = std::filesystem;
using namespace reporttest;

namespace {

void WriteText(const fs::path& File, const std::string& Text) {
  std::ofstream(File, std::ios::binary) << Text;
}

// A BMP file of W x H pixels in one colour.
std::string MakeBmp(const fs::path& File, int W, int H, QColor Color = QColor(40, 80, 160)) {
  QImage img(W, H, QImage::Format_RGB32);
  img.fill(Color);
  EXPECT_TRUE(img.save(QString::fromStdString(File.string()), "BMP"));
  return File.string();
}

// Counts how often a window with that object name is shown.
class TShowCounter : public QObject {
 public:
  explicit TShowCounter(QString Name) : FName(std::move(Name)) { qApp->installEventFilter(this); }
  ~TShowCounter() override { qApp->removeEventFilter(this); }
  int Count{0};

 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Show && Watched->isWidgetType() && Watched->objectName() == FName) ++Count;
    return false;
  }

 private:
  QString FName;
};

const char* const kSheet = R"(kelvrav 1
report "Sheet"
  font Body "DejaVu Sans" 10
  font Bold "DejaVu Sans" 10 bold
  band 40
    text 0 0 120 8 "Марка: {Car.Brand} модел {Car.Model}" font=Bold
    text 0 10 120 8 "Бележка: {Car.Note}"
    image 130 0 50 30 bmpPicture
    icons 0 30 5 font=Body
      icon bmpVan "Ван"
      icon bmpCoupe "Купе"
    end
  end
  table Parts header=Bold headerfill=#E4EAF3 empty="Няма каталожни номера."
    column 80 "Част" "{Parts.Name}"
    column 50 "KELV" "{Parts.Serial}" align=right
  end
end
)";

class ReportEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    savedHook = TRvProject::MessageHook;
    TRvProject::MessageHook = [this](const std::string& Msg) { messages.push_back(Msg); };
    car.Open();
    parts.Open();
    carConn = new TRvDataSetConnection(&owner);
    carConn->SetName("Car");
    carConn->SetDataSet(&car);
    partsConn = new TRvDataSetConnection(&owner);
    partsConn->SetName("Parts");
    partsConn->SetDataSet(&parts);
    project = new TRvProject(&owner);
  }
  void TearDown() override { TRvProject::MessageHook = savedHook; }

  std::string Project(const std::string& Text, const std::string& Name = "sheet.rav") {
    WriteText(dir / Name, Text);
    return (dir / Name).string();
  }

  testsupport::TempDir dir;
  std::function<void(const std::string&)> savedHook;
  std::vector<std::string> messages;
  TFakeDataSet car{{"Brand", "Model", "Note"}, {{"Škoda", "Октавия", std::nullopt}, {"Ford", "Focus", "втори"}}};
  TFakeDataSet parts{{"Name", "Serial"},
                     {{"Предно гърне", "SK.19.01"}, {"Задно гърне", "SK'19.02"}, {"Катализатор", std::nullopt}}};
  TComponent owner{nullptr};
  TRvDataSetConnection* carConn{nullptr};
  TRvDataSetConnection* partsConn{nullptr};
  TRvProject* project{nullptr};
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The project

TEST_F(ReportEngine, ProjectFileGetsRavOnlyWhenTheNameHasNoDot) {
  project->SetProjectFile("/opt/kelv.1/kelv2");
  EXPECT_EQ(project->ProjectFile(), "/opt/kelv.1/kelv2.rav");
  project->SetProjectFile("C:\\KELV\\kelv2");
  EXPECT_EQ(project->ProjectFile(), "C:\\KELV\\kelv2.rav");
  project->SetProjectFile("/opt/kelv/report.old");
  EXPECT_EQ(project->ProjectFile(), "/opt/kelv/report.old");
  project->SetProjectFile("");
  EXPECT_EQ(project->ProjectFile(), "");
}

TEST_F(ReportEngine, MissingProjectShowsTheMessageAndNothingElseHappens) {
  const std::string path = (dir / "kelv2.rav").string();
  project->SetProjectFile(path);
  auto watch = CancelOutputOptions(1);
  project->Open();
  EXPECT_FALSE(project->Active());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], std::string("The following reporting project does not exist:\n") + path);
  project->SetParam("bmpAutoPicture", "");
  EXPECT_NO_THROW(project->ExecuteReport("MasterReport"));
  project->Close();
  Pump(100);
  EXPECT_FALSE(watch->Done());
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(ReportEngine, OpensWhateverTheLetterCaseAndSeparators) {
  Project(kSheet, "Sheet.RAV");
  project->SetProjectFile(dir.path().string() + "\\SHEET");
  project->Open();
  EXPECT_TRUE(project->Active());
  EXPECT_TRUE(messages.empty());
}

TEST_F(ReportEngine, UnreadableProjectRaisesWithFileAndLine) {
  const std::string path = Project("kelvrav 1\nreport \"R\"\n  band 10\n    text 0 0 500 5 \"x\"\n  end\nend\n");
  project->SetProjectFile(path);
  try {
    project->Open();
    FAIL() << "no error";
  } catch (const EReportError& E) {
    EXPECT_NE(E.Message().find(path + ", line 4: the item reaches past its band"), std::string::npos) << E.Message();
  }
  EXPECT_FALSE(project->Active());
  EXPECT_TRUE(messages.empty());
}

TEST_F(ReportEngine, ParametersIgnoreCaseAndCloseForgetsThem) {
  project->SetProjectFile(Project(kSheet));
  project->Open();
  project->SetParam("bmpCoupe", "/a.bmp");
  project->SetParam("BMPCOUPE", "/b.bmp");
  EXPECT_EQ(project->GetParam("bmpcoupe"), "/b.bmp");
  EXPECT_EQ(project->GetParam("bmpVan"), "");
  project->Close();
  EXPECT_FALSE(project->Active());
  EXPECT_EQ(project->GetParam("bmpCoupe"), "");
}

TEST_F(ReportEngine, DataProblemsAreReportedBeforeAnyWindowOpens) {
  project->SetProjectFile(Project(kSheet));
  project->Open();
  auto watch = CancelOutputOptions(2);
  auto run = [&](const char* Expected, const char* Report = "sheet") {
    try {
      project->ExecuteReport(Report);
      ADD_FAILURE() << "no error, expected " << Expected;
    } catch (const EReportError& E) {
      EXPECT_NE(E.Message().find(Expected), std::string::npos) << E.Message();
    }
  };
  run("has no report named Other", "Other");
  partsConn->SetName("Serials");
  run("there is no data connection named Parts");
  partsConn->SetName("Parts");
  partsConn->SetDataSet(nullptr);
  run("Data connection Parts has no data set");
  partsConn->SetDataSet(&parts);
  parts.Close();
  run("Data connection Parts: the data set is closed");
  parts.Open();
  TFakeDataSet narrow{{"Name"}, {}};
  narrow.Open();
  partsConn->SetDataSet(&narrow);
  run("Data connection Parts has no field Serial");
  Pump(50);
  EXPECT_FALSE(watch->Done());
}

TEST_F(ReportEngine, ConnectionsOfTheProjectsOwnerComeFirst) {
  TComponent other(nullptr);
  auto* stranger = new TRvDataSetConnection(&other);
  stranger->SetName("CAR");
  EXPECT_EQ(TRvDataSetConnection::Find("car", &owner), carConn);
  EXPECT_EQ(TRvDataSetConnection::Find("car", &other), stranger);
  EXPECT_EQ(TRvDataSetConnection::Find("car", nullptr), carConn);  // the older one
  EXPECT_EQ(carConn->RuntimeVisibility(), rtDeveloper);
  delete stranger;
  EXPECT_EQ(TRvDataSetConnection::Find("car", &other), carConn);
}

// ---------------------------------------------------------------------------------------------
// Layout

namespace {

kelvrep::TReportDef Def(const std::string& Text) {
  kelvrep::TProjectDef p = kelvrep::ParseProject(Text, "t.rav");
  return p.Reports.at(0);
}

std::vector<const kelvrep::TOp*> OpsOf(const kelvrep::TDocument& Doc, kelvrep::TOp::Kind Kind) {
  std::vector<const kelvrep::TOp*> out;
  for (const kelvrep::TPage& p : Doc.Pages)
    for (const kelvrep::TOp& op : p.Ops)
      if (op.Type == Kind) out.push_back(&op);
  return out;
}

QStringList TextsOf(const kelvrep::TDocument& Doc) {
  QStringList out;
  for (const kelvrep::TOp* op : OpsOf(Doc, kelvrep::TOp::Text)) out << op->Str;
  return out;
}

kelvrep::TParamLookup Params(std::map<std::string, std::string> Values) {
  return [Values](const std::string& Name) {
    auto it = Values.find(Name);
    return it == Values.end() ? std::string() : it->second;
  };
}

}  // namespace

TEST_F(ReportEngine, IconsAppearOnlyForParametersThatAreSet) {
  const kelvrep::TReportDef r = Def(
      "kelvrav 1\nreport \"R\"\n  band 20\n    icons 10 0 8 gap=5\n      icon bmpVan \"Ван\"\n"
      "      icon bmpCoupe \"Купе\"\n      icon bmpSedan \"Седан\"\n    end\n  end\nend\n");
  const std::string coupe = MakeBmp(dir / "Coupe.bmp", 64, 40);
  kelvrep::TDataSnapshot none;

  // Only the coupe: one icon, 8 mm high in the icon's proportions, at the row's start.
  kelvrep::TDocument doc = kelvrep::LayOut(r, none, Params({{"bmpCoupe", coupe}, {"bmpSedan", ""}}));
  auto images = OpsOf(doc, kelvrep::TOp::Image);
  ASSERT_EQ(images.size(), 1u);
  EXPECT_NEAR(images[0]->R.height(), 8, 1e-6);
  EXPECT_NEAR(images[0]->R.width(), 8 * 64.0 / 40, 1e-6);
  EXPECT_NEAR(images[0]->R.left(), 15 + 10, 1e-6);
  EXPECT_EQ(TextsOf(doc), QStringList{QStringLiteral("Купе")});

  // The van as well, its file missing: its caption, no picture, and no gap left for the sedan.
  doc = kelvrep::LayOut(r, none, Params({{"bmpCoupe", coupe}, {"bmpVan", (dir / "Van.bmp").string()}}));
  EXPECT_EQ(OpsOf(doc, kelvrep::TOp::Image).size(), 1u);
  EXPECT_EQ(TextsOf(doc), (QStringList{QStringLiteral("Ван"), QStringLiteral("Купе")}));

  // None set: nothing at all.
  doc = kelvrep::LayOut(r, none, Params({}));
  EXPECT_TRUE(doc.Pages.at(0).Ops.empty());
}

TEST_F(ReportEngine, ImagesFitTheirBoxInProportionOrDrawNothing) {
  const kelvrep::TReportDef r = Def("kelvrav 1\nreport \"R\"\n  band 100\n    image 10 20 80 60 pic\n  end\nend\n");
  kelvrep::TDataSnapshot none;
  auto only = [&](const std::string& Value) {
    const kelvrep::TDocument doc = kelvrep::LayOut(r, none, Params({{"pic", Value}}));
    auto images = OpsOf(doc, kelvrep::TOp::Image);
    return images.size() == 1 ? images[0]->R : QRectF();
  };
  // Wide picture: full width, centred vertically (the box is at 15+10, 15+20).
  QRectF wide = only(MakeBmp(dir / "wide.bmp", 200, 100));
  EXPECT_NEAR(wide.width(), 80, 1e-6);
  EXPECT_NEAR(wide.height(), 40, 1e-6);
  EXPECT_NEAR(wide.left(), 25, 1e-6);
  EXPECT_NEAR(wide.top(), 35 + 10, 1e-6);
  // Tall and small picture: enlarged to the full height, centred horizontally.
  QRectF tall = only(MakeBmp(dir / "tall.bmp", 10, 20));
  EXPECT_NEAR(tall.height(), 60, 1e-6);
  EXPECT_NEAR(tall.width(), 30, 1e-6);
  EXPECT_NEAR(tall.left(), 25 + 25, 1e-6);

  // Upper-case name with Windows separators still finds the file.
  std::string upper = dir.path().string() + "\\WIDE.BMP";
  EXPECT_FALSE(only(upper).isNull());

  WriteText(dir / "garbage.bmp", "BM this is not a bitmap");
  for (const std::string& bad : {std::string(), (dir / "absent.bmp").string(), (dir / "garbage.bmp").string(),
                                 dir.path().string()})
    EXPECT_TRUE(only(bad).isNull()) << bad;
  const kelvrep::TDocument unset = kelvrep::LayOut(r, none, Params({}));
  EXPECT_TRUE(OpsOf(unset, kelvrep::TOp::Image).empty());
}

TEST_F(ReportEngine, PicturesShrinkByDroppingRowsAndColumns) {
  SKIP_WITHOUT_PROGRAM("convert");
  // 1600 x 1200 into an 80 x 60 mm box at 127 dots per inch: 400 x 300 pixels at (125, 175).
  const kelvrep::TReportDef r = Def("kelvrav 1\nreport \"R\"\n  band 100\n    image 10 20 80 60 pic\n  end\nend\n");
  kelvrep::TDataSnapshot none;
  const std::string picture = (dir / "picture.bmp").string(), reference = (dir / "reference.ppm").string();
  for (const std::string source : {"gradient:#102030-#F0E0D0", "plasma:fractal"}) {
    ASSERT_EQ(testsupport::RunCommand("convert -seed 7 -size 1600x1200 " + source + " -type TrueColor BMP3:" + picture), 0);
    ASSERT_EQ(testsupport::RunCommand("convert " + picture + " -sample 400x300! " + reference), 0);
    const QImage page = kelvrep::RenderPage(kelvrep::LayOut(r, none, Params({{"pic", picture}})), 0, 127);
    const QImage shown = page.copy(125, 175, 400, 300);
    const QImage expected(QString::fromStdString(reference));
    ASSERT_EQ(shown.size(), expected.size());
    // Row by row on average, where a row whose centre falls between two source rows may take
    // either; on the whole picture the same pixels as the sample (blending would not be).
    long total = 0;
    for (int y = 0; y < 300; ++y) {
      long sum = 0;
      for (int x = 0; x < 400; ++x) {
        const QColor a = shown.pixelColor(x, y), b = expected.pixelColor(x, y);
        sum += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
      }
      ASSERT_LE(sum / (3.0 * 400), 8) << source << ": row " << y;
      total += sum;
    }
    EXPECT_LE(total / (3.0 * 400 * 300), 0.5) << source;
  }
}

TEST_F(ReportEngine, FieldsOutsideATableReadTheFirstRowAndNullsAreEmpty) {
  const kelvrep::TReportDef r = Def(kSheet);
  kelvrep::TDataSnapshot data;
  auto& c = data.Add("car");
  c.Fields = {"Brand", "Model", "Note"};
  c.Rows = {{"Škoda", "Октавия", ""}, {"Ford", "Focus", "втори"}};
  const QStringList texts = TextsOf(kelvrep::LayOut(r, data, Params({})));
  EXPECT_TRUE(texts.contains(QStringLiteral("Марка: Škoda модел Октавия")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Бележка:")));
  // No rows for Parts: the heading and the empty-table row.
  EXPECT_TRUE(texts.contains(QStringLiteral("Няма каталожни номера.")));
  EXPECT_TRUE(texts.contains(QStringLiteral("Част")));
}

TEST_F(ReportEngine, LongTablesRunOverPagesWithTheirHeadingRepeated) {
  const kelvrep::TReportDef r = Def(kSheet);
  kelvrep::TDataSnapshot data;
  auto& p = data.Add("Parts");
  p.Fields = {"Name", "Serial"};
  for (int i = 1; i <= 120; ++i) p.Rows.push_back({"Част " + std::to_string(i), "N" + std::to_string(i)});
  int progressCalls = 0;
  kelvrep::TDocument doc = kelvrep::LayOut(r, data, Params({}), [&](int Page) {
    EXPECT_EQ(Page, ++progressCalls);
    return true;
  });
  ASSERT_GE(doc.Pages.size(), 3u);
  EXPECT_EQ(progressCalls, static_cast<int>(doc.Pages.size()));
  int row = 0;
  for (const kelvrep::TPage& page : doc.Pages) {
    QStringList texts;
    for (const kelvrep::TOp& op : page.Ops) {
      if (op.Type == kelvrep::TOp::Text) texts << op.Str;
      // Nothing runs past the bottom margin.
      if (op.Type == kelvrep::TOp::Rect) {
        EXPECT_LE(op.R.bottom(), 297 - 15 + 1e-6);
      }
    }
    EXPECT_EQ(texts.count(QStringLiteral("Част")), 1);  // the heading, once per page
    for (const QString& t : texts) {
      if (t.startsWith(QStringLiteral("Част "))) {
        EXPECT_EQ(t, QStringLiteral("Част %1").arg(++row));  // every row once, in order
      }
    }
  }
  EXPECT_EQ(row, 120);

  // Cancelling from the progress callback stops the layout.
  EXPECT_THROW(kelvrep::LayOut(r, data, Params({}), [](int) { return false; }), EAbort);
}

TEST_F(ReportEngine, ARowGrowsForTextThatNeedsMoreLines) {
  const kelvrep::TReportDef r = Def(kSheet);
  kelvrep::TDataSnapshot data;
  auto& p = data.Add("Parts");
  p.Fields = {"Name", "Serial"};
  p.Rows = {{"Гърне", "1"}, {"Предно гърне с монтажен комплект и скоби, дълга база, 4x4, автоматик", "WALKER-1234567890123456789012345"}};
  kelvrep::TDocument doc = kelvrep::LayOut(r, data, Params({}));
  std::vector<double> heights;
  for (const kelvrep::TOp* op : OpsOf(doc, kelvrep::TOp::Rect))
    if (std::abs(op->R.width() - 80) < 1e-6) heights.push_back(op->R.height());
  ASSERT_EQ(heights.size(), 3u);  // heading, two rows
  EXPECT_NEAR(heights[1], 6, 1e-6);
  EXPECT_GT(heights[2], 9);
  // The long number is broken inside the word rather than cut off.
  bool broken = false;
  for (const kelvrep::TOp* op : OpsOf(doc, kelvrep::TOp::Text))
    broken = broken || (op->Str.startsWith(QStringLiteral("WALKER")) && op->Str.contains(QLatin1Char('\n')));
  EXPECT_TRUE(broken);
}

// ---------------------------------------------------------------------------------------------
// Running a report through the engine's windows

TEST_F(ReportEngine, FileOutputWritesAPdfWithTheTextsInCyrillic) {
  if (!testsupport::HaveProgram("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
  project->SetProjectFile(Project(kSheet));
  project->Open();
  project->SetParam("bmpPicture", MakeBmp(dir / "tmp_rep.bmp", 160, 100, Qt::red));
  project->SetParam("bmpCoupe", MakeBmp(dir / "Coupe.bmp", 64, 40));
  parts.SetRecNo(2);
  TShowCounter status(QStringLiteral("ReportStatus"));
  const std::string pdf = (dir / "sheet.pdf").string();
  auto watch = ChooseFileOutput(QString::fromStdString(pdf));
  project->ExecuteReport("Sheet");
  EXPECT_TRUE(watch->Done());
  EXPECT_EQ(status.Count, 1);
  ASSERT_TRUE(fs::exists(pdf));
  EXPECT_EQ(parts.RecNo(), 2);  // the cursor is back where it was
  EXPECT_EQ(FindWindow(QStringLiteral("ReportStatus")), nullptr);

  const std::string text = PdfText(pdf);
  for (const char* expected : {"Марка: Škoda модел Октавия", "Предно гърне", "SK.19.01", "SK'19.02", "Катализатор",
                               "Купе", "Част", "KELV"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  EXPECT_EQ(text.find("Ван"), std::string::npos);
  EXPECT_EQ(PdfPageCount(pdf), 1);
  if (testsupport::HaveProgram("pdfimages")) {
    EXPECT_EQ(PdfImageCount(pdf), 2);  // the picture and one icon
  }

  // A second run with no picture replaces the file: only the icon is left.
  project->SetParam("bmpPicture", "");
  auto again = ChooseFileOutput(QString::fromStdString(pdf));
  project->ExecuteReport("Sheet");
  EXPECT_TRUE(again->Done());
  if (testsupport::HaveProgram("pdfimages")) {
    EXPECT_EQ(PdfImageCount(pdf), 1);
  }
}

TEST_F(ReportEngine, CancelledOutputOptionsWriteNothing) {
  project->SetProjectFile(Project(kSheet));
  project->Open();
  TShowCounter status(QStringLiteral("ReportStatus"));
  auto watch = CancelOutputOptions();
  project->ExecuteReport("Sheet");
  EXPECT_TRUE(watch->Done());
  EXPECT_EQ(status.Count, 0);
  EXPECT_TRUE(fs::is_empty(dir.path()) || !fs::exists(dir / "sheet.pdf"));
}

TEST_F(ReportEngine, OutputOptionsOffersPrinterPreviewAndFile) {
  project->SetProjectFile(Project(kSheet));
  project->Open();
  QStringList seen;
  TWatch watch(QStringLiteral("OutputOptions"), [&](QWidget* w) {
    seen << w->windowTitle();
    for (const char* name : {"rbPrinter", "rbPreview", "rbFile"}) {
      auto* b = w->findChild<QRadioButton*>(QString::fromLatin1(name));
      seen << (b ? b->text().remove(QLatin1Char('&')) : QStringLiteral("?"));
    }
    auto* copies = w->findChild<QSpinBox*>(QStringLiteral("spnCopies"));
    auto* file = w->findChild<QLineEdit*>(QStringLiteral("edtFileName"));
    auto* ok = w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    EXPECT_EQ(copies->value(), 1);
    EXPECT_FALSE(file->isEnabled());  // the preview is chosen first
    w->findChild<QRadioButton*>(QStringLiteral("rbFile"))->click();
    EXPECT_TRUE(file->isEnabled());
    file->clear();
    EXPECT_FALSE(ok->isEnabled());  // no file name, no output
    file->setText(QStringLiteral("/home/user/MasterReport.pdf"));
    w->grab().save(QString::fromStdString((ArtifactDir() / "OutputOptions.png").string()));
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
  });
  project->ExecuteReport("Sheet");
  EXPECT_EQ(seen, (QStringList{"Output Options", "Printer", "Preview", "File"}));
}

TEST_F(ReportEngine, PreviewPagesZoomsAndSaves) {
  // Enough rows for two pages.
  std::vector<std::vector<TCell>> rows;
  for (int i = 1; i <= 60; ++i) rows.push_back({"Част " + std::to_string(i), std::to_string(i)});
  TFakeDataSet many{{"Name", "Serial"}, rows};
  many.Open();
  partsConn->SetDataSet(&many);
  project->SetProjectFile(Project(kSheet));
  project->Open();
  const std::string saved = (dir / "from-preview.pdf").string();

  QStringList pages;
  int width1 = 0, width2 = 0;
  std::unique_ptr<TWatch> save;
  auto options = ChoosePreview();
  TWatch preview(QStringLiteral("ReportPreview"), [&](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Report Preview"));
    auto* label = w->findChild<QLabel*>(QStringLiteral("lblPage"));
    auto* view = w->findChild<QLabel*>(QStringLiteral("lblPageView"));
    pages << label->text();
    EXPECT_FALSE(PreviewAction(w, "actPrior")->isEnabled());
    PreviewAction(w, "actNext")->trigger();
    pages << label->text();
    EXPECT_FALSE(PreviewAction(w, "actNext")->isEnabled());
    PreviewAction(w, "actFirst")->trigger();
    pages << label->text();
    width1 = view->pixmap().width();
    PreviewAction(w, "actZoomIn")->trigger();
    width2 = view->pixmap().width();
    w->grab().save(QString::fromStdString((ArtifactDir() / "ReportPreview.png").string()));
    // Save as PDF through the save dialog, then close the preview.
    save = std::make_unique<TWatch>(QStringLiteral("SaveDialog"), [&](QWidget* d) {
      static_cast<QFileDialog*>(d)->selectFile(QString::fromStdString(saved));
      static_cast<QDialog*>(d)->accept();
    });
    PreviewAction(w, "actSave")->trigger();
    PreviewAction(w, "actClose")->trigger();
  });
  project->ExecuteReport("Sheet");
  EXPECT_TRUE(options->Done());
  EXPECT_TRUE(preview.Done());
  EXPECT_EQ(pages, (QStringList{"Page 1 of 2", "Page 2 of 2", "Page 1 of 2"}));
  EXPECT_GT(width2, width1);
  ASSERT_TRUE(save && save->Done());
  EXPECT_TRUE(fs::exists(saved));
  if (testsupport::HaveProgram("pdfinfo")) {
    EXPECT_EQ(PdfPageCount(saved), 2);
  }
}

TEST_F(ReportEngine, PdfThatCannotBeWrittenRaises) {
  project->SetProjectFile(Project(kSheet));
  project->Open();
  auto watch = ChooseFileOutput(QString::fromStdString((dir / "no-such-folder" / "x.pdf").string()));
  EXPECT_THROW(project->ExecuteReport("Sheet"), EReportError);
  EXPECT_TRUE(watch->Done());
}

TEST_F(ReportEngine, CancelWhileWritingKeepsTheOldFile) {
  const kelvrep::TReportDef r = Def(kSheet);
  kelvrep::TDataSnapshot none;
  const kelvrep::TDocument doc = kelvrep::LayOut(r, none, Params({}));
  const fs::path pdf = dir / "old.pdf";
  WriteText(pdf, "the previous sheet");
  EXPECT_THROW(kelvrep::WritePdf(doc, QString::fromStdString(pdf.string()), [](int) { return false; }), EAbort);
  EXPECT_EQ(testsupport::ReadFile(pdf).size(), std::string("the previous sheet").size());
  kelvrep::WritePdf(doc, QString::fromStdString(pdf.string()));
  const auto written = testsupport::ReadFile(pdf);
  ASSERT_GT(written.size(), 4u);
  EXPECT_EQ(std::string(written.begin(), written.begin() + 4), "%PDF");
}

TEST_F(ReportEngine, StatusWindowShowsProgressAndTakesCancel) {
  kelvrep::TStatusWindow status(QStringLiteral("Sheet"));
  QWidget* w = FindWindow(QStringLiteral("ReportStatus"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), QStringLiteral("Report Status"));
  EXPECT_EQ(w->windowModality(), Qt::ApplicationModal);
  status.SetStatus(QStringLiteral("Generating pages"));
  status.SetPage(3);
  EXPECT_EQ(w->findChild<QLabel*>(QStringLiteral("lblPage"))->text(), QStringLiteral("Page: 3"));
  EXPECT_TRUE(status.Poll());
  w->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
  EXPECT_FALSE(status.Poll());
}
