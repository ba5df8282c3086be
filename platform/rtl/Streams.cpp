// Streams: the base operations, memory, resource and file streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

// ---------------------------------------------------------------------------------------------
// TStream

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, soFromCurrent);
  const std::int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) { throw EStreamError("Cannot change the size of this stream"); }

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError();
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream* Source, std::int64_t Count) {
  if (Count <= 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  constexpr std::int64_t kChunk = 64 * 1024;
  std::vector<char> buffer(static_cast<std::size_t>(std::min(Count, kChunk)));
  for (std::int64_t left = Count; left > 0;) {
    const std::int64_t n = std::min(left, kChunk);
    Source->ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    left -= n;
  }
  return Count;
}

// ---------------------------------------------------------------------------------------------
// TCustomMemoryStream

namespace {

// Position that Seek asks for, or -1 when it is negative or overflows.
std::int64_t SeekTarget(std::int64_t Offset, TSeekOrigin Origin, std::int64_t Position, std::int64_t Size) {
  std::int64_t base = 0;
  if (Origin == soFromCurrent) base = Position;
  else if (Origin == soFromEnd) base = Size;
  std::int64_t target;
  if (__builtin_add_overflow(base, Offset, &target) || target < 0) return -1;
  return target;
}

}  // namespace

std::int64_t TCustomMemoryStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  const std::int64_t n = std::min(Count, FSize - FPosition);
  std::memcpy(Buffer, static_cast<const char*>(FMemory) + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TCustomMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const std::int64_t target = SeekTarget(Offset, Origin, FPosition, FSize);
  if (target < 0) return -1;
  FPosition = target;
  return target;
}

void TCustomMemoryStream::SaveToStream(TStream* Stream) {
  if (FSize != 0) Stream->WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream file(FileName, fmCreate);
  SaveToStream(&file);
}

void TCustomMemoryStream::SetPointer(void* Ptr, std::int64_t Size) {
  FMemory = Ptr;
  FSize = Size;
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::SetCapacity(std::int64_t NewCapacity) {
  if (NewCapacity == FCapacity) return;
  if (NewCapacity == 0) {
    std::free(FMemory);
    FMemory = nullptr;
    FCapacity = 0;
    return;
  }
  if (NewCapacity < 0 || static_cast<std::uint64_t>(NewCapacity) > std::numeric_limits<std::size_t>::max() / 2)
    throw EOutOfMemory("Out of memory while expanding memory stream");
  void* memory = std::realloc(FMemory, static_cast<std::size_t>(NewCapacity));
  if (!memory) throw EOutOfMemory("Out of memory while expanding memory stream");
  FMemory = memory;
  FCapacity = NewCapacity;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  const std::int64_t old = FSize;
  SetSizeUncleared(NewSize);
  if (NewSize > old) std::memset(static_cast<char*>(FMemory) + old, 0, static_cast<std::size_t>(NewSize - old));
}

void TMemoryStream::SetSizeUncleared(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size");
  if (NewSize > FCapacity) SetCapacity(NewSize);
  FSize = NewSize;
  if (FPosition > FSize) FPosition = FSize;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  std::int64_t end;
  if (__builtin_add_overflow(FPosition, Count, &end)) return 0;
  if (end > FCapacity) {
    // Amortised growth: at least double.
    std::int64_t capacity = std::max<std::int64_t>(FCapacity, 256);
    while (capacity < end && capacity <= std::numeric_limits<std::int64_t>::max() / 2) capacity *= 2;
    SetCapacity(std::max(capacity, end));
  }
  if (FPosition > FSize) std::memset(static_cast<char*>(FMemory) + FSize, 0, static_cast<std::size_t>(FPosition - FSize));
  std::memcpy(static_cast<char*>(FMemory) + FPosition, Buffer, static_cast<std::size_t>(Count));
  FPosition = end;
  if (end > FSize) FSize = end;
  return Count;
}

void TMemoryStream::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream* Stream) {
  Stream->SetPosition(0);
  const std::int64_t count = Stream->Size();
  SetSize(count);
  if (count != 0) Stream->ReadBuffer(FMemory, count);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&file);
}

// ---------------------------------------------------------------------------------------------
// TResourceStream

TResourceStream::TResourceStream(const void* Data, std::int64_t Size) {
  if (Size < 0 || (!Data && Size > 0)) throw EStreamError("Invalid resource data");
  SetPointer(const_cast<void*>(Data), Size);
}

std::int64_t TResourceStream::Write(const void*, std::int64_t) {
  throw EStreamError("Can't write to a read-only resource stream");
}

void TResourceStream::SetSize(std::int64_t) { throw EStreamError("Can't write to a read-only resource stream"); }

// ---------------------------------------------------------------------------------------------
// TFileStream

namespace {

std::string SystemText(int Err) {
  char buffer[256];
  return strerror_r(Err, buffer, sizeof buffer);
}

// Large transfers go in pieces the system accepts in one call.
constexpr std::int64_t kMaxTransfer = 1 << 30;

}  // namespace

TFileStream::TFileStream(const std::string& FileName, WORD Mode) : FFileName(FileName) {
  const bool create = (Mode & 0xFF00) == 0xFF00;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 0x3) {
      case fmOpenRead: flags |= O_RDONLY; break;
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default:
        SetLastError(ERROR_INVALID_PARAMETER);
        throw EFOpenError(Format("Cannot open file \"%s\". %s", FileName.c_str(), SystemText(EINVAL).c_str()));
    }
  }
  int err = 0;
  FHandle = FileName.empty() ? (errno = ENOENT, -1) : ::open(FileName.c_str(), flags, 0666);
  if (FHandle < 0) {
    err = errno;
  } else {
    struct stat st {};
    if (fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(FHandle);
      FHandle = -1;
      err = EISDIR;
    }
  }
  if (FHandle < 0) {
    SetLastError(Win32ErrorFromErrno(err));
    const char* pattern = create ? "Cannot create file \"%s\". %s" : "Cannot open file \"%s\". %s";
    const std::string message = Format(pattern, FileName.c_str(), SystemText(err).c_str());
    if (create) throw EFCreateError(message);
    throw EFOpenError(message);
  }
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::read(FHandle, static_cast<char*>(Buffer) + done,
                             static_cast<std::size_t>(std::min(Count - done, kMaxTransfer)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) SetLastError(Win32ErrorFromErrno(errno));
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  std::int64_t done = 0;
  while (done < Count) {
    const ssize_t n = ::write(FHandle, static_cast<const char*>(Buffer) + done,
                              static_cast<std::size_t>(std::min(Count - done, kMaxTransfer)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) SetLastError(Win32ErrorFromErrno(errno));
    if (n <= 0) break;
    done += n;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  const int whence = Origin == soFromCurrent ? SEEK_CUR : (Origin == soFromEnd ? SEEK_END : SEEK_SET);
  const off_t result = ::lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (result < 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return -1;
  }
  return result;
}

void TFileStream::SetSize(std::int64_t NewSize) {
  const std::int64_t position = Seek(0, soFromCurrent);
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0) {
    const int err = NewSize < 0 ? EINVAL : errno;
    SetLastError(Win32ErrorFromErrno(err));
    throw EStreamError(Format("Cannot set the size of file \"%s\". %s", FFileName.c_str(), SystemText(err).c_str()));
  }
  if (position > NewSize) Seek(NewSize, soFromBeginning);
}
