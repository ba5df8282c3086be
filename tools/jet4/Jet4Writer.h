#pragma once
// Writes a Jet 4.0 database file from a TDatabase.
#include "tools/jet4/Jet4Database.h"

#include <cstdint>
#include <string>
#include <vector>

namespace jet4 {

// The whole file: page 0 with its encoded header area, the global usage map, the system catalogue
// MSysObjects with the other system tables, one definition page per table, data pages, usage maps
// and long-value pages. Validates the description first; throws EJet4Error.
std::vector<std::uint8_t> WriteDatabase(const TDatabase& db);

// WriteDatabase to a file (written whole, then renamed into place).
void SaveDatabase(const TDatabase& db, const std::string& path);

}  // namespace jet4
