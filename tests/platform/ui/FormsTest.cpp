// The application level of platform/ui: forms read from layout properties, closing and the end
// of the run, the application's forms, the screen cursor, message boxes, the animation control
// and the tree view.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Animate.h"
#include "platform/ui/ComCtrls.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Mask.h"
#include "support/QtTestSupport.h"

namespace {

using qttest::MessageBoxes;
using Props = std::vector<std::pair<const char*, QVariant>>;

// A form whose layout is a list of dynamic properties and one child label.
class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* AOwner, const Props& Layout = {}, std::function<void(TTestForm*)> Create = {})
      : TForm(AOwner) {
    resize(300, 200);
    Label = new QLabel(QStringLiteral("x"), this);
    Label->setObjectName(QStringLiteral("Label"));
    for (const auto& [name, value] : Layout) {
      if (std::string(name).rfind("Label.", 0) == 0)
        Label->setProperty(name + 6, value);
      else
        setProperty(name, value);
    }
    if (Create) OnCreate = [this, Create](TObject*) { Create(this); };
    FormLoaded();
  }
  QLabel* Label;
};

// A form whose children carry event properties (Props: "Child.Event" or "Event" for the form)
// naming the handlers it publishes; each handler notes its name and sender in Calls.
class TEventForm : public TForm {
 public:
  explicit TEventForm(const Props& Layout, bool WrongType = false) : TForm(nullptr) {
    Button = new QPushButton(QStringLiteral("b"), this);
    Combo = new QComboBox(this);
    Combo->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    Tree = new TTreeView(this);
    Edit = new TMaskEdit(this);
    auto* column = new QVBoxLayout(this);
    const std::pair<QWidget*, const char*> named[] = {{Button, "Button"}, {Combo, "Combo"}, {Tree, "Tree"}, {Edit, "Edit"}};
    for (const auto& [w, name] : named) {
      w->setObjectName(QString::fromLatin1(name));
      column->addWidget(w);
    }
    resize(300, 300);
    for (const auto& [name, value] : Layout) {
      const std::string n = name;
      const auto dot = n.find('.');
      QObject* target = dot == std::string::npos ? static_cast<QObject*>(this)
                                                 : findChild<QWidget*>(QString::fromStdString(n.substr(0, dot)));
      target->setProperty(dot == std::string::npos ? name : name + dot + 1, value);
    }
    auto note = [this](const char* What) { return TNotifyEvent([this, What](TObject* Sender) { Calls.push_back({What, Sender}); }); };
    PublishMethod("FormCreate", note("FormCreate"));
    PublishMethod("FormShow", note("FormShow"));
    PublishMethod("FormClose", TCloseEvent([this](TObject* Sender, TCloseAction&) { Calls.push_back({"FormClose", Sender}); }));
    PublishMethod("ButtonClick", note("ButtonClick"));
    PublishMethod("ComboChange", note("ComboChange"));
    PublishMethod("ComboCloseUp", note("ComboCloseUp"));
    PublishMethod("TreeChange", TTVChangedEvent([this](TObject* Sender, TTreeNode*) { Calls.push_back({"TreeChange", Sender}); }));
    PublishMethod("EditKeyPress", TKeyPressEvent([this](TObject* Sender, char16_t& Key) {
      Calls.push_back({"EditKeyPress", Sender});
      if (Key == u'x') Key = 0;
    }));
    if (WrongType) PublishMethod("ButtonClick", TCloseEvent([](TObject*, TCloseAction&) {}));
    FormLoaded();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& c : Calls) out.push_back(c.first);
    return out;
  }
  QPushButton* Button;
  QComboBox* Combo;
  TTreeView* Tree;
  TMaskEdit* Edit;
  std::vector<std::pair<std::string, TObject*>> Calls;
};

// Notes its destruction in a shared log.
class TLogged : public TComponent {
 public:
  TLogged(TComponent* AOwner) : TComponent(AOwner) {}
  ~TLogged() override { Log.push_back(Name()); }
  static inline std::vector<std::string> Log;
};

class TFailing : public TForm {
 public:
  explicit TFailing(TComponent* AOwner) : TForm(AOwner) { throw Exception("no"); }
};

}  // namespace

class FormsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { Application->Initialize(); }
  void cleanup() {
    Application->Done();
    Application->SetTitle("");
  }

  void borderAndStyleFromLayout() {
    TTestForm plain(nullptr, {});
    Qt::WindowFlags f = plain.windowFlags();
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(f & Qt::WindowMinimizeButtonHint);
    QVERIFY(f & Qt::WindowMaximizeButtonHint);
    QVERIFY(!(f & Qt::WindowStaysOnTopHint));
    QCOMPARE(plain.BorderStyle(), bsSizeable);

    // No border icons: a caption bar without buttons, and none at all without a caption.
    TTestForm bare(nullptr, {{"BorderIcons", "[]"}, {"BorderStyle", "bsSingle"}, {"windowTitle", "Заглавие"}});
    f = bare.windowFlags();
    QVERIFY(f & Qt::WindowTitleHint);
    for (Qt::WindowType b : {Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint,
                             Qt::WindowMaximizeButtonHint})
      QVERIFY(!(f & b));
    QCOMPARE(bare.BorderIcons(), TBorderIcons{0});
    QCOMPARE(bare.minimumSize(), QSize(300, 200));
    QCOMPARE(bare.maximumSize(), QSize(300, 200));
    bare.SetCaption("");
    f = bare.windowFlags();
    QVERIFY(f & Qt::CustomizeWindowHint);
    QVERIFY(!(f & (Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::FramelessWindowHint)));
    QCOMPARE(bare.minimumSize(), QSize(300, 200));
    bare.SetCaption("Отново");
    QVERIFY(bare.windowFlags() & Qt::WindowTitleHint);
    TTestForm untitled(nullptr, {{"BorderIcons", "[]"}});
    QVERIFY(!(untitled.windowFlags() & Qt::WindowTitleHint));

    TTestForm some(nullptr, {{"BorderIcons", "[biSystemMenu, biMinimize]"}, {"FormStyle", "fsStayOnTop"}});
    f = some.windowFlags();
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(f & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(f & Qt::WindowStaysOnTopHint);

    TTestForm dialog(nullptr, {{"BorderStyle", "bsDialog"}});
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));

    TTestForm none(nullptr, {{"BorderStyle", "bsNone"}});
    QVERIFY(none.windowFlags() & Qt::FramelessWindowHint);

    // Unknown names leave the defaults.
    TTestForm odd(nullptr, {{"Position", "poNowhere"}, {"WindowState", "wsHuge"}});
    QCOMPARE(odd.Position(), poDesigned);
    QCOMPARE(odd.WindowState(), wsNormal);
  }

  void coloursAndFontsFromLayout() {
    TTestForm form(nullptr, {{"Color", "clWhite"},
                             {"Label.Color", "clNavy"},
                             {"Label.FontColor", "clActiveCaption"},
                             {"Label.FontHeight", -16}});
    QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
    QCOMPARE(form.Label->palette().color(QPalette::Window), QColor(0, 0, 0x80));
    QVERIFY(form.Label->autoFillBackground());
    QCOMPARE(form.Label->palette().color(QPalette::WindowText), TColorToQColor(clActiveCaption));
    QCOMPARE(form.Label->font().pixelSize(), 16);

    TColor c = 0;
    QVERIFY(IdentToColor("clnavy", c));
    QCOMPARE(c, clNavy);
    QVERIFY(IdentToColor("0x00FF00", c));
    QCOMPARE(c, TColor{0x00FF00});
    QVERIFY(!IdentToColor("clNoSuch", c));
    QVERIFY(!IdentToColor("", c));
    QVERIFY(!IdentToColor("12abc", c));
  }

  void createThenShowWhenMarkedVisible() {
    std::vector<std::string> order;
    TTestForm shown(nullptr, {{"Visible", true}}, [&](TTestForm* F) {
      order.push_back(F->isVisible() ? "visible" : "hidden");
    });
    QCOMPARE(order, std::vector<std::string>{"hidden"});
    QVERIFY(shown.isVisible());
    QVERIFY(shown.Visible());

    // OnCreate may take the mark back before anything shows.
    TTestForm kept(nullptr, {{"Visible", true}}, [](TTestForm* F) { F->SetVisible(false); });
    QVERIFY(!kept.isVisible());
    TTestForm hidden(nullptr, {});
    QVERIFY(!hidden.isVisible());
    hidden.Show();
    QVERIFY(hidden.isVisible());
    hidden.Hide();
    QVERIFY(!hidden.isVisible());
    hidden.show();  // Qt's own calls keep the property in step
    QVERIFY(hidden.Visible());
    hidden.hide();
    QVERIFY(!hidden.Visible());
  }

  void placesOnFirstShow() {
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    TTestForm* main = nullptr;
    Application->CreateForm(main);
    main->resize(400, 300);
    main->SetPosition(poDesktopCenter);
    main->Show();
    QVERIFY((main->geometry().center() - desktop.center()).manhattanLength() <= 1);

    TTestForm splash(nullptr, {{"Position", "poMainFormCenter"}});
    splash.resize(100, 60);
    splash.Show();
    QVERIFY((splash.geometry().center() - main->geometry().center()).manhattanLength() <= 1);
    // Only the first showing places the form.
    splash.Hide();
    splash.move(5, 5);
    splash.Show();
    QCOMPARE(splash.pos(), QPoint(5, 5));

    // A maximised form is restored to its own size, placed by Position.
    TTestForm big(nullptr, {{"WindowState", "wsMaximized"}, {"Position", "poDesktopCenter"}});
    big.Show();
    QVERIFY(big.isMaximized());
    QTRY_COMPARE_WITH_TIMEOUT(big.frameGeometry().size(), desktop.size(), testsupport::kHangGuardMs);
    const QRect restored(desktop.x() + (desktop.width() - 300) / 2, desktop.y() + (desktop.height() - 200) / 2, 300,
                         200);
    QCOMPARE(big.normalGeometry(), restored);
    big.showNormal();
    QTRY_COMPARE_WITH_TIMEOUT(big.geometry(), restored, testsupport::kHangGuardMs);
  }

  void closing() {
    TTestForm* main = nullptr;
    Application->CreateForm(main);
    TTestForm* other = nullptr;
    Application->CreateForm(other);
    QCOMPARE(Application->MainForm(), static_cast<TForm*>(main));
    main->Show();
    other->Show();

    // caNone keeps the form; the default hides it; neither ends the run unless it is the main form.
    other->OnClose = [](TObject*, TCloseAction& Action) { Action = caNone; };
    other->Close();
    QVERIFY(other->isVisible());
    other->OnClose = nullptr;
    other->Close();
    QVERIFY(!other->isVisible());
    QVERIFY(!other->Visible());
    QVERIFY(!Application->Terminated());

    // An exception leaving OnClose is reported and keeps the form open; EAbort silently.
    MessageBoxes boxes;
    Application->SetTitle("Заглавие");
    main->OnClose = [](TObject*, TCloseAction&) { throw Exception("Грешка"); };
    main->Close();
    QVERIFY(main->isVisible());
    main->OnClose = [](TObject*, TCloseAction&) { throw EAbort(); };
    main->Close();
    QVERIFY(main->isVisible());
    QCOMPARE(boxes.Captions, QStringList{"Заглавие"});
    QCOMPARE(boxes.Texts, QStringList{"Грешка."});
    QVERIFY(!Application->Terminated());

    // The main form's closing ends the run; a run asked to end returns at once.
    bool closed = false;
    main->OnClose = [&](TObject*, TCloseAction&) { closed = true; };
    main->Close();
    QVERIFY(closed);
    QVERIFY(Application->Terminated());
    QCOMPARE(Application->Run(), 0);
  }

  void closingMainFormEndsRunningLoop() {
    TTestForm* main = nullptr;
    Application->CreateForm(main);
    main->Show();
    QTimer::singleShot(0, [main] { main->close(); });
    qttest::LoopSafetyNet net;
    QCOMPARE(Application->Run(), 0);
    QVERIFY(!net.TimedOut());
  }

  void applicationOwnsItsForms() {
    TLogged::Log.clear();
    TLogged* a = nullptr;
    TLogged* b = nullptr;
    Application->CreateForm(a);
    a->SetName("a");
    Application->CreateForm(b);
    b->SetName("b");
    QVERIFY(!Application->MainForm());  // not forms
    TFailing* failing = reinterpret_cast<TFailing*>(1);
    QVERIFY_THROWS_EXCEPTION(Exception, Application->CreateForm(failing));
    QVERIFY(!failing);
    QCOMPARE(Application->ComponentCount(), 2);
    Application->Done();
    QCOMPARE(TLogged::Log, (std::vector<std::string>{"b", "a"}));
    QCOMPARE(Application->ComponentCount(), 0);
  }

  void eventsFromLayout() {
    TEventForm form({{"OnCreate", "FormCreate"},
                     {"OnShow", "FormShow"},
                     {"OnClose", "FormClose"},
                     {"Button.OnClick", "ButtonClick"},
                     {"Combo.OnChange", "ComboChange"},
                     {"Combo.OnCloseUp", "ComboCloseUp"},
                     {"Tree.OnChange", "TreeChange"},
                     {"Edit.OnKeyPress", "EditKeyPress"}});
    QCOMPARE(form.Names(), std::vector<std::string>{"FormCreate"});
    form.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&form, testsupport::kHangGuardMs));
    QCOMPARE(form.Names().back(), std::string("FormShow"));
    form.Calls.clear();

    form.Button->click();
    QCOMPARE(form.Names(), std::vector<std::string>{"ButtonClick"});
    QCOMPARE(form.Calls[0].second, static_cast<TObject*>(&form));
    // Choosing from code raises no OnChange; the user's choice does, and closing the list
    // raises OnCloseUp afterwards.
    form.Calls.clear();
    form.Combo->setCurrentIndex(1);
    QVERIFY(form.Calls.empty());
    form.Combo->showPopup();
    QAbstractItemView* view = form.Combo->view();
    QTRY_VERIFY_WITH_TIMEOUT(view->isVisible(), testsupport::kHangGuardMs);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(view->model()->index(2, 0)).center());
    QTRY_COMPARE_WITH_TIMEOUT(form.Names(), (std::vector<std::string>{"ComboChange", "ComboCloseUp"}),
                              testsupport::kHangGuardMs);
    QCOMPARE(form.Combo->currentIndex(), 2);

    form.Calls.clear();
    form.Tree->Items()->Add(nullptr, "node");
    form.Tree->SetSelected(form.Tree->Items()->Item(0));
    QCOMPARE(form.Names(), std::vector<std::string>{"TreeChange"});
    form.Calls.clear();
    form.Edit->setFocus();
    QTest::keyClicks(form.Edit, "axb");
    QCOMPARE(form.Names(), (std::vector<std::string>{"EditKeyPress", "EditKeyPress", "EditKeyPress"}));
    QCOMPARE(form.Edit->Text(), std::string("ab"));
    form.Calls.clear();
    form.Close();
    QCOMPARE(form.Names(), std::vector<std::string>{"FormClose"});
  }

  void layoutEventErrors() {
    auto error = [](const Props& Layout, bool WrongType = false) {
      try {
        TEventForm form(Layout, WrongType);
      } catch (const EReadError& e) {
        return e.Message();
      }
      return std::string("no error");
    };
    QCOMPARE(error({{"Button.OnClick", "Missing"}}),
             std::string("Error reading Button.OnClick: method 'Missing' not found"));
    QCOMPARE(error({{"Button.OnClick", "ButtonClick"}}, true),
             std::string("Error reading Button.OnClick: method 'ButtonClick' does not fit the event"));
    QCOMPARE(error({{"Edit.OnClick", "ButtonClick"}}), std::string("Error reading Edit.OnClick: no such event"));
    QCOMPARE(error({{"OnClick", "ButtonClick"}}).rfind("Error reading", 0), std::size_t{0});
  }

  void screenCursor() {
    QVERIFY(!QGuiApplication::overrideCursor());
    Screen->SetCursor(crHourGlass);
    QCOMPARE(Screen->Cursor(), crHourGlass);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Screen->SetCursor(crIBeam);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    const TCursor saved = Screen->Cursor();
    Screen->SetCursor(crDefault);
    QVERIFY(!QGuiApplication::overrideCursor());
    Screen->SetCursor(saved);
    Screen->SetCursor(crDefault);
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void messageBox() {
    MessageBoxes boxes;
    Application->SetTitle("KELV каталог");
    ShowMessage("Под строеж!");
    QCOMPARE(boxes.Captions, QStringList{"KELV каталог"});
    QCOMPARE(boxes.Texts, QStringList{"Под строеж!"});

    // A short text under a long title: the box leaves the title room beside three caption
    // buttons in a bold caption font.
    Application->SetTitle("KELV електронен каталог на изпускателни системи");
    int width = 0;
    boxes.OnShown = [&](QMessageBox* Box) { width = Box->width(); };
    ShowMessage("Да");
    QFont caption = QApplication::font("QMdiSubWindowTitleBar");
    caption.setBold(true);
    const int bar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int title = QFontMetrics(caption).horizontalAdvance(QString::fromStdString(Application->Title()));
    QVERIFY2(width >= title + 3 * bar, qPrintable(QString("%1 < %2 + 3 * %3").arg(width).arg(title).arg(bar)));
  }

  // A long task on the user-interface thread that lets the windows paint as it goes: the
  // animation's timer runs and its new frames are painted before the task returns.
  void paintsDuringALongTask() {
    TAnimate a;
    a.setProperty("CommonAVI", "aviFindFile");
    a.SetActive(true);
    a.resize(16, 16);
    a.show();
    QVERIFY(QTest::qWaitForWindowExposed(&a, testsupport::kHangGuardMs));
    QCoreApplication::processEvents();
    int paints = 0;
    qttest::EventCounter counter(&a, QEvent::Paint, paints);
    const int first = a.Frame();
    QElapsedTimer hang;  // a guard against a hang only
    hang.start();
    while ((a.Frame() == first || paints == 0) && hang.elapsed() < testsupport::kHangGuardMs) {
      QThread::usleep(500);  // the task's work
      Application->ProcessPaintMessages();
    }
    QVERIFY(a.Frame() != first);
    QVERIFY(paints > 0);
  }

  void animation() {
    TAnimate a;
    QCOMPARE(a.FrameCount(), 0);
    a.setProperty("Active", true);  // before the clip: waits for one
    QVERIFY(a.Active());
    a.setProperty("CommonAVI", "aviFindFile");
    QCOMPARE(a.CommonAVI(), aviFindFile);
    QCOMPARE(a.FrameCount(), 8);
    QCOMPARE(a.StartFrame(), 1);
    QCOMPARE(a.StopFrame(), 8);
    a.SetStopFrame(20);
    QCOMPARE(a.StopFrame(), 8);
    a.SetStartFrame(0);
    QCOMPARE(a.StartFrame(), 1);

    // Playing loops between the start and the stop frame.
    a.SetStartFrame(6);
    a.SetStopFrame(7);
    a.SetActive(true);
    QCOMPARE(a.Frame(), 6);
    QTRY_COMPARE_WITH_TIMEOUT(a.Frame(), 7, testsupport::kHangGuardMs);
    QTRY_COMPARE_WITH_TIMEOUT(a.Frame(), 6, testsupport::kHangGuardMs);
    a.SetActive(false);
    const int stopped = a.Frame();
    QTest::qWait(300);
    QCOMPARE(a.Frame(), stopped);

    // Frames are drawn inside the 16 x 16 box.
    a.resize(16, 16);
    QImage img = a.grab().toImage();
    QVERIFY(!img.isNull());
  }

  void treeNodes() {
    TTreeView tree;
    TTreeNodes* items = tree.Items();
    int data = 0;
    TTreeNode* a = items->Add(nullptr, "A");
    TTreeNode* a1 = items->AddChild(a, "A1");
    TTreeNode* a1x = items->AddChildObject(a1, "A1x", &data);
    TTreeNode* b = items->Add(a, "B");  // on A's level
    TTreeNode* a2 = items->AddChild(a, "A2");
    TTreeNode* b1 = items->AddChildObject(b, "B1", &data);
    QCOMPARE(tree.topLevelItemCount(), 2);
    QCOMPARE(items->Count(), 6);
    // Over the whole tree, each parent before its children.
    std::vector<TTreeNode*> flat;
    for (int i = 0; i < items->Count(); ++i) flat.push_back(items->Item(i));
    QCOMPARE(flat, (std::vector<TTreeNode*>{a, a1, a1x, a2, b, b1}));
    QCOMPARE(a->Count(), 2);
    QCOMPARE(a->Item(1), a2);
    QCOMPARE(a1x->Parent(), a1);
    QVERIFY(!a->Parent());
    QCOMPARE(a1x->Data(), static_cast<void*>(&data));
    QVERIFY(!a->Data());
    QCOMPARE(QString::fromStdString(b1->Text()), QString("B1"));
    QVERIFY_THROWS_EXCEPTION(EListError, items->Item(6));
    QVERIFY_THROWS_EXCEPTION(EListError, items->Item(-1));
    QVERIFY_THROWS_EXCEPTION(EListError, a->Item(2));
    items->Clear();
    QCOMPARE(items->Count(), 0);
    QCOMPARE(tree.topLevelItemCount(), 0);
  }

  void treeSelection() {
    TTreeView tree;
    tree.setProperty("AutoExpand", true);
    QVERIFY(tree.AutoExpand());
    TTreeNodes* items = tree.Items();
    TTreeNode* a = items->Add(nullptr, "A");
    TTreeNode* a1 = items->AddChild(a, "A1");
    items->AddChild(a1, "A1x");
    TTreeNode* b = items->Add(nullptr, "B");
    items->AddChild(b, "B1");
    std::vector<TTreeNode*> changes;
    tree.OnChange = [&](TObject* Sender, TTreeNode* Node) {
      QCOMPARE(Sender, static_cast<TObject*>(&tree));
      changes.push_back(Node);
    };
    tree.show();

    // Taking the focus selects nothing.
    tree.setFocus();
    QApplication::setActiveWindow(&tree);
    QCoreApplication::processEvents();
    QVERIFY(!tree.Selected());
    QVERIFY(changes.empty());

    // Selecting expands the node; the node left folds unless the new one lies below it.
    tree.SetSelected(a);
    QVERIFY(a->Expanded());
    tree.SetSelected(a1);
    QVERIFY(a->Expanded());
    QVERIFY(a1->Expanded());
    tree.SetSelected(b);
    QVERIFY(b->Expanded());
    QVERIFY(!a1->Expanded());
    QCOMPARE(changes, (std::vector<TTreeNode*>{a, a1, b}));
    QCOMPARE(tree.Selected(), b);

    // A handler's exception is reported, not passed to the event loop.
    MessageBoxes boxes;
    tree.OnChange = [](TObject*, TTreeNode*) { throw Exception("Грешка в базата"); };
    tree.SetSelected(a);
    QCOMPARE(boxes.Captions, QStringList{""});
    QCOMPARE(boxes.Texts, QStringList{"Грешка в базата."});
    QCOMPARE(tree.Selected(), a);
  }

  // Clicks on nodes below the node that the selection folds up: the node under the mouse at the
  // press is selected; a drag or a double click over the rows that moved selects nothing else.
  void treeClickBelowAFoldingNode() {
    TTreeView tree;
    tree.SetAutoExpand(true);
    tree.resize(200, 400);
    TTreeNodes* items = tree.Items();
    TTreeNode* a = items->Add(nullptr, "A");
    for (const char* s : {"A1", "A2", "A3"}) items->AddChild(a, s);
    TTreeNode* b = items->Add(nullptr, "B");
    items->AddChild(b, "B1");
    TTreeNode* c = items->Add(nullptr, "C");
    TTreeNode* d = items->Add(nullptr, "D");
    items->Add(nullptr, "E");
    std::vector<TTreeNode*> changes;
    tree.OnChange = [&](TObject*, TTreeNode* Node) { changes.push_back(Node); };
    tree.show();
    QWidget* viewport = tree.viewport();
    auto at = [&](TTreeNode* Node) { return tree.visualItemRect(Node).center(); };
    auto send = [&](QEvent::Type Type, QPoint Pos, Qt::MouseButtons Buttons) {
      QMouseEvent e(Type, Pos, viewport->mapToGlobal(Pos), Type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                    Buttons, Qt::NoModifier);
      QApplication::sendEvent(viewport, &e);
    };
    auto onlySelected = [&](TTreeNode* Node) {
      return tree.Selected() == Node && tree.selectedItems() == QList<QTreeWidgetItem*>{Node};
    };

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at(a));
    QVERIFY(onlySelected(a));
    QVERIFY(a->Expanded());
    // B lies three rows lower than after A folds.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at(b));
    QVERIFY(onlySelected(b));
    QVERIFY(!a->Expanded());
    QVERIFY(b->Expanded());
    QCOMPARE(changes, (std::vector<TTreeNode*>{a, b}));

    // A press on C folds B and puts D under the mouse; dragging on and releasing keep C.
    const QPoint pc = at(c);
    send(QEvent::MouseButtonPress, pc, Qt::LeftButton);
    QCOMPARE(tree.itemAt(pc), d);
    send(QEvent::MouseMove, pc + QPoint(2, 1), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pc + QPoint(2, 1), Qt::NoButton);
    QVERIFY(onlySelected(c));
    QVERIFY(!b->Expanded());

    // A double click on B while A is unfolded: the first click selects B, the second is not
    // taken for the node that came under the mouse.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at(a));
    changes.clear();
    const QPoint pb = at(b);
    send(QEvent::MouseButtonPress, pb, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pb, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, pb, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, pb, Qt::NoButton);
    QVERIFY(onlySelected(b));
    QVERIFY(b->Expanded());
    QCOMPARE(changes, std::vector<TTreeNode*>{b});

    // Where nothing moves, a click after such a gesture works as before.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, at(a));
    QVERIFY(onlySelected(a));
    QVERIFY(a->Expanded());
  }
};

QTEST_MAIN(FormsTest)
#include "FormsTest.moc"
