#include "tools/MdbRead.h"

#include "support/TestSupport.h"

#include <mdbtools.h>

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
    const int cracked = mdb_crack_row(t.get(), off, len, fields.data());
    if (cracked != static_cast<int>(n)) throw std::runtime_error("libmdb cracked a row to a wrong column count");
    std::vector<TCell> row;
    for (unsigned i = 0; i < n; ++i) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, i));
      if (col->col_type != MDB_BOOL && fields[i].is_null)
        row.emplace_back();
      else
        row.emplace_back(std::string(bound[i].data(), static_cast<size_t>(lens[i])));
    }
    out.Rows.push_back(std::move(row));
  }
  return out;
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
