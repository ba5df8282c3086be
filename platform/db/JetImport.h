#pragma once
// Loading a Jet 4.0 database file into an in-memory SQLite database.
//
// ImportJetFile checks the file's header itself, then reads it with libmdb in a child process
// and receives the finished SQLite database through a pipe. libmdb trusts the file: on a damaged
// one it can loop forever, crash or allocate without bound, so it never runs in the program's
// own process. The child has a time limit (5 s plus 1 s per 8 MiB of file), memory and output
// limits, and dies with the parent; anything it reports, a crash, an oversized answer or the
// time running out becomes an Exception with a clear message. (A helper executable would need
// installing and finding; fork alone keeps the library self-contained. The child only uses
// malloc, libmdb and SQLite, and the time limit also covers the unlikely case of a lock held by
// another thread at the moment of the fork.)
//
// Tables of the imported database: every user table of the file, its columns in the file's
// order with their declared types naming the Jet type ("JetText TEXT(50)", "JetLong INTEGER",
// "JetBoolean INTEGER", "JetAutoNumber INTEGER", "JetMemo TEXT", ...), text columns with the
// KELV collation, rows in the file's order (the rowid), NULL kept apart from empty text,
// Booleans 0/1, dates as "YYYY-MM-DD HH:MM:SS" text, and an index for every index the file
// defines. An AutoNumber column whose numbers rise in the file's row order becomes the rowid
// itself (declared type "INTEGER"); any other AutoNumber column gets an index.
#include <cstddef>
#include <cstdint>
#include <string>

struct sqlite3;

namespace kelvdb {

struct ImportOptions {
  double TimeoutSeconds{0};            // 0: 5 s + 1 s per 8 MiB of file
  std::uint64_t MaxDatabaseBytes{0};   // 0: 64 MiB + 8 times the file's size
};

// The database file at NativePath (an existing path in the system's own form). Throws Exception
// for a missing, unreadable, empty, non-Jet, Jet 3, later-format, damaged or oversized file and
// when reading takes too long. The caller owns the returned handle (sqlite3_close).
sqlite3* ImportJetFile(const std::string& NativePath, const ImportOptions& Options = {});

// Opens an empty in-memory database with the KELV collation and safe settings. Serializable:
// in SQLite's memdb store, whose pages sqlite3_serialize hands over without copying.
sqlite3* OpenMemoryDatabase(bool Serializable = false);

// The reader itself, in the calling process: fills Db (empty, collation registered) from the
// file image. Returns "" or the reason the image is damaged. For the child process, the
// benchmark and tests on trusted files only.
std::string ReadJetImage(void* Data, std::size_t Size, sqlite3* Db);

// How many reader processes ended on a sanitizer report (address or undefined behaviour) since
// the program started: always 0 in builds without sanitizers. Such an end also becomes the
// ordinary error for the file; tests look here so that a memory error in the reader shows.
int ReaderSanitizerReports();

// Header check of a file image (at least its first page): "" when it looks like a Jet 4.0
// database of FileSize bytes, else the message (without the file name) for the user.
std::string CheckJetHeader(const unsigned char* Data, std::size_t Available, std::uint64_t FileSize);

}  // namespace kelvdb
