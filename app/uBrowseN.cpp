#include "app/uBrowseN.h"

#include <QComboBox>
#include <QLabel>

#include "app/DetailsView.h"
#include "app/uDataMod.h"
#include "app/uSearch.h"
#include "app/uSplash.h"
#include "picture/PxThumbImage.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/ComCtrls.h"
#include "platform/ui/DBCtrls.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Menus.h"
#include "platform/ui/QtHost.h"
#include "platform/ui/RichEdit.h"
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
  iAuto = new px::TPxThumbImage(this);
  HostInPlaceOf(ui->iAuto, iAuto);
  GroupBox3 = ui->GroupBox3;
  reSpec = ui->reSpec;
  btnHelp = ui->btnHelp;
  btnPrint = ui->btnPrint;
  const TSpecPopup popup = CreateSpecPopup(
      this, reSpec, [this](TObject* Sender) { N1Click(Sender); }, [this](TObject* Sender) { mpCopyClick(Sender); });
  SpecPopup = popup.Menu;
  N1 = popup.N1;
  N3 = popup.N3;
  mpCopy = popup.mpCopy;
  SpecPopup->OnPopup = [this](TObject* Sender) { SpecPopupPopup(Sender); };
  // The buttons lie on the form, over the left panel.
  btnHelp->raise();
  btnPrint->raise();

  if (DM) {
    dbGridResults->SetDataSource(DM->dsFillDetails);
    DM->BrowseTreeLoaded = [this] { return TreeLoaded; };
    DM->BrowseShowDetails = [this] { ShowDetails(); };
  }

  // The handlers the layout's event properties name. cbFuel's OnChange is the user's choice
  // only: choosing the first item from code does not filter.
  PublishMethod("FormCreate", TNotifyEvent([this](TObject* Sender) { FormCreate(Sender); }));
  PublishMethod("FormShow", TNotifyEvent([this](TObject* Sender) { FormShow(Sender); }));
  PublishMethod("btnGoToSearchClick", TNotifyEvent([this](TObject* Sender) { btnGoToSearchClick(Sender); }));
  PublishMethod("btnHelpClick", TNotifyEvent([this](TObject* Sender) { btnHelpClick(Sender); }));
  PublishMethod("btnPrintClick", TNotifyEvent([this](TObject* Sender) { btnPrintClick(Sender); }));
  PublishMethod("treeMenuChange",
                TTVChangedEvent([this](TObject* Sender, TTreeNode* Node) { treeMenuChange(Sender, Node); }));
  PublishMethod("cbFuelChange", TNotifyEvent([this](TObject* Sender) { cbFuelChange(Sender); }));
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

void TfrmBrowseN::treeMenuChange(TObject* /*Sender*/, TTreeNode* Node) {
  const auto* rec = Node ? static_cast<const AutoRec*>(Node->Data()) : nullptr;
  if (!rec) return;  // a brand or a model
  labelBrandModelEngine->setText(QString::fromStdString(rec->Caption));
  TADOQuery* q = DM->qryFillDetails;
  q->Close();
  q->SetFilter("");
  q->SetFiltered(false);
  cbFuel->setCurrentIndex(0);
  q->Parameters().ParamByName("BrandID")->SetValue(rec->BrandID);
  q->Parameters().ParamByName("ModelID")->SetValue(rec->ModelID);
  q->Parameters().ParamByName("EngineID")->SetValue(rec->EngineID);
  q->Open();
}

void TfrmBrowseN::cbFuelChange(TObject* /*Sender*/) {
  const std::string fuel = cbFuel->currentText().toStdString();
  TADOQuery* q = DM->qryFillDetails;
  if (fuel.find("---") != std::string::npos) {
    q->SetFiltered(false);
  } else {
    q->SetFiltered(false);
    q->SetFilter("Fuels.Def=" + QuotedStr(fuel));
    q->SetFiltered(true);
  }
}

void TfrmBrowseN::btnPrintClick(TObject* /*Sender*/) {
  PrintVersion(iAuto, DM->qryFillDetails->FieldByName("Auto.ID")->AsString());
}

void TfrmBrowseN::SpecPopupPopup(TObject* /*Sender*/) { mpCopy->SetEnabled(reSpec->SelLength() > 0); }

void TfrmBrowseN::N1Click(TObject* /*Sender*/) { reSpec->SelectAll(); }

void TfrmBrowseN::mpCopyClick(TObject* /*Sender*/) { reSpec->CopyToClipboard(); }

void TfrmBrowseN::ShowDetails() {
  if (!Visible() || !TreeLoaded) return;
  const TDetailsControls controls{reSpec, iAuto, btnPrint};
  TADOQuery* q = DM->qryFillDetails;
  if (q->IsEmpty()) {
    ClearDetails(controls);
    return;
  }
  TVersionNames names;
  {
    TADOQuery lookup(nullptr);
    lookup.SetConnection(DM->Conn);
    lookup.SQL()->Add(
        "SELECT Brands.Name,Models.Name,Engines.Def FROM Brands,Models,Engines WHERE Brands.ID=" +
        q->FieldByName("Brand_ID")->AsString() + " AND Models.ID=" + q->FieldByName("Model_ID")->AsString() +
        " AND Engines.ID=" + q->FieldByName("Engine_ID")->AsString());
    lookup.Open();
    names.Brand = lookup.FieldByName("Brands.Name")->AsString();
    names.Model = lookup.FieldByName("Models.Name")->AsString();
    names.Engine = lookup.FieldByName("Def")->AsString();
    lookup.Close();
  }
  ShowVersionDetails(q, names, controls, true);
}

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
      Application->ProcessPaintMessages();  // the splash and the main window go on painting
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
        rec->BrandID = brandID;
        rec->ModelID = modelID;
        rec->EngineID = engineID;
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
