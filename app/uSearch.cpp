#include "app/uSearch.h"

#include <QAction>
#include <QMenu>

#include "app/uBrowseN.h"
#include "app/uDataMod.h"
#include "platform/ui/DBCtrls.h"
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
  iAuto = ui->iAuto;
  GroupBox3 = ui->GroupBox3;
  reSpec = ui->reSpec;
  N1 = ui->N1;
  N3 = ui->N3;
  mpCopy = ui->mpCopy;
  N3->setSeparator(true);
  SpecPopup = new QMenu(this);
  SpecPopup->setObjectName(QStringLiteral("SpecPopup"));
  SpecPopup->addActions({N1, N3, mpCopy});

  if (DM) {
    gridResults->SetDataSource(DM->dsSearchSerial);
    for (TDBEdit* edit : {edBrand, edModel, edFuel, edEngine}) edit->SetDataSource(DM->dsSearchSerial);
    DM->SearchShowDetails = [this] { ShowDetails(); };
  }

  connect(btnBrowse, &QPushButton::clicked, this, [this] { Application->Guard([&] { btnBrowseClick(this); }); });
  connect(btnHelp, &QPushButton::clicked, this, [this] { Application->Guard([&] { btnHelpClick(this); }); });
  FormLoaded();
}

TfrmSearch::~TfrmSearch() {
  if (DM) DM->SearchShowDetails = nullptr;
  if (frmSearch == this) frmSearch = nullptr;
}

void TfrmSearch::ShowDetails() {}

void TfrmSearch::btnBrowseClick(TObject* /*Sender*/) {
  frmBrowseN->Show();
  Close();
}

void TfrmSearch::btnHelpClick(TObject* /*Sender*/) {}
