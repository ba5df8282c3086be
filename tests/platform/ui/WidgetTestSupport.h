#pragma once
// Helpers for the widget tests: a QApplication for the whole program and a small dataset held
// in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/db/DB.h"
#include "platform/db/ResultSet.h"
#include "support/QtTestSupport.h"

namespace widgettest {

// One QApplication for the whole program.
inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new qttest::QtEnvironment);

// A dataset whose rows are given in code. Values: null, a whole number or a text.
class TMemDataSet : public TDataSet {
 public:
  using Value = std::variant<std::monostate, std::int64_t, std::string>;
  struct Column {
    std::string Name;
    TFieldType Type;
  };

  explicit TMemDataSet(std::vector<Column> Columns) : TDataSet(nullptr), Columns(std::move(Columns)) {}
  ~TMemDataSet() override = default;

  std::vector<Column> Columns;
  std::vector<std::vector<Value>> Rows;
  int AfterScrollCount{0};

  void CountScrolls() {
    AfterScroll = [this](TDataSet*) { ++AfterScrollCount; };
  }

 protected:
  void InternalOpen(kelvdb::ResultSet& R, const FilterRequest*, bool& FilterApplied) override {
    FilterApplied = false;
    for (const Column& c : Columns) {
      kelvdb::ColumnInfo info;
      info.Name = info.Origin = c.Name;
      info.Type = c.Type;
      R.Columns.push_back(info);
    }
    R.Visible = R.Columns.size();
    for (const auto& row : Rows) {
      for (std::size_t i = 0; i < Columns.size(); ++i) {
        kelvdb::Cell cell;
        const Value& v = i < row.size() ? row[i] : Value{};
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
          cell.Type = kelvdb::CellType::Integer;
          cell.I = *n;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
          cell.Type = kelvdb::CellType::Text;
          cell.Off = R.Bytes.size();
          cell.Len = static_cast<std::uint32_t>(s->size());
          R.Bytes += *s;
        }
        R.Cells.push_back(cell);
      }
      ++R.Rows;
    }
  }
};

}  // namespace widgettest
