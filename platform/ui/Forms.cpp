#include "platform/ui/Forms.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOption>
#include <QPushButton>
#include <QStyle>
#include <QCloseEvent>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <QHideEvent>
#include <QShowEvent>
#include <QFont>
#include <QFontDatabase>
#include <QScreen>
#include <QVariant>
#include <cstdio>
#include <cstdlib>

#include "platform/rtl/SysUtils.h"
#include "platform/ui/Dialogs.h"

namespace {

// The screen outlives the application, whose end resets the cursor.
TScreen TheScreen(nullptr);
TApplication TheApplication(nullptr);

struct TColorName {
  const char* Name;
  TColor Color;
};

constexpr TColorName kColorNames[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption},
    {"clMenu", clMenu},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clMenuText", clMenuText},
    {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clInfoText", clInfoText},
    {"clInfoBk", clInfoBk},
};

std::string PropertyText(const QObject* Object, const char* Name) {
  const QVariant v = Object->property(Name);
  return v.isValid() ? v.toString().toStdString() : std::string();
}

template <class E, std::size_t N>
bool EnumByName(const std::string& Text, const char* const (&Names)[N], E& Value) {
  for (std::size_t i = 0; i < N; ++i) {
    if (Text == Names[i]) {
      Value = static_cast<E>(i);
      return true;
    }
  }
  return false;
}

constexpr const char* kPositionNames[] = {"poDesigned",       "poDefault",       "poDefaultPosOnly",
                                          "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter",
                                          "poMainFormCenter", "poOwnerFormCenter"};
constexpr const char* kWindowStateNames[] = {"wsNormal", "wsMinimized", "wsMaximized"};
constexpr const char* kFormStyleNames[] = {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"};
constexpr const char* kBorderStyleNames[] = {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow",
                                             "bsSizeToolWin"};

// "[biSystemMenu,biMinimize]" (brackets and blanks optional).
TBorderIcons ParseBorderIcons(const std::string& Text) {
  TBorderIcons icons = 0;
  std::string item;
  auto flush = [&] {
    if (item == "biSystemMenu") icons |= biSystemMenu;
    else if (item == "biMinimize") icons |= biMinimize;
    else if (item == "biMaximize") icons |= biMaximize;
    else if (item == "biHelp") icons |= biHelp;
    item.clear();
  };
  for (char c : Text) {
    if (c == '[' || c == ']' || c == ' ') continue;
    if (c == ',') flush();
    else item += c;
  }
  flush();
  return icons;
}

void SetBackground(QWidget* Widget, TColor Color) {
  QPalette p = Widget->palette();
  const QColor c = TColorToQColor(Color);
  p.setColor(QPalette::Window, c);
  p.setColor(QPalette::Base, c);
  Widget->setPalette(p);
  Widget->setAutoFillBackground(true);
}

void SetTextColor(QWidget* Widget, TColor Color) {
  QPalette p = Widget->palette();
  const QColor c = TColorToQColor(Color);
  p.setColor(QPalette::WindowText, c);
  p.setColor(QPalette::Text, c);
  p.setColor(QPalette::ButtonText, c);
  Widget->setPalette(p);
}

void ApplyLayoutProperties(QWidget* Widget) {
  TColor color = 0;
  if (IdentToColor(PropertyText(Widget, "Color"), color)) SetBackground(Widget, color);
  if (IdentToColor(PropertyText(Widget, "FontColor"), color)) SetTextColor(Widget, color);
  // A button's picture, by its icon name.
  if (auto* button = qobject_cast<QAbstractButton*>(Widget)) {
    const QString glyph = Widget->property("Glyph").toString();
    if (glyph == QLatin1String("help"))
      button->setIcon(QIcon::fromTheme(QStringLiteral("help-contents"),
                                        Widget->style()->standardIcon(QStyle::SP_DialogHelpButton)));
    else if (glyph == QLatin1String("print"))
      button->setIcon(QIcon::fromTheme(QStringLiteral("document-print"),
                                        Widget->style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
  }
  const QVariant height = Widget->property("FontHeight");
  if (height.isValid() && height.toInt() != 0) {
    QFont font = Widget->font();
    font.setPixelSize(std::abs(height.toInt()));
    Widget->setFont(font);
  }
}

// How long showing a form waits for the window system to map it, and how often a long task on
// the user-interface thread lets the windows paint.
constexpr int kExposeWaitMs = 2000;
constexpr int kPaintIntervalMs = 40;

// Handles every event but user input until Window is exposed or Ms milliseconds have passed.
void WaitExposed(QWindow* Window, int Ms) {
  if (!Window || Window->isExposed()) return;
  QEventLoop loop;
  QTimer poll;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (Window->isExposed() || clock.elapsed() >= Ms) loop.quit();
  });
  poll.start(5);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Push buttons show their focus as a dotted rectangle inside the face, whatever lies around
// them (the style's own focus mark is on the edge, where a dark panel hides it).
class TFocusRectStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  void drawControl(ControlElement Element, const QStyleOption* Option, QPainter* Painter,
                   const QWidget* Widget) const override {
    QProxyStyle::drawControl(Element, Option, Painter, Widget);
    if (Element != CE_PushButton || !(Option->state & State_HasFocus)) return;
    Painter->save();
    Painter->setPen(QPen(Option->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
    Painter->setBrush(Qt::NoBrush);
    Painter->drawRect(Option->rect.adjusted(4, 4, -5, -5));
    Painter->restore();
  }
};

}  // namespace

TApplication* Application = &TheApplication;
TScreen* Screen = &TheScreen;

bool IdentToColor(const std::string& Ident, TColor& Color) {
  if (Ident.empty()) return false;
  for (const TColorName& n : kColorNames) {
    if (AnsiSameText(Ident, n.Name)) {
      Color = n.Color;
      return true;
    }
  }
  char* end = nullptr;
  const long long v = std::strtoll(Ident.c_str(), &end, 0);
  if (end && *end == '\0' && v >= INT32_MIN && v <= static_cast<long long>(UINT32_MAX)) {
    Color = static_cast<TColor>(static_cast<std::uint32_t>(v));
    return true;
  }
  return false;
}

QColor TColorToQColor(TColor Color) {
  const TColor rgb = ColorToRGB(Color);
  return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------------------------
// TForm

TForm::TForm(TComponent* AOwner) : QWidget(nullptr), TComponent(AOwner) {}

TForm::~TForm() {
  if (Application->FMainForm == this) Application->FMainForm = nullptr;
}

std::string TForm::Caption() const { return windowTitle().toStdString(); }

void TForm::SetCaption(const std::string& Value) {
  const bool bar = HasCaptionBar();
  setWindowTitle(QString::fromStdString(Value));
  if (FLoaded && bar != HasCaptionBar()) ApplyWindowFlags();
}

void TForm::SetWindowState(TWindowState Value) {
  FWindowState = Value;
  if (!FLoaded || !isVisible()) return;
  switch (Value) {
    case wsMaximized: showMaximized(); break;
    case wsMinimized: showMinimized(); break;
    case wsNormal: showNormal(); break;
  }
}

void TForm::SetFormStyle(TFormStyle Value) {
  FFormStyle = Value;
  if (FLoaded) ApplyWindowFlags();
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
  FBorderStyle = Value;
  if (FLoaded) ApplyWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons Value) {
  FBorderIcons = Value;
  if (FLoaded) ApplyWindowFlags();
}

bool TForm::HasCaptionBar() const {
  // A framed form without border icons and without a caption shows no caption bar.
  return FBorderStyle != bsNone && (FBorderIcons != 0 || !windowTitle().isEmpty());
}

void TForm::ApplyWindowFlags() {
  Qt::WindowFlags flags = Qt::Window;
  if (FBorderStyle == bsNone) {
    flags |= Qt::FramelessWindowHint;
  } else if (!HasCaptionBar()) {
    // Without a title hint the window manager draws no caption bar and no buttons.
    flags |= Qt::CustomizeWindowHint;
  } else {
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (FBorderIcons & biSystemMenu) {
      flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
      const bool dialog = FBorderStyle == bsDialog || FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin;
      if ((FBorderIcons & biMinimize) && !dialog) flags |= Qt::WindowMinimizeButtonHint;
      if ((FBorderIcons & biMaximize) && !dialog) flags |= Qt::WindowMaximizeButtonHint;
      if ((FBorderIcons & biHelp) && (dialog || !(FBorderIcons & (biMinimize | biMaximize))))
        flags |= Qt::WindowContextHelpButtonHint;
    }
  }
  if (FFormStyle == fsStayOnTop) flags |= Qt::WindowStaysOnTopHint;
  const bool shown = isVisible();
  setWindowFlags(flags);
  if (FBorderStyle == bsSingle || FBorderStyle == bsDialog || FBorderStyle == bsToolWindow) {
    setFixedSize(size());
  } else {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  if (shown) show();
}

void TForm::FormLoaded() {
  TPosition position;
  if (EnumByName(PropertyText(this, "Position"), kPositionNames, position)) FPosition = position;
  TWindowState state;
  if (EnumByName(PropertyText(this, "WindowState"), kWindowStateNames, state)) FWindowState = state;
  TFormStyle style;
  if (EnumByName(PropertyText(this, "FormStyle"), kFormStyleNames, style)) FFormStyle = style;
  TFormBorderStyle border;
  if (EnumByName(PropertyText(this, "BorderStyle"), kBorderStyleNames, border)) FBorderStyle = border;
  if (property("BorderIcons").isValid()) FBorderIcons = ParseBorderIcons(PropertyText(this, "BorderIcons"));
  if (property("Visible").isValid()) FVisible = property("Visible").toBool();
  ApplyLayoutProperties(this);
  for (QWidget* child : findChildren<QWidget*>()) ApplyLayoutProperties(child);
  // Enter and the keypad's Enter click the focused push button, as Space does.
  for (QPushButton* button : findChildren<QPushButton*>()) button->setAutoDefault(true);
  ApplyWindowFlags();
  BindLayoutEvents();

  if (OnCreate) OnCreate(this);
  FLoaded = true;
  if (FVisible) {
    FVisible = false;
    SetVisible(true);
  }
}

void TForm::PlaceOnFirstShow() {
  if (FPlaced) return;
  FPlaced = true;
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect desktop = screen->availableGeometry();
  QRect around;
  switch (FPosition) {
    case poScreenCenter:
    case poDesktopCenter:
      around = desktop;
      break;
    case poMainFormCenter:
    case poOwnerFormCenter: {
      TForm* main = Application->MainForm();
      around = (main && main != this && main->isVisible()) ? main->geometry() : desktop;
      break;
    }
    default:
      break;
  }
  // The client areas share their centre (frames are the window system's and may come later).
  // A maximised form keeps this place and its layout's size as the ones it is restored to.
  if (around.isValid())
    setGeometry(around.x() + (around.width() - width()) / 2, around.y() + (around.height() - height()) / 2, width(),
                height());
}

void TForm::SetVisible(bool Value) {
  if (!FLoaded) {
    FVisible = Value;
    return;
  }
  FVisible = Value;
  if (Value) {
    PlaceOnFirstShow();
    switch (FWindowState) {
      case wsMaximized: showMaximized(); break;
      case wsMinimized: showMinimized(); break;
      case wsNormal: show(); break;
    }
    raise();
    activateWindow();
  } else {
    hide();
  }
}

void TForm::Update() {
  // A window system with a window manager maps the window some time after it was shown; what
  // is painted before that is lost. Wait for it (not for ever: later paints catch up).
  if (FJustShown && isVisible()) WaitExposed(windowHandle(), kExposeWaitMs);
  FJustShown = false;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  repaint();
}

void TForm::Close() { close(); }

void TForm::closeEvent(QCloseEvent* Event) {
  TCloseAction action = caHide;
  if (OnClose) {
    bool failed = true;
    Application->Guard([&] {
      OnClose(this, action);
      failed = false;
    });
    if (failed) action = caNone;
  }
  if (action == caNone) {
    Event->ignore();
    return;
  }
  if (action == caMinimize) {
    Event->ignore();
    showMinimized();
    return;
  }
  Event->accept();
  FVisible = false;
  if (Application->MainForm() == this) Application->Terminate();
}

void TForm::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  FVisible = true;
  if (!Event->spontaneous()) FJustShown = true;
  if (OnShow && !Event->spontaneous()) Application->Guard([&] { OnShow(this); });
}

void TForm::hideEvent(QHideEvent* Event) {
  QWidget::hideEvent(Event);
  // Minimising hides the window without making the form invisible.
  if (!Event->spontaneous()) FVisible = false;
}

void TForm::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() == QEvent::ActivationChange && isActiveWindow() && OnActivate)
    Application->Guard([&] { OnActivate(this); });
}

// ---------------------------------------------------------------------------------------------
// TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  // Forms need the Qt application; a program that did not call Done leaves them to the system.
  if (!QCoreApplication::instance()) {
    while (ComponentCount() > 0) RemoveComponent(Components(ComponentCount() - 1));
  }
  Done();
}

void TApplication::Initialize() {
  FTerminated = false;
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static std::string name = ExecutableName();
    static char* argv[] = {name.data(), nullptr};
    FQtApp = std::make_unique<QApplication>(argc, argv);
  }
  QGuiApplication::setQuitOnLastWindowClosed(false);
  if (!dynamic_cast<TFocusRectStyle*>(QApplication::style()))
    QApplication::setStyle(new TFocusRectStyle(QApplication::style()->name()));
  // The layouts name the system's fixed-pitch font, and a sans-serif font whose character
  // widths their pixel sizes were made for: Liberation Sans comes closest (at 8 points and 96
  // dots per inch a digit is 6 pixels wide, as there).
  QFont::insertSubstitution(QStringLiteral("Fixedsys"),
                            QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
  QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
}

int TApplication::Run() {
  if (FTerminated) return 0;
  FRunning = true;
  const int code = QCoreApplication::exec();
  FRunning = false;
  return code;
}

void TApplication::Terminate() {
  FTerminated = true;
  if (QCoreApplication::instance()) QCoreApplication::quit();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }

void TApplication::ProcessPaintMessages() {
  if (FPaintClock.isValid() && FPaintClock.elapsed() < kPaintIntervalMs) return;
  FPaintClock.start();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  // The repaints that the events just handled asked for (a timer's next frame).
  QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

void TApplication::HandleException(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E)) return;
  ShowException(E);
}

void TApplication::ShowException(const std::exception& E) {
  std::string msg = E.what();
  if (!msg.empty() && msg.back() != '.') msg += '.';
  if (QCoreApplication::instance())
    ShowMessage(msg);
  else
    std::fprintf(stderr, "%s\n", msg.c_str());
}

void TApplication::Done() {
  while (ComponentCount() > 0) delete Components(ComponentCount() - 1);
  FMainForm = nullptr;
  FTerminated = false;
  Screen->SetCursor(crDefault);
  FQtApp.reset();
}

// ---------------------------------------------------------------------------------------------
// TScreen

TScreen::~TScreen() = default;

namespace {
// The stock cursors' handles: one distinct address each, never a GDI object.
char StockCursors[1 - crSizeAll];
}  // namespace

HCURSOR TScreen::Cursors(int Index) const {
  if (auto it = FCursors.find(Index); it != FCursors.end()) return it->second;
  if (Index < crSizeAll || Index > crDefault) Index = crDefault;
  return reinterpret_cast<HCURSOR>(&StockCursors[-Index]);
}

void TScreen::SetCursors(int Index, HCURSOR Value) {
  if (Value)
    FCursors[Index] = Value;
  else
    FCursors.erase(Index);
}

void TScreen::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    FOverride = false;
    return;
  }
  Qt::CursorShape shape = Qt::ArrowCursor;
  switch (Value) {
    case crHourGlass: shape = Qt::WaitCursor; break;
    case crIBeam: shape = Qt::IBeamCursor; break;
    case crCross: shape = Qt::CrossCursor; break;
    default: shape = Qt::ArrowCursor; break;
  }
  if (Value == crDefault) {
    if (FOverride) QGuiApplication::restoreOverrideCursor();
    FOverride = false;
  } else if (FOverride) {
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  } else {
    QGuiApplication::setOverrideCursor(QCursor(shape));
    FOverride = true;
  }
}
