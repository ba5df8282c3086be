#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/PxBaseThumbnail.h"
#include "picture/PxExExtCtrls.h"
#include "platform/ui/Forms.h"
#include "tests/platform/ui/UiTestSupport.h"

using namespace px;
using uitest::RecordingParent;

namespace {

// Records every operation with its arguments, then does what the base class does.
class RecordingImage : public TPxBaseThumbImage {
 public:
  using TPxBaseThumbImage::TPxBaseThumbImage;
  using TPxBaseThumbImage::SetHintColor;

  std::vector<std::string> Calls;
  WORD Key{0};
  TShiftState Shift{0};
  std::string KeyText;
  int X{0}, Y{0};
  TControl* Control{nullptr};
  bool DialogAnswer{false};
  bool HintAnswer{false};

 protected:
  void TextChanged() override { Calls.push_back("TextChanged"); TPxBaseThumbImage::TextChanged(); }
  bool DialogChar(WORD AKey, TShiftState AShift, const std::string& AKeyText) override {
    Calls.push_back("DialogChar");
    Key = AKey;
    Shift = AShift;
    KeyText = AKeyText;
    return TPxBaseThumbImage::DialogChar(AKey, AShift, AKeyText) || DialogAnswer;
  }
  bool HitTest(int AX, int AY) override {
    Calls.push_back("HitTest");
    X = AX;
    Y = AY;
    return TPxBaseThumbImage::HitTest(AX, AY);
  }
  void FocusChanged(TControl* C) override { Calls.push_back("FocusChanged"); Control = C; TPxBaseThumbImage::FocusChanged(C); }
  void VisibleChanged() override { Calls.push_back("VisibleChanged"); TPxBaseThumbImage::VisibleChanged(); }
  void EnabledChanged() override { Calls.push_back("EnabledChanged"); TPxBaseThumbImage::EnabledChanged(); }
  void ColorChanged() override { Calls.push_back("ColorChanged"); TPxBaseThumbImage::ColorChanged(); }
  void FontChanged() override { Calls.push_back("FontChanged"); TPxBaseThumbImage::FontChanged(); }
  void ParentFontChanged() override { Calls.push_back("ParentFontChanged"); TPxBaseThumbImage::ParentFontChanged(); }
  void ParentColorChanged() override { Calls.push_back("ParentColorChanged"); TPxBaseThumbImage::ParentColorChanged(); }
  void ParentShowHintChanged() override {
    Calls.push_back("ParentShowHintChanged");
    TPxBaseThumbImage::ParentShowHintChanged();
  }
  bool HintShow(THintInfo& Info) override {
    Calls.push_back("HintShow");
    return TPxBaseThumbImage::HintShow(Info) || HintAnswer;
  }
  void MouseEnter(TControl* C) override { Calls.push_back("MouseEnter"); Control = C; TPxBaseThumbImage::MouseEnter(C); }
  void MouseLeave(TControl* C) override { Calls.push_back("MouseLeave"); Control = C; TPxBaseThumbImage::MouseLeave(C); }
};

}  // namespace

TEST(PxExImageRouting, EachNotificationCallsItsOperation) {
  struct Row {
    UINT Msg;
    const char* Op;
  };
  const Row rows[] = {
      {CM_DIALOGCHAR, "DialogChar"},         {CM_FOCUSCHANGED, "FocusChanged"},
      {CM_PARENTFONTCHANGED, "ParentFontChanged"}, {CM_PARENTCOLORCHANGED, "ParentColorChanged"},
      {CM_HITTEST, "HitTest"},               {CM_VISIBLECHANGED, "VisibleChanged"},
      {CM_ENABLEDCHANGED, "EnabledChanged"}, {CM_COLORCHANGED, "ColorChanged"},
      {CM_FONTCHANGED, "FontChanged"},       {CM_TEXTCHANGED, "TextChanged"},
      {CM_MOUSEENTER, "MouseEnter"},         {CM_MOUSELEAVE, "MouseLeave"},
      {CM_PARENTSHOWHINTCHANGED, "ParentShowHintChanged"}, {CM_HINTSHOW, "HintShow"},
  };
  RecordingImage image(nullptr);
  THintInfo info;
  for (const Row& row : rows) {
    image.Calls.clear();
    LPARAM lparam = row.Msg == CM_HINTSHOW ? reinterpret_cast<LPARAM>(&info) : 0;
    image.Perform(row.Msg, 0, lparam);
    ASSERT_FALSE(image.Calls.empty()) << row.Op;
    EXPECT_EQ(image.Calls.front(), row.Op);
  }
  image.Calls.clear();
  image.Perform(WM_USER + 1, 0, 0);
  EXPECT_TRUE(image.Calls.empty());
}

TEST(PxExImageRouting, ResultsAreWrittenOnlyWhereDeclared) {
  RecordingImage image(nullptr);
  TMessage m{CM_HITTEST, 0, MAKELPARAM(2, 3), 99};
  image.WndProc(m);
  EXPECT_EQ(m.Result, 1);
  m = TMessage{CM_DIALOGCHAR, 'a', 0, 99};
  image.WndProc(m);
  EXPECT_EQ(m.Result, 0);
  image.DialogAnswer = true;
  m = TMessage{CM_DIALOGCHAR, 'a', 0, 99};
  image.WndProc(m);
  EXPECT_EQ(m.Result, 1);
  THintInfo info;
  image.HintAnswer = true;
  m = TMessage{CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info), 99};
  image.WndProc(m);
  EXPECT_EQ(m.Result, 1);
  for (UINT msg : {CM_FOCUSCHANGED, CM_VISIBLECHANGED, CM_ENABLEDCHANGED, CM_COLORCHANGED, CM_FONTCHANGED,
                   CM_TEXTCHANGED, CM_MOUSEENTER, CM_MOUSELEAVE, CM_PARENTSHOWHINTCHANGED, CM_PARENTFONTCHANGED,
                   CM_PARENTCOLORCHANGED}) {
    m = TMessage{msg, 0, 0, 99};
    image.WndProc(m);
    EXPECT_EQ(m.Result, 99) << std::hex << msg;
  }
}

TEST(PxExImageRouting, DialogCharTakesTheLow16BitsAndTheKeyData) {
  RecordingImage image(nullptr);
  image.Perform(CM_DIALOGCHAR, 0xABCD0416, 0x20000000 | 0x08000000 | 0x1234);
  EXPECT_EQ(image.Key, 0x0416);
  EXPECT_EQ(image.Shift, ssAlt | ssShift);
  EXPECT_EQ(image.KeyText, "Ж");
  image.Perform(CM_DIALOGCHAR, 0x1D800, 0);
  EXPECT_EQ(image.Key, 0xD800);
  EXPECT_EQ(image.KeyText, "\xEF\xBF\xBD") << "half a surrogate pair is no character";
}

TEST(PxExImageRouting, HitTestPointIsSigned) {
  RecordingImage image(nullptr);
  image.Perform(CM_HITTEST, 0, MAKELPARAM(-3, -40));
  EXPECT_EQ(image.X, -3);
  EXPECT_EQ(image.Y, -40);
}

TEST(PxExImageRouting, InterfaceQueryAnswersZero) {
  RecordingImage image(nullptr);
  TMessage m{CM_PXQUERYINTERFACE, 0, 0, 55};
  image.WndProc(m);
  EXPECT_EQ(m.Result, 0);
  void* obj = &m;
  EXPECT_EQ(image.QueryInterface(IID_IPxQueried, &obj), E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(image.QueryInterface(IID_IPxExImage, &obj), S_OK);
  EXPECT_EQ(obj, static_cast<void*>(&image));
  EXPECT_EQ(image._AddRef(), -1);
  EXPECT_EQ(image._Release(), -1);
}

TEST(PxExImageDefaults, ParentFontComesFromTheParentNotTheMessage) {
  TWinControl parent(nullptr);
  parent.Font()->SetName("Parent Face");
  RecordingImage image(nullptr);
  image.SetParent(&parent);
  TFont other;
  other.SetName("From Message");
  image.Perform(CM_PARENTFONTCHANGED, 1, reinterpret_cast<LPARAM>(&other));
  EXPECT_EQ(image.Font()->Name(), "Parent Face");
  image.Perform(CM_PARENTCOLORCHANGED, 1, clFuchsia);
  EXPECT_EQ(image.Color(), parent.Color());
}

TEST(PxExImageDefaults, ParentColourChangeRaisesItsEventAfterwards) {
  TWinControl parent(nullptr);
  RecordingImage image(nullptr);
  image.SetParent(&parent);
  TColor seen = clNone;
  image.OnParentColorChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &image);
    seen = image.Color();
  };
  parent.SetColor(clTeal);
  EXPECT_EQ(seen, clTeal) << "raised after the colour was taken";
}

TEST(PxExImageDefaults, EnterAndLeaveOrder) {
  RecordingParent parent(nullptr);
  RecordingImage image(nullptr);
  image.SetParent(&parent);
  std::vector<std::string> order;
  image.OnMouseEnter = [&](TObject*) {
    order.push_back(std::string("enter event, over=") + (image.MouseOver() ? "1" : "0") +
                    ", parent told=" + std::to_string(parent.Count(CM_MOUSEENTER)));
  };
  image.OnMouseLeave = [&](TObject*) {
    order.push_back(std::string("leave event, over=") + (image.MouseOver() ? "1" : "0") +
                    ", parent told=" + std::to_string(parent.Count(CM_MOUSELEAVE)));
  };
  EXPECT_FALSE(image.MouseOver());
  image.Perform(CM_MOUSEENTER, 0, 0);
  EXPECT_TRUE(image.MouseOver());
  image.Perform(CM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(image.MouseOver());
  EXPECT_EQ(order, (std::vector<std::string>{"enter event, over=1, parent told=0",
                                              "leave event, over=0, parent told=1"}))
      << "the enter event before the inherited handling, the leave event after it";
}

TEST(PxExImageHints, ColourFromTheParent) {
  RecordingParent parent(nullptr);
  parent.HintColorAnswer = clLime;
  RecordingImage image(nullptr);
  image.SetParent(&parent);
  THintInfo info;
  info.HintColor = clInfoBk;
  info.HintStr = "iAuto hint";
  image.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.HintColor, clLime);
  EXPECT_EQ(info.HintStr, "iAuto hint") << "the parent worked on a copy";
  EXPECT_EQ(parent.Count(CM_HINTSHOW), 1);
}

TEST(PxExImageHints, WithoutAParentTheRecordStaysAsItWas) {
  RecordingImage image(nullptr);
  THintInfo info;
  info.HintColor = clCream;
  image.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.HintColor, clCream);
}

TEST(PxExImageHints, OwnColourOrTheApplications) {
  RecordingParent parent(nullptr);
  parent.HintColorAnswer = clLime;
  RecordingImage image(nullptr);
  image.SetParent(&parent);
  THintInfo info;
  image.SetHintColor(clNone);
  TColor saved = Application->HintColor();
  Application->SetHintColor(clSkyBlue);
  image.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  Application->SetHintColor(saved);
  EXPECT_EQ(info.HintColor, clSkyBlue);
  image.SetHintColor(clMaroon);
  image.Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.HintColor, clMaroon);
  EXPECT_EQ(parent.Count(CM_HINTSHOW), 0) << "only clDefault asks the parent";
  EXPECT_EQ(TPxExImage(nullptr).HintColor(), clDefault);
}

TEST(PxBaseThumbImage, IgnoreMouseAtRunTimeAndDesignTime) {
  TPxBaseThumbImage image(nullptr);
  image.SetBounds(0, 0, 50, 50);
  EXPECT_FALSE(image.IgnoreMouse());
  EXPECT_EQ(image.Perform(CM_HITTEST, 0, MAKELPARAM(10, 10)), 1);
  image.SetIgnoreMouse(true);
  EXPECT_EQ(image.Perform(CM_HITTEST, 0, MAKELPARAM(10, 10)), 0);
  image.SetDesigning(true);
  EXPECT_EQ(image.Perform(CM_HITTEST, 0, MAKELPARAM(10, 10)), 1) << "the inherited answer at design time";

  TWinControl parent(nullptr);
  parent.SetBounds(0, 0, 100, 100);
  TPxBaseThumbImage onTop(nullptr);
  onTop.SetParent(&parent);
  onTop.SetBounds(0, 0, 100, 100);
  onTop.SetIgnoreMouse(true);
  EXPECT_EQ(parent.ControlAtPos({5, 5}, true), nullptr) << "the class library never finds it under the mouse";
}

TEST(PxBaseThumbImage, NamingLeavesTheTextAlone) {
  TPxBaseThumbImage image(nullptr);
  RecordingImage recorder(nullptr);
  image.SetName("iAuto");
  recorder.SetName("iAuto");
  EXPECT_EQ(image.Text(), "");
  EXPECT_EQ(recorder.Text(), "");
  EXPECT_TRUE(recorder.Calls.empty()) << "no CM_TEXTCHANGED";
  EXPECT_EQ(TImage(nullptr).ControlStyle() & csSetCaption, static_cast<TControlStyle>(csSetCaption));
}
