#include "gif/Utils.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/rtl/Kernel.h"

namespace gif {

void RaiseGIFError(const std::string& Msg) { throw GIFException(Msg); }

void RaiseLastGDIError() {
  const DWORD Code = GetLastError();
  if (Code != 0) {
    std::string Text = SysErrorMessage(Code);
    if (Text.size() > 256) Text.resize(256);
    if (!Text.empty()) throw EOutOfResources(Text);
  }
  throw EOutOfResources();
}

std::int64_t AlignedRowBytes(std::int64_t Count, std::int64_t BitsPerItem, std::int64_t Alignment) {
  if (Count <= 0 || BitsPerItem <= 0 || Alignment <= 0) return 0;
  return ((Count * BitsPerItem + Alignment - 1) & ~(Alignment - 1)) / 8;
}

int BitsForColorCount(int Count) {
  if (Count <= 0) return 0;
  int Bits = 1;
  while (Bits < 31 && (1 << Bits) < Count) ++Bits;
  return Bits;
}

int IndexBits(const std::uint8_t* Indices, std::int64_t Count) {
  // As many as the OR of all indices has, gathered a machine word at a time.
  std::uint64_t Or = 0;
  std::int64_t i = 0;
  for (; i + 8 <= Count; i += 8) {
    std::uint64_t W;
    std::memcpy(&W, Indices + i, 8);
    Or |= W;
  }
  for (; i < Count; ++i) Or |= Indices[i];
  Or |= Or >> 32;
  Or |= Or >> 16;
  Or |= Or >> 8;
  return std::bit_width(static_cast<unsigned>(Or & 0xFF));
}

void StreamWriteByte(TStream* Stream, std::uint8_t B) { Stream->Write(&B, 1); }

std::uint8_t StreamReadByte(TStream* Stream) {
  std::uint8_t B = 0;
  if (Stream->Read(&B, 1) != 1) B = 0;
  return B;
}

void StreamReadExact(TStream* Stream, void* Buffer, std::int64_t Count) {
  if (Stream->Read(Buffer, Count) != Count) RaiseGIFError("Premature end of data");
}

TGIFBufferedReader::TGIFBufferedReader(TStream* Source)
    : FSource(Source), FSize(Source->Size()), FPosition(Source->Position()), FBuffer(64 * 1024) {}

TGIFBufferedReader::~TGIFBufferedReader() {
  try {
    FSource->Seek(FPosition, soFromBeginning);
  } catch (...) {
  }
}

std::int64_t TGIFBufferedReader::Read(void* Buffer, std::int64_t Count) {
  auto* Out = static_cast<std::uint8_t*>(Buffer);
  std::int64_t Done = 0;
  while (Done < Count) {
    if (FPosition < FBufferStart || FPosition >= FBufferStart + FBufferFill) {
      if (FSource->Seek(FPosition, soFromBeginning) != FPosition) break;
      FBufferStart = FPosition;
      FBufferFill = std::max<std::int64_t>(FSource->Read(FBuffer.data(), static_cast<std::int64_t>(FBuffer.size())), 0);
      if (FBufferFill == 0) break;
    }
    const std::int64_t At = FPosition - FBufferStart;
    const std::int64_t N = std::min(Count - Done, FBufferFill - At);
    std::memcpy(Out + Done, FBuffer.data() + At, static_cast<std::size_t>(N));
    Done += N;
    FPosition += N;
  }
  return Done;
}

std::int64_t TGIFBufferedReader::Write(const void*, std::int64_t) { return 0; }

std::int64_t TGIFBufferedReader::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t Base = 0;
  if (Origin == soFromCurrent) Base = FPosition;
  else if (Origin == soFromEnd) Base = FSize;
  std::int64_t Target;
  if (__builtin_add_overflow(Base, Offset, &Target) || Target < 0) return -1;
  FPosition = Target;
  return Target;
}

void WriteSubBlockText(TStream* Stream, TStrings* Lines) {
  for (int i = 0; i < Lines->Count(); ++i) {
    const std::string Line = Lines->Get(i);
    std::size_t Done = 0;
    while (Done < Line.size()) {
      const std::uint8_t Size = static_cast<std::uint8_t>(std::min<std::size_t>(255, Line.size() - Done));
      StreamWriteByte(Stream, Size);
      Stream->Write(Line.data() + Done, Size);
      Done += Size;
    }
  }
  StreamWriteByte(Stream, 0);
}

void ReadSubBlockText(TStream* Stream, TStrings* Lines) {
  Lines->Clear();
  std::uint8_t Size = 0;
  if (Stream->Read(&Size, 1) != 1) return;
  char Buffer[256];
  while (Size != 0) {
    StreamReadExact(Stream, Buffer, Size);
    Lines->Add(std::string(Buffer, strnlen(Buffer, Size)));
    if (Stream->Read(&Size, 1) != 1) break;
  }
}

void SwapRGBQuadOrder(void* Entries, int Count) {
  auto* P = static_cast<std::uint8_t*>(Entries);
  for (int i = 0; i < Count; ++i, P += 4) {
    std::swap(P[0], P[2]);
    P[3] = 0;
  }
}

}  // namespace gif
