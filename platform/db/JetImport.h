#pragma once
// Loading a Jet 4.0 database file into an in-memory SQLite database.
//
// ImportJetFile checks the file's header itself, then reads it with libmdb in a child process
// and receives the finished SQLite database through a pipe. libmdb trusts the file: on a damaged
// one it can loop forever, crash or allocate without bound, so it never runs in the program's
// own process. The child is limited by the processor time it uses, not by the clock, so that a
// busy machine never makes a good file look damaged: in all (30 s plus 1 s per MiB of file) and
// without progress (5 s without a row, a table or a step of SQLite's work done); it also has
// memory and output limits and dies with the parent. A child that uses no processor time at all
// for two minutes while the parent waits (stuck, not slow) is ended too. Anything it reports, a
// crash, an oversized answer or a limit reached becomes an Exception with a clear message. (A
// helper executable would need installing and finding; fork alone keeps the library
// self-contained. The child only uses malloc, libmdb and SQLite; the stuck-child guard covers
// the unlikely case of a lock held by another thread at the moment of the fork.)
//
// Tables of the imported database: every user table of the file, its columns in the file's
// order with their declared types naming the Jet type ("JetText TEXT(50)", "JetLong INTEGER",
// "JetBoolean INTEGER", "JetAutoNumber INTEGER", "JetMemo TEXT", ...), text columns with the
// KELV collation, rows in the file's order (the rowid), NULL kept apart from empty text,
// Booleans 0/1, dates as "YYYY-MM-DD HH:MM:SS" text (exact over Jet's years 100 to 9999; a day
// count outside them stays a number), currency as the exact count of ten-thousandths
// ("JetCurrency INTEGER"), memo text decoded from its UTF-16, OLE objects as their bytes
// ("JetOle BLOB"), and an index for every index the file defines. An AutoNumber column whose
// numbers rise in the file's row order becomes the rowid itself (declared type "INTEGER"); any
// other AutoNumber column gets an index.
#include <cstddef>
#include <cstdint>
#include <string>

struct sqlite3;

namespace kelvdb {

struct ImportOptions {
  double CpuSeconds{0};                // processor time of the reader in all; 0: 30 s + 1 s per MiB
  double StallCpuSeconds{0};           // processor time it may use without progress; 0: 5 s
  double StuckSeconds{0};              // time it may use no processor at all; 0: 120 s
  std::uint64_t MaxDatabaseBytes{0};   // 0: 64 MiB + 8 times the file's size
  void (*InReader)(){nullptr};         // for tests: runs in the reader process before it reads
};

// The database file at NativePath (an existing path in the system's own form). Throws Exception
// for a missing, unreadable, empty, non-Jet, Jet 3, later-format, damaged or oversized file, for
// anything at that path that is not a regular file (refused before it is opened) and when the
// reader reaches one of its limits. The caller owns the returned handle (sqlite3_close).
sqlite3* ImportJetFile(const std::string& NativePath, const ImportOptions& Options = {});

// Opens an empty in-memory database with the KELV collation and safe settings. Serializable:
// in SQLite's memdb store, whose pages sqlite3_serialize hands over without copying.
sqlite3* OpenMemoryDatabase(bool Serializable = false);

// The reader itself, in the calling process: fills Db (empty, collation registered) from the
// file image. Returns "" or the reason the image is damaged. For the child process, the
// benchmark and tests on trusted files only.
std::string ReadJetImage(void* Data, std::size_t Size, sqlite3* Db);

// Work done by ReadJetImage in this process so far (rows, tables, steps of SQLite): the reader's
// watchdog takes a count that stands still for its sign of a loop.
std::uint64_t ReaderProgress();

// How many reader processes ended on a sanitizer report (address or undefined behaviour) since
// the program started: always 0 in builds without sanitizers. Such an end also becomes the
// ordinary error for the file; tests look here so that a memory error in the reader shows.
int ReaderSanitizerReports();

// Header check of a file image (at least its first page): "" when it looks like a Jet 4.0
// database of FileSize bytes, else the message (without the file name) for the user.
std::string CheckJetHeader(const unsigned char* Data, std::size_t Available, std::uint64_t FileSize);

}  // namespace kelvdb
