#pragma once
// The text collation of the catalogue database: case-insensitive, alphabetical for Latin,
// Greek and Cyrillic letters. Registered with SQLite as "KELV"; every text column of an imported
// database uses it, so ORDER BY, WHERE comparisons on text and client-side filters all agree.
//
// Order: punctuation and symbols (by code point) < digits < Latin letters < Greek < Cyrillic
// < everything else (by code point). Case is ignored. An accented Latin letter sorts with its base
// letter and after it on ties (é after e); Cyrillic ё sorts with е, Ukrainian ґ є і ї and
// Belarusian ў right after г, е, и, у. Two texts compare equal only when they differ in case
// alone. Bytes that are not valid UTF-8 sort after every character, by byte value.
#include <string_view>

struct sqlite3;

namespace kelvdb {

inline constexpr const char* kCollationName = "KELV";

// <0, 0, >0.
int CollateCompare(std::string_view A, std::string_view B);
inline bool CollateEqual(std::string_view A, std::string_view B) { return CollateCompare(A, B) == 0; }

// Registers the collation on a connection; false when SQLite refuses.
bool RegisterCollation(sqlite3* Db);

}  // namespace kelvdb
