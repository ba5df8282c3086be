#include <gtest/gtest.h>

#include "picture/PxControlLibrary.h"
#include "picture/PxLibraryData.h"
#include "platform/ui/Forms.h"
#include "tests/picture/PxTestSupport.h"

using namespace px;
using namespace pxtest;

namespace {

// A graphic control that fills its client area red through its canvas.
class TRedBox : public TGraphicControl {
 public:
  using TGraphicControl::TGraphicControl;

 protected:
  void Paint() override {
    Canvas()->Brush()->SetColor(clRed);
    Canvas()->FillRect(TRect{0, 0, Width(), Height()});
  }
};

struct DcState {
  HGDIOBJ Brush, Pen;
  POINT Origin;
  RECT Clip;
  bool operator==(const DcState& O) const {
    return Brush == O.Brush && Pen == O.Pen && Origin.x == O.Origin.x && Origin.y == O.Origin.y &&
           Clip.left == O.Clip.left && Clip.top == O.Clip.top && Clip.right == O.Clip.right && Clip.bottom == O.Clip.bottom;
  }
};

DcState StateOf(HDC Dc) {
  DcState s{GetCurrentObject(Dc, OBJ_BRUSH), GetCurrentObject(Dc, OBJ_PEN), {}, {}};
  GetViewportOrgEx(Dc, &s.Origin);
  GetClipBox(Dc, &s.Clip);
  return s;
}

// A class library handler that leaves the context changed.
HBRUSH LeakedBrush = nullptr;
void LeakyPrintClient(TWinControl*, TMessage& Message) {
  HDC dc = reinterpret_cast<HDC>(Message.WParam);
  SetViewportOrgEx(dc, 17, 19, nullptr);
  SelectObject(dc, LeakedBrush);
  IntersectClipRect(dc, 0, 0, 5, 5);
  if (Message.LParam == 1) throw EInvalidOperation("painting failed");
}

struct Fixture {
  std::unique_ptr<TBitmap> Sheet = MakeBitmap(40, 40, pfDevice, [](int, int) { return clWhite; });
  HDC Dc = Sheet->Canvas()->Handle();
  HBRUSH Brush = CreateSolidBrush(RGB(1, 2, 3));
  TWinControl Parent{nullptr};
  TRedBox* Box = new TRedBox(nullptr);
  Fixture() {
    Box->SetBounds(5, 6, 4, 3);
    Box->SetParent(&Parent);
    SelectObject(Dc, Brush);
    SetViewportOrgEx(Dc, 2, 1, nullptr);
  }
  ~Fixture() {
    delete Box;
    SelectObject(Dc, GetStockObject(WHITE_BRUSH));
    SetViewportOrgEx(Dc, 0, 0, nullptr);
    SelectClipRgn(Dc, nullptr);
    DeleteObject(Brush);
  }
};

}  // namespace

TEST(PrintClient, PaintsControlsAndHandsTheContextBack) {
  Fixture f;
  const DcState before = StateOf(f.Dc);
  f.Parent.Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(f.Dc), 0);
  EXPECT_TRUE(StateOf(f.Dc) == before);
  SetViewportOrgEx(f.Dc, 0, 0, nullptr);
  EXPECT_EQ(f.Sheet->Canvas()->Pixels(7, 7), clRed);   // (5, 6) + origin (2, 1)
  EXPECT_EQ(f.Sheet->Canvas()->Pixels(10, 9), clRed);
  EXPECT_EQ(f.Sheet->Canvas()->Pixels(11, 9), clWhite);
  EXPECT_EQ(f.Sheet->Canvas()->Pixels(6, 7), clWhite);
  f.Box->SetVisible(false);
  f.Sheet->Canvas()->Brush()->SetColor(clWhite);
  f.Sheet->Canvas()->FillRect(TRect{0, 0, 40, 40});
  f.Parent.Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(f.Dc), 0);
  EXPECT_EQ(f.Sheet->Canvas()->Pixels(7, 7), clWhite);
}

TEST(PrintClient, FixSavesAndRestoresAroundTheClassHandler) {
  Fixture f;
  LeakedBrush = CreateSolidBrush(RGB(9, 9, 9));
  TWinControl::TMessageHandler own = TWinControl::MessageHandler(WM_PRINTCLIENT);
  ASSERT_NE(own, nullptr);
  ASSERT_TRUE(TWinControl::SetMessageHandler(WM_PRINTCLIENT, &LeakyPrintClient));
  const DcState before = StateOf(f.Dc);
  // Without the fix the class handler's changes stay.
  f.Parent.Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(f.Dc), 0);
  EXPECT_FALSE(StateOf(f.Dc) == before);
  SelectObject(f.Dc, f.Brush);
  SetViewportOrgEx(f.Dc, 2, 1, nullptr);
  SelectClipRgn(f.Dc, nullptr);
  // With it they are undone, also when the handler raises.
  ASSERT_TRUE(InstallPrintClientFix());
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), &PrintClientWithSavedDC);
  EXPECT_FALSE(InstallPrintClientFix());  // once
  f.Parent.Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(f.Dc), 0);
  EXPECT_TRUE(StateOf(f.Dc) == before);
  EXPECT_THROW(f.Parent.Perform(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(f.Dc), 1), EInvalidOperation);
  EXPECT_TRUE(StateOf(f.Dc) == before);
  // Other messages reach the class handler unchanged.
  TMessage other{WM_NULL, reinterpret_cast<WPARAM>(f.Dc), 0, 0};
  PrintClientWithSavedDC(&f.Parent, other);
  EXPECT_FALSE(StateOf(f.Dc) == before);
  SelectObject(f.Dc, f.Brush);
  SetViewportOrgEx(f.Dc, 2, 1, nullptr);
  SelectClipRgn(f.Dc, nullptr);
  RemovePrintClientFix();
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), &LeakyPrintClient);
  TWinControl::SetMessageHandler(WM_PRINTCLIENT, own);
  SelectObject(f.Dc, f.Brush);
  DeleteObject(LeakedBrush);
}

TEST(PrintClient, NothingToReplace) {
  TWinControl::TMessageHandler own = TWinControl::MessageHandler(WM_PRINTCLIENT);
  TWinControl::SetMessageHandler(WM_PRINTCLIENT, nullptr);
  EXPECT_FALSE(InstallPrintClientFix());
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), nullptr);
  TWinControl::SetMessageHandler(WM_PRINTCLIENT, own);
  EXPECT_FALSE(TWinControl::SetMessageHandler(WM_PAINT, own));  // no such entry
}

TEST(ControlLibrary, StartsAndStopsOnce) {
  TWinControl::TMessageHandler own = TWinControl::MessageHandler(WM_PRINTCLIENT);
  StartControlLibrary();
  StartControlLibrary();
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), &PrintClientWithSavedDC);
  EXPECT_EQ(SystemInformation().WindowsVersionKind, 11);
  StopControlLibrary();
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), &PrintClientWithSavedDC);
  StopControlLibrary();
  EXPECT_EQ(TWinControl::MessageHandler(WM_PRINTCLIENT), own);
  EXPECT_EQ(SystemInformation().WindowsVersionKind, 0);
  StopControlLibrary();  // nothing more to undo
}

TEST(ControlLibrary, ScreenCursorAliases) {
  AliasScreenCursors();
  EXPECT_EQ(Screen->Cursors(100), Screen->Cursors(-16));
  EXPECT_EQ(Screen->Cursors(101), Screen->Cursors(-12));
  EXPECT_EQ(Screen->Cursors(102), Screen->Cursors(-16));
  EXPECT_EQ(Screen->Cursors(103), Screen->Cursors(-16));
  EXPECT_NE(Screen->Cursors(100), Screen->Cursors(crDefault));
  EXPECT_NE(Screen->Cursors(101), Screen->Cursors(100));
  for (int slot = 100; slot <= 103; ++slot) Screen->SetCursors(slot, nullptr);
  // Without a screen nothing happens.
  TScreen* screen = Screen;
  Screen = nullptr;
  AliasScreenCursors();
  Screen = screen;
  EXPECT_EQ(Screen->Cursors(100), Screen->Cursors(crDefault));
}
