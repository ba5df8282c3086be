// The browse window as a user drives it on the window tests' catalogue: the tree, the grid, the
// fuel filter, the specification text with its styles, the picture (JPEG and GIF), Print's
// state, the pop-up menu and the clipboard, and the switch to the search window and back.
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "AppTestSupport.h"
#include "gif/Image.h"
#include "platform/ui/Clipbrd.h"
#include "platform/ui/Menus.h"
#include "support/TestSupport.h"

using namespace apptest;

namespace {

// A one-colour GIF picture of W x H saved as FileName.
void WriteGif(const fs::path& FileName, int W, int H, TColor Colour) {
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(W);
  bitmap.SetHeight(H);
  bitmap.Canvas()->Brush()->SetColor(Colour);
  bitmap.Canvas()->FillRect(TRect{0, 0, W, H});
  gif::TGIFImage image;
  image.Assign(&bitmap);
  image.SaveToFile(FileName.string());
}

const QString kHeader = "          KELV        BOSAL      WALKER    ";

// The row of two pictures of one size whose colours differ most, on average over the row and
// in the channel that differs most, with that difference (-1: the sizes differ).
std::pair<int, double> WorstRow(const QImage& A, const QImage& B) {
  if (A.size() != B.size() || A.isNull()) return {-1, -1};
  std::pair<int, double> worst{0, 0};
  for (int y = 0; y < A.height(); ++y) {
    long sum[3] = {0, 0, 0};
    for (int x = 0; x < A.width(); ++x) {
      const QColor a = A.pixelColor(x, y), b = B.pixelColor(x, y);
      sum[0] += std::abs(a.red() - b.red());
      sum[1] += std::abs(a.green() - b.green());
      sum[2] += std::abs(a.blue() - b.blue());
    }
    const double row = static_cast<double>(*std::max_element(sum, sum + 3)) / A.width();
    if (row > worst.second) worst = {y, row};
  }
  return worst;
}

// Focus 1.6i, the version built from October 1998: one body type, two engine types, two parts.
const QStringList kFocusHatchback = {
    "B|Ford  Focus",
    "*|Видове купета",
    "-|       -Хечбек",
    "*|Двигател : 1.6i",
    "*|Производство : 1998.10-2004.11",
    "*|Характеристики",
    "B|       1.6i 16V  1596 CC , 100 Hp , 74 KW",
    "*|Tипове",
    "B|        FYDA",
    "B|        FYDB",
    "*|Каталожни номера",
    "-|        -Предно гърне",
    "-|" + kHeader,
    "-|          FO.16.01    281-723     22364               ",
    "-|        -Задно гърне",
    "-|" + kHeader,
    "-|          FO.16.02    190-171     21891               ",
};

}  // namespace

class BrowseWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ProgramFolder> FFolder;
  std::unique_ptr<MessageBoxes> FBoxes;  // none expected unless a test says so
  int FExpectedBoxes{0};

  static TfrmBrowseN* W() { return frmBrowseN; }
  static TADOQuery* Details() { return DM->qryFillDetails; }

  // Selects a node as the keyboard does (clicks: treeClicksFoldAndUnfold).
  static void SelectEngine(const QStringList& Path) {
    TTreeNode* node = Node(W()->treeMenu, Path);
    QVERIFY2(node, qPrintable(Path.join(" > ")));
    W()->treeMenu->SetSelected(node);
    QCOMPARE(W()->treeMenu->Selected(), node);
  }
  // Clicks the grid row of car version AutoID.
  static void ShowVersion(const char* AutoID) {
    const int row = RowOf(Details(), "Auto.ID", AutoID);
    QVERIFY2(row >= 0, AutoID);
    ClickRow(W()->dbGridResults, row);
    QCOMPARE(Q(Details()->FieldByName("Auto.ID")->AsString()), QString(AutoID));
  }
  static QStringList GridColumn(int Column) {
    QStringList out;
    QAbstractItemModel* m = W()->dbGridResults->model();
    for (int r = 0; r < m->rowCount(); ++r) out << m->index(r, Column).data().toString();
    return out;
  }
  static QStringList Versions() {
    QStringList ids = Column(Details(), "Auto.ID");
    ids.sort();
    return ids;
  }
  // Pixels of Widget, as it paints itself, in any of Colours.
  static int PixelsOf(QWidget* Widget, const QList<QColor>& Colours) {
    const QImage image = Widget->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        for (const QColor& c : Colours) n += image.pixelColor(x, y).rgb() == c.rgb() ? 1 : 0;
    return n;
  }
  // Pops the specification's menu up as a right click does, and closes it again.
  static void PopUpMenu() {
    QWidget* viewport = W()->reSpec->viewport();
    const QPoint at(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
    QApplication::sendEvent(viewport, &event);
    QTRY_VERIFY_WITH_TIMEOUT(W()->SpecPopup->Menu()->isVisible(), testsupport::kHangGuardMs);
    W()->SpecPopup->Menu()->close();
  }

 private slots:
  void init() {
    if (!HaveCatalogue()) QSKIP("window tests' catalogue not built");
    FFolder = std::make_unique<ProgramFolder>();
    FBoxes = std::make_unique<MessageBoxes>();
    FExpectedBoxes = 0;
    StartProgram();
    frmMain->btnBrowse->click();
    QVERIFY(W()->isVisible());
  }

  void cleanup() {
    EndProgram();
    FFolder.reset();
    if (FBoxes) QCOMPARE(FBoxes->Texts.size(), FExpectedBoxes);
    FBoxes.reset();
  }

  void engineNodeShowsItsVersions() {
    QVERIFY(!W()->btnPrint->isEnabled());
    QCOMPARE(W()->focusWidget(), static_cast<QWidget*>(W()->treeMenu));  // FormShow gave the tree the focus
    TTreeNode* engine = Node(W()->treeMenu, {"Ford", "Focus", "1.6i"});
    ClickNode(W()->treeMenu, engine);
    QCOMPARE(W()->treeMenu->Selected(), engine);
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.6i"));
    // Versions without engine data or with a fuel the catalogue lacks are not listed.
    QCOMPARE(Versions(), (QStringList{"1", "2", "5", "6"}));
    QCOMPARE(W()->dbGridResults->model()->rowCount(), 4);
    QCOMPARE(W()->cbFuel->currentIndex(), 0);
    QVERIFY(W()->btnPrint->isEnabled());
    QVERIFY(W()->reSpec->isEnabled());
    QCOMPARE(W()->reSpec->ScrollBars(), ssVertical);

    ShowVersion("1");
    QCOMPARE(Styled(W()->reSpec), kFocusHatchback);
    // Styling selects line by line; the text as built has nothing selected or highlighted.
    QCOMPARE(W()->reSpec->SelLength(), 0);
    QVERIFY(!W()->reSpec->hasFocus());
    QCOMPARE(PixelsOf(W()->reSpec, {QApplication::palette().color(QPalette::Active, QPalette::Highlight),
                                    QApplication::palette().color(QPalette::Inactive, QPalette::Highlight)}),
             0);
    QCOMPARE(Shown(W()->iAuto), QSize(kFocus.W, kFocus.H));
    const QStringList row = {GridColumn(0)[W()->dbGridResults->CurrentRow()], GridColumn(8)[W()->dbGridResults->CurrentRow()]};
    QCOMPARE(row, (QStringList{"1.6i 16V", "Бензин"}));

    // A picture value with a folder: its file name alone, in the brand's folder.
    ShowVersion("2");
    QCOMPARE(Shown(W()->iAuto), QSize(kFocusSedan.W, kFocusSedan.H));
    QCOMPARE(Texts(W()->reSpec).mid(1, 3), (QStringList{"Видове купета", "       -Седан", "Двигател : 1.6i"}));

    // No body type, no production dates, no engine figures, no engine types, no numbers, no
    // picture value: the bare layout; Print keeps its state.
    ShowVersion("5");
    QCOMPARE(Styled(W()->reSpec), (QStringList{"B|Ford  Focus", "*|Видове купета", "*|Двигател : 1.6i",
                                               "*|Производство : .-.", "*|Характеристики",
                                               "B|       1.6i 16V   CC ,  Hp ,  KW", "*|Tипове",
                                               "*|Каталожни номера"}));
    QCOMPARE(Shown(W()->iAuto), QSize());
    QVERIFY(W()->btnPrint->isEnabled());

    // Every body type in the layout's order; an empty picture value clears the picture.
    ShowVersion("1");
    QVERIFY(!Shown(W()->iAuto).isEmpty());
    ShowVersion("6");
    QCOMPARE(Texts(W()->reSpec).mid(1, 5), (QStringList{"Видове купета", "       -Кабрио", "       -Купе",
                                                        "       -Ван", "       -Естейт"}));
    QCOMPARE(Shown(W()->iAuto), QSize());
    QCOMPARE(Texts(W()->reSpec).last(), QString("          FO.16.03    099-512     20437               "));

    // Brand, model and engine identifiers of six and seven digits lead to their version.
    SelectEngine({"Škoda", "Octavia", "1.9 TDI"});
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Škoda > Octavia > 1.9 TDI"));
    QCOMPARE(Versions(), QStringList{"8"});
    QCOMPARE(Texts(W()->reSpec).first(), QString("Škoda  Octavia"));
    QVERIFY(W()->btnPrint->isEnabled());
  }

  // The user's way through the tree, also clicking below the node that the selection folds up:
  // the node clicked is selected and unfolds, the one left folds.
  void treeClicksFoldAndUnfold() {
    TTreeView* tree = W()->treeMenu;
    auto click = [tree](const QStringList& Path) {
      TTreeNode* node = Node(tree, Path);
      QVERIFY2(node, qPrintable(Path.join(" > ")));
      const QRect r = tree->visualItemRect(node);
      QVERIFY(tree->viewport()->rect().contains(r));
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
      QCOMPARE(tree->Selected(), node);
      QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem*>{node});
      QVERIFY(node->Count() == 0 || node->Expanded());
    };
    click({"Ford"});
    click({"Ford", "Focus"});
    click({"Ford", "Focus", "1.6i"});
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.6i"));
    QCOMPARE(Versions(), (QStringList{"1", "2", "5", "6"}));

    // Lada/VAZ lies three rows lower than after Focus folds; a brand changes nothing shown.
    click({"Ford", "Focus"});
    click({"Lada/VAZ"});
    QVERIFY(!Node(tree, {"Ford", "Focus"})->Expanded());
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.6i"));
    click({"Lada/VAZ", "Нива"});
    click({"Lada/VAZ", "Нива", "1.7i"});
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Lada/VAZ > Нива > 1.7i"));
    QCOMPARE(Shown(W()->iAuto), QSize(kNiva.W, kNiva.H));
    QCOMPARE(Texts(W()->reSpec).first(), QString("Lada/VAZ  Нива"));

    // A model below an unfolded model of the same brand.
    click({"Ford", "fiesta"});
    click({"Ford", "Ка"});
    QVERIFY(!Node(tree, {"Ford", "fiesta"})->Expanded());
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Lada/VAZ > Нива > 1.7i"));
  }

  void numbersAreCutAndPaddedByCharacters() {
    // The first two numbers cut to ten characters, the third never; Cyrillic counts by letters.
    SelectEngine({"Ford", "Focus", "1.8 TDDi"});
    QCOMPARE(Texts(W()->reSpec).last(), QString("          FO.18.TDDI  123-456-78  WALKER-1234567890123456"));
    // The picture's file is missing: no picture.
    QCOMPARE(Shown(W()->iAuto), QSize());

    SelectEngine({"Тест/Марка", "Купе и ван", "2.0 16V"});
    ShowVersion("100");
    QCOMPARE(Texts(W()->reSpec).mid(10),
             (QStringList{"        -Гърне с много дълго наименование", kHeader,
                          "          ЖК.01.ЯЯ    АБВГДЕЖЗИЙ  ДългоКирилскоИмеНаНомер-123"}));
    ShowVersion("101");
    // A number with empty positions as stored; a null number as empty text.
    QCOMPARE(Texts(W()->reSpec).mid(11),
             (QStringList{"        -Предно гърне", kHeader, "          AB.12.      777-777                         ",
                          "        -Задно гърне", kHeader, "          AB.12.01    777-778     W'1                 "}));
    QCOMPARE(Texts(W()->reSpec).mid(8, 3), (QStringList{"        ТСТБ", "        ТСТВ", "Каталожни номера"}));
  }

  void picturesFollowTheBrandFolderWithoutRegardToCase() {
    // "Lada/VAZ" keeps its pictures in lada-vaz, the file stored as niva.jpg is NIVA.JPG.
    SelectEngine({"Lada/VAZ", "Нива", "1.7i"});
    QCOMPARE(Shown(W()->iAuto), QSize(kNiva.W, kNiva.H));
    QCOMPARE(Texts(W()->reSpec).first(), QString("Lada/VAZ  Нива"));
    // focus_tddi.gif is missing: no picture, not the one of the version before.
    SelectEngine({"Ford", "Focus", "1.8 TDDi"});
    QCOMPARE(Shown(W()->iAuto), QSize());
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  Focus"));
    // A folder of that name is no picture file either: no error, no picture, and the text is written.
    fs::create_directories(FFolder->Path() / "images" / "Ford" / "FOCUS_TDDI.GIF");
    SelectEngine({"Lada/VAZ", "Нива", "1.7i"});
    QCOMPARE(Shown(W()->iAuto), QSize(kNiva.W, kNiva.H));
    SelectEngine({"Ford", "Focus", "1.8 TDDi"});
    QCOMPARE(FBoxes->Texts, QStringList{});
    QCOMPARE(Shown(W()->iAuto), QSize());
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  Focus"));
    // Cyrillic names in other letter cases, a drive and folder in the stored value.
    SelectEngine({"Тест/Марка", "Купе и ван", "2.0 16V"});
    ShowVersion("100");
    QCOMPARE(Shown(W()->iAuto), QSize(kCoupe.W, kCoupe.H));
    // ван.jpg is missing: not the coupe, no picture; an empty value clears as well.
    ShowVersion("101");
    QCOMPARE(Shown(W()->iAuto), QSize());
    ShowVersion("100");
    ShowVersion("102");
    QCOMPARE(Shown(W()->iAuto), QSize());
  }

  // Large pictures shrink to the window by dropping rows and columns: row by row as ImageMagick's
  // -sample shrinks the decoded picture, for a gradient from top to bottom and a photograph-like
  // plasma.
  void largePicturesShrinkCleanly() {
    if (!testsupport::HaveProgram("convert")) QSKIP("ImageMagick not installed");
    const fs::path file = FFolder->Path() / "images" / "Ford" / "focus.jpg";
    const fs::path decoded = FFolder->Path() / "decoded.bmp", reference = FFolder->Path() / "reference.ppm";
    QWidget* host = W()->grpPicture->findChild<QWidget*>("iAuto");
    QVERIFY(host);
    SelectEngine({"Ford", "Focus", "1.6i"});
    for (const std::string source : {"gradient:#102030-#F0E0D0", "plasma:fractal"}) {
      QCOMPARE(testsupport::RunCommand("convert -seed 7 -size 1600x1200 " + source + " -quality 92 '" + file.string() + "'"), 0);
      ShowVersion("2");
      ShowVersion("1");
      TGraphic* picture = W()->iAuto->Picture()->Graphic();
      QCOMPARE(Shown(W()->iAuto), QSize(1600, 1200));
      const TRect dest = W()->iAuto->DestRect();
      const QSize size(dest.right - dest.left, dest.bottom - dest.top);
      QVERIFY2(size.height() < 600 && size.height() == host->height(), qPrintable(QString::number(size.height())));
      {
        TBitmap bitmap;
        TfrmMain::GraphicToBitmap(picture, &bitmap);
        bitmap.SaveToFile(decoded.string());
      }
      QCOMPARE(testsupport::RunCommand("convert '" + decoded.string() + "' -sample " + std::to_string(size.width()) +
                                       "x" + std::to_string(size.height()) + "! '" + reference.string() + "'"),
               0);
      const QImage shown = host->grab().toImage().copy(QRect(dest.left, dest.top, size.width(), size.height()));
      const auto [row, difference] = WorstRow(shown, QImage(Q(reference.string())));
      // Where a row's centre falls exactly between two source rows, either may be taken: the
      // photograph's row then differs by a few levels. Combined rows differ by tens.
      QVERIFY2(row >= 0 && difference <= 8, qPrintable(QString("%1: row %2 of %3 differs by %4")
                                                         .arg(Q(source)).arg(row).arg(size.height()).arg(difference)));
    }
  }

  void fuelFilterNarrowsAndResets() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    ShowVersion("6");
    Choose(W()->cbFuel, "Бензин");
    QCOMPARE(Versions(), (QStringList{"1", "5"}));
    QCOMPARE(W()->dbGridResults->model()->rowCount(), 2);
    QVERIFY(GridColumn(8) == (QStringList{"Бензин", "Бензин"}));
    // The details follow the current row of the filtered grid (version 1: 17 lines, 5: 8).
    QCOMPARE(Details()->RecNo(), 1);
    QCOMPARE(Texts(W()->reSpec).size(), Details()->FieldByName("Auto.ID")->AsString() == "1" ? 17 : 8);

    // Quotes inside the fuel's name.
    Choose(W()->cbFuel, "Бензин 'Супер'");
    QCOMPARE(Versions(), QStringList{"2"});
    QCOMPARE(Texts(W()->reSpec).mid(2, 1), QStringList{"       -Седан"});
    Choose(W()->cbFuel, "Газ \"CNG\"");
    QCOMPARE(Versions(), QStringList{"6"});

    // A fuel without versions: nothing to show, nothing to print.
    Choose(W()->cbFuel, "Дизел");
    QCOMPARE(W()->dbGridResults->model()->rowCount(), 0);
    QVERIFY(Texts(W()->reSpec).isEmpty());
    QCOMPARE(Shown(W()->iAuto), QSize());
    QVERIFY(!W()->btnPrint->isEnabled());

    // The first item shows every version again.
    Choose(W()->cbFuel, 0);
    QCOMPARE(Versions(), (QStringList{"1", "2", "5", "6"}));
    QVERIFY(!Details()->Filtered());
    QVERIFY(W()->btnPrint->isEnabled());

    // A new engine resets the choice and lifts the filter.
    Choose(W()->cbFuel, "Бензин");
    SelectEngine({"Ford", "fiesta", "1.25"});
    QCOMPARE(W()->cbFuel->currentIndex(), 0);
    QVERIFY(!Details()->Filtered());
    QCOMPARE(Q(Details()->Filter()), QString());
    QCOMPARE(Versions(), (QStringList{"10", "9"}));
  }

  void brandAndModelNodesChangeNothing() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    ShowVersion("2");
    Choose(W()->cbFuel, "Бензин 'Супер'");
    const QStringList text = Styled(W()->reSpec);
    for (const QStringList& path : {QStringList{"Ford"}, QStringList{"Lada/VAZ"}, QStringList{"Ford", "Escort"}}) {
      SelectEngine(path);
      QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.6i"));
      QCOMPARE(Versions(), QStringList{"2"});
      QCOMPARE(W()->cbFuel->currentText(), QString("Бензин 'Супер'"));
      QCOMPARE(Styled(W()->reSpec), text);
      QCOMPARE(Shown(W()->iAuto), QSize(kFocusSedan.W, kFocusSedan.H));
    }
  }

  void engineWithoutVersionsClearsEverything() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    QVERIFY(W()->btnPrint->isEnabled());
    SelectEngine({"Ford", "Focus", "1.4i"});
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.4i"));
    QCOMPARE(W()->dbGridResults->model()->rowCount(), 0);
    QVERIFY(Texts(W()->reSpec).isEmpty());
    QCOMPARE(Shown(W()->iAuto), QSize());
    QVERIFY(!W()->btnPrint->isEnabled());
  }

  void unreadablePictureReportsOnceAndGoesOn() {
    // The stored name points at a file that is there but is a damaged GIF: the GIF library's
    // error shows once.
    std::ofstream(FFolder->Path() / "images" / "Ford" / "focus_tddi.gif", std::ios::binary) << "GIF89a\x01";
    SelectEngine({"Ford", "Focus", "1.6i"});
    ShowVersion("1");
    const QStringList before = Styled(W()->reSpec);
    FExpectedBoxes = 1;
    SelectEngine({"Ford", "Focus", "1.8 TDDi"});
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes->Texts.size(), 1, testsupport::kHangGuardMs);
    QCOMPARE(FBoxes->Texts[0], QString("Premature end of data."));
    // The row is current, its text was not written; the picture of before is gone all the same.
    QCOMPARE(Q(Details()->FieldByName("Auto.ID")->AsString()), QString("7"));
    QCOMPARE(Styled(W()->reSpec), before);
    QCOMPARE(Shown(W()->iAuto), QSize());
    // The program goes on.
    SelectEngine({"Ford", "fiesta", "1.25"});
    QCOMPARE(Shown(W()->iAuto), QSize(kFiesta.W, kFiesta.H));
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  fiesta"));
    QCOMPARE(FBoxes->Texts.size(), 1);
  }

  void gifCarPictureShows() {
    const TColor colour = static_cast<TColor>(0x669933);  // a web-safe colour, kept by GIF
    WriteGif(FFolder->Path() / "images" / "Ford" / "focus_tddi.gif", 90, 45, colour);
    SelectEngine({"Ford", "Focus", "1.6i"});
    QCOMPARE(PixelsOf(W(), {TColorToQColor(colour)}), 0);
    SelectEngine({"Ford", "Focus", "1.8 TDDi"});
    QCOMPARE(Q(Details()->FieldByName("Auto.ID")->AsString()), QString("7"));
    QCOMPARE(Shown(W()->iAuto), QSize(90, 45));
    QVERIFY(dynamic_cast<gif::TGIFImage*>(W()->iAuto->Picture()->Graphic()));
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  Focus"));
    // The window paints it.
    QVERIFY(PixelsOf(W(), {TColorToQColor(colour)}) > 0);
    // Back to a JPEG picture.
    SelectEngine({"Ford", "fiesta", "1.25"});
    QCOMPARE(Shown(W()->iAuto), QSize(kFiesta.W, kFiesta.H));
    QCOMPARE(FBoxes->Texts.size(), 0);
  }

  void popupMenuSelectsAllAndCopies() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    ShowVersion("1");
    TRichEdit* re = W()->reSpec;
    QCOMPARE(Q(W()->N1->Caption()), QString("Избери всичко"));
    QVERIFY(W()->N3->IsLine());
    QCOMPARE(Q(W()->mpCopy->Caption()), QString("Копирай"));

    // Nothing selected right after the text is built: copying is not offered and copies nothing;
    // selecting all always is.
    PopUpMenu();
    QVERIFY(!W()->mpCopy->Enabled());
    QVERIFY(W()->N1->Enabled());
    QGuiApplication::clipboard()->setText("before");
    W()->mpCopyClick(W()->mpCopy);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));

    W()->N1->Action()->trigger();
    QCOMPARE(re->SelLength(), re->GetTextLen());
    PopUpMenu();
    QVERIFY(W()->mpCopy->Enabled());
    // A picture on the clipboard before: the text replaces it.
    gif::TGIFImage picture;
    {
      TBitmap bitmap;
      bitmap.SetWidth(4);
      bitmap.SetHeight(3);
      picture.Assign(&bitmap);
    }
    Clipboard()->Assign(&picture);
    QVERIFY(Clipboard()->HasFormat(gif::CF_GIF));
    W()->mpCopy->Action()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), Texts(re).join("\n") + "\n");
    QVERIFY(!Clipboard()->HasFormat(gif::CF_GIF));
    QVERIFY(!Clipboard()->HasFormat(CF_BITMAP));

    // Part of a line.
    re->SetSelStart(6);
    re->SetSelLength(5);
    PopUpMenu();
    QVERIFY(W()->mpCopy->Enabled());
    W()->mpCopy->Action()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("Focus"));
  }

  void windowsSwitchKeepingTheirState() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    Choose(W()->cbFuel, "Бензин");
    ShowVersion("1");
    const QStringList text = Styled(W()->reSpec);
    W()->btnGoToSearch->click();
    QVERIFY(frmSearch->isVisible());
    QVERIFY(!W()->isVisible());
    frmSearch->btnBrowse->click();
    QVERIFY(W()->isVisible());
    QVERIFY(!frmSearch->isVisible());
    QCOMPARE(W()->labelBrandModelEngine->text(), QString("Ford > Focus > 1.6i"));
    QCOMPARE(W()->cbFuel->currentText(), QString("Бензин"));
    QCOMPARE(Versions(), (QStringList{"1", "5"}));
    QCOMPARE(Styled(W()->reSpec), text);
    QCOMPARE(Shown(W()->iAuto), QSize(kFocus.W, kFocus.H));
    QVERIFY(W()->btnPrint->isEnabled());
    // The main window's button shows it too.
    W()->close();
    QVERIFY(!W()->isVisible());
    frmMain->btnBrowse->click();
    QVERIFY(W()->isVisible());
    QCOMPARE(Styled(W()->reSpec), text);
  }

  void hiddenWindowShowsNothing() {
    SelectEngine({"Ford", "Focus", "1.6i"});
    ShowVersion("1");
    const QStringList text = Styled(W()->reSpec);
    W()->close();
    // Moving the query while the window is hidden leaves its details alone.
    Details()->SetRecNo(RowOf(Details(), "Auto.ID", "6") + 1);
    QCOMPARE(Styled(W()->reSpec), text);
  }
};

QTEST_MAIN(BrowseWindowTest)
#include "BrowseWindowTest.moc"
