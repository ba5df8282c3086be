#include "platform/rtl/Locale.h"

#include <cstring>

#include "platform/rtl/Utf8Codec.h"

namespace {

// Code points of bytes 0x80..0xBF of code page 1251 (0 where the code page has none);
// 0xC0..0xFF are U+0410..U+044F.
constexpr char32_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

char32_t ToUnicode(unsigned char C) {
  if (C < 0x80) return C;
  if (C >= 0xC0) return 0x0410 + (C - 0xC0);
  return kHigh[C - 0x80];
}

// The byte of a code point, or -1.
int FromUnicode(char32_t U) {
  if (U < 0x80) return static_cast<int>(U);
  if (U >= 0x0410 && U <= 0x044F) return static_cast<int>(0xC0 + (U - 0x0410));
  for (int i = 0; i < 64; ++i)
    if (kHigh[i] == U && U != 0) return 0x80 + i;
  return -1;
}

bool IsCyrillicLetter(char32_t U) { return (U >= 0x0400 && U <= 0x045F) || U == 0x0490 || U == 0x0491; }

WORD TypeOf(unsigned char C) {
  const char32_t u = ToUnicode(C);
  if (C >= 0x80 && u == 0) return 0;
  WORD t = C1_DEFINED;
  if (u < 0x80) {
    if (u < 0x20 || u == 0x7F) {
      t |= C1_CNTRL;
      if (u >= 0x09 && u <= 0x0D) t |= C1_SPACE;
      if (u == 0x09) t |= C1_BLANK;
    } else if (u == 0x20) {
      t |= C1_SPACE | C1_BLANK;
    } else if (u >= '0' && u <= '9') {
      t |= C1_DIGIT | C1_XDIGIT;
    } else if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z')) {
      t |= C1_ALPHA | (u <= 'Z' ? C1_UPPER : C1_LOWER);
      if ((u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')) t |= C1_XDIGIT;
    } else {
      t |= C1_PUNCT;
    }
    return t;
  }
  if (u == 0x00A0) return t | C1_SPACE | C1_BLANK;
  if (IsCyrillicLetter(u)) return t | C1_ALPHA | (rtl_detail::ToLower(u) == u ? C1_LOWER : C1_UPPER);
  if (u == 0x00B5) return t | C1_ALPHA | C1_LOWER;
  return t | C1_PUNCT;
}

template <class F>
DWORD MapBytes(LPSTR Text, DWORD Length, F Map) {
  if (!Text) return 0;
  for (DWORD i = 0; i < Length; ++i) {
    const auto c = static_cast<unsigned char>(Text[i]);
    const char32_t u = ToUnicode(c);
    if (c >= 0x80 && u == 0) continue;
    const int mapped = FromUnicode(Map(u));
    if (mapped >= 0) Text[i] = static_cast<char>(mapped);
  }
  return Length;
}

}  // namespace

UINT GetACP() { return 1251; }

BOOL GetStringTypeExA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, WORD* lpCharType) {
  if ((Locale != LOCALE_USER_DEFAULT && Locale != LOCALE_SYSTEM_DEFAULT) || dwInfoType != CT_CTYPE1 || !lpSrcStr ||
      !lpCharType || cchSrc == 0 || cchSrc < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::size_t n = cchSrc == -1 ? std::strlen(lpSrcStr) + 1 : static_cast<std::size_t>(cchSrc);
  for (std::size_t i = 0; i < n; ++i) lpCharType[i] = TypeOf(static_cast<unsigned char>(lpSrcStr[i]));
  return TRUE;
}

DWORD CharLowerBuffA(LPSTR lpsz, DWORD cchLength) { return MapBytes(lpsz, cchLength, rtl_detail::ToLower); }

DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength) { return MapBytes(lpsz, cchLength, rtl_detail::ToUpper); }
