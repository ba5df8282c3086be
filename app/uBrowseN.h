#pragma once
// The browse window: the brand/model/engine tree with the fuel filter, the matching car
// versions, and the picture and specification of the current one.
#include <memory>
#include <string>

#include "platform/ui/Forms.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class TDBGrid;
class TMenuItem;
class TPopupMenu;
class TRichEdit;
class TTreeNode;
class TTreeView;
namespace px {
class TPxThumbImage;
}
namespace Ui {
class TfrmBrowseN;
}

// The record of an engine node: the keys of the details query and the caption shown above the
// results. Lengths count characters. The keys are kept whole: a key cut short would lead to
// another brand, model or engine, or to none.
struct AutoRec {
  std::string BrandID;
  std::string EngineID;
  std::string ModelID;
  std::string Caption;    // brand > model > engine
  std::string BrandName;  // at most 60 characters
};

// The first item of the fuel list: no preference.
inline constexpr const char* kAnyFuel = "--------------без значение--------------";

class TfrmBrowseN : public TForm {
 public:
  explicit TfrmBrowseN(TComponent* AOwner);
  ~TfrmBrowseN() override;

  QFrame* panLeft;
  QFrame* panLTop;
  QPushButton* btnGoToSearch;
  QGroupBox* GroupBox4;
  TTreeView* treeMenu;
  QFrame* panRight;
  QFrame* panRFilter;
  QLabel* labelBrandModelEngine;
  QLabel* Label2;
  QComboBox* cbFuel;
  QGroupBox* GroupBox2;
  TDBGrid* dbGridResults;
  QGroupBox* grpPicture;
  px::TPxThumbImage* iAuto;
  QGroupBox* GroupBox3;
  TRichEdit* reSpec;
  QPushButton* btnHelp;
  QPushButton* btnPrint;
  TPopupMenu* SpecPopup;
  TMenuItem* N1;
  TMenuItem* N3;
  TMenuItem* mpCopy;

  // False until LoadTree has finished.
  bool TreeLoaded{false};

  // Fills the fuel list and the catalogue tree from the database, with the splash shown.
  void LoadTree();
  // Releases the records of the engine nodes (each once; the nodes keep null data).
  void FreeTreeData();
  // Shows the specification and picture of the details query's current row.
  void ShowDetails();

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  // An engine node: its versions in the grid, the fuel choice and filter reset.
  void treeMenuChange(TObject* Sender, TTreeNode* Node);
  // The versions of the chosen fuel only (the first item: all).
  void cbFuelChange(TObject* Sender);
  void btnGoToSearchClick(TObject* Sender);
  void btnHelpClick(TObject* Sender);
  // Prints the data sheet of the current version.
  void btnPrintClick(TObject* Sender);
  void SpecPopupPopup(TObject* Sender);
  void N1Click(TObject* Sender);
  void mpCopyClick(TObject* Sender);

 private:
  std::unique_ptr<Ui::TfrmBrowseN> ui;
};

extern TfrmBrowseN* frmBrowseN;
