#pragma once
// The rich-text control: lines of text with bold runs and bulleted paragraphs.
//
// Text and positions follow the class library's rich edit: the whole text is every line
// followed by a line break "\r\n", and positions (SelStart, SelLength, GetTextLen) count
// characters (UTF-16 units: one per character for all text the catalogue holds) with each line
// break counting 2. So after Lines()->Add(S) the line just added starts at
// GetTextLen() - length(S) - 2 and runs, with its line break, to GetTextLen().
//
// A line added by Lines() starts plain: not bold, not bulleted. Character style (SelAttributes)
// applies to the selected characters; paragraph numbering (Paragraph) applies to every line that
// has a selected character (its line break counts as part of it), or to the caret's line when
// nothing is selected. Reading either gives the value at the start of the selection.
//
// Layout (.ui): Qt's own properties, plus the dynamic properties ScrollBars ("ssNone",
// "ssHorizontal", "ssVertical", "ssBoth"), HideScrollBars and HideSelection (Booleans).
#include <QPointer>
#include <QTextEdit>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/rtl/Classes.h"
#include "platform/ui/Controls.h"

class TPopupMenu;
class TRichEdit;

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TNumberingStyle : std::uint8_t { nsNone, nsBullet };

// The character style of the selection.
class TTextAttributes {
 public:
  explicit TTextAttributes(TRichEdit* Edit) : FEdit(Edit) {}
  TFontStyles Style() const;
  void SetStyle(TFontStyles Value);

 private:
  TRichEdit* FEdit;
};

// The paragraph format of the selected lines.
class TParaAttributes {
 public:
  explicit TParaAttributes(TRichEdit* Edit) : FEdit(Edit) {}
  TNumberingStyle Numbering() const;
  void SetNumbering(TNumberingStyle Value);

 private:
  TRichEdit* FEdit;
};

class TRichEdit : public QTextEdit, public TObject {
 public:
  explicit TRichEdit(QWidget* Parent = nullptr);
  ~TRichEdit() override;
  DECLARE_CLASS_NAME(TRichEdit)

  // The lines; Add appends one (a text with line breaks adds several).
  TStrings* Lines() const { return FLines.get(); }
  // The whole text: each line followed by "\r\n".
  std::string Text() const;
  int GetTextLen() const;

  int SelStart() const;
  void SetSelStart(int Value);  // places the caret there (nothing selected)
  int SelLength() const;
  void SetSelLength(int Value);  // selects from SelStart on
  TTextAttributes* SelAttributes() { return &FSelAttributes; }
  TParaAttributes* Paragraph() { return &FParagraph; }

  void Clear();
  void SelectAll();
  // Puts the selected text on the clipboard as plain text, lines separated by "\n" (a selected
  // line break included); nothing happens when nothing is selected.
  void CopyToClipboard();

  // ssVertical/ssBoth give a vertical scroll bar, ssHorizontal/ssBoth a horizontal one; with
  // HideScrollBars (the default) a bar shows only when there is something to scroll.
  TScrollStyle ScrollBars() const { return FScrollBars; }
  void SetScrollBars(TScrollStyle Value);
  bool HideScrollBars() const { return FHideScrollBars; }
  void SetHideScrollBars(bool Value);
  // With HideSelection (the default) the selection shows highlighted only while the control has
  // the focus; it stays selected all the same.
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool Value);
  bool WordWrap() const { return lineWrapMode() != QTextEdit::NoWrap; }
  void SetWordWrap(bool Value);
  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool Value);
  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool Value) { setEnabled(Value); }
  // Stored only: lines are always plain text here (no formatted text is ever parsed).
  bool PlainText() const { return FPlainText; }
  void SetPlainText(bool Value) { FPlainText = Value; }
  void Invalidate();

  // The pop-up menu of a right click (null when none, or when it has gone).
  TPopupMenu* PopupMenu() const { return FPopupGuard ? FPopupMenu : nullptr; }
  void SetPopupMenu(TPopupMenu* Value);

  // Positions: the class library's (line breaks of 2) and the document's (of 1).
  int ToDocPos(int Pos) const;
  int FromDocPos(int DocPos) const;

 protected:
  bool event(QEvent* Event) override;

 private:
  void ApplyScrollBars();
  void ApplyHideSelection();

  std::unique_ptr<TStrings> FLines;
  TTextAttributes FSelAttributes{this};
  TParaAttributes FParagraph{this};
  TScrollStyle FScrollBars{ssNone};
  bool FHideScrollBars{true};
  bool FHideSelection{true};
  bool FApplyingPalette{false};
  bool FPlainText{false};
  TPopupMenu* FPopupMenu{nullptr};
  QPointer<QObject> FPopupGuard;  // the menu's Qt menu: null once the menu is gone
};
