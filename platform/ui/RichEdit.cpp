#include "platform/ui/RichEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QDynamicPropertyChangeEvent>
#include <QMenu>
#include <QGuiApplication>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextList>

#include "platform/ui/Menus.h"

namespace {

[[noreturn]] void IndexError(int Index) {
  throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

// A text split at "\r\n", "\n" or "\r"; a final line break does not make an empty last line.
QStringList SplitLines(const std::string& S) {
  QString t = QString::fromStdString(S);
  t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
  QStringList parts = t.split(u'\n');
  if (parts.size() > 1 && parts.back().isEmpty()) parts.removeLast();
  return parts;
}

bool EndsWithEmptyBlock(const QTextDocument* Doc) { return Doc->lastBlock().length() <= 1; }

}  // namespace

// The lines of a rich edit: the document's blocks but the empty one after the last line break.
class TRichEditStrings : public TStrings {
 public:
  explicit TRichEditStrings(TRichEdit* Edit) : FEdit(Edit) {}

  int Count() const override {
    const QTextDocument* doc = FEdit->document();
    return doc->blockCount() - (EndsWithEmptyBlock(doc) ? 1 : 0);
  }

  std::string Get(int Index) const override {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    return FEdit->document()->findBlockByNumber(Index).text().toStdString();
  }

  void Put(int Index, const std::string& S) override {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    const QTextBlock b = FEdit->document()->findBlockByNumber(Index);
    QTextCursor c(b);
    c.setPosition(b.position() + b.length() - 1, QTextCursor::KeepAnchor);
    c.insertText(QString::fromStdString(S));
    Changed();
  }

  void Insert(int Index, const std::string& S) override {
    if (Index < 0 || Index > Count()) IndexError(Index);
    QTextCursor c(FEdit->document());
    c.beginEditBlock();
    for (const QString& line : SplitLines(S)) InsertLine(c, Index++, line);
    c.endEditBlock();
    Changed();
  }

  void Delete(int Index) override {
    if (Index < 0 || Index >= Count()) IndexError(Index);
    const QTextBlock b = FEdit->document()->findBlockByNumber(Index);
    QTextCursor c(FEdit->document());
    if (Index > 0) {
      // The line goes with the line break before it, so the lines around keep their formats.
      c.setPosition(b.position() - 1);
      c.setPosition(b.position() + b.length() - 1, QTextCursor::KeepAnchor);
      c.removeSelectedText();
    } else if (b.next().isValid()) {
      const QTextBlockFormat next = b.next().blockFormat();
      c.setPosition(b.position());
      c.setPosition(b.next().position(), QTextCursor::KeepAnchor);
      c.removeSelectedText();
      c.setBlockFormat(next);
    } else {
      c.setPosition(b.position());
      c.setPosition(b.position() + b.length() - 1, QTextCursor::KeepAnchor);
      c.removeSelectedText();
    }
    Changed();
  }

  void Clear() override {
    FEdit->Clear();
    Changed();
  }

 private:
  // Inserts a plain line before line Index (Index == Count: at the end).
  void InsertLine(QTextCursor& C, int Index, const QString& Line) {
    QTextDocument* doc = FEdit->document();
    if (Index == Count()) {
      if (!EndsWithEmptyBlock(doc)) {
        C.movePosition(QTextCursor::End);
        C.insertBlock(QTextBlockFormat(), QTextCharFormat());
      }
      const QTextBlock tail = doc->lastBlock();
      if (QTextList* list = tail.textList()) list->remove(tail);
      C.setPosition(tail.position());
      C.setBlockFormat(QTextBlockFormat());
      C.insertText(Line, QTextCharFormat());
      C.insertBlock(QTextBlockFormat(), QTextCharFormat());
      return;
    }
    // Split the line off at its start: its text and format move to the new block after the
    // split, and the block left before it becomes the new plain line.
    const QTextBlock b = doc->findBlockByNumber(Index);
    C.setPosition(b.position());
    C.insertBlock(b.blockFormat(), b.charFormat());
    const QTextBlock added = C.block().previous();
    if (QTextList* list = added.textList()) list->remove(added);
    C.setPosition(added.position());
    C.setBlockFormat(QTextBlockFormat());
    C.insertText(Line, QTextCharFormat());
  }

  TRichEdit* FEdit;
};

// ---------------------------------------------------------------------------------------------
// Attributes

TFontStyles TTextAttributes::Style() const {
  const QTextCursor sel = FEdit->textCursor();
  QTextCharFormat f = sel.charFormat();
  if (sel.hasSelection()) {
    QTextCursor c(FEdit->document());
    c.setPosition(sel.selectionStart());
    c.movePosition(QTextCursor::NextCharacter);
    f = c.charFormat();
  }
  TFontStyles s = 0;
  if (f.fontWeight() >= QFont::Bold) s |= fsBold;
  if (f.fontItalic()) s |= fsItalic;
  if (f.fontUnderline()) s |= fsUnderline;
  if (f.fontStrikeOut()) s |= fsStrikeOut;
  return s;
}

void TTextAttributes::SetStyle(TFontStyles Value) {
  QTextCharFormat f;
  f.setFontWeight(Value & fsBold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(Value & fsItalic);
  f.setFontUnderline(Value & fsUnderline);
  f.setFontStrikeOut(Value & fsStrikeOut);
  QTextCursor c = FEdit->textCursor();
  c.mergeCharFormat(f);
  FEdit->setTextCursor(c);
}

TNumberingStyle TParaAttributes::Numbering() const {
  const QTextBlock b = FEdit->document()->findBlock(FEdit->textCursor().selectionStart());
  const QTextList* list = b.textList();
  return list && list->format().style() == QTextListFormat::ListDisc ? nsBullet : nsNone;
}

void TParaAttributes::SetNumbering(TNumberingStyle Value) {
  const QTextCursor sel = FEdit->textCursor();
  QTextDocument* doc = FEdit->document();
  const QTextBlock first = doc->findBlock(sel.selectionStart());
  QTextBlock last = doc->findBlock(sel.selectionEnd());
  // A selection that ends at the start of a line does not reach into it.
  if (sel.hasSelection() && last != first && sel.selectionEnd() == last.position()) last = last.previous();
  QTextCursor c(doc);
  c.beginEditBlock();
  for (QTextBlock b = first; b.isValid(); b = b.next()) {
    QTextList* list = b.textList();
    const bool bullet = list && list->format().style() == QTextListFormat::ListDisc;
    if (Value == nsBullet && !bullet) {
      if (list) list->remove(b);
      c.setPosition(b.position());
      QTextListFormat lf;
      lf.setStyle(QTextListFormat::ListDisc);
      lf.setIndent(1);
      c.createList(lf);
    } else if (Value == nsNone && list) {
      list->remove(b);
      c.setPosition(b.position());
      QTextBlockFormat bf = b.blockFormat();
      bf.setIndent(0);
      c.setBlockFormat(bf);
    }
    if (b == last) break;
  }
  c.endEditBlock();
}

// ---------------------------------------------------------------------------------------------
// TRichEdit

TRichEdit::TRichEdit(QWidget* Parent) : QTextEdit(Parent), FLines(std::make_unique<TRichEditStrings>(this)) {
  setUndoRedoEnabled(false);
  setAcceptRichText(false);
  setTabChangesFocus(true);
  ApplyScrollBars();
  ApplyHideSelection();
}

TRichEdit::~TRichEdit() = default;

std::string TRichEdit::Text() const {
  QString t;
  for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
    if (b != document()->begin()) t += QLatin1String("\r\n");
    t += b.text();
  }
  return t.toStdString();
}

int TRichEdit::GetTextLen() const { return document()->characterCount() - 1 + document()->blockCount() - 1; }

int TRichEdit::ToDocPos(int Pos) const {
  const QTextDocument* doc = document();
  Pos = std::clamp(Pos, 0, GetTextLen());
  // The last line starting at or before Pos (line k starts at its document position + k).
  int lo = 0, hi = doc->blockCount() - 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (doc->findBlockByNumber(mid).position() + mid <= Pos)
      lo = mid;
    else
      hi = mid - 1;
  }
  const QTextBlock b = doc->findBlockByNumber(lo);
  const int offset = Pos - (b.position() + lo);
  const int len = b.length() - 1;
  return b.position() + (offset <= len ? offset : len + 1);
}

int TRichEdit::FromDocPos(int DocPos) const {
  const QTextBlock b = document()->findBlock(DocPos);
  return DocPos + (b.isValid() ? b.blockNumber() : document()->blockCount() - 1);
}

int TRichEdit::SelStart() const { return FromDocPos(textCursor().selectionStart()); }

void TRichEdit::SetSelStart(int Value) {
  QTextCursor c = textCursor();
  c.setPosition(ToDocPos(Value));
  setTextCursor(c);
}

int TRichEdit::SelLength() const {
  const QTextCursor c = textCursor();
  return FromDocPos(c.selectionEnd()) - FromDocPos(c.selectionStart());
}

void TRichEdit::SetSelLength(int Value) {
  QTextCursor c = textCursor();
  const int start = c.selectionStart();
  const int end = ToDocPos(FromDocPos(start) + std::max(Value, 0));
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  setTextCursor(c);
}

void TRichEdit::Clear() { QTextEdit::clear(); }

void TRichEdit::SelectAll() { QTextEdit::selectAll(); }

void TRichEdit::CopyToClipboard() {
  const QTextCursor c = textCursor();
  if (!c.hasSelection()) return;
  if (QClipboard* cb = QGuiApplication::clipboard()) cb->setText(c.selection().toPlainText());
}

void TRichEdit::SetScrollBars(TScrollStyle Value) {
  FScrollBars = Value;
  ApplyScrollBars();
}

void TRichEdit::SetHideScrollBars(bool Value) {
  FHideScrollBars = Value;
  ApplyScrollBars();
}

void TRichEdit::ApplyScrollBars() {
  const Qt::ScrollBarPolicy shown = FHideScrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOn;
  const bool v = FScrollBars == ssVertical || FScrollBars == ssBoth;
  const bool h = FScrollBars == ssHorizontal || FScrollBars == ssBoth;
  setVerticalScrollBarPolicy(v ? shown : Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(h ? shown : Qt::ScrollBarAlwaysOff);
}

void TRichEdit::SetHideSelection(bool Value) {
  FHideSelection = Value;
  ApplyHideSelection();
}

// Without the focus the text control paints the selection in the palette's inactive colours:
// no background then, and the text in its own colour.
void TRichEdit::ApplyHideSelection() {
  QPalette p = palette();
  if (FHideSelection) {
    p.setBrush(QPalette::Inactive, QPalette::Highlight, QBrush(Qt::NoBrush));
    p.setBrush(QPalette::Inactive, QPalette::HighlightedText, p.brush(QPalette::Inactive, QPalette::Text));
  } else {
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
      p.setBrush(QPalette::Inactive, role, inherited.brush(QPalette::Inactive, role));
  }
  if (p == palette()) return;
  FApplyingPalette = true;
  setPalette(p);
  FApplyingPalette = false;
}

void TRichEdit::SetWordWrap(bool Value) {
  setLineWrapMode(Value ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void TRichEdit::SetReadOnly(bool Value) {
  setReadOnly(Value);
  setTextInteractionFlags(Value ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                : Qt::TextEditorInteraction);
}

void TRichEdit::Invalidate() { viewport()->update(); }

bool TRichEdit::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange) {
    const QByteArray name = static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName();
    if (name == "HideScrollBars") SetHideScrollBars(property(name).toBool());
    if (name == "HideSelection") SetHideSelection(property(name).toBool());
    if (name == "ScrollBars") {
      const QString v = property(name).toString();
      const char* names[] = {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"};
      for (int i = 0; i < 4; ++i)
        if (v == QLatin1String(names[i])) SetScrollBars(static_cast<TScrollStyle>(i));
    }
  }
  const bool handled = QTextEdit::event(Event);
  // A new palette (the layout's colours, a parent's) keeps the selection hidden.
  if (Event->type() == QEvent::PaletteChange && !FApplyingPalette) ApplyHideSelection();
  return handled;
}

void TRichEdit::SetPopupMenu(TPopupMenu* Value) {
  FPopupMenu = Value;
  FPopupGuard = Value ? static_cast<QObject*>(Value->Menu()) : nullptr;
  ::SetPopupMenu(this, Value);
}
