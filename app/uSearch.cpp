#include "app/uSearch.h"

#include <QComboBox>
#include <QLabel>
#include <functional>
#include <utility>

#include "app/DetailsView.h"
#include "app/uBrowseN.h"
#include "app/uDataMod.h"
#include "picture/PxThumbImage.h"
#include "platform/ui/DBCtrls.h"
#include "platform/ui/Mask.h"
#include "platform/ui/Menus.h"
#include "platform/ui/QtHost.h"
#include "platform/ui/RichEdit.h"
#include "ui_uSearch.h"

TfrmSearch* frmSearch = nullptr;

TfrmSearch::TfrmSearch(TComponent* AOwner) : TForm(AOwner), ui(std::make_unique<Ui::TfrmSearch>()) {
  SetName("frmSearch");
  ui->setupUi(this);
  panLeft = ui->panLeft;
  panLTop = ui->panLTop;
  btnHelp = ui->btnHelp;
  btnPrint = ui->btnPrint;
  btnBrowse = ui->btnBrowse;
  grpSerial = ui->grpSerial;
  Label4 = ui->Label4;
  cbManufacturer = ui->cbManufacturer;
  Label5 = ui->Label5;
  medCatNumber = ui->medCatNumber;
  btnDoSearch = ui->btnDoSearch;
  lSearch = ui->lSearch;
  Panel1 = ui->Panel1;
  GroupBox2 = ui->GroupBox2;
  gridResults = ui->gridResults;
  GroupBox5 = ui->GroupBox5;
  Label1 = ui->Label1;
  Label2 = ui->Label2;
  Label3 = ui->Label3;
  Label6 = ui->Label6;
  edBrand = ui->edBrand;
  edModel = ui->edModel;
  edFuel = ui->edFuel;
  edEngine = ui->edEngine;
  GroupBox1 = ui->GroupBox1;
  iAuto = new px::TPxThumbImage(this);
  HostInPlaceOf(ui->iAuto, iAuto);
  GroupBox3 = ui->GroupBox3;
  reSpec = ui->reSpec;
  const TSpecPopup popup = CreateSpecPopup(
      this, reSpec, [this](TObject* Sender) { N1Click(Sender); }, [this](TObject* Sender) { mpCopyClick(Sender); });
  SpecPopup = popup.Menu;
  N1 = popup.N1;
  N3 = popup.N3;
  mpCopy = popup.mpCopy;

  if (DM) {
    gridResults->SetDataSource(DM->dsSearchSerial);
    for (TDBEdit* edit : {edBrand, edModel, edFuel, edEngine}) edit->SetDataSource(DM->dsSearchSerial);
    DM->SearchShowDetails = [this] { ShowDetails(); };
  }

  // The handlers the layout's event properties name.
  PublishMethod("btnBrowseClick", TNotifyEvent([this](TObject* Sender) { btnBrowseClick(Sender); }));
  PublishMethod("btnHelpClick", TNotifyEvent([this](TObject* Sender) { btnHelpClick(Sender); }));
  PublishMethod("btnPrintClick", TNotifyEvent([this](TObject* Sender) { btnPrintClick(Sender); }));
  PublishMethod("btnDoSearchClick", TNotifyEvent([this](TObject* Sender) { btnDoSearchClick(Sender); }));
  PublishMethod("cbManufacturerCloseUp", TNotifyEvent([this](TObject* Sender) { cbManufacturerCloseUp(Sender); }));
  PublishMethod("medCatNumberKeyPress",
                TKeyPressEvent([this](TObject* Sender, char16_t& Key) { medCatNumberKeyPress(Sender, Key); }));
  FormLoaded();
}

TfrmSearch::~TfrmSearch() {
  if (DM) DM->SearchShowDetails = nullptr;
  if (frmSearch == this) frmSearch = nullptr;
}

void TfrmSearch::ShowDetails() {
  if (!Visible()) return;
  const TDetailsControls controls{reSpec, iAuto, btnPrint};
  TADOQuery* q = DM->qrySearchSerial;
  if (q->IsEmpty()) {
    ClearDetails(controls);
    return;
  }
  const TVersionNames names{q->FieldByName("Brands.Name")->AsString(), q->FieldByName("Models.Name")->AsString(),
                            q->FieldByName("Engines.Def")->AsString()};
  ShowVersionDetails(q, names, controls, false);
}

void TfrmSearch::cbManufacturerCloseUp(TObject* /*Sender*/) {
  medCatNumber->SetText("");
  const QString maker = cbManufacturer->currentText();
  if (maker == QLatin1String("KELV")) {
    medCatNumber->SetEditMask("aa\\.aa\\.aa;1;_");
    medCatNumber->SetMaxLength(8);
  } else if (maker == QLatin1String("BOSAL")) {
    medCatNumber->SetEditMask("000\\-000;1;_");
    medCatNumber->SetMaxLength(10);
  } else if (maker == QLatin1String("WALKER")) {
    medCatNumber->SetEditMask("");
    medCatNumber->SetMaxLength(255);
  } else {
    return;
  }
  medCatNumber->setFocus();
}

void TfrmSearch::btnDoSearchClick(TObject* /*Sender*/) {
  lSearch->show();
  const TCursor saved = Screen->Cursor();
  Screen->SetCursor(crHourGlass);

  const QString maker = cbManufacturer->currentText();
  std::string prefix;
  if (maker == QLatin1String("KELV")) prefix = "SerialKELV=";
  if (maker == QLatin1String("BOSAL")) prefix = "SerialBOSAL=";
  if (maker == QLatin1String("WALKER")) prefix = "SerialWALKER=";

  iAuto->SetPicture(nullptr);
  reSpec->Clear();
  const std::string filter = prefix + QuotedStr(medCatNumber->Text());

  TADOQuery* q = DM->qrySearchSerial;
  // Also when showing the first match fails (a picture that cannot be read), the search is over:
  // the cursor and the label come back and Print follows the results.
  auto finish = [&] {
    Screen->SetCursor(saved);
    lSearch->hide();
    btnPrint->setEnabled(q->Active() && q->RecordCount() > 0);
  };
  try {
    q->Close();
    Repaint();
    q->SetFilter(filter);
    q->SetFiltered(true);
    q->Open();
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TfrmSearch::medCatNumberKeyPress(TObject* /*Sender*/, char16_t& Key) {
  if (Key == 13) btnDoSearchClick(medCatNumber);
}

void TfrmSearch::btnPrintClick(TObject* /*Sender*/) {
  PrintVersion(iAuto, DM->qrySearchSerial->FieldByName("Auto.ID")->AsString());
}

void TfrmSearch::N1Click(TObject* /*Sender*/) { reSpec->SelectAll(); }

void TfrmSearch::mpCopyClick(TObject* /*Sender*/) { reSpec->CopyToClipboard(); }

void TfrmSearch::btnBrowseClick(TObject* /*Sender*/) {
  frmBrowseN->Show();
  Close();
}

void TfrmSearch::btnHelpClick(TObject* /*Sender*/) {}
