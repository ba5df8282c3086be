#include "platform/ui/QtHost.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFont>
#include <QGroupBox>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QVariant>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <cstring>
#include <vector>

#include "platform/ui/Forms.h"

namespace {

// Counts a model-to-widget or widget-to-model synchronisation in progress, so that the change
// it causes on the other side is not sent back.
struct SyncGuard {
  int& Count;
  explicit SyncGuard(int& C) : Count(C) { ++Count; }
  ~SyncGuard() { --Count; }
  SyncGuard(const SyncGuard&) = delete;
  SyncGuard& operator=(const SyncGuard&) = delete;
};

WPARAM MouseKeys(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Modifiers) {
  WPARAM keys = 0;
  if (Buttons & Qt::LeftButton) keys |= MK_LBUTTON;
  if (Buttons & Qt::RightButton) keys |= MK_RBUTTON;
  if (Buttons & Qt::MiddleButton) keys |= MK_MBUTTON;
  if (Modifiers & Qt::ShiftModifier) keys |= MK_SHIFT;
  if (Modifiers & Qt::ControlModifier) keys |= MK_CONTROL;
  if (Modifiers & Qt::AltModifier) keys |= MK_ALT;
  return keys;
}

// The TWinControl binding of a widget: a QObject child of the widget that filters its events.
class TWinControlBinding : public QObject, public IControlHost {
 public:
  TWinControlBinding(TWinControl* Control, QWidget* Widget, bool Owned);
  ~TWinControlBinding() override;

  TWinControl* Control() const { return FControl; }
  void ControlChanged(TControlChange Change) override;
  TRect HostClientRect(const TRect& Default) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void PullFromWidget();
  void PushToWidget();

  TWinControl* FControl;
  QPointer<QWidget> FWidget;
  bool FOwned;
  int FSyncing{0};
};

TWinControlBinding* BindingOf(QWidget* Widget) {
  if (!Widget) return nullptr;
  for (QObject* child : Widget->children())
    if (auto* binding = dynamic_cast<TWinControlBinding*>(child)) return binding;
  return nullptr;
}

// The controls without a model parent shown in a window (its hosts and bound widgets).
std::vector<TControl*> RootsIn(QWidget* Window) {
  std::vector<TControl*> roots;
  auto visit = [&roots](QWidget* w) {
    if (auto* host = dynamic_cast<TControlWidget*>(w)) {
      if (host->Control() && !host->Control()->Parent()) roots.push_back(host->Control());
    } else if (TWinControl* control = BoundWinControl(w)) {
      if (!control->Parent()) roots.push_back(control);
    }
  };
  visit(Window);
  for (QWidget* w : Window->findChildren<QWidget*>()) visit(w);
  return roots;
}

char16_t DialogCharacter(const QKeyEvent* Event) {
  QString text = Event->text();
  if (!text.isEmpty() && text.at(0).unicode() >= 0x20) return text.at(0).unicode();
  int key = Event->key();
  bool shift = (Event->modifiers() & Qt::ShiftModifier) != 0;
  if (key >= Qt::Key_A && key <= Qt::Key_Z)
    return static_cast<char16_t>((shift ? 'A' : 'a') + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<char16_t>('0' + (key - Qt::Key_0));
  return 0;
}

// Application-wide: focus changes and accelerator characters for the roots of the model.
class TQtDispatcher : public QObject {
 public:
  static void Ensure() {
    static QPointer<TQtDispatcher> instance;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (instance || !app) return;
    instance = new TQtDispatcher(app);
    app->installEventFilter(instance);
    QObject::connect(app, &QApplication::focusChanged, instance, [](QWidget*, QWidget* now) {
      if (!now) return;
      TWinControl* focused = nullptr;
      for (QWidget* w = now; w && !focused; w = w->parentWidget()) focused = BoundWinControl(w);
      for (TControl* root : RootsIn(now->window()))
        root->Perform(CM_FOCUSCHANGED, 0, reinterpret_cast<LPARAM>(focused));
    });
  }

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    // A key press with Alt that no widget of the window took arrives at the window itself.
    if (Event->type() != QEvent::KeyPress || !Watched->isWidgetType()) return false;
    auto* window = static_cast<QWidget*>(Watched);
    if (!window->isWindow()) return false;
    auto* key = static_cast<QKeyEvent*>(Event);
    Qt::KeyboardModifiers mods = key->modifiers();
    if (!(mods & Qt::AltModifier) || (mods & Qt::ControlModifier)) return false;
    char16_t ch = DialogCharacter(key);
    if (ch == 0) return false;
    TShiftState shift = ssAlt;
    if (mods & Qt::ShiftModifier) shift |= ssShift;
    LPARAM keyData = ShiftStateToKeyData(shift);
    for (TControl* root : RootsIn(window)) {
      try {
        if (root->Perform(CM_DIALOGCHAR, ch, keyData) != 0) return true;
      } catch (const std::exception& E) {
        ShowException(E);
        return true;
      }
    }
    return false;
  }

 private:
  explicit TQtDispatcher(QObject* Parent) : QObject(Parent) {}
};

// Renders a control through WM_PAINT on a 32-bit surface of Width x Height. Unless the control
// is opaque it is painted twice, on black and on white: pixels that come out the same both times
// were painted; the others were left alone and become transparent.
QImage RenderControl(TControl* Control, int Width, int Height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = Width;
  info.bmiHeader.biHeight = -Height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return {};
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) {
    DeleteObject(bitmap);
    return {};
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  struct Cleanup {
    HDC Dc;
    HGDIOBJ Old;
    HBITMAP Bitmap;
    ~Cleanup() {
      SelectObject(Dc, Old);
      DeleteDC(Dc);
      DeleteObject(Bitmap);
    }
  } cleanup{dc, old, bitmap};

  const std::size_t pixels = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height);
  auto* surface = static_cast<std::uint32_t*>(bits);
  std::memset(surface, 0, pixels * 4);
  Control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  GdiFlush();

  QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return {};
  if (Control->ControlStyle() & csOpaque) {
    for (int y = 0; y < Height; ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
      const std::uint32_t* in = surface + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
      for (int x = 0; x < Width; ++x) out[x] = 0xFF000000u | (in[x] & 0x00FFFFFFu);
    }
    return image;
  }
  std::vector<std::uint32_t> onBlack(surface, surface + pixels);
  std::memset(surface, 0xFF, pixels * 4);
  Control->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  GdiFlush();
  for (int y = 0; y < Height; ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
    for (int x = 0; x < Width; ++x) {
      std::uint32_t a = onBlack[row + static_cast<std::size_t>(x)] & 0x00FFFFFFu;
      std::uint32_t b = surface[row + static_cast<std::size_t>(x)] & 0x00FFFFFFu;
      out[x] = a == b ? (0xFF000000u | a) : 0u;
    }
  }
  return image;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Conversions

QFont ToQFont(TFont* Font) {
  QFont f;
  if (!Font) return f;
  if (!Font->Name().empty()) f.setFamily(QString::fromStdString(Font->Name()));
  if (Font->Size() > 0) f.setPointSize(Font->Size());
  f.setBold((Font->Style() & fsBold) != 0);
  f.setItalic((Font->Style() & fsItalic) != 0);
  f.setUnderline((Font->Style() & fsUnderline) != 0);
  f.setStrikeOut((Font->Style() & fsStrikeOut) != 0);
  return f;
}

void AssignQFont(TFont* Font, const QFont& Value) {
  TFont f;
  f.Assign(Font);
  f.SetName(Value.family().toStdString());
  if (Value.pointSize() > 0)
    f.SetSize(Value.pointSize());
  else if (Value.pixelSize() > 0)
    f.SetHeight(-Value.pixelSize());
  TFontStyles style = 0;
  if (Value.bold()) style |= fsBold;
  if (Value.italic()) style |= fsItalic;
  if (Value.underline()) style |= fsUnderline;
  if (Value.strikeOut()) style |= fsStrikeOut;
  f.SetStyle(style);
  Font->Assign(&f);
}

QColor ToQColor(TColor Color) {
  if (Color == clNone || Color == clDefault) return {};
  TColor rgb = ColorToRGB(Color);
  return QColor(GetRValue(static_cast<COLORREF>(rgb)), GetGValue(static_cast<COLORREF>(rgb)),
                GetBValue(static_cast<COLORREF>(rgb)));
}

TColor FromQColor(const QColor& Color) {
  return static_cast<TColor>(RGB(static_cast<BYTE>(Color.red()), static_cast<BYTE>(Color.green()),
                                 static_cast<BYTE>(Color.blue())));
}

// ---------------------------------------------------------------------------------------------
// Hosting entry points

QWidget* HostControl(TControl* Control, QWidget* ParentWidget) {
  if (!Control || !ParentWidget) return nullptr;
  if (auto* win = dynamic_cast<TWinControl*>(Control)) {
    if (!win->Widget()) QtBindWinControl(win, nullptr, true);
    if (win->Widget() && win->Widget()->parentWidget() != ParentWidget) {
      win->Widget()->setParent(ParentWidget);
      win->Widget()->setVisible(win->Visible());
    }
    return win->Widget();
  }
  if (auto* old = dynamic_cast<TControlWidget*>(Control->Host())) {
    Control->SetHost(nullptr);
    old->ControlChanged(ccParent);
  }
  return new TControlWidget(Control, ParentWidget);
}

QWidget* HostInPlaceOf(QWidget* Placeholder, TControl* Control, const TMethodResolver& Resolver) {
  if (!Placeholder || !Control) return nullptr;
  QWidget* parent = Placeholder->parentWidget();
  if (!parent) throw EInvalidOperation("The placeholder has no parent widget");
  for (const QByteArray& rawName : Placeholder->dynamicPropertyNames()) {
    std::string name = rawName.toStdString();
    if (name.rfind("_q_", 0) == 0 || !GetPropInfo(Control, name)) continue;
    QVariant value = Placeholder->property(rawName.constData());
    std::string text = value.typeId() == QMetaType::Bool ? (value.toBool() ? "True" : "False")
                                                          : value.toString().toStdString();
    ReadProperty(Control, name, text, Resolver);
  }
  if (Control->Name().empty() && !Placeholder->objectName().isEmpty())
    Control->SetName(Placeholder->objectName().toStdString());
  QRect g = Placeholder->geometry();
  Control->SetBounds(g.x(), g.y(), g.width(), g.height());
  Control->SetVisible(!Placeholder->isHidden());
  QWidget* host = HostControl(Control, parent);
  host->setObjectName(Placeholder->objectName());
  host->setSizePolicy(Placeholder->sizePolicy());
  host->setMinimumSize(Placeholder->minimumSize());
  host->setMaximumSize(Placeholder->maximumSize());
  if (QLayout* layout = parent->layout()) {
    if (QLayoutItem* old = layout->replaceWidget(Placeholder, host)) delete old;
  }
  delete Placeholder;
  return host;
}

TControl* HostedControl(QWidget* Widget) {
  if (auto* host = dynamic_cast<TControlWidget*>(Widget)) return host->Control();
  return BoundWinControl(Widget);
}

TWinControl* BoundWinControl(QWidget* Widget) {
  TWinControlBinding* binding = BindingOf(Widget);
  return binding ? binding->Control() : nullptr;
}

void QtHostControl(TWinControl* Parent, TControl* Control) {
  if (!Parent || !Parent->Widget()) return;
  if (auto* win = dynamic_cast<TWinControl*>(Control)) {
    if (!win->Widget()) QtBindWinControl(win, nullptr, true);
    return;
  }
  new TControlWidget(Control, Parent->Widget());
}

void QtBindWinControl(TWinControl* Control, QWidget* Widget, bool CreateOwned) {
  if (!Control) return;
  if (Control->Widget()) {
    if (Control->Widget() == Widget) return;
    throw EInvalidOperation("The control is bound to a widget already");
  }
  if (!Widget && !CreateOwned) return;
  if (Widget && BindingOf(Widget)) throw EInvalidOperation("The widget is bound to another control already");
  bool owned = false;
  if (!Widget) {
    QWidget* parentWidget = Control->Parent() ? Control->Parent()->Widget() : nullptr;
    Widget = new QWidget(parentWidget);
    owned = true;
  }
  new TWinControlBinding(Control, Widget, owned);
  for (int i = 0; i < Control->ControlCount(); ++i) QtHostControl(Control, Control->Controls(i));
  Control->Realign();
}

// ---------------------------------------------------------------------------------------------
// TWinControlBinding

TWinControlBinding::TWinControlBinding(TWinControl* Control, QWidget* Widget, bool Owned)
    : QObject(Widget), FControl(Control), FWidget(Widget), FOwned(Owned) {
  TQtDispatcher::Ensure();
  Control->SetWidget(Widget);
  Control->SetHost(this);
  if (Owned)
    PushToWidget();
  else
    PullFromWidget();
  Widget->installEventFilter(this);
}

TWinControlBinding::~TWinControlBinding() {
  if (FControl) {
    FControl->SetHost(nullptr);
    FControl->SetWidget(nullptr);
    FControl = nullptr;
  }
}

void TWinControlBinding::PullFromWidget() {
  SyncGuard guard(FSyncing);
  QWidget* w = FWidget;
  QRect g = w->geometry();
  FControl->SetBounds(g.x(), g.y(), g.width(), g.height());
  FControl->SetEnabled(!w->testAttribute(Qt::WA_ForceDisabled));
  FControl->SetVisible(!w->isHidden());
  if (w->testAttribute(Qt::WA_SetFont)) {
    AssignQFont(FControl->Font(), w->font());
  } else if (!FControl->Parent() && FControl->ParentFont()) {
    TFont f;
    AssignQFont(&f, w->font());
    FControl->Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&f));
  }
  TColor color = FromQColor(w->palette().color(QPalette::Window));
  if (w->testAttribute(Qt::WA_SetPalette))
    FControl->SetColor(color);
  else if (!FControl->Parent() && FControl->ParentColor())
    FControl->Perform(CM_PARENTCOLORCHANGED, 1, static_cast<LPARAM>(color));
  QString text = w->windowTitle();
  if (auto* box = qobject_cast<QGroupBox*>(w)) text = box->title();
  if (!text.isEmpty()) FControl->SetText(text.toStdString());
}

void TWinControlBinding::PushToWidget() {
  SyncGuard guard(FSyncing);
  QWidget* w = FWidget;
  w->setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
  w->setEnabled(FControl->Enabled());
  if (!FControl->ParentFont()) w->setFont(ToQFont(FControl->Font()));
  if (!FControl->ParentColor()) {
    QColor c = ToQColor(FControl->Color());
    if (c.isValid()) {
      QPalette p = w->palette();
      p.setColor(QPalette::Window, c);
      w->setPalette(p);
    }
  }
  w->setVisible(FControl->Visible());
}

void TWinControlBinding::ControlChanged(TControlChange Change) {
  QWidget* w = FWidget;
  if (Change == ccDestroying) {
    FControl = nullptr;
    if (w) {
      w->removeEventFilter(this);
      if (FOwned) {
        w->hide();
        w->deleteLater();  // takes this binding with it
        return;
      }
    }
    deleteLater();
    return;
  }
  if (!w || !FControl) return;
  if (Change == ccInvalidate) {
    w->update();
    return;
  }
  if (FSyncing > 0) return;
  SyncGuard guard(FSyncing);
  switch (Change) {
    case ccBounds:
      w->setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
      break;
    case ccVisible:
      w->setVisible(FControl->Visible());
      break;
    case ccEnabled:
      w->setEnabled(FControl->Enabled());
      break;
    case ccFont:
      w->setFont(ToQFont(FControl->Font()));
      break;
    case ccColor: {
      QColor c = ToQColor(FControl->Color());
      if (c.isValid()) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, c);
        w->setPalette(p);
      }
      break;
    }
    case ccText:
      if (auto* box = qobject_cast<QGroupBox*>(w))
        box->setTitle(QString::fromStdString(FControl->Text()));
      else
        w->setWindowTitle(QString::fromStdString(FControl->Text()));
      break;
    case ccParent:
      if (FOwned) {
        QWidget* parentWidget = FControl->Parent() ? FControl->Parent()->Widget() : nullptr;
        w->setParent(parentWidget);
        w->setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
        w->setVisible(FControl->Visible());
      }
      break;
    case ccInvalidate:
    case ccDestroying:
      break;
  }
}

TRect TWinControlBinding::HostClientRect(const TRect& Default) {
  if (!FWidget) return Default;
  // A group box keeps its frame and title out of its contents rectangle.
  QRect r = FWidget->contentsRect();
  return TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
}

bool TWinControlBinding::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched != FWidget || !FControl || FSyncing > 0) return false;
  QWidget* w = FWidget;
  try {
    switch (Event->type()) {
      case QEvent::Move:
      case QEvent::Resize: {
        SyncGuard guard(FSyncing);
        QRect g = w->geometry();
        FControl->SetBounds(g.x(), g.y(), g.width(), g.height());
        break;
      }
      case QEvent::ContentsRectChange:
        FControl->Realign();
        break;
      case QEvent::EnabledChange: {
        bool own = !w->testAttribute(Qt::WA_ForceDisabled);
        if (own != FControl->Enabled()) {
          SyncGuard guard(FSyncing);
          FControl->SetEnabled(own);
        }
        break;
      }
      case QEvent::ShowToParent:
      case QEvent::HideToParent: {
        bool shown = Event->type() == QEvent::ShowToParent;
        if (shown != FControl->Visible()) {
          SyncGuard guard(FSyncing);
          FControl->SetVisible(shown);
        }
        break;
      }
      case QEvent::FontChange: {
        SyncGuard guard(FSyncing);
        if (w->testAttribute(Qt::WA_SetFont)) {
          AssignQFont(FControl->Font(), w->font());
        } else if (!FControl->Parent()) {
          TFont f;
          AssignQFont(&f, w->font());
          FControl->Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&f));
        }
        break;
      }
      case QEvent::PaletteChange: {
        SyncGuard guard(FSyncing);
        TColor color = FromQColor(w->palette().color(QPalette::Window));
        if (w->testAttribute(Qt::WA_SetPalette))
          FControl->SetColor(color);
        else if (!FControl->Parent())
          FControl->Perform(CM_PARENTCOLORCHANGED, 1, static_cast<LPARAM>(color));
        break;
      }
      case QEvent::WindowTitleChange:
        if (!qobject_cast<QGroupBox*>(w)) {
          SyncGuard guard(FSyncing);
          FControl->SetText(w->windowTitle().toStdString());
        }
        break;
      default:
        break;
    }
  } catch (const std::exception& E) {
    ShowException(E);
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// TControlWidget

TControlWidget::TControlWidget(TControl* Control, QWidget* Parent) : QWidget(Parent), FControl(Control) {
  TQtDispatcher::Ensure();
  setMouseTracking(true);
  Control->SetHost(this);
  SyncFromControl();
}

TControlWidget::~TControlWidget() {
  if (FControl) {
    FControl->SetHost(nullptr);
    FControl = nullptr;
  }
}

void TControlWidget::SyncFromControl() {
  SyncGuard guard(FSyncing);
  TControl* c = FControl;
  setGeometry(c->Left(), c->Top(), c->Width(), c->Height());
  setEnabled(c->Enabled());
  if (!c->ParentFont()) {
    setFont(ToQFont(c->Font()));
  } else if (!c->Parent()) {
    TFont f;
    AssignQFont(&f, font());
    c->Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&f));
  }
  if (!c->ParentColor()) {
    QColor q = ToQColor(c->Color());
    if (q.isValid()) {
      QPalette p = palette();
      p.setColor(QPalette::Window, q);
      setPalette(p);
    }
  } else if (!c->Parent()) {
    c->Perform(CM_PARENTCOLORCHANGED, 1, static_cast<LPARAM>(FromQColor(palette().color(QPalette::Window))));
  }
  if (!c->Text().empty()) setWindowTitle(QString::fromStdString(c->Text()));
  setVisible(c->Visible());
}

void TControlWidget::Detach() {
  if (FControl) {
    FControl->SetHost(nullptr);
    FControl = nullptr;
  }
  FForwardTarget = nullptr;
  hide();
  deleteLater();
}

void TControlWidget::ControlChanged(TControlChange Change) {
  if (Change == ccDestroying) {
    FControl = nullptr;
    Detach();
    return;
  }
  if (Change == ccParent) {
    Detach();
    return;
  }
  if (!FControl) return;
  if (Change == ccInvalidate) {
    update();
    return;
  }
  if (FSyncing > 0) return;
  SyncGuard guard(FSyncing);
  switch (Change) {
    case ccBounds:
      if (LaidOut()) {
        // The layout has the say: the model goes back to where the layout put the widget.
        QRect g = geometry();
        FControl->SetBounds(g.x(), g.y(), g.width(), g.height());
      } else {
        setGeometry(FControl->Left(), FControl->Top(), FControl->Width(), FControl->Height());
      }
      update();
      break;
    case ccVisible:
      setVisible(FControl->Visible());
      break;
    case ccEnabled:
      setEnabled(FControl->Enabled());
      break;
    case ccFont:
      setFont(ToQFont(FControl->Font()));
      break;
    case ccColor: {
      QColor q = ToQColor(FControl->Color());
      if (q.isValid()) {
        QPalette p = palette();
        p.setColor(QPalette::Window, q);
        setPalette(p);
      }
      break;
    }
    case ccText:
      setWindowTitle(QString::fromStdString(FControl->Text()));
      break;
    default:
      break;
  }
}

bool TControlWidget::Hits(const QPoint& Pos, bool AllowDisabled) {
  if (!FControl || !FControl->Visible()) return false;
  if (!AllowDisabled && !FControl->Enabled()) return false;
  if (!rect().contains(Pos)) return false;
  return FControl->Perform(CM_HITTEST, 0, MAKELPARAM(Pos.x(), Pos.y())) != 0;
}

bool TControlWidget::LaidOut() const {
  QWidget* parent = parentWidget();
  QLayout* top = parent ? parent->layout() : nullptr;
  if (!top) return false;
  auto* self = const_cast<TControlWidget*>(this);
  if (top->indexOf(self) >= 0) return true;
  for (QLayout* inner : top->findChildren<QLayout*>())
    if (inner->indexOf(self) >= 0) return true;
  return false;
}

QWidget* TControlWidget::WidgetBeneath(const QPoint& Pos) {
  QWidget* parent = parentWidget();
  if (!parent) return nullptr;
  QPoint inParent = mapToParent(Pos);
  const QObjectList& siblings = parent->children();
  qsizetype index = siblings.indexOf(this);
  for (qsizetype i = index - 1; i >= 0; --i) {
    auto* w = qobject_cast<QWidget*>(siblings.at(i));
    if (!w || w->isWindow() || !w->isVisible() || w->testAttribute(Qt::WA_TransparentForMouseEvents)) continue;
    if (!w->geometry().contains(inParent)) continue;
    QWidget* deepest = w->childAt(w->mapFromParent(inParent));
    return deepest ? deepest : w;
  }
  return parent;
}

void TControlWidget::ForwardMouse(QEvent* Event, QWidget* Target) {
  if (!Target) return;
  switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
      auto* me = static_cast<QMouseEvent*>(Event);
      QPointF global = me->globalPosition();
      QMouseEvent copy(me->type(), Target->mapFromGlobal(global), me->scenePosition(), global, me->button(),
                       me->buttons(), me->modifiers(), me->pointingDevice());
      QApplication::sendEvent(Target, &copy);
      break;
    }
    case QEvent::Wheel: {
      auto* we = static_cast<QWheelEvent*>(Event);
      QPointF global = we->globalPosition();
      QWheelEvent copy(Target->mapFromGlobal(global), global, we->pixelDelta(), we->angleDelta(), we->buttons(),
                       we->modifiers(), we->phase(), we->inverted(), we->source(), we->pointingDevice());
      QApplication::sendEvent(Target, &copy);
      break;
    }
    case QEvent::ToolTip: {
      auto* he = static_cast<QHelpEvent*>(Event);
      QHelpEvent copy(QEvent::ToolTip, Target->mapFromGlobal(he->globalPos()), he->globalPos());
      QApplication::sendEvent(Target, &copy);
      break;
    }
    default:
      break;
  }
}

void TControlWidget::UpdateMouseOver(const QPoint& Pos, bool Present) {
  bool over = Present && Hits(Pos, true);
  if (over == FMouseOver) return;
  FMouseOver = over;
  if (FControl) FControl->Perform(over ? CM_MOUSEENTER : CM_MOUSELEAVE, 0, 0);
}

bool TControlWidget::MouseEvent(QEvent* Event) {
  auto* me = static_cast<QMouseEvent*>(Event);
  QPoint pos = me->position().toPoint();
  auto send = [&](UINT Msg) {
    if (FControl) FControl->Perform(Msg, MouseKeys(me->buttons(), me->modifiers()), MAKELPARAM(pos.x(), pos.y()));
  };
  auto buttonMessage = [&](UINT Left, UINT Right, UINT Middle) -> UINT {
    switch (me->button()) {
      case Qt::LeftButton:
        return Left;
      case Qt::RightButton:
        return Right;
      case Qt::MiddleButton:
        return Middle;
      default:
        return WM_NULL;
    }
  };
  switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      if (FForwardTarget) {
        ForwardMouse(Event, FForwardTarget);
        return true;
      }
      if (FCaptured || Hits(pos, false)) {
        FCaptured = true;
        bool dbl = Event->type() == QEvent::MouseButtonDblClick && FControl &&
                   (FControl->ControlStyle() & csDoubleClicks);
        UINT msg = dbl ? buttonMessage(WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK, WM_MBUTTONDBLCLK)
                       : buttonMessage(WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN);
        if (msg != WM_NULL) send(msg);
        return true;
      }
      FForwardTarget = WidgetBeneath(pos);
      ForwardMouse(Event, FForwardTarget);
      return true;
    }
    case QEvent::MouseButtonRelease: {
      bool last = me->buttons() == Qt::NoButton;
      if (FForwardTarget) {
        QPointer<QWidget> target = FForwardTarget;
        if (last) FForwardTarget = nullptr;
        ForwardMouse(Event, target);
        return true;
      }
      if (FCaptured || Hits(pos, false)) {
        if (last) FCaptured = false;
        UINT msg = buttonMessage(WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP);
        if (msg != WM_NULL) send(msg);
        return true;
      }
      ForwardMouse(Event, WidgetBeneath(pos));
      return true;
    }
    case QEvent::MouseMove: {
      UpdateMouseOver(pos, true);
      if (FForwardTarget) {
        ForwardMouse(Event, FForwardTarget);
        return true;
      }
      if (FCaptured || Hits(pos, false)) {
        send(WM_MOUSEMOVE);
        return true;
      }
      QWidget* target = WidgetBeneath(pos);
      if (target && (target->hasMouseTracking() || me->buttons() != Qt::NoButton)) ForwardMouse(Event, target);
      return true;
    }
    default:
      return false;
  }
}

void TControlWidget::ToolTip(QEvent* Event) {
  auto* he = static_cast<QHelpEvent*>(Event);
  if (!Hits(he->pos(), true)) {
    ForwardMouse(Event, WidgetBeneath(he->pos()));
    return;
  }
  THintInfo info;
  info.HintControl = FControl;
  info.HintPos = TPoint{he->globalPos().x(), he->globalPos().y() + 16};
  info.HintMaxWidth = 300;
  info.HintColor = Application->HintColor();
  info.CursorRect = FControl->ClientRect();
  info.CursorPos = TPoint{he->pos().x(), he->pos().y()};
  info.HintStr = FControl->Hint();
  LRESULT cancel = FControl->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  if (cancel != 0 || info.HintStr.empty() || !FControl || !FControl->ShowHint() || !Application->ShowHint()) {
    QToolTip::hideText();
    return;
  }
  QPalette p = QToolTip::palette();
  QColor background = ToQColor(info.HintColor);
  if (background.isValid()) p.setColor(QPalette::ToolTipBase, background);
  QToolTip::setPalette(p);
  QToolTip::showText(QPoint(info.HintPos.x, info.HintPos.y), QString::fromStdString(info.HintStr), this);
}

bool TControlWidget::event(QEvent* Event) {
  try {
    switch (Event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
        if (MouseEvent(Event)) {
          Event->accept();
          return true;
        }
        break;
      case QEvent::Wheel: {
        auto* we = static_cast<QWheelEvent*>(Event);
        if (Hits(we->position().toPoint(), false)) break;  // Qt passes it to the parent
        ForwardMouse(Event, WidgetBeneath(we->position().toPoint()));
        Event->accept();
        return true;
      }
      case QEvent::Enter:
        UpdateMouseOver(static_cast<QEnterEvent*>(Event)->position().toPoint(), true);
        break;
      case QEvent::Leave:
        UpdateMouseOver(QPoint(), false);
        break;
      case QEvent::ToolTip:
        ToolTip(Event);
        return true;
      case QEvent::EnabledChange:
        if (FControl && FSyncing == 0) {
          bool own = !testAttribute(Qt::WA_ForceDisabled);
          if (own != FControl->Enabled()) {
            SyncGuard guard(FSyncing);
            FControl->SetEnabled(own);
          }
        }
        break;
      case QEvent::ShowToParent:
      case QEvent::HideToParent:
        if (FControl && FSyncing == 0) {
          bool shown = Event->type() == QEvent::ShowToParent;
          if (shown != FControl->Visible()) {
            SyncGuard guard(FSyncing);
            FControl->SetVisible(shown);
          }
        }
        break;
      case QEvent::FontChange:
        if (FControl && FSyncing == 0) {
          SyncGuard guard(FSyncing);
          if (testAttribute(Qt::WA_SetFont)) {
            AssignQFont(FControl->Font(), font());
          } else if (!FControl->Parent()) {
            TFont f;
            AssignQFont(&f, font());
            FControl->Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&f));
          }
        }
        break;
      case QEvent::PaletteChange:
        if (FControl && FSyncing == 0) {
          SyncGuard guard(FSyncing);
          TColor color = FromQColor(palette().color(QPalette::Window));
          if (testAttribute(Qt::WA_SetPalette))
            FControl->SetColor(color);
          else if (!FControl->Parent())
            FControl->Perform(CM_PARENTCOLORCHANGED, 1, static_cast<LPARAM>(color));
        }
        break;
      case QEvent::WindowTitleChange:
        if (FControl && FSyncing == 0) {
          SyncGuard guard(FSyncing);
          FControl->SetText(windowTitle().toStdString());
        }
        break;
      case QEvent::Move:
      case QEvent::Resize:
        if (FControl && FSyncing == 0) {
          SyncGuard guard(FSyncing);
          QRect g = geometry();
          FControl->SetBounds(g.x(), g.y(), g.width(), g.height());
        }
        break;
      default:
        break;
    }
  } catch (const std::exception& E) {
    ShowException(E);
    return true;
  }
  return QWidget::event(Event);
}

void TControlWidget::paintEvent(QPaintEvent*) {
  if (!FControl || width() <= 0 || height() <= 0) return;
  try {
    QImage image = RenderControl(FControl, width(), height());
    if (image.isNull()) return;
    QPainter painter(this);
    painter.drawImage(0, 0, image);
  } catch (const std::exception& E) {
    ShowException(E);
  }
}
