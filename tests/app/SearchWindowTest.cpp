// The search window as a user drives it on the window tests' catalogue: the manufacturer list
// and its masks, typing numbers (Cyrillic too) key by key, the search button and Enter, the
// results with their details and picture (JPEG and GIF), Print's state, the busy label and
// cursor, the pop-up menu, and the switch to the browse window and back.
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "AppTestSupport.h"
#include "gif/Image.h"
#include "platform/ui/DBEdit.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Mask.h"
#include "platform/ui/Menus.h"

using namespace apptest;

class SearchWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ProgramFolder> FFolder;
  std::unique_ptr<MessageBoxes> FBoxes;
  int FExpectedBoxes{0};

  static TfrmSearch* W() { return frmSearch; }
  static TADOQuery* Results() { return DM->qrySearchSerial; }

  // Chooses the manufacturer from the list, types the number key by key and clicks "Търси".
  static void Search(const QString& Maker, const QString& Number, bool Enter = false) {
    Choose(W()->cbManufacturer, Maker);
    const QString empty = Maker == "KELV" ? QString("  .  .  ") : Maker == "BOSAL" ? QString("   -   ") : QString();
    QCOMPARE(Q(W()->medCatNumber->Text()), empty);
    TypeText(W()->medCatNumber, Number);
    if (Enter)
      QTest::keyClick(W()->medCatNumber, Qt::Key_Return);
    else
      QTest::mouseClick(W()->btnDoSearch, Qt::LeftButton);
  }
  static QStringList Versions() {
    QStringList ids = Column(Results(), "Auto.ID");
    ids.sort();
    return ids;
  }
  static QStringList Edits() {
    return {Q(W()->edBrand->Text()), Q(W()->edModel->Text()), Q(W()->edFuel->Text()), Q(W()->edEngine->Text())};
  }

 private slots:
  void init() {
    if (!HaveCatalogue()) QSKIP("window tests' catalogue not built");
    FFolder = std::make_unique<ProgramFolder>();
    FBoxes = std::make_unique<MessageBoxes>();
    FExpectedBoxes = 0;
    StartProgram();
    frmMain->btnSearch->click();
    QVERIFY(W()->isVisible());
  }

  void cleanup() {
    EndProgram();
    FFolder.reset();
    if (FBoxes) QCOMPARE(FBoxes->Texts.size(), FExpectedBoxes);
    FBoxes.reset();
  }

  void manufacturerSetsMaskAndLength() {
    TMaskEdit* number = W()->medCatNumber;
    QCOMPARE(W()->cbManufacturer->currentText(), QString("KELV"));
    QCOMPARE(Q(number->EditMask()), QString("aa\\.aa\\.aa;1;_"));
    TypeText(number, "FO16");
    QCOMPARE(Q(number->Text()), QString("FO.16.  "));

    Choose(W()->cbManufacturer, "BOSAL");
    QCOMPARE(Q(number->EditMask()), QString("000\\-000;1;_"));
    QCOMPARE(number->MaxLength(), 10);
    QCOMPARE(Q(number->Text()), QString("   -   "));
    QCOMPARE(W()->focusWidget(), static_cast<QWidget*>(number));
    TypeText(number, "28a1");  // a letter is refused where digits are required
    QCOMPARE(Q(number->Text()), QString("281-   "));

    Choose(W()->cbManufacturer, "WALKER");
    QCOMPARE(Q(number->EditMask()), QString());
    QCOMPARE(number->MaxLength(), 255);
    QCOMPARE(Q(number->Text()), QString());
    TypeText(number, "Ъ'1");
    QCOMPARE(Q(number->Text()), QString("Ъ'1"));

    // Closing the list without a change empties the field all the same.
    Choose(W()->cbManufacturer, "WALKER");
    QCOMPARE(Q(number->Text()), QString());
    Choose(W()->cbManufacturer, "KELV");
    QCOMPARE(number->MaxLength(), 8);
    QCOMPARE(Q(number->Text()), QString("  .  .  "));
    QCOMPARE(W()->focusWidget(), static_cast<QWidget*>(number));
  }

  void kelvNumberFindsEveryPartRow() {
    QVERIFY(!W()->btnPrint->isEnabled());
    Search("KELV", "FO1601");
    QCOMPARE(Versions(), (QStringList{"1", "2"}));
    QCOMPARE(W()->gridResults->model()->rowCount(), 2);
    QVERIFY(W()->btnPrint->isEnabled());
    QVERIFY(W()->lSearch->isHidden());
    // The first row's version in the edits, the text and the picture.
    const QString first = Q(Results()->FieldByName("Auto.ID")->AsString());
    QCOMPARE(Edits(), (QStringList{"Ford", "Focus", first == "1" ? "Бензин" : "Бензин 'Супер'", "1.6i"}));
    QCOMPARE(Shown(W()->iAuto), first == "1" ? QSize(kFocus.W, kFocus.H) : QSize(kFocusSedan.W, kFocusSedan.H));

    ClickRow(W()->gridResults, RowOf(Results(), "Auto.ID", "1"));
    QCOMPARE(Styled(W()->reSpec),
             (QStringList{"B|Ford  Focus", "*|Видове купета", "-|       -Хечбек", "*|Двигател : 1.6i",
                          "*|Производство : 1998.10-2004.11", "*|Характеристики",
                          "B|       1.6i 16V  1596 CC , 100 Hp , 74 KW", "*|Tипове", "B|        FYDA",
                          "B|        FYDB", "*|Каталожни номера", "-|        -Предно гърне",
                          "-|          KELV        BOSAL      WALKER    ",
                          "-|          FO.16.01    281-723     22364               ", "-|        -Задно гърне",
                          "-|          KELV        BOSAL      WALKER    ",
                          "-|          FO.16.02    190-171     21891               "}));
    QCOMPARE(W()->reSpec->ScrollBars(), ssVertical);
    QVERIFY(W()->reSpec->isEnabled());
    QCOMPARE(Shown(W()->iAuto), QSize(kFocus.W, kFocus.H));
    ClickRow(W()->gridResults, RowOf(Results(), "Auto.ID", "2"));
    QCOMPARE(Edits(), (QStringList{"Ford", "Focus", "Бензин 'Супер'", "1.6i"}));
    QCOMPARE(Texts(W()->reSpec)[2], QString("       -Седан"));
    QCOMPARE(Shown(W()->iAuto), QSize(kFocusSedan.W, kFocusSedan.H));

    // Typed in small letters, stored in capitals and in small letters.
    Search("KELV", "fo12ab");
    QCOMPARE(Versions(), (QStringList{"10", "9"}));
    QCOMPARE(Shown(W()->iAuto), QSize(kFiesta.W, kFiesta.H));
  }

  void incompleteAndCyrillicKelvNumbers() {
    // Empty positions stay in the number as the edit gives it: "AB.12.  " is stored so.
    Search("KELV", "AB12");
    QCOMPARE(Column(Results(), "SerialKELV"), QStringList{"AB.12.  "});
    QCOMPARE(Versions(), QStringList{"101"});
    // A version without a picture file keeps nothing: the search cleared the picture.
    QCOMPARE(Shown(W()->iAuto), QSize());
    QCOMPARE(Texts(W()->reSpec).mid(11, 3),
             (QStringList{"        -Предно гърне", "          KELV        BOSAL      WALKER    ",
                          "          AB.12.      777-777                         "}));

    Search("KELV", "ЖК01ЯЯ");
    QCOMPARE(Versions(), QStringList{"100"});
    QCOMPARE(Edits(), (QStringList{"Тест/Марка", "Купе и ван", "Бензин", "2.0 16V"}));
    QCOMPARE(Shown(W()->iAuto), QSize(kCoupe.W, kCoupe.H));
    QCOMPARE(Styled(W()->reSpec),
             (QStringList{"B|Тест/Марка  Купе и ван", "*|Видове купета", "-|       -Купе", "*|Двигател : 2.0 16V",
                          "*|Производство : 2001.3-2005.10", "*|Характеристики",
                          "B|       2.0 16V  1998 CC , 136 Hp , 100 KW", "*|Tипове", "B|        ТСТА",
                          "*|Каталожни номера", "-|        -Гърне с много дълго наименование",
                          "-|          KELV        BOSAL      WALKER    ",
                          "-|          ЖК.01.ЯЯ    АБВГДЕЖЗИЙ  ДългоКирилскоИмеНаНомер-123"}));
  }

  void bosalAndWalkerNumbers() {
    Search("BOSAL", "281723");
    QCOMPARE(Q(W()->medCatNumber->Text()), QString("281-723"));
    QCOMPARE(Versions(), (QStringList{"1", "2"}));
    // A quote in the number.
    Search("WALKER", "O'Neil-7");
    QCOMPARE(Versions(), QStringList{"8"});
    QCOMPARE(Column(Results(), "Parts.Name"), QStringList{"Предно гърне"});
    QCOMPARE(Edits(), (QStringList{"Škoda", "Octavia", "Дизел", "1.9 TDI"}));
    QCOMPARE(Texts(W()->reSpec).mid(1, 2), (QStringList{"Видове купета", "       -Естейт"}));
    QCOMPARE(Texts(W()->reSpec).mid(10),
             (QStringList{"        -Предно гърне", "          KELV        BOSAL      WALKER    ",
                          "          SK.19.01    256-041     O'Neil-7            ", "        -Задно гърне",
                          "          KELV        BOSAL      WALKER    ",
                          "          SK'19.02    256-042     15'123              "}));
    QVERIFY(W()->btnPrint->isEnabled());
  }

  void enterSearchesAsTheButtonDoes() {
    Search("BOSAL", "777777", true);
    QCOMPARE(Versions(), QStringList{"101"});
    QCOMPARE(Q(Results()->Filter()), QString("SerialBOSAL='777-777'"));
    QVERIFY(Results()->Filtered());
    QVERIFY(W()->btnPrint->isEnabled());
    QCOMPARE(Texts(W()->reSpec).first(), QString("Тест/Марка  Купе и ван"));
  }

  void noResultsAfterResults() {
    Search("KELV", "FO1602");
    QCOMPARE(Versions(), QStringList{"1"});
    QVERIFY(W()->btnPrint->isEnabled());
    QVERIFY(!Shown(W()->iAuto).isEmpty());
    Search("KELV", "ZZ9999");
    QCOMPARE(W()->gridResults->model()->rowCount(), 0);
    QVERIFY(Texts(W()->reSpec).isEmpty());
    QCOMPARE(Shown(W()->iAuto), QSize());
    QVERIFY(!W()->btnPrint->isEnabled());
    QCOMPARE(Edits(), (QStringList{"", "", "", ""}));
    // Only whole numbers match.
    Search("KELV", "FO16");
    QCOMPARE(W()->gridResults->model()->rowCount(), 0);
  }

  void busyWhileSearching() {
    bool label = false;
    TCursor cursor = crDefault;
    int shown = 0;
    auto show = DM->SearchShowDetails;
    DM->SearchShowDetails = [&] {
      ++shown;
      label = W()->lSearch->isVisible();
      cursor = Screen->Cursor();
      show();
    };
    Search("KELV", "FO1601");
    QCOMPARE(shown, 1);
    QVERIFY(label);
    QCOMPARE(W()->lSearch->text(), QString("Търсене ..."));
    QCOMPARE(cursor, crHourGlass);
    QVERIFY(W()->lSearch->isHidden());
    QCOMPARE(Screen->Cursor(), crDefault);
    DM->SearchShowDetails = show;
  }

  void gifCarPictureShows() {
    {
      TBitmap bitmap;
      bitmap.SetPixelFormat(pf24bit);
      bitmap.SetWidth(90);
      bitmap.SetHeight(45);
      gif::TGIFImage image;
      image.Assign(&bitmap);
      image.SaveToFile((FFolder->Path() / "images" / "Ford" / "focus_tddi.gif").string());
    }
    Search("WALKER", "WALKER-1234567890123456");
    QCOMPARE(Versions(), QStringList{"7"});
    QCOMPARE(Shown(W()->iAuto), QSize(90, 45));
    QVERIFY(dynamic_cast<gif::TGIFImage*>(W()->iAuto->Picture()->Graphic()));
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  Focus"));
  }

  void unreadablePictureLeavesTheWindowUsable() {
    // A damaged GIF: the GIF library's error shows once.
    std::ofstream(FFolder->Path() / "images" / "Ford" / "focus_tddi.gif", std::ios::binary) << "GIF89a\x01";
    FExpectedBoxes = 1;
    Search("WALKER", "WALKER-1234567890123456");
    QTRY_COMPARE_WITH_TIMEOUT(FBoxes->Texts.size(), 1, testsupport::kHangGuardMs);
    QCOMPARE(FBoxes->Texts[0], QString("Premature end of data."));
    // The search is over all the same: no busy label, the cursor back, Print for the result.
    QVERIFY(W()->lSearch->isHidden());
    QCOMPARE(Screen->Cursor(), crDefault);
    QCOMPARE(Versions(), QStringList{"7"});
    QVERIFY(W()->btnPrint->isEnabled());
    QVERIFY(Texts(W()->reSpec).isEmpty());
    Search("KELV", "FO1602");
    QCOMPARE(Texts(W()->reSpec).first(), QString("Ford  Focus"));
  }

  void longNumbersAreCutInTheirColumns() {
    std::filesystem::remove(FFolder->Path() / "images" / "Ford" / "focus_tddi.gif");
    Search("WALKER", "WALKER-1234567890123456");
    QCOMPARE(Texts(W()->reSpec).last(), QString("          FO.18.TDDI  123-456-78  WALKER-1234567890123456"));
    QCOMPARE(Texts(W()->reSpec).mid(1, 3), (QStringList{"Видове купета", "       -Хечбек", "       -Седан"}));
  }

  void popupMenuItemsAreAlwaysOffered() {
    Search("KELV", "FO1602");
    TRichEdit* re = W()->reSpec;
    // Right after the search the text has nothing selected: copying takes nothing.
    QGuiApplication::clipboard()->setText("before");
    W()->mpCopy->Action()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
    QVERIFY(W()->mpCopy->Enabled());
    QVERIFY(W()->N1->Enabled());
    W()->N1->Action()->trigger();
    QCOMPARE(re->SelLength(), re->GetTextLen());
    QGuiApplication::clipboard()->clear();
    W()->mpCopy->Action()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), Texts(re).join("\n") + "\n");
    // Nothing selected: copying leaves the clipboard alone.
    re->SetSelStart(0);
    W()->mpCopy->Action()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), Texts(re).join("\n") + "\n");
  }

  void hiddenWindowShowsNothing() {
    Search("KELV", "FO1601");
    ClickRow(W()->gridResults, RowOf(Results(), "Auto.ID", "1"));
    const QStringList text = Styled(W()->reSpec);
    W()->btnBrowse->click();
    QVERIFY(frmBrowseN->isVisible());
    QVERIFY(!W()->isVisible());
    Results()->SetRecNo(RowOf(Results(), "Auto.ID", "2") + 1);
    QCOMPARE(Styled(W()->reSpec), text);
    QCOMPARE(Shown(W()->iAuto), QSize(kFocus.W, kFocus.H));
  }

  void windowsSwitchKeepingTheirState() {
    Search("BOSAL", "281723");
    ClickRow(W()->gridResults, RowOf(Results(), "Auto.ID", "2"));
    const QStringList text = Styled(W()->reSpec);
    W()->btnBrowse->click();
    frmBrowseN->btnGoToSearch->click();
    QVERIFY(W()->isVisible());
    QCOMPARE(W()->cbManufacturer->currentText(), QString("BOSAL"));
    QCOMPARE(Q(W()->medCatNumber->Text()), QString("281-723"));
    QCOMPARE(Versions(), (QStringList{"1", "2"}));
    QCOMPARE(Styled(W()->reSpec), text);
    QCOMPARE(Shown(W()->iAuto), QSize(kFocusSedan.W, kFocusSedan.H));
    QVERIFY(W()->btnPrint->isEnabled());
    W()->close();
    frmMain->btnSearch->click();
    QVERIFY(W()->isVisible());
    QCOMPARE(Styled(W()->reSpec), text);
  }
};

QTEST_MAIN(SearchWindowTest)
#include "SearchWindowTest.moc"
