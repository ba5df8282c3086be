// The browse and search windows on the large generated catalogue (40,000 car versions, 200,000
// catalogue numbers), offscreen: the details rebuild for one row change in each window (the
// specification text written line by line with its styles, the picture looked up and loaded, the
// two or three small queries), with and without the repaint that follows, and a whole search from
// the button to the shown details. Side by side: the same text put into a plain text edit in one
// call (the least a text widget costs), and the search's query alone without any window.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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
#include "platform/ui/Mask.h"
#include "platform/ui/RichEdit.h"

namespace fs = std::filesystem;

namespace {

#ifdef KELV_LARGE_CATALOGUE
const char* const kCatalogue = KELV_LARGE_CATALOGUE;
#else
const char* const kCatalogue = "";
#endif

// A car picture of a usual size.
void WriteCarPicture(const fs::path& File) {
  fs::create_directories(File.parent_path());
  TBitmap bitmap;
  bitmap.SetPixelFormat(pf24bit);
  bitmap.SetWidth(640);
  bitmap.SetHeight(480);
  for (int i = 0; i < 16; ++i) {
    bitmap.Canvas()->Brush()->SetColor(static_cast<TColor>(0x102030 * (i + 1)));
    bitmap.Canvas()->FillRect(TRect{i * 40, 0, i * 40 + 40, 480});
  }
  TJPEGImage jpeg;
  jpeg.Assign(&bitmap);
  jpeg.SaveToFile(File.string());
}

class Program;
std::unique_ptr<Program> TheProgram;  // goes before the Qt application does

// The program started on the large catalogue, with pictures for the first engine's versions.
class Program {
 public:
  static Program* Get(benchmark::State& State) {
    if (!*kCatalogue || !fs::exists(kCatalogue)) {
      State.SkipWithError("large catalogue not built (target kelv_large_catalogue)");
      return nullptr;
    }
    if (!TheProgram) TheProgram = std::make_unique<Program>();
    return TheProgram.get();
  }

  Program() {
    const fs::path dir = FDir.path().toStdString();
    fs::create_directories(dir / "DB");
    fs::create_symlink(fs::absolute(kCatalogue), dir / "DB" / "kelv.m$$");
    SetExecutableFolder(dir.string());
    StartProgram();

    // The first engine of the tree and its versions' pictures.
    TTreeView* tree = frmBrowseN->treeMenu;
    TTreeNode* brand = static_cast<TTreeNode*>(tree->topLevelItem(0));
    Engine = brand->Item(0)->Item(0);
    frmMain->btnBrowse->click();
    tree->SetSelected(Engine);
    TADOQuery* q = DM->qryFillDetails;
    for (q->First(); !q->Eof(); q->Next()) {
      const std::string picture = q->FieldByName("Picture")->AsString();
      if (!picture.empty())
        WriteCarPicture(TfrmMain::PictureFileName(ChangeFileExt(picture, ".jpg"), brand->Text()));
    }
    q->First();
    // A catalogue number of the first version, for the search.
    Number = DM->qryRepSerials->FieldByName("SerialKELV")->AsString();
    QApplication::processEvents();
  }
  ~Program() {
    EndProgram();
    SetExecutableFolder("");
  }

  TTreeNode* Engine{nullptr};
  std::string Number;

 private:
  QTemporaryDir FDir;
};

// One row change in the browse window: the next version of the engine (and back at the end).
void BM_BrowseRowChange(benchmark::State& State) {
  Program* p = Program::Get(State);
  if (!p) return;
  const bool paint = State.range(0) != 0;
  frmSearch->Hide();
  frmBrowseN->Show();
  TADOQuery* q = DM->qryFillDetails;
  const int rows = q->RecordCount();
  int row = 1;
  for (auto _ : State) {
    row = row % rows + 1;
    q->SetRecNo(row);
    if (paint) QApplication::processEvents();
  }
  State.counters["versions"] = rows;
  State.counters["lines"] = frmBrowseN->reSpec->Lines()->Count();
}
BENCHMARK(BM_BrowseRowChange)->Arg(0)->Arg(1)->ArgNames({"paint"})->Unit(benchmark::kMicrosecond);

// One row change in the search window's results.
void BM_SearchRowChange(benchmark::State& State) {
  Program* p = Program::Get(State);
  if (!p) return;
  const bool paint = State.range(0) != 0;
  frmBrowseN->Hide();
  frmSearch->Show();
  TADOQuery* q = DM->qrySearchSerial;
  q->Close();
  q->SetFilter("Auto_ID='1'");  // the five part rows of the first version
  q->SetFiltered(true);
  q->Open();
  const int rows = q->RecordCount();
  int row = 1;
  for (auto _ : State) {
    row = row % rows + 1;
    q->SetRecNo(row);
    if (paint) QApplication::processEvents();
  }
  State.counters["rows"] = rows;
}
BENCHMARK(BM_SearchRowChange)->Arg(0)->Arg(1)->ArgNames({"paint"})->Unit(benchmark::kMicrosecond);

// A whole search: the number in the field, "Търси", the results and the first row's details.
void BM_WholeSearch(benchmark::State& State) {
  Program* p = Program::Get(State);
  if (!p) return;
  frmBrowseN->Hide();
  frmSearch->Show();
  frmSearch->medCatNumber->SetText(p->Number);
  for (auto _ : State) {
    frmSearch->btnDoSearch->click();
    QApplication::processEvents();
  }
  State.counters["results"] = DM->qrySearchSerial->RecordCount();
}
BENCHMARK(BM_WholeSearch)->Unit(benchmark::kMillisecond);

// Peer: the search's query alone (filter on the number, open), no window involved.
void BM_WholeSearch_QueryOnly(benchmark::State& State) {
  Program* p = Program::Get(State);
  if (!p) return;
  TADOQuery* q = DM->qrySearchSerial;
  auto scroll = q->AfterScroll;
  q->AfterScroll = nullptr;
  for (auto _ : State) {
    q->Close();
    q->SetFilter("SerialKELV=" + QuotedStr(p->Number));
    q->SetFiltered(true);
    q->Open();
  }
  q->AfterScroll = scroll;
}
BENCHMARK(BM_WholeSearch_QueryOnly)->Unit(benchmark::kMillisecond);

// Peer: the browse window's text put into a plain text edit at once, without styles.
void BM_BrowseText_PlainPeer(benchmark::State& State) {
  Program* p = Program::Get(State);
  if (!p) return;
  const QString text = QString::fromStdString(frmBrowseN->reSpec->Text());
  QTextEdit edit;
  for (auto _ : State) {
    edit.clear();
    edit.setPlainText(text);
  }
}
BENCHMARK(BM_BrowseText_PlainPeer)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  TheProgram.reset();
  return 0;
}
