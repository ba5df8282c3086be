#pragma once
// The masked edit: a one-line edit whose text follows an edit mask.
//
// An edit mask has up to three fields separated by ';' (a '\'-escaped ';' belongs to the mask):
//   1. the mask itself, one character per position unless noted:
//        0  a digit, required          9  a digit, optional
//        #  a digit, '+' or '-', optional
//        L  a letter, required         l  a letter, optional
//        A  a letter or digit, required   a  a letter or digit, optional
//        C  any character, required    c  any character, optional
//        >  the following positions turn letters to upper case (no position)
//        <  the following positions turn letters to lower case (no position); "<>" ends either
//        \  the next mask character is a literal (no position of its own)
//        !  accepted and ignored (no position): unfilled positions are never trimmed here
//        _  a literal blank
//        any other character is a literal shown and kept as it is.
//      Letters are those of any alphabet (Cyrillic included); digits are 0 to 9.
//   2. "0": literals are left out of Text; anything else (or no field): literals are kept;
//   3. the blank character that marks unfilled positions on screen (its first character; '_'
//      when absent or empty).
//
// Text (with a mask): one character per position, in order: what was typed at an input position
// (converted by the case of its position), a space at an unfilled position, and the literal at
// a literal position when literals are kept (none when the second field is "0"). Nothing is
// trimmed. The blank character never appears in Text; EditText shows the field as on screen, one
// character per position, with the blank character at unfilled positions. So
// "aa\.aa\.aa;1;_" with "ab" and "c" typed reads "ab.c .  " and shows "ab.c_.__".
//
// SetText (with a mask) reads the value one position at a time: at a literal position a matching
// character of the value is passed over (any other is kept for the next position); at an input
// position the next character of the value fills it when the position accepts it, and leaves it
// unfilled otherwise (a space or the blank character is the usual way to say "unfilled").
// Characters left over are dropped. SetText("") leaves every position unfilled.
//
// Changing EditMask keeps the characters typed so far (the filled input positions in order; no
// literals, no blanks; without an old mask, the whole text) and types them anew into the new mask
// from its first position, as the keyboard would; characters the new mask refuses are dropped.
// Without a new mask those characters become the plain text. So emptying the text and then
// setting any mask, or no mask, gives an empty field.
//
// Keyboard with a mask: typing overwrites the position at the cursor and moves past it and past
// any literals that follow; at a literal position the cursor first moves on to the next input
// position (typing the literal itself just moves past it). A character the position does not
// accept is refused, unless it is the literal that ends the run of input positions the cursor
// is in: then the cursor jumps past that literal (typing "." after one character of "aa\.aa").
// Backspace unfills the input position before the cursor, Delete the one at (or after) the
// cursor; with a selection both unfill every selected input position. Left, Right, Home and End
// (with Shift: extending the selection) stop only at input positions and at the end of the field.
// Paste types the clipboard's characters; Cut copies and unfills; Undo and Redo do nothing.
//
// MaxLength limits the plain text (no mask) in characters; 0 means no limit. Setting it cuts a
// longer plain text to the limit. With a mask the mask fixes the length and MaxLength is kept
// for when the mask is removed.
//
// Layout (.ui): Qt's maxLength and text set MaxLength and the plain text; the dynamic property
// EditMask, which follows them, sets the mask (reformatting that text as above).
#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/SysUtils.h"

// OnKeyPress: Key is the character typed (13 Enter, 8 Backspace, 27 Escape); setting it to 0
// swallows the key, changing it types the new character instead.
using TKeyPressEvent = std::function<void(TObject* Sender, char16_t& Key)>;

class TMaskEdit : public QLineEdit, public TObject {
 public:
  explicit TMaskEdit(QWidget* Parent = nullptr);
  ~TMaskEdit() override;
  DECLARE_CLASS_NAME(TMaskEdit)

  const std::string& EditMask() const { return FEditMask; }
  void SetEditMask(const std::string& Value);
  int MaxLength() const;
  void SetMaxLength(int Value);

  std::string Text() const;
  void SetText(const std::string& Value);
  // The field as shown: one character per position, unfilled ones as the blank character.
  std::string EditText() const;

  TKeyPressEvent OnKeyPress;

 protected:
  bool event(QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void inputMethodEvent(QInputMethodEvent* Event) override;

 private:
  enum class TKind : std::uint8_t { Literal, Digit, DigitOrSign, Letter, AlphaNum, Any };
  struct TPos {
    TKind Kind{TKind::Literal};
    bool Required{false};
    char Case{0};  // '>' upper, '<' lower, 0 none
    QChar Literal;
  };

  bool Masked() const { return !FPos.empty(); }
  void ParseMask(const std::string& Mask);
  bool Accept(int Index, QChar C, QChar& Out) const;
  bool IsInput(int Index) const { return FPos[static_cast<std::size_t>(Index)].Kind != TKind::Literal; }
  int NextStop(int From) const;  // first input position >= From, or the field's length
  int PrevInput(int Before) const;  // last input position < Before, or -1
  QString TypedChars() const;  // the filled input positions, in order
  void Show(const QString& Edit, int Cursor);
  void Show(const QString& Edit, int Anchor, int Cursor);
  bool TypeChar(QString& Edit, int& Cursor, QChar C) const;
  void TypeInto(QString Chars);  // types at the cursor, replacing a selection
  void UnfillRange(QString& Edit, int From, int To) const;
  void MoveCursor(int To, bool Extend);
  void MaskedKey(QKeyEvent* Event);
  void ReformatAfterEdit();

  std::string FEditMask;
  std::vector<TPos> FPos;
  bool FKeepLiterals{true};
  QChar FBlank{u'_'};
  int FMaxLength{0};
  int FUpdating{0};
};
