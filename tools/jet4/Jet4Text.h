#pragma once
// Text encodings of Jet 4.0 and the readable description format (see README.md).
#include "tools/jet4/Jet4Database.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet4 {

// Strict UTF-8 to UTF-16 (surrogate pairs for characters beyond the BMP); throws EJet4Error on
// malformed, overlong or surrogate-encoding input.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Jet 4.0 storage of a text value: plain little-endian UCS-2, or, when compress is set and it is
// shorter, the compressed form: 0xFF 0xFE, then runs of one-byte characters (high byte zero) and
// two-byte characters separated by a 0x00 byte that switches between the two modes.
std::vector<std::uint8_t> EncodeText(const std::u16string& text, bool compress);

// Parses the description format. Several sources may be parsed into the same database in turn
// (a schema file, then data files); name is used in error messages ("name:line: ...").
void ParseText(std::string_view source, const std::string& name, TDatabase& db);

}  // namespace jet4
