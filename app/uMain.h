#pragma once
// The main window: the banner, the two search buttons and the exit button. Its closing ends the
// program.
#include <memory>
#include <string>

#include "platform/ui/Forms.h"

class QFrame;
class QLabel;
class QPushButton;
class QStatusBar;
class TBitmap;
class TGraphic;
class TImage;
class TRichEdit;
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

  // Routines the browse and search windows share; they use nothing of the window.
  // Append Text as a new line of Edit and give exactly that line bold / no style; the line
  // stays selected.
  static void AddBoldLine(TRichEdit* Edit, const std::string& Text);
  static void AddPlainLine(TRichEdit* Edit, const std::string& Text);
  // The picture file of a car version: the program's folder + "images/" + the brand name with
  // every "/" as "-" + "/" + the file-name part of the stored picture value (either separator).
  static std::string PictureFileName(const std::string& Picture, const std::string& BrandName);
  // Renders Graphic onto Bitmap (the bitmap takes the graphic's size).
  static void GraphicToBitmap(TGraphic* Graphic, TBitmap* Bitmap);

 private:
  std::unique_ptr<Ui::TfrmMain> ui;
};

extern TfrmMain* frmMain;
