#include "platform/ui/Mask.h"

#include <QClipboard>
#include <QDynamicPropertyChangeEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QStringList>

#include "platform/ui/Forms.h"

namespace {

constexpr int kNoLimit = 32767;  // QLineEdit's own largest length

bool IsDigit(QChar C) { return C >= u'0' && C <= u'9'; }

}  // namespace

TMaskEdit::TMaskEdit(QWidget* Parent) : QLineEdit(Parent) {
  QLineEdit::setMaxLength(kNoLimit);
  // Edits that bypass the key handling (context menu, drag and drop) are brought back in line.
  connect(this, &QLineEdit::textEdited, this, [this](const QString&) { ReformatAfterEdit(); });
}

TMaskEdit::~TMaskEdit() = default;

// ---------------------------------------------------------------------------------------------
// The mask

void TMaskEdit::ParseMask(const std::string& Mask) {
  FPos.clear();
  FKeepLiterals = true;
  FBlank = u'_';
  const QString m = QString::fromStdString(Mask);
  QStringList fields;
  QString field;
  for (qsizetype i = 0; i < m.size(); ++i) {
    if (m[i] == u'\\' && i + 1 < m.size()) {
      field += m[i];
      field += m[++i];
    } else if (m[i] == u';') {
      fields << field;
      field.clear();
    } else {
      field += m[i];
    }
  }
  fields << field;
  if (fields.size() > 1 && fields[1].startsWith(u'0')) FKeepLiterals = false;
  if (fields.size() > 2 && !fields[2].isEmpty()) FBlank = fields[2][0];

  const QString& f = fields[0];
  char caseMode = 0;
  for (qsizetype i = 0; i < f.size(); ++i) {
    const QChar c = f[i];
    TPos p;
    p.Case = caseMode;
    switch (c.unicode()) {
      case u'\\':
        p.Literal = i + 1 < f.size() ? f[++i] : c;
        break;
      case u'>':
        caseMode = '>';
        continue;
      case u'<':
        if (i + 1 < f.size() && f[i + 1] == u'>') {
          caseMode = 0;
          ++i;
        } else {
          caseMode = '<';
        }
        continue;
      case u'!':
        continue;
      case u'0': p.Kind = TKind::Digit; p.Required = true; break;
      case u'9': p.Kind = TKind::Digit; break;
      case u'#': p.Kind = TKind::DigitOrSign; break;
      case u'L': p.Kind = TKind::Letter; p.Required = true; break;
      case u'l': p.Kind = TKind::Letter; break;
      case u'A': p.Kind = TKind::AlphaNum; p.Required = true; break;
      case u'a': p.Kind = TKind::AlphaNum; break;
      case u'C': p.Kind = TKind::Any; p.Required = true; break;
      case u'c': p.Kind = TKind::Any; break;
      case u'_': p.Literal = u' '; break;
      default: p.Literal = c; break;
    }
    FPos.push_back(p);
  }
}

bool TMaskEdit::Accept(int Index, QChar C, QChar& Out) const {
  const TPos& p = FPos[static_cast<std::size_t>(Index)];
  if (p.Kind == TKind::Literal || C.isSurrogate() || C.unicode() < 0x20 || C.unicode() == 0x7F || C == FBlank)
    return false;
  Out = p.Case == '>' ? C.toUpper() : p.Case == '<' ? C.toLower() : C;
  switch (p.Kind) {
    case TKind::Digit: return IsDigit(Out);
    case TKind::DigitOrSign: return IsDigit(Out) || Out == u'+' || Out == u'-';
    case TKind::Letter: return Out.isLetter();
    case TKind::AlphaNum: return Out.isLetter() || IsDigit(Out);
    case TKind::Any: return Out.isPrint();
    case TKind::Literal: break;
  }
  return false;
}

int TMaskEdit::NextStop(int From) const {
  const int n = static_cast<int>(FPos.size());
  for (int p = std::max(From, 0); p < n; ++p)
    if (IsInput(p)) return p;
  return n;
}

int TMaskEdit::PrevInput(int Before) const {
  for (int p = std::min(Before, static_cast<int>(FPos.size())) - 1; p >= 0; --p)
    if (IsInput(p)) return p;
  return -1;
}

QString TMaskEdit::TypedChars() const {
  const QString e = QLineEdit::text();
  if (!Masked()) return e;
  QString typed;
  for (int p = 0; p < static_cast<int>(FPos.size()) && p < e.size(); ++p)
    if (IsInput(p) && e[p] != FBlank && e[p] != u' ') typed += e[p];
  return typed;
}

// Types one character at Cursor; false when the mask refuses it (Edit and Cursor unchanged).
bool TMaskEdit::TypeChar(QString& Edit, int& Cursor, QChar C) const {
  const int n = static_cast<int>(FPos.size());
  int p = Cursor;
  for (; p < n && !IsInput(p); ++p) {
    if (FPos[static_cast<std::size_t>(p)].Literal == C) {
      Cursor = NextStop(p + 1);
      return true;
    }
  }
  if (p >= n) return false;
  QChar out;
  if (Accept(p, C, out)) {
    Edit[p] = out;
    Cursor = NextStop(p + 1);
    return true;
  }
  int q = p;
  while (q < n && IsInput(q)) ++q;
  if (q < n && FPos[static_cast<std::size_t>(q)].Literal == C) {
    Cursor = NextStop(q + 1);
    return true;
  }
  return false;
}

void TMaskEdit::UnfillRange(QString& Edit, int From, int To) const {
  for (int p = std::max(From, 0); p < To && p < static_cast<int>(FPos.size()); ++p)
    if (IsInput(p)) Edit[p] = FBlank;
}

// ---------------------------------------------------------------------------------------------
// Properties

void TMaskEdit::SetEditMask(const std::string& Value) {
  if (Value == FEditMask) return;
  if (!Masked()) FMaxLength = MaxLength();  // it may have been set as Qt's maxLength
  const QString typed = TypedChars();
  FEditMask = Value;
  ParseMask(Value);
  ++FUpdating;
  if (Masked()) {
    const int n = static_cast<int>(FPos.size());
    QLineEdit::setMaxLength(n);
    QString e(n, u' ');
    for (int p = 0; p < n; ++p) e[p] = IsInput(p) ? FBlank : FPos[static_cast<std::size_t>(p)].Literal;
    int cursor = NextStop(0);
    for (QChar c : typed) TypeChar(e, cursor, c);
    Show(e, NextStop(0));
  } else {
    QLineEdit::setMaxLength(FMaxLength > 0 ? FMaxLength : kNoLimit);
    QLineEdit::setText(typed);
  }
  --FUpdating;
}

int TMaskEdit::MaxLength() const {
  if (Masked()) return FMaxLength;
  const int limit = QLineEdit::maxLength();
  return limit >= kNoLimit ? 0 : limit;
}

void TMaskEdit::SetMaxLength(int Value) {
  FMaxLength = std::clamp(Value, 0, kNoLimit);
  if (!Masked()) {
    ++FUpdating;
    QLineEdit::setMaxLength(FMaxLength > 0 ? FMaxLength : kNoLimit);
    --FUpdating;
  }
}

std::string TMaskEdit::Text() const {
  const QString e = QLineEdit::text();
  if (!Masked()) return e.toStdString();
  QString r;
  for (int p = 0; p < static_cast<int>(FPos.size()); ++p) {
    const QChar c = p < e.size() ? e[p] : FBlank;
    if (IsInput(p))
      r += c == FBlank ? QChar(u' ') : c;
    else if (FKeepLiterals)
      r += FPos[static_cast<std::size_t>(p)].Literal;
  }
  return r.toStdString();
}

void TMaskEdit::SetText(const std::string& Value) {
  const QString v = QString::fromStdString(Value);
  if (!Masked()) {
    ++FUpdating;
    QLineEdit::setText(v);
    --FUpdating;
    return;
  }
  const int n = static_cast<int>(FPos.size());
  QString e(n, u' ');
  for (int p = 0; p < n; ++p) e[p] = IsInput(p) ? FBlank : FPos[static_cast<std::size_t>(p)].Literal;
  qsizetype k = 0;
  for (int p = 0; p < n && k < v.size(); ++p) {
    if (!IsInput(p)) {
      if (v[k] == FPos[static_cast<std::size_t>(p)].Literal) ++k;
      continue;
    }
    QChar out;
    if (v[k] != u' ' && Accept(p, v[k], out)) e[p] = out;
    ++k;
  }
  Show(e, 0);
}

std::string TMaskEdit::EditText() const { return QLineEdit::text().toStdString(); }

// ---------------------------------------------------------------------------------------------
// Editing

void TMaskEdit::Show(const QString& Edit, int Cursor) {
  ++FUpdating;
  if (QLineEdit::text() != Edit) QLineEdit::setText(Edit);
  setCursorPosition(Cursor);
  --FUpdating;
}

void TMaskEdit::Show(const QString& Edit, int Anchor, int Cursor) {
  ++FUpdating;
  if (QLineEdit::text() != Edit) QLineEdit::setText(Edit);
  setSelection(Anchor, Cursor - Anchor);
  --FUpdating;
}

void TMaskEdit::TypeInto(QString Chars) {
  QString e = QLineEdit::text();
  int cursor = cursorPosition();
  if (hasSelectedText()) {
    const int start = selectionStart();
    QString cleared = e;
    UnfillRange(cleared, start, selectionEnd());
    int at = start;
    QString typed = cleared;
    bool any = false;
    for (QChar c : Chars) any = TypeChar(typed, at, c) || any;
    // A single refused character leaves the selection as it was.
    if (!any && Chars.size() == 1) return;
    Show(typed, at);
    return;
  }
  for (QChar c : Chars) TypeChar(e, cursor, c);
  Show(e, cursor);
}

void TMaskEdit::MoveCursor(int To, bool Extend) {
  if (!Extend) {
    setCursorPosition(To);
    return;
  }
  int anchor = cursorPosition();
  if (hasSelectedText()) anchor = cursorPosition() == selectionStart() ? selectionEnd() : selectionStart();
  setSelection(anchor, To - anchor);
}

void TMaskEdit::MaskedKey(QKeyEvent* Event) {
  Event->accept();
  const int n = static_cast<int>(FPos.size());
  const int cursor = cursorPosition();
  const bool shift = Event->modifiers() & Qt::ShiftModifier;
  if (Event->matches(QKeySequence::Paste)) {
    if (const QClipboard* cb = QGuiApplication::clipboard()) TypeInto(cb->text());
    return;
  }
  if (Event->matches(QKeySequence::Cut)) {
    if (!hasSelectedText()) return;
    copy();
    QString e = QLineEdit::text();
    const int start = selectionStart();
    UnfillRange(e, start, selectionEnd());
    Show(e, start);
    return;
  }
  if (Event->matches(QKeySequence::Undo) || Event->matches(QKeySequence::Redo)) return;
  if (Event->matches(QKeySequence::Copy) || Event->matches(QKeySequence::SelectAll)) {
    QLineEdit::keyPressEvent(Event);
    return;
  }
  switch (Event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete: {
      QString e = QLineEdit::text();
      if (hasSelectedText()) {
        const int start = selectionStart();
        UnfillRange(e, start, selectionEnd());
        Show(e, start);
      } else if (Event->key() == Qt::Key_Backspace) {
        const int p = PrevInput(cursor);
        if (p >= 0) {
          e[p] = FBlank;
          Show(e, p);
        }
      } else {
        const int p = NextStop(cursor);
        if (p < n) {
          e[p] = FBlank;
          Show(e, cursor);
        }
      }
      return;
    }
    case Qt::Key_Left: {
      const int p = PrevInput(cursor);
      MoveCursor(p >= 0 ? p : cursor, shift);
      return;
    }
    case Qt::Key_Right:
      MoveCursor(cursor < n ? NextStop(cursor + 1) : n, shift);
      return;
    case Qt::Key_Home:
      MoveCursor(NextStop(0), shift);
      return;
    case Qt::Key_End:
      MoveCursor(n, shift);
      return;
    default:
      break;
  }
  const QString t = Event->text();
  const bool command = Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (!command && !t.isEmpty() && t[0].unicode() >= 0x20 && t[0].unicode() != 0x7F) {
    TypeInto(t);
    return;
  }
  Event->ignore();
  QLineEdit::keyPressEvent(Event);
}

bool TMaskEdit::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange &&
      static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName() == "EditMask")
    SetEditMask(property("EditMask").toString().toStdString());
  return QLineEdit::event(Event);
}

void TMaskEdit::keyPressEvent(QKeyEvent* Event) {
  const QString t = Event->text();
  if (OnKeyPress && t.size() == 1 && t[0].unicode() != 0x7F) {
    char16_t key = t[0].unicode();
    Application->Guard([&] { OnKeyPress(this, key); });
    if (key == 0) {
      Event->accept();
      return;
    }
    if (key != t[0].unicode()) {
      QKeyEvent replaced(Event->type(), key == 13 ? Qt::Key_Return : Qt::Key_unknown, Event->modifiers(),
                         QString(QChar(key)), Event->isAutoRepeat(), 1);
      if (Masked())
        MaskedKey(&replaced);
      else
        QLineEdit::keyPressEvent(&replaced);
      Event->setAccepted(replaced.isAccepted());
      return;
    }
  }
  if (Masked())
    MaskedKey(Event);
  else
    QLineEdit::keyPressEvent(Event);
}

void TMaskEdit::inputMethodEvent(QInputMethodEvent* Event) {
  if (!Masked()) {
    QLineEdit::inputMethodEvent(Event);
    return;
  }
  if (!Event->commitString().isEmpty()) TypeInto(Event->commitString());
  Event->accept();
}

void TMaskEdit::ReformatAfterEdit() {
  if (FUpdating || !Masked()) return;
  const int cursor = cursorPosition();
  // The edited text is read as the field shown on screen, one character per position.
  const QString raw = QLineEdit::text();
  const int n = static_cast<int>(FPos.size());
  QString e(n, u' ');
  for (int p = 0; p < n; ++p) {
    QChar out;
    if (!IsInput(p))
      e[p] = FPos[static_cast<std::size_t>(p)].Literal;
    else if (p < raw.size() && raw[p] != u' ' && Accept(p, raw[p], out))
      e[p] = out;
    else
      e[p] = FBlank;
  }
  Show(e, std::min(cursor, n));
}
