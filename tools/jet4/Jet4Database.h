#pragma once
// In-memory description of a Jet 4.0 database to be written: tables, columns and rows.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace jet4 {

// Any error of the writer or of the text parser: bad description, value out of range, limits exceeded.
class EJet4Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TColumnType {
  Boolean,      // Yes/No, kept in the row's null mask
  Byte,         // unsigned 8-bit
  Integer,      // signed 16-bit
  LongInteger,  // signed 32-bit
  AutoNumber,   // signed 32-bit with the auto-increment flag
  Currency,     // signed 64-bit, ten-thousandths
  Single,       // IEEE 754 single
  Double,       // IEEE 754 double
  DateTime,     // days since 1899-12-30 as a double, time as the fraction
  Text,         // wide text of at most Length characters (1..255)
  Memo,         // long text, inline or on long-value pages
  Binary,       // system tables only, always null
  Ole           // long binary (OLE object): its bytes, inline or on long-value pages
};

// How text is stored: plain UCS-2, or the compressed-Unicode form (0xFF 0xFE prefix) where it is shorter.
enum class TTextForm { Default, Plain, Compressed };

struct TColumn {
  std::string Name;
  TColumnType Type = TColumnType::LongInteger;
  int Length = 0;                             // characters, Text only
  TTextForm TextForm = TTextForm::Default;    // Text and Memo only; Default takes the database's
  // Deleted after the rows were written, as the desktop product leaves it: the column keeps its
  // number and its room in every row, the definition lists it no more (not Memo or OLE).
  bool Deleted = false;
};

// An index definition (the index pages themselves are not written): its columns by name.
struct TIndex {
  std::string Name;
  std::vector<std::string> Columns;  // 1 to 10
  bool Primary = false;
};

// A cell: null; bool (Boolean); integer (Byte, Integer, LongInteger, AutoNumber, and Currency in
// ten-thousandths); double (Double, DateTime in days); UTF-8 text (Text, Memo); bytes (Ole).
using TValue = std::variant<std::monostate, bool, std::int64_t, double, std::string>;
using TRow = std::vector<TValue>;

struct TTable {
  std::string Name;
  std::vector<TColumn> Columns;
  std::vector<TRow> Rows;
  std::vector<TIndex> Indexes{};
};

struct TDatabase {
  std::vector<TTable> Tables;
  TTextForm DefaultTextForm = TTextForm::Compressed;
  double Created = 38353.5;  // 2005-01-01 12:00, stamped into the header and the system catalogue
};

// Days since 1899-12-30 for a calendar date and time; throws EJet4Error on an invalid date.
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

}  // namespace jet4
