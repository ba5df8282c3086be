#include <gtest/gtest.h>

#include "platform/db/JetSql.h"
#include "platform/rtl/SysUtils.h"

using kelvdb::ParseFilter;
using kelvdb::TranslateJetSql;

TEST(JetSql, NamedParametersBecomeNumberedOnes) {
  const auto t = TranslateJetSql("SELECT ID,Name FROM Models\r\n  WHERE Brand_ID=:BrandID\r\nORDER by Name ;\r\n");
  EXPECT_EQ(t.Sql, "SELECT ID,Name FROM Models\r\n  WHERE Brand_ID=?1\r\nORDER by Name");
  ASSERT_EQ(t.ParamNames.size(), 1u);
  EXPECT_EQ(t.ParamNames[0], "BrandID");
}

TEST(JetSql, RepeatedParameterNamesShareOneNumberWithoutRegardToCase) {
  const auto t = TranslateJetSql("SELECT * FROM A WHERE x=:Id OR y=:ID OR z=:Other");
  EXPECT_EQ(t.Sql, "SELECT * FROM A WHERE x=?1 OR y=?1 OR z=?2");
  EXPECT_EQ(t.ParamNames, (std::vector<std::string>{"Id", "Other"}));
}

TEST(JetSql, ColonsInsideStringsAndNamesAreNotParameters) {
  const auto t = TranslateJetSql("SELECT [a:b] FROM T WHERE s = 'x:y' AND u = \"it's :z\"");
  EXPECT_TRUE(t.ParamNames.empty());
  EXPECT_EQ(t.Sql, "SELECT [a:b] FROM T WHERE s = 'x:y' AND u = 'it''s :z'");
}

TEST(JetSql, DistinctRowIsTakenOut) {
  const auto t = TranslateJetSql("SELECT DISTINCTROW Serials.ID, Parts.Name\r\nFROM Parts INNER JOIN Serials ON Parts.ID = Serials.Part_ID \r\nWHERE Serials.Auto_ID=:AutoID;");
  EXPECT_TRUE(t.DistinctRow);
  EXPECT_EQ(t.Sql.find("DISTINCTROW"), std::string::npos);
  EXPECT_EQ(t.Sql.substr(0, t.SelectEnd), "SELECT");
  EXPECT_TRUE(t.Simple);
  EXPECT_EQ(t.TableRefs, (std::vector<std::string>{"Parts", "Serials"}));
}

TEST(JetSql, TextAfterTheFinalSemicolonIsAnError) {
  EXPECT_NO_THROW(TranslateJetSql("SELECT * FROM T;  \r\n"));
  EXPECT_THROW(TranslateJetSql("SELECT * FROM T; DROP TABLE T"), Exception);
}

TEST(JetSql, UnsupportedOrBrokenTextIsRefused) {
  EXPECT_THROW(TranslateJetSql("SELECT a & b FROM T"), Exception);
  EXPECT_THROW(TranslateJetSql("SELECT * FROM T WHERE a = 'open"), Exception);
  EXPECT_THROW(TranslateJetSql("SELECT [open FROM T"), Exception);
  EXPECT_THROW(TranslateJetSql("SELECT * FROM T WHERE a = ?"), Exception);
}

TEST(JetSql, ShapeOfNestedJoins) {
  const auto t = TranslateJetSql(
      "SELECT Auto.ID FROM ( (Engines INNER JOIN Auto ON Engines.ID = Auto.Engine_ID) "
      "INNER JOIN EngineDefs ON Auto.ID = EngineDefs.Auto_ID) INNER JOIN Fuels ON Auto.Fuel_ID = Fuels.ID "
      "WHERE Auto.Brand_ID=:BrandID ORDER BY Auto.ID");
  EXPECT_TRUE(t.Simple);
  EXPECT_TRUE(t.HasWhere);
  EXPECT_EQ(t.TableRefs, (std::vector<std::string>{"Engines", "Auto", "EngineDefs", "Fuels"}));
  EXPECT_EQ(t.Sql.substr(t.TailPos, 5), "ORDER");
  EXPECT_EQ(t.Sql.substr(t.FromPos, 4), "FROM");
  EXPECT_EQ(t.Sql.substr(t.WherePos, 9), " Auto.Bra");
  EXPECT_EQ(kelvdb::CountTableRefs(t, "auto"), 1);
}

TEST(JetSql, AliasesSubSelectsAndGroupingAreNotSimple) {
  EXPECT_FALSE(TranslateJetSql("SELECT b.Name FROM Brands b").Simple);
  EXPECT_FALSE(TranslateJetSql("SELECT Name AS N FROM Brands").Simple);
  EXPECT_FALSE(TranslateJetSql("SELECT * FROM Brands WHERE ID IN (SELECT Brand_ID FROM Models)").Simple);
  EXPECT_FALSE(TranslateJetSql("SELECT Name FROM Brands GROUP BY Name").Simple);
  EXPECT_TRUE(TranslateJetSql("SELECT Brands.Name,Models.Name FROM Brands,Models WHERE Brands.ID=1").Simple);
}

TEST(Filter, FieldEqualsQuotedValue) {
  auto f = ParseFilter("Fuels.Def='Дизел'");
  EXPECT_FALSE(f.Empty);
  EXPECT_EQ(f.Field, "Fuels.Def");
  EXPECT_EQ(f.Value, "Дизел");
  f = ParseFilter("  SerialKELV = 'ab.''1.cd'  ");
  EXPECT_EQ(f.Field, "SerialKELV");
  EXPECT_EQ(f.Value, "ab.'1.cd");
  f = ParseFilter("[Fuels].[Def]=''''");
  EXPECT_EQ(f.Field, "Fuels.Def");
  EXPECT_EQ(f.Value, "'");
  f = ParseFilter("SerialWALKER=''");
  EXPECT_FALSE(f.Empty);
  EXPECT_EQ(f.Value, "");
  EXPECT_TRUE(ParseFilter("").Empty);
  EXPECT_TRUE(ParseFilter("   ").Empty);
}

TEST(Filter, TextsThatDoNotParseAreErrors) {
  for (const char* bad : {"Fuels.Def='x", "Fuels.Def=x", "Fuels.Def 'x'", "='x'", "a='x' AND b='y'", "a='x''",
                          "a=\"x\"", "a='x' b", "[a='x'", "a.='x'"}) {
    EXPECT_THROW(ParseFilter(bad), Exception) << bad;
  }
  try {
    ParseFilter("Fuels.Def=Diesel");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("Fuels.Def=Diesel"), std::string::npos);
  }
}
