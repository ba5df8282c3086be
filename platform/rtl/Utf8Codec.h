#pragma once
// Internal to platform/rtl: UTF-8 decoding and case mapping of code points.
#include <cstddef>
#include <string>
#include <string_view>

namespace rtl_detail {

// A byte that does not start a valid sequence decodes to InvalidBase + byte, which is above
// every code point, and is written back unchanged.
inline constexpr char32_t InvalidBase = 0x110000;

// Decodes the character at S[Pos] and advances Pos past it (strict: no overlong forms, no
// surrogates, nothing above U+10FFFF).
char32_t DecodeNext(std::string_view S, std::size_t& Pos);
void Encode(char32_t C, std::string& Out);

char32_t ToLower(char32_t C);
char32_t ToUpper(char32_t C);
// Case folding for comparisons (lower case, final sigma as sigma).
char32_t Fold(char32_t C);
// <0, 0, >0 comparing the folded characters of A and B.
int CompareFolded(std::string_view A, std::string_view B);

}  // namespace rtl_detail
