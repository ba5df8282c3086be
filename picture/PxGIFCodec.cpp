#include "picture/PxGIFCodec.h"

#include <cstring>
#include <vector>

#include "picture/PxGIF.h"
#include "picture/PxGraphUtils.h"

namespace px {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kStackSize = 4097;
constexpr int kHashSlots = 17777;
// Code sizes taken as they stand (1 is written by some encoders for two-colour pictures).
constexpr int kMinCodeSize = 1;
constexpr int kMaxCodeSize = 9;

BYTE Percent(std::int64_t Done, std::int64_t Total) {
  if (Total <= 0) return 0;
  const std::int64_t p = (Done * 200 + Total) / (2 * Total);
  return static_cast<BYTE>(p < 0 ? 0 : (p > 100 ? 100 : p));
}

// Reports the end of a run: 100 % normally, 0 % with the error's message when one passes.
template <class F>
void WithProgress(TPxGIFImage* Image, F Run) {
  if (Image) Image->ReportProgress(psStarting, 0, "");
  try {
    Run();
  } catch (const std::exception& e) {
    if (Image) Image->ReportProgress(psEnding, 0, e.what());
    throw;
  }
  if (Image) Image->ReportProgress(psEnding, 100, "");
}

}  // namespace

namespace {

// Refills the buffer with whole sub-blocks until a code of the current width is there.
void Refill(TStream* Source, TCodeReader& R) {
  while (R.Position + static_cast<std::uint32_t>(R.Width) > static_cast<std::uint32_t>(R.Held) &&
         Source->Position() < Source->Size()) {
    const std::uint32_t p = R.Position / 8;
    std::memmove(R.Buffer, R.Buffer + p, 3);
    R.Held -= static_cast<std::int32_t>(p * 8);
    R.Position %= 8;
    std::uint8_t count = 0;
    Source->ReadBuffer(&count, 1);
    if (count != 0) {
      Source->ReadBuffer(R.Buffer + R.Held / 8, count);
      R.Held += 8 * count;
    }
  }
}

inline std::uint16_t ReadCode(TStream* Source, TCodeReader& R) {
  if (R.Position + static_cast<std::uint32_t>(R.Width) > static_cast<std::uint32_t>(R.Held)) {
    Refill(Source, R);
    if (R.Position + static_cast<std::uint32_t>(R.Width) > static_cast<std::uint32_t>(R.Held)) return kEndOfData;
  }
  const std::uint32_t p = R.Position / 8;
  std::uint32_t code = R.Buffer[p] | static_cast<std::uint32_t>(R.Buffer[p + 1]) << 8;
  if (R.Width > 8) code |= static_cast<std::uint32_t>(R.Buffer[p + 2]) << 16;
  code = (code >> (R.Position % 8)) & R.Mask;
  R.Position += static_cast<std::uint32_t>(R.Width);
  return static_cast<std::uint16_t>(code);
}

}  // namespace

std::uint16_t PxLzwReadCode(TStream* Source, TCodeReader& R) { return ReadCode(Source, R); }

std::int64_t NextInterlacedRow(std::int64_t Row, std::int64_t Height, int& Pass) {
  const std::int64_t next = Row + (Pass <= 1 ? 8 : (Pass == 2 ? 4 : 2));
  if (next < Height) return next;
  if (Pass == 0) {
    Pass = 1;
    if (Height > 4) return 4;
  }
  if (Pass == 1) {
    Pass = 2;
    if (Height > 2) return 2;
  }
  if (Pass == 2) {
    Pass = 3;
    return 1;
  }
  return next;
}

namespace {

template <int Bits>
inline void Store(std::uint8_t Index, TRowWriter& W) {
  if (W.Row >= W.Height) return;
  // An index beyond the depth of the rows (a pixel beyond the colour table) keeps its low bits.
  if constexpr (Bits == 1) {
    Index &= 1;
    std::uint8_t& b = W.Current[W.Column / 8];
    const int bit = static_cast<int>(W.Column % 8);
    if (bit == 0)
      b = static_cast<std::uint8_t>(Index << 7);
    else
      b = static_cast<std::uint8_t>(b | Index << (7 - bit));
  } else if constexpr (Bits == 4) {
    Index &= 15;
    std::uint8_t& b = W.Current[W.Column / 2];
    if (W.Column % 2 == 0)
      b = static_cast<std::uint8_t>(Index * 16);
    else
      b = static_cast<std::uint8_t>(b | Index);
  } else {
    W.Current[W.Column] = Index;
  }
  if (++W.Column < W.Width) return;
  W.Column = 0;
  W.Row = W.Interlaced ? NextInterlacedRow(W.Row, W.Height, W.Pass) : W.Row + 1;
  if (W.Row < W.Height) W.Current = W.Pixels + (W.Height - W.Row - 1) * W.Stride;
}

// Stores Stack[Depth], ..., Stack[0]; 8-bit rows take whole runs at once.
template <int Bits>
inline void StoreString(const std::uint16_t* Stack, int Depth, TRowWriter& W) {
  if constexpr (Bits == 8) {
    int i = Depth;
    while (i >= 0 && W.Row < W.Height) {
      const std::int64_t room = W.Width - W.Column;
      const std::int64_t n = std::min<std::int64_t>(room, i + 1);
      std::uint8_t* out = W.Current + W.Column;
      for (std::int64_t k = 0; k < n; ++k) out[k] = static_cast<std::uint8_t>(Stack[i - k]);
      i -= static_cast<int>(n);
      W.Column += n;
      if (W.Column == W.Width) {
        W.Column = 0;
        W.Row = W.Interlaced ? NextInterlacedRow(W.Row, W.Height, W.Pass) : W.Row + 1;
        if (W.Row < W.Height) W.Current = W.Pixels + (W.Height - W.Row - 1) * W.Stride;
      }
    }
  } else {
    for (int i = Depth; i >= 0; --i) Store<Bits>(static_cast<std::uint8_t>(Stack[i]), W);
  }
}

}  // namespace

void StoreDecodedPixel(std::uint8_t Index, TRowWriter& W) {
  switch (W.BitsPerPixel) {
    case 1: Store<1>(Index, W); break;
    case 4: Store<4>(Index, W); break;
    default: Store<8>(Index, W); break;
  }
}

namespace {

struct TDecodeState {
  TStream* Source;
  TPxGIFImage* Image;
  bool AcceptDamaged;
  bool& Damaged;
  int Minimum;
  std::uint16_t* Prefix;
  std::uint16_t* Suffix;
  std::uint16_t* Stack;
};

// No previous code: the start of the data, or right after a clear code.
constexpr std::uint32_t kNoCode = 0xFFFFFFFF;

template <int Bits>
void DecodeCodes(TDecodeState& D, TCodeReader& Reader, TRowWriter& Writer) {
  // Literal pixels are the codes below the clear code, whatever the colour table's size.
  const std::uint32_t clear = 1u << D.Minimum, end = clear + 1, firstFree = clear + 2;
  std::uint32_t next = firstFree, limit = 1u << Reader.Width;
  std::uint32_t old = kNoCode, first = 0;
  bool tableFull = false, afterClear = false;
  const std::int64_t size = D.Source->Size();
  const bool report = D.Image && size > 0 && D.Image->OnProgress;
  std::uint16_t* prefix = D.Prefix;
  std::uint16_t* suffix = D.Suffix;
  std::uint16_t* stack = D.Stack;

  std::uint32_t code = ReadCode(D.Source, Reader);
  while (code != end && code != kEndOfData && Writer.Row < Writer.Height) {
    if (code == clear) {
      Reader.Width = D.Minimum + 1;
      limit = 1u << Reader.Width;
      Reader.Mask = limit - 1;
      next = firstFree;
      old = kNoCode;
      tableFull = false;
      afterClear = true;
    } else {
      // After a code size that had to be clamped only the code right after a clear is taken.
      if (D.Damaged && !afterClear) break;
      afterClear = false;
      const std::uint32_t in = code;
      int depth = 0;
      if (code >= next) {
        // The entry about to be made: the previous string and its own first pixel. Without a
        // previous string there is nothing it can stand for.
        if (old == kNoCode) {
          if (!D.AcceptDamaged) RaisePxGifError("GIF encoded data is corrupt");
          D.Damaged = true;
          break;
        }
        code = old;
        stack[0] = static_cast<std::uint16_t>(first);
        depth = 1;
      }
      bool overflow = false;
      while (code >= clear) {
        if (depth >= kStackSize - 1) {
          if (!D.AcceptDamaged) RaisePxGifError("GIF encoded data is corrupt");
          overflow = true;
          break;
        }
        stack[depth++] = suffix[code];
        code = prefix[code];
      }
      if (overflow) {
        D.Damaged = true;
        break;
      }
      first = code;
      stack[depth] = static_cast<std::uint16_t>(first);
      StoreString<Bits>(stack, depth, Writer);
      // The first code of a run makes no entry.
      if (old != kNoCode && !tableFull) {
        prefix[next] = static_cast<std::uint16_t>(old);
        suffix[next] = static_cast<std::uint16_t>(first);
        ++next;
      }
      // The next entry must fit the codes that follow (with code size 1 already after the first).
      if (next >= limit && !tableFull) {
        if (Reader.Width == 12) {
          tableFull = true;
        } else {
          ++Reader.Width;
          limit *= 2;
          Reader.Mask = limit - 1;
        }
      }
      old = in;
    }
    code = ReadCode(D.Source, Reader);
    if (report) D.Image->ReportProgress(psRunning, Percent(D.Source->Position(), size), "");
  }
  // Data that ends before the picture is whole (without its end code).
  if (code == kEndOfData && Writer.Row < Writer.Height) {
    if (!D.AcceptDamaged) throw EReadError("Stream read error");
    D.Damaged = true;
  }
}

}  // namespace

void PxLzwDecode(TStream* Source, const BITMAPINFOHEADER& Info, bool Interlaced, TPxGIFImage* Image, bool& Damaged,
                 std::uint8_t* Pixels, bool AcceptDamaged) {
  Damaged = false;
  std::vector<std::uint16_t> prefix(kMaxCodes, 0), suffix(kMaxCodes, 0), stack(kStackSize, 0);
  WithProgress(Image, [&] {
    std::uint8_t minimum = 0;
    Source->ReadBuffer(&minimum, 1);
    int min = minimum;
    if (min < kMinCodeSize || min > kMaxCodeSize) {
      if (!AcceptDamaged) RaisePxGifError("GIF code size not in range 1 to 9");
      Damaged = true;
      min = min < kMinCodeSize ? kMinCodeSize : kMaxCodeSize;
    }
    TCodeReader reader;
    reader.Width = min + 1;
    reader.Mask = (1u << reader.Width) - 1;
    TRowWriter writer;
    writer.Width = Info.biWidth;
    writer.Height = Info.biHeight < 0 ? -static_cast<std::int64_t>(Info.biHeight) : Info.biHeight;
    writer.BitsPerPixel = Info.biBitCount;
    writer.Interlaced = Interlaced;
    writer.Stride = DibScanlineBytes(static_cast<std::int64_t>(Info.biBitCount) * writer.Width);
    writer.Pixels = Pixels;
    if (writer.Width <= 0 || writer.Height <= 0) return;  // nothing to fill
    writer.Current = Pixels + (writer.Height - 1) * writer.Stride;

    TDecodeState state{Source, Image, AcceptDamaged, Damaged, min, prefix.data(), suffix.data(), stack.data()};
    switch (writer.BitsPerPixel) {
      case 1: DecodeCodes<1>(state, reader, writer); break;
      case 4: DecodeCodes<4>(state, reader, writer); break;
      default: DecodeCodes<8>(state, reader, writer); break;
    }
  });
}

void PxLzwWriteCode(TStream* Target, std::uint32_t Code, TCodeWriter& W) {
  const std::uint32_t value = Code << (W.Position % 8);
  const std::int32_t p = W.Position / 8;
  W.Buffer[p] = static_cast<std::uint8_t>(W.Buffer[p] | (value & 0xFF));
  W.Buffer[p + 1] = static_cast<std::uint8_t>(value >> 8);
  W.Buffer[p + 2] = static_cast<std::uint8_t>(value >> 16);
  W.Position += W.Width;
  if (W.Position >= 2040) {
    const std::uint8_t count = 255;
    Target->WriteBuffer(&count, 1);
    Target->WriteBuffer(W.Buffer, 255);
    W.Buffer[0] = W.Buffer[255];
    W.Buffer[1] = W.Buffer[256];
    std::memset(W.Buffer + 2, 0, 255);
    W.Position -= 2040;
  }
}

void PxLzwFlush(TStream* Target, TCodeWriter& W) {
  const std::int32_t n = (W.Position + 7) / 8;
  if (n > 0) {
    const std::uint8_t count = static_cast<std::uint8_t>(n);
    Target->WriteBuffer(&count, 1);
    Target->WriteBuffer(W.Buffer, n);
  }
  const std::uint8_t terminator = 0;
  Target->WriteBuffer(&terminator, 1);
}

void PxLzwEncode(TStream* Target, const BITMAPINFOHEADER& Info, bool Interlaced, TPxGIFImage* Image,
                 const std::uint8_t* Pixels) {
  struct TEntry {
    std::uint16_t Prefix;
    std::uint16_t Code;
    std::uint8_t Suffix;
  };
  const int bits = Info.biBitCount;
  const std::int64_t width = Info.biWidth < 0 ? 0 : Info.biWidth;
  const std::int64_t height = Info.biHeight < 0 ? -static_cast<std::int64_t>(Info.biHeight) : Info.biHeight;
  const std::int64_t stride = DibScanlineBytes(bits * width);
  std::vector<TEntry> entries(kMaxCodes, TEntry{0, 0, 0});
  std::vector<std::int16_t> slots(kHashSlots, -1);

  WithProgress(Image, [&] {
    TCodeWriter writer;
    const std::int32_t startWidth = bits == 1 ? 3 : bits + 1;
    const std::uint8_t minimum = static_cast<std::uint8_t>(startWidth - 1);
    Target->WriteBuffer(&minimum, 1);
    const std::uint32_t clear = 1u << (startWidth - 1), end = clear + 1;
    std::uint32_t last = end, limit = 1u << startWidth;
    writer.Width = startWidth;
    PxLzwWriteCode(Target, clear, writer);

    std::uint32_t prefix = 0;
    std::int32_t key = 0;
    std::uint16_t run = 0;
    std::int64_t row = 0;
    int pass = 0;
    for (std::int64_t done = 0; done < height; ++done) {
      const std::uint8_t* line = Pixels + (height - 1 - row) * stride;
      for (std::int64_t x = 0; x < width; ++x) {
        std::uint32_t pixel;
        if (bits == 8)
          pixel = line[x];
        else if (bits == 4)
          pixel = x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 15;
        else
          pixel = (line[x / 8] >> (7 - x % 8)) & 1;
        ++run;
        if (run == 1) {
          prefix = pixel;
          key = EncoderHashBase(static_cast<std::int32_t>(pixel));
          continue;
        }
        key = static_cast<std::int32_t>((static_cast<std::int64_t>(pixel) + run + 4) * key % kHashSlots);
        std::int32_t slot = key;
        while (slots[static_cast<std::size_t>(slot)] >= 0) {
          const TEntry& e = entries[static_cast<std::size_t>(slots[static_cast<std::size_t>(slot)])];
          if (e.Prefix == prefix && e.Suffix == pixel) break;
          slot = slot + 1 == kHashSlots ? 0 : slot + 1;
        }
        if (slots[static_cast<std::size_t>(slot)] >= 0) {
          prefix = entries[static_cast<std::size_t>(slots[static_cast<std::size_t>(slot)])].Code;
          continue;
        }
        PxLzwWriteCode(Target, prefix, writer);
        ++last;
        entries[last] = TEntry{static_cast<std::uint16_t>(prefix), static_cast<std::uint16_t>(last),
                               static_cast<std::uint8_t>(pixel)};
        slots[static_cast<std::size_t>(slot)] = static_cast<std::int16_t>(last);
        prefix = pixel;
        key = EncoderHashBase(static_cast<std::int32_t>(pixel));
        run = 1;
        if (last >= limit) {
          limit *= 2;
          ++writer.Width;
        } else if (last >= 4094) {
          PxLzwWriteCode(Target, prefix, writer);
          PxLzwWriteCode(Target, clear, writer);
          run = 0;
          last = end;
          writer.Width = startWidth;
          limit = 1u << startWidth;
          std::fill(slots.begin(), slots.end(), static_cast<std::int16_t>(-1));
        }
      }
      row = Interlaced ? NextInterlacedRow(row, height, pass) : row + 1;
      if (Image) Image->ReportProgress(psRunning, Percent(done + 1, height), "");
    }
    if (run > 0) PxLzwWriteCode(Target, prefix, writer);
    PxLzwWriteCode(Target, end, writer);
    PxLzwFlush(Target, writer);
  });
}

}  // namespace px
