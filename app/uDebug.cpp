#include "app/uDebug.h"

#include "platform/ui/DBCtrls.h"
#include "ui_uDebug.h"

TDebug* Debug = nullptr;

TDebug::TDebug(TComponent* AOwner) : TForm(AOwner), ui(std::make_unique<Ui::TDebug>()) {
  SetName("Debug");
  ui->setupUi(this);
  dbgDebug = ui->dbgDebug;
  mDebug = ui->mDebug;
  FormLoaded();
}

TDebug::~TDebug() {
  if (Debug == this) Debug = nullptr;
}
