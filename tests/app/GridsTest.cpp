// The result grids of the browse and search windows on the demo catalogue and on the large
// generated one: every value shows whole in its column, in the font the layouts name as the
// fonts installed here give it.
#include <QFontInfo>
#include <QFontMetrics>
#include <QPushButton>

#include "AppTestSupport.h"
#include "platform/rtl/SysUtils.h"

using namespace apptest;

namespace {

fs::path CatalogueFile(const char* Name) {
  if (std::string(Name) == "demo") {
#ifdef KELV_DEMO_CATALOGUE
    return KELV_DEMO_CATALOGUE;
#endif
  } else {
#ifdef KELV_LARGE_CATALOGUE
    return KELV_LARGE_CATALOGUE;
#endif
  }
  return {};
}

// Every cell of Grid against its column's width less the text's margins and the grid line;
// Shown counts the cells looked at.
void ExpectEveryValueWhole(TDBGrid* Grid, const QString& What, int& Shown) {
  const QFontMetrics metrics(Grid->font());
  QAbstractItemModel* m = Grid->model();
  for (int c = 0; c < m->columnCount(); ++c) {
    const int room = Grid->columnWidth(c) - 2 * TDBGrid::CellMargin - 1;
    for (int r = 0; r < m->rowCount(); ++r) {
      const QString text = m->index(r, c).data().toString();
      QVERIFY2(metrics.horizontalAdvance(text) <= room,
               qPrintable(QString("%1: \"%2\" (%3 pixels) in column %4 \"%5\" of %6 pixels")
                              .arg(What, text)
                              .arg(metrics.horizontalAdvance(text))
                              .arg(c)
                              .arg(m->headerData(c, Qt::Horizontal).toString())
                              .arg(Grid->columnWidth(c))));
      ++Shown;
    }
  }
}

// The grids' font: the layout's 8-point font, drawn in the installed font that stands for it.
void ExpectLayoutFont(TDBGrid* Grid) {
  QCOMPARE(Grid->font().family(), QString("MS Sans Serif"));
  QCOMPARE(Grid->font().pointSize(), 8);
  QCOMPARE(QFontInfo(Grid->font()).family(), QString("Liberation Sans"));
}

}  // namespace

class GridsTest : public QObject {
  Q_OBJECT

 private:
  // Every EngineStep-th engine of the tree in the browse grid, and a search for each of the
  // WalkerNumbers (given once the program runs) in the search grid.
  static void CheckGrids(const char* Catalogue, int EngineStep, const std::function<QStringList()>& WalkerNumbers) {
    const fs::path file = CatalogueFile(Catalogue);
    if (file.empty() || !fs::exists(file)) QSKIP("catalogue not built");
    ProgramFolder folder(file, false);
    MessageBoxes boxes;
    StartProgram();
    auto end = qScopeGuard([] { EndProgram(); });

    frmMain->btnBrowse->click();
    TDBGrid* grid = frmBrowseN->dbGridResults;
    ExpectLayoutFont(grid);
    TTreeNodes* items = frmBrowseN->treeMenu->Items();
    int engines = 0, cells = 0;
    for (int i = 0; i < items->Count(); ++i) {
      TTreeNode* node = items->Item(i);
      if (!node->Data() || engines++ % EngineStep) continue;
      frmBrowseN->treeMenu->SetSelected(node);
      ExpectEveryValueWhole(grid, Q(static_cast<const AutoRec*>(node->Data())->Caption), cells);
      if (QTest::currentTestFailed()) return;
    }
    QVERIFY(cells > 0);

    frmBrowseN->btnGoToSearch->click();
    grid = frmSearch->gridResults;
    ExpectLayoutFont(grid);
    cells = 0;
    for (const QString& number : WalkerNumbers()) {
      // The search's filter, without its repainting of the window.
      TADOQuery* q = DM->qrySearchSerial;
      q->Close();
      q->SetFilter("SerialWALKER=" + QuotedStr(number.toStdString()));
      q->SetFiltered(true);
      q->Open();
      ExpectEveryValueWhole(grid, "WALKER " + number, cells);
      if (QTest::currentTestFailed()) return;
    }
    QVERIFY(cells > 0);
    QVERIFY2(boxes.Texts.isEmpty(), qPrintable(boxes.Texts.join(" | ")));
  }

 private slots:
  // Every version and every catalogue number of the demo catalogue.
  void demoCatalogue() {
    CheckGrids("demo", 1, [] {
      QStringList numbers;
      TADOQuery q(nullptr);
      q.SetConnection(DM->Conn);
      q.SQL()->Add("SELECT SerialWALKER FROM Serials");
      q.Open();
      for (; !q.Eof(); q.Next()) numbers << Q(q.FieldByName("SerialWALKER")->AsString());
      numbers.removeDuplicates();
      return numbers;
    });
  }

  // Every 100th engine and the catalogue numbers 10000 to 10099 of the generated catalogue.
  void largeCatalogue() {
    CheckGrids("large", 100, [] {
      QStringList numbers;
      for (int n = 10000; n < 10100; ++n) numbers << QString::number(n);
      return numbers;
    });
  }
};

QTEST_MAIN(GridsTest)
#include "GridsTest.moc"
