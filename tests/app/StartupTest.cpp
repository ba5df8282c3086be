// The program's start-up on the test catalogues: the order in which windows and the data module
// appear, the missing-database path, the catalogue tree and fuel list, the main window's end
// of the run, the splash and debug windows, the pictures stored in the layouts, the picture
// formats' registration, the control library's start, and the GIF graphics' clipboard exchange
// and message pump.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/LayoutPicture.h"
#include "app/Startup.h"
#include "app/uBrowseN.h"
#include "app/uDataMod.h"
#include "app/uDebug.h"
#include "app/uMain.h"
#include "app/uSearch.h"
#include "app/uSplash.h"
#include "gif/Image.h"
#include "gif/Painter.h"
#include "picture/PxAni.h"
#include "picture/PxControlLibrary.h"
#include "picture/PxGIF.h"
#include "picture/PxThumbImage.h"
#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Clipbrd.h"
#include "platform/ui/ComCtrls.h"
#include "platform/ui/DBCtrls.h"
#include "platform/ui/ExtCtrls.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Mask.h"
#include "support/QtTestSupport.h"
#include "tests/platform/db/DbTestSupport.h"

namespace fs = std::filesystem;

namespace {

using qttest::MessageBoxes;
using qttest::Q;

struct TreeNodeView {
  std::string Text;
  const AutoRec* Rec;
};

}  // namespace

class StartupTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> FDir;

  // A program folder holding Catalogue (a test catalogue's name, or raw bytes when Bytes is
  // set) as DB/kelv.m$$; null Catalogue leaves the folder without a database.
  void ProgramFolder(const char* Catalogue, const QByteArray* Bytes = nullptr) {
    FDir = std::make_unique<QTemporaryDir>();
    const fs::path dir = FDir->path().toStdString();
    if (Catalogue || Bytes) {
      fs::create_directories(dir / "DB");
      if (Bytes) {
        QFile f(QString::fromStdString((dir / "DB" / "kelv.m$$").string()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(*Bytes);
      } else {
        fs::copy_file(dbtest::Catalogue(Catalogue), dir / "DB" / "kelv.m$$");
      }
    }
    SetExecutableFolder(dir.string());
  }

  static bool HaveCatalogues() { return fs::exists(dbtest::Catalogue("edge")); }

  static std::vector<TreeNodeView> Children(TTreeNode* Node) {
    std::vector<TreeNodeView> out;
    for (int i = 0; i < Node->Count(); ++i)
      out.push_back({Node->Item(i)->Text(), static_cast<const AutoRec*>(Node->Item(i)->Data())});
    return out;
  }
  static TTreeNode* Root(const char* Text) {
    TTreeNodes* items = frmBrowseN->treeMenu->Items();
    for (int i = 0; i < items->Count(); ++i)
      if (!items->Item(i)->Parent() && items->Item(i)->Text() == Text) return items->Item(i);
    return nullptr;
  }
  static TTreeNode* Child(TTreeNode* Node, const char* Text) {
    for (int i = 0; Node && i < Node->Count(); ++i)
      if (Node->Item(i)->Text() == Text) return Node->Item(i);
    return nullptr;
  }
  static QStringList Texts(TTreeNode* Node) {
    QStringList out;
    for (const TreeNodeView& c : Children(Node)) out << Q(c.Text);
    return out;
  }
  static QStringList FuelItems() {
    QStringList out;
    for (int i = 0; i < frmBrowseN->cbFuel->count(); ++i) out << frmBrowseN->cbFuel->itemText(i);
    return out;
  }
  static void ExpectEverythingReleased() {
    QCOMPARE(Application->ComponentCount(), 0);
    QVERIFY(!frmSplash && !frmMain && !DM && !Debug && !frmBrowseN && !frmSearch);
    QVERIFY(!Application->MainForm());
  }

 private slots:
  void cleanup() {
    EndProgram();
    SetExecutableFolder("");
    FDir.reset();
  }

  void startsInOrder() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();

    // Everything but the splash is the application's, in creation order.
    QCOMPARE(Application->ComponentCount(), 5);
    QCOMPARE(Application->Components(0), static_cast<TComponent*>(frmMain));
    QCOMPARE(Application->Components(1), static_cast<TComponent*>(DM));
    QCOMPARE(Application->Components(2), static_cast<TComponent*>(Debug));
    QCOMPARE(Application->Components(3), static_cast<TComponent*>(frmBrowseN));
    QCOMPARE(Application->Components(4), static_cast<TComponent*>(frmSearch));
    QVERIFY(frmSplash && !frmSplash->Owner());
    QCOMPARE(Application->MainForm(), static_cast<TForm*>(frmMain));
    QCOMPARE(Q(Application->Title()), QString("KELV каталог"));

    QVERIFY(DM->Conn->Connected());
    QVERIFY(frmBrowseN->TreeLoaded);
    // On screen: the main window alone; the debug window never.
    QVERIFY(frmMain->isVisible());
    QVERIFY(!frmSplash->isVisible());
    QVERIFY(!Debug->isVisible());
    QVERIFY(!frmBrowseN->isVisible());
    QVERIFY(!frmSearch->isVisible());

    QCOMPARE(Q(frmMain->Caption()), QString("KELV електронен каталог"));
    QCOMPARE(Q(frmBrowseN->Caption()), QString("KELV електронен каталог - Търсене по спесификация"));
    QCOMPARE(Q(frmSearch->Caption()), QString("KELV електронен каталог - Търсене по каталожен номер"));
    QCOMPARE(Q(Debug->Caption()), QString("DEBUG"));
    QVERIFY(Debug->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(frmBrowseN->WindowState(), wsMaximized);
    QCOMPARE(frmSearch->WindowState(), wsMaximized);
    QCOMPARE(frmBrowseN->Position(), poDesktopCenter);
    QCOMPARE(frmMain->Position(), poDesktopCenter);
  }

  void missingDatabase_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("no file") << "none";
    QTest::newRow("damaged file") << "damaged";
    QTest::newRow("empty file") << "empty";
  }

  void missingDatabase() {
    QFETCH(QString, kind);
    if (kind == "none") {
      ProgramFolder(nullptr);
    } else {
      QByteArray bytes = kind == "empty" ? QByteArray() : QByteArray(8192, '\x5A');
      if (kind == "damaged") bytes.replace(0, 15, "Standard Jet DB");
      ProgramFolder(nullptr, &bytes);
    }

    // What exists while the message is on screen.
    QStringList shown;
    bool mainHidden = false, splashMade = false, othersMade = true;
    MessageBoxes boxes;
    boxes.OnShown = [&](QMessageBox* Box) {
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w != Box && w->isVisible()) shown << w->objectName();
      mainHidden = frmMain && !frmMain->isVisible();
      splashMade = frmSplash != nullptr;
      othersMade = Debug || frmBrowseN || frmSearch;
    };
    const int status = RunProgram();

    QCOMPARE(boxes.Texts, QStringList{QString::fromUtf8(kMissingDatabaseMessage)});
    QCOMPARE(boxes.Captions, QStringList{"KELV каталог"});
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(",")));
    QVERIFY(mainHidden);
    QVERIFY(splashMade);
    QVERIFY(!othersMade);
    QCOMPARE(status, 1);
    ExpectEverythingReleased();
  }

  // A catalogue that opens but lacks a table the tree needs: the error is shown (it is not the
  // missing database, which has its own message) and the program ends with status 1.
  void otherStartupFailureIsShown() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("types");
    MessageBoxes boxes;
    const int status = RunProgram();
    QCOMPARE(boxes.Texts.size(), 1);
    QVERIFY2(boxes.Texts[0].contains("Fuels"), qPrintable(boxes.Texts[0]));
    QVERIFY(boxes.Texts[0] != QString::fromUtf8(kMissingDatabaseMessage));
    QCOMPARE(status, 1);
    ExpectEverythingReleased();
  }

  void treeOfCatalogue() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    TTreeView* tree = frmBrowseN->treeMenu;
    QVERIFY(!tree->isHidden());
    QVERIFY(tree->isEnabled());

    // Brands in the database's order; models by name, Latin before Cyrillic, case ignored;
    // engines by Def; empty brands and models keep their nodes.
    QStringList roots;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) roots << tree->topLevelItem(i)->text(0);
    QCOMPARE(roots, (QStringList{"Ford", "Lada/VAZ", "Škoda", "Празна марка"}));
    TTreeNode* ford = Root("Ford");
    QCOMPARE(Texts(ford), (QStringList{"Escort", "fiesta", "Focus", "амулет", "Ка"}));
    QCOMPARE(Texts(Child(ford, "Focus")), (QStringList{"1.4i", "1.6i", "1.8 TDDi"}));
    QCOMPARE(Texts(Child(ford, "Ка")), (QStringList{"ж 1.1", "Ж 1.3"}));
    QCOMPARE(Child(ford, "амулет")->Count(), 0);
    QCOMPARE(Texts(Root("Lada/VAZ")), (QStringList{"Samara", "Нива"}));
    QCOMPARE(Child(Root("Lada/VAZ"), "Samara")->Count(), 0);
    QCOMPARE(Root("Празна марка")->Count(), 0);

    // Exactly the engine nodes carry a record.
    TTreeNodes* items = tree->Items();
    QCOMPARE(items->Count(), 4 + 8 + 8);
    for (int i = 0; i < items->Count(); ++i) {
      TTreeNode* node = items->Item(i);
      const bool engine = node->Parent() && node->Parent()->Parent();
      QCOMPARE(node->Data() != nullptr, engine);
    }

    const auto* rec = static_cast<const AutoRec*>(Child(Child(ford, "Focus"), "1.8 TDDi")->Data());
    QCOMPARE(Q(rec->BrandID), QString("1"));
    QCOMPARE(Q(rec->ModelID), QString("1"));
    QCOMPARE(Q(rec->EngineID), QString("2"));
    QCOMPARE(Q(rec->BrandName), QString("Ford"));
    QCOMPARE(Q(rec->Caption), QString("Ford > Focus > 1.8 TDDi"));
    // Identifiers of six and seven digits are kept whole.
    rec = static_cast<const AutoRec*>(Child(Child(Root("Škoda"), "Octavia"), "1.9 TDI")->Data());
    QCOMPARE(Q(rec->BrandID), QString("123456"));
    QCOMPARE(Q(rec->ModelID), QString("654321"));
    QCOMPARE(Q(rec->EngineID), QString("1234567"));
    QCOMPARE(Q(rec->Caption), QString("Škoda > Octavia > 1.9 TDI"));

    // The fuel list: the fixed first item, then every fuel in database order; the first chosen.
    QCOMPARE(FuelItems(), (QStringList{"--------------без значение--------------", "Бензин", "Дизел",
                                       "Бензин 'Супер'", "Газ \"CNG\""}));
    QCOMPARE(frmBrowseN->cbFuel->currentIndex(), 0);
    QVERIFY(!frmBrowseN->cbFuel->isEditable());

    // The tree's font: bold, fixed pitch, in the active-caption colour, on white.
    QVERIFY(tree->font().bold());
    QCOMPARE(tree->font().family(), QString("Fixedsys"));
    QVERIFY(QFontInfo(tree->font()).fixedPitch());
    QCOMPARE(tree->palette().color(QPalette::Text), TColorToQColor(clActiveCaption));
    QCOMPARE(tree->palette().color(QPalette::Base), QColor(Qt::white));
    QVERIFY(!tree->rootIsDecorated());
    QCOMPARE(tree->indentation(), 19);
    QVERIFY(tree->AutoExpand());
  }

  void emptyBrands() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("empty");
    StartProgram();
    QCOMPARE(frmBrowseN->treeMenu->Items()->Count(), 0);
    QVERIFY(!frmBrowseN->treeMenu->isHidden());
    QVERIFY(frmBrowseN->treeMenu->isEnabled());
    QCOMPARE(FuelItems(), QStringList{"--------------без значение--------------"});
    QCOMPARE(frmBrowseN->cbFuel->currentIndex(), 0);
    QVERIFY(frmBrowseN->TreeLoaded);
  }

  void longBrandName() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("long-brand");
    StartProgram();
    const std::string name = "Автомобилна компания с много дълго име за проверка на съкращаването ООД";
    QVERIFY(Utf8Length(name) > 60);
    TTreeNode* brand = Root(name.c_str());
    QVERIFY(brand);
    const auto* rec = static_cast<const AutoRec*>(Child(Child(brand, "Модел А"), "1.6i")->Data());
    QCOMPARE(Q(rec->Caption), Q(name + " > Модел А > 1.6i"));
    QCOMPARE(Utf8Length(rec->BrandName), std::size_t{60});
    QCOMPARE(Q(rec->BrandName), Q(name).left(60));
  }

  void freeTreeDataReleasesEachRecordOnce() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    frmBrowseN->FreeTreeData();
    TTreeNodes* items = frmBrowseN->treeMenu->Items();
    for (int i = 0; i < items->Count(); ++i) QVERIFY(!items->Item(i)->Data());
    // A second call finds nothing left to release.
    frmBrowseN->FreeTreeData();
    QCOMPARE(items->Count(), 20);
  }

  void closingMainWindowEndsTheRun_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Изход") << false;
    QTest::newRow("close box") << true;
  }

  void closingMainWindowEndsTheRun() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    QFETCH(bool, closeBox);
    ProgramFolder("edge");
    StartProgram();
    bool bothOpen = false;
    QTimer::singleShot(0, [&] {
      frmMain->btnBrowse->click();
      frmMain->btnSearch->click();
      bothOpen = frmBrowseN->isVisible() && frmSearch->isVisible() && frmMain->isVisible();
      if (closeBox)
        frmMain->close();
      else
        frmMain->Button1->click();
    });
    qttest::LoopSafetyNet net;
    QCOMPARE(Application->Run(), 0);
    QVERIFY(!net.TimedOut());
    QVERIFY(bothOpen);
    QVERIFY(Application->Terminated());
    // FormClose released the records.
    TTreeNodes* items = frmBrowseN->treeMenu->Items();
    QCOMPARE(items->Count(), 20);
    for (int i = 0; i < items->Count(); ++i) QVERIFY(!items->Item(i)->Data());
    EndProgram();
    ExpectEverythingReleased();
  }

  void searchAndBrowseSwapEachOther() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    frmMain->btnBrowse->click();
    QVERIFY(frmBrowseN->isVisible());
    frmBrowseN->btnGoToSearch->click();
    QVERIFY(frmSearch->isVisible());
    QVERIFY(!frmBrowseN->isVisible());
    frmSearch->btnBrowse->click();
    QVERIFY(frmBrowseN->isVisible());
    QVERIFY(!frmSearch->isVisible());
    // Closing a result window only hides it; the run goes on.
    frmBrowseN->close();
    QVERIFY(!frmBrowseN->isVisible());
    QVERIFY(!Application->Terminated());
  }

  // Enter and the keypad's Enter click the focused push button of the main, browse and search
  // windows; the focus shows on the main window's navy panel.
  void enterClicksTheFocusedButton() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    frmMain->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frmMain, testsupport::kHangGuardMs));
    frmMain->btnSearch->setFocus();
    const QImage unfocused = frmMain->btnBrowse->grab().toImage();
    frmMain->btnBrowse->setFocus();
    QVERIFY(frmMain->btnBrowse->hasFocus());
    const QImage focused = frmMain->btnBrowse->grab().toImage();
    // A mark of clear contrast inside the face, away from the panel around the button.
    const QRect face = frmMain->btnBrowse->rect().adjusted(3, 3, -3, -3);
    int marked = 0;
    for (int y = face.top(); y <= face.bottom(); ++y)
      for (int x = face.left(); x <= face.right(); ++x)
        if (std::abs(qGray(focused.pixel(x, y)) - qGray(unfocused.pixel(x, y))) > 96) ++marked;
    QVERIFY2(marked > 100, qPrintable(QString::number(marked)));

    QTest::keyClick(frmMain->btnBrowse, Qt::Key_Return);
    QVERIFY(frmBrowseN->isVisible());
    frmBrowseN->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frmBrowseN, testsupport::kHangGuardMs));
    frmBrowseN->btnGoToSearch->setFocus();
    QTest::keyClick(frmBrowseN->btnGoToSearch, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(frmSearch->isVisible());
    QVERIFY(!frmBrowseN->isVisible());
    frmSearch->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(frmSearch, testsupport::kHangGuardMs));
    frmSearch->btnBrowse->setFocus();
    QTest::keyClick(frmSearch->btnBrowse, Qt::Key_Return);
    QVERIFY(frmBrowseN->isVisible());
    QVERIFY(!frmSearch->isVisible());
  }

  // Maximised at first; restored, each result window has its layout's 800 x 600 in the middle
  // of the desktop.
  void resultWindowsRestoreToTheirLayoutSize() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect restored(desktop.x() + (desktop.width() - 800) / 2, desktop.y() + (desktop.height() - 600) / 2, 800,
                         600);
    for (TForm* form : {static_cast<TForm*>(frmBrowseN), static_cast<TForm*>(frmSearch)}) {
      form->Show();
      QVERIFY(form->isMaximized());
      QTRY_COMPARE_WITH_TIMEOUT(form->frameGeometry().size(), desktop.size(), testsupport::kHangGuardMs);
      QCOMPARE(form->normalGeometry(), restored);
      form->showNormal();
      QTRY_COMPARE_WITH_TIMEOUT(form->size(), restored.size(), testsupport::kHangGuardMs);
      // (the offscreen window system may shift a restored window by its frame)
      QVERIFY((form->geometry().center() - restored.center()).manhattanLength() <= 4);
    }
  }

  void splashWindow() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    // No caption bar and no caption buttons, but not frameless.
    const Qt::WindowFlags flags = frmSplash->windowFlags();
    QVERIFY(flags & Qt::CustomizeWindowHint);
    for (Qt::WindowType hint : {Qt::WindowTitleHint, Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint,
                                Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                                Qt::WindowContextHelpButtonHint, Qt::FramelessWindowHint})
      QVERIFY(!(flags & hint));
    QCOMPARE(frmSplash->size(), QSize(236, 129));
    QCOMPARE(frmSplash->minimumSize(), frmSplash->maximumSize());
    QCOMPARE(frmSplash->palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(frmSplash->Label1->text(), QString("Зареждане ..."));
    QVERIFY(frmSplash->Label1->font().bold());
    QCOMPARE(frmSplash->Animate1->CommonAVI(), aviFindFile);
    QCOMPARE(frmSplash->Animate1->StopFrame(), 8);
    QVERIFY(frmSplash->Animate1->Active());
    QCOMPARE(frmSplash->Animate1->size(), QSize(16, 16));
    QCOMPARE(frmSplash->Position(), poMainFormCenter);
    // Shown from start-up until the tree is in, centred on the main window.
    const QPoint mainCentre = frmMain->geometry().center();
    const QPoint splashCentre = frmSplash->geometry().center();
    QVERIFY2((mainCentre - splashCentre).manhattanLength() <= 1,
             qPrintable(QString("%1,%2 vs %3,%4")
                            .arg(mainCentre.x())
                            .arg(mainCentre.y())
                            .arg(splashCentre.x())
                            .arg(splashCentre.y())));
  }

  // While the tree loads, the splash is on screen and the tree hidden and disabled; afterwards
  // the reverse. Watched from the engine query, which moves once per model.
  void splashShowsWhileTheTreeLoads() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    // The splash goes on painting while the tree loads (a repaint asked for before the load
    // is done during it; the load lets the windows paint at most every 40 ms).
    QTest::qWait(60);
    int paints = 0;
    qttest::EventCounter counter(frmSplash, QEvent::Paint, paints);
    frmSplash->update();
    int moves = 0, wrong = 0, paintedBy = -1;
    DM->qryFillEngines->AfterScroll = [&](TDataSet*) {
      ++moves;
      TTreeView* tree = frmBrowseN->treeMenu;
      if (!frmSplash->isVisible() || !tree->isHidden() || tree->isEnabled()) ++wrong;
      if (paintedBy < 0 && paints > 0) paintedBy = moves;
    };
    frmBrowseN->FreeTreeData();  // the records of the first load
    frmBrowseN->LoadTree();
    DM->qryFillEngines->AfterScroll = nullptr;
    QVERIFY(moves > 0);
    QCOMPARE(wrong, 0);
    QVERIFY(paintedBy > 0);
    QVERIFY(!frmSplash->isVisible());
    QVERIFY(!frmBrowseN->treeMenu->isHidden());
    QVERIFY(frmBrowseN->treeMenu->isEnabled());
  }

  void pictureControlsAsLaidOut() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    struct Expected {
      px::TPxThumbImage* Image;
      bool AutoSize;
    };
    for (const Expected& e : {Expected{frmBrowseN->iAuto, true}, Expected{frmSearch->iAuto, false}}) {
      QCOMPARE(e.Image->Align(), alClient);
      QCOMPARE(e.Image->AutoSize(), e.AutoSize);
      QVERIFY(e.Image->Center());
      QVERIFY(e.Image->Proportional());
      QVERIFY(!e.Image->IgnoreMouse());
      QCOMPARE(e.Image->Angle(), px::AT0);
      QCOMPARE(e.Image->Zoom(), WORD{0});
    }
  }

  void mainWindowLayout() {
    if (!HaveCatalogues()) QSKIP("test catalogues not built");
    ProgramFolder("edge");
    StartProgram();
    for (QPushButton* b : {frmMain->btnBrowse, frmMain->btnSearch, frmMain->Button1})
      QCOMPARE(b->font().pixelSize(), 16);
    QCOMPARE(frmMain->btnBrowse->text(), QString("Търсене по спесификация"));
    QCOMPARE(frmMain->btnSearch->text(), QString("Търсене по каталожен номер"));
    QCOMPARE(frmMain->Button1->text(), QString("Изход"));
    QCOMPARE(frmMain->Panel1->palette().color(QPalette::Window), TColorToQColor(clNavy));
    QCOMPARE(frmMain->Image1->Height(), 57);
    // The status bar: one centred panel, 50 pixels wide, with the notice.
    const QList<QLabel*> panels = frmMain->StatusBar1->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(panels.size(), 1);
    QCOMPARE(panels[0]->width(), 50);
    QCOMPARE(panels[0]->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(panels[0]->text(), QString("© КЕЛВ"));
    QCOMPARE(Q(frmMain->Image1->Name()), QString("Image1"));
    QVERIFY(!frmBrowseN->btnPrint->isEnabled());
    QVERIFY(!frmSearch->btnPrint->isEnabled());
    QVERIFY(frmSearch->lSearch->isHidden());
    QCOMPARE(frmSearch->cbManufacturer->currentText(), QString("KELV"));
    QCOMPARE(Q(frmSearch->medCatNumber->Text()), QString("  .  .  "));
    QCOMPARE(Q(frmSearch->medCatNumber->EditMask()), QString("aa\\.aa\\.aa;1;_"));
    QCOMPARE(frmSearch->medCatNumber->MaxLength(), 8);

    // The grids and edits as the layouts bind them.
    QCOMPARE(frmBrowseN->dbGridResults->DataSource(), DM->dsFillDetails);
    QCOMPARE(frmSearch->gridResults->DataSource(), DM->dsSearchSerial);
    QCOMPARE(frmSearch->edEngine->DataSource(), DM->dsSearchSerial);
    QCOMPARE(Q(frmSearch->edEngine->DataField()), QString("Engines.Def"));
    const std::vector<TColumn>& browse = frmBrowseN->dbGridResults->Columns();
    QCOMPARE(browse.size(), std::size_t{10});
    QCOMPARE(Q(browse[0].FieldName), QString("EngineDefs.Def"));
    QCOMPARE(Q(browse[0].Title), QString("Двигател"));
    QCOMPARE(browse[0].Width, 84);
    QCOMPARE(frmBrowseN->dbGridResults->model()->headerData(6, Qt::Horizontal).toString(), QString("KW"));
    QCOMPARE(Q(browse[9].FieldName), QString("Others"));
    QCOMPARE(browse[9].Width, 64);
    const std::vector<TColumn>& search = frmSearch->gridResults->Columns();
    QCOMPARE(search.size(), std::size_t{12});
    QCOMPARE(Q(search[4].Title), QString("     "));
    QCOMPARE(search[11].Width, 30);
    QVERIFY(frmBrowseN->dbGridResults->Options() & dgRowSelect);
    QVERIFY(!(frmBrowseN->dbGridResults->Options() & dgEditing));
    QVERIFY(frmSearch->gridResults->ReadOnly());
  }

  void storedPictures();
  void pictureFormatsRegisterInOrder();
  void gifFilesOpenAsTheGifLibrarysGraphic();
  void paletteScreenSwitchesDitheringOn();
  void controlLibraryStartsAndStops();
  void gifGraphicsThroughTheClipboard();
  void inlineGifPainterKeepsTheQueueGoing();
};

namespace {

// A stored picture's class name and its graphic's data, as the layout resource holds them.
void ReadStoredPicture(const char* Resource, QByteArray& ClassName, QByteArray& Data) {
  QFile file(Resource);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  QVERIFY(!bytes.isEmpty());
  const int length = static_cast<unsigned char>(bytes[0]);
  ClassName = bytes.mid(1, length);
  Data = bytes.mid(1 + length);
}

int Word(const QByteArray& B, int At) {
  return static_cast<unsigned char>(B[At]) | static_cast<unsigned char>(B[At + 1]) << 8;
}

// A GIF89a file of two 1 x 1 frames shown for Delay hundredths of a second each.
QByteArray TwoFrameGif(int Delay) {
  QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13);
  gif.append("\xFF\x00\x00\x00\x00\xFF", 6);  // red, blue
  for (int frame = 0; frame < 2; ++frame) {
    gif.append("\x21\xF9\x04\x00", 4);
    gif.append(static_cast<char>(Delay & 0xFF));
    gif.append(static_cast<char>(Delay >> 8));
    gif.append("\x00\x00", 2);
    gif.append("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
    gif.append(frame == 0 ? QByteArray("\x02\x02\x44\x01\x00", 5) : QByteArray("\x02\x02\x4C\x01\x00", 5));
  }
  gif.append(';');
  return gif;
}

template <class G>
void LoadBytes(G& Graphic, const QByteArray& Bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(Bytes.constData(), Bytes.size());
  stream.SetPosition(0);
  Graphic.LoadFromStream(&stream);
}

QImage ImageOf(TGraphic* Graphic) {
  TBitmap bitmap;
  bitmap.Assign(Graphic);
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) image.setPixelColor(x, y, TColorToQColor(bitmap.Canvas()->Pixels(x, y)));
  return image;
}

}  // namespace

void StartupTest::storedPictures() {
  Q_INIT_RESOURCE(layouts);
  // The banner: class TGIFImage, then the plain GIF87a file, 800 x 57, a 256-colour table.
  QByteArray name, gif;
  ReadStoredPicture(":/layouts/uMain.Image1.picture", name, gif);
  QCOMPARE(name, QByteArray("TGIFImage"));
  QCOMPARE(gif.left(6), QByteArray("GIF87a"));
  QCOMPARE(Word(gif, 6), 800);
  QCOMPARE(Word(gif, 8), 57);
  QCOMPARE(static_cast<unsigned char>(gif[10]) & 0x87, 0x87);
  QCOMPARE(gif.back(), ';');
  QCOMPARE(gif.count(QByteArray("\x21\xF9", 2)), 0);

  // The splash logo: class TPxGIFImage, a 32-bit byte count, then the GIF89a file, 118 x 54.
  QByteArray data;
  ReadStoredPicture(":/layouts/uSplash.Image1.picture", name, data);
  QCOMPARE(name, QByteArray("TPxGIFImage"));
  const quint32 count = static_cast<quint32>(Word(data, 0)) | static_cast<quint32>(Word(data, 2)) << 16;
  QCOMPARE(static_cast<qsizetype>(count), data.size() - 4);
  gif = data.mid(4);
  QCOMPARE(gif.left(6), QByteArray("GIF89a"));
  QCOMPARE(Word(gif, 6), 118);
  QCOMPARE(Word(gif, 8), 54);
  QCOMPARE(static_cast<unsigned char>(gif[10]) & 0x87, 0x87);

  // While the GIF classes are not registered the pictures stay empty and nothing fails.
  px::UnregisterPxGifFormats();
  gif::UnregisterGIFImageFormats();
  TPicture picture;
  QVERIFY(!LoadLayoutPicture(&picture, ":/layouts/uMain.Image1.picture"));
  QVERIFY(!picture.Graphic());
  QVERIFY(!LoadLayoutPicture(&picture, ":/layouts/uSplash.Image1.picture"));
  QVERIFY(!picture.Graphic());

  // Registered, the windows show them: the banner 800 x 57, the splash logo 118 x 54.
  px::RegisterPxGifFormats();
  gif::RegisterGIFImageFormats();
  TfrmMain main(nullptr);
  TGraphic* banner = main.Image1->Picture()->Graphic();
  QVERIFY(banner);
  QVERIFY(dynamic_cast<gif::TGIFImage*>(banner));
  QCOMPARE(banner->ClassName(), std::string("TGIFImage"));
  QCOMPARE(QSize(banner->Width(), banner->Height()), QSize(800, 57));
  QVERIFY(!main.isVisible());
  TfrmSplash splash(nullptr);
  TGraphic* logo = splash.Image1->Picture()->Graphic();
  QVERIFY(logo);
  QVERIFY(dynamic_cast<px::TPxGIFImage*>(logo));
  QCOMPARE(QSize(logo->Width(), logo->Height()), QSize(118, 54));

  // They show something: neither picture is of one colour.
  const QImage bannerImage = ImageOf(banner), logoImage = ImageOf(logo);
  QVERIFY(bannerImage.pixelColor(0, 0) != bannerImage.pixelColor(400, 28) ||
          bannerImage.pixelColor(0, 0) != bannerImage.pixelColor(799, 56));
  QVERIFY(logoImage.pixelColor(0, 0) != logoImage.pixelColor(59, 27) ||
          logoImage.pixelColor(0, 0) != logoImage.pixelColor(117, 53));
}

void StartupTest::pictureFormatsRegisterInOrder() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  StartProgram();
  QCOMPARE(TPicture::FindFileFormat("jpeg"), TJPEGImage::StaticClass());
  QCOMPARE(TPicture::FindFileFormat("jpg"), TJPEGImage::StaticClass());
  QCOMPARE(TPicture::FindFileFormat("ani"), px::TPxAni::StaticClass());
  // The GIF library's "GIF" is the newest: it serves .gif in any letter case.
  for (const char* extension : {"gif", "GIF", ".Gif"})
    QCOMPARE(TPicture::FindFileFormat(extension), gif::TGIFImage::StaticClass());
  // Both GIF graphics use the one clipboard format "GIF Image"; the newest serves it.
  QVERIFY(gif::CF_GIF >= 0xC000);
  QCOMPARE(static_cast<UINT>(gif::CF_GIF), RegisterClipboardFormat("GIF Image"));
  QCOMPARE(px::GifClipboardFormat, gif::CF_GIF);
  QVERIFY(TPicture::SupportsClipboardFormat(gif::CF_GIF));

  // The end of the program takes the GIF library's registration away: the second GIF graphic's
  // "gif", registered before it, serves .gif then; a new start puts "GIF" on top again.
  EndProgram();
  QCOMPARE(TPicture::FindFileFormat("GIF"), px::TPxGIFImage::StaticClass());
  QCOMPARE(TPicture::FindFileFormat("ani"), px::TPxAni::StaticClass());
  StartProgram();
  QCOMPARE(TPicture::FindFileFormat("gif"), gif::TGIFImage::StaticClass());
}

void StartupTest::gifFilesOpenAsTheGifLibrarysGraphic() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  StartProgram();
  const std::string file = (fs::path(FDir->path().toStdString()) / "CAR.Gif").string();
  {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetWidth(90);
    bitmap.SetHeight(45);
    bitmap.Canvas()->Brush()->SetColor(clBlue);
    bitmap.Canvas()->FillRect(TRect{0, 0, 90, 45});
    gif::TGIFImage image;
    image.Assign(&bitmap);
    image.SaveToFile(file);
  }
  TPicture picture;
  picture.LoadFromFile(file);
  QVERIFY(dynamic_cast<gif::TGIFImage*>(picture.Graphic()));
  QCOMPARE(QSize(picture.Width(), picture.Height()), QSize(90, 45));
  QCOMPARE(ImageOf(picture.Graphic()).pixelColor(45, 20), TColorToQColor(clBlue));
}

void StartupTest::paletteScreenSwitchesDitheringOn() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  struct Restore {
    int Bits = GdiGetScreenBitsPerPixel();
    ~Restore() { GdiSetScreenBitsPerPixel(Bits); }
  } restore;
  GdiSetScreenBitsPerPixel(8);
  StartProgram();
  QVERIFY(gif::PaletteDisplay);
  EndProgram();
  GdiSetScreenBitsPerPixel(16);
  StartProgram();
  QVERIFY(!gif::PaletteDisplay);
}

void StartupTest::controlLibraryStartsAndStops() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  StartProgram();
  // The control library's cursor aliases: 100..103 are the multi-drag, drag, multi-drag and
  // multi-drag cursors.
  QCOMPARE(Screen->Cursors(100), Screen->Cursors(crMultiDrag));
  QCOMPARE(Screen->Cursors(101), Screen->Cursors(crDrag));
  QCOMPARE(Screen->Cursors(102), Screen->Cursors(crMultiDrag));
  QCOMPARE(Screen->Cursors(103), Screen->Cursors(crMultiDrag));
  QVERIFY(Screen->Cursors(100) != Screen->Cursors(crDefault));
  // The print-client fix is in place while the program runs and gone after it.
  QVERIFY(TWinControl::MessageHandler(WM_PRINTCLIENT) == &px::PrintClientWithSavedDC);
  EndProgram();
  QVERIFY(TWinControl::MessageHandler(WM_PRINTCLIENT) != &px::PrintClientWithSavedDC);
}

void StartupTest::gifGraphicsThroughTheClipboard() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  StartProgram();
  const QByteArray bytes = TwoFrameGif(10);

  // The GIF library's graphic: the GIF stream and the bitmap go to Qt's clipboard, and a
  // picture pasted from there is the same GIF.
  gif::TGIFImage source;
  LoadBytes(source, bytes);
  Clipboard()->Assign(&source);
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  QVERIFY(mime);
  QVERIFY(mime->hasImage());
  QVERIFY(mime->data("application/x-kelv-clipboard;format=GIF Image").startsWith("GIF89a"));
  TPicture picture;
  picture.Assign(Clipboard());
  auto* pasted = dynamic_cast<gif::TGIFImage*>(picture.Graphic());
  QVERIFY(pasted);
  QCOMPARE(pasted->Images().Count(), 2);
  QCOMPARE(ImageOf(pasted), ImageOf(&source));
  gif::TGIFImage direct;
  direct.Assign(Clipboard());
  QCOMPARE(direct.Images().Count(), 2);

  // The second GIF graphic: its counted GIF block and the bitmap.
  px::TPxGIFImage second;
  LoadBytes(second, bytes);
  Clipboard()->Assign(&second);
  mime = QGuiApplication::clipboard()->mimeData();
  const QByteArray block = mime->data("application/x-kelv-clipboard;format=GIF Image");
  QCOMPARE(block.mid(4, 6), QByteArray("GIF89a"));
  QCOMPARE(static_cast<qsizetype>(Word(block, 0) | Word(block, 2) << 16), block.size() - 4);
  QVERIFY(mime->hasImage());
  px::TPxGIFImage back;
  back.Assign(Clipboard());
  QCOMPARE(back.FrameCount(), 2);
  QCOMPARE(QSize(back.Width(), back.Height()), QSize(1, 1));
  QCOMPARE(ImageOf(&back), ImageOf(&second));

  // Text copied afterwards replaces both.
  QGuiApplication::clipboard()->setText("FO.16.01");
  QVERIFY(!Clipboard()->HasFormat(gif::CF_GIF));
  QVERIFY(!Clipboard()->HasFormat(CF_BITMAP));
}

void StartupTest::inlineGifPainterKeepsTheQueueGoing() {
  if (!HaveCatalogues()) QSKIP("test catalogues not built");
  ProgramFolder("edge");
  StartProgram();
  // Two frames of five seconds each, animated in the caller's thread.
  gif::TGIFImage image;
  LoadBytes(image, TwoFrameGif(500));
  image.SetPaintOptions(gif::drAnimate);
  TBitmap target;
  target.SetWidth(1);
  target.SetHeight(1);
  int frames = 0;
  image.OnPaintFrame = [&](TObject*) { ++frames; };
  bool fired = false;
  QTimer::singleShot(50, [&] {
    fired = true;
    Application->Terminate();
  });
  target.Canvas()->Draw(0, 0, &image);
  // The timer ran while the painter waited, and the end of the run ended the painting before
  // its second frame (five seconds later).
  QVERIFY(fired);
  QVERIFY2(frames < 2, qPrintable(QString::number(frames)));
  QVERIFY(Application->Terminated());
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
