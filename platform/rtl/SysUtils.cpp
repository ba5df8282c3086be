// TObject, the default exception handler, Format and system texts.
#include "platform/rtl/SysUtils.h"

#include <cxxabi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <map>
#include <mutex>
#include <typeindex>
#include <vector>

#include "platform/rtl/Kernel.h"
#include "platform/rtl/Utf8Codec.h"

// ---------------------------------------------------------------------------------------------
// TObject

namespace {

std::string UnqualifiedName(const char* Mangled) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(Mangled, nullptr, nullptr, &status);
  std::string name = (status == 0 && demangled) ? demangled : Mangled;
  std::free(demangled);
  if (const auto lt = name.find('<'); lt != std::string::npos) name.erase(lt);
  if (const auto colons = name.rfind("::"); colons != std::string::npos) name.erase(0, colons + 2);
  return name;
}

}  // namespace

std::string TObject::ClassName() const {
  struct Cache {
    std::mutex lock;
    std::map<std::type_index, std::string> names;
  };
  static Cache* const cache = new Cache;  // never destroyed: usable while the process exits
  const std::type_index type(typeid(*this));
  std::lock_guard guard(cache->lock);
  auto it = cache->names.find(type);
  if (it == cache->names.end()) it = cache->names.emplace(type, UnqualifiedName(type.name())).first;
  return it->second;
}

// ---------------------------------------------------------------------------------------------
// Default exception handler

namespace {
std::mutex gDisplayLock;
TExceptionDisplay gDisplay;
}  // namespace

void SetExceptionDisplay(TExceptionDisplay Display) {
  std::lock_guard guard(gDisplayLock);
  gDisplay = std::move(Display);
}

void ShowException(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E)) return;
  TExceptionDisplay display;
  {
    std::lock_guard guard(gDisplayLock);
    display = gDisplay;
  }
  if (display)
    display(E.what());
  else
    std::cerr << E.what() << std::endl;
}

// ---------------------------------------------------------------------------------------------
// Format

namespace {

// One conversion of a format string, as parsed.
struct Spec {
  std::string flags;
  bool hasWidth{false};
  int width{0};
  bool hasPrecision{false};
  int precision{0};
  std::string length;
  char conversion{0};
};

std::string Printf(const std::string& Fmt, auto... Args) {
  std::vector<char> buffer(64);
  int n = std::snprintf(buffer.data(), buffer.size(), Fmt.c_str(), Args...);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) >= buffer.size()) {
    buffer.resize(static_cast<std::size_t>(n) + 1);
    n = std::snprintf(buffer.data(), buffer.size(), Fmt.c_str(), Args...);
    if (n < 0) return {};
  }
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

// %s with width and precision counted in UTF-8 characters.
std::string FormatText(const Spec& S, std::string_view Text) {
  std::string text;
  if (S.hasPrecision)
    text = Utf8Copy(Text, 1, S.precision);
  else
    text = std::string(Text);
  if (S.hasWidth) {
    const std::size_t length = Utf8Length(text);
    if (length < static_cast<std::size_t>(S.width)) {
      const std::string pad(static_cast<std::size_t>(S.width) - length, ' ');
      text = S.flags.find('-') != std::string::npos ? text + pad : pad + text;
    }
  }
  return text;
}

std::string WideToUtf8(const wchar_t* W) {
  std::string out;
  for (; *W; ++W) {
    const auto c = static_cast<char32_t>(*W);
    rtl_detail::Encode(c <= 0x10FFFF ? c : 0xFFFD, out);
  }
  return out;
}

std::string Rebuild(const Spec& S) {
  std::string f = "%" + S.flags;
  if (S.hasWidth) f += std::to_string(S.width);
  if (S.hasPrecision) f += "." + std::to_string(S.precision);
  return f + S.length + S.conversion;
}

std::string FormatSigned(const Spec& S, va_list& Args) {
  const std::string f = Rebuild(S);
  if (S.length == "l") return Printf(f, va_arg(Args, long));
  if (S.length == "ll") return Printf(f, va_arg(Args, long long));
  if (S.length == "j") return Printf(f, va_arg(Args, intmax_t));
  if (S.length == "z") return Printf(f, va_arg(Args, ssize_t));
  if (S.length == "t") return Printf(f, va_arg(Args, ptrdiff_t));
  return Printf(f, va_arg(Args, int));  // also hh and h (promoted)
}

std::string FormatUnsigned(const Spec& S, va_list& Args) {
  const std::string f = Rebuild(S);
  if (S.length == "l") return Printf(f, va_arg(Args, unsigned long));
  if (S.length == "ll") return Printf(f, va_arg(Args, unsigned long long));
  if (S.length == "j") return Printf(f, va_arg(Args, uintmax_t));
  if (S.length == "z") return Printf(f, va_arg(Args, size_t));
  if (S.length == "t") return Printf(f, va_arg(Args, ptrdiff_t));
  return Printf(f, va_arg(Args, unsigned int));
}

}  // namespace

std::string FormatV(const char* Fmt, va_list ArgsIn) {
  if (!Fmt) return {};
  va_list args;
  va_copy(args, ArgsIn);
  std::string out;
  const char* p = Fmt;
  while (*p) {
    if (*p != '%') {
      const char* next = std::strchr(p, '%');
      if (!next) next = p + std::strlen(p);
      out.append(p, next);
      p = next;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      ++p;
      continue;
    }
    Spec s;
    while (*p && std::strchr("-+ #0", *p)) s.flags += *p++;
    if (*p == '*') {
      ++p;
      s.hasWidth = true;
      s.width = va_arg(args, int);
      if (s.width < 0) {
        s.flags += '-';
        s.width = s.width == INT32_MIN ? 0 : -s.width;
      }
    } else {
      while (*p >= '0' && *p <= '9') {
        s.hasWidth = true;
        s.width = std::min(s.width * 10 + (*p++ - '0'), 1 << 20);
      }
    }
    if (*p == '.') {
      ++p;
      s.hasPrecision = true;
      if (*p == '*') {
        ++p;
        s.precision = va_arg(args, int);
        if (s.precision < 0) s.hasPrecision = false, s.precision = 0;
      } else {
        while (*p >= '0' && *p <= '9') s.precision = std::min(s.precision * 10 + (*p++ - '0'), 1 << 20);
      }
    }
    while (*p && std::strchr("hljztL", *p)) s.length += *p++;
    s.conversion = *p;
    if (*p) ++p;
    switch (s.conversion) {
      case 'd':
      case 'i':
        out += FormatSigned(s, args);
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        out += FormatUnsigned(s, args);
        break;
      case 'c':
        if (s.length == "l")
          out += FormatText(s, WideToUtf8(std::wstring(1, static_cast<wchar_t>(va_arg(args, wint_t))).c_str()));
        else
          out += Printf(Rebuild(s), va_arg(args, int));
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (s.length == "L")
          out += Printf(Rebuild(s), va_arg(args, long double));
        else
          out += Printf(Rebuild(s), va_arg(args, double));
        break;
      case 'p':
        out += Printf(Rebuild(s), va_arg(args, void*));
        break;
      case 's':
        if (s.length == "l") {
          const wchar_t* w = va_arg(args, const wchar_t*);
          out += FormatText(s, w ? WideToUtf8(w) : std::string("(null)"));
        } else {
          const char* text = va_arg(args, const char*);
          if (!text) {
            out += FormatText(s, "(null)");
          } else if (s.hasPrecision) {
            // The argument need not be terminated within the precision: read no byte past
            // the characters it asks for.
            std::size_t n = 0;
            for (int chars = 0; chars < s.precision && text[n]; ++chars) {
              const auto lead = static_cast<unsigned char>(text[n]);
              const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
              std::size_t k = 1;
              while (k < length && (static_cast<unsigned char>(text[n + k]) & 0xC0) == 0x80) ++k;
              n += k;
            }
            out += FormatText(s, std::string_view(text, n));
          } else {
            out += FormatText(s, text);
          }
        }
        break;
      case 'n':
        (void)va_arg(args, void*);  // refused: written out as it stands
        out.append(start, p);
        break;
      default:
        out.append(start, p);  // unknown conversion: as it stands
        break;
    }
  }
  va_end(args);
  return out;
}

std::string Format(const char* Fmt, ...) {
  va_list args;
  va_start(args, Fmt);
  std::string out = FormatV(Fmt, args);
  va_end(args);
  return out;
}

// ---------------------------------------------------------------------------------------------
// System texts

namespace {

// Error codes and the errno values they stand for (the first errno of a code is its text).
struct ErrorPair {
  DWORD code;
  int err;
};
constexpr ErrorPair kErrorPairs[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},      {ERROR_PATH_NOT_FOUND, ENOTDIR},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE}, {ERROR_TOO_MANY_OPEN_FILES, ENFILE},
    {ERROR_ACCESS_DENIED, EACCES},       {ERROR_ACCESS_DENIED, EPERM},
    {ERROR_ACCESS_DENIED, EROFS},        {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},   {ERROR_WRITE_FAULT, EIO},
    {ERROR_SHARING_VIOLATION, EBUSY},    {ERROR_SHARING_VIOLATION, ETXTBSY},
    {ERROR_FILE_EXISTS, EEXIST},         {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_DISK_FULL, ENOSPC},           {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
};
constexpr DWORD kErrnoRange = 0x20000000;

std::string ErrnoText(int Err) {
  char buffer[256];
  // GNU strerror_r returns the text (possibly not in the buffer).
  return strerror_r(Err, buffer, sizeof buffer);
}

}  // namespace

DWORD Win32ErrorFromErrno(int Errno) {
  if (Errno == 0) return NO_ERROR;
  for (const auto& pair : kErrorPairs)
    if (pair.err == Errno) return pair.code;
  return kErrnoRange | static_cast<DWORD>(Errno & 0xFFFF);
}

std::string SysErrorMessage(DWORD ErrorCode) {
  if (ErrorCode == NO_ERROR) return "The operation completed successfully.";
  if ((ErrorCode & 0xFFFF0000u) == kErrnoRange) return ErrnoText(static_cast<int>(ErrorCode & 0xFFFF));
  for (const auto& pair : kErrorPairs)
    if (pair.code == ErrorCode) return ErrnoText(pair.err);
  switch (ErrorCode) {
    case ERROR_READ_FAULT: return ErrnoText(EIO);
    case ERROR_ALREADY_EXISTS: return ErrnoText(EEXIST);
    case ERROR_INSUFFICIENT_BUFFER: return "The buffer is too small.";
    case ERROR_NOT_LOCKED: return "The memory block is not locked.";
    case ERROR_ENVVAR_NOT_FOUND: return "The environment variable is not set.";
    default: return {};
  }
}

std::string GetEnvironmentVariable(const std::string& Name) {
  const char* value = std::getenv(Name.c_str());
  return value ? std::string(value) : std::string();
}
