#pragma once
// The search window: a catalogue number in one of the three numberings, the matching part rows,
// and the picture and specification of the current one.
#include <memory>

#include "platform/ui/Forms.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class TDBEdit;
class TDBGrid;
class TMaskEdit;
class TMenuItem;
class TPopupMenu;
class TRichEdit;
namespace px {
class TPxThumbImage;
}
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
  TMaskEdit* medCatNumber;
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
  px::TPxThumbImage* iAuto;
  QGroupBox* GroupBox3;
  TRichEdit* reSpec;
  TPopupMenu* SpecPopup;
  TMenuItem* N1;
  TMenuItem* N3;
  TMenuItem* mpCopy;

  // Shows the specification and picture of the search query's current row (nothing while the
  // window is hidden).
  void ShowDetails();

  // The manufacturer list closed (changed or not): an empty number field with that
  // manufacturer's mask and length, and the focus in it.
  void cbManufacturerCloseUp(TObject* Sender);
  // Lists every part row whose number in the chosen numbering equals the typed one.
  void btnDoSearchClick(TObject* Sender);
  // Enter searches.
  void medCatNumberKeyPress(TObject* Sender, char16_t& Key);
  void btnBrowseClick(TObject* Sender);
  void btnHelpClick(TObject* Sender);
  // Prints the data sheet of the current row's version.
  void btnPrintClick(TObject* Sender);
  void N1Click(TObject* Sender);
  void mpCopyClick(TObject* Sender);

 private:
  std::unique_ptr<Ui::TfrmSearch> ui;
};

extern TfrmSearch* frmSearch;
