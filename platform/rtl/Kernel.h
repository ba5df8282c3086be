#pragma once
// Stand-ins for the Win32 kernel and multimedia-timer calls used by the system: arithmetic,
// global memory blocks, events and waits, time, last-error codes, platform identification.
#include <cstdarg>
#include <cstring>

#include "platform/rtl/WinTypes.h"

using LPSTR = char*;
using LPCSTR = const char*;

// ---------------------------------------------------------------------------------------------
// Error codes (the subset these stand-ins report)

inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_NOT_LOCKED = 158;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

// Last error of the calling thread.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
// The error code that stands for a C library errno value (ERROR_ACCESS_DENIED for EACCES, ...);
// an errno without a counterpart maps to 0x20000000 | errno (the application-defined range),
// whose text is still found by SysErrorMessage and FormatMessageA.
DWORD Win32ErrorFromErrno(int Errno);

// Message lookup (FORMAT_MESSAGE_FROM_SYSTEM, inserts ignored, no allocation): copies the
// text of dwMessageId into lpBuffer (nSize bytes, terminated) and returns its length; 0 when
// there is no text (ERROR_MR_MID_NOT_FOUND) or the buffer is too small
// (ERROR_INSUFFICIENT_BUFFER). Other flags, sources, languages and arguments are ignored.
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* Arguments);

// Windows-style environment lookup: copies the value with its terminator and returns its
// length; when nSize is too small returns the size needed (with the terminator); 0 and
// ERROR_ENVVAR_NOT_FOUND when the variable is not set.
DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);

// ---------------------------------------------------------------------------------------------
// Arithmetic

// nNumber * nNumerator / nDenominator with a 64-bit intermediate, rounded to the nearest
// integer with halves away from zero; -1 when nDenominator is 0 or the result does not fit in
// 32 bits.
int MulDiv(int nNumber, int nNumerator, int nDenominator);

// ---------------------------------------------------------------------------------------------
// Memory

inline void CopyMemory(void* Destination, const void* Source, SIZE_T Length) {
  if (Length != 0) std::memcpy(Destination, Source, Length);
}
inline void MoveMemory(void* Destination, const void* Source, SIZE_T Length) {
  if (Length != 0) std::memmove(Destination, Source, Length);
}
inline void FillMemory(void* Destination, SIZE_T Length, BYTE Fill) {
  if (Length != 0) std::memset(Destination, Fill, Length);
}
inline void ZeroMemory(void* Destination, SIZE_T Length) { FillMemory(Destination, Length, 0); }

// Global memory blocks. A fixed block's handle is its address; a moveable block's handle is a
// distinct value that GlobalLock turns into the address (lock counts are kept per block).
// Sizes above GLOBAL_MAX_BLOCK fail with 0 and ERROR_NOT_ENOUGH_MEMORY. Invalid handles fail
// with ERROR_INVALID_HANDLE instead of touching memory.
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;
inline constexpr SIZE_T GLOBAL_MAX_BLOCK = SIZE_T{1} << 30;

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
LPVOID GlobalLock(HGLOBAL hMem);      // null on failure
BOOL GlobalUnlock(HGLOBAL hMem);      // TRUE while still locked; FALSE when now unlocked
SIZE_T GlobalSize(HGLOBAL hMem);      // bytes asked for; 0 on failure
// Resizes; GMEM_ZEROINIT clears the grown part. A fixed block, or a locked moveable one, moves
// only when uFlags has GMEM_MOVEABLE; otherwise growth fails (null, ERROR_NOT_ENOUGH_MEMORY).
// Returns the (possibly new) handle, null on failure (the old block stays valid).
HGLOBAL GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags);
HGLOBAL GlobalFree(HGLOBAL hMem);     // null on success, hMem on failure

// ---------------------------------------------------------------------------------------------
// Events and waits (process-local; names are ignored)

struct SECURITY_ATTRIBUTES {
  DWORD nLength{0};
  LPVOID lpSecurityDescriptor{nullptr};
  BOOL bInheritHandle{FALSE};
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// bManualReset: TRUE stays set until ResetEvent; FALSE releases one waiter and resets itself.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                    LPCSTR lpName);
inline HANDLE CreateEvent(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                          BOOL bInitialState, LPCSTR lpName) {
  return CreateEventA(lpEventAttributes, bManualReset, bInitialState, lpName);
}
BOOL SetEvent(HANDLE hEvent);
BOOL ResetEvent(HANDLE hEvent);
// WAIT_OBJECT_0, WAIT_TIMEOUT after dwMilliseconds (INFINITE waits for ever), WAIT_FAILED for
// an invalid handle. Closing a handle while another thread waits on it is safe: the wait ends
// by its timeout or signal as usual.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL CloseHandle(HANDLE hObject);

// ---------------------------------------------------------------------------------------------
// Time and threads

void Sleep(DWORD dwMilliseconds);  // Sleep(0) yields the processor
// Milliseconds of a monotonic clock, 32 bits, wrapping after about 49.7 days.
DWORD timeGetTime();
DWORD GetTickCount();
DWORD GetCurrentThreadId();

// ---------------------------------------------------------------------------------------------
// Platform identification: the system reports itself as the NT family, version 5.1.

inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

inline const int Win32Platform = static_cast<int>(VER_PLATFORM_WIN32_NT);
inline const int Win32MajorVersion = 5;
inline const int Win32MinorVersion = 1;
inline const int Win32BuildNumber = 2600;
inline const char* const Win32CSDVersion = "";

inline constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
inline constexpr DWORD PROCESSOR_INTEL_PENTIUM = 586;

struct SYSTEM_INFO {
  WORD wProcessorArchitecture{0};
  WORD wReserved{0};
  DWORD dwPageSize{0};
  LPVOID lpMinimumApplicationAddress{nullptr};
  LPVOID lpMaximumApplicationAddress{nullptr};
  DWORD_PTR dwActiveProcessorMask{0};
  DWORD dwNumberOfProcessors{0};
  DWORD dwProcessorType{0};
  DWORD dwAllocationGranularity{0};
  WORD wProcessorLevel{0};
  WORD wProcessorRevision{0};
};
using LPSYSTEM_INFO = SYSTEM_INFO*;

// Page size and processor count of this machine; an Intel processor of level 6; allocation
// granularity 64 KiB.
void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo);

// ---------------------------------------------------------------------------------------------
// Modules and version information. The process has one module, the executable; no other module
// (no system library by name) is loaded. Files of this platform carry no version information.

inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

// Null: the executable's handle; any name: null with ERROR_MOD_NOT_FOUND.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
// The path of the module (null: the executable) with its terminator; returns its length. A
// buffer too small receives the path cut to nSize - 1 characters and terminated, and the
// result is nSize with ERROR_INSUFFICIENT_BUFFER. Another module: 0 with ERROR_MOD_NOT_FOUND.
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// The fixed part of a file's version information (52 bytes).
struct VS_FIXEDFILEINFO {
  DWORD dwSignature{0};  // 0xFEEF04BD
  DWORD dwStrucVersion{0};
  DWORD dwFileVersionMS{0};
  DWORD dwFileVersionLS{0};
  DWORD dwProductVersionMS{0};
  DWORD dwProductVersionLS{0};
  DWORD dwFileFlagsMask{0};
  DWORD dwFileFlags{0};
  DWORD dwFileOS{0};
  DWORD dwFileType{0};
  DWORD dwFileSubtype{0};
  DWORD dwFileDateMS{0};
  DWORD dwFileDateLS{0};
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

// 0 for every file: ERROR_RESOURCE_TYPE_NOT_FOUND for a file that exists (none carries version
// information), ERROR_FILE_NOT_FOUND for one that does not.
DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, DWORD* lpdwHandle);
// FALSE with the error GetFileVersionInfoSizeA gives.
BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// In a version-information block (VS_VERSIONINFO: 16-bit length, value length and type, the
// key "VS_VERSION_INFO" in 16-bit characters, the value on a 32-bit boundary): the root "\" gives
// the value and its length; any other query, or a block whose value lies beyond its length,
// FALSE.
BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);
