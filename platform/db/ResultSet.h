#pragma once
// The rows of an opened dataset, kept compactly in memory (internal to platform/db).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/DB.h"

namespace kelvdb {

// Currency: I holds the exact count of ten-thousandths.
enum class CellType : std::uint8_t { Null, Integer, Real, Text, Blob, Currency };

struct Cell {
  CellType Type{CellType::Null};
  std::uint32_t Len{0};  // bytes of text or blob
  union {
    std::int64_t I;
    double D;
    std::uint64_t Off;  // offset of text or blob in ResultSet::Bytes
  };
  Cell() : I(0) {}
};

struct ColumnInfo {
  std::string Name;    // the name a field reaches it by: Column, or Table.Column when ambiguous
  std::string Table;   // table it comes from ("" for an expression)
  std::string Origin;  // column name in that table
  TFieldType Type{ftUnknown};
  int Size{0};
};

struct ResultSet {
  std::vector<ColumnInfo> Columns;
  std::size_t Visible{0};  // columns after these are hidden helpers
  std::size_t Rows{0};
  std::vector<Cell> Cells;  // row-major, Columns.size() per row
  std::string Bytes;

  const Cell& At(std::size_t Row, std::size_t Col) const { return Cells[Row * Columns.size() + Col]; }
  std::string_view TextOf(const Cell& C) const {
    return C.Type == CellType::Text || C.Type == CellType::Blob ? std::string_view(Bytes).substr(C.Off, C.Len)
                                                                 : std::string_view();
  }
  // Visible column by name without regard to case, or -1.
  int FindColumn(std::string_view Name) const;
};

// Field type and text size of an imported column from its declared type ("JetText TEXT(50)"...).
void FieldTypeOfDecl(std::string_view Decl, TFieldType& Type, int& Size);

// Names columns as the data-access layer does: the plain column name when no other visible
// column has it, else Table.Column.
void NameColumns(ResultSet& Rows);

// A currency amount (ten-thousandths) as exact decimal text: "12.5", "-0.0001", "0".
std::string FormatCurrency(std::int64_t TenThousandths);

// Decimal text ("-12.50", "3") as ten-thousandths; false when it is no such number, has
// non-zero digits beyond the fourth decimal or lies outside the currency range.
bool ParseCurrency(std::string_view Text, std::int64_t& TenThousandths);

// Whether a cell matches the filter value: text by the collation, numbers by value.
bool CellMatches(const ResultSet& Rows, const Cell& C, std::string_view Value);

// Keeps the rows whose column Col matches Value.
void FilterRows(ResultSet& Rows, std::size_t Col, std::string_view Value);

}  // namespace kelvdb
