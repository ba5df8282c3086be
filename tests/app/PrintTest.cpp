// Printing the data sheet from the browse and search windows on the window tests' catalogue: the
// parameters the report gets, the temporary bitmap (where it goes, what it holds, also of a GIF
// picture, that a second print overwrites it), the sheet written as a PDF file and read back,
// and a missing project.
#include <QImage>
#include <QMap>
#include <QPushButton>
#include <cstdlib>
#include <optional>

#include "AppTestSupport.h"
#include "app/DetailsView.h"
#include "gif/Image.h"
#include "platform/report/Report.h"
#include "platform/ui/Mask.h"
#include "platform/report/ReportTestSupport.h"
#include "support/TestSupport.h"

using namespace apptest;

namespace {

const char* const kParams[] = {"bmpAutoPicture", "bmpHatchback", "bmpVan",   "bmpEstate",
                               "bmpCoupe",       "bmpSedan",     "bmpCabrio"};

// An environment variable set (or unset) for a while.
class EnvVar {
 public:
  EnvVar(const char* Name, const char* Value) : FName(Name) {
    if (const char* old = std::getenv(Name)) FOld = old;
    if (Value)
      setenv(Name, Value, 1);
    else
      unsetenv(Name);
  }
  ~EnvVar() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Largest difference of one colour channel between two pictures of the same size (-1: sizes differ).
int Difference(const QImage& A, const QImage& B) {
  if (A.size() != B.size()) return -1;
  int worst = 0;
  for (int y = 0; y < A.height(); ++y)
    for (int x = 0; x < A.width(); ++x) {
      const QColor a = A.pixelColor(x, y), b = B.pixelColor(x, y);
      worst = std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                        std::abs(a.blue() - b.blue())});
    }
  return worst;
}

}  // namespace

class PrintTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ProgramFolder> FFolder;
  std::unique_ptr<QTemporaryDir> FTemp;
  std::unique_ptr<EnvVar> FTempVar;
  std::unique_ptr<MessageBoxes> FBoxes;

  QString TempFile() const { return FTemp->filePath("tmp_rep.bmp"); }
  std::string Res(const char* Icon) const { return (FFolder->Path() / "res" / Icon).string(); }

  // Clicks Button and answers the engine's "Output Options": file output to Pdf, or Cancel when
  // Pdf is empty. Params: the report's parameters as they were while the dialog was up.
  static void Print(QPushButton* Button, QMap<QString, QString>& params, const QString& Pdf = {}) {
    params.clear();
    reporttest::TWatch watch(QStringLiteral("OutputOptions"), [&](QWidget* Dialog) {
      for (const char* p : kParams) params[p] = Q(DM->RvProject1->GetParam(p));
      if (Pdf.isEmpty()) {
        Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
        return;
      }
      Dialog->findChild<QRadioButton*>(QStringLiteral("rbFile"))->click();
      Dialog->findChild<QLineEdit*>(QStringLiteral("edtFileName"))->setText(Pdf);
      Dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QVERIFY(Button->isEnabled());
    QTest::mouseClick(Button, Qt::LeftButton);
    QVERIFY(watch.Done());
  }

  // Keeps the sheet where a person can look at it.
  static void KeepPicture(const QString& Pdf, const char* Name) {
    if (!testsupport::HaveProgram("pdftoppm")) return;
    const std::string out = (reporttest::ArtifactDir() / Name).string();
    testsupport::RunCommand("pdftoppm -r 90 -png -singlefile '" + Pdf.toStdString() + "' '" + out + "'");
  }

  static void SelectVersion(const QStringList& Engine, const char* AutoID) {
    TTreeNode* node = Node(frmBrowseN->treeMenu, Engine);
    QVERIFY(node);
    frmBrowseN->treeMenu->SetSelected(node);
    const int row = RowOf(DM->qryFillDetails, "Auto.ID", AutoID);
    QVERIFY(row >= 0);
    ClickRow(frmBrowseN->dbGridResults, row);
    QCOMPARE(Q(DM->qryFillDetails->FieldByName("Auto.ID")->AsString()), QString(AutoID));
  }

 private slots:
  void init() {
    if (!HaveCatalogue()) QSKIP("window tests' catalogue not built");
    FFolder = std::make_unique<ProgramFolder>();
    FTemp = std::make_unique<QTemporaryDir>();
    FTempVar = std::make_unique<EnvVar>("TEMP", FTemp->path().toUtf8().constData());
    FBoxes = std::make_unique<MessageBoxes>();
    StartProgram();
  }

  void cleanup() {
    EndProgram();
    if (FBoxes) QCOMPARE(FBoxes->Texts, QStringList());
    FBoxes.reset();
    FTempVar.reset();
    FTemp.reset();
    FFolder.reset();
  }

  void browsePrintsTheShownVersion() {
    frmMain->btnBrowse->click();
    SelectVersion({"Тест/Марка", "Купе и ван", "2.0 16V"}, "100");
    QCOMPARE(Shown(frmBrowseN->iAuto), QSize(kCoupe.W, kCoupe.H));
    const QString pdf = FTemp->filePath("coupe.pdf");
    QMap<QString, QString> params;
    Print(frmBrowseN->btnPrint, params, pdf);

    // The shown picture as a bitmap in TEMP; the coupe's icon and no other.
    QCOMPARE(params["bmpAutoPicture"], TempFile());
    QCOMPARE(params["bmpCoupe"], Q(Res("Coupe.bmp")));
    for (const char* other : {"bmpHatchback", "bmpVan", "bmpEstate", "bmpSedan", "bmpCabrio"})
      QVERIFY2(params[other].isEmpty(), other);
    const QImage bitmap(TempFile(), "BMP");
    QCOMPARE(bitmap.size(), QSize(kCoupe.W, kCoupe.H));
    QCOMPARE(bitmap.pixelColor(kCoupe.W / 2, kCoupe.H / 2).rgb() & 0xF0F0F0, QColor(255, 0, 255).rgb() & 0xF0F0F0);

    // The next version's picture file is missing: its sheet has no picture, not the coupe's.
    SelectVersion({"Тест/Марка", "Купе и ван", "2.0 16V"}, "101");
    QCOMPARE(Shown(frmBrowseN->iAuto), QSize());
    Print(frmBrowseN->btnPrint, params);
    QCOMPARE(params["bmpAutoPicture"], QString());
    QCOMPARE(params["bmpVan"], Q(Res("Van.bmp")));

    // The sheet: the version's texts and numbers, in Cyrillic.
    if (!testsupport::HaveProgram("pdftotext")) QSKIP("pdftotext not installed");
    const QString text = Q(reporttest::PdfText(pdf.toStdString()));
    // (Long texts wrap in their table cells.)
    for (const char* expected : {"Тест/Марка", "Купе и ван", "2.0 16V", "2.0 Купе", "Бензин", "от 3.2001 до 10.2005",
                                 "1998", "136", "ТСТА", "Гърне с много дълго", "наименование", "ЖК.01.ЯЯ",
                                 "АБВГДЕЖЗИЙКЛ", "ДългоКирилскоИмеНа", "Номер-123"})
      QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    if (testsupport::HaveProgram("pdfimages")) QCOMPARE(reporttest::PdfImageCount(pdf.toStdString()), 2);
    KeepPicture(pdf, "app-browse-coupe");
  }

  void searchPrintsWithoutPicture() {
    // The van's picture file is missing and the search cleared the picture: no bitmap is written
    // and the report gets an empty path.
    frmMain->btnSearch->click();
    Choose(frmSearch->cbManufacturer, "BOSAL");
    TypeText(frmSearch->medCatNumber, "777777");
    QTest::mouseClick(frmSearch->btnDoSearch, Qt::LeftButton);
    QCOMPARE(Q(DM->qrySearchSerial->FieldByName("Auto.ID")->AsString()), QString("101"));
    QCOMPARE(Shown(frmSearch->iAuto), QSize());
    const QString pdf = FTemp->filePath("van.pdf");
    QMap<QString, QString> params;
    Print(frmSearch->btnPrint, params, pdf);
    QCOMPARE(params["bmpAutoPicture"], QString());
    QVERIFY(!QFile::exists(TempFile()));
    QCOMPARE(params["bmpVan"], Q(Res("Van.bmp")));
    for (const char* other : {"bmpHatchback", "bmpEstate", "bmpCoupe", "bmpSedan", "bmpCabrio"})
      QVERIFY2(params[other].isEmpty(), other);

    if (!testsupport::HaveProgram("pdftotext")) QSKIP("pdftotext not installed");
    const QString text = Q(reporttest::PdfText(pdf.toStdString()));
    for (const char* expected : {"Тест/Марка", "2.0 Ван", "Дизел", "Товарен", "2.0 TDCi", "ТСТБ", "ТСТВ",
                                 "Предно гърне", "Задно гърне", "AB.12.", "777-777", "AB.12.01", "777-778", "W'1"})
      QVERIFY2(text.contains(QString::fromUtf8(expected)), expected);
    if (testsupport::HaveProgram("pdfimages")) QCOMPARE(reporttest::PdfImageCount(pdf.toStdString()), 1);
    KeepPicture(pdf, "app-search-van");
  }

  void printingAgainOverwritesTheBitmap() {
    frmMain->btnBrowse->click();
    SelectVersion({"Ford", "Focus", "1.6i"}, "1");
    QMap<QString, QString> params;
    Print(frmBrowseN->btnPrint, params);
    QCOMPARE(params["bmpAutoPicture"], TempFile());
    QCOMPARE(params["bmpHatchback"], Q(Res("Hatchback.bmp")));
    const QString focus = Q((FFolder->Path() / "images" / "Ford" / "focus.jpg").string());
    QCOMPARE(Difference(QImage(TempFile(), "BMP"), QImage(focus).convertToFormat(QImage::Format_RGB32)), 0);

    // Another version: the same file now holds its picture; the hatchback's icon is gone.
    SelectVersion({"Ford", "Focus", "1.6i"}, "2");
    Print(frmBrowseN->btnPrint, params);
    QCOMPARE(params["bmpAutoPicture"], TempFile());
    QCOMPARE(params["bmpSedan"], Q(Res("Sedan.bmp")));
    QVERIFY(params["bmpHatchback"].isEmpty());
    const QString sedan = Q((FFolder->Path() / "images" / "Ford" / "focus_sedan.jpg").string());
    const QImage bitmap(TempFile(), "BMP");
    QCOMPARE(bitmap.size(), QSize(kFocusSedan.W, kFocusSedan.H));
    QVERIFY(Difference(bitmap, QImage(sedan).convertToFormat(QImage::Format_RGB32)) <= 2);
    QCOMPARE(QDir(FTemp->path()).entryList(QDir::Files), QStringList{"tmp_rep.bmp"});
  }

  void gifPictureGoesToTheReportAsBitmap() {
    // A GIF car picture (the GIF library's graphic) is drawn into the temporary bitmap as shown.
    {
      TBitmap bitmap;
      bitmap.SetPixelFormat(pf24bit);
      bitmap.SetWidth(90);
      bitmap.SetHeight(45);
      bitmap.Canvas()->Brush()->SetColor(static_cast<TColor>(0x669933));
      bitmap.Canvas()->FillRect(TRect{0, 0, 90, 45});
      gif::TGIFImage gif;
      gif.Assign(&bitmap);
      gif.SaveToFile((FFolder->Path() / "images" / "Ford" / "focus_tddi.gif").string());
    }
    frmMain->btnBrowse->click();
    SelectVersion({"Ford", "Focus", "1.8 TDDi"}, "7");
    QVERIFY(dynamic_cast<gif::TGIFImage*>(frmBrowseN->iAuto->Picture()->Graphic()));
    QMap<QString, QString> params;
    Print(frmBrowseN->btnPrint, params);
    QCOMPARE(params["bmpAutoPicture"], TempFile());
    const QImage bitmap(TempFile(), "BMP");
    QCOMPARE(bitmap.size(), QSize(90, 45));
    QCOMPARE(bitmap.pixelColor(45, 22), QColor(0x33, 0x99, 0x66));
  }

  void withoutTempTheSystemsTemporaryFolder() {
    // TEMP unset: the system's temporary folder, not the root of the file system.
    QTemporaryDir system;
    EnvVar noTemp("TEMP", nullptr);
    EnvVar tmpdir("TMPDIR", system.path().toUtf8().constData());
    QCOMPARE(Q(ReportPictureFile()), system.filePath("tmp_rep.bmp"));
    frmMain->btnSearch->click();
    Choose(frmSearch->cbManufacturer, "KELV");
    TypeText(frmSearch->medCatNumber, "ЖК01ЯЯ");
    QTest::keyClick(frmSearch->medCatNumber, Qt::Key_Return);
    QMap<QString, QString> params;
    Print(frmSearch->btnPrint, params);
    QCOMPARE(params["bmpAutoPicture"], system.filePath("tmp_rep.bmp"));
    QCOMPARE(QImage(system.filePath("tmp_rep.bmp"), "BMP").size(), QSize(kCoupe.W, kCoupe.H));
    QVERIFY(!QFile::exists(TempFile()));
  }

  void missingProjectIsTheEnginesMessage() {
    std::filesystem::remove(FFolder->Path() / "kelv2.rav");
    frmMain->btnBrowse->click();
    SelectVersion({"Ford", "Focus", "1.6i"}, "1");
    reporttest::TWatch options(QStringLiteral("OutputOptions"), [](QWidget* Dialog) { Dialog->close(); }, 1);
    QTest::mouseClick(frmBrowseN->btnPrint, Qt::LeftButton);
    // The engine's own message box, and nothing else.
    QCOMPARE(FBoxes->Texts, QStringList{QString(kRvProjectMissingMessage) + "\n" + Q((FFolder->Path() / "kelv2.rav").string())});
    QCOMPARE(FBoxes->Captions, QStringList{"Error"});
    FBoxes->Texts.clear();
    QVERIFY(!options.Done());
    // The queries were opened for the version before the project was looked for.
    QCOMPARE(Q(DM->qryPrnDetails->FieldByName("Auto.Def")->AsString()), QString("1.6i Хечбек"));
  }

  void graphicToBitmapTakesTheGraphicsSize() {
    TBitmap bitmap;
    bitmap.SetWidth(300);
    bitmap.SetHeight(10);
    TJPEGImage jpeg;
    jpeg.LoadFromFile((FFolder->Path() / "images" / "lada-vaz" / "NIVA.JPG").string());
    TfrmMain::GraphicToBitmap(&jpeg, &bitmap);
    QCOMPARE(bitmap.Width(), kNiva.W);
    QCOMPARE(bitmap.Height(), kNiva.H);
    const TColor c = bitmap.Canvas()->Pixels(kNiva.W - 1, kNiva.H - 1);
    QVERIFY((c & 0xFF) > 0xF0 && ((c >> 8) & 0xFF) > 0xF0 && ((c >> 16) & 0xFF) < 0x10);  // yellow
  }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
