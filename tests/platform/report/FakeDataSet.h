#pragma once
// A dataset with rows given in the test: text columns, null cells where the value is absent.
#include <optional>
#include <string>
#include <vector>

#include "platform/db/DB.h"
#include "platform/db/ResultSet.h"

namespace reporttest {

using TCell = std::optional<std::string>;

class TFakeDataSet : public TDataSet {
 public:
  TFakeDataSet(std::vector<std::string> Columns, std::vector<std::vector<TCell>> Rows)
      : TDataSet(nullptr), FColumns(std::move(Columns)), FRows(std::move(Rows)) {}

 protected:
  void InternalOpen(kelvdb::ResultSet& Rows, const FilterRequest*, bool& FilterApplied) override {
    FilterApplied = false;
    for (const std::string& c : FColumns) {
      kelvdb::ColumnInfo info;
      info.Name = c;
      info.Origin = c;
      info.Type = ftWideString;
      info.Size = 255;
      Rows.Columns.push_back(info);
    }
    Rows.Visible = FColumns.size();
    Rows.Rows = FRows.size();
    for (const auto& row : FRows)
      for (std::size_t c = 0; c < FColumns.size(); ++c) {
        kelvdb::Cell cell;
        if (c < row.size() && row[c]) {
          cell.Type = kelvdb::CellType::Text;
          cell.Off = Rows.Bytes.size();
          cell.Len = static_cast<std::uint32_t>(row[c]->size());
          Rows.Bytes += *row[c];
        }
        Rows.Cells.push_back(cell);
      }
  }

 private:
  std::vector<std::string> FColumns;
  std::vector<std::vector<TCell>> FRows;
};

}  // namespace reporttest
