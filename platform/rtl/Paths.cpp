// File names, the executable's folder and the case-insensitive file lookup.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Utf8Codec.h"

namespace {

bool IsDelimiter(char C) { return C == '/' || C == '\\'; }

std::size_t LastDelimiter(const std::string& S) { return S.find_last_of("/\\"); }

// Position of the extension's dot in the name part, or npos.
std::size_t ExtensionDot(const std::string& FileName) {
  const std::size_t dot = FileName.rfind('.');
  const std::size_t delim = LastDelimiter(FileName);
  if (dot == std::string::npos || (delim != std::string::npos && dot < delim)) return std::string::npos;
  return dot;
}

}  // namespace

std::string ExtractFilePath(const std::string& FileName) {
  const std::size_t delim = LastDelimiter(FileName);
  return delim == std::string::npos ? std::string() : FileName.substr(0, delim + 1);
}

std::string ExtractFileDir(const std::string& FileName) {
  const std::size_t delim = LastDelimiter(FileName);
  if (delim == std::string::npos) return {};
  // The root's separator (and a doubled one) stays.
  if (delim == 0 || IsDelimiter(FileName[delim - 1]) || FileName[delim - 1] == ':')
    return FileName.substr(0, delim + 1);
  return FileName.substr(0, delim);
}

std::string ExtractFileName(const std::string& FileName) {
  const std::size_t delim = LastDelimiter(FileName);
  return delim == std::string::npos ? FileName : FileName.substr(delim + 1);
}

std::string ExtractFileExt(const std::string& FileName) {
  const std::size_t dot = ExtensionDot(FileName);
  return dot == std::string::npos ? std::string() : FileName.substr(dot);
}

std::string ChangeFileExt(const std::string& FileName, const std::string& Extension) {
  const std::size_t dot = ExtensionDot(FileName);
  return (dot == std::string::npos ? FileName : FileName.substr(0, dot)) + Extension;
}

std::string IncludeTrailingPathDelimiter(const std::string& Path) {
  if (!Path.empty() && IsDelimiter(Path.back())) return Path;
  return Path + PathDelim;
}

// ---------------------------------------------------------------------------------------------
// The executable

namespace {
std::mutex gExeLock;
std::string gExeFolderOverride;
}  // namespace

std::string ExecutableName() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    if (buffer.size() >= (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableFolder() {
  {
    std::lock_guard guard(gExeLock);
    if (!gExeFolderOverride.empty()) return gExeFolderOverride;
  }
  return ExtractFilePath(ExecutableName());
}

void SetExecutableFolder(const std::string& Folder) {
  std::lock_guard guard(gExeLock);
  gExeFolderOverride = Folder.empty() ? Folder : IncludeTrailingPathDelimiter(Folder);
}

bool FileExists(const std::string& FileName) {
  struct stat st {};
  return !FileName.empty() && stat(FileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& Directory) {
  struct stat st {};
  return !Directory.empty() && stat(Directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------------------------
// Case-insensitive lookup

namespace {

bool Exists(const std::string& Path) {
  struct stat st {};
  return stat(Path.c_str(), &st) == 0;
}

std::string Join(const std::string& Base, const std::string& Name) {
  if (Base.empty()) return Name;
  return Base.back() == '/' ? Base + Name : Base + "/" + Name;
}

// Entries of Folder (other than Name itself) that equal Name without regard to case, in byte order.
std::vector<std::string> CaseVariants(const std::string& Folder, const std::string& Name) {
  std::vector<std::string> found;
  DIR* dir = opendir(Folder.empty() ? "." : Folder.c_str());
  if (!dir) return found;
  while (const dirent* entry = readdir(dir)) {
    const std::string entryName = entry->d_name;
    if (entryName != Name && entryName != "." && entryName != ".." &&
        rtl_detail::CompareFolded(entryName, Name) == 0)
      found.push_back(entryName);
  }
  closedir(dir);
  std::sort(found.begin(), found.end());
  return found;
}

std::string Resolve(const std::string& Base, const std::vector<std::string>& Parts, std::size_t Index) {
  if (Index == Parts.size()) return Exists(Base) ? Base : std::string();
  const std::string& part = Parts[Index];
  if (part == "." || part == "..") return Resolve(Join(Base, part), Parts, Index + 1);
  const std::string exact = Join(Base, part);
  if (Exists(exact)) {
    std::string found = Resolve(exact, Parts, Index + 1);
    if (!found.empty()) return found;
  }
  for (const std::string& variant : CaseVariants(Base, part)) {
    std::string found = Resolve(Join(Base, variant), Parts, Index + 1);
    if (!found.empty()) return found;
  }
  return {};
}

}  // namespace

std::string FindFileNoCase(const std::string& Path) {
  if (Path.empty()) return {};
  std::vector<std::string> parts;
  std::string current;
  for (const char c : Path) {
    if (IsDelimiter(c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  const std::string base = IsDelimiter(Path.front()) ? "/" : "";
  if (parts.empty()) return base;
  return Resolve(base, parts, 0);
}
