#include "tools/MdbRead.h"

#include "support/TestSupport.h"

#include <mdbtools.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace tooltest {

TTableRead ReadWithLibmdb(const std::filesystem::path& file, const std::string& table) {
  std::unique_ptr<MdbHandle, void (*)(MdbHandle*)> mdb(mdb_open(file.c_str(), MDB_NOFLAGS), mdb_close);
  if (!mdb) throw std::runtime_error("libmdb cannot open " + file.string());
  mdb_set_bind_size(mdb.get(), 1 << 20);
  mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
  if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) throw std::runtime_error("libmdb cannot read the catalogue");
  std::string name = table;
  std::unique_ptr<MdbTableDef, void (*)(MdbTableDef*)> t(mdb_read_table_by_name(mdb.get(), name.data(), MDB_TABLE),
                                                         mdb_free_tabledef);
  if (!t) throw std::runtime_error("libmdb finds no table " + table);
  mdb_read_columns(t.get());
  mdb_rewind_table(t.get());
  TTableRead out;
  const unsigned n = t->num_cols;
  std::vector<std::vector<char>> bound(n, std::vector<char>(1 << 20));
  std::vector<int> lens(n);
  for (unsigned i = 0; i < n; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
    out.Columns.push_back(col->name);
    mdb_bind_column(t.get(), static_cast<int>(i + 1), bound[i].data(), &lens[i]);
  }
  std::vector<MdbField> fields(256);
  while (mdb_fetch_row(t.get())) {
    void* buf = nullptr;
    int off = 0;
    size_t len = 0;
    const int pgRow = static_cast<int>((t->cur_phys_pg << 8) | (t->cur_row - 1));
    if (mdb_find_pg_row(mdb.get(), pgRow, &buf, &off, &len) != 0) throw std::runtime_error("libmdb lost the row");
    // mdb_crack_row reads the page buffer; a row that overflowed to another page lies in the
    // other buffer, and goes there for the moment.
    std::vector<unsigned char> keep;
    if (buf != mdb->pg_buf) {
      keep.assign(mdb->pg_buf, mdb->pg_buf + MDB_PGSIZE);
      std::memcpy(mdb->pg_buf, buf, MDB_PGSIZE);
    }
    // The count libmdb returns is the row's, deleted columns included; it fills one field per
    // column of the table, each naming its column.
    const int cracked = mdb_crack_row(t.get(), off, len, fields.data());
    if (cracked < 0 || cracked > static_cast<int>(fields.size())) throw std::runtime_error("libmdb cannot crack a row");
    std::vector<const MdbField*> field(n, nullptr);
    for (int k = 0; k < std::min(cracked, static_cast<int>(n)); ++k)
      if (fields[k].colnum >= 0 && static_cast<unsigned>(fields[k].colnum) < n) field[fields[k].colnum] = &fields[k];
    std::vector<TCell> row;
    for (unsigned i = 0; i < n; ++i) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
      if (!field[i] || (col->col_type != MDB_BOOL && field[i]->is_null)) {
        row.emplace_back();
      } else if (col->col_type == MDB_DATETIME && field[i]->siz == 8) {
        double days = 0;
        std::memcpy(&days, field[i]->value, sizeof days);
        row.emplace_back(FormatDays(days));
      } else {
        row.emplace_back(std::string(bound[i].data(), static_cast<size_t>(lens[i])));
      }
    }
    if (!keep.empty()) std::memcpy(mdb->pg_buf, keep.data(), MDB_PGSIZE);
    out.Rows.push_back(std::move(row));
  }
  return out;
}

std::string FormatDays(double days) {
  using namespace std::chrono;
  const double whole = std::trunc(days);
  const sys_seconds t = sys_days(year(1899) / December / 30) + std::chrono::days(static_cast<long long>(whole)) +
                        seconds(std::llround(std::fabs(days - whole) * 86400));
  const auto day = floor<std::chrono::days>(t);
  const year_month_day ymd(day);
  const hh_mm_ss<seconds> hms(t - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()));
  return text;
}

std::string MdbTool(const std::string& args, int* status) {
  std::string out;
  const int st = testsupport::RunCommand(args + " 2>/dev/null", &out);
  if (status) *status = st;
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<std::vector<std::string>> ExportCsv(const std::filesystem::path& file, const std::string& table) {
  const std::string text =
      MdbTool("mdb-export -T '%Y-%m-%d %H:%M:%S' " + Quote(file.string()) + " " + Quote(table));
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
    } else if (c == '\n') {
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
    } else {
      field += c;
    }
  }
  return rows;
}

std::vector<std::uint8_t> Bytes(const std::filesystem::path& file) {
  const auto b = testsupport::ReadFile(file);
  return {b.begin(), b.end()};
}

}  // namespace tooltest
