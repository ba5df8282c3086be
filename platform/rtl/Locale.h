#pragma once
// Locale stand-ins for single-byte text: the user's default locale is Bulgarian, whose ANSI
// code page is 1251. Character types (CT_CTYPE1) and case conversion of bytes in that code page.
#include "platform/rtl/Kernel.h"
#include "platform/rtl/WinTypes.h"

using LCID = DWORD;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// GetStringTypeEx information types
inline constexpr DWORD CT_CTYPE1 = 0x0001;

// CT_CTYPE1 flags
inline constexpr WORD C1_UPPER = 0x0001;
inline constexpr WORD C1_LOWER = 0x0002;
inline constexpr WORD C1_DIGIT = 0x0004;
inline constexpr WORD C1_SPACE = 0x0008;
inline constexpr WORD C1_PUNCT = 0x0010;
inline constexpr WORD C1_CNTRL = 0x0020;
inline constexpr WORD C1_BLANK = 0x0040;
inline constexpr WORD C1_XDIGIT = 0x0080;
inline constexpr WORD C1_ALPHA = 0x0100;
inline constexpr WORD C1_DEFINED = 0x0200;

// The ANSI code page of the system: 1251.
UINT GetACP();

// The CT_CTYPE1 flags of each of cchSrc bytes (-1: up to the terminating zero, which is
// included) of code page 1251 text. Other locales than the two defaults, other types, or null
// pointers fail (FALSE, ERROR_INVALID_PARAMETER). A byte the code page leaves undefined gets 0.
BOOL GetStringTypeExA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, WORD* lpCharType);

// In-place case conversion of cchLength bytes of code page 1251 text; returns the count. Letters
// without a counterpart in the code page stay as they are.
DWORD CharLowerBuffA(LPSTR lpsz, DWORD cchLength);
DWORD CharUpperBuffA(LPSTR lpsz, DWORD cchLength);
