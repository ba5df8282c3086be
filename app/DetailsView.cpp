#include "app/DetailsView.h"

#include <QPushButton>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/uDataMod.h"
#include "app/uMain.h"
#include "picture/PxThumbImage.h"
#include "platform/graphics/Graphics.h"
#include "platform/rtl/SysUtils.h"
#include "platform/ui/Menus.h"
#include "platform/ui/RichEdit.h"

namespace {

std::string Text(TDataSet* Row, const char* Field) { return Row->FieldByName(Field)->AsString(); }
bool Flag(TDataSet* Row, const char* Field) { return Row->FieldByName(Field)->AsBoolean(); }

// Close, AutoID, open: one of the report queries for the current version.
void OpenForVersion(TADOQuery* Query, const std::string& AutoID) {
  Query->Close();
  Query->Parameters().ParamByName("AutoID")->SetValue(AutoID);
  Query->Open();
}

void Bullet(TRichEdit* Edit) { Edit->Paragraph()->SetNumbering(nsBullet); }

}  // namespace

void ClearDetails(const TDetailsControls& Controls) {
  Controls.iAuto->SetPicture(nullptr);
  Controls.reSpec->Clear();
  Controls.btnPrint->setEnabled(false);
}

void ShowVersionDetails(TDataSet* Row, const TVersionNames& Names, const TDetailsControls& Controls,
                        bool PrintPerPart) {
  TRichEdit* re = Controls.reSpec;
  px::TPxThumbImage* image = Controls.iAuto;
  re->SetScrollBars(ssNone);
  image->Invalidate();

  // The version's own picture or none: a missing file (or a name that leads to a folder) and a
  // file that cannot be read show no picture, never the one of the version before.
  const std::string picture = Text(Row, "Picture");
  const std::string file =
      picture.empty() ? std::string() : FindFileNoCase(TfrmMain::PictureFileName(picture, Names.Brand));
  if (file.empty() || !FileExists(file)) {
    image->SetPicture(nullptr);
  } else {
    try {
      image->Picture()->LoadFromFile(file);
    } catch (...) {
      image->SetPicture(nullptr);
      throw;
    }
  }

  const std::string period = Text(Row, "StartYear") + "." + Text(Row, "StartMonth") + "-" + Text(Row, "EndYear") +
                             "." + Text(Row, "EndMonth");

  re->Clear();
  re->Invalidate();
  re->SetEnabled(false);

  TfrmMain::AddBoldLine(re, Names.Brand + "  " + Names.Model);
  TfrmMain::AddPlainLine(re, "Видове купета");
  Bullet(re);
  if (Flag(Row, "hatchback")) TfrmMain::AddPlainLine(re, "       -Хечбек");
  if (Flag(Row, "sedan")) TfrmMain::AddPlainLine(re, "       -Седан");
  if (Flag(Row, "cabrio")) TfrmMain::AddPlainLine(re, "       -Кабрио");
  if (Flag(Row, "coupe")) TfrmMain::AddPlainLine(re, "       -Купе");
  if (Flag(Row, "van")) TfrmMain::AddPlainLine(re, "       -Ван");
  if (Flag(Row, "estate")) TfrmMain::AddPlainLine(re, "       -Естейт");
  TfrmMain::AddPlainLine(re, "Двигател : " + Names.Engine);
  Bullet(re);
  TfrmMain::AddPlainLine(re, "Производство : " + period);
  Bullet(re);
  TfrmMain::AddPlainLine(re, "Характеристики");
  Bullet(re);
  TfrmMain::AddBoldLine(re, "       " + Text(Row, "EngineDefs.Def") + "  " + Text(Row, "CC") + " CC , " +
                                Text(Row, "HP") + " Hp , " + Text(Row, "KW") + " KW");
  // The first letter is the Latin T.
  TfrmMain::AddPlainLine(re, "Tипове");
  Bullet(re);

  const std::string autoID = Text(Row, "Auto.ID");
  TADOQuery* types = DM->qryRepEngineTypes;
  OpenForVersion(types, autoID);
  for (; !types->Eof(); types->Next()) TfrmMain::AddBoldLine(re, "        " + Text(types, "Def"));

  TfrmMain::AddPlainLine(re, "Каталожни номера");
  Bullet(re);
  TADOQuery* serials = DM->qryRepSerials;
  OpenForVersion(serials, autoID);
  for (; !serials->Eof(); serials->Next()) {
    TfrmMain::AddPlainLine(re, "        -" + Text(serials, "Name"));
    TfrmMain::AddPlainLine(re, "          KELV        BOSAL      WALKER    ");
    TfrmMain::AddPlainLine(re, "          " + Format("%-10.10s  %-10.10s  %-20s", Text(serials, "SerialKELV").c_str(),
                                                     Text(serials, "SerialBOSAL").c_str(),
                                                     Text(serials, "SerialWALKER").c_str()));
    if (PrintPerPart) Controls.btnPrint->setEnabled(true);
  }
  if (!PrintPerPart) Controls.btnPrint->setEnabled(true);

  // Styling left the last line selected; a copy must not take text the user never chose.
  re->SetSelStart(0);
  re->SetEnabled(true);
  re->SetScrollBars(ssVertical);
}

TSpecPopup CreateSpecPopup(TComponent* Owner, TRichEdit* reSpec, TNotifyEvent N1Click, TNotifyEvent mpCopyClick) {
  TSpecPopup p{};
  p.Menu = new TPopupMenu(Owner);
  p.Menu->SetName("SpecPopup");
  p.N1 = p.Menu->Add("Избери всичко", std::move(N1Click));
  p.N1->SetName("N1");
  p.N3 = p.Menu->Add("-");
  p.N3->SetName("N3");
  p.mpCopy = p.Menu->Add("Копирай", std::move(mpCopyClick));
  p.mpCopy->SetName("mpCopy");
  reSpec->SetPopupMenu(p.Menu);
  return p;
}

std::string ReportPictureFile() {
  std::string folder = GetEnvironmentVariable("TEMP");
  if (folder.empty()) {
    // Without TEMP the file would land in the file system's root, which is not writable here.
    std::error_code error;
    folder = std::filesystem::temp_directory_path(error).string();
    if (error || folder.empty()) folder = "/tmp";
  }
  return IncludeTrailingPathDelimiter(folder) + "tmp_rep.bmp";
}

void PrintVersion(px::TPxThumbImage* iAuto, const std::string& AutoID) {
  std::string path = ReportPictureFile();
  if (TGraphic* graphic = iAuto->Picture()->Graphic()) {
    auto bitmap = std::make_unique<TBitmap>();
    TfrmMain::GraphicToBitmap(graphic, bitmap.get());
    bitmap->SaveToFile(path);
  } else {
    path.clear();
  }
  DM->PrintAutoReport(path, AutoID);
}
