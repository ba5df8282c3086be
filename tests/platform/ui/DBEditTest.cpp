#include "platform/ui/DBEdit.h"

#include <gtest/gtest.h>

#include "WidgetTestSupport.h"

using widgettest::TMemDataSet;

namespace {

class DBEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    ds = std::make_unique<TMemDataSet>(
        std::vector<TMemDataSet::Column>{{"Brands.Name", ftWideString}, {"Fuels.Def", ftWideString}, {"cc", ftInteger}});
    ds->Rows = {{std::string("Ford"), std::string("Бензин"), std::int64_t{1596}},
                {std::string("Lada/VAZ"), {}, std::int64_t{1690}},
                {std::string("Škoda"), std::string("Дизел"), {}}};
    src.SetDataSet(ds.get());
    edit.SetDataSource(&src);
    edit.SetDataField("Fuels.Def");
  }

  std::unique_ptr<TMemDataSet> ds;
  TDataSource src{nullptr};
  TDBEdit edit;
};

TEST_F(DBEdit, FollowsTheCurrentRow) {
  EXPECT_EQ(edit.Text(), "");
  ds->Open();
  EXPECT_EQ(edit.Text(), "Бензин");
  ds->Next();
  EXPECT_EQ(edit.Text(), "");  // null
  ds->Last();
  EXPECT_EQ(edit.Text(), "Дизел");
  edit.SetDataField("brands.name");  // names without regard to case
  EXPECT_EQ(edit.Text(), "Škoda");
  EXPECT_EQ(edit.Field(), ds->FieldByName("Brands.Name"));
  edit.SetDataField("cc");
  EXPECT_EQ(edit.Text(), "");
  ds->Prior();
  EXPECT_EQ(edit.Text(), "1690");
}

TEST_F(DBEdit, EmptyWhenClosedFilteredEmptyOrFieldMissing) {
  ds->Open();
  ds->SetFilter("Fuels.Def='Газ'");
  ds->SetFiltered(true);
  EXPECT_EQ(edit.Text(), "");
  ds->SetFilter("Fuels.Def='Дизел'");
  EXPECT_EQ(edit.Text(), "Дизел");
  ds->Close();
  EXPECT_EQ(edit.Text(), "");
  ds->Open();
  edit.SetDataField("Models.Name");
  EXPECT_EQ(edit.Text(), "");
  EXPECT_EQ(edit.Field(), nullptr);
  edit.setProperty("DataField", "Brands.Name");
  EXPECT_EQ(edit.DataField(), "Brands.Name");
  EXPECT_EQ(edit.Text(), "Škoda");
}

TEST_F(DBEdit, IsReadOnly) {
  ds->Open();
  EXPECT_TRUE(edit.isReadOnly());
  qttest::TypeText(&edit, "xyz");
  EXPECT_EQ(edit.Text(), "Бензин");
  EXPECT_EQ(ds->FieldByName("Fuels.Def")->AsString(), "Бензин");
}

TEST_F(DBEdit, OutlivesItsSource) {
  ds->Open();
  auto other = std::make_unique<TDataSource>(nullptr);
  other->SetDataSet(ds.get());
  edit.SetDataSource(other.get());
  EXPECT_EQ(edit.Text(), "Бензин");
  other.reset();
  EXPECT_EQ(edit.DataSource(), nullptr);
  ds->Next();
  EXPECT_EQ(edit.Field(), nullptr);
}

}  // namespace
