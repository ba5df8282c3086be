#pragma once
// Translation of the Jet SQL dialect that the catalogue's queries use into SQLite's, and the
// parser of client-side filter texts. Errors raise Exception with a message naming the problem.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvdb {

struct TranslatedSql {
  // SQLite text: ":Name" parameters numbered "?1".."?N" (by ParamNames), "..." strings turned
  // into '...', DISTINCTROW and the final ";" removed.
  std::string Sql;
  std::vector<std::string> ParamNames;  // distinct (case-insensitive), in order of first use
  bool DistinctRow{false};

  // Shape of a plain single SELECT, for adding a condition or hidden columns safely.
  // Simple: one SELECT, no sub-select, UNION, GROUP BY, HAVING, LIMIT, "AS" or table alias.
  bool Simple{false};
  std::size_t SelectEnd{0};  // offset just after the first SELECT keyword
  std::size_t FromPos{0};    // offset of the top-level FROM keyword in Sql
  bool HasWhere{false};
  std::size_t WherePos{0};   // offset just after the top-level WHERE keyword
  std::size_t TailPos{0};    // offset of the top-level ORDER keyword, or Sql.size()
  std::vector<std::string> TableRefs;  // table names as written after FROM / JOIN / "," / "("

  // Columns compared with a constant or a parameter ("T.C = :P", "C = 5"): (table or "", column).
  std::vector<std::pair<std::string, std::string>> ConstantEqualities;
  // Columns compared with another column ("A.X = B.Y"), each side: (table or "", column).
  std::vector<std::pair<std::string, std::string>> JoinColumns;
};

TranslatedSql TranslateJetSql(std::string_view Text);

// Number of references to Table among TableRefs (case-insensitive).
int CountTableRefs(const TranslatedSql& Sql, std::string_view Table);

// Quotes an identifier for SQLite ("name", inner quotes doubled).
std::string QuoteIdent(std::string_view Name);

// A filter of the form  Field='value'  (single quotes, inner quotes doubled; blanks allowed
// around the parts; the field may be Table.Column or use [brackets]). An empty or blank text
// means no filter (Empty set).
struct ParsedFilter {
  bool Empty{true};
  std::string Field;
  std::string Value;
};
ParsedFilter ParseFilter(std::string_view Text);

}  // namespace kelvdb
