#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/db/Collation.h"
#include "platform/db/JetImport.h"

using kelvdb::CollateCompare;
using kelvdb::CollateEqual;

TEST(Collation, IgnoresCaseInLatinCyrillicAndGreek) {
  EXPECT_TRUE(CollateEqual("Diesel", "DIESEL"));
  EXPECT_TRUE(CollateEqual("Бензин", "БЕНЗИН"));
  EXPECT_TRUE(CollateEqual("бензин", "БеНзИн"));
  EXPECT_TRUE(CollateEqual("ab.12.cd", "AB.12.CD"));
  EXPECT_TRUE(CollateEqual("Ωμέγα", "ΩΜΈΓΑ"));
  EXPECT_TRUE(CollateEqual("ŠKODA", "škoda"));
  EXPECT_FALSE(CollateEqual("Бензин", "Бензин "));
  EXPECT_FALSE(CollateEqual("Дизел", "Дизeл"));  // Latin e inside
}

TEST(Collation, OrdersByTheAlphabet) {
  std::vector<std::string> words = {"яке", "Жаба", "ёж", "абв", "Ель", "Zeta", "alpha", "Škoda", "Seat",
                                    "10", "2", "-x", "Ъгъл", "щит", "Юг", "Ём"};
  std::sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) { return CollateCompare(a, b) < 0; });
  const std::vector<std::string> expected = {"-x",  "10",  "2",   "alpha", "Seat", "Škoda", "Zeta", "абв",
                                             "ёж",  "Ель", "Ём",  "Жаба",  "щит",  "Ъгъл",  "Юг",   "яке"};
  EXPECT_EQ(words, expected);
}

TEST(Collation, AccentsAndVariantsSortAfterTheirBaseLetter) {
  EXPECT_LT(CollateCompare("e", "é"), 0);
  EXPECT_LT(CollateCompare("é", "f"), 0);
  EXPECT_LT(CollateCompare("Citroen", "Citroën"), 0);
  EXPECT_LT(CollateCompare("Citroën", "Citroex"), 0);  // the accent only breaks ties
  EXPECT_LT(CollateCompare("е", "ё"), 0);
  EXPECT_LT(CollateCompare("ё", "ж"), 0);
  EXPECT_LT(CollateCompare("и", "і"), 0);
  EXPECT_LT(CollateCompare("і", "й"), 0);
  EXPECT_FALSE(CollateEqual("e", "é"));
}

TEST(Collation, PrefixesAndEmptyTexts) {
  EXPECT_EQ(CollateCompare("", ""), 0);
  EXPECT_LT(CollateCompare("", "a"), 0);
  EXPECT_LT(CollateCompare("ab", "ABC"), 0);
  EXPECT_GT(CollateCompare("abd", "ABC"), 0);
}

TEST(Collation, InvalidUtf8SortsLastWithoutHarm) {
  const std::string bad1 = "a\xff", bad2 = "a\xc3", bad3 = "a\xe0\x80\x80", bad4 = "\xf4\x90\x80\x80";
  EXPECT_GT(CollateCompare(bad1, "az"), 0);
  EXPECT_GT(CollateCompare(bad2, "aя"), 0);
  EXPECT_NE(CollateCompare(bad1, bad2), 0);
  EXPECT_EQ(CollateCompare(bad3, bad3), 0);
  EXPECT_GT(CollateCompare(bad4, "я"), 0);
}

TEST(Collation, DrivesSqliteOrderingAndComparison) {
  sqlite3* db = kelvdb::OpenMemoryDatabase();
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE t (v TEXT COLLATE KELV);"
                         "INSERT INTO t VALUES ('бета'),('Алфа'),('ГАМА'),('alpha'),('Beta');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  std::vector<std::string> got;
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT v FROM t ORDER BY v", -1, &s, nullptr), SQLITE_OK);
  while (sqlite3_step(s) == SQLITE_ROW) got.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  EXPECT_EQ(got, (std::vector<std::string>{"alpha", "Beta", "Алфа", "бета", "ГАМА"}));
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM t WHERE v = 'гама'", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(s, 0), 1);
  sqlite3_finalize(s);
  sqlite3_close(db);
}
