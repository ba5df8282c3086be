#pragma once
// The search window: a catalogue number in one of the three numberings, the matching part rows,
// and the picture and specification of the current one.
#include <memory>

#include "platform/ui/Forms.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTextEdit;
class TDBEdit;
class TDBGrid;
namespace Ui {
class TfrmSearch;
}

class TfrmSearch : public TForm {
 public:
  explicit TfrmSearch(TComponent* AOwner);
  ~TfrmSearch() override;

  QFrame* panLeft;
  QFrame* panLTop;
  QPushButton* btnHelp;
  QPushButton* btnPrint;
  QPushButton* btnBrowse;
  QGroupBox* grpSerial;
  QLabel* Label4;
  QComboBox* cbManufacturer;
  QLabel* Label5;
  QLineEdit* medCatNumber;
  QPushButton* btnDoSearch;
  QLabel* lSearch;
  QFrame* Panel1;
  QGroupBox* GroupBox2;
  TDBGrid* gridResults;
  QGroupBox* GroupBox5;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label6;
  TDBEdit* edBrand;
  TDBEdit* edModel;
  TDBEdit* edFuel;
  TDBEdit* edEngine;
  QGroupBox* GroupBox1;
  QWidget* iAuto;
  QGroupBox* GroupBox3;
  QTextEdit* reSpec;
  QMenu* SpecPopup;
  QAction* N1;
  QAction* N3;
  QAction* mpCopy;

  // Shows the specification and picture of the search query's current row (nothing while the
  // window is hidden).
  void ShowDetails();

  void btnBrowseClick(TObject* Sender);
  void btnHelpClick(TObject* Sender);

 private:
  std::unique_ptr<Ui::TfrmSearch> ui;
};

extern TfrmSearch* frmSearch;
