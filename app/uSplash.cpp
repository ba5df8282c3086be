#include "app/uSplash.h"

#include "app/LayoutPicture.h"
#include "platform/ui/Animate.h"
#include "ui_uSplash.h"

TfrmSplash* frmSplash = nullptr;

TfrmSplash::TfrmSplash(TComponent* AOwner) : TForm(AOwner), ui(std::make_unique<Ui::TfrmSplash>()) {
  SetName("frmSplash");
  ui->setupUi(this);
  Image1 = CreateLayoutImage(ui->Image1, this);
  Label1 = ui->Label1;
  Animate1 = ui->Animate1;
  PublishMethod("FormActivate", TNotifyEvent([this](TObject* Sender) { FormActivate(Sender); }));
  FormLoaded();
}

TfrmSplash::~TfrmSplash() {
  if (frmSplash == this) frmSplash = nullptr;
}

void TfrmSplash::FormActivate(TObject* /*Sender*/) {}
