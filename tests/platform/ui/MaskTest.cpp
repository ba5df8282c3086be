#include "platform/ui/Mask.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>

#include "WidgetTestSupport.h"

using qttest::Key;
using qttest::TypeText;

namespace {

constexpr const char* kKelv = "aa\\.aa\\.aa;1;_";
constexpr const char* kBosal = "000\\-000;1;_";

// A masked edit with Mask, after typing Typed into it from the start.
struct Typed {
  explicit Typed(const char* Mask, const char* Text = "") {
    edit.SetEditMask(Mask);
    edit.setCursorPosition(0);
    TypeText(&edit, Text);
  }
  TMaskEdit edit;
};

TEST(MaskEdit, EachMaskCharacterTakesItsKind) {
  struct Case {
    const char* Mask;
    const char* Typed;
    const char* Text;
  } cases[] = {
      {"000", "1a2b3", "123"},          // digits only
      {"999", "x7", "7  "},             // optional digits
      {"###", "+-5a", "+-5"},           // digit or sign
      {"LLL", "1aЖ", "aЖ "},            // letters, Cyrillic included
      {"lll", "щ.z", "щz "},            // optional letters
      {"AAA", "-Я9", "Я9 "},            // letters or digits
      {"aaa", "ю_0", "ю0 "},            // the blank character itself is never taken
      {"CCC", "-% ", "-% "},            // any character
      {"ccc", "ф!", "ф! "},
      {">LLL", "abж", "ABЖ"},           // upper case
      {"<LLL", "ABЖ", "abж"},           // lower case
      {">L<L<>L", "aAa", "Aaa"},        // "<>" ends the conversion
      {"\\0\\L0", "5", "0L5"},          // escaped literals
      {"!99", "12", "12"},              // '!' has no position
      {"L_L", "ab", "a b"},             // '_' is a literal blank
  };
  for (const Case& c : cases) {
    Typed t(c.Mask, c.Typed);
    EXPECT_EQ(t.edit.Text(), c.Text) << c.Mask << " typed " << c.Typed;
  }
}

TEST(MaskEdit, CyrillicTypedOneKeyAtATime) {
  Typed t(">LLLL<llll;0", "жЖщЩюЮяЯ");
  EXPECT_EQ(t.edit.Text(), "ЖЖЩЩююяя");
  Typed k(kKelv, "Аб1Вг2");
  EXPECT_EQ(k.edit.Text(), "Аб.1В.г2");
}

TEST(MaskEdit, TextKeepsLiteralsOnlyWithOne) {
  Typed keep("000\\-000;1;_", "12345");
  EXPECT_EQ(keep.edit.EditText(), "123-45_");
  EXPECT_EQ(keep.edit.Text(), "123-45 ");
  Typed drop("000\\-000;0;_", "12345");
  EXPECT_EQ(drop.edit.EditText(), "123-45_");
  EXPECT_EQ(drop.edit.Text(), "12345 ");
  Typed none("000\\-000", "12345");  // no second field: kept
  EXPECT_EQ(none.edit.Text(), "123-45 ");
}

TEST(MaskEdit, BlankCharacterOnlyOnScreen) {
  Typed star("99/99;1;*", "1");
  EXPECT_EQ(star.edit.EditText(), "1*/**");
  EXPECT_EQ(star.edit.Text(), "1 /  ");
  Typed plain("99/99;1", "");
  EXPECT_EQ(plain.edit.EditText(), "__/__");
  Typed cyr("99;1;ж", "");
  EXPECT_EQ(cyr.edit.EditText(), "жж");
}

TEST(MaskEdit, IncompleteCatalogueNumber) {
  TMaskEdit e;
  e.SetEditMask(kKelv);
  e.SetText("  .  .  ");
  EXPECT_EQ(e.EditText(), "__.__.__");
  EXPECT_EQ(e.Text(), "  .  .  ");
  e.setCursorPosition(0);
  TypeText(&e, "ab1");
  EXPECT_EQ(e.Text(), "ab.1 .  ");
  EXPECT_EQ(e.EditText(), "ab.1_.__");
}

TEST(MaskEdit, SetTextReadsPositions) {
  TMaskEdit e;
  e.SetEditMask(kKelv);
  e.SetText("a .b3.x!");
  EXPECT_EQ(e.EditText(), "a_.b3.x_");
  e.SetText("abcd");  // without literals: they are passed over in the mask
  EXPECT_EQ(e.EditText(), "ab.cd.__");
  e.SetText("");
  EXPECT_EQ(e.Text(), "  .  .  ");
  e.SetText("ab.cd.ef.gh");  // too long: the rest is dropped
  EXPECT_EQ(e.Text(), "ab.cd.ef");
  e.SetEditMask(">LL;0;_");
  e.SetText("x1");
  EXPECT_EQ(e.EditText(), "X_");
}

TEST(MaskEdit, TypingSkipsLiterals) {
  Typed t(kBosal, "123");
  EXPECT_EQ(t.edit.cursorPosition(), 4);  // past the hyphen
  TypeText(&t.edit, "-");                 // a literal typed where none is: refused
  EXPECT_EQ(t.edit.EditText(), "123-___");
  TypeText(&t.edit, "4567");              // the last is refused: no room
  EXPECT_EQ(t.edit.Text(), "123-456");

  Typed lit("(999) 999", "(12");
  EXPECT_EQ(lit.edit.Text(), "(12 )    ");
  TypeText(&lit.edit, ")");  // the literal ending the run jumps past it
  EXPECT_EQ(lit.edit.cursorPosition(), 6);
  TypeText(&lit.edit, "7");
  EXPECT_EQ(lit.edit.Text(), "(12 ) 7  ");

  Typed kelv(kKelv, "1.2.3");
  EXPECT_EQ(kelv.edit.Text(), "1 .2 .3 ");
}

TEST(MaskEdit, DeletingAndMovingStopOnlyAtInputPositions) {
  Typed t(kBosal, "123456");
  EXPECT_EQ(t.edit.cursorPosition(), 7);
  Key(&t.edit, Qt::Key_Backspace);
  EXPECT_EQ(t.edit.EditText(), "123-45_");
  Key(&t.edit, Qt::Key_Backspace);
  Key(&t.edit, Qt::Key_Backspace);
  EXPECT_EQ(t.edit.cursorPosition(), 4);
  Key(&t.edit, Qt::Key_Backspace);  // over the hyphen
  EXPECT_EQ(t.edit.EditText(), "12_-___");
  EXPECT_EQ(t.edit.cursorPosition(), 2);

  Key(&t.edit, Qt::Key_Right);
  EXPECT_EQ(t.edit.cursorPosition(), 4);
  Key(&t.edit, Qt::Key_Left);
  EXPECT_EQ(t.edit.cursorPosition(), 2);
  Key(&t.edit, Qt::Key_Home);
  EXPECT_EQ(t.edit.cursorPosition(), 0);
  Key(&t.edit, Qt::Key_Delete);
  EXPECT_EQ(t.edit.EditText(), "_2_-___");
  EXPECT_EQ(t.edit.cursorPosition(), 0);
  Key(&t.edit, Qt::Key_End);
  EXPECT_EQ(t.edit.cursorPosition(), 7);

  // A selection is unfilled by Delete, and replaced by typing.
  t.edit.SetText("123-456");
  t.edit.setCursorPosition(1);
  Key(&t.edit, Qt::Key_Right, Qt::ShiftModifier);
  Key(&t.edit, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(t.edit.selectedText(), "23-");
  Key(&t.edit, Qt::Key_Right, Qt::ShiftModifier);
  Key(&t.edit, Qt::Key_Delete);
  EXPECT_EQ(t.edit.EditText(), "1__-_56");
  t.edit.setSelection(4, 3);
  TypeText(&t.edit, "9");
  EXPECT_EQ(t.edit.EditText(), "1__-9__");
  t.edit.setSelection(0, 7);
  TypeText(&t.edit, "x");  // refused: the selection stays
  EXPECT_EQ(t.edit.EditText(), "1__-9__");
  EXPECT_EQ(t.edit.selectedText(), "1__-9__");
}

TEST(MaskEdit, ClipboardCutAndPaste) {
  QClipboard* cb = QGuiApplication::clipboard();
  ASSERT_NE(cb, nullptr);
  Typed t(kBosal, "123456");
  t.edit.setSelection(0, 4);
  Key(&t.edit, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(cb->text(), "123-");
  EXPECT_EQ(t.edit.EditText(), "___-456");
  cb->setText("98-7x6");
  t.edit.setCursorPosition(0);
  Key(&t.edit, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(t.edit.EditText(), "98_-766");
  Key(&t.edit, Qt::Key_Z, Qt::ControlModifier);  // no undo
  EXPECT_EQ(t.edit.EditText(), "98_-766");
  // Input-method text is typed too.
  t.edit.setCursorPosition(2);
  QInputMethodEvent im;
  im.setCommitString("5");
  QGuiApplication::sendEvent(&t.edit, &im);
  EXPECT_EQ(t.edit.Text(), "985-766");
}

TEST(MaskEdit, EditsOutsideTheKeysAreBroughtBackToTheMask) {
  Typed t(kBosal, "123456");
  // A change made by the edit's own menu or by dropping text: read back position by position.
  t.edit.setText("x23-4");
  emit t.edit.textEdited(t.edit.text());
  EXPECT_EQ(t.edit.EditText(), "_23-4__");
}

TEST(MaskEdit, ChangingTheMaskRetypesWhatWasTyped) {
  TMaskEdit e;
  e.SetEditMask(kKelv);
  e.setCursorPosition(0);
  TypeText(&e, "ab12");
  EXPECT_EQ(e.Text(), "ab.12.  ");
  e.SetEditMask(kBosal);  // letters refused, digits kept
  EXPECT_EQ(e.EditText(), "12_-___");
  EXPECT_EQ(e.Text(), "12 -   ");
  e.SetEditMask("");
  EXPECT_EQ(e.Text(), "12");
  e.SetText("AB-12");
  e.SetEditMask(kKelv);
  EXPECT_EQ(e.Text(), "AB.12.  ");

  // The search window's order: empty the text, then set the mask: nothing stays typed.
  e.SetText("");
  e.SetEditMask(kBosal);
  EXPECT_EQ(e.EditText(), "___-___");
  EXPECT_EQ(e.Text(), "   -   ");
  e.SetText("");
  e.SetEditMask("");
  EXPECT_EQ(e.Text(), "");
  e.SetText("");
  e.SetEditMask(kKelv);
  EXPECT_EQ(e.EditText(), "__.__.__");
}

TEST(MaskEdit, MaxLengthLimitsPlainText) {
  TMaskEdit e;
  e.SetMaxLength(5);
  TypeText(&e, "ABCDEFG");
  EXPECT_EQ(e.Text(), "ABCDE");
  e.SetMaxLength(3);
  EXPECT_EQ(e.Text(), "ABC");
  e.SetMaxLength(0);  // no limit
  TypeText(&e, "Щ'Ж");
  EXPECT_EQ(e.Text(), "ABCЩ'Ж");

  // With a mask the mask decides; the limit returns with the plain text.
  e.SetText("");
  e.SetMaxLength(10);
  e.SetEditMask(kBosal);
  EXPECT_EQ(e.MaxLength(), 10);
  TypeText(&e, "1234567890");
  EXPECT_EQ(e.Text(), "123-456");
  e.SetEditMask("");
  e.SetText("");
  TypeText(&e, "WALKER 12345");
  EXPECT_EQ(e.Text(), "WALKER 123");
}

TEST(MaskEdit, LayoutSetsLengthTextThenMask) {
  TMaskEdit e;  // in the order a layout sets them
  e.setMaxLength(8);
  e.setText("  .  .  ");
  e.setProperty("EditMask", "aa\\.aa\\.aa;1;_");
  EXPECT_EQ(e.EditMask(), kKelv);
  EXPECT_EQ(e.EditText(), "__.__.__");
  EXPECT_EQ(e.Text(), "  .  .  ");
  EXPECT_EQ(e.MaxLength(), 8);
  e.SetEditMask("");
  EXPECT_EQ(e.MaxLength(), 8);
}

TEST(MaskEdit, KeyPressSeesEnterAndMayChangeTheKey) {
  TMaskEdit e;
  e.SetEditMask(kKelv);
  std::vector<char16_t> keys;
  e.OnKeyPress = [&](TObject* Sender, char16_t& Key) {
    EXPECT_EQ(Sender, &e);
    keys.push_back(Key);
    if (Key == u'x') Key = 0;        // swallowed
    if (Key == u'q') Key = u'Q';     // replaced
  };
  e.setCursorPosition(0);
  TypeText(&e, "axq");
  Key(&e, Qt::Key_Return, Qt::NoModifier, "\r");
  EXPECT_EQ((std::vector<char16_t>{u'a', u'x', u'q', 13}), keys);
  EXPECT_EQ(e.Text(), "aQ.  .  ");
}

}  // namespace
