#pragma once
// The main window: the banner, the two search buttons and the exit button. Its closing ends the
// program.
#include <memory>

#include "platform/ui/Forms.h"

class QFrame;
class QLabel;
class QPushButton;
class QStatusBar;
class TImage;
namespace Ui {
class TfrmMain;
}

class TfrmMain : public TForm {
 public:
  explicit TfrmMain(TComponent* AOwner);
  ~TfrmMain() override;

  TImage* Image1;
  QStatusBar* StatusBar1;
  QFrame* Panel1;
  QPushButton* btnBrowse;
  QPushButton* btnSearch;
  QPushButton* Button1;

  void FormCreate(TObject* Sender);
  void FormActivate(TObject* Sender);
  void FormClose(TObject* Sender, TCloseAction& Action);
  void btnBrowseClick(TObject* Sender);
  void btnSearchClick(TObject* Sender);
  void Button1Click(TObject* Sender);

 private:
  std::unique_ptr<Ui::TfrmMain> ui;
};

extern TfrmMain* frmMain;
