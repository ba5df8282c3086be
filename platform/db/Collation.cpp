#include "platform/db/Collation.h"

#include <sqlite3.h>

#include <cstdint>

namespace kelvdb {
namespace {

enum : std::uint32_t { kPunct = 1, kDigit = 2, kLatin = 3, kGreek = 4, kCyrillic = 5, kOther = 6 };

struct Weight {
  std::uint32_t Primary;
  std::uint32_t Secondary;
};

constexpr std::uint32_t Make(std::uint32_t Class, std::uint32_t Value) { return (Class << 24) | Value; }

// Base letters of U+00C0..U+017F ('.' = not a letter, '~' = thorn, sorted after z).
constexpr char kLatinBase[] =
    "aaaaaaaceeeeiiiidnooooo.ouuuuy~saaaaaaaceeeeiiiidnooooo.ouuuuy~y"
    "aaaaaaccccccccddddeeeeeeeeeegggggggghhhhiiiiiiiiiiiijjkkklllllll"
    "lllnnnnnnnnnoooooooorrrrrrssssssssttttttuuuuuuuuuuuuwwyyyzzzzzzs";

// Decodes one character at S[I] and advances I. Invalid bytes come back as 0x110000 + byte.
char32_t Decode(std::string_view S, std::size_t& I) {
  const auto b0 = static_cast<unsigned char>(S[I]);
  if (b0 < 0x80) {
    ++I;
    return b0;
  }
  int n = 0;
  char32_t c = 0, min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    n = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    ++I;
    return 0x110000 + b0;
  }
  if (I + n >= S.size()) {
    ++I;
    return 0x110000 + b0;
  }
  for (int k = 1; k <= n; ++k) {
    const auto b = static_cast<unsigned char>(S[I + k]);
    if ((b & 0xC0) != 0x80) {
      ++I;
      return 0x110000 + b0;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++I;
    return 0x110000 + b0;
  }
  I += n + 1;
  return c;
}

char32_t FoldLatin(char32_t c) {
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c == 0x130) return 'i';
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c | 1;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
  return c;
}

char32_t FoldGreek(char32_t c) {
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 63;
  if (c == 0x3C2) return 0x3C3;
  return c;
}

char32_t FoldCyrillic(char32_t c) {
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF)) return c | 1;
  if (c == 0x4C0) return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c + 1 : c;
  return c;
}

Weight WeightOf(char32_t c) {
  if (c < 0x80) {
    if (c >= '0' && c <= '9') return {Make(kDigit, c - '0'), 0};
    if (c >= 'A' && c <= 'Z') c += 0x20;
    if (c >= 'a' && c <= 'z') return {Make(kLatin, (c - 'a') * 4), 0};
    return {Make(kPunct, c), 0};
  }
  if (c < 0xC0) return {Make(kPunct, c), 0};
  if (c < 0x180) {
    const char base = kLatinBase[c - 0xC0];
    if (base == '.') return {Make(kPunct, c), 0};
    const char32_t folded = FoldLatin(c);
    if (base == '~') return {Make(kLatin, 26 * 4), folded};
    return {Make(kLatin, static_cast<std::uint32_t>(base - 'a') * 4), folded};
  }
  if (c >= 0x370 && c < 0x400) {
    const char32_t f = FoldGreek(c);
    if (f >= 0x3B1 && f <= 0x3C9) return {Make(kGreek, (f - 0x3B1) * 4), 0};
    char32_t base = 0;
    switch (f) {
      case 0x3AC: base = 0x3B1; break;
      case 0x3AD: base = 0x3B5; break;
      case 0x3AE: base = 0x3B7; break;
      case 0x3AF: case 0x3CA: case 0x390: base = 0x3B9; break;
      case 0x3CC: base = 0x3BF; break;
      case 0x3CD: case 0x3CB: case 0x3B0: base = 0x3C5; break;
      case 0x3CE: base = 0x3C9; break;
      default: return {Make(kGreek, 0x1000 + f), 0};
    }
    return {Make(kGreek, (base - 0x3B1) * 4), f};
  }
  if (c >= 0x400 && c < 0x500) {
    const char32_t f = FoldCyrillic(c);
    if (f >= 0x430 && f <= 0x44F) return {Make(kCyrillic, (f - 0x430) * 4), 0};
    switch (f) {
      case 0x451: return {Make(kCyrillic, (0x435 - 0x430) * 4), f};      // ё with е
      case 0x491: return {Make(kCyrillic, (0x433 - 0x430) * 4 + 1), 0};  // ґ after г
      case 0x454: return {Make(kCyrillic, (0x435 - 0x430) * 4 + 1), 0};  // є after е
      case 0x456: return {Make(kCyrillic, (0x438 - 0x430) * 4 + 1), 0};  // і after и
      case 0x457: return {Make(kCyrillic, (0x438 - 0x430) * 4 + 2), 0};  // ї after і
      case 0x45E: return {Make(kCyrillic, (0x443 - 0x430) * 4 + 1), 0};  // ў after у
      default: return {Make(kCyrillic, 0x1000 + f), 0};
    }
  }
  return {Make(kOther, c), 0};
}

struct AsciiTable {
  std::uint32_t Primary[128];
  AsciiTable() {
    for (char32_t c = 0; c < 128; ++c) Primary[c] = WeightOf(c).Primary;
  }
};
const AsciiTable kAscii;

int CompareRaw(const char* A, std::size_t NA, const char* B, std::size_t NB) {
  const std::string_view a(A, NA), b(B, NB);
  std::size_t i = 0, j = 0;
  int secondary = 0;
  for (;;) {
    const bool endA = i >= a.size(), endB = j >= b.size();
    if (endA || endB) {
      if (endA && endB) return secondary;
      return endA ? -1 : 1;
    }
    const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {  // fast path: two ASCII characters
      ++i, ++j;
      if (ca == cb) continue;
      const std::uint32_t pa = kAscii.Primary[ca], pb = kAscii.Primary[cb];
      if (pa != pb) return pa < pb ? -1 : 1;
      continue;
    }
    const Weight wa = WeightOf(Decode(a, i)), wb = WeightOf(Decode(b, j));
    if (wa.Primary != wb.Primary) return wa.Primary < wb.Primary ? -1 : 1;
    if (secondary == 0 && wa.Secondary != wb.Secondary) secondary = wa.Secondary < wb.Secondary ? -1 : 1;
  }
}

int SqliteCompare(void*, int NA, const void* A, int NB, const void* B) {
  return CompareRaw(static_cast<const char*>(A), static_cast<std::size_t>(NA < 0 ? 0 : NA),
                    static_cast<const char*>(B), static_cast<std::size_t>(NB < 0 ? 0 : NB));
}

}  // namespace

int CollateCompare(std::string_view A, std::string_view B) { return CompareRaw(A.data(), A.size(), B.data(), B.size()); }

bool RegisterCollation(sqlite3* Db) {
  return sqlite3_create_collation_v2(Db, kCollationName, SQLITE_UTF8, nullptr, &SqliteCompare, nullptr) == SQLITE_OK;
}

}  // namespace kelvdb
