#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <thread>

#include "platform/rtl/Kernel.h"
#include "platform/rtl/SysUtils.h"

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  struct Case {
    int number, numerator, denominator, expected;
  };
  const Case cases[] = {
      {10, 3, 2, 15},   {5, 1, 2, 3},     {-5, 1, 2, -3},  {5, -1, 2, -3},  {5, 1, -2, -3},
      {-5, -1, -2, -3}, {-5, -1, 2, 3},   {7, 1, 3, 2},    {8, 1, 3, 3},    {-8, 1, 3, -3},
      {-1, 1, 2, -1},   {1, 1, -2, -1},   {1, 1, 3, 0},    {-1, 1, 3, 0},   {0, 123, 7, 0},
      {100, 50, 100, 50}, {3, 1, 2, 2},   {-3, 1, 2, -2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
        << c.number << " * " << c.numerator << " / " << c.denominator;
}

TEST(MulDiv, WideIntermediateZeroDivisorAndOverflow) {
  EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 2), INT_MAX);
  EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
  EXPECT_EQ(MulDiv(INT_MIN, 1, 1), INT_MIN);
  EXPECT_EQ(MulDiv(INT_MIN, INT_MIN, INT_MIN), INT_MIN);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0, 0, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT_MIN, -1, 1), -1);
  EXPECT_EQ(MulDiv(INT_MIN, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, 1), -1);
}

TEST(GlobalMemory, MoveableBlocksLockUnlockAndSize) {
  HGLOBAL h = GlobalAlloc(GHND, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<BYTE*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_NE(static_cast<void*>(p), h);  // a moveable block's handle is not its address
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(GlobalLock(h), p);
  EXPECT_EQ(GlobalUnlock(h), TRUE);  // still locked once
  EXPECT_EQ(GlobalUnlock(h), FALSE);
  EXPECT_EQ(GetLastError(), NO_ERROR);
  EXPECT_EQ(GlobalUnlock(h), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_LOCKED);
  p[99] = 0xAB;
  HGLOBAL grown = GlobalReAlloc(h, 5000, GMEM_ZEROINIT);
  ASSERT_EQ(grown, h);  // moveable: same handle
  p = static_cast<BYTE*>(GlobalLock(grown));
  EXPECT_EQ(p[99], 0xAB);
  EXPECT_EQ(p[4999], 0);
  EXPECT_EQ(GlobalSize(grown), 5000u);
  GlobalUnlock(grown);
  EXPECT_EQ(GlobalFree(grown), nullptr);
  EXPECT_EQ(GlobalFree(grown), grown);  // gone
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(GlobalMemory, FixedBlocksAreTheirAddress) {
  HGLOBAL h = GlobalAlloc(GPTR, 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalLock(h), h);
  EXPECT_EQ(static_cast<BYTE*>(h)[15], 0);
  // A fixed block moves only when asked to.
  SetLastError(NO_ERROR);
  EXPECT_EQ(GlobalReAlloc(h, 1 << 20, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalSize(h), 16u);
  EXPECT_EQ(GlobalReAlloc(h, 8, 0), h);  // shrinking stays in place
  HGLOBAL moved = GlobalReAlloc(h, 1 << 20, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(GlobalLock(moved), moved);
  EXPECT_EQ(GlobalSize(moved), std::size_t{1} << 20);
  EXPECT_EQ(GlobalFree(moved), nullptr);
  HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  GlobalFree(empty);
}

TEST(GlobalMemory, AbsurdSizesAndBadHandlesFail) {
  SetLastError(NO_ERROR);
  EXPECT_EQ(GlobalAlloc(GHND, SIZE_MAX), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, GLOBAL_MAX_BLOCK + 1), nullptr);
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
  EXPECT_EQ(GlobalReAlloc(h, SIZE_MAX, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(h), 4u);
  GlobalFree(h);
  int local = 0;
  EXPECT_EQ(GlobalSize(&local), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GlobalLock(&local), nullptr);
}

TEST(Memory, CopyMoveFillZero) {
  char buf[8] = "abcdefg";
  MoveMemory(buf + 1, buf, 5);  // overlapping
  EXPECT_STREQ(buf, "aabcdeg");
  FillMemory(buf, 3, 'z');
  EXPECT_STREQ(buf, "zzzcdeg");
  char other[8];
  CopyMemory(other, buf, 8);
  EXPECT_STREQ(other, "zzzcdeg");
  ZeroMemory(other, 8);
  EXPECT_EQ(other[7], 0);
  CopyMemory(nullptr, nullptr, 0);
}

TEST(Time, TimeGetTimeIsMonotonic) {
  DWORD previous = timeGetTime();
  for (int i = 0; i < 10000; ++i) {
    const DWORD now = timeGetTime();
    ASSERT_GE(static_cast<std::int32_t>(now - previous), 0);  // wrap-safe difference
    previous = now;
  }
  const DWORD before = timeGetTime();
  Sleep(20);
  EXPECT_GE(timeGetTime() - before, 19u);
  // The same clock: a reading of GetTickCount lies between two of timeGetTime.
  const DWORD first = timeGetTime();
  const DWORD tick = GetTickCount();
  EXPECT_GE(static_cast<std::int32_t>(tick - first), 0);
  EXPECT_GE(static_cast<std::int32_t>(timeGetTime() - tick), 0);
}

TEST(Events, AutoResetReleasesOneWait) {
  HANDLE e = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(e, 30), WAIT_TIMEOUT);
  SetEvent(e);
  SetEvent(e);  // not counted
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CloseHandle(e), TRUE);
}

TEST(Events, ManualResetStaysSet) {
  HANDLE e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
  CloseHandle(e);
}

TEST(Events, WakeWaitersOnOtherThreads) {
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::thread a([&] { woken += WaitForSingleObject(e, INFINITE) == WAIT_OBJECT_0; });
  std::thread b([&] { woken += WaitForSingleObject(e, INFINITE) == WAIT_OBJECT_0; });
  SetEvent(e);
  while (woken.load() < 1) Sleep(1);
  SetEvent(e);
  a.join();
  b.join();
  EXPECT_EQ(woken.load(), 2);
  CloseHandle(e);
}

TEST(Events, InvalidHandles) {
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, "named");
  CloseHandle(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetEvent(e), FALSE);
  EXPECT_EQ(CloseHandle(e), FALSE);
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
}

TEST(LastError, IsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 1;
  std::thread([&] { seen = GetLastError(); }).join();
  EXPECT_EQ(seen, NO_ERROR);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(ErrorTexts, LookupAndBuffers) {
  EXPECT_EQ(SysErrorMessage(ERROR_FILE_NOT_FOUND), std::strerror(ENOENT));
  EXPECT_EQ(SysErrorMessage(Win32ErrorFromErrno(EXDEV)), std::strerror(EXDEV));
  EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SysErrorMessage(0xDEAD), "");
  char buf[256];
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                 ERROR_NOT_ENOUGH_MEMORY, 0, buf, sizeof buf, nullptr);
  EXPECT_EQ(std::string(buf, n), std::strerror(ENOMEM));
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEAD, 0, buf, sizeof buf, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0, buf, 3, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(Environment, WindowsStyleAndStringLookup) {
  ::setenv("KELV_RTL_PROBE", "C:\\Temp", 1);
  char small[4];
  EXPECT_EQ(GetEnvironmentVariableA("KELV_RTL_PROBE", small, sizeof small), 8u);  // size needed
  char buf[16];
  EXPECT_EQ(GetEnvironmentVariableA("KELV_RTL_PROBE", buf, sizeof buf), 7u);
  EXPECT_STREQ(buf, "C:\\Temp");
  EXPECT_EQ(GetEnvironmentVariable("KELV_RTL_PROBE"), "C:\\Temp");
  ::unsetenv("KELV_RTL_PROBE");
  EXPECT_EQ(GetEnvironmentVariableA("KELV_RTL_PROBE", buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
  EXPECT_EQ(GetEnvironmentVariable("KELV_RTL_PROBE"), "");
}

TEST(Platform, ReportsNtVersion51) {
  EXPECT_EQ(Win32Platform, 2);
  EXPECT_EQ(Win32MajorVersion, 5);
  EXPECT_EQ(Win32MinorVersion, 1);
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  EXPECT_EQ(info.wProcessorLevel, 6);
  EXPECT_GE(info.dwNumberOfProcessors, 1u);
  EXPECT_GE(info.dwPageSize, 4096u);
  EXPECT_EQ(info.dwAllocationGranularity, 65536u);
  EXPECT_NE(GetCurrentThreadId(), 0u);
}

TEST(Modules, TheExecutableAndNoOther) {
  char path[4096];
  const std::string own = ExecutableName();
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof path), own.size());
  EXPECT_EQ(std::string(path), own);
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path), own.size());
  char shortBuffer[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, shortBuffer, sizeof shortBuffer), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(shortBuffer), own.substr(0, 4));
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(path), path, sizeof path), 0u);
}

TEST(Modules, NoFileCarriesVersionInformation) {
  DWORD handle = 7;
  EXPECT_EQ(GetFileVersionInfoSizeA(ExecutableName().c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(GetFileVersionInfoSizeA("/no/such/file", nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  char data[128] = {};
  EXPECT_FALSE(GetFileVersionInfoA(ExecutableName().c_str(), 0, sizeof data, data));
  // A block made by hand: its root value is the fixed information.
  data[0] = 40 + 52;
  data[2] = 52;
  data[40] = static_cast<char>(0xBD);
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data, "\\", &value, &length));
  EXPECT_EQ(value, data + 40);
  EXPECT_EQ(length, 52u);
  EXPECT_FALSE(VerQueryValueA(data, "\\StringFileInfo", &value, &length));
  data[0] = 60;  // the value would end beyond the block
  EXPECT_FALSE(VerQueryValueA(data, "\\", &value, &length));
}
