#pragma once
// The splash window shown while the catalogue loads.
#include <memory>

#include "platform/ui/Forms.h"

class QLabel;
class TAnimate;
class TImage;
namespace Ui {
class TfrmSplash;
}

class TfrmSplash : public TForm {
 public:
  explicit TfrmSplash(TComponent* AOwner);
  ~TfrmSplash() override;

  TImage* Image1;
  QLabel* Label1;
  TAnimate* Animate1;

  void FormActivate(TObject* Sender);

 private:
  std::unique_ptr<Ui::TfrmSplash> ui;
};

extern TfrmSplash* frmSplash;
