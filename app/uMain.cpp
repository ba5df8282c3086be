#include "app/uMain.h"

#include <QLabel>
#include <QPushButton>
#include <QStatusBar>

#include "app/LayoutPicture.h"
#include "app/uBrowseN.h"
#include "app/uSearch.h"
#include "platform/graphics/Graphics.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/RichEdit.h"
#include "ui_uMain.h"

TfrmMain* frmMain = nullptr;

namespace {

// The status bar's panels as the layout lists them: "Text|Width|Alignment".
void AddStatusPanels(QStatusBar* Bar) {
  for (const QString& item : Bar->property("Panels").toStringList()) {
    const QStringList parts = item.split(QLatin1Char('|'));
    auto* panel = new QLabel(parts.value(0), Bar);
    panel->setFixedWidth(parts.value(1).toInt());
    const QString align = parts.value(2);
    panel->setAlignment((align == QLatin1String("taCenter")         ? Qt::AlignHCenter
                         : align == QLatin1String("taRightJustify") ? Qt::AlignRight
                                                                    : Qt::AlignLeft) |
                        Qt::AlignVCenter);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bar->addWidget(panel);
  }
}

}  // namespace

TfrmMain::TfrmMain(TComponent* AOwner) : TForm(AOwner), ui(std::make_unique<Ui::TfrmMain>()) {
  SetName("frmMain");
  ui->setupUi(this);
  Image1 = CreateLayoutImage(ui->Image1, this);
  StatusBar1 = ui->StatusBar1;
  Panel1 = ui->Panel1;
  btnBrowse = ui->btnBrowse;
  btnSearch = ui->btnSearch;
  Button1 = ui->Button1;
  AddStatusPanels(StatusBar1);

  // The handlers the layout's event properties name.
  PublishMethod("FormCreate", TNotifyEvent([this](TObject* Sender) { FormCreate(Sender); }));
  PublishMethod("FormActivate", TNotifyEvent([this](TObject* Sender) { FormActivate(Sender); }));
  PublishMethod("FormClose", TCloseEvent([this](TObject* Sender, TCloseAction& Action) { FormClose(Sender, Action); }));
  PublishMethod("btnBrowseClick", TNotifyEvent([this](TObject* Sender) { btnBrowseClick(Sender); }));
  PublishMethod("btnSearchClick", TNotifyEvent([this](TObject* Sender) { btnSearchClick(Sender); }));
  PublishMethod("Button1Click", TNotifyEvent([this](TObject* Sender) { Button1Click(Sender); }));
  FormLoaded();
}

TfrmMain::~TfrmMain() {
  if (frmMain == this) frmMain = nullptr;
}

void TfrmMain::FormCreate(TObject* /*Sender*/) { SetVisible(false); }

void TfrmMain::FormActivate(TObject* /*Sender*/) {}

void TfrmMain::FormClose(TObject* /*Sender*/, TCloseAction& /*Action*/) {
  if (frmBrowseN) frmBrowseN->FreeTreeData();
}

void TfrmMain::btnBrowseClick(TObject* /*Sender*/) { frmBrowseN->Show(); }

void TfrmMain::btnSearchClick(TObject* /*Sender*/) { frmSearch->Show(); }

void TfrmMain::Button1Click(TObject* /*Sender*/) { Close(); }

namespace {

void AddStyledLine(TRichEdit* Edit, const std::string& Text, TFontStyles Style) {
  Edit->Lines()->Add(Text);
  // The line just added and its line break end the text.
  const int length = static_cast<int>(QString::fromStdString(Text).size());
  Edit->SetSelStart(Edit->GetTextLen() - length - 2);
  Edit->SetSelLength(Edit->GetTextLen() - Edit->SelStart());
  Edit->SelAttributes()->SetStyle(Style);
}

}  // namespace

void TfrmMain::AddBoldLine(TRichEdit* Edit, const std::string& Text) { AddStyledLine(Edit, Text, fsBold); }

void TfrmMain::AddPlainLine(TRichEdit* Edit, const std::string& Text) { AddStyledLine(Edit, Text, 0); }

std::string TfrmMain::PictureFileName(const std::string& Picture, const std::string& BrandName) {
  std::string folder = BrandName;
  for (char& c : folder)
    if (c == '/') c = '-';
  return ExecutableFolder() + "images/" + folder + "/" + ExtractFileName(Picture);
}

void TfrmMain::GraphicToBitmap(TGraphic* Graphic, TBitmap* Bitmap) {
  if (HBITMAP old = Bitmap->ReleaseHandle()) DeleteObject(old);
  Bitmap->SetWidth(Graphic->Width());
  Bitmap->SetHeight(Graphic->Height());
  Bitmap->Canvas()->Draw(0, 0, Graphic);
}
