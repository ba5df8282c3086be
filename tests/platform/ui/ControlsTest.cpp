#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/ExtCtrls.h"
#include "tests/platform/ui/UiTestSupport.h"

using uitest::RecordingHost;
using uitest::RecordingParent;

namespace {

// A graphic control that records its messages and answers the hit test as told.
class Probe : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;
  void WndProc(TMessage& Message) override {
    Messages.push_back(Message.Msg);
    if (Message.Msg == CM_HITTEST && !Hit) {
      Message.Result = 0;
      return;
    }
    TGraphicControl::WndProc(Message);
  }
  int Count(UINT Msg) const {
    int n = 0;
    for (UINT m : Messages) n += m == Msg ? 1 : 0;
    return n;
  }
  std::vector<UINT> Messages;
  bool Hit{true};
};

}  // namespace

TEST(Messages, PointsPackAsSignedHalves) {
  LPARAM p = MAKELPARAM(-5, 300);
  EXPECT_EQ(GET_X_LPARAM(p), -5);
  EXPECT_EQ(GET_Y_LPARAM(p), 300);
  p = MAKELPARAM(32767, -32768);
  EXPECT_EQ(GET_X_LPARAM(p), 32767);
  EXPECT_EQ(GET_Y_LPARAM(p), -32768);
  EXPECT_EQ(GET_X_LPARAM(MAKELPARAM(40000, 0)), 40000 - 65536);  // wraps like a 16-bit half
}

TEST(Messages, KeyDataCarriesAltCtrlShiftOnly) {
  EXPECT_EQ(ShiftStateToKeyData(ssAlt), 0x20000000);
  EXPECT_EQ(ShiftStateToKeyData(ssCtrl), 0x10000000);
  EXPECT_EQ(ShiftStateToKeyData(ssShift), 0x08000000);
  EXPECT_EQ(ShiftStateToKeyData(ssLeft | ssRight | ssMiddle | ssDouble), 0);
  for (TShiftState s : {TShiftState(0), TShiftState(ssAlt), TShiftState(ssShift | ssCtrl),
                        TShiftState(ssAlt | ssCtrl | ssShift)})
    EXPECT_EQ(KeyDataToShiftState(ShiftStateToKeyData(s)), s);
  EXPECT_EQ(KeyDataToShiftState(0x20000000 | 0x41), ssAlt);
}

TEST(ControlDefaults, AnswersOfTheNotifications) {
  TControl control(nullptr);
  control.SetBounds(0, 0, 10, 10);
  EXPECT_EQ(control.Perform(CM_HITTEST, 0, MAKELPARAM(3, 4)), HTCLIENT);
  EXPECT_EQ(control.Perform(CM_DIALOGCHAR, 'a', 0), 0);
  EXPECT_EQ(control.Perform(CM_HINTSHOW, 0, 0), 0);
  EXPECT_EQ(control.Perform(0xB7D0, 0, 0), 0);
  TMessage message{WM_USER + 5, 1, 2, 77};
  control.WndProc(message);
  EXPECT_EQ(message.Result, 77) << "an unknown message leaves Result alone";
}

TEST(ControlDefaults, ChangesRepaintThroughTheHost) {
  TControl control(nullptr);
  RecordingHost host(&control);
  control.SetEnabled(false);
  control.SetColor(clRed);
  control.SetText("x");
  control.Font()->SetSize(20);
  EXPECT_EQ(host.Count(ccEnabled), 1);
  EXPECT_EQ(host.Count(ccColor), 1);
  EXPECT_EQ(host.Count(ccText), 1);
  EXPECT_EQ(host.Count(ccFont), 1);
  EXPECT_EQ(host.Count(ccInvalidate), 4);
  control.SetEnabled(false);  // no change, no notification
  EXPECT_EQ(host.Count(ccEnabled), 1);
}

TEST(ControlDefaults, HostHearsTheControlGo) {
  auto control = std::make_unique<TControl>(nullptr);
  RecordingHost host(control.get());
  control.reset();
  ASSERT_FALSE(host.Changes.empty());
  EXPECT_EQ(host.Changes.back(), ccDestroying);
}

TEST(ParentNotifications, FontFollowsTheParentUntilSetOwn) {
  TWinControl parent(nullptr);
  Probe child(nullptr);
  parent.Font()->SetName("Parent Face");
  child.SetParent(&parent);
  EXPECT_EQ(child.Font()->Name(), "Parent Face") << "joining a parent takes its font";
  EXPECT_TRUE(child.ParentFont());

  parent.Font()->SetSize(14);
  EXPECT_EQ(child.Font()->Size(), 14);
  EXPECT_TRUE(child.ParentFont());
  EXPECT_GE(child.Count(CM_PARENTFONTCHANGED), 1);

  child.Font()->SetSize(9);
  EXPECT_FALSE(child.ParentFont()) << "an own font ends the following";
  parent.Font()->SetSize(16);
  EXPECT_EQ(child.Font()->Size(), 9);

  child.SetParentFont(true);
  EXPECT_EQ(child.Font()->Size(), 16) << "ParentFont true takes the parent's font at once";
}

TEST(ParentNotifications, FontFromTheMessageWhenWParamIsSet) {
  TWinControl parent(nullptr);
  Probe child(nullptr);
  child.SetParent(&parent);
  TFont other;
  other.SetName("From Message");
  child.Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&other));
  EXPECT_EQ(child.Font()->Name(), "From Message");
  child.Perform(CM_PARENTFONTCHANGED, 0, reinterpret_cast<LPARAM>(&other));
  EXPECT_EQ(child.Font()->Name(), parent.Font()->Name()) << "WParam 0 takes the parent's font";
}

TEST(ParentNotifications, ColorFollowsTheParent) {
  TWinControl parent(nullptr);
  Probe child(nullptr);
  child.SetParent(&parent);
  parent.SetColor(clYellow);
  EXPECT_EQ(child.Color(), clYellow);
  EXPECT_TRUE(child.ParentColor());
  child.Perform(CM_PARENTCOLORCHANGED, 1, clAqua);
  EXPECT_EQ(child.Color(), clAqua);
  EXPECT_TRUE(child.ParentColor());
  child.SetColor(clRed);
  EXPECT_FALSE(child.ParentColor());
  parent.SetColor(clBlue);
  EXPECT_EQ(child.Color(), clRed);
}

TEST(ParentNotifications, ShowHintFollowsTheParent) {
  TWinControl parent(nullptr);
  Probe child(nullptr);
  child.SetParent(&parent);
  parent.SetShowHint(true);
  EXPECT_TRUE(child.ShowHint());
  EXPECT_TRUE(child.ParentShowHint());
  child.SetShowHint(false);
  EXPECT_FALSE(child.ParentShowHint());
  parent.SetShowHint(false);
  parent.SetShowHint(true);
  EXPECT_FALSE(child.ShowHint());
}

TEST(ParentNotifications, MouseEnterAndLeaveReachTheParentWithTheChild) {
  RecordingParent parent(nullptr);
  Probe child(nullptr);
  child.SetParent(&parent);
  parent.Messages.clear();
  child.Perform(CM_MOUSEENTER, 0, 0);
  child.Perform(CM_MOUSELEAVE, 0, 0);
  ASSERT_EQ(parent.Messages.size(), 2u);
  EXPECT_EQ(parent.Messages[0].Msg, CM_MOUSEENTER);
  EXPECT_EQ(parent.Messages[0].LParam, reinterpret_cast<LPARAM>(&child));
  EXPECT_EQ(parent.Messages[1].Msg, CM_MOUSELEAVE);
}

TEST(ControlNames, SetCaptionRenamesTheTextWhileItEqualsTheName) {
  TControl control(nullptr);
  control.SetName("Image1");
  EXPECT_EQ(control.Text(), "Image1");
  control.SetName("iAuto");
  EXPECT_EQ(control.Text(), "iAuto");
  control.SetText("caption");
  control.SetName("other");
  EXPECT_EQ(control.Text(), "caption");

  TControl plain(nullptr);
  plain.SetControlStyle(plain.ControlStyle() & ~static_cast<TControlStyle>(csSetCaption));
  plain.SetName("iAuto");
  EXPECT_EQ(plain.Text(), "");
}

TEST(WinControl, DialogCharStopsAtTheFirstAnswer) {
  TWinControl parent(nullptr);
  Probe a(nullptr), b(nullptr);
  a.SetParent(&parent);
  b.SetParent(&parent);
  EXPECT_EQ(parent.Perform(CM_DIALOGCHAR, 'x', 0), 0);
  EXPECT_EQ(a.Count(CM_DIALOGCHAR), 1);
  EXPECT_EQ(b.Count(CM_DIALOGCHAR), 1);

  class Taker : public TGraphicControl {
   public:
    using TGraphicControl::TGraphicControl;
    void WndProc(TMessage& M) override {
      if (M.Msg == CM_DIALOGCHAR) M.Result = 5;
      else TGraphicControl::WndProc(M);
    }
  } taker(nullptr);
  taker.SetParent(&parent);
  parent.Controls(0)->SetParent(nullptr);  // a leaves; order: b, taker
  Probe after(nullptr);
  after.SetParent(&parent);
  EXPECT_EQ(parent.Perform(CM_DIALOGCHAR, 'y', 0), 5);
  EXPECT_EQ(after.Count(CM_DIALOGCHAR), 0);
}

TEST(WinControl, ControlAtPosAsksTheHitTestTopmostFirst) {
  TWinControl parent(nullptr);
  parent.SetBounds(0, 0, 100, 100);
  Probe lower(nullptr), upper(nullptr);
  lower.SetParent(&parent);
  upper.SetParent(&parent);
  lower.SetBounds(0, 0, 50, 50);
  upper.SetBounds(20, 20, 50, 50);
  EXPECT_EQ(parent.ControlAtPos({30, 30}, false), &upper);
  EXPECT_EQ(parent.ControlAtPos({10, 10}, false), &lower);
  EXPECT_EQ(parent.ControlAtPos({90, 90}, false), nullptr);

  upper.Hit = false;
  EXPECT_EQ(parent.ControlAtPos({30, 30}, false), &lower) << "a control answering 0 lets the point through";
  upper.Hit = true;
  upper.SetEnabled(false);
  EXPECT_EQ(parent.ControlAtPos({30, 30}, false), &lower);
  EXPECT_EQ(parent.ControlAtPos({30, 30}, true), &upper);
  upper.Hide();
  EXPECT_EQ(parent.ControlAtPos({30, 30}, true), &lower);
}

TEST(WinControl, AlignPlacesTopBottomLeftRightThenClient) {
  TWinControl parent(nullptr);
  parent.SetBounds(0, 0, 200, 100);
  TControl top(nullptr), bottom(nullptr), left(nullptr), right(nullptr), client(nullptr);
  for (TControl* c : {&client, &right, &left, &bottom, &top}) c->SetParent(&parent);
  top.SetHeight(10);
  bottom.SetHeight(20);
  left.SetWidth(30);
  right.SetWidth(40);
  client.SetAlign(alClient);
  top.SetAlign(alTop);
  bottom.SetAlign(alBottom);
  left.SetAlign(alLeft);
  right.SetAlign(alRight);
  auto bounds = [](TControl& c) {
    return std::vector<int>{c.Left(), c.Top(), c.Width(), c.Height()};
  };
  EXPECT_EQ(bounds(top), (std::vector<int>{0, 0, 200, 10}));
  EXPECT_EQ(bounds(bottom), (std::vector<int>{0, 80, 200, 20}));
  EXPECT_EQ(bounds(left), (std::vector<int>{0, 10, 30, 70}));
  EXPECT_EQ(bounds(right), (std::vector<int>{160, 10, 40, 70}));
  EXPECT_EQ(bounds(client), (std::vector<int>{30, 10, 130, 70}));

  parent.SetBounds(0, 0, 300, 200);
  EXPECT_EQ(bounds(client), (std::vector<int>{30, 10, 230, 170}));
  client.SetBounds(1, 1, 5, 5);
  EXPECT_EQ(bounds(client), (std::vector<int>{30, 10, 230, 170})) << "an aligned control is put back";
  top.Hide();
  EXPECT_EQ(bounds(client), (std::vector<int>{30, 0, 230, 180}));
}

TEST(WinControl, ParentAndChildMayGoInEitherOrder) {
  auto child = std::make_unique<Probe>(nullptr);
  {
    TWinControl parent(nullptr);
    child->SetParent(&parent);
  }
  EXPECT_EQ(child->Parent(), nullptr);

  TWinControl parent(nullptr);
  child->SetParent(&parent);
  child.reset();
  EXPECT_EQ(parent.ControlCount(), 0);
}

TEST(WinControl, RefusesCycles) {
  TWinControl a(nullptr), b(nullptr);
  b.SetParent(&a);
  EXPECT_THROW(a.SetParent(&b), EInvalidOperation);
  EXPECT_THROW(a.SetParent(&a), EInvalidOperation);
  EXPECT_EQ(a.Parent(), nullptr);
}

TEST(ControlMouse, PressAndReleaseInsideIsAClick) {
  TControl control(nullptr);
  control.SetBounds(0, 0, 20, 20);
  int clicks = 0;
  std::vector<std::string> order;
  control.OnClick = [&](TObject*) {
    ++clicks;
    order.push_back("click");
  };
  std::vector<std::vector<int>> downs;
  control.OnMouseDown = [&](TObject*, TMouseButton b, TShiftState s, int x, int y) {
    downs.push_back({b, s, x, y});
    order.push_back("down");
  };
  control.OnMouseUp = [&](TObject*, TMouseButton, TShiftState, int, int) { order.push_back("up"); };
  control.Perform(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(3, 4));
  control.Perform(WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(5, 5));
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(order, (std::vector<std::string>{"down", "up", "click"}));
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0], (std::vector<int>{mbLeft, ssShift | ssLeft, 3, 4}));

  control.Perform(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 4));
  control.Perform(WM_LBUTTONUP, 0, MAKELPARAM(30, 4));
  EXPECT_EQ(clicks, 1) << "released outside: no click";
  control.Perform(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(3, 4));
  control.Perform(WM_RBUTTONUP, 0, MAKELPARAM(3, 4));
  EXPECT_EQ(clicks, 1) << "only the left button clicks";
}

TEST(GraphicControl, PaintsOnlyWithADeviceContext) {
  class Filler : public TGraphicControl {
   public:
    using TGraphicControl::TGraphicControl;
    int Paints = 0;

   protected:
    void Paint() override {
      ++Paints;
      Canvas()->Brush()->SetColor(clRed);
      Canvas()->FillRect(TRect{1, 1, 3, 3});
    }
  } filler(nullptr);
  uitest::Surface surface(4, 4);
  filler.Perform(WM_PAINT, 0, 0);
  EXPECT_EQ(filler.Paints, 0);
  surface.Paint(&filler);
  EXPECT_EQ(filler.Paints, 1);
  EXPECT_EQ(surface.At(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(surface.At(0, 0), RGB(1, 2, 3));
  EXPECT_FALSE(filler.Canvas()->HandleAllocated()) << "the canvas lets go of the device context";
}
