#include "platform/ui/RichEdit.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QScrollBar>

#include "platform/rtl/SysUtils.h"
#include "platform/ui/Menus.h"
#include "WidgetTestSupport.h"

namespace {

int Len(const std::string& S) { return static_cast<int>(Utf8Length(S)); }

// The windows' line routine: append, select the new line with its line break, set its style.
void AddLine(TRichEdit& Re, const std::string& S, TFontStyles Style) {
  Re.Lines()->Add(S);
  Re.SetSelStart(Re.GetTextLen() - Len(S) - 2);
  Re.SetSelLength(Re.GetTextLen() - Re.SelStart());
  Re.SelAttributes()->SetStyle(Style);
}

int LineStart(TRichEdit& Re, int Line) {
  int pos = 0;
  for (int i = 0; i < Line; ++i) pos += Len(Re.Lines()->Get(i)) + 2;
  return pos;
}

TFontStyles LineStyle(TRichEdit& Re, int Line) {
  Re.SetSelStart(LineStart(Re, Line));
  Re.SetSelLength(Len(Re.Lines()->Get(Line)));
  return Re.SelAttributes()->Style();
}

TNumberingStyle LineNumbering(TRichEdit& Re, int Line) {
  Re.SetSelStart(LineStart(Re, Line));
  return Re.Paragraph()->Numbering();
}

TEST(RichEdit, TextEndsEveryLineWithABreakOfTwo) {
  TRichEdit re;
  EXPECT_EQ(re.Lines()->Count(), 0);
  EXPECT_EQ(re.Text(), "");
  EXPECT_EQ(re.GetTextLen(), 0);
  re.Lines()->Add("Ford  Focus");
  re.Lines()->Add("Видове купета");
  EXPECT_EQ(re.Lines()->Count(), 2);
  EXPECT_EQ(re.Lines()->Get(1), "Видове купета");
  EXPECT_EQ(re.Text(), "Ford  Focus\r\nВидове купета\r\n");
  EXPECT_EQ(re.GetTextLen(), 11 + 2 + 13 + 2);
  re.Lines()->Add("");
  re.Lines()->Add("a\r\nb");
  EXPECT_EQ(re.Lines()->Count(), 5);
  EXPECT_EQ(re.Text(), "Ford  Focus\r\nВидове купета\r\n\r\na\r\nb\r\n");
  EXPECT_EQ(re.Lines()->Text(), re.Text());
  EXPECT_THROW(re.Lines()->Get(5), EListError);
}

TEST(RichEdit, AddedLineIsSelectedWithItsBreak) {
  TRichEdit re;
  AddLine(re, "Ford  Focus", fsBold);
  AddLine(re, "Двигател : 1.6i", 0);
  EXPECT_EQ(re.SelStart(), 13);
  EXPECT_EQ(re.SelLength(), 15 + 2);
  // Positions round-trip through the document's; a position inside a break goes to its end.
  for (int p = 0; p <= re.GetTextLen(); ++p) {
    if (p == 12 || p == 29) continue;  // between CR and LF
    EXPECT_EQ(re.FromDocPos(re.ToDocPos(p)), p) << p;
  }
  EXPECT_EQ(re.ToDocPos(12), re.ToDocPos(13));
  re.SetSelStart(1000);
  EXPECT_EQ(re.SelStart(), re.GetTextLen());
  re.SetSelStart(2);
  re.SetSelLength(1000);
  EXPECT_EQ(re.SelLength(), re.GetTextLen() - 2);
  re.SetSelLength(-3);
  EXPECT_EQ(re.SelLength(), 0);
}

TEST(RichEdit, BoldAndBulletLinesReadBack) {
  TRichEdit re;
  AddLine(re, "Ford  Focus", fsBold);
  AddLine(re, "Видове купета", 0);
  re.Paragraph()->SetNumbering(nsBullet);
  AddLine(re, "       -Хечбек", 0);
  AddLine(re, "Двигател : 1.6i", 0);
  re.Paragraph()->SetNumbering(nsBullet);
  AddLine(re, "Характеристики", 0);
  re.Paragraph()->SetNumbering(nsBullet);
  AddLine(re, "       1.6i 16V  1596 CC , 100 Hp , 74 KW", fsBold);
  AddLine(re, "Tипове", 0);
  re.Paragraph()->SetNumbering(nsBullet);

  const TFontStyles bold[] = {fsBold, 0, 0, 0, 0, fsBold, 0};
  const TNumberingStyle bullet[] = {nsNone, nsBullet, nsNone, nsBullet, nsBullet, nsNone, nsBullet};
  ASSERT_EQ(re.Lines()->Count(), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(LineStyle(re, i), bold[i]) << i;
    EXPECT_EQ(LineNumbering(re, i), bullet[i]) << i;
  }
  // Bullets add nothing to the text.
  EXPECT_EQ(re.Text(),
            "Ford  Focus\r\nВидове купета\r\n       -Хечбек\r\nДвигател : 1.6i\r\nХарактеристики\r\n"
            "       1.6i 16V  1596 CC , 100 Hp , 74 KW\r\nTипове\r\n");

  // Part of a line: only the selected characters change.
  re.SetSelStart(LineStart(re, 3));
  re.SetSelLength(8);
  re.SelAttributes()->SetStyle(fsBold | fsItalic);
  EXPECT_EQ(re.SelAttributes()->Style(), fsBold | fsItalic);
  re.SetSelStart(LineStart(re, 3) + 9);
  re.SetSelLength(3);
  EXPECT_EQ(re.SelAttributes()->Style(), 0);

  re.SetSelStart(LineStart(re, 1));
  re.Paragraph()->SetNumbering(nsNone);
  EXPECT_EQ(LineNumbering(re, 1), nsNone);
  EXPECT_EQ(LineNumbering(re, 3), nsBullet);

  // A selection over several lines numbers each of them.
  re.SetSelStart(LineStart(re, 5) + 3);
  re.SetSelLength(LineStart(re, 6) + 2 - re.SelStart());
  re.Paragraph()->SetNumbering(nsBullet);
  EXPECT_EQ(LineNumbering(re, 5), nsBullet);
  EXPECT_EQ(LineNumbering(re, 6), nsBullet);
}

TEST(RichEdit, EditingLinesKeepsTheOthersFormats) {
  TRichEdit re;
  AddLine(re, "one", fsBold);
  AddLine(re, "two", 0);
  re.Paragraph()->SetNumbering(nsBullet);
  AddLine(re, "three", 0);
  re.Lines()->Insert(1, "inserted");
  re.Lines()->Insert(0, "first");
  ASSERT_EQ(re.Lines()->Count(), 5);
  EXPECT_EQ(re.Text(), "first\r\none\r\ninserted\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(LineStyle(re, 0), 0);
  EXPECT_EQ(LineNumbering(re, 0), nsNone);
  EXPECT_EQ(LineStyle(re, 1), fsBold);
  EXPECT_EQ(LineNumbering(re, 2), nsNone);
  EXPECT_EQ(LineNumbering(re, 3), nsBullet);

  re.Lines()->Delete(2);
  re.Lines()->Delete(0);
  EXPECT_EQ(re.Text(), "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(LineStyle(re, 0), fsBold);
  EXPECT_EQ(LineNumbering(re, 1), nsBullet);
  EXPECT_EQ(LineNumbering(re, 2), nsNone);
  re.Lines()->Delete(1);
  EXPECT_EQ(LineNumbering(re, 1), nsNone);
  re.Lines()->Put(1, "THREE");
  EXPECT_EQ(re.Text(), "one\r\nTHREE\r\n");
  re.Lines()->Delete(1);
  re.Lines()->Delete(0);
  EXPECT_EQ(re.Text(), "");
  EXPECT_EQ(re.Lines()->Count(), 0);
  EXPECT_THROW(re.Lines()->Delete(0), EListError);
  EXPECT_THROW(re.Lines()->Insert(1, "x"), EListError);
}

TEST(RichEdit, ClearEmptiesTextAndFormats) {
  TRichEdit re;
  AddLine(re, "Видове купета", fsBold);
  re.Paragraph()->SetNumbering(nsBullet);
  re.Clear();
  EXPECT_EQ(re.Lines()->Count(), 0);
  EXPECT_EQ(re.GetTextLen(), 0);
  re.Lines()->Add("after");
  EXPECT_EQ(LineStyle(re, 0), 0);
  EXPECT_EQ(LineNumbering(re, 0), nsNone);
  re.Lines()->Clear();
  EXPECT_EQ(re.Text(), "");
}

TEST(RichEdit, SelectAllAndCopyPutPlainTextOnTheClipboard) {
  QClipboard* cb = QGuiApplication::clipboard();
  ASSERT_NE(cb, nullptr);
  TRichEdit re;
  AddLine(re, "Ford  Focus", fsBold);
  AddLine(re, "Видове купета", 0);
  re.Paragraph()->SetNumbering(nsBullet);
  AddLine(re, "          1234567890  ABCDEFGHIJ  W'Q", 0);
  re.SelectAll();
  EXPECT_EQ(re.SelStart(), 0);
  EXPECT_EQ(re.SelLength(), re.GetTextLen());
  re.CopyToClipboard();
  EXPECT_EQ(cb->text().toStdString(), "Ford  Focus\nВидове купета\n          1234567890  ABCDEFGHIJ  W'Q\n");

  re.SetSelStart(6);
  re.SetSelLength(7 + 6);  // "Focus", its break and "Видове"
  re.CopyToClipboard();
  EXPECT_EQ(cb->text().toStdString(), "Focus\nВидове");

  cb->setText("unchanged");
  re.SetSelStart(3);
  re.CopyToClipboard();  // nothing selected
  EXPECT_EQ(cb->text(), "unchanged");
}

TEST(RichEdit, ScrollBarsAndReadOnly) {
  TRichEdit re;
  EXPECT_EQ(re.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  // "Never hidden", as a layout says it.
  re.setProperty("HideScrollBars", false);
  re.setProperty("ScrollBars", "ssVertical");
  EXPECT_EQ(re.ScrollBars(), ssVertical);
  EXPECT_EQ(re.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(re.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  re.SetScrollBars(ssNone);
  EXPECT_EQ(re.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  re.SetHideScrollBars(true);
  re.SetScrollBars(ssBoth);
  EXPECT_EQ(re.horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);

  re.SetReadOnly(true);
  EXPECT_TRUE(re.textInteractionFlags() & Qt::TextSelectableByKeyboard);
  re.Lines()->Add("text");
  qttest::TypeText(&re, "typed");
  EXPECT_EQ(re.Text(), "text\r\n");
}

// Pixels of the control in colour C as it paints itself.
int PixelsOf(TRichEdit& Re, QColor C) {
  const QImage image = Re.grab().toImage();
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y).rgb() == C.rgb() ? 1 : 0;
  return n;
}

void SendFocus(TRichEdit& Re, QEvent::Type Type) {
  QFocusEvent e(Type, Qt::OtherFocusReason);
  QApplication::sendEvent(&Re, &e);
}

// The windows leave their last line selected while the user works elsewhere: no highlight then.
TEST(RichEdit, SelectionShowsOnlyWithTheFocus) {
  TRichEdit re;
  EXPECT_TRUE(re.HideSelection());
  re.resize(300, 120);
  QPalette p = re.palette();
  p.setColor(QPalette::Active, QPalette::Highlight, QColor(255, 0, 0));
  re.setPalette(p);
  re.show();
  AddLine(re, "Ford  Focus", fsBold);
  AddLine(re, "       1.6i 16V  1596 CC , 100 Hp , 74 KW", fsBold);
  ASSERT_GT(re.SelLength(), 0);
  const QColor text = re.palette().color(QPalette::Inactive, QPalette::Text);
  const int textPixels = PixelsOf(re, text);
  EXPECT_GT(textPixels, 0);

  EXPECT_EQ(PixelsOf(re, QColor(255, 0, 0)), 0);
  SendFocus(re, QEvent::FocusIn);
  EXPECT_GT(PixelsOf(re, QColor(255, 0, 0)), 100);
  SendFocus(re, QEvent::FocusOut);
  EXPECT_EQ(PixelsOf(re, QColor(255, 0, 0)), 0);
  // The selected text looks like the rest, and stays selected.
  EXPECT_EQ(PixelsOf(re, text), textPixels);
  EXPECT_GT(re.SelLength(), 0);

  // A palette set later (a layout's colours) keeps it hidden.
  p = re.palette();
  p.setColor(QPalette::Inactive, QPalette::Text, QColor(0, 0, 128));
  p.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0, 255, 0));
  re.setPalette(p);
  EXPECT_EQ(PixelsOf(re, QColor(0, 255, 0)), 0);
  EXPECT_GT(PixelsOf(re, QColor(0, 0, 128)), textPixels / 2);

  // Off, as a layout says it: the selection shows in the inactive colours.
  re.setProperty("HideSelection", false);
  EXPECT_FALSE(re.HideSelection());
  const QColor inactive = QApplication::palette().color(QPalette::Inactive, QPalette::Highlight);
  EXPECT_GT(PixelsOf(re, inactive), 100);
  re.SetHideSelection(true);
  EXPECT_EQ(PixelsOf(re, inactive), 0);
}

// The result windows' pop-up: select all, a separator, copy (enabled with a selection).
TEST(RichEdit, PopupCopyItemFollowsTheSelection) {
  TRichEdit re;
  re.resize(300, 200);
  re.show();
  TPopupMenu popup(nullptr);
  TMenuItem* selectAll = popup.Add("Избери всичко", [&](TObject*) { re.SelectAll(); });
  popup.Add("-");
  TMenuItem* copy = popup.Add("Копирай", [&](TObject*) { re.CopyToClipboard(); });
  popup.OnPopup = [&](TObject*) { copy->SetEnabled(re.SelLength() > 0); };
  re.SetPopupMenu(&popup);
  EXPECT_EQ(re.PopupMenu(), &popup);
  AddLine(re, "Ford  Focus", fsBold);
  re.SetSelStart(0);

  auto rightClick = [&] {
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(10, 10), re.viewport()->mapToGlobal(QPoint(10, 10)));
    QGuiApplication::sendEvent(re.viewport(), &e);
  };
  rightClick();
  EXPECT_TRUE(popup.Menu()->isVisible());
  EXPECT_EQ(popup.PopupComponent(), &re);
  EXPECT_FALSE(copy->Enabled());
  EXPECT_TRUE(selectAll->Enabled());
  popup.Menu()->hide();

  selectAll->Action()->trigger();
  EXPECT_EQ(re.SelLength(), re.GetTextLen());
  rightClick();
  EXPECT_TRUE(copy->Enabled());
  popup.Menu()->hide();
  QGuiApplication::clipboard()->clear();
  copy->Action()->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "Ford  Focus\n");
}

}  // namespace
