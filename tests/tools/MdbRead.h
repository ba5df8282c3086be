#pragma once
// Reading Jet files back with mdbtools (its programs and libmdb), for the writer's tests.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tooltest {

using TCell = std::optional<std::string>;  // nullopt: NULL
using TRows = std::vector<std::vector<TCell>>;

struct TTableRead {
  std::vector<std::string> Columns;
  TRows Rows;
};

// A table through libmdb: each value as libmdb formats it, but dates as FormatDays makes them from
// the stored day count (libmdb's own conversion is wrong before 1900 and after 4636); NULL from the
// row's null mask, so empty text and NULL stay apart.
TTableRead ReadWithLibmdb(const std::filesystem::path& file, const std::string& table);

// A Jet day count (days since 1899-12-30, the time of day as the fraction counted away from zero)
// as "YYYY-MM-DD HH:MM:SS", rounded to the second, by the calendar of <chrono>.
std::string FormatDays(double days);

// Output of an mdbtools program (exit status in *status when given).
std::string MdbTool(const std::string& args, int* status = nullptr);

// mdb-export of a table as rows of fields (header first); NULL and empty text both come out as "".
std::vector<std::vector<std::string>> ExportCsv(const std::filesystem::path& file, const std::string& table);

// Shell quoting of a path or word.
std::string Quote(const std::string& s);

// The file as bytes.
std::vector<std::uint8_t> Bytes(const std::filesystem::path& file);

}  // namespace tooltest
