// The description format and the text encodings of the Jet 4.0 writer.
#include "tools/jet4/Jet4Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace jet4;

namespace {

std::vector<std::uint8_t> B(std::initializer_list<int> v) { return {v.begin(), v.end()}; }

TDatabase Parse(const std::string& text) {
  TDatabase db;
  ParseText(text, "t.txt", db);
  return db;
}

// The message of the error that parsing raises ("" when it parses).
std::string ParseError(const std::string& text) {
  try {
    Parse(text);
  } catch (const EJet4Error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Utf8ToUtf16, DecodesCyrillicAndCharactersBeyondTheBasicPlane) {
  EXPECT_EQ(Utf8ToUtf16("Aд€"), u"Aд€");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x9A\x97"), u"\U0001F697");  // a car
}

TEST(Utf8ToUtf16, RejectsMalformedInput) {
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xD0", "a\xE2\x82"})
    EXPECT_THROW(Utf8ToUtf16(bad), EJet4Error) << bad;
}

TEST(EncodeText, PlainIsLittleEndianUcs2) {
  EXPECT_EQ(EncodeText(u"Aд", false), B({0x41, 0x00, 0x34, 0x04}));
  EXPECT_TRUE(EncodeText(u"", true).empty());
}

TEST(EncodeText, CompressedKeepsOneByteForLatinAndSwitchesModeForOthers) {
  EXPECT_EQ(EncodeText(u"Ford", true), B({0xFF, 0xFE, 'F', 'o', 'r', 'd'}));
  // "AB дд CD": one-byte run, switch, two-byte run, switch back.
  EXPECT_EQ(EncodeText(u"AB\u0434\u0434\u0434CDE", true),
            B({0xFF, 0xFE, 'A', 'B', 0x00, 0x34, 0x04, 0x34, 0x04, 0x34, 0x04, 0x00, 'C', 'D', 'E'}));
}

TEST(EncodeText, StaysPlainWhenCompressionDoesNotShortenOrCannotBeRead) {
  EXPECT_EQ(EncodeText(u"д", true), B({0x34, 0x04}));                   // nothing to gain
  EXPECT_EQ(EncodeText(u"a", true), B({0x61, 0x00}));                   // equal length: plain
  EXPECT_EQ(EncodeText(u"abcdef\u0400", true).size(), 14u);             // U+0400 has a zero low byte
  EXPECT_EQ(EncodeText(u"abcdef\u0100x", true).size(), 16u);
}

TEST(ParseText, ReadsTablesColumnsAndEveryKindOfValue) {
  const TDatabase db = Parse(R"(# comment
option text plain
table T   # trailing comment
  ID autonumber
  Flag boolean
  Small byte
  Short integer
  Long long
  Money currency
  Real double
  Moment datetime
  Name text(20) compressed
  Note memo
end
rows T
  7, yes, 255, -32768, 2147483647, -12.3456, 1.5e3, "1998-03-01 12:30", "a \"b\" \\ \u0416", "x#y"
  8, no, null, null, null, 5, -0.25, "1899-12-30", "", null
end
)");
  EXPECT_EQ(db.DefaultTextForm, TTextForm::Plain);
  ASSERT_EQ(db.Tables.size(), 1u);
  const TTable& t = db.Tables[0];
  ASSERT_EQ(t.Columns.size(), 10u);
  EXPECT_EQ(t.Columns[8].Type, TColumnType::Text);
  EXPECT_EQ(t.Columns[8].Length, 20);
  EXPECT_EQ(t.Columns[8].TextForm, TTextForm::Compressed);
  EXPECT_EQ(t.Columns[9].TextForm, TTextForm::Default);
  ASSERT_EQ(t.Rows.size(), 2u);
  const TRow& r = t.Rows[0];
  EXPECT_EQ(std::get<std::int64_t>(r[0]), 7);
  EXPECT_EQ(std::get<bool>(r[1]), true);
  EXPECT_EQ(std::get<std::int64_t>(r[2]), 255);
  EXPECT_EQ(std::get<std::int64_t>(r[3]), -32768);
  EXPECT_EQ(std::get<std::int64_t>(r[4]), 2147483647);
  EXPECT_EQ(std::get<std::int64_t>(r[5]), -123456);  // ten-thousandths
  EXPECT_DOUBLE_EQ(std::get<double>(r[6]), 1500.0);
  EXPECT_DOUBLE_EQ(std::get<double>(r[7]), 35855.0 + 12.5 / 24);
  EXPECT_EQ(std::get<std::string>(r[8]), "a \"b\" \\ \xD0\x96");
  EXPECT_EQ(std::get<std::string>(r[9]), "x#y");
  const TRow& n = t.Rows[1];
  EXPECT_TRUE(std::holds_alternative<std::monostate>(n[2]));
  EXPECT_EQ(std::get<std::int64_t>(n[5]), 50000);
  EXPECT_EQ(std::get<double>(n[7]), 0.0);
  EXPECT_EQ(std::get<std::string>(n[8]), "");  // empty text is not NULL
  EXPECT_TRUE(std::holds_alternative<std::monostate>(n[9]));
}

TEST(ParseText, AcceptsAByteOrderMarkAndWindowsLineEnds) {
  const TDatabase db = Parse("\xEF\xBB\xBFtable T\r\n A text(5)\r\nend\r\nrows T\r\n \"ab\"\r\nend\r\n");
  ASSERT_EQ(db.Tables.size(), 1u);
  EXPECT_EQ(std::get<std::string>(db.Tables[0].Rows.at(0).at(0)), "ab");
}

TEST(ParseText, RowsMayFollowInALaterSourceOrBlock) {
  TDatabase db;
  ParseText("table Brands\n ID autonumber\n Name text(50)\nend\n", "schema.txt", db);
  ParseText("rows brands\n 1, \"A\"\nend\nrows Brands\n 2, \"B\"\nend\n", "data.txt", db);
  ASSERT_EQ(db.Tables.size(), 1u);
  EXPECT_EQ(db.Tables[0].Rows.size(), 2u);
}

TEST(ParseText, ReportsTheSourceLineOfEachError) {
  const std::string head = "table T\n ID autonumber\n Name text(3)\n Flag boolean\nend\nrows T\n";
  EXPECT_EQ(ParseError(head + " 1, \"abcd\", yes\nend\n"), "t.txt:7: text longer than 3 characters for column 'Name'");
  EXPECT_EQ(ParseError(head + " 1, \"abc\"\nend\n"), "t.txt:7: table 'T' has 3 columns, the row gives 2 values");
  EXPECT_EQ(ParseError(head + " 1, \"abc\", null\nend\n"), "t.txt:7: a Yes/No value cannot be null (column 'Flag')");
  EXPECT_EQ(ParseError(head + " null, \"abc\", no\nend\n"), "t.txt:7: an AutoNumber value cannot be null (column 'ID')");
  EXPECT_EQ(ParseError(head + " 2147483648, \"a\", no\nend\n"),
            "t.txt:7: column 'ID' out of range -2147483648..2147483647: 2147483648");
  EXPECT_EQ(ParseError(head + " 1, \"abc, no\nend\n"), "t.txt:7: unterminated string");
  EXPECT_EQ(ParseError(head + " 1,, no\nend\n"), "t.txt:7: missing value before ','");
  EXPECT_EQ(ParseError(head + " 1, \"a\" no\nend\n"), "t.txt:7: expected ',' between values");
  EXPECT_EQ(ParseError(head + " 1, abc, no\nend\n"), "t.txt:7: expected a quoted string or null for column 'Name'");
  EXPECT_EQ(ParseError(head + " 1, \"\\q\", no\nend\n"), "t.txt:7: unknown escape '\\q'");
  EXPECT_EQ(ParseError(head + " 1, \"a\", maybe\nend\n"), "t.txt:7: expected yes or no for column 'Flag'");
  EXPECT_EQ(ParseError(head + " 1, \"a\", no\n"), "t.txt:8: missing 'end' of the block begun at line 6");
  EXPECT_EQ(ParseError("table T\n ID text(256)\nend\n"), "t.txt:2: text length must be 1 to 255");
  EXPECT_EQ(ParseError("table T\n ID float\nend\n"), "t.txt:2: unknown column type 'float'");
  EXPECT_EQ(ParseError("table T\n ID long plain\nend\n"),
            "t.txt:2: 'plain' and 'compressed' apply to text and memo columns only");
  EXPECT_EQ(ParseError("table T\n A long\n a long\nend\n"), "t.txt:3: column 'a' is declared twice");
  EXPECT_EQ(ParseError("table T\nend\n"), "t.txt:2: table 'T' has no columns");
  EXPECT_EQ(ParseError("table T\n A long\nend\ntable t\n"), "t.txt:4: table 't' is declared twice");
  EXPECT_EQ(ParseError("rows T\nend\n"), "t.txt:1: rows for undeclared table 'T'");
  EXPECT_EQ(ParseError("tables T\n"), "t.txt:1: expected 'table', 'rows' or 'option'");
  EXPECT_EQ(ParseError("option text zipped\n"), "t.txt:1: expected 'plain' or 'compressed', not 'zipped'");
}

TEST(ParseText, ChecksNumbersDatesAndTextEncodings) {
  const std::string head = "table T\n B byte\n I integer\n M currency\n D datetime\n X double\n S text(5)\nend\nrows T\n";
  EXPECT_NE(ParseError(head + " 256, 0, 0, null, 0, null\nend\n").find("out of range 0..255"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 32768, 0, null, 0, null\nend\n").find("out of range -32768..32767"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 1.23456, null, 0, null\nend\n").find("at most four decimals"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 1., null, 0, null\nend\n").find("at most four decimals"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 0, \"2001-02-29\", 0, null\nend\n").find("invalid date"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 0, \"2001-2-3\", 0, null\nend\n").find("YYYY-MM-DD"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 0, null, inf, null\nend\n").find("finite number"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 0, null, 0, \"\xC3\x28\"\nend\n").find("UTF-8"), std::string::npos);
  EXPECT_NE(ParseError(head + " 0, 0, 0, null, 0, \"\\u0000\"\nend\n").find("null or surrogate"), std::string::npos);
  // Currency over its whole range, and not beyond.
  const std::string money = "table T\n M currency\nend\nrows T\n";
  const TDatabase limits = Parse(money + " 922337203685477.5807\n -922337203685477.5808\n 123456789012.3456\nend\n");
  EXPECT_EQ(std::get<std::int64_t>(limits.Tables[0].Rows[0][0]), INT64_MAX);
  EXPECT_EQ(std::get<std::int64_t>(limits.Tables[0].Rows[1][0]), INT64_MIN);
  EXPECT_EQ(std::get<std::int64_t>(limits.Tables[0].Rows[2][0]), 1234567890123456);
  EXPECT_NE(ParseError(money + " 922337203685477.5808\nend\n").find("out of range"), std::string::npos);
  EXPECT_NE(ParseError(money + " -922337203685477.5809\nend\n").find("out of range"), std::string::npos);
  EXPECT_NE(ParseError(money + " 99999999999999999999\nend\n").find("out of range"), std::string::npos);
  // Five characters of two bytes each fit text(5): the limit counts characters.
  EXPECT_EQ(ParseError(head + " 0, 0, 0, null, 0, \"ддддд\"\nend\n"), "");
}

TEST(EncodeDateTime, CountsDaysFrom1899December30WithTheTimeAsFraction) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2004, 5, 28, 18), 38135.75);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1753, 1, 1), -53688.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(100, 1, 1), -657434.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);  // the time counts away from zero
  EXPECT_DOUBLE_EQ(EncodeDateTime(9999, 12, 31), 2958465.0);
  EXPECT_THROW(EncodeDateTime(2000, 13, 1), EJet4Error);
  EXPECT_THROW(EncodeDateTime(2000, 4, 31), EJet4Error);
  EXPECT_THROW(EncodeDateTime(99, 1, 1), EJet4Error);
}
