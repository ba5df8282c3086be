#pragma once
// The application level of the class library: the application object (Application), the screen
// (Screen) and forms (top-level windows) shown as Qt widgets.
//
// A form is a QWidget and a TComponent at once. Its layout is a Qt Designer .ui file; the
// properties Qt has no name for travel in the .ui as dynamic properties and are read by
// FormLoaded():
//   on the form:   Position (poDesigned, poDefault, poScreenCenter, poDesktopCenter,
//                  poMainFormCenter), WindowState (wsNormal, wsMinimized, wsMaximized),
//                  FormStyle (fsNormal, fsStayOnTop), BorderStyle (bsNone, bsSingle, bsSizeable,
//                  bsDialog), BorderIcons ("[]", "[biSystemMenu,biMinimize,biMaximize]", ...),
//                  Visible (Boolean), Color (a colour name)
//   on any child:  Color (background colour name, e.g. "clNavy"), FontColor (text colour name),
//                  FontHeight (the font's character height in pixels, as a negative number),
//                  Glyph (a button's picture: "help" or "print")
// Colour names are those of platform/graphics ("clWhite", "clActiveCaption", ...).
//
// Event bindings travel the same way: a dynamic property named after the event holds the name
// of a handler the form publishes (PublishMethod). FormLoaded binds them:
//   on the form:        OnCreate, OnShow, OnActivate (TNotifyEvent), OnClose (TCloseEvent)
//   on a button:        OnClick (TNotifyEvent, raised by a click)
//   on a combo box:     OnChange (TNotifyEvent, raised by the user's choice), OnCloseUp
//                       (TNotifyEvent, raised each time the list closes, once the choice is in)
//   on a tree view:     OnChange (TTVChangedEvent)
//   on a masked edit:   OnKeyPress (TKeyPressEvent)
// A name the form does not publish, or one published with another event type, raises EReadError.
#include <QElapsedTimer>
#include <QWidget>
#include <any>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"

class QApplication;

enum TPosition : std::uint8_t {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter,
};
enum TWindowState : std::uint8_t { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle : std::uint8_t { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TFormBorderStyle : std::uint8_t { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : std::uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = std::uint8_t;
enum TCloseAction : std::uint8_t { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

// A colour by its name ("clNavy", "clWhite", "clActiveCaption", ...) or as a number; false when
// the text is neither.
bool IdentToColor(const std::string& Ident, TColor& Color);
// The Qt colour of a TColor (system colours through ColorToRGB).
QColor TColorToQColor(TColor Color);

class TForm : public QWidget, public TComponent {
 public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;

  // Caption (the window title).
  std::string Caption() const;
  void SetCaption(const std::string& Value);

  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState Value);
  TFormStyle FormStyle() const { return FFormStyle; }
  void SetFormStyle(TFormStyle Value);
  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  TBorderIcons BorderIcons() const { return FBorderIcons; }
  void SetBorderIcons(TBorderIcons Value);

  // Visible: true shows the form (placing it by Position the first time), false hides it.
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Paints the form and its children now (not at the next turn of the event loop); a form just
  // shown is first given a while (at most 2 s) to be mapped by the window system.
  void Update();
  void Repaint() { Update(); }
  // Asks the form to close: OnClose decides (caHide by default; caNone keeps it open). Closing
  // the application's main form terminates the application.
  void Close();

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnActivate;
  TCloseEvent OnClose;

 protected:
  // The layout is in (setupUi and the event bindings done): reads the form's dynamic
  // properties, raises OnCreate, then shows the form if it is still marked visible. Every
  // derived constructor calls it last.
  void FormLoaded();
  // Makes Handler (a std::function of the event's type) available to the layout's event
  // properties under Name.
  void PublishMethod(const std::string& Name, std::any Handler) { FMethods[Name] = std::move(Handler); }

  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void hideEvent(QHideEvent* Event) override;
  void changeEvent(QEvent* Event) override;

 private:
  bool HasCaptionBar() const;
  void ApplyWindowFlags();
  void PlaceOnFirstShow();
  void BindLayoutEvents();
  template <class Event>
  Event LayoutHandler(QWidget* Widget, const char* Property) const;

  std::map<std::string, std::any> FMethods;

  TPosition FPosition{poDesigned};
  TWindowState FWindowState{wsNormal};
  TFormStyle FFormStyle{fsNormal};
  TFormBorderStyle FBorderStyle{bsSizeable};
  TBorderIcons FBorderIcons{biSystemMenu | biMinimize | biMaximize};
  bool FVisible{false};
  bool FPlaced{false};
  bool FLoaded{false};
  bool FJustShown{false};  // shown, and not yet waited for by Update
};

// The application object. One exists before any code runs (Application) and lives until the
// process ends.
class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Colour of hint windows: clInfoBk until set.
  TColor HintColor() const { return FHintColor; }
  void SetHintColor(TColor Value) { FHintColor = Value; }
  // Hints are shown at all only while this is true (the default).
  bool ShowHint() const { return FShowHint; }
  void SetShowHint(bool Value) { FShowHint = Value; }

  // Makes the Qt application unless one exists already (a test's); the windows' closing is
  // left to the main form (closing the last window does not end the run).
  void Initialize();
  // The application's title (message boxes carry it).
  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }

  // Creates a form or data module owned by the application and fills Reference with it. The
  // first TForm created this way becomes the main form. Reference stays null when the
  // constructor raises.
  template <class T>
  void CreateForm(T*& Reference) {
    static_assert(std::is_base_of_v<TComponent, T>);
    Reference = nullptr;
    T* instance = new T(this);
    Reference = instance;
    if constexpr (std::is_base_of_v<TForm, T>) {
      if (!FMainForm) FMainForm = instance;
    }
  }
  TForm* MainForm() const { return FMainForm; }

  // Runs the event loop until Terminate (the main form's closing calls it); returns at once
  // when Terminate came first. Returns the loop's exit code.
  int Run();
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Handles the events waiting now.
  void ProcessMessages();
  // For a long task on the user-interface thread, called as it goes: at most every 40 ms,
  // handles the waiting events but user input (that waits for the message loop) and paints,
  // so that the windows show and their timers run.
  void ProcessPaintMessages();

  // The default handler of an exception that leaves an event handler: EAbort is silent, any
  // other shows its message in a message box.
  void HandleException(const std::exception& E);
  void ShowException(const std::exception& E);
  // Runs an event handler; an exception leaving it goes to HandleException (Qt's event loop
  // must not see it).
  template <class F>
  void Guard(F&& Handler) {
    try {
      Handler();
    } catch (const std::exception& e) {
      HandleException(e);
    }
  }

  // Frees everything created through CreateForm, newest first, then the Qt application when
  // Initialize made it; the application can then be initialised again.
  void Done();

 private:
  friend class TForm;
  TColor FHintColor{clInfoBk};
  bool FShowHint{true};
  std::string FTitle;
  TForm* FMainForm{nullptr};
  bool FTerminated{false};
  bool FRunning{false};
  QElapsedTimer FPaintClock;
  std::unique_ptr<QApplication> FQtApp;
};

// The one application object; it exists before any code runs and lives until the process ends.
extern TApplication* Application;

// Cursors: crDefault lets each widget show its own; any other is shown over the whole
// application.
using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crCross = -3;
inline constexpr TCursor crIBeam = -4;
inline constexpr TCursor crHourGlass = -11;
inline constexpr TCursor crDrag = -12;
inline constexpr TCursor crMultiDrag = -16;
inline constexpr TCursor crSizeAll = -22;  // the lowest stock cursor

class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* AOwner) : TComponent(AOwner) {}
  ~TScreen() override;

  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

  // The cursor handles by index. The stock cursors (crSizeAll .. crDefault) have fixed handles
  // of their own; an index that holds no handle gives crDefault's. Setting stores the handle
  // (the screen does not destroy it); a null handle frees the index again. Cursor shows
  // crHourGlass, crIBeam and crCross as such and any other index as the arrow.
  HCURSOR Cursors(int Index) const;
  void SetCursors(int Index, HCURSOR Value);

 private:
  TCursor FCursor{crDefault};
  bool FOverride{false};
  std::map<int, HCURSOR> FCursors;
};

extern TScreen* Screen;
