#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <memory>
#include <vector>

#include "platform/ui/ExtCtrls.h"
#include "platform/ui/Forms.h"
#include "platform/ui/QtHost.h"
#include "support/QtTestSupport.h"
#include "tests/platform/ui/UiTestSupport.h"

namespace {

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new qttest::QtEnvironment);

// A graphic control that records its messages and answers the hit test as told.
class Probe : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  void WndProc(TMessage& Message) override {
    Messages.push_back(Message);
    if (Message.Msg == CM_HITTEST && !Hit) {
      Message.Result = 0;
      return;
    }
    if (Message.Msg == CM_HINTSHOW && Message.LParam) Hint = *reinterpret_cast<THintInfo*>(Message.LParam);
    TGraphicControl::WndProc(Message);
  }
  int Count(UINT Msg) const {
    int n = 0;
    for (const TMessage& m : Messages) n += m.Msg == Msg ? 1 : 0;
    return n;
  }
  std::vector<UINT> Sequence(std::initializer_list<UINT> Of) const {
    std::vector<UINT> out;
    for (const TMessage& m : Messages)
      for (UINT w : Of)
        if (m.Msg == w) out.push_back(m.Msg);
    return out;
  }
  std::vector<TMessage> Messages;
  THintInfo Hint;
  bool Hit{true};
};

// Counts the mouse presses a widget receives.
class PressCounter : public QObject {
 public:
  int Presses = 0;
  bool eventFilter(QObject*, QEvent* E) override {
    if (E->type() == QEvent::MouseButtonPress) ++Presses;
    return false;
  }
};

// A window with a group box bound to a TWinControl; the probe fills the box.
struct Window {
  QWidget window;
  QGroupBox* box;
  QPushButton* beneath;
  TWinControl group{nullptr};
  Probe probe{nullptr};

  Window() {
    window.resize(300, 200);
    box = new QGroupBox("Picture", &window);
    box->setGeometry(10, 10, 280, 180);
    beneath = new QPushButton("beneath", box);  // below the probe's widget in the stacking order
    beneath->setGeometry(20, 40, 100, 40);
    group.AttachWidget(box);
    probe.SetParent(&group);
    probe.SetAlign(alClient);
    window.show();
  }
  QWidget* Host() { return dynamic_cast<QWidget*>(probe.Host()); }
};

}  // namespace

TEST(QtHost, ControlFillsTheGroupBoxContents) {
  Window w;
  QWidget* host = w.Host();
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->parentWidget(), w.box);
  EXPECT_EQ(host->geometry(), w.box->contentsRect());
  EXPECT_EQ(HostedControl(host), &w.probe);
  EXPECT_EQ(BoundWinControl(w.box), &w.group);
  EXPECT_EQ(w.group.Width(), 280);

  w.box->resize(200, 150);
  EXPECT_EQ(host->geometry(), w.box->contentsRect()) << "the model follows the widget's size";
  EXPECT_EQ(w.probe.Width(), w.box->contentsRect().width());
}

TEST(QtHost, ClicksOnAHitReachTheControl) {
  Window w;
  int clicks = 0, beneathClicks = 0;
  w.probe.OnClick = [&](TObject*) { ++clicks; };
  QObject::connect(w.beneath, &QPushButton::clicked, [&] { ++beneathClicks; });
  QPoint onButton = w.Host()->mapFrom(w.box, QPoint(50, 60));
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, onButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(beneathClicks, 0);
  EXPECT_EQ(w.probe.Sequence({WM_LBUTTONDOWN, WM_LBUTTONUP}), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
}

TEST(QtHost, ClicksThatMissGoToTheWidgetBeneath) {
  Window w;
  w.probe.Hit = false;
  int clicks = 0, beneathClicks = 0;
  w.probe.OnClick = [&](TObject*) { ++clicks; };
  QObject::connect(w.beneath, &QPushButton::clicked, [&] { ++beneathClicks; });
  QPoint onButton = w.Host()->mapFrom(w.box, QPoint(50, 60));
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, onButton);
  EXPECT_EQ(beneathClicks, 1) << "the button beneath the control was clicked";
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(w.probe.Count(WM_LBUTTONDOWN), 0);
  EXPECT_GE(w.probe.Count(CM_HITTEST), 1);

  PressCounter counter;
  w.box->installEventFilter(&counter);
  QPoint besideButton = w.Host()->mapFrom(w.box, QPoint(200, 120));
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, besideButton);
  EXPECT_EQ(counter.Presses, 1) << "with no sibling there the parent widget gets it";
}

TEST(QtHost, DisabledControlLetsClicksThrough) {
  Window w;
  int beneathClicks = 0;
  QObject::connect(w.beneath, &QPushButton::clicked, [&] { ++beneathClicks; });
  w.probe.SetEnabled(false);
  EXPECT_FALSE(w.Host()->isEnabled());
  QTest::mouseClick(w.Host(), Qt::LeftButton, Qt::NoModifier, w.Host()->mapFrom(w.box, QPoint(50, 60)));
  EXPECT_EQ(beneathClicks, 1);
  EXPECT_EQ(w.probe.Count(WM_LBUTTONDOWN), 0);
}

TEST(QtHost, EnterAndLeaveFollowTheHitTest) {
  Window w;
  QWidget* host = w.Host();
  QPointF inside(30, 30);
  QEnterEvent enter(inside, host->mapTo(&w.window, inside), host->mapToGlobal(inside));
  QApplication::sendEvent(host, &enter);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(host, &leave);
  EXPECT_EQ(w.probe.Sequence({CM_MOUSEENTER, CM_MOUSELEAVE}), (std::vector<UINT>{CM_MOUSEENTER, CM_MOUSELEAVE}));

  w.probe.Messages.clear();
  w.probe.Hit = false;
  QApplication::sendEvent(host, &enter);
  QTest::mouseMove(host, QPoint(40, 40));
  QApplication::sendEvent(host, &leave);
  EXPECT_EQ(w.probe.Count(CM_MOUSEENTER), 0) << "a control that answers 0 never has the mouse";
  EXPECT_EQ(w.probe.Count(CM_MOUSELEAVE), 0);
}

TEST(QtHost, ToolTipAsksForTheHintWithTheApplicationsColour) {
  Window w;
  w.probe.SetHint("Снимка");
  TColor saved = Application->HintColor();
  Application->SetHintColor(clAqua);
  QHelpEvent help(QEvent::ToolTip, QPoint(5, 6), w.Host()->mapToGlobal(QPoint(5, 6)));
  QApplication::sendEvent(w.Host(), &help);
  Application->SetHintColor(saved);
  ASSERT_EQ(w.probe.Count(CM_HINTSHOW), 1);
  EXPECT_EQ(w.probe.Hint.HintControl, &w.probe);
  EXPECT_EQ(w.probe.Hint.HintColor, clAqua);
  EXPECT_EQ(w.probe.Hint.HintStr, "Снимка");
  EXPECT_EQ(w.probe.Hint.CursorPos.x, 5);

  w.probe.Hit = false;
  QApplication::sendEvent(w.Host(), &help);
  EXPECT_EQ(w.probe.Count(CM_HINTSHOW), 1) << "no hint where the control is not hit";
}

TEST(QtHost, WidgetStateChangesBecomeNotifications) {
  Window w;
  QWidget* host = w.Host();
  host->setEnabled(false);
  EXPECT_FALSE(w.probe.Enabled());
  EXPECT_EQ(w.probe.Count(CM_ENABLEDCHANGED), 1);
  host->setEnabled(true);
  EXPECT_TRUE(w.probe.Enabled());

  host->hide();
  EXPECT_FALSE(w.probe.Visible());
  EXPECT_EQ(w.probe.Count(CM_VISIBLECHANGED), 1);
  host->show();
  EXPECT_TRUE(w.probe.Visible());

  QFont f = host->font();
  f.setPointSize(23);
  host->setFont(f);
  EXPECT_EQ(w.probe.Font()->Size(), 23);
  EXPECT_FALSE(w.probe.ParentFont());
  EXPECT_GE(w.probe.Count(CM_FONTCHANGED), 1);

  host->setWindowTitle("iAuto");
  EXPECT_EQ(w.probe.Text(), "iAuto");
  EXPECT_EQ(w.probe.Count(CM_TEXTCHANGED), 1);

  w.probe.Messages.clear();
  QPalette p = host->palette();
  p.setColor(QPalette::Window, QColor(10, 20, 30));
  host->setPalette(p);
  EXPECT_EQ(w.probe.Color(), static_cast<TColor>(RGB(10, 20, 30)));
  EXPECT_EQ(w.probe.Count(CM_COLORCHANGED), 1);
}

TEST(QtHost, ParentWidgetChangesReachTheControlAsParentNotifications) {
  Window w;
  QFont f = w.box->font();
  f.setPointSize(17);
  w.box->setFont(f);
  EXPECT_EQ(w.group.Font()->Size(), 17);
  EXPECT_EQ(w.probe.Font()->Size(), 17);
  EXPECT_EQ(w.probe.Count(CM_PARENTFONTCHANGED), 2) << "one on joining, one for the change";

  QPalette p = w.box->palette();
  p.setColor(QPalette::Window, QColor(200, 100, 50));
  w.box->setPalette(p);
  EXPECT_EQ(w.probe.Color(), static_cast<TColor>(RGB(200, 100, 50)));

  w.group.SetShowHint(true);
  EXPECT_TRUE(w.probe.ShowHint());
  EXPECT_GE(w.probe.Count(CM_PARENTSHOWHINTCHANGED), 1);
}

TEST(QtHost, ModelChangesMoveTheWidget) {
  Window w;
  w.probe.SetAlign(alNone);
  w.probe.SetBounds(7, 8, 30, 40);
  EXPECT_EQ(w.Host()->geometry(), QRect(7, 8, 30, 40));
  w.probe.Hide();
  EXPECT_TRUE(w.Host()->isHidden());
  w.group.SetEnabled(false);
  EXPECT_FALSE(w.box->isEnabled());
}

TEST(QtHost, ControlWithoutModelParentTakesQtsInheritedFont) {
  QWidget plain;
  plain.resize(50, 50);
  Probe probe(nullptr);
  QWidget* host = HostControl(&probe, &plain);
  ASSERT_NE(host, nullptr);
  probe.Messages.clear();
  QFont f = plain.font();
  f.setPointSize(31);
  plain.setFont(f);
  ASSERT_EQ(probe.Count(CM_PARENTFONTCHANGED), 1);
  EXPECT_NE(probe.Messages[0].WParam, 0u) << "the font travels in the message";
  EXPECT_EQ(probe.Font()->Size(), 31);
  EXPECT_TRUE(probe.ParentFont());
}

TEST(QtHost, FocusAndAcceleratorsReachTheModel) {
  Window w;
  auto* edit = new QLineEdit(&w.window);
  edit->setGeometry(0, 0, 50, 20);
  edit->show();
  QApplication::setActiveWindow(&w.window);
  edit->setFocus();
  QApplication::processEvents();
  if (QApplication::focusWidget() != edit) GTEST_SKIP() << "no keyboard focus on this platform";
  EXPECT_GE(w.probe.Count(CM_FOCUSCHANGED), 1) << "passed on by the group";

  w.probe.Messages.clear();
  QTest::keyClick(&w.window, Qt::Key_K, Qt::AltModifier);
  ASSERT_EQ(w.probe.Count(CM_DIALOGCHAR), 1);
  for (const TMessage& m : w.probe.Messages)
    if (m.Msg == CM_DIALOGCHAR) {
      EXPECT_EQ(m.WParam, static_cast<WPARAM>('k'));
      EXPECT_EQ(KeyDataToShiftState(m.LParam), ssAlt);
    }
  QTest::keyClick(&w.window, Qt::Key_K, Qt::NoModifier);
  EXPECT_EQ(w.probe.Count(CM_DIALOGCHAR), 1) << "only keys with Alt";
}

TEST(QtHost, PaintsThePictureAndLetsTheParentShowElsewhere) {
  QWidget window;
  window.resize(40, 40);
  window.setAutoFillBackground(true);
  QPalette p = window.palette();
  p.setColor(QPalette::Window, QColor(0, 0, 255));
  window.setPalette(p);
  TWinControl group(nullptr);
  group.AttachWidget(&window);
  TImage image(nullptr);
  image.SetParent(&group);
  image.SetBounds(0, 0, 40, 40);
  image.SetCenter(true);
  auto red = std::make_unique<TBitmap>();
  red->SetPixelFormat(pf24bit);
  red->SetWidth(10);
  red->SetHeight(10);
  red->Canvas()->Brush()->SetColor(clRed);
  red->Canvas()->FillRect(TRect{0, 0, 10, 10});
  image.Picture()->SetGraphic(red.get());
  window.show();
  QImage shot = window.grab().toImage();
  EXPECT_EQ(shot.pixelColor(20, 20), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(2, 2), QColor(0, 0, 255)) << "the parent shows where nothing was painted";
}

TEST(QtHost, ControlOrWidgetMayGoFirst) {
  auto window = std::make_unique<QWidget>();
  TWinControl group(nullptr);
  group.AttachWidget(window.get());
  auto probe = std::make_unique<Probe>(nullptr);
  probe->SetParent(&group);
  ASSERT_NE(probe->Host(), nullptr);
  window.reset();  // the widgets go first: the model lets go of them
  EXPECT_EQ(probe->Host(), nullptr);
  EXPECT_EQ(group.Widget(), nullptr);

  QWidget other;
  TWinControl group2(nullptr);
  group2.AttachWidget(&other);
  probe->SetParent(&group2);
  ASSERT_NE(probe->Host(), nullptr);
  probe.reset();  // the control goes first: its widget is dropped
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  int hosts = 0;
  for (QWidget* child : other.findChildren<QWidget*>()) hosts += dynamic_cast<TControlWidget*>(child) ? 1 : 0;
  EXPECT_EQ(hosts, 0);
}

TEST(QtHost, ControlTakesThePlaceOfALayoutPlaceholder) {
  QWidget window;
  window.resize(300, 200);
  auto* box = new QGroupBox("Picture", &window);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(2, 2, 2, 2);
  auto* placeholder = new QWidget(box);
  placeholder->setObjectName("Image1");
  placeholder->setProperty("AutoSize", true);
  placeholder->setProperty("Center", true);
  placeholder->setProperty("Align", "alNone");
  placeholder->setProperty("FontHeight", -11);  // not the control's: left to others
  layout->addWidget(placeholder);
  auto* outer = new QVBoxLayout(&window);
  outer->addWidget(box);

  TImage image(nullptr);
  QWidget* host = HostInPlaceOf(placeholder, &image);
  ASSERT_NE(host, nullptr);
  EXPECT_TRUE(image.AutoSize());
  EXPECT_TRUE(image.Center());
  EXPECT_EQ(image.Name(), "Image1");
  EXPECT_EQ(host->objectName(), "Image1");
  EXPECT_EQ(layout->indexOf(host), 0);
  EXPECT_EQ(box->findChildren<QWidget*>().size(), 1) << "the placeholder is gone";

  window.show();
  QApplication::processEvents();
  QRect placed = host->geometry();
  EXPECT_GT(placed.width(), 200);
  EXPECT_EQ(image.Width(), placed.width()) << "the model follows the layout";

  auto small = std::make_unique<TBitmap>();
  small->SetWidth(10);
  small->SetHeight(10);
  image.Picture()->SetGraphic(small.get());
  EXPECT_EQ(host->geometry(), placed) << "AutoSize gives way to the layout";
  EXPECT_EQ(image.Width(), placed.width());

  auto* bad = new QWidget(box);
  bad->setProperty("Center", "maybe");
  layout->addWidget(bad);
  TImage other(nullptr);
  EXPECT_THROW(HostInPlaceOf(bad, &other), EPropertyError);
}
