#include <gtest/gtest.h>

#include <any>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/ExtCtrls.h"
#include "platform/ui/Published.h"
#include "tests/platform/ui/UiTestSupport.h"

namespace {

std::map<std::string, std::string> Written(TControl* C, const TMethodNameFunc& Names = {}) {
  std::map<std::string, std::string> m;
  for (const TStreamedProperty& p : WriteProperties(C, Names)) m[p.Name] = p.Text;
  return m;
}

}  // namespace

TEST(Published, ListsBaseClassPropertiesFirst) {
  TImage image(nullptr);
  std::vector<std::string> names;
  for (const TPropInfo* p : GetPropList(&image)) names.push_back(p->Name);
  ASSERT_GE(names.size(), 5u);
  EXPECT_EQ((std::vector<std::string>(names.begin(), names.begin() + 5)),
            (std::vector<std::string>{"Left", "Top", "Width", "Height", "Align"}));
  EXPECT_NE(GetPropInfo(&image, "proportional"), nullptr) << "names compare without regard to case";
  EXPECT_EQ(GetPropInfo(&image, "Angle"), nullptr);
}

TEST(Published, WritesWhatDiffersFromTheDefaults) {
  TImage image(nullptr);
  auto fresh = Written(&image);
  EXPECT_EQ(fresh.size(), 4u) << "only the bounds of a fresh image";
  EXPECT_EQ(fresh["Width"], "105");

  image.SetAlign(alClient);
  image.SetCenter(true);
  image.SetProportional(true);
  image.SetEnabled(false);
  image.SetHint("a hint");
  auto w = Written(&image);
  EXPECT_EQ(w["Align"], "alClient");
  EXPECT_EQ(w["Center"], "True");
  EXPECT_EQ(w["Proportional"], "True");
  EXPECT_EQ(w["Enabled"], "False");
  EXPECT_EQ(w["Hint"], "a hint");
  EXPECT_EQ(w.count("AutoSize"), 0u);
  EXPECT_EQ(w.count("ShowHint"), 0u) << "ShowHint follows the parent";
  image.SetShowHint(false);
  EXPECT_EQ(Written(&image)["ShowHint"], "False");
}

TEST(Published, ReadsTheLayoutTexts) {
  TImage image(nullptr);
  ReadProperty(&image, "Align", "alClient");
  ReadProperty(&image, "AutoSize", "True");
  ReadProperty(&image, "Center", "true");
  ReadProperty(&image, "Left", "-12");
  EXPECT_EQ(image.Align(), alClient);
  EXPECT_TRUE(image.AutoSize());
  EXPECT_TRUE(image.Center());
  EXPECT_EQ(image.Left(), -12);
  EXPECT_THROW(ReadProperty(&image, "Align", "alMiddle"), EPropertyError);
  EXPECT_THROW(ReadProperty(&image, "Left", "12px"), EPropertyError);
  EXPECT_THROW(ReadProperty(&image, "Left", "99999999999"), EPropertyError);
  EXPECT_THROW(ReadProperty(&image, "Colour", "1"), EPropertyError);
  EXPECT_THROW(SetPropValue(&image, "Center", std::string("True")), EPropertyError) << "wrong value type";
}

TEST(Published, PictureTravelsInItsLayoutForm) {
  TImage source(nullptr);
  auto bitmap = uitest::PatternBitmap(5, 3);
  source.Picture()->SetGraphic(bitmap.get());
  auto w = Written(&source);
  ASSERT_EQ(w.count("Picture"), 1u);
  EXPECT_EQ(w["Picture"].substr(0, 16), "07544269746D6170") << "class name TBitmap as a short string";

  TImage target(nullptr);
  ReadProperty(&target, "Picture", w["Picture"]);
  auto* copy = dynamic_cast<TBitmap*>(target.Picture()->Graphic());
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Width(), 5);
  ASSERT_EQ(copy->Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(uitest::Pixel24(copy, x, y), uitest::Pixel24(bitmap.get(), x, y));
  EXPECT_THROW(ReadProperty(&target, "Picture", "0G"), EPropertyError);
}

TEST(Published, EventsAreWrittenWhenAssignedAndBoundThroughAResolver) {
  TImage image(nullptr);
  EXPECT_EQ(Written(&image).count("OnClick"), 0u);
  image.OnClick = [](TObject*) {};
  auto w = Written(&image, [](TControl*, const std::string& Event) { return "iAuto" + Event.substr(2); });
  EXPECT_EQ(w["OnClick"], "iAutoClick");

  TImage target(nullptr);
  int clicks = 0;
  TMethodResolver resolver = [&](const TPropInfo& Info, const std::string& Name) -> std::any {
    if (Info.TypeName == "TNotifyEvent" && Name == "iAutoClick") return TNotifyEvent([&](TObject*) { ++clicks; });
    return {};
  };
  ReadProperty(&target, "OnClick", "iAutoClick", resolver);
  ASSERT_TRUE(static_cast<bool>(target.OnClick));
  target.OnClick(&target);
  EXPECT_EQ(clicks, 1);
  EXPECT_THROW(ReadProperty(&target, "OnMouseDown", "iAutoClick", resolver), EPropertyError);
  const TPropInfo* info = GetPropInfo(&target, "OnMouseDown");
  ASSERT_NE(info, nullptr);
  EXPECT_THROW(info->SetMethod(&target, std::any(TNotifyEvent())), EPropertyError) << "a handler of the wrong type";
}
