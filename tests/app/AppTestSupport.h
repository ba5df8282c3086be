#pragma once
// Running the catalogue program in tests (offscreen Qt): a program folder with a test catalogue,
// car pictures, the report project and icons; typing and choosing as a user does; reading the
// specification text back with its styles. Typing, message boxes: support/QtTestSupport.h.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "app/uBrowseN.h"
#include "app/uDataMod.h"
#include "app/uMain.h"
#include "app/uSearch.h"
#include "picture/PxThumbImage.h"
#include "platform/graphics/Graphics.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/ComCtrls.h"
#include "platform/ui/DBGrids.h"
#include "platform/ui/RichEdit.h"
#include "support/QtTestSupport.h"

namespace apptest {

namespace fs = std::filesystem;

using qttest::MessageBoxes;
using qttest::Q;
using qttest::TypeText;

// The window tests' catalogue: the edge catalogue with the rows of catalogue/windows.txt.
inline fs::path WindowsCatalogue() {
#ifdef KELV_APP_TEST_CATALOGUE
  return KELV_APP_TEST_CATALOGUE;
#else
  return {};
#endif
}
inline bool HaveCatalogue() { return !WindowsCatalogue().empty() && fs::exists(WindowsCatalogue()); }

inline fs::path SourceDir() {
  if (const char* s = std::getenv("KELV_SOURCE")) return s;
#ifdef KELV_SOURCE_DIR
  return KELV_SOURCE_DIR;
#else
  return {};
#endif
}

// A one-colour picture of W x H saved as FileName (JPEG or BMP by its extension).
inline void WritePicture(const fs::path& FileName, int W, int H, TColor Colour) {
  fs::create_directories(FileName.parent_path());
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(W);
  bitmap.SetHeight(H);
  bitmap.Canvas()->Brush()->SetColor(Colour);
  bitmap.Canvas()->FillRect(TRect{0, 0, W, H});
  if (FileName.extension() == ".bmp") {
    bitmap.SaveToFile(FileName.string());
  } else {
    TJPEGImage jpeg;
    jpeg.Assign(&bitmap);
    jpeg.SaveToFile(FileName.string());
  }
}

// Picture sizes by which the tests tell the pictures apart.
struct PictureSize {
  int W, H;
};
inline constexpr PictureSize kFocus{40, 30}, kFocusSedan{50, 30}, kFiesta{60, 30}, kNiva{70, 30}, kCoupe{80, 40};

// A program folder: the catalogue as DB/kelv.m$$, pictures under images/ (names in other letter
// cases than the catalogue's where the lookup must ignore case), the report project and icons.
// The executable's folder points there until the object goes.
class ProgramFolder {
 public:
  explicit ProgramFolder(const fs::path& Catalogue = WindowsCatalogue(), bool WithReport = true) {
    FPath = FDir.path().toStdString();
    fs::create_directories(FPath / "DB");
    fs::copy_file(Catalogue, FPath / "DB" / "kelv.m$$");
    const fs::path images = FPath / "images";
    WritePicture(images / "Ford" / "focus.jpg", kFocus.W, kFocus.H, clRed);
    WritePicture(images / "Ford" / "focus_sedan.jpg", kFocusSedan.W, kFocusSedan.H, clLime);
    WritePicture(images / "Ford" / "fiesta.jpg", kFiesta.W, kFiesta.H, clBlue);
    WritePicture(images / "lada-vaz" / "NIVA.JPG", kNiva.W, kNiva.H, clYellow);
    WritePicture(images / "тест-марка" / "купе.jpg", kCoupe.W, kCoupe.H, clFuchsia);
    if (WithReport) {
      const fs::path report = SourceDir() / "app" / "report";
      fs::copy_file(report / "kelv2.rav", FPath / "kelv2.rav");
      fs::copy(report / "res", FPath / "res", fs::copy_options::recursive);
    }
    SetExecutableFolder(FPath.string());
  }
  ~ProgramFolder() { SetExecutableFolder(""); }
  const fs::path& Path() const { return FPath; }

 private:
  QTemporaryDir FDir;
  fs::path FPath;
};

// Opens Combo's list and clicks item Index in it, as a user chooses.
inline void Choose(QComboBox* Combo, int Index) {
  Combo->showPopup();
  QAbstractItemView* view = Combo->view();
  QTRY_VERIFY_WITH_TIMEOUT(view->isVisible(), testsupport::kHangGuardMs);
  const QRect r = view->visualRect(view->model()->index(Index, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
  QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), testsupport::kHangGuardMs);
  QCoreApplication::processEvents();
}
inline void Choose(QComboBox* Combo, const QString& Text) {
  const int i = Combo->findText(Text);
  QVERIFY2(i >= 0, qPrintable(Text));
  Choose(Combo, i);
}

// Clicks a node of the tree by its path of captions ("Ford", "Focus", "1.6i").
inline TTreeNode* Node(TTreeView* Tree, const QStringList& Path) {
  TTreeNode* node = nullptr;
  for (const QString& caption : Path) {
    TTreeNode* next = nullptr;
    const int n = node ? node->Count() : Tree->topLevelItemCount();
    for (int i = 0; i < n && !next; ++i) {
      auto* c = node ? node->Item(i) : static_cast<TTreeNode*>(Tree->topLevelItem(i));
      if (Q(c->Text()) == caption) next = c;
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}
inline void ClickNode(TTreeView* Tree, TTreeNode* Node) {
  for (QTreeWidgetItem* p = Node->parent(); p; p = p->parent()) p->setExpanded(true);
  Tree->scrollToItem(Node);
  const QRect r = Tree->visualItemRect(Node);
  QTest::mouseClick(Tree->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
}

// Clicks row Row of a data-aware grid.
inline void ClickRow(TDBGrid* Grid, int Row) {
  const QModelIndex index = Grid->model()->index(Row, 1);
  Grid->scrollTo(index);
  QTest::mouseClick(Grid->viewport(), Qt::LeftButton, Qt::NoModifier, Grid->visualRect(index).center());
}

// The lines of the specification text, with their styles.
struct SpecLine {
  QString Text;
  bool Bold;
  bool Bullet;
};
inline std::vector<SpecLine> Lines(TRichEdit* Edit) {
  std::vector<SpecLine> out;
  const QTextDocument* doc = Edit->document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
    if (b == doc->lastBlock() && b.text().isEmpty()) break;
    bool bold = !b.text().isEmpty();
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().fontWeight() < QFont::Bold) bold = false;
    out.push_back({b.text(), bold, b.textList() != nullptr});
  }
  return out;
}
inline QStringList Texts(TRichEdit* Edit) {
  QStringList out;
  for (const SpecLine& l : Lines(Edit)) out << l.Text;
  return out;
}
// Lines in the tests' notation: "B|" bold, "*|" bulleted, "-|" neither (and "B*|" both), then
// the line's text.
inline QStringList Styled(TRichEdit* Edit) {
  QStringList out;
  for (const SpecLine& l : Lines(Edit))
    out << QString(l.Bold && l.Bullet ? "B*|" : l.Bold ? "B|" : l.Bullet ? "*|" : "-|") + l.Text;
  return out;
}

// Row (0-based) of Data whose Field reads Value, or -1; looks without moving the current row
// as anyone sees it (no row-change event, the position restored).
inline int RowOf(TDataSet* Data, const char* Field, const std::string& Value) {
  auto saved = Data->AfterScroll;
  Data->AfterScroll = nullptr;
  Data->DisableControls();
  const int at = Data->RecNo();
  int found = -1;
  for (Data->First(); !Data->Eof() && found < 0; Data->Next())
    if (Data->FieldByName(Field)->AsString() == Value) found = Data->RecNo() - 1;
  if (at > 0) Data->SetRecNo(at);
  Data->EnableControls();
  Data->AfterScroll = saved;
  return found;
}

// Every value of Field, in row order, looked at as RowOf does.
inline QStringList Column(TDataSet* Data, const char* Field) {
  auto saved = Data->AfterScroll;
  Data->AfterScroll = nullptr;
  Data->DisableControls();
  const int at = Data->RecNo();
  QStringList out;
  for (Data->First(); !Data->Eof(); Data->Next()) out << Q(Data->FieldByName(Field)->AsString());
  if (at > 0) Data->SetRecNo(at);
  Data->EnableControls();
  Data->AfterScroll = saved;
  return out;
}

inline QSize Shown(px::TPxThumbImage* Image) {
  TGraphic* g = Image->Picture()->Graphic();
  return g ? QSize(g->Width(), g->Height()) : QSize();
}

}  // namespace apptest
