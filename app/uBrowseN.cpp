#include "app/uBrowseN.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>

#include "app/uDataMod.h"
#include "app/uSearch.h"
#include "app/uSplash.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/ComCtrls.h"
#include "platform/ui/DBCtrls.h"
#include "platform/ui/Dialogs.h"
#include "ui_uBrowseN.h"

TfrmBrowseN* frmBrowseN = nullptr;

TfrmBrowseN::TfrmBrowseN(TComponent* AOwner) : TForm(AOwner), ui(std::make_unique<Ui::TfrmBrowseN>()) {
  SetName("frmBrowseN");
  ui->setupUi(this);
  panLeft = ui->panLeft;
  panLTop = ui->panLTop;
  btnGoToSearch = ui->btnGoToSearch;
  GroupBox4 = ui->GroupBox4;
  treeMenu = ui->treeMenu;
  panRight = ui->panRight;
  panRFilter = ui->panRFilter;
  labelBrandModelEngine = ui->labelBrandModelEngine;
  Label2 = ui->Label2;
  cbFuel = ui->cbFuel;
  GroupBox2 = ui->GroupBox2;
  dbGridResults = ui->dbGridResults;
  grpPicture = ui->grpPicture;
  iAuto = ui->iAuto;
  GroupBox3 = ui->GroupBox3;
  reSpec = ui->reSpec;
  btnHelp = ui->btnHelp;
  btnPrint = ui->btnPrint;
  N1 = ui->N1;
  N3 = ui->N3;
  mpCopy = ui->mpCopy;
  N3->setSeparator(true);
  SpecPopup = new QMenu(this);
  SpecPopup->setObjectName(QStringLiteral("SpecPopup"));
  SpecPopup->addActions({N1, N3, mpCopy});
  // The buttons lie on the form, over the left panel.
  btnHelp->raise();
  btnPrint->raise();

  if (DM) {
    dbGridResults->SetDataSource(DM->dsFillDetails);
    DM->BrowseTreeLoaded = [this] { return TreeLoaded; };
    DM->BrowseShowDetails = [this] { ShowDetails(); };
  }

  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
  OnShow = [this](TObject* Sender) { FormShow(Sender); };
  connect(btnGoToSearch, &QPushButton::clicked, this,
          [this] { Application->Guard([&] { btnGoToSearchClick(this); }); });
  connect(btnHelp, &QPushButton::clicked, this, [this] { Application->Guard([&] { btnHelpClick(this); }); });
  FormLoaded();
}

TfrmBrowseN::~TfrmBrowseN() {
  // Records of a run that ended before the main window closed.
  FreeTreeData();
  if (DM) {
    DM->BrowseTreeLoaded = nullptr;
    DM->BrowseShowDetails = nullptr;
  }
  if (frmBrowseN == this) frmBrowseN = nullptr;
}

void TfrmBrowseN::FormCreate(TObject* /*Sender*/) { TreeLoaded = false; }

void TfrmBrowseN::FormShow(TObject* /*Sender*/) { treeMenu->setFocus(); }

void TfrmBrowseN::btnGoToSearchClick(TObject* /*Sender*/) {
  frmSearch->Show();
  Close();
}

void TfrmBrowseN::btnHelpClick(TObject* /*Sender*/) { ShowMessage("Under construction!"); }

void TfrmBrowseN::ShowDetails() {}

void TfrmBrowseN::LoadTree() {
  DM->Conn->SetConnected(true);
  frmSplash->Show();
  TTreeNodes* items = treeMenu->Items();
  items->Clear();
  treeMenu->Invalidate();
  treeMenu->SetVisible(false);
  treeMenu->SetEnabled(false);

  cbFuel->clear();
  cbFuel->addItem(QString::fromUtf8(kAnyFuel));
  {
    TADOQuery fuels(nullptr);
    fuels.SetConnection(DM->Conn);
    fuels.SQL()->Add("SELECT * FROM Fuels");
    fuels.Open();
    for (; !fuels.Eof(); fuels.Next()) cbFuel->addItem(QString::fromStdString(fuels.FieldByName("Def")->AsString()));
  }
  cbFuel->setCurrentIndex(0);

  TADOQuery* brands = DM->qryFillBrands;
  TADOQuery* models = DM->qryFillModels;
  TADOQuery* engines = DM->qryFillEngines;
  brands->Open();
  for (brands->First(); !brands->Eof(); brands->Next()) {
    const std::string brandID = brands->FieldByName("ID")->AsString();
    const std::string brandName = brands->FieldByName("Name")->AsString();
    TTreeNode* brandNode = items->Add(nullptr, brandName);

    models->Close();
    models->Parameters().ParamByName("BrandID")->SetValue(brandID);
    models->Open();
    for (; !models->Eof(); models->Next()) {
      const std::string modelID = models->FieldByName("ID")->AsString();
      const std::string modelName = models->FieldByName("Name")->AsString();
      TTreeNode* modelNode = items->AddChild(brandNode, modelName);

      engines->Close();
      engines->Parameters().ParamByName("ModelID")->SetValue(modelID);
      engines->Open();
      for (; !engines->Eof(); engines->Next()) {
        const std::string engineID = engines->FieldByName("ID")->AsString();
        const std::string engineDef = engines->FieldByName("Def")->AsString();
        auto rec = std::make_unique<AutoRec>();
        rec->BrandID = Utf8Copy(brandID, 1, 5);
        rec->ModelID = Utf8Copy(modelID, 1, 5);
        rec->EngineID = Utf8Copy(engineID, 1, 5);
        rec->BrandName = Utf8Copy(brandName, 1, 60);
        rec->Caption = brandName + " > " + modelName + " > " + engineDef;
        items->AddChildObject(modelNode, engineDef, rec.get());
        rec.release();
      }
    }
  }

  TreeLoaded = true;
  treeMenu->SetVisible(true);
  treeMenu->SetEnabled(true);
  frmSplash->Hide();
}

void TfrmBrowseN::FreeTreeData() {
  TTreeNodes* items = treeMenu->Items();
  for (int i = 0; i < items->Count(); ++i) {
    TTreeNode* node = items->Item(i);
    for (int j = 0; j < node->Count(); ++j) {
      TTreeNode* child = node->Item(j);
      for (int k = 0; k < child->Count(); ++k) {
        TTreeNode* grandchild = child->Item(k);
        delete static_cast<AutoRec*>(grandchild->Data());
        grandchild->SetData(nullptr);
      }
    }
  }
}
