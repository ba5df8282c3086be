#pragma once
// Runtime basics: the root object, the exception classes, Format, file names and paths,
// and character-counted helpers for UTF-8 text.
#include <cstdarg>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/rtl/WinTypes.h"

#if defined(__GNUC__)
#define KELV_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define KELV_PRINTF_FORMAT(fmt, first)
#endif

// ---------------------------------------------------------------------------------------------
// TObject

// Root of the class tree. ClassName() returns the unqualified C++ class name (derived from the
// run-time type, namespaces and template arguments removed); a class can state it explicitly
// with DECLARE_CLASS_NAME(TFoo) inside its body.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  virtual std::string ClassName() const;
};

#define DECLARE_CLASS_NAME(Name) \
  std::string ClassName() const override { return #Name; }

// ---------------------------------------------------------------------------------------------
// Exceptions. what() returns the UTF-8 message.

class Exception : public std::exception {
 public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  ~Exception() override = default;
  const std::string& Message() const { return FMessage; }
  void SetMessage(std::string Msg) { FMessage = std::move(Msg); }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// Raised to leave an operation quietly: the default handler (ShowException) shows nothing.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(std::string Msg) : Exception(std::move(Msg)) {}
};

class EOutOfMemory : public Exception {
 public:
  EOutOfMemory() : Exception("Out of memory") {}
  explicit EOutOfMemory(std::string Msg) : Exception(std::move(Msg)) {}
};

class EOutOfResources : public EOutOfMemory {
 public:
  EOutOfResources() : EOutOfMemory("Out of system resources") {}
  explicit EOutOfResources(std::string Msg) : EOutOfMemory(std::move(Msg)) {}
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A checked class typecast that failed.
class EInvalidCast : public Exception {
 public:
  EInvalidCast() : Exception("Invalid class typecast") {}
  using Exception::Exception;
};

class EListError : public Exception {
 public:
  using Exception::Exception;
};

class EThread : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  explicit EReadError(std::string Msg) : EStreamError(std::move(Msg)) {}
};

class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  explicit EWriteError(std::string Msg) : EStreamError(std::move(Msg)) {}
};

class EInvalidGraphic : public Exception {
 public:
  EInvalidGraphic() : Exception("Bitmap image is not valid") {}
  explicit EInvalidGraphic(std::string Msg) : Exception(std::move(Msg)) {}
};

class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};

// The default exception handler: shows the message through the display hook, except for
// EAbort, which is silent. Without a hook the message goes to standard error.
void ShowException(const std::exception& E);
using TExceptionDisplay = std::function<void(const std::string& Message)>;
void SetExceptionDisplay(TExceptionDisplay Display);

// ---------------------------------------------------------------------------------------------
// Formatting

// printf-style formatting into a std::string. Differences from printf: width and precision of
// %s count UTF-8 characters, not bytes (so "%-10.10s" lays out ten characters); %n is refused
// (written out literally); a null %s argument prints "(null)".
std::string Format(const char* Fmt, ...) KELV_PRINTF_FORMAT(1, 2);
std::string FormatV(const char* Fmt, va_list Args);

// Text of a Win32-style error code (see Kernel.h); empty when the code has no text.
std::string SysErrorMessage(DWORD ErrorCode);

// Value of an environment variable; empty when it is not set.
std::string GetEnvironmentVariable(const std::string& Name);

// ---------------------------------------------------------------------------------------------
// File names and paths. The helpers accept both '\\' and '/' as separators.

inline constexpr char PathDelim = '/';

std::string ExtractFilePath(const std::string& FileName);   // folder with its trailing separator
std::string ExtractFileDir(const std::string& FileName);    // folder without it (root keeps it)
std::string ExtractFileName(const std::string& FileName);   // the part after the last separator
std::string ExtractFileExt(const std::string& FileName);    // ".ext" of the name part, or ""
std::string ChangeFileExt(const std::string& FileName, const std::string& Extension);
std::string IncludeTrailingPathDelimiter(const std::string& Path);  // appends '/' unless one ends it

// Full path of the running executable (from /proc/self/exe).
std::string ExecutableName();
// Folder of the executable, with a trailing '/'. SetExecutableFolder overrides it (for tests);
// an empty string restores the real one.
std::string ExecutableFolder();
void SetExecutableFolder(const std::string& Folder);

// True for an existing regular file / folder (native path, no case folding).
bool FileExists(const std::string& FileName);
bool DirectoryExists(const std::string& Directory);

// Case-insensitive lookup: Path may use '\\' or '/' separators; every component is matched
// against the existing entries without regard to case (full Unicode simple case folding of the
// UTF-8 names: Latin, Cyrillic, Greek). An exact match of a component is preferred; among
// several case variants the first in byte order is tried first, and the search backtracks when
// a variant leads nowhere. Returns the existing path with '/' separators, or "" when none.
std::string FindFileNoCase(const std::string& Path);

// ---------------------------------------------------------------------------------------------
// Character-counted helpers for UTF-8 text. A byte that is not part of a valid UTF-8 sequence
// counts as one character of its own.

std::size_t Utf8Length(std::string_view S);
// Count characters from the 1-based character position Index (as the runtime's Copy does);
// positions below 1 count from 1; past the end gives "".
std::string Utf8Copy(std::string_view S, std::int64_t Index, std::int64_t Count);
// Exactly Width characters: cut when longer, padded with spaces on the right (text left-aligned,
// like "%-W.Ws") or on the left (text right-aligned, like "%W.Ws").
std::string Utf8PadRight(std::string_view S, std::size_t Width);
std::string Utf8PadLeft(std::string_view S, std::size_t Width);

// Case mapping and case-insensitive comparison for Latin (ASCII, Latin-1, Latin Extended-A),
// Greek and Cyrillic letters; other characters are left as they are.
std::string AnsiUpperCase(std::string_view S);
std::string AnsiLowerCase(std::string_view S);
// <0, 0, >0 comparing case-folded code points.
int AnsiCompareText(std::string_view S1, std::string_view S2);
inline bool AnsiSameText(std::string_view S1, std::string_view S2) { return AnsiCompareText(S1, S2) == 0; }
// Byte-wise (case-sensitive) comparison: <0, 0, >0.
int AnsiCompareStr(std::string_view S1, std::string_view S2);
