// Modules and version information of the process.
#include <cstring>
#include <string>

#include "platform/rtl/Kernel.h"
#include "platform/rtl/SysUtils.h"

namespace {

// Any non-null value names the executable's module; it is never dereferenced.
char gExecutableModule;

}  // namespace

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  if (!lpModuleName) return &gExecutableModule;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule && hModule != &gExecutableModule) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::string path = ExecutableName();
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

DWORD GetFileVersionInfoSizeA(LPCSTR lptstrFilename, DWORD* lpdwHandle) {
  if (lpdwHandle) *lpdwHandle = 0;
  SetLastError(lptstrFilename && FileExists(lptstrFilename) ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_FILE_NOT_FOUND);
  return 0;
}

BOOL GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD, LPVOID) {
  GetFileVersionInfoSizeA(lptstrFilename, nullptr);
  return FALSE;
}

BOOL VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen) {
  // wLength, wValueLength, wType, 16 characters of key, then the value at byte 40.
  constexpr DWORD kValueAt = 40;
  if (!pBlock || !lpSubBlock || !lplpBuffer || !puLen || std::strcmp(lpSubBlock, "\\") != 0) return FALSE;
  const auto* block = static_cast<const std::uint8_t*>(pBlock);
  const DWORD length = static_cast<DWORD>(block[0] | block[1] << 8);
  const DWORD valueLength = static_cast<DWORD>(block[2] | block[3] << 8);
  if (kValueAt + valueLength > length) return FALSE;
  *lplpBuffer = const_cast<std::uint8_t*>(block + kValueAt);
  *puLen = valueLength;
  return TRUE;
}
