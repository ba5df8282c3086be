#include "platform/ui/DBGrids.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QTest>

#include "platform/db/ADODB.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/Forms.h"
#include "tests/platform/db/DbTestSupport.h"
#include "WidgetTestSupport.h"

using widgettest::TMemDataSet;

namespace {

const QString kMarker = QStringLiteral("\u25B6");

std::unique_ptr<TMemDataSet> Cars(int Rows) {
  auto ds = std::make_unique<TMemDataSet>(std::vector<TMemDataSet::Column>{
      {"EngineDefs.Def", ftWideString}, {"cc", ftInteger}, {"KW", ftInteger}, {"Fuels.Def", ftWideString}});
  for (int i = 0; i < Rows; ++i)
    ds->Rows.push_back({std::string("Двигател ") + std::to_string(i), std::int64_t{1000 + i}, std::int64_t{50 + i},
                        std::string(i % 2 ? "Дизел" : "Бензин")});
  return ds;
}

class Grid : public ::testing::Test {
 protected:
  void SetUp() override {
    ds = Cars(10);
    ds->CountScrolls();
    src.SetDataSet(ds.get());
    grid = std::make_unique<TDBGrid>();
    // A font small enough for every value to fit the columns' own widths.
    QFont small = grid->font();
    small.setPixelSize(7);
    grid->setFont(small);
    grid->SetOptions(dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgRowSelect);
    grid->SetColumns({{"EngineDefs.Def", "Двигател", 84}, {"cc", "CC", 28}, {"KW", "", 31}, {"Fuels.Def", "Гориво", 100}});
    grid->SetDataSource(&src);
    grid->resize(400, 300);
    grid->show();
  }
  void TearDown() override { grid.reset(); }

  QString Cell(int Row, int Col) const { return grid->model()->index(Row, Col).data().toString(); }
  // Rows whose indicator shows the marker.
  std::vector<int> Marked() const {
    std::vector<int> rows;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
      if (grid->model()->headerData(r, Qt::Vertical).toString() == kMarker) rows.push_back(r);
    return rows;
  }
  void Click(int Row, int Col) {
    const QRect r = grid->visualRect(grid->model()->index(Row, Col));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  }

  std::unique_ptr<TMemDataSet> ds;
  TDataSource src{nullptr};
  std::unique_ptr<TDBGrid> grid;
};

TEST_F(Grid, ColumnsHaveTheirTitlesWidthsAndAlignment) {
  ds->Open();
  QAbstractItemModel* m = grid->model();
  ASSERT_EQ(m->columnCount(), 4);
  EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Двигател"));
  EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), "CC");
  EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), "KW");  // no title: the field name
  EXPECT_EQ(grid->columnWidth(0), 84);
  EXPECT_EQ(grid->columnWidth(1), 28);
  EXPECT_EQ(grid->columnWidth(2), 31);
  EXPECT_EQ(grid->columnWidth(3), 100);
  EXPECT_EQ(m->rowCount(), 10);
  EXPECT_EQ(Cell(3, 0), QString::fromUtf8("Двигател 3"));
  EXPECT_EQ(Cell(3, 1), "1003");
  EXPECT_EQ(Cell(3, 3), QString::fromUtf8("Дизел"));
  EXPECT_TRUE(m->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
  EXPECT_TRUE(m->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);

  // The user widens a column: the column list follows.
  grid->horizontalHeader()->resizeSection(1, 60);
  EXPECT_EQ(grid->Columns()[1].Width, 60);
}

TEST_F(Grid, ColumnsWidenToShowEveryValueWithItsMargins) {
  QFont large = grid->font();
  large.setPixelSize(16);
  grid->setFont(large);
  ds->Rows[4][3] = std::string("Бензин/Електро с дълго име");
  ds->Open();
  const QFontMetrics metrics(large);
  // Every value fits its column less the margins and the grid line; a column whose values fit
  // keeps its width.
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 10; ++r)
      EXPECT_LE(metrics.horizontalAdvance(Cell(r, c)), grid->columnWidth(c) - 2 * TDBGrid::CellMargin - 1)
          << r << "," << c;
  EXPECT_EQ(grid->columnWidth(2), 31);
  EXPECT_GT(grid->columnWidth(1), 28);
  EXPECT_EQ(grid->Columns()[1].Width, 28);
  // The text lies inside the margins: nothing of it in the first or last CellMargin pixels.
  grid->horizontalHeader()->resizeSection(2, 60);
  const QRect cell = grid->visualRect(grid->model()->index(1, 2));  // "51", on the right
  const QImage image = grid->viewport()->grab().toImage();
  const QRgb ground = image.pixel(cell.left() + 1, cell.top() + 1);
  auto inked = [&](int X0, int X1) {
    for (int x = X0; x < X1; ++x)
      for (int y = cell.top(); y < cell.bottom(); ++y)
        if (image.pixel(x, y) != ground) return true;
    return false;
  };
  EXPECT_FALSE(inked(cell.left(), cell.right() - 1 - TDBGrid::CellMargin - metrics.horizontalAdvance("51")));
  EXPECT_FALSE(inked(cell.right() - 1 - TDBGrid::CellMargin + 1, cell.right() - 1));
  EXPECT_TRUE(inked(cell.right() - 1 - TDBGrid::CellMargin - metrics.horizontalAdvance("51"), cell.right() - 1));
  // A user's narrower width holds until the rows are read again.
  grid->horizontalHeader()->resizeSection(3, 40);
  EXPECT_EQ(grid->columnWidth(3), 40);
  ds->Close();
  ds->Open();
  EXPECT_GE(grid->columnWidth(3), metrics.horizontalAdvance(Cell(4, 3)) + 2 * TDBGrid::CellMargin + 1);
}

TEST_F(Grid, MissingFieldsAndAnEmptyColumnList) {
  grid->SetColumns({{"cc", "CC", 28}, {"Others", "", 64}});
  ds->Open();
  EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Others");
  EXPECT_EQ(Cell(0, 0), "1000");
  EXPECT_FALSE(grid->model()->index(0, 1).data().isValid());
  // No columns: one per field, titled by its name.
  grid->SetColumns({});
  ASSERT_EQ(grid->model()->columnCount(), 4);
  EXPECT_EQ(grid->model()->headerData(3, Qt::Horizontal).toString(), "Fuels.Def");
  EXPECT_EQ(grid->columnWidth(3), 64);
}

TEST_F(Grid, LayoutPropertiesSetColumnsAndOptions) {
  grid->setProperty("Columns", QStringList{QString::fromUtf8("Parts.Name|Част|94"), "KW||", "cc|CC|33"});
  grid->setProperty("Options", "[dgTitles, dgRowSelect]");
  ds->Open();
  ASSERT_EQ(grid->Columns().size(), 3u);
  EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), QString::fromUtf8("Част"));
  EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "KW");
  EXPECT_EQ(grid->columnWidth(0), 94);
  EXPECT_EQ(grid->columnWidth(1), 64);
  EXPECT_EQ(grid->columnWidth(2), 33);
  EXPECT_EQ(grid->Options(), dgTitles | dgRowSelect);
  EXPECT_TRUE(grid->horizontalHeader()->isVisibleTo(grid.get()));
  EXPECT_FALSE(grid->verticalHeader()->isVisibleTo(grid.get()));
  EXPECT_EQ(grid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
}

TEST_F(Grid, CellsAreNeverEdited) {
  grid->SetOptions(grid->Options() | dgEditing);
  ds->Open();
  const QModelIndex cell = grid->model()->index(2, 0);
  EXPECT_FALSE(grid->model()->flags(cell) & Qt::ItemIsEditable);
  const QRect r = grid->visualRect(cell);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  QTest::keyClick(grid.get(), Qt::Key_F2);
  EXPECT_TRUE(grid->findChildren<QLineEdit*>().isEmpty());  // no cell editor was opened
  EXPECT_FALSE(grid->model()->setData(cell, "x"));
  EXPECT_EQ(Cell(2, 0), QString::fromUtf8("Двигател 2"));
}

TEST_F(Grid, FollowsTheDatasetCursor) {
  ds->Open();
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(Marked(), std::vector<int>{0});
  ds->Next();
  ds->Next();
  EXPECT_EQ(grid->CurrentRow(), 2);
  EXPECT_EQ(Marked(), std::vector<int>{2});
  ASSERT_EQ(grid->selectionModel()->selectedRows().size(), 1);
  EXPECT_EQ(grid->selectionModel()->selectedRows()[0].row(), 2);
  ds->Last();
  EXPECT_EQ(grid->CurrentRow(), 9);
  ds->SetRecNo(5);
  EXPECT_EQ(grid->CurrentRow(), 4);
  ds->First();
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(Marked(), std::vector<int>{0});
  // The grid's following raises no AfterScroll of its own: open and four moves.
  EXPECT_EQ(ds->AfterScrollCount, 1 + 5);
}

TEST_F(Grid, MovingTheGridMovesTheDataset) {
  ds->Open();
  ds->AfterScrollCount = 0;
  Click(3, 1);
  EXPECT_EQ(ds->RecNo(), 4);
  EXPECT_EQ(ds->AfterScrollCount, 1);
  EXPECT_EQ(Marked(), std::vector<int>{3});
  EXPECT_EQ(ds->FieldByName("cc")->AsString(), "1003");

  QTest::keyClick(grid.get(), Qt::Key_Down);
  EXPECT_EQ(ds->RecNo(), 5);
  EXPECT_EQ(ds->AfterScrollCount, 2);

  // Another column of the same row is no move.
  Click(4, 3);
  EXPECT_EQ(ds->AfterScrollCount, 2);

  QTest::keyClick(grid.get(), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(ds->RecNo(), 10);
  EXPECT_EQ(ds->AfterScrollCount, 3);

  grid->setCurrentIndex(grid->model()->index(1, 0));
  EXPECT_EQ(ds->RecNo(), 2);
  EXPECT_EQ(ds->AfterScrollCount, 4);
}

TEST_F(Grid, AfterScrollThatMovesOnIsFollowed) {
  ds->Open();
  // A handler that steps past odd rows: the grid ends where the dataset ends.
  ds->AfterScroll = [this](TDataSet*) {
    if (ds->RecNo() % 2 == 0 && ds->RecNo() < ds->RecordCount()) ds->Next();
  };
  Click(3, 0);  // row 4 -> 5
  EXPECT_EQ(ds->RecNo(), 5);
  EXPECT_EQ(grid->CurrentRow(), 4);
  EXPECT_EQ(Marked(), std::vector<int>{4});
}

TEST_F(Grid, ReloadsOnReopenAndFilter) {
  ds->Open();
  ds->SetRecNo(7);
  ds->Close();
  EXPECT_EQ(grid->model()->rowCount(), 0);
  EXPECT_EQ(grid->CurrentRow(), -1);
  EXPECT_TRUE(Marked().empty());

  ds->Rows.resize(3);
  std::get<std::string>(ds->Rows[1][0]) = "нов";
  ds->Open();
  EXPECT_EQ(grid->model()->rowCount(), 3);
  EXPECT_EQ(Cell(1, 0), QString::fromUtf8("нов"));
  EXPECT_EQ(grid->CurrentRow(), 0);

  ds->Close();
  ds->Rows = Cars(10)->Rows;
  ds->Open();
  ds->SetRecNo(6);
  ds->AfterScrollCount = 0;
  ds->SetFilter("Fuels.Def='Дизел'");
  ds->SetFiltered(true);
  EXPECT_EQ(ds->AfterScrollCount, 1);  // the dataset's own, nothing from the grid
  EXPECT_EQ(grid->model()->rowCount(), 5);
  EXPECT_EQ(Cell(0, 1), "1001");
  EXPECT_EQ(Cell(4, 1), "1009");
  EXPECT_EQ(grid->CurrentRow(), 0);
  EXPECT_EQ(Marked(), std::vector<int>{0});

  Click(2, 0);
  EXPECT_EQ(ds->FieldByName("cc")->AsString(), "1005");

  ds->SetFiltered(false);
  EXPECT_EQ(grid->model()->rowCount(), 10);
  EXPECT_EQ(grid->CurrentRow(), 0);

  ds->SetFilter("Fuels.Def='Газ'");
  ds->SetFiltered(true);
  EXPECT_EQ(grid->model()->rowCount(), 0);
  EXPECT_EQ(grid->CurrentRow(), -1);
}

TEST_F(Grid, WaitsWhileControlsAreDisabled) {
  grid->SetColumns({});  // fields made by each opening, not declared
  ds->Open();
  ds->DisableControls();
  ds->Next();
  ds->Next();
  EXPECT_EQ(grid->CurrentRow(), 0);
  // Filtering remakes the fields and leaves fewer rows than the grid still shows; painting
  // then must not read past them or through the old fields.
  ds->SetFilter("Fuels.Def='Дизел'");
  ds->SetFiltered(true);
  EXPECT_EQ(grid->model()->rowCount(), 10);
  EXPECT_FALSE(grid->model()->index(9, 1).data().isValid());
  EXPECT_EQ(Cell(0, 1), "1001");
  grid->repaint();
  ds->EnableControls();
  EXPECT_EQ(grid->model()->rowCount(), 5);
  EXPECT_EQ(grid->CurrentRow(), 0);
}

TEST_F(Grid, DisabledSourceShowsNothing) {
  ds->Open();
  src.SetEnabled(false);
  EXPECT_EQ(grid->model()->rowCount(), 0);
  src.SetEnabled(true);
  EXPECT_EQ(grid->model()->rowCount(), 10);
}

TEST_F(Grid, OutlivesItsDatasetAndSource) {
  ds->Open();
  ds.reset();
  EXPECT_FALSE(grid->model()->index(0, 0).data().isValid());
  grid->repaint();
  auto other = Cars(2);
  auto source = std::make_unique<TDataSource>(nullptr);
  source->SetDataSet(other.get());
  grid->SetDataSource(source.get());
  other->Open();
  EXPECT_EQ(grid->model()->rowCount(), 2);
  source.reset();
  EXPECT_EQ(grid->DataSource(), nullptr);
  grid->repaint();
}

TEST_F(Grid, ExceptionFromAfterScrollGoesToTheApplication) {
  ds->Open();
  ds->AfterScroll = [](TDataSet*) { throw EAbort("stop"); };
  Click(5, 0);  // must not reach Qt's event loop
  EXPECT_EQ(ds->RecNo(), 6);
  EXPECT_EQ(grid->CurrentRow(), 5);
}

TEST(GridLarge, FortyThousandRowsAreReadOnDemand) {
  auto ds = Cars(40000);
  TDataSource src(nullptr);
  src.SetDataSet(ds.get());
  TDBGrid grid;
  grid.SetOptions(dgTitles | dgIndicator | dgRowSelect);
  grid.SetDataSource(&src);
  grid.resize(500, 400);
  grid.show();
  ds->Open();
  EXPECT_EQ(grid.model()->rowCount(), 40000);
  ds->Last();
  EXPECT_EQ(grid.CurrentRow(), 39999);
  EXPECT_EQ(grid.model()->index(39999, 1).data().toString(), "40999");
  // The last row is scrolled into view.
  const QRect r = grid.visualRect(grid.model()->index(39999, 0));
  EXPECT_TRUE(grid.viewport()->rect().intersects(r));
  ds->SetFilter("Fuels.Def='Бензин'");
  ds->SetFiltered(true);
  EXPECT_EQ(grid.model()->rowCount(), 20000);
  QTest::keyClick(&grid, Qt::Key_PageDown);
  EXPECT_GT(ds->RecNo(), 1);
  EXPECT_EQ(grid.CurrentRow(), ds->RecNo() - 1);
}

TEST(GridCatalogue, QueryRowsFilterAndReopen) {
  SKIP_WITHOUT_CATALOGUE("edge");
  const auto file = dbtest::Catalogue("edge");
  TADOConnection conn(nullptr);
  conn.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + file.string());
  conn.SetLoginPrompt(false);
  conn.Open();
  TADOQuery q(nullptr);
  q.SetConnection(&conn);
  q.SQL()->Add("SELECT Auto.ID, Auto.Def, Auto.StartYear, Fuels.Def FROM Auto INNER JOIN Fuels ON Auto.Fuel_ID = "
               "Fuels.ID ORDER BY Auto.ID;");
  int scrolls = 0;
  q.AfterScroll = [&](TDataSet*) { ++scrolls; };
  TDataSource src(nullptr);
  src.SetDataSet(&q);
  TDBGrid grid;
  grid.SetOptions(dgTitles | dgIndicator | dgRowSelect);
  grid.SetColumns({{"Auto.Def", "Версия", 120}, {"StartYear", "год.", 36}, {"Fuels.Def", "Гориво", 100}});
  grid.SetDataSource(&src);
  grid.resize(400, 300);
  grid.show();
  q.Open();
  const int all = q.RecordCount();
  ASSERT_GT(all, 3);
  EXPECT_EQ(grid.model()->rowCount(), all);
  EXPECT_EQ(grid.model()->index(0, 0).data().toString(), QString::fromUtf8("1.6i Хечбек"));
  EXPECT_EQ(grid.model()->index(0, 1).data().toString(), "1998");

  q.SetFilter("Fuels.Def='Дизел'");
  q.SetFiltered(true);
  EXPECT_EQ(grid.model()->rowCount(), q.RecordCount());
  EXPECT_LT(q.RecordCount(), all);
  for (int r = 0; r < grid.model()->rowCount(); ++r)
    EXPECT_EQ(grid.model()->index(r, 2).data().toString(), QString::fromUtf8("Дизел"));

  scrolls = 0;
  grid.setCurrentIndex(grid.model()->index(1, 0));
  EXPECT_EQ(q.RecNo(), 2);
  EXPECT_EQ(scrolls, 1);
  EXPECT_EQ(q.FieldByName("Auto.Def")->AsString(), grid.model()->index(1, 0).data().toString().toStdString());

  q.Close();
  q.SetFiltered(false);
  q.Open();
  EXPECT_EQ(grid.model()->rowCount(), all);
  EXPECT_EQ(grid.CurrentRow(), 0);
}

}  // namespace
