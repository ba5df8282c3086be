// The report project format: good files read into the model, bad ones rejected with the line
// and a clear reason.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/report/RavFormat.h"
#include "support/TestSupport.h"

using namespace kelvrep;

namespace {

TProjectDef Parse(const std::string& Text) { return ParseProject(Text, "test.rav"); }

// The message of the error that parsing raises, or "" when it parses.
std::string ErrorOf(const std::string& Text) {
  try {
    Parse(Text);
  } catch (const EReportError& E) {
    return E.Message();
  }
  return {};
}

std::string Report(const std::string& Body) { return "kelvrav 1\nreport \"R\"\n" + Body + "end\n"; }

}  // namespace

TEST(RavFormat, ReadsEveryKindOfItem) {
  const TProjectDef p = Parse(
      "\xEF\xBB\xBFkelvrav 1\r\n"
      "# comment\r\n"
      "report \"Лист\"   # trailing comment\n"
      "  page A4 margin=10\n"
      "  font Body \"DejaVu Sans\" 9.5\n"
      "  font Head \"DejaVu Sans\" 12 bold italic\n"
      "  band 40\n"
      "    text 1 2 100 8 \"Марка: {Car.Brands.Name}\" font=Head align=right color=#1F3864\n"
      "    line 0 39 190 39 width=0.5 color=#ff0000\n"
      "    box 0 0 50 20 width=0 fill=#EEEEEE\n"
      "    image 120 0 70 30 bmpPicture\n"
      "    icons 0 25 8 gap=3\n"
      "      icon bmpVan \"Ван\"\n"
      "      icon bmpCoupe \"Купе \\\"2+2\\\"\"\n"
      "    end\n"
      "  end\n"
      "  table Rows header=Head rowheight=7 headerfill=#E0E0E0 empty=\"Няма\"\n"
      "    column 90 \"Част\" \"{Rows.Name}\"\n"
      "    column 100 \"Номер\" \"{Rows.Serial}\" align=center\n"
      "  end\n"
      "end\n"
      "report \"Second\"\n"
      "  band 10\n"
      "  end\n"
      "end\n");
  ASSERT_EQ(p.Reports.size(), 2u);
  const TReportDef& r = p.Reports[0];
  EXPECT_EQ(r.Name, "Лист");
  EXPECT_DOUBLE_EQ(r.Margin, 10);
  ASSERT_EQ(r.Fonts.size(), 2u);
  EXPECT_EQ(r.Fonts[1].Family, "DejaVu Sans");
  EXPECT_DOUBLE_EQ(r.Fonts[0].Size, 9.5);
  EXPECT_TRUE(r.Fonts[1].Bold && r.Fonts[1].Italic);
  ASSERT_EQ(r.Blocks.size(), 2u);

  const TBlock& band = r.Blocks[0];
  ASSERT_EQ(band.Items.size(), 5u);
  const TItem& text = band.Items[0];
  EXPECT_EQ(text.Type, TItem::Text);
  EXPECT_EQ(text.Font, 1);
  EXPECT_EQ(text.Align, TAlign::Right);
  EXPECT_EQ(text.Color, 0x1F3864u);
  ASSERT_EQ(text.Content.size(), 2u);
  EXPECT_EQ(text.Content[0].Text, "Марка: ");
  EXPECT_EQ(text.Content[1].Connection, "Car");
  EXPECT_EQ(text.Content[1].Field, "Brands.Name");
  EXPECT_EQ(band.Items[1].Color, 0xFF0000u);
  EXPECT_DOUBLE_EQ(band.Items[1].PenWidth, 0.5);
  EXPECT_TRUE(band.Items[2].HasFill);
  EXPECT_DOUBLE_EQ(band.Items[2].PenWidth, 0);
  EXPECT_EQ(band.Items[3].Param, "bmpPicture");
  const TItem& icons = band.Items[4];
  ASSERT_EQ(icons.IconList.size(), 2u);
  EXPECT_EQ(icons.IconList[1].Param, "bmpCoupe");
  EXPECT_EQ(icons.IconList[1].Caption, "Купе \"2+2\"");
  EXPECT_EQ(icons.Font, 0);  // the first font when none is named

  const TBlock& table = r.Blocks[1];
  EXPECT_EQ(table.Type, TBlock::Table);
  EXPECT_EQ(table.Connection, "Rows");
  EXPECT_EQ(table.HeaderFont, 1);
  EXPECT_EQ(table.Font, 0);
  EXPECT_EQ(table.Empty, "Няма");
  ASSERT_EQ(table.Columns.size(), 2u);
  EXPECT_EQ(table.Columns[1].Align, TAlign::Center);

  // A report without fonts gets a Cyrillic-capable default; names are found without regard to case.
  ASSERT_NE(p.FindReport("second"), nullptr);
  EXPECT_EQ(p.FindReport("second")->Fonts.at(0).Family, "DejaVu Sans");
  EXPECT_EQ(p.FindReport("third"), nullptr);
}

TEST(RavFormat, TemplatesSplitLiteralTextAndFields) {
  TTemplate t = ParseTemplate("от {A.StartMonth}.{A.StartYear} {{не поле}}");
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].Text, "от ");
  EXPECT_EQ(t[1].Field, "StartMonth");
  EXPECT_EQ(t[2].Text, ".");
  EXPECT_EQ(t[3].Field, "StartYear");
  EXPECT_EQ(t[4].Text, " {не поле}");
  EXPECT_TRUE(ParseTemplate("").empty());

  for (const char* bad : {"{A.B", "{AB}", "{.B}", "{A.}", "{A{B.C}", "a } b", "{}"})
    EXPECT_THROW(ParseTemplate(bad), EReportError) << bad;
}

TEST(RavFormat, TheShippedProjectReads) {
  std::ifstream in(testsupport::SourceDir() / "app/report/kelv2.rav", std::ios::binary);
  ASSERT_TRUE(in) << "app/report/kelv2.rav";
  std::stringstream text;
  text << in.rdbuf();
  const TProjectDef p = ParseProject(text.str(), "kelv2.rav");
  const TReportDef* r = p.FindReport("MasterReport");
  ASSERT_NE(r, nullptr);
  std::vector<std::string> tables;
  for (const TBlock& b : r->Blocks)
    if (b.Type == TBlock::Table) tables.push_back(b.Connection);
  EXPECT_EQ(tables, (std::vector<std::string>{"rvDSEngineDefs", "rvDSEngineTypes", "rvDSSerials"}));
}

TEST(RavFormat, BadFilesNameTheLineAndTheFault) {
  struct TCase {
    std::string Text;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {"", "test.rav, line 1: the file is empty"},
      {"# only a comment\n", "the file is empty"},
      {"<?xml version=\"1.0\"?>\n", "line 1: not a report project"},
      {"kelvrav 2\n", "version 2 is not known"},
      {"kelvrav 1\n", "the project has no report"},
      {"kelvrav 1\nband 10\n", "line 2: expected 'report'"},
      {"kelvrav 1\nreport R\nend\n", "'report' needs its name in quotes"},
      {"kelvrav 1\nreport \"\"\nend\n", "a report name cannot be empty"},
      {"kelvrav 1\nreport \"R\"\n  band 10\n  end\n", "line 2: report \"R\" is not closed with 'end'"},
      {"kelvrav 1\nreport \"R\"\nend\nreport \"r\"\nend\n", "line 4: a report named \"r\" is defined twice"},
      {Report("  colour 1\n"), "line 3: unknown keyword 'colour' in a report"},
      {Report("  band 10\n    txt 0 0 10 5 \"a\"\n  end\n"), "line 4: unknown item 'txt' in a band"},
      {Report("  band 10\n    text 0 0 10 5 \"a\" size=3\n  end\n"), "unknown option size for 'text'"},
      {Report("  band 10\n    text 0 0 10 \"a\"\n  end\n"), "'text' needs X Y W H and the text in quotes"},
      {Report("  band 10\n    text 0 0 1O 5 \"a\"\n  end\n"), "a position or size must be a number, not '1O'"},
      {Report("  band 10\n    text 0 0 -1 5 \"a\"\n  end\n"), "a position or size -1 is outside 0 to 1000"},
      {Report("  band 10\n    text 0 0 nan 5 \"a\"\n  end\n"), "must be a number, not 'nan'"},
      {Report("  band 10\n    text 0 0 181 5 \"a\"\n  end\n"), "line 4: the item reaches past its band (180 x 10 mm)"},
      {Report("  band 10\n    text 0 8 10 5 \"a\"\n  end\n"), "the item reaches past its band"},
      {Report("  band 10\n    line 0 0 0 11\n  end\n"), "the line reaches past its band"},
      {Report("  band 10\n    text 0 0 10 5 \"a\" font=Head\n  end\n"), "no font named 'Head' is defined"},
      {Report("  band 10\n    text 0 0 10 5 \"{Car}\"\n  end\n"), "a field is written {Connection.Field}, not {Car}"},
      {Report("  band 10\n    text 0 0 10 5 \"a\n  end\n"), "line 4: a quoted text is not closed"},
      {Report("  band 10\n    text 0 0 10 5 \"a\\t\"\n  end\n"), "unknown escape \\t"},
      {Report("  band 10\n    text 0 0 10 5 \"a\"font=x\n  end\n"), "a quoted text must be followed by a space"},
      {Report("  band 10\n    box 0 0 10 5 fill=red\n  end\n"), "a colour is written #RRGGBB, not 'red'"},
      {Report("  band 10\n    box 0 0 10 5 fill=#12345G\n  end\n"), "#RRGGBB"},
      {Report("  band 10\n    box 0 0 10 5 width=1 width=2\n  end\n"), "option width is given twice"},
      {Report("  band 10\n    box 0 0 10 5 width=\n  end\n"), "option width has no value"},
      {Report("  band 10\n    text 0 0 10 5 \"a\" align=justify\n  end\n"), "align is left, center or right"},
      {Report("  band 10\n    image 0 0 10 5 \"bmpA\"\n  end\n"), "'image' needs X Y W H and a parameter name"},
      {Report("  band 10\n    icons 0 0 5\n    end\n  end\n"), "line 5: 'icons' has no icon"},
      {Report("  band 10\n    icons 0 0 8\n      icon bmpA \"A\"\n    end\n  end\n"), "the item reaches past its band"},
      {Report("  band 20\n    icons 0 0 8\n      pic bmpA \"A\"\n    end\n  end\n"), "only 'icon' lines and 'end'"},
      {Report("  band 0\n  end\n"), "a band must be above 0 and fit on the page"},
      {Report("  band 268\n  end\n"), "a band must be above 0 and fit on the page"},
      {Report("  band 10\n  end now\n"), "'end' stands alone on its line"},
      {Report("  band 10\n  end\n  page A4\n"), "'page' must come before the first band or table"},
      {Report("  page A5\n"), "'page' takes the page size A4"},
      {Report("  page A4 margin=60\n"), "margin 60 is outside 0 to 50"},
      {Report("  page A4\n  page A4\n"), "'page' is given twice"},
      {Report("  font F \"DejaVu Sans\" 10\n  font F \"DejaVu Sans\" 12\n"), "a font named 'F' is defined twice"},
      {Report("  font F DejaVu 10\n"), "'font' needs a name, the family in quotes and a size"},
      {Report("  font F \"DejaVu Sans\" 10 heavy\n"), "bold and italic after its size, not 'heavy'"},
      {Report("  font F \"DejaVu Sans\" 200\n"), "font size 200 is outside 1 to 144"},
      {Report("  table Rows\n  end\n"), "line 4: 'table' has no column"},
      {Report("  table Rows.X\n  end\n"), "a data connection name has no '.'"},
      {Report("  table Rows\n    column 100 \"A\" \"{Rows.A}\"\n    column 81 \"B\" \"{Rows.B}\"\n  end\n"),
       "line 5: the columns are wider than the page"},
      {Report("  table Rows\n    column 100 \"A\"\n  end\n"), "'column' needs a width, the heading in quotes"},
      {Report("  table Rows\n    text 0 0 1 1 \"a\"\n  end\n"), "only 'column' lines and 'end' go inside 'table'"},
      {"kelvrav 1\nreport \"R\"\n  table Rows\n    column 10 \"A\" \"{Rows.A}\"\n",
       "line 3: 'table' is not closed with 'end'"},
      {Report("  \"band\" 10\n"), "a line must begin with a keyword"},
      {Report("  band =10\n"), "'=' without an option name"},
  };
  for (const TCase& c : cases) {
    const std::string message = ErrorOf(c.Text);
    EXPECT_NE(message.find(c.Expected), std::string::npos) << "input:\n" << c.Text << "\nmessage: " << message;
    EXPECT_EQ(message.rfind("test.rav, line ", 0), 0u) << message;
  }
}

TEST(RavFormat, OversizedFileIsRefusedBeforeParsing) {
  std::string big = "kelvrav 1\n" + std::string(kMaxProjectSize, '#');
  const std::string message = ErrorOf(big);
  EXPECT_NE(message.find("too large"), std::string::npos) << message;
}
