// Reads arbitrary bytes as a catalogue database file through the guarded import (libmdb runs in
// the import's child process with its limit of processor time, so a file that makes it loop
// ends as an error here, not as a fuzzer time-out), then reads every table of an accepted file
// through a query.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/db/ADODB.h"
#include "platform/db/JetImport.h"

#include <sqlite3.h>

namespace {

// The input as a file for the import; removed once the import has read it.
std::string FilePath() { return "/tmp/kelv-fuzz-db-" + std::to_string(getpid()) + ".mdb"; }

struct Remove {
  ~Remove() { std::remove(FilePath().c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* f = std::fopen(FilePath().c_str(), "wb");
  if (!f) return 0;
  const bool written = std::fwrite(data, 1, size, f) == size;
  std::fclose(f);
  if (!written) return 0;
  try {
    TADOConnection conn(nullptr);
    conn.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + FilePath());
    conn.SetConnectionTimeout(2);  // seconds of the reader's processor time, far inside the fuzzer's limit
    {
      Remove remove;
      conn.Open();
    }
    // Every table, every value, and a filter on the first column.
    std::vector<std::string> tables;
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(conn.Handle(), "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    for (const std::string& table : tables) {
      TADOQuery q(nullptr);
      q.SetConnection(&conn);
      q.SQL()->SetText("SELECT * FROM [" + table + "]");
      q.Open();
      for (; !q.Eof(); q.Next())
        for (int i = 0; i < q.FieldCount(); ++i) (void)q.Fields()[i]->AsString();
      if (q.FieldCount() > 0 && q.RecordCount() > 0) {
        q.First();
        const bool null = q.Fields()[0]->IsNull();
        std::string value;
        for (char c : q.Fields()[0]->AsString()) value += c == '\'' ? std::string("''") : std::string(1, c);
        const std::string field = q.Fields()[0]->FieldName();
        q.SetFilter("[" + field + "]='" + value + "'");
        q.SetFiltered(true);
        // A text always finds itself.
        const TFieldType type = q.Fields()[0]->DataType();
        if (q.RecordCount() < 1 && !null && (type == ftWideString || type == ftMemo))
          __builtin_trap();
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}
