// UTF-8 decoding, case mapping and the character-counted string helpers.
#include <algorithm>
#include <cstring>

#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Utf8Codec.h"

namespace rtl_detail {

char32_t DecodeNext(std::string_view S, std::size_t& Pos) {
  const auto b0 = static_cast<unsigned char>(S[Pos]);
  const auto invalid = [&] {
    ++Pos;
    return InvalidBase + b0;
  };
  if (b0 < 0x80) {
    ++Pos;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1, c = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2, c = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3, c = b0 & 0x07, minimum = 0x10000;
  } else {
    return invalid();
  }
  if (S.size() - Pos <= static_cast<std::size_t>(extra)) return invalid();
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<unsigned char>(S[Pos + i]);
    if ((b & 0xC0) != 0x80) return invalid();
    c = (c << 6) | (b & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return invalid();
  Pos += extra + 1;
  return c;
}

void Encode(char32_t C, std::string& Out) {
  if (C >= InvalidBase) {
    Out += static_cast<char>(C - InvalidBase);
  } else if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

namespace {
bool Between(char32_t C, char32_t Lo, char32_t Hi) { return C >= Lo && C <= Hi; }
bool Even(char32_t C) { return (C & 1) == 0; }
}  // namespace

char32_t ToLower(char32_t C) {
  if (C < 0x80) return Between(C, 'A', 'Z') ? C + 32 : C;
  if (Between(C, 0xC0, 0xDE)) return C == 0xD7 ? C : C + 32;
  // Latin Extended-A: upper/lower pairs (the dotted and dotless i are left alone).
  if (Between(C, 0x100, 0x137)) return (Even(C) && C != 0x130) ? C + 1 : C;
  if (Between(C, 0x139, 0x148)) return Even(C) ? C : C + 1;
  if (Between(C, 0x14A, 0x177)) return Even(C) ? C + 1 : C;
  if (C == 0x178) return 0xFF;
  if (Between(C, 0x179, 0x17E)) return Even(C) ? C : C + 1;
  // Greek
  if (C == 0x386) return 0x3AC;
  if (Between(C, 0x388, 0x38A)) return C + 37;
  if (C == 0x38C) return 0x3CC;
  if (Between(C, 0x38E, 0x38F)) return C + 63;
  if (Between(C, 0x391, 0x3AB)) return C == 0x3A2 ? C : C + 32;
  // Cyrillic
  if (Between(C, 0x400, 0x40F)) return C + 80;
  if (Between(C, 0x410, 0x42F)) return C + 32;
  if (Between(C, 0x460, 0x481) || Between(C, 0x48A, 0x4BF) || Between(C, 0x4D0, 0x52F))
    return Even(C) ? C + 1 : C;
  if (C == 0x4C0) return 0x4CF;
  if (Between(C, 0x4C1, 0x4CE)) return Even(C) ? C : C + 1;
  return C;
}

char32_t ToUpper(char32_t C) {
  if (C < 0x80) return Between(C, 'a', 'z') ? C - 32 : C;
  if (Between(C, 0xE0, 0xFE)) return C == 0xF7 ? C : C - 32;
  if (C == 0xFF) return 0x178;
  if (Between(C, 0x101, 0x137)) return (!Even(C) && C != 0x131) ? C - 1 : C;
  if (Between(C, 0x13A, 0x148)) return Even(C) ? C - 1 : C;
  if (Between(C, 0x14B, 0x177)) return Even(C) ? C : C - 1;
  if (Between(C, 0x17A, 0x17E)) return Even(C) ? C - 1 : C;
  if (C == 0x3AC) return 0x386;
  if (Between(C, 0x3AD, 0x3AF)) return C - 37;
  if (C == 0x3CC) return 0x38C;
  if (Between(C, 0x3CD, 0x3CE)) return C - 63;
  if (C == 0x3C2) return 0x3A3;
  if (Between(C, 0x3B1, 0x3CB)) return C - 32;
  if (Between(C, 0x450, 0x45F)) return C - 80;
  if (Between(C, 0x430, 0x44F)) return C - 32;
  if (Between(C, 0x461, 0x481) || Between(C, 0x48B, 0x4BF) || Between(C, 0x4D1, 0x52F))
    return Even(C) ? C : C - 1;
  if (C == 0x4CF) return 0x4C0;
  if (Between(C, 0x4C2, 0x4CE)) return Even(C) ? C - 1 : C;
  return C;
}

char32_t Fold(char32_t C) {
  const char32_t lower = ToLower(C);
  return lower == 0x3C2 ? 0x3C3 : lower;
}

int CompareFolded(std::string_view A, std::string_view B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    const char32_t a = Fold(DecodeNext(A, i));
    const char32_t b = Fold(DecodeNext(B, j));
    if (a != b) return a < b ? -1 : 1;
  }
  if (i < A.size()) return 1;
  if (j < B.size()) return -1;
  return 0;
}

}  // namespace rtl_detail

using namespace rtl_detail;

namespace {

// Byte offset just past the first Count characters of S (or S.size()).
std::size_t OffsetOfChars(std::string_view S, std::size_t Count) {
  std::size_t pos = 0;
  while (Count > 0 && pos < S.size()) {
    DecodeNext(S, pos);
    --Count;
  }
  return pos;
}

template <class Map>
std::string MapCase(std::string_view S, Map map) {
  std::string out;
  out.reserve(S.size());
  std::size_t pos = 0;
  while (pos < S.size()) Encode(map(DecodeNext(S, pos)), out);
  return out;
}

}  // namespace

std::size_t Utf8Length(std::string_view S) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < S.size(); ++count) DecodeNext(S, pos);
  return count;
}

std::string Utf8Copy(std::string_view S, std::int64_t Index, std::int64_t Count) {
  if (Index < 1) Index = 1;
  if (Count <= 0) return {};
  const std::size_t start = OffsetOfChars(S, static_cast<std::size_t>(Index - 1));
  const std::string_view rest = S.substr(start);
  return std::string(rest.substr(0, OffsetOfChars(rest, static_cast<std::size_t>(Count))));
}

std::string Utf8PadRight(std::string_view S, std::size_t Width) {
  const std::size_t cut = OffsetOfChars(S, Width);
  std::string out(S.substr(0, cut));
  out.append(Width - Utf8Length(out), ' ');
  return out;
}

std::string Utf8PadLeft(std::string_view S, std::size_t Width) {
  const std::string text(S.substr(0, OffsetOfChars(S, Width)));
  return std::string(Width - Utf8Length(text), ' ') + text;
}

std::string AnsiUpperCase(std::string_view S) { return MapCase(S, ToUpper); }
std::string AnsiLowerCase(std::string_view S) { return MapCase(S, ToLower); }
int AnsiCompareText(std::string_view S1, std::string_view S2) { return CompareFolded(S1, S2); }

int AnsiCompareStr(std::string_view S1, std::string_view S2) {
  const int c = S1.compare(S2);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
