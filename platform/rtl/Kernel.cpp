// Kernel stand-ins: MulDiv, last error, global memory, events, time, system information.
#include "platform/rtl/Kernel.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/rtl/SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Last error and texts

namespace {
thread_local DWORD tLastError = NO_ERROR;
}

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

DWORD FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer, DWORD nSize,
                     va_list*) {
  const std::string text = (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) ? SysErrorMessage(dwMessageId) : std::string();
  if (text.empty()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if (!lpBuffer || nSize <= text.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  const char* value = lpName ? std::getenv(lpName) : nullptr;
  if (!value) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const std::size_t length = std::strlen(value);
  if (length >= 0xFFFFFFFFu) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (!lpBuffer || nSize <= length) return static_cast<DWORD>(length + 1);
  std::memcpy(lpBuffer, value, length + 1);
  return static_cast<DWORD>(length);
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

int MulDiv(int nNumber, int nNumerator, int nDenominator) {
  if (nDenominator == 0) return -1;
  const std::int64_t product = static_cast<std::int64_t>(nNumber) * nNumerator;
  const bool negative = (product < 0) != (nDenominator < 0);
  const std::uint64_t magnitude = product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
  const std::uint64_t divisor =
      nDenominator < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(nDenominator)) : static_cast<std::uint64_t>(nDenominator);
  std::uint64_t quotient = magnitude / divisor;
  if ((magnitude % divisor) * 2 >= divisor) ++quotient;  // halves away from zero
  if (negative) {
    if (quotient > 0x80000000ull) return -1;
    return static_cast<int>(-static_cast<std::int64_t>(quotient));
  }
  if (quotient > 0x7FFFFFFFull) return -1;
  return static_cast<int>(quotient);
}

// ---------------------------------------------------------------------------------------------
// Global memory

namespace {

struct GlobalBlock {
  void* memory{nullptr};
  SIZE_T size{0};       // asked for
  SIZE_T allocated{0};  // usable bytes (at least 1, so a block always has an address)
  bool moveable{false};
  unsigned locks{0};
};

// Tables are never destroyed: other threads may still use them while the process exits.
struct GlobalTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, GlobalBlock> blocks;
  // Moveable handles end in binary 0100, which no allocation's address does.
  std::uintptr_t nextMoveable = 0x10004;
};
GlobalTable& Globals() {
  static GlobalTable* const table = new GlobalTable;
  return *table;
}

GlobalBlock* FindBlock(HGLOBAL hMem) {
  const auto it = Globals().blocks.find(reinterpret_cast<std::uintptr_t>(hMem));
  if (it == Globals().blocks.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  if (dwBytes > GLOBAL_MAX_BLOCK) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const SIZE_T allocated = dwBytes == 0 ? 1 : dwBytes;
  void* memory = (uFlags & GMEM_ZEROINIT) ? std::calloc(allocated, 1) : std::malloc(allocated);
  if (!memory) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  GlobalBlock block{memory, dwBytes, allocated, (uFlags & GMEM_MOVEABLE) != 0, 0};
  std::lock_guard guard(Globals().lock);
  std::uintptr_t handle;
  if (block.moveable) {
    handle = Globals().nextMoveable;
    Globals().nextMoveable += 0x10;
  } else {
    handle = reinterpret_cast<std::uintptr_t>(memory);
  }
  Globals().blocks.emplace(handle, block);
  return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID GlobalLock(HGLOBAL hMem) {
  std::lock_guard guard(Globals().lock);
  GlobalBlock* block = FindBlock(hMem);
  if (!block) return nullptr;
  if (block->moveable && block->locks < 0xFF) ++block->locks;
  return block->memory;
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  std::lock_guard guard(Globals().lock);
  GlobalBlock* block = FindBlock(hMem);
  if (!block) return FALSE;
  if (!block->moveable) {
    SetLastError(NO_ERROR);
    return FALSE;
  }
  if (block->locks == 0) {
    SetLastError(ERROR_NOT_LOCKED);
    return FALSE;
  }
  if (--block->locks > 0) return TRUE;
  SetLastError(NO_ERROR);
  return FALSE;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
  std::lock_guard guard(Globals().lock);
  const GlobalBlock* block = FindBlock(hMem);
  return block ? block->size : 0;
}

HGLOBAL GlobalReAlloc(HGLOBAL hMem, SIZE_T dwBytes, UINT uFlags) {
  std::lock_guard guard(Globals().lock);
  GlobalBlock* block = FindBlock(hMem);
  if (!block) return nullptr;
  if (dwBytes > GLOBAL_MAX_BLOCK) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const SIZE_T oldSize = block->size;
  if (dwBytes > block->allocated) {
    const bool mayMove = (block->moveable && block->locks == 0) || (uFlags & GMEM_MOVEABLE);
    if (!mayMove) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    void* memory = std::realloc(block->memory, dwBytes);
    if (!memory) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    block->memory = memory;
    block->allocated = dwBytes;
  }
  if ((uFlags & GMEM_ZEROINIT) && dwBytes > oldSize)
    std::memset(static_cast<BYTE*>(block->memory) + oldSize, 0, dwBytes - oldSize);
  block->size = dwBytes;
  std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hMem);
  if (!block->moveable && reinterpret_cast<std::uintptr_t>(block->memory) != handle) {
    // A fixed block that moved: its address is its new handle.
    GlobalBlock moved = *block;
    Globals().blocks.erase(handle);
    handle = reinterpret_cast<std::uintptr_t>(moved.memory);
    Globals().blocks.emplace(handle, moved);
  }
  return reinterpret_cast<HGLOBAL>(handle);
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  std::lock_guard guard(Globals().lock);
  GlobalBlock* block = FindBlock(hMem);
  if (!block) return hMem;
  std::free(block->memory);
  Globals().blocks.erase(reinterpret_cast<std::uintptr_t>(hMem));
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Events

namespace {

struct EventObject {
  std::mutex lock;
  std::condition_variable signal;
  bool manualReset{false};
  bool signaled{false};
};

struct EventTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<EventObject>> events;
  // Event handles end in binary 1000: distinct from memory handles and addresses.
  std::uintptr_t nextEvent = 0x20008;
};
EventTable& Events() {
  static EventTable* const table = new EventTable;
  return *table;
}

std::shared_ptr<EventObject> FindEvent(HANDLE h) {
  std::lock_guard guard(Events().lock);
  const auto it = Events().events.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == Events().events.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR) {
  auto event = std::make_shared<EventObject>();
  event->manualReset = bManualReset != FALSE;
  event->signaled = bInitialState != FALSE;
  std::lock_guard guard(Events().lock);
  const std::uintptr_t handle = Events().nextEvent;
  Events().nextEvent += 0x10;
  Events().events.emplace(handle, std::move(event));
  return reinterpret_cast<HANDLE>(handle);
}

BOOL SetEvent(HANDLE hEvent) {
  const auto event = FindEvent(hEvent);
  if (!event) return FALSE;
  {
    std::lock_guard guard(event->lock);
    event->signaled = true;
  }
  if (event->manualReset)
    event->signal.notify_all();
  else
    event->signal.notify_one();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  const auto event = FindEvent(hEvent);
  if (!event) return FALSE;
  std::lock_guard guard(event->lock);
  event->signaled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  const auto event = FindEvent(hHandle);
  if (!event) return WAIT_FAILED;
  std::unique_lock lock(event->lock);
  const auto isSignaled = [&] { return event->signaled; };
  if (dwMilliseconds == INFINITE) {
    event->signal.wait(lock, isSignaled);
  } else if (!event->signal.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), isSignaled)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->signaled = false;
  return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject) {
  std::lock_guard guard(Events().lock);
  if (Events().events.erase(reinterpret_cast<std::uintptr_t>(hObject)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Time, threads, system information

void Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0)
    std::this_thread::yield();
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD timeGetTime() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

DWORD GetTickCount() { return timeGetTime(); }

DWORD GetCurrentThreadId() { return static_cast<DWORD>(gettid()); }

void GetSystemInfo(LPSYSTEM_INFO lpSystemInfo) {
  if (!lpSystemInfo) return;
  SYSTEM_INFO info;
  info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
  const long page = sysconf(_SC_PAGESIZE);
  info.dwPageSize = page > 0 ? static_cast<DWORD>(page) : 4096;
  info.lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x10000});
  info.lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(std::uintptr_t{0x7FFEFFFF});
  const long processors = sysconf(_SC_NPROCESSORS_ONLN);
  info.dwNumberOfProcessors = processors > 0 ? static_cast<DWORD>(processors) : 1;
  const DWORD maskBits = info.dwNumberOfProcessors < 32 ? info.dwNumberOfProcessors : 32;
  info.dwActiveProcessorMask = maskBits == 32 ? 0xFFFFFFFFu : ((DWORD_PTR{1} << maskBits) - 1);
  info.dwProcessorType = PROCESSOR_INTEL_PENTIUM;
  info.dwAllocationGranularity = 0x10000;
  info.wProcessorLevel = 6;
  info.wProcessorRevision = 0;
  *lpSystemInfo = info;
}
