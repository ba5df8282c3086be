#pragma once
// What the browse and search windows share: the specification text and picture of the current
// car version, and the printing of its data sheet.
#include <string>

#include "platform/rtl/Classes.h"

class QPushButton;
class TDataSet;
class TMenuItem;
class TPopupMenu;
class TRichEdit;
namespace px {
class TPxThumbImage;
}

// The controls that show a car version in one window.
struct TDetailsControls {
  TRichEdit* reSpec;
  px::TPxThumbImage* iAuto;
  QPushButton* btnPrint;
};

// The names a window looks up for the current version.
struct TVersionNames {
  std::string Brand;
  std::string Model;
  std::string Engine;
};

// No current version: no picture, no text, Print disabled.
void ClearDetails(const TDetailsControls& Controls);

// The picture and the specification text of the current row of Row (the details or the search
// query). Print is enabled after each part's group of lines when PrintPerPart is true, else once
// after all of them. A version whose picture file is missing shows none; one that cannot be read
// clears the picture and raises its error before the text is touched. The rebuilt text has
// nothing selected.
void ShowVersionDetails(TDataSet* Row, const TVersionNames& Names, const TDetailsControls& Controls,
                        bool PrintPerPart);

// The specification text's pop-up menu, the same in both windows: "Избери всичко" (N1), a
// separator (N3) and "Копирай" (mpCopy), owned by Owner and attached to reSpec.
struct TSpecPopup {
  TPopupMenu* Menu;
  TMenuItem* N1;
  TMenuItem* N3;
  TMenuItem* mpCopy;
};
TSpecPopup CreateSpecPopup(TComponent* Owner, TRichEdit* reSpec, TNotifyEvent N1Click, TNotifyEvent mpCopyClick);

// The temporary bitmap handed to the report: tmp_rep.bmp in the folder TEMP names, else in the
// system's temporary folder.
std::string ReportPictureFile();

// Prints the data sheet of car version AutoID with the picture iAuto shows (saved as the
// temporary bitmap; none when it shows nothing).
void PrintVersion(px::TPxThumbImage* iAuto, const std::string& AutoID);
