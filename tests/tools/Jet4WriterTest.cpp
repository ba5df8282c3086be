// The Jet 4.0 writer against mdbtools (mdb-ver, mdb-tables, mdb-schema, mdb-export, libmdb) and against
// the layout of real Jet 4.0 files.
#include "tools/jet4/Jet4Text.h"
#include "tools/jet4/Jet4Writer.h"

#include "support/TestSupport.h"
#include "tools/MdbRead.h"

#include <gtest/gtest.h>

#include <mdbtools.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <limits>
#include <map>
#include <set>

using namespace jet4;
using namespace tooltest;
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kPage = 4096;

TColumn Col(const std::string& name, TColumnType type, int length = 0, TTextForm form = TTextForm::Default) {
  return TColumn{name, type, length, form};
}

std::string Repeat(const std::string& s, std::size_t n) {
  std::string r;
  for (std::size_t i = 0; i < n; ++i) r += s;
  return r;
}

fs::path Save(const testsupport::TempDir& dir, const TDatabase& db, const std::string& name = "t.mdb") {
  const fs::path p = dir / name;
  SaveDatabase(db, p.string());
  return p;
}

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t o) { return b.at(o) | (b.at(o + 1) << 8); }
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t o) {
  return U16(b, o) | (static_cast<std::uint32_t>(U16(b, o + 2)) << 16);
}

// The header area of page 0, decoded with its fixed RC4 key (an implementation of the test's own).
std::vector<std::uint8_t> DecodedHeader(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> area(file.begin() + 0x18, file.begin() + 0x18 + 128);
  const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) % 256;
    std::swap(s[i], s[j]);
  }
  int i = 0, j = 0;
  for (auto& b : area) {
    i = (i + 1) % 256;
    j = (j + s[i]) % 256;
    std::swap(s[i], s[j]);
    b ^= s[(s[i] + s[j]) % 256];
  }
  return area;
}

std::vector<fs::path> ReferenceFiles() {
  std::vector<fs::path> out;
  const fs::path dir = testsupport::TestDataDir() / "jet4";
  if (testsupport::TestDataDir().empty() || !fs::is_directory(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".mdb") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// A table of every column type, with values, NULLs, empty text, Cyrillic and a long memo.
TDatabase EveryType(TTextForm form) {
  TDatabase db;
  db.DefaultTextForm = form;
  TTable t{"Types",
           {Col("ID", TColumnType::AutoNumber), Col("Flag", TColumnType::Boolean), Col("Small", TColumnType::Byte),
            Col("Short", TColumnType::Integer), Col("Long", TColumnType::LongInteger),
            Col("Money", TColumnType::Currency), Col("Real", TColumnType::Double),
            Col("Moment", TColumnType::DateTime), Col("Name", TColumnType::Text, 255),
            Col("Note", TColumnType::Memo)},
           {}};
  using S = std::string;
  using I = std::int64_t;
  t.Rows.push_back({I{1}, true, I{7}, I{-12}, I{100000}, I{125000}, 3.25, EncodeDateTime(2004, 5, 28, 17, 46, 30),
                    S("Ford Focus"), S("Кратка бележка")});
  t.Rows.push_back({I{2}, false, {}, {}, {}, {}, {}, {}, {}, {}});
  t.Rows.push_back({I{3}, true, I{0}, I{0}, I{0}, I{0}, 0.0, 0.0, S(""), S("")});
  t.Rows.push_back({I{4}, false, I{255}, I{32767}, I{2147483647}, I{12345678901}, -1.5e-300,
                    EncodeDateTime(2099, 12, 31, 23, 59, 59), Repeat("Ж", 255), Repeat("Дълга бележка. ", 2000)});
  t.Rows.push_back({I{5}, true, I{1}, I{-32768}, I{-2147483648LL}, I{-1}, 1e300, EncodeDateTime(1900, 1, 1),
                    S("Mixed Латиница и Кирилица 123"), S("Ѐ: U+0400 keeps the text plain")});
  db.Tables.push_back(std::move(t));
  db.Tables.push_back(TTable{"Empty", {Col("ID", TColumnType::AutoNumber), Col("Name", TColumnType::Text, 50)}, {}});
  return db;
}

// What libmdb gives back for EveryType (dates as set in ReadWithLibmdb).
TRows EveryTypeExpected() {
  const TCell n;
  return {
      {"1", "1", "7", "-12", "100000", "12.5000", "3.25", "2004-05-28 17:46:30", "Ford Focus", "Кратка бележка"},
      {"2", "0", n, n, n, n, n, n, n, n},
      {"3", "1", "0", "0", "0", "0.0000", "0", "1899-12-30 00:00:00", "", ""},
      {"4", "0", "255", "32767", "2147483647", "1234567.8901", "-1.5e-300", "2099-12-31 23:59:59", Repeat("Ж", 255),
       Repeat("Дълга бележка. ", 2000)},
      {"5", "1", "1", "-32768", "-2147483648", "-0.0001", "1e+300", "1900-01-01 00:00:00",
       "Mixed Латиница и Кирилица 123", "Ѐ: U+0400 keeps the text plain"},
  };
}

bool Contains(const std::vector<std::uint8_t>& hay, const std::string& needle) {
  const std::vector<std::uint8_t> n(needle.begin(), needle.end());
  return std::search(hay.begin(), hay.end(), n.begin(), n.end()) != hay.end();
}

std::string Ucs2(const std::string& ascii) {
  std::string s;
  for (char c : ascii) {
    s += c;
    s += '\0';
  }
  return s;
}

// Structural checks that every Jet 4.0 file passes: page 0, the system catalogue, each table's
// definition, its usage map and the data pages the map lists. exact: free-space counts must match
// the rows (a file that was never edited in place).
void CheckLayout(const fs::path& file, bool exact) {
  SCOPED_TRACE(file.filename().string());
  const std::vector<std::uint8_t> b = Bytes(file);
  ASSERT_EQ(b.size() % kPage, 0u);
  const std::uint32_t pages = static_cast<std::uint32_t>(b.size() / kPage);
  ASSERT_GE(pages, 3u);
  EXPECT_EQ(std::memcmp(&b[4], "Standard Jet DB", 16), 0);
  EXPECT_EQ(U32(b, 0x14), 1u);
  auto pageType = [&](std::uint32_t p) { return b.at(static_cast<std::size_t>(p) * kPage); };

  // A data row by data pointer (page in the upper three bytes, row in the low byte).
  auto row = [&](std::uint32_t dp) -> std::vector<std::uint8_t> {
    const std::uint32_t pg = dp >> 8, r = dp & 0xFF;
    EXPECT_LT(pg, pages);
    if (pg >= pages) return {};
    const std::size_t base = static_cast<std::size_t>(pg) * kPage;
    EXPECT_EQ(b[base], 0x01);
    const std::uint32_t n = U16(b, base + 12);
    EXPECT_LT(r, n);
    if (r >= n) return {};
    const std::uint32_t start = U16(b, base + 14 + 2 * r) & 0x1FFF;
    const std::uint32_t end = r == 0 ? kPage : (U16(b, base + 14 + 2 * (r - 1)) & 0x1FFF);
    EXPECT_LE(start, end);
    return {b.begin() + static_cast<std::ptrdiff_t>(base + start), b.begin() + static_cast<std::ptrdiff_t>(base + end)};
  };
  auto mapPages = [&](const std::vector<std::uint8_t>& m) {
    std::set<std::uint32_t> out;
    if (m.empty()) return out;
    if (m[0] == 0) {
      const std::uint32_t start = U32(m, 1);
      for (std::size_t i = 5; i < m.size(); ++i)
        for (int bit = 0; bit < 8; ++bit)
          if (m[i] >> bit & 1) out.insert(start + static_cast<std::uint32_t>((i - 5) * 8 + bit));
    } else {
      EXPECT_EQ(m[0], 1);
      for (std::size_t k = 0; 1 + 4 * k + 4 <= m.size(); ++k) {
        const std::uint32_t mp = U32(m, 1 + 4 * k);
        if (mp == 0) continue;
        EXPECT_EQ(pageType(mp), 0x05);
        const std::size_t base = static_cast<std::size_t>(mp) * kPage;
        for (std::size_t i = 4; i < kPage; ++i)
          for (int bit = 0; bit < 8; ++bit)
            if (b[base + i] >> bit & 1) out.insert(static_cast<std::uint32_t>(k * (kPage - 4) * 8 + (i - 4) * 8 + bit));
      }
    }
    return out;
  };

  // Tables from the catalogue as mdbtools reads it; each Id's low three bytes are the definition page.
  const TTableRead cat = ReadWithLibmdb(file, "MSysObjects");
  ASSERT_EQ(cat.Columns.at(0), "Id");
  std::size_t tables = 0;
  bool tablesContainer = false;
  for (const auto& r : cat.Rows) {
    if (r.at(2) == "Tables" && r.at(3) == "3") tablesContainer = true;
    if (r.at(3) != "1") continue;
    const std::uint32_t def = static_cast<std::uint32_t>(std::stoll(*r.at(0))) & 0xFFFFFF;
    SCOPED_TRACE(*r.at(2));
    ASSERT_LT(def, pages);
    const std::size_t base = static_cast<std::size_t>(def) * kPage;
    ASSERT_EQ(b[base], 0x02);
    ++tables;
    if (U32(b, base + 4) != 0) continue;  // definitions over several pages are not checked further
    const std::uint32_t len = U32(b, base + 8);
    EXPECT_EQ(U16(b, base + 2), kPage - 8 - len);
    const std::uint32_t ncols = U16(b, base + 45), nvar = U16(b, base + 43);
    const std::uint32_t nridx = U32(b, base + 51);
    std::uint32_t vars = 0;
    std::size_t o = base + 63 + 12 * nridx;
    std::uint32_t fixedEnd = 0;
    for (std::uint32_t c = 0; c < ncols; ++c, o += 25) {
      const bool fixed = b[o + 15] & 0x01;
      if (!fixed) ++vars;
      else if (b[o] != 0x01) fixedEnd = std::max(fixedEnd, U16(b, o + 21) + U16(b, o + 23));
    }
    EXPECT_LE(vars, nvar);  // deleted columns still count in real files
    if (exact) {
      EXPECT_EQ(vars, nvar);
    }
    // Every page of the table's usage map is one of its data pages; the rows fit their pages.
    const std::set<std::uint32_t> used = mapPages(row(U32(b, base + 55)));
    std::size_t rows = 0;
    for (std::uint32_t p : used) {
      ASSERT_LT(p, pages);
      const std::size_t pb = static_cast<std::size_t>(p) * kPage;
      ASSERT_EQ(b[pb], 0x01);
      EXPECT_EQ(U32(b, pb + 4), def);
      const std::uint32_t n = U16(b, pb + 12);
      std::uint32_t prev = kPage, sizes = 0;
      for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t off = U16(b, pb + 14 + 2 * k);
        const std::uint32_t start = off & 0x1FFF;
        EXPECT_LE(start, prev);
        EXPECT_GE(start, 14 + 2 * n);
        if (!(off & 0xC000)) {
          ++rows;
          EXPECT_GE(U16(b, pb + start), 1u);  // the row's column count
          EXPECT_LE(U16(b, pb + start), U16(b, base + 41));
          EXPECT_GE(prev - start, 2 + fixedEnd);
        }
        sizes += prev - start;
        prev = start;
      }
      if (exact) {
        EXPECT_EQ(U16(b, pb + 2), kPage - 14 - 2 * n - sizes);
      }
    }
    if (exact) {
      EXPECT_EQ(rows, U32(b, base + 16));
    }
  }
  EXPECT_TRUE(tablesContainer);
  EXPECT_GE(tables, 4u);
}

}  // namespace

TEST(Jet4Writer, HeaderPageMatchesRealFiles) {
  testsupport::TempDir dir;
  TDatabase db = EveryType(TTextForm::Compressed);
  db.Created = EncodeDateTime(2006, 7, 24, 9, 56, 20);
  const std::vector<std::uint8_t> ours = Bytes(Save(dir, db));
  EXPECT_EQ(std::memcmp(ours.data(), "\x00\x01\x00\x00Standard Jet DB\x00\x01\x00\x00\x00", 24), 0);
  const std::vector<std::uint8_t> area = DecodedHeader(ours);
  EXPECT_EQ(U16(area, 0x3C - 0x18), 1252u);       // code page
  EXPECT_EQ(U32(area, 0x3E - 0x18), 0u);          // database key: pages not encoded
  EXPECT_EQ(U32(area, 0x6E - 0x18), 0x0409u);     // General sort order
  double created;
  std::memcpy(&created, &area[0x72 - 0x18], 8);
  EXPECT_DOUBLE_EQ(created, db.Created);
  for (int i = 0; i < 40; i += 4) EXPECT_EQ(U32(area, 0x42 - 0x18 + i), 38922u);  // empty password, date mask
  for (const fs::path& ref : ReferenceFiles()) {
    SCOPED_TRACE(ref.filename().string());
    const std::vector<std::uint8_t> theirs = Bytes(ref);
    EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 0x18, theirs.begin()));
    const std::vector<std::uint8_t> a = DecodedHeader(theirs);
    EXPECT_TRUE(std::equal(area.begin(), area.begin() + 0x2A, a.begin()));  // constants, code page, key
    EXPECT_EQ(U32(a, 0x6E - 0x18), U32(area, 0x6E - 0x18));
    double theirDate;
    std::memcpy(&theirDate, &a[0x72 - 0x18], 8);
    EXPECT_EQ(U32(a, 0x42 - 0x18), static_cast<std::uint32_t>(theirDate));  // the same password mask rule
    EXPECT_TRUE(std::equal(ours.begin() + 0x98, ours.begin() + 0xA0, theirs.begin() + 0x98));
  }
}

TEST(Jet4Writer, MdbtoolsListTablesAndColumnTypes) {
  SKIP_WITHOUT_PROGRAM("mdb-schema");
  testsupport::TempDir dir;
  const fs::path f = Save(dir, EveryType(TTextForm::Compressed));
  EXPECT_EQ(MdbTool("mdb-ver " + Quote(f)), "JET4\n");
  EXPECT_EQ(MdbTool("mdb-tables -1 " + Quote(f)), "Types\nEmpty\n");
  EXPECT_EQ(MdbTool("mdb-tables -1 -S " + Quote(f)),
            "MSysObjects\nMSysACEs\nMSysQueries\nMSysRelationships\nTypes\nEmpty\n");
  const std::string schema = MdbTool("mdb-schema -T Types " + Quote(f));
  for (const char* line : {"[ID]\t\t\tLong Integer, ", "[Flag]\t\t\tBoolean NOT NULL, ", "[Small]\t\t\tByte, ",
                           "[Short]\t\t\tInteger, ", "[Long]\t\t\tLong Integer, ", "[Money]\t\t\tCurrency, ",
                           "[Real]\t\t\tDouble, ", "[Moment]\t\t\tDateTime, ", "[Name]\t\t\tText (255), ",
                           "[Note]\t\t\tMemo/Hyperlink (255)"})
    EXPECT_NE(schema.find(line), std::string::npos) << line << "\n" << schema;
  // The auto-increment flag: the PostgreSQL backend makes the AutoNumber a SERIAL.
  EXPECT_NE(MdbTool("mdb-schema -T Types " + Quote(f) + " postgres").find("\"id\"\t\t\tSERIAL"), std::string::npos);
  // The system catalogue has the columns of a real file's.
  for (const fs::path& ref : ReferenceFiles()) {
    EXPECT_EQ(MdbTool("mdb-schema -T MSysObjects " + Quote(f)), MdbTool("mdb-schema -T MSysObjects " + Quote(ref)));
    EXPECT_EQ(MdbTool("mdb-schema -T MSysRelationships " + Quote(f)),
              MdbTool("mdb-schema -T MSysRelationships " + Quote(ref)));
  }
}

TEST(Jet4Writer, EveryColumnTypeReadsBackInBothTextForms) {
  SKIP_WITHOUT_PROGRAM("mdb-export");
  for (TTextForm form : {TTextForm::Plain, TTextForm::Compressed}) {
    SCOPED_TRACE(form == TTextForm::Plain ? "plain" : "compressed");
    testsupport::TempDir dir;
    const fs::path f = Save(dir, EveryType(form));
    const TTableRead lib = ReadWithLibmdb(f, "Types");
    EXPECT_EQ(lib.Columns, (std::vector<std::string>{"ID", "Flag", "Small", "Short", "Long", "Money", "Real",
                                                     "Moment", "Name", "Note"}));
    EXPECT_EQ(lib.Rows, EveryTypeExpected());
    // mdb-export agrees, printing NULL and empty text alike.
    const auto csv = ExportCsv(f, "Types");
    ASSERT_EQ(csv.size(), 6u);
    const TRows expected = EveryTypeExpected();
    for (std::size_t r = 0; r < expected.size(); ++r)
      for (std::size_t c = 0; c < expected[r].size(); ++c)
        EXPECT_EQ(csv[r + 1].at(c), expected[r][c].value_or("")) << "row " << r << " column " << c;
    EXPECT_EQ(ExportCsv(f, "Empty"), (std::vector<std::vector<std::string>>{{"ID", "Name"}}));
    EXPECT_EQ(MdbTool("mdb-count " + Quote(f) + " Types"), "5\n");
  }
}

TEST(Jet4Writer, TextIsStoredInTheFormItsColumnOrTheFileChooses) {
  TDatabase db;
  db.DefaultTextForm = TTextForm::Plain;
  db.Tables.push_back(TTable{"T",
                             {Col("Default", TColumnType::Text, 50), Col("Packed", TColumnType::Text, 50, TTextForm::Compressed),
                              Col("Wide", TColumnType::Memo, 0, TTextForm::Plain),
                              Col("PackedMemo", TColumnType::Memo, 0, TTextForm::Compressed)},
                             {{std::string("AlphaOne"), std::string("BravoTwo"), std::string("CharlieThree"),
                               std::string("DeltaFour")}}});
  testsupport::TempDir dir;
  std::vector<std::uint8_t> b = Bytes(Save(dir, db));
  EXPECT_TRUE(Contains(b, Ucs2("AlphaOne")));
  EXPECT_TRUE(Contains(b, "\xFF\xFE" "BravoTwo"));
  EXPECT_TRUE(Contains(b, Ucs2("CharlieThree")));
  EXPECT_TRUE(Contains(b, "\xFF\xFE" "DeltaFour"));
  db.DefaultTextForm = TTextForm::Compressed;
  b = Bytes(Save(dir, db, "c.mdb"));
  EXPECT_TRUE(Contains(b, "\xFF\xFE" "AlphaOne"));
  EXPECT_TRUE(Contains(b, Ucs2("CharlieThree")));
  if (testsupport::HaveProgram("mdb-export")) {
    EXPECT_EQ(ExportCsv(dir / "c.mdb", "T").at(1),
              (std::vector<std::string>{"AlphaOne", "BravoTwo", "CharlieThree", "DeltaFour"}));
  }
}

TEST(Jet4Writer, MemoValuesStayInlineOrSpillToLongValuePages) {
  SKIP_WITHOUT_PROGRAM("mdb-export");
  TDatabase db;
  db.DefaultTextForm = TTextForm::Compressed;
  TTable t{"Notes", {Col("ID", TColumnType::LongInteger), Col("Note", TColumnType::Memo)}, {}};
  // Lengths around the inline limit, one long-value row, a page's worth and chains of pages.
  const std::vector<std::size_t> lengths = {0, 1, 32, 33, 64, 1000, 2039, 2040, 2041, 4079, 4080, 4081, 10000, 60000};
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    std::string s;
    for (std::size_t k = 0; k < lengths[i]; ++k) s += (k % 3 == 0) ? "щ" : "x";  // mixed: 1000+ chars stay plain
    t.Rows.push_back({std::int64_t(i), s});
  }
  db.Tables.push_back(t);
  testsupport::TempDir dir;
  const fs::path f = Save(dir, db);
  const TTableRead lib = ReadWithLibmdb(f, "Notes");
  ASSERT_EQ(lib.Rows.size(), lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) EXPECT_EQ(lib.Rows[i][1], std::get<std::string>(t.Rows[i][1])) << i;
  const auto csv = ExportCsv(f, "Notes");
  ASSERT_EQ(csv.size(), lengths.size() + 1);
  for (std::size_t i = 1; i < lengths.size(); ++i) EXPECT_EQ(csv[i + 1][1], std::get<std::string>(t.Rows[i][1])) << i;
  // Long-value pages: one shared page for the single-row values, then one page per piece of the chains.
  const std::vector<std::uint8_t> b = Bytes(f);
  std::size_t lval = 0;
  for (std::size_t p = 0; p < b.size() / kPage; ++p)
    if (b[p * kPage] == 0x01 && std::memcmp(&b[p * kPage + 4], "LVAL", 4) == 0) ++lval;
  EXPECT_GE(lval, 5u + 30 + 1);
  CheckLayout(f, true);
}

// Columns deleted after the rows were written keep their numbers and their room in the rows, as
// in files of the desktop product; index definitions name columns by those numbers; OLE objects
// are stored like memo values.
TEST(Jet4Writer, DeletedColumnsIndexesAndOleObjects) {
  SKIP_WITHOUT_PROGRAM("mdb-export");
  TDatabase db;
  TColumn gone = Col("Gone", TColumnType::LongInteger), goneText = Col("GoneText", TColumnType::Text, 10);
  gone.Deleted = goneText.Deleted = true;
  TTable t{"T",
           {Col("A", TColumnType::LongInteger), gone, Col("N", TColumnType::Text, 10), goneText,
            Col("C", TColumnType::Integer), Col("O", TColumnType::Ole)},
           {}};
  const std::string bytes("\x00\x01\xFF\x00", 4), long_(5000, '\x7F');
  using I = std::int64_t;
  t.Rows.push_back({I{1}, I{11}, std::string("едно"), std::string("x"), I{100}, bytes});
  t.Rows.push_back({I{2}, TValue(), TValue(), std::string("y"), I{200}, long_});
  t.Indexes = {{"ByC", {"C"}}, {"ByNA", {"n", "A"}}};
  db.Tables.push_back(t);
  testsupport::TempDir dir;
  const fs::path f = Save(dir, db);
  const TTableRead lib = ReadWithLibmdb(f, "T");
  EXPECT_EQ(lib.Columns, (std::vector<std::string>{"A", "N", "C", "O"}));
  ASSERT_EQ(lib.Rows.size(), 2u);
  EXPECT_EQ(lib.Rows[0][1], "едно");
  EXPECT_EQ(lib.Rows[0][2], "100");
  EXPECT_EQ(lib.Rows[1][1], std::nullopt);
  EXPECT_EQ(lib.Rows[1][2], "200");
  const std::string csv = MdbTool("mdb-export -b hex " + Quote(f) + " T");
  EXPECT_EQ(csv.substr(0, csv.find('\n', csv.find('\n') + 1)), "A,N,C,O\n1,\"едно\",100,\"0001FF00\"");
  // libmdb finds each index's columns by the numbers the definition gives.
  std::unique_ptr<MdbHandle, void (*)(MdbHandle*)> mdb(mdb_open(f.c_str(), MDB_NOFLAGS), mdb_close);
  ASSERT_TRUE(mdb && mdb_read_catalog(mdb.get(), MDB_TABLE));
  std::string name = "T";
  std::unique_ptr<MdbTableDef, void (*)(MdbTableDef*)> table(mdb_read_table_by_name(mdb.get(), name.data(), MDB_TABLE),
                                                             mdb_free_tabledef);
  ASSERT_TRUE(table);
  mdb_read_columns(table.get());
  mdb_read_indices(table.get());
  ASSERT_TRUE(table->indices);
  std::vector<std::string> indexes;
  for (unsigned k = 0; k < table->indices->len; ++k) {
    const auto* idx = static_cast<const MdbIndex*>(g_ptr_array_index(table->indices, k));
    std::string cols = std::string(idx->name) + ":";
    for (unsigned j = 0; j < idx->num_keys; ++j)
      cols += " " + lib.Columns.at(static_cast<std::size_t>(idx->key_col_num[j] - 1));
    indexes.push_back(cols);
  }
  EXPECT_EQ(indexes, (std::vector<std::string>{"ByC: C", "ByNA: N A"}));
  CheckLayout(f, false);
}

TEST(Jet4Writer, ThousandsOfRowsSpanManyPagesAndAReferenceUsageMap) {
  SKIP_WITHOUT_PROGRAM("mdb-export");
  TDatabase db;
  TTable big{"Big", {Col("ID", TColumnType::AutoNumber), Col("Name", TColumnType::Text, 100), Col("N", TColumnType::Integer)}, {}};
  for (std::int64_t i = 1; i <= 40000; ++i)
    big.Rows.push_back({i, "Ред " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 60), 'x'),
                        i % 3 ? TValue(i % 30000) : TValue()});
  TTable tiny{"Tiny", {Col("B", TColumnType::Boolean)}, {}};  // three-byte rows: the row count limits each page
  for (int i = 0; i < 1000; ++i) tiny.Rows.push_back({i % 2 == 0});
  db.Tables.push_back(std::move(big));
  db.Tables.push_back(std::move(tiny));
  testsupport::TempDir dir;
  const fs::path f = Save(dir, db);
  const std::vector<std::uint8_t> b = Bytes(f);
  ASSERT_GT(b.size() / kPage, 512u);  // beyond the reach of an inline map
  std::size_t mapPages = 0;
  for (std::size_t p = 0; p < b.size() / kPage; ++p) mapPages += b[p * kPage] == 0x05;
  EXPECT_GE(mapPages, 1u);
  const auto csv = ExportCsv(f, "Big");
  ASSERT_EQ(csv.size(), 40001u);
  for (std::int64_t i : {1, 2, 3, 1234, 39999, 40000}) {
    const auto& r = csv[static_cast<std::size_t>(i)];
    EXPECT_EQ(r[0], std::to_string(i));
    EXPECT_EQ(r[1], "Ред " + std::to_string(i) + " " + std::string(static_cast<std::size_t>(i % 60), 'x'));
    EXPECT_EQ(r[2], i % 3 ? std::to_string(i % 30000) : "");
  }
  const auto tinyCsv = ExportCsv(f, "Tiny");
  ASSERT_EQ(tinyCsv.size(), 1001u);
  EXPECT_EQ(tinyCsv[1][0], "1");
  EXPECT_EQ(tinyCsv[1000][0], "0");
  CheckLayout(f, true);
}

TEST(Jet4Writer, RejectsWhatAJetFileCannotHold) {
  auto error = [](const TDatabase& db) -> std::string {
    try {
      WriteDatabase(db);
    } catch (const EJet4Error& e) {
      return e.what();
    }
    return "";
  };
  auto one = [](std::vector<TColumn> cols, std::vector<TRow> rows) {
    TDatabase db;
    db.Tables.push_back(TTable{"T", std::move(cols), std::move(rows)});
    return db;
  };
  std::vector<TColumn> wide;
  TRow wideRow(9, TValue(Repeat("Ж", 255)));
  for (int i = 0; i < 9; ++i) wide.push_back(Col("C" + std::to_string(i), TColumnType::Text, 255));
  EXPECT_EQ(error(one(wide, {wideRow})), "table 'T': row 1 is larger than a page");
  wideRow.resize(7);
  wide.resize(7);
  EXPECT_EQ(error(one(wide, {wideRow})), "");  // 7 x 510 bytes still fit
  EXPECT_EQ(error(one({Col("ID", TColumnType::AutoNumber)}, {{std::int64_t{5}}, {std::int64_t{5}}})),
            "table 'T': row 2, column 'ID': AutoNumber 5 repeated");
  EXPECT_EQ(error(one({Col("F", TColumnType::Boolean)}, {{TValue()}})), "table 'T': row 1, column 'F': cannot be null");
  EXPECT_EQ(error(one({Col("N", TColumnType::Integer)}, {{std::int64_t{40000}}})),
            "table 'T': row 1, column 'N': value 40000 out of range");
  EXPECT_EQ(error(one({Col("N", TColumnType::LongInteger)}, {{std::string("1")}})),
            "table 'T': row 1, column 'N': expected an integer");
  EXPECT_EQ(error(one({Col("S", TColumnType::Text, 2)}, {{std::string("abc")}})),
            "table 'T': row 1, column 'S': text longer than 2 characters");
  EXPECT_EQ(error(one({Col("S", TColumnType::Text, 2)}, {{std::string("a"), std::string("b")}})),
            "table 'T': row 1 has 2 values for 1 columns");
  EXPECT_EQ(error(one({Col("S", TColumnType::Text, 256)}, {})), "table 'T': column 'S': text length must be 1 to 255");
  EXPECT_EQ(error(one({Col("S.x", TColumnType::Byte)}, {})),
            "column name 'S.x' contains a character not allowed in names");
  EXPECT_EQ(error(one({}, {})), "table 'T': no columns");
  std::vector<TColumn> many;
  for (int i = 0; i < 200; ++i) many.push_back(Col(Repeat("n", 40) + std::to_string(i), TColumnType::Byte));
  EXPECT_EQ(error(one(many, {})), "table 'T': the table definition does not fit one page");
  TDatabase sys;
  sys.Tables.push_back(TTable{"msysThings", {Col("A", TColumnType::Byte)}, {}});
  EXPECT_EQ(error(sys), "table 'msysThings': names beginning with MSys are kept for system tables");
  TDatabase undated;
  undated.Created = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(error(undated), "creation date out of range");
  TColumn deletedMemo = Col("M", TColumnType::Memo);
  deletedMemo.Deleted = true;
  EXPECT_EQ(error(one({Col("A", TColumnType::Byte), deletedMemo}, {})),
            "table 'T': column 'M': a deleted column cannot be memo or OLE");
  TColumn deleted = Col("A", TColumnType::Byte);
  deleted.Deleted = true;
  EXPECT_EQ(error(one({deleted}, {})), "table 'T': no columns that are not deleted");
  EXPECT_EQ(error(one({Col("O", TColumnType::Ole)}, {{std::int64_t{1}}})), "table 'T': row 1, column 'O': expected bytes");
  TDatabase indexed = one({Col("A", TColumnType::Byte), deleted}, {});
  indexed.Tables[0].Columns[1].Name = "B";
  indexed.Tables[0].Indexes = {{"ByB", {"B"}}};
  EXPECT_EQ(error(indexed), "table 'T': index 'ByB': no column 'B'");
  indexed.Tables[0].Indexes = {{"Wide", std::vector<std::string>(11, "A")}};
  EXPECT_EQ(error(indexed), "table 'T': index 'Wide' must have 1 to 10 columns");
  TDatabase twice = one({Col("A", TColumnType::Byte)}, {});
  twice.Tables.push_back(TTable{"t", {Col("A", TColumnType::Byte)}, {}});
  EXPECT_EQ(error(twice), "table 't': declared twice");
}

TEST(Jet4Writer, TheSameDescriptionGivesTheSameBytes) {
  const TDatabase db = EveryType(TTextForm::Compressed);
  EXPECT_EQ(WriteDatabase(db), WriteDatabase(db));
}

TEST(Jet4Layout, RealFilesAndTheWritersPassTheSameStructuralChecks) {
  SKIP_WITHOUT_PROGRAM("mdb-ver");
  for (const fs::path& ref : ReferenceFiles()) {
    CheckLayout(ref, false);
    EXPECT_EQ(MdbTool("mdb-ver " + Quote(ref)), "JET4\n");
  }
  testsupport::TempDir dir;
  CheckLayout(Save(dir, EveryType(TTextForm::Plain)), true);
  TDatabase empty;
  CheckLayout(Save(dir, empty, "empty.mdb"), true);
}

TEST(Jet4Write, CommandLineReportsErrorsWithTheirLine) {
  testsupport::TempDir dir;
  const std::string tool = Quote(KELV_JET4WRITE);
  testsupport::WriteFile(dir / "bad.txt", {'t', 'a', 'b', 'l', 'e', ' ', 'T', '\n', ' ', 'A', ' ', 'x', '\n'});
  std::string out;
  EXPECT_EQ(testsupport::RunCommand(tool + " -o " + Quote((dir / "o.mdb").string()) + " " +
                                        Quote((dir / "bad.txt").string()) + " 2>&1",
                                    &out),
            1);
  EXPECT_NE(out.find("bad.txt:2: unknown column type 'x'"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "o.mdb"));
  EXPECT_EQ(testsupport::RunCommand(tool + " 2>/dev/null"), 2);
  EXPECT_EQ(testsupport::RunCommand(tool + " --text zip -o x.mdb in.txt 2>/dev/null"), 2);
  const std::string text = "option text plain\ntable T\n A text(10)\nend\nrows T\n \"Zulu\"\nend\n";
  testsupport::WriteFile(dir / "ok.txt", {text.begin(), text.end()});
  ASSERT_EQ(testsupport::RunCommand(tool + " -o " + Quote((dir / "p.mdb").string()) + " " +
                                    Quote((dir / "ok.txt").string())),
            0);
  ASSERT_EQ(testsupport::RunCommand(tool + " --text compressed -o " + Quote((dir / "c.mdb").string()) + " " +
                                    Quote((dir / "ok.txt").string())),
            0);
  EXPECT_TRUE(Contains(Bytes(dir / "p.mdb"), Ucs2("Zulu")));
  EXPECT_TRUE(Contains(Bytes(dir / "c.mdb"), "\xFF\xFE" "Zulu"));
}
