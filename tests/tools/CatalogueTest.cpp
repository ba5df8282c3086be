// The catalogue files made with the writer: the schema, the demo catalogue with its pictures, the test
// catalogues and the generated large catalogue.
#include "tools/jet4/Jet4Text.h"

#include "support/TestSupport.h"
#include "tools/MdbRead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kTables = {"Brands", "Models", "Engines", "Fuels", "Auto",
                                          "EngineDefs", "EngineTypes", "Parts", "Serials"};

fs::path TestCatalogue(const std::string& name) { return fs::path(KELV_TEST_CATALOGUES) / (name + ".mdb"); }

// Every table of a catalogue through libmdb.
std::map<std::string, TTableRead> ReadAll(const fs::path& file) {
  std::map<std::string, TTableRead> out;
  for (const auto& t : kTables) out[t] = ReadWithLibmdb(file, t);
  return out;
}

// Rows of a table as maps from column name to value.
std::vector<std::map<std::string, TCell>> Records(const TTableRead& t) {
  std::vector<std::map<std::string, TCell>> out;
  for (const auto& r : t.Rows) {
    std::map<std::string, TCell> m;
    for (std::size_t i = 0; i < r.size(); ++i) m[t.Columns[i]] = r[i];
    out.push_back(std::move(m));
  }
  return out;
}

std::map<std::string, std::map<std::string, TCell>> ById(const TTableRead& t) {
  std::map<std::string, std::map<std::string, TCell>> out;
  for (auto& r : Records(t)) out[*r.at("ID")] = r;
  return out;
}

std::size_t Count(const std::string& file, const std::string& table) {
  return static_cast<std::size_t>(std::stoul(MdbTool("mdb-count " + Quote(file) + " " + Quote(table))));
}

bool HasCyrillic(const std::string& s) { return s.find("\xD0") != std::string::npos || s.find("\xD1") != std::string::npos; }

}  // namespace

TEST(CatalogueSchema, NineTablesWithTheirColumnTypes) {
  SKIP_WITHOUT_PROGRAM("mdb-schema");
  const std::map<std::string, std::vector<std::string>> expected = {
      {"Brands", {"[ID]\t\t\tLong Integer", "[Name]\t\t\tText (50)"}},
      {"Models", {"[ID]\t\t\tLong Integer", "[Name]\t\t\tText (50)", "[Brand_ID]\t\t\tLong Integer"}},
      {"Engines", {"[ID]", "[Def]\t\t\tText (50)", "[Model_ID]\t\t\tLong Integer", "[Fuel_ID]\t\t\tLong Integer",
                   "[Type]\t\t\tText (50)"}},
      {"Fuels", {"[ID]", "[Def]\t\t\tText (50)"}},
      {"Auto", {"[ID]", "[Engine_ID]\t\t\tLong Integer", "[Brand_ID]\t\t\tLong Integer", "[Model_ID]\t\t\tLong Integer",
                "[Fuel_ID]\t\t\tLong Integer", "[Def]\t\t\tText (50)", "[Picture]\t\t\tText (255)",
                "[StartYear]\t\t\tInteger", "[StartMonth]\t\t\tInteger", "[EndYear]\t\t\tInteger",
                "[EndMonth]\t\t\tInteger", "[Others]\t\t\tText (255)", "[hatchback]\t\t\tBoolean NOT NULL",
                "[sedan]\t\t\tBoolean NOT NULL", "[cabrio]\t\t\tBoolean NOT NULL", "[estate]\t\t\tBoolean NOT NULL",
                "[van]\t\t\tBoolean NOT NULL", "[coupe]\t\t\tBoolean NOT NULL"}},
      {"EngineDefs", {"[ID]", "[Auto_ID]\t\t\tLong Integer", "[Def]\t\t\tText (50)", "[cc]\t\t\tLong Integer",
                      "[HP]\t\t\tLong Integer", "[KW]\t\t\tLong Integer"}},
      {"EngineTypes", {"[ID]", "[Auto_ID]\t\t\tLong Integer", "[Def]\t\t\tText (50)"}},
      {"Parts", {"[ID]", "[Name]\t\t\tText (50)"}},
      {"Serials", {"[ID]", "[Auto_ID]\t\t\tLong Integer", "[Part_ID]\t\t\tLong Integer", "[SerialKELV]\t\t\tText (50)",
                   "[SerialBOSAL]\t\t\tText (50)", "[SerialWALKER]\t\t\tText (50)", "[Other]\t\t\tText (255)"}}};
  const std::string file = TestCatalogue("edge").string();
  EXPECT_EQ(MdbTool("mdb-tables -1 " + Quote(file)),
            "Brands\nModels\nEngines\nFuels\nAuto\nEngineDefs\nEngineTypes\nParts\nSerials\n");
  for (const auto& [table, lines] : expected) {
    SCOPED_TRACE(table);
    const std::string schema = MdbTool("mdb-schema -T " + table + " " + Quote(file));
    std::size_t at = 0;
    for (const auto& line : lines) {
      const std::size_t found = schema.find("\t" + line, at);
      ASSERT_NE(found, std::string::npos) << line << "\n" << schema;
      at = found + 1;
    }
    EXPECT_EQ(std::count(schema.begin(), schema.end(), '['), static_cast<long>(lines.size()) + 1);
    // Every ID is an AutoNumber: a SERIAL for the PostgreSQL backend.
    EXPECT_NE(MdbTool("mdb-schema -T " + table + " " + Quote(file) + " postgres").find("\"id\"\t\t\tSERIAL"),
              std::string::npos);
  }
}

TEST(DemoCatalogue, KeysOfEveryCarVersionAgree) {
  const auto db = ReadAll(KELV_DEMO_DATABASE);
  const auto brands = ById(db.at("Brands")), models = ById(db.at("Models")), engines = ById(db.at("Engines")),
             fuels = ById(db.at("Fuels")), parts = ById(db.at("Parts"));
  ASSERT_GE(brands.size(), 4u);
  ASSERT_GE(fuels.size(), 3u);
  std::map<std::string, int> defs, serials;
  for (const auto& r : Records(db.at("EngineDefs"))) ++defs[*r.at("Auto_ID")];
  for (const auto& r : Records(db.at("Serials"))) {
    ++serials[*r.at("Auto_ID")];
    EXPECT_TRUE(parts.count(*r.at("Part_ID")));
  }
  const auto autos = Records(db.at("Auto"));
  ASSERT_GE(autos.size(), 20u);
  for (const auto& a : autos) {
    SCOPED_TRACE("Auto " + *a.at("ID"));
    const auto& engine = engines.at(*a.at("Engine_ID"));
    EXPECT_EQ(engine.at("Model_ID"), a.at("Model_ID"));
    EXPECT_EQ(engine.at("Fuel_ID"), a.at("Fuel_ID"));
    EXPECT_TRUE(fuels.count(*a.at("Fuel_ID")));
    EXPECT_EQ(models.at(*a.at("Model_ID")).at("Brand_ID"), a.at("Brand_ID"));
    EXPECT_TRUE(brands.count(*a.at("Brand_ID")));
    EXPECT_EQ(defs[*a.at("ID")], 1);
    EXPECT_GE(serials[*a.at("ID")], 1);
  }
  for (const auto& r : Records(db.at("EngineTypes"))) EXPECT_TRUE(std::any_of(autos.begin(), autos.end(), [&](auto& a) {
    return a.at("ID") == r.at("Auto_ID");
  }));
}

TEST(DemoCatalogue, CoversBodiesNumberingsBulgarianTextAndABrandWithASlash) {
  const auto db = ReadAll(KELV_DEMO_DATABASE);
  std::map<std::string, int> bodies;
  int withPicture = 0, withoutPicture = 0;
  for (const auto& a : Records(db.at("Auto"))) {
    for (const char* b : {"hatchback", "sedan", "cabrio", "estate", "van", "coupe"}) bodies[b] += *a.at(b) == "1";
    (a.at("Picture").value_or("").empty() ? withoutPicture : withPicture)++;
  }
  for (const auto& [body, n] : bodies) EXPECT_GE(n, 1) << body;
  EXPECT_EQ(bodies.size(), 6u);
  EXPECT_GE(withPicture, 10);
  EXPECT_GE(withoutPicture, 2);
  bool slash = false;
  for (const auto& b : Records(db.at("Brands"))) slash |= b.at("Name")->find('/') != std::string::npos;
  EXPECT_TRUE(slash);
  const std::regex kelv("[A-Z0-9]{2}\\.[A-Z0-9]{2}\\.[A-Z0-9]{2}"), bosal("[0-9]{3}-[0-9]{3}"), walker("[0-9]{5}");
  for (const auto& s : Records(db.at("Serials"))) {
    EXPECT_TRUE(std::regex_match(*s.at("SerialKELV"), kelv)) << *s.at("SerialKELV");
    EXPECT_TRUE(std::regex_match(*s.at("SerialBOSAL"), bosal)) << *s.at("SerialBOSAL");
    EXPECT_TRUE(std::regex_match(*s.at("SerialWALKER"), walker)) << *s.at("SerialWALKER");
  }
  for (const char* t : {"Fuels", "Parts"})
    for (const auto& r : db.at(t).Rows) EXPECT_TRUE(HasCyrillic(*r.at(1))) << *r.at(1);
  EXPECT_GE(db.at("EngineTypes").Rows.size(), db.at("Auto").Rows.size());
}

TEST(DemoCatalogue, EveryPictureNamedLiesInItsBrandFolder) {
  const auto db = ReadAll(KELV_DEMO_DATABASE);
  const auto brands = ById(db.at("Brands"));
  const fs::path images = testsupport::SourceDir() / "demo" / "images";
  std::set<fs::path> named;
  bool folderInValue = false;
  for (const auto& a : Records(db.at("Auto"))) {
    const std::string value = a.at("Picture").value_or("");
    if (value.empty()) continue;
    const std::size_t cut = value.find_last_of("\\/");
    folderInValue |= cut != std::string::npos;
    std::string folder = *brands.at(*a.at("Brand_ID")).at("Name");
    std::replace(folder.begin(), folder.end(), '/', '-');
    const fs::path file = images / folder / value.substr(cut == std::string::npos ? 0 : cut + 1);
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
    named.insert(file);
  }
  EXPECT_TRUE(folderInValue);
  std::set<std::string> kinds;
  for (const auto& e : fs::recursive_directory_iterator(images)) {
    if (!e.is_regular_file() || e.path().extension() == ".sh") continue;
    EXPECT_TRUE(named.count(e.path())) << "not named by any car version: " << e.path();
    EXPECT_LT(e.file_size(), 16u * 1024) << e.path();
    const auto bytes = testsupport::ReadFile(e.path());
    ASSERT_GE(bytes.size(), 6u);
    if (e.path().extension() == ".jpg") {
      EXPECT_TRUE(bytes[0] == 0xFF && bytes[1] == 0xD8) << e.path();
    } else {
      EXPECT_EQ(e.path().extension(), ".gif");
      EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a") << e.path();
    }
    kinds.insert(e.path().extension());
  }
  EXPECT_EQ(kinds, (std::set<std::string>{".gif", ".jpg"}));
}

TEST(TestCatalogues, EdgeCatalogueHoldsItsAwkwardCases) {
  const auto db = ReadAll(TestCatalogue("edge"));
  const auto autos = ById(db.at("Auto"));
  std::set<std::string> withDefs, withSerials, fuels;
  for (const auto& r : Records(db.at("EngineDefs"))) withDefs.insert(*r.at("Auto_ID"));
  for (const auto& r : Records(db.at("Serials"))) withSerials.insert(*r.at("Auto_ID"));
  for (const auto& r : Records(db.at("Fuels"))) fuels.insert(*r.at("ID"));
  EXPECT_FALSE(withDefs.count("4"));                       // no engine data
  EXPECT_FALSE(fuels.count(*autos.at("3").at("Fuel_ID")));  // fuel without a Fuels row
  EXPECT_FALSE(withSerials.count("5"));                    // no catalogue numbers
  for (const char* b : {"hatchback", "sedan", "cabrio", "estate", "van", "coupe"}) EXPECT_EQ(autos.at("5").at(b), "0");
  for (const char* f : {"StartYear", "StartMonth", "EndYear", "EndMonth"}) EXPECT_FALSE(autos.at("5").at(f)) << f;
  EXPECT_EQ(autos.at("6").at("Picture"), "");              // empty, not null
  EXPECT_FALSE(autos.at("5").at("Picture"));
  // Quotes, long numbers, and the same number in lower and upper case.
  const auto fuelRows = ById(db.at("Fuels"));
  EXPECT_EQ(fuelRows.at("3").at("Def"), "Бензин 'Супер'");
  EXPECT_EQ(fuelRows.at("4").at("Def"), "Газ \"CNG\"");
  const auto serials = ById(db.at("Serials"));
  EXPECT_EQ(serials.at("9").at("SerialKELV"), "SK'19.02");
  EXPECT_EQ(serials.at("8").at("SerialWALKER"), "O'Neil-7");
  EXPECT_GT(serials.at("7").at("SerialKELV")->size(), 10u);
  EXPECT_GT(serials.at("7").at("SerialWALKER")->size(), 20u);
  EXPECT_EQ(serials.at("10").at("SerialKELV"), "fo.12.ab");
  EXPECT_EQ(serials.at("11").at("SerialKELV"), "FO.12.AB");
  // Identifiers of more than five digits, and brands in insertion order rather than by ID.
  EXPECT_TRUE(ById(db.at("Engines")).count("1234567"));
  EXPECT_EQ(db.at("Brands").Rows.at(2).at(0), "123456");
  EXPECT_EQ(db.at("Brands").Rows.at(3).at(0), "4");
}

TEST(TestCatalogues, PlainAndCompressedFilesHoldTheSameData) {
  for (const std::string name : {"edge", "types"}) {
    SCOPED_TRACE(name);
    const fs::path compressed = TestCatalogue(name), plain = TestCatalogue(name + "-plain");
    for (const auto& t : name == "edge" ? kTables : std::vector<std::string>{"Types", "Empty"}) {
      const TTableRead a = ReadWithLibmdb(compressed, t), b = ReadWithLibmdb(plain, t);
      EXPECT_EQ(a.Columns, b.Columns) << t;
      EXPECT_EQ(a.Rows, b.Rows) << t;
    }
  }
  // Text in the compressed file is stored compressed where that is shorter, in the plain one never.
  const auto bc = Bytes(TestCatalogue("edge")), bp = Bytes(TestCatalogue("edge-plain"));
  const std::string packed = "\xFF\xFE" "Ford";
  const std::vector<std::uint8_t> ford(packed.begin(), packed.end()), marker{0xFF, 0xFE};
  EXPECT_NE(std::search(bc.begin(), bc.end(), ford.begin(), ford.end()), bc.end());
  EXPECT_EQ(std::search(bp.begin(), bp.end(), marker.begin(), marker.end()), bp.end());
  const TTableRead types = ReadWithLibmdb(TestCatalogue("types"), "Types");
  ASSERT_EQ(types.Rows.size(), 6u);
  EXPECT_EQ(types.Rows[1][9], std::nullopt);
  EXPECT_EQ(types.Rows[2][9], "");
  // The memo of 8,970 characters over several long-value pages comes back whole.
  jet4::TDatabase source;
  const auto text = testsupport::ReadFile(testsupport::SourceDir() / "tests/data/catalogues/types.txt");
  jet4::ParseText(std::string(text.begin(), text.end()), "types.txt", source);
  const std::string& note = std::get<std::string>(source.Tables.at(0).Rows.at(4).at(12));
  EXPECT_EQ(jet4::Utf8ToUtf16(note).size(), 8970u);
  EXPECT_EQ(types.Rows[4][12], note);
}

TEST(TestCatalogues, EmptyAndLongBrandCatalogues) {
  for (const auto& [t, read] : ReadAll(TestCatalogue("empty"))) {
    EXPECT_TRUE(read.Rows.empty()) << t;
    EXPECT_FALSE(read.Columns.empty()) << t;
  }
  const auto brands = ReadWithLibmdb(TestCatalogue("long-brand"), "Brands");
  ASSERT_EQ(brands.Rows.size(), 2u);
  const std::string name = *brands.Rows[0][1];
  EXPECT_GT(name.size(), 120u);  // over 60 Cyrillic characters of two bytes each
  EXPECT_EQ(name.substr(0, 22), "Автомобилна");
}

TEST(GenCatalogue, LargeCatalogueHasTheAskedSizesAndTheSameBytesEachRun) {
  SKIP_WITHOUT_PROGRAM("mdb-count");
  testsupport::TempDir dir;
  const fs::path out = dir / "large.mdb";
  ASSERT_EQ(testsupport::RunCommand(Quote(KELV_GENCATALOGUE) + " " +
                                    Quote((testsupport::SourceDir() / "tools/catalogue/schema.txt").string()) + " " +
                                    Quote(out.string())),
            0);
  if (fs::exists(KELV_LARGE_CATALOGUE)) {
    EXPECT_TRUE(Bytes(out) == Bytes(KELV_LARGE_CATALOGUE));
  }
  const std::map<std::string, std::size_t> sizes = {{"Brands", 60},    {"Models", 2000},      {"Engines", 10000},
                                                    {"Auto", 40000},   {"EngineDefs", 40000}, {"Serials", 200000},
                                                    {"Fuels", 5},      {"Parts", 12}};
  for (const auto& [table, n] : sizes) EXPECT_EQ(Count(out.string(), table), n) << table;
  EXPECT_GE(Count(out.string(), "EngineTypes"), 40000u);
  const auto brands = ReadWithLibmdb(out, "Brands");
  EXPECT_TRUE(std::any_of(brands.Rows.begin(), brands.Rows.end(),
                          [](const auto& r) { return r[1]->find('/') != std::string::npos; }));
}
