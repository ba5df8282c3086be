#include "picture/PxGIFCodec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
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

// No previous code: the start of the data, or right after a clear code.
constexpr std::uint32_t kNoCode = 0xFFFFFFFF;
// The code that ends decoding when the data runs out.
constexpr std::uint32_t kEndOfData = 0xFFFF;
// No place in the rows (a string that is not whole in one row, or a row of 1 or 4 bits).
constexpr std::uint32_t kNowhere = 0xFFFFFFFF;
// An entry's length with this bit has no copy in the rows.
constexpr std::uint32_t kElsewhere = 0x80000000;

// Decoder state kept for the thread from frame to frame.
struct TDecoderTables {
  std::uint16_t Prefix[kMaxCodes];
  std::uint8_t Suffix[kMaxCodes];
  // Where each entry's string was written before (an offset in the rows) and its length, with
  // kElsewhere set when there is no such copy; literals have offset 0 and length 1, the clear
  // and end codes kElsewhere alone. One more for the entry about to be made.
  struct TEntry {
    std::uint32_t Offset;
    std::uint32_t Length;
  } Entries[kMaxCodes + 1];
  std::uint32_t LiteralsBelow{0};  // the clear code the literal entries are set for
  std::uint8_t Stack[kStackSize];   // a string that does not fit the rest of its row
  std::vector<std::uint8_t> Payload;        // the sub-blocks' bytes joined, then zero bytes
  std::vector<std::int64_t> PayloadEnds;    // payload bytes up to the end of each sub-block
  std::vector<std::int64_t> BlockEnds;      // source offset after each sub-block
  std::vector<std::uint8_t> Row;            // a 1- or 4-bit row, a byte a pixel
  std::vector<std::uint8_t> Copy;           // a source that is not in memory
};

thread_local std::unique_ptr<TDecoderTables> IdleTables;

// The thread's tables for one decode; a decode started while they are in use (from a progress
// handler) gets tables of its own.
class TTablesLease {
 public:
  TTablesLease() : FTables(std::move(IdleTables)) {
    if (!FTables) FTables = std::make_unique<TDecoderTables>();
  }
  ~TTablesLease() { IdleTables = std::move(FTables); }
  TTablesLease(const TTablesLease&) = delete;
  TTablesLease& operator=(const TTablesLease&) = delete;
  TDecoderTables& operator*() const { return *FTables; }

 private:
  std::unique_ptr<TDecoderTables> FTables;
};

// Codes, least significant bit first, from the joined sub-blocks of the source.
struct TCodeReader {
  const std::uint8_t* Data{nullptr};  // at least 8 readable bytes past the payload
  std::uint64_t Bits{0};              // payload bits
  std::uint64_t Position{0};          // bits read
  int Width{0};
  std::uint32_t Mask{0};
  bool Truncated{false};  // the last sub-block runs past the data
  bool Exhausted{false};  // a code was asked for beyond the payload

  // The next code; kEndOfData when the data ends before the code is whole, or "Stream read
  // error" when a sub-block cut short would have to supply it.
  std::uint32_t Read() {
    if (Position + static_cast<std::uint64_t>(Width) > Bits) {
      Exhausted = true;
      if (Truncated) throw EReadError();
      return kEndOfData;
    }
    std::uint64_t word;
    std::memcpy(&word, Data + (Position >> 3), sizeof word);
    const unsigned shift = static_cast<unsigned>(Position & 7);
    Position += static_cast<std::uint64_t>(Width);
    return static_cast<std::uint32_t>(word >> shift) & Mask;
  }
};

// Joins the sub-blocks of Data (count byte, then the bytes) into T.Payload and gives the
// reader its bits; a sub-block that runs past the data ends the payload before it.
void JoinSubBlocks(const std::uint8_t* Data, std::int64_t Size, TDecoderTables& T, TCodeReader& R) {
  if (T.Payload.size() < static_cast<std::size_t>(Size) + 8) T.Payload.resize(static_cast<std::size_t>(Size) + 8);
  T.PayloadEnds.clear();
  T.BlockEnds.clear();
  std::uint8_t* out = T.Payload.data();
  std::int64_t at = 0, joined = 0;
  while (at < Size) {
    const std::int64_t count = Data[at++];
    if (count > Size - at) {
      R.Truncated = true;
      break;
    }
    std::memcpy(out + joined, Data + at, static_cast<std::size_t>(count));
    at += count;
    joined += count;
    T.PayloadEnds.push_back(joined);
    T.BlockEnds.push_back(at);
  }
  std::memset(out + joined, 0, 8);
  R.Data = out;
  R.Bits = static_cast<std::uint64_t>(joined) * 8;
}

// Where a reader of whole sub-blocks would stand in the source after Reader's codes: after the
// first sub-block that completes them, or at the end once the data ran out.
std::int64_t SourcePositionAfter(const TCodeReader& Reader, const TDecoderTables& T, std::int64_t Base,
                                 std::int64_t Size) {
  if (Reader.Exhausted) return Size;
  if (Reader.Position == 0) return Base;
  const auto bytes = static_cast<std::int64_t>((Reader.Position + 7) / 8);
  const auto it = std::lower_bound(T.PayloadEnds.begin(), T.PayloadEnds.end(), bytes);
  return it == T.PayloadEnds.end() ? Size : Base + T.BlockEnds[static_cast<std::size_t>(it - T.PayloadEnds.begin())];
}

// Packs a row of a byte a pixel into 1- or 4-bit pixels (the first in the high bits); returns
// the bytes written.
std::int64_t PackRow(const std::uint8_t* Pixels, std::int64_t Width, int Bits, std::uint8_t* Out) {
  std::int64_t n = 0;
  if (Bits == 4) {
    std::int64_t x = 0;
    for (; x + 1 < Width; x += 2) Out[n++] = static_cast<std::uint8_t>((Pixels[x] & 15) << 4 | (Pixels[x + 1] & 15));
    if (x < Width) Out[n++] = static_cast<std::uint8_t>((Pixels[x] & 15) << 4);
    return n;
  }
  for (std::int64_t x = 0; x < Width; x += 8) {
    std::uint8_t b = 0;
    for (std::int64_t i = 0; i < 8 && x + i < Width; ++i) b = static_cast<std::uint8_t>(b | (Pixels[x + i] & 1) << (7 - i));
    Out[n++] = b;
  }
  return n;
}

// The DIB's rows as the decoder fills them: 8-bit rows in place, 1- and 4-bit rows through a
// row of a byte a pixel that is packed when it is whole.
struct TRowWriter {
  std::int64_t Width{0}, Height{0}, Stride{0};
  int Bits{8};
  bool Interlaced{false};
  int Pass{0};
  std::int64_t Row{0}, Column{0};  // row 0 is the top row of the picture
  std::uint8_t* Pixels{nullptr};   // bottom-up rows
  std::uint8_t* Unpacked{nullptr};
  std::uint8_t* Current{nullptr};  // where the current row's pixels go

  std::uint8_t* RowAt(std::int64_t R) const { return Pixels + (Height - R - 1) * Stride; }

  // The current row is whole: packed, padded, and the next one begun.
  void EndRow() {
    std::uint8_t* row = RowAt(Row);
    const std::int64_t used = Bits == 8 ? Width : PackRow(Unpacked, Width, Bits, row);
    if (Stride > used) std::memset(row + used, 0, static_cast<std::size_t>(Stride - used));
    Column = 0;
    Row = Interlaced ? NextInterlacedRow(Row, Height, Pass) : Row + 1;
    if (Row < Height && Bits == 8) Current = RowAt(Row);
  }

  // Pixels across the ends of rows (nothing after the last row).
  [[gnu::noinline]] void Put(const std::uint8_t* P, std::int64_t N) {
    while (N > 0 && Row < Height) {
      const std::int64_t n = std::min(N, Width - Column);
      std::memcpy(Current + Column, P, static_cast<std::size_t>(n));
      Column += n;
      P += n;
      N -= n;
      if (Column == Width) EndRow();
    }
  }

  // What the data did not reach becomes index 0.
  void Finish() {
    if (Row >= Height) return;
    std::memset(Current + Column, 0, static_cast<std::size_t>(Width - Column));
    Column = Width;
    EndRow();
    if (!Interlaced) {
      if (Row < Height) std::memset(Pixels, 0, static_cast<std::size_t>((Height - Row) * Stride));
      return;
    }
    for (; Row < Height; Row = NextInterlacedRow(Row, Height, Pass)) std::memset(RowAt(Row), 0, static_cast<std::size_t>(Stride));
  }
};

struct TDecodeRun {
  TCodeReader& Reader;
  TRowWriter& Writer;
  TDecoderTables& T;
  int Minimum;
  bool AcceptDamaged;
  bool& Damaged;
  // Progress, when reported: the image, the source's size and the payload's place in it.
  TPxGIFImage* Image;
  std::int64_t Size;
  std::int64_t Base;
};

// Entries not made since the start of this decode read as 0 (as freshly cleared tables would)
// once codes may lead to them: entries made before (in another frame) are cleared.
void ClearEntriesNotMade(TDecoderTables& T, std::uint32_t Clear, std::uint32_t FirstFree, std::uint32_t Highest) {
  for (std::uint32_t e = Clear; e < FirstFree; ++e) T.Prefix[e] = T.Suffix[e] = 0;
  for (std::uint32_t e = Highest; e < kMaxCodes; ++e) T.Prefix[e] = T.Suffix[e] = 0;
}

// Literal pixels to copy from, 8 bytes at a time.
constexpr auto kLiterals = [] {
  std::array<std::uint8_t, 512 + 8> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}();

// Copies N bytes between places that do not overlap, in whole words but no byte past the N
// (copies of fixed sizes, not a call, so that the decoder's loop keeps its registers).
inline void CopyBytes(std::uint8_t* To, const std::uint8_t* From, std::uint32_t N) {
  auto copy = [&](std::uint32_t At, auto Word) {
    std::memcpy(&Word, From + At, sizeof Word);
    std::memcpy(To + At, &Word, sizeof Word);
  };
  if (N >= 8) {
    for (std::uint32_t k = 0; k + 8 < N; k += 8) copy(k, std::uint64_t{});
    copy(N - 8, std::uint64_t{});
    return;
  }
  std::uint32_t k = 0;
  if (N & 4) copy(k, std::uint32_t{}), k += 4;
  if (N & 2) copy(k, std::uint16_t{}), k += 2;
  if (N & 1) copy(k, std::uint8_t{});
}

// Writes the Length pixels of Code's string at Out (for Repeat, the string of Old and then
// Last) from its end along the chain of entries, up to an entry with an earlier copy in Pixels,
// which is copied whole; returns the string's first pixel.
inline std::uint32_t WriteString(const TDecoderTables& T, const std::uint8_t* Pixels, std::uint32_t Code, bool Repeat,
                                 std::uint32_t Old, std::uint32_t Last, std::uint8_t* Out, std::uint32_t Length,
                                 std::uint32_t Clear) {
  std::uint8_t* end = Out + Length - 1;
  if (Repeat) {
    *end-- = static_cast<std::uint8_t>(Last);
    Code = Old;
  }
  while (Code >= Clear) {
    const TDecoderTables::TEntry e = T.Entries[Code];
    if (e.Offset != kNowhere) {
      CopyBytes(end + 1 - e.Length, Pixels + e.Offset, e.Length);
      return Pixels[e.Offset];
    }
    *end-- = T.Suffix[Code];
    Code = T.Prefix[Code];
  }
  *end = static_cast<std::uint8_t>(Code);
  return Code;
}

// An entry whose string was written at Offset (kNowhere: not whole in one row).
inline TDecoderTables::TEntry PendingEntry(std::uint32_t Offset, std::uint32_t Length) {
  return {Offset, Offset == kNowhere ? Length | kElsewhere : Length};
}

// The state of the common case's loop (see DecodeCodes).
struct TFastRun {
  const std::uint8_t* Data;
  std::int64_t SafeBits;  // a code of any width is whole up to here
  std::uint8_t* Pixels;
  // Strings that end before this leave 8 bytes after them in the rows (those of the row that
  // is last in the buffer end a little before it).
  const std::uint8_t* SafeEnd;
  TDecoderTables* T;
  TRowWriter* Writer;
  std::uint32_t Clear;
  std::uint64_t Position;
  int Width;
  std::uint32_t Mask, Next, Old, First, OldLength, Previous, Code;
  bool TableFull;
};

// Decodes codes from R.Code on while each is a literal or an entry made since the last clear
// (or the one about to be made) whose string ends in the row, after a previous code. Returns
// true when the last code taken was decoded and the next is still to be read (the row or the
// table is full, or the data needs the careful reader), false when R.Code is a code it leaves
// to the caller.
//
// The entry about to be made (the previous string and the first pixel of the next) is in the
// table before the next code is read, its string where the previous one was written and the
// pixel after that already set to the previous string's first: a code that names it copies
// its string like any other. Literals are copied too, from a table of the byte values, unless
// LiteralBranch writes them apart.
template <bool LiteralBranch>
[[gnu::noinline]] bool FastCodes(TFastRun& R) {
  const std::uint8_t* const data = R.Data;
  std::uint8_t* const pixels = R.Pixels;
  TDecoderTables& t = *R.T;
  TRowWriter& writer = *R.Writer;
  const std::uint32_t clear = R.Clear;
  std::uint8_t* o = writer.Current + writer.Column;
  auto rowEnd = [&] { return writer.Current + writer.Width; };
  const std::uint8_t* safeEnd = std::min<const std::uint8_t*>(rowEnd(), R.SafeEnd);
  std::uint64_t position = R.Position;
  int width = R.Width;
  std::uint32_t mask = R.Mask, next = R.Next, old = R.Old, first = R.First, code = R.Code;
  bool processed = false;
  // The code width grows when the next entry needs it; false when the table is full.
  auto grow = [&] {
    if (next <= mask) [[likely]]
      return true;
    if (width == 12) {
      R.TableFull = true;
      return false;
    }
    ++width;
    mask = mask * 2 + 1;
    return true;
  };
  // The row below (the rows are not interlaced; with no call, which would cost the loop its
  // registers); false after the last.
  auto nextRow = [&] {
    std::uint8_t* const row = writer.Current;
    for (std::int64_t k = writer.Width; k < writer.Stride; ++k) row[k] = 0;
    writer.Column = 0;
    if (++writer.Row >= writer.Height) return false;
    o = writer.Current = row - writer.Stride;
    safeEnd = std::min<const std::uint8_t*>(rowEnd(), R.SafeEnd);
    return true;
  };
  t.Entries[next] = PendingEntry(R.Previous, R.OldLength + 1);
  *o = static_cast<std::uint8_t>(first);
  for (;;) {
    if (code > next) [[unlikely]]
      break;  // beyond the entry about to be made
    const TDecoderTables::TEntry e = t.Entries[code];
    std::uint8_t* const start = o;
    std::uint32_t length = e.Length;
    if (LiteralBranch && code < clear) {
      *o = static_cast<std::uint8_t>(code);
      first = code;
    } else if (static_cast<std::int64_t>(length) + 7 <= safeEnd - o) [[likely]] {
      // An earlier copy, 8 bytes at a time (what is written past the string is written again).
      const std::uint8_t* source = code < clear ? kLiterals.data() + code : pixels + e.Offset;
      std::uint64_t v;
      std::memcpy(&v, source, sizeof v);
      std::memcpy(o, &v, sizeof v);
      for (std::uint32_t k = 8; k < length; k += 8) [[unlikely]] {
        std::memcpy(&v, source + k, sizeof v);
        std::memcpy(o + k, &v, sizeof v);
      }
      first = *source;
    } else {
      length &= ~kElsewhere;
      if (code - clear <= 1) break;  // clear or end
      if (static_cast<std::int64_t>(length) > rowEnd() - o) {
        // Across the row's end into the rows below (interlaced rows: the caller).
        if (writer.Interlaced) break;
        first = WriteString(t, pixels, code, code == next, old, first, t.Stack, length, clear);
        writer.Column = o - writer.Current;
        writer.Put(t.Stack, length);
        t.Prefix[next] = static_cast<std::uint16_t>(old);
        t.Suffix[next] = static_cast<std::uint8_t>(first);
        ++next;
        old = code;
        processed = true;
        t.Entries[next] = {kNowhere, (length + 1) | kElsewhere};
        o = writer.Current + writer.Column;
        safeEnd = std::min<const std::uint8_t*>(rowEnd(), R.SafeEnd);
        if (!grow() || writer.Row >= writer.Height) break;
        goto read;
      }
      // Near the row's end, or without an earlier copy.
      first = WriteString(t, pixels, code, code == next, old, first, o, length, clear);
    }
    o += length;
    t.Prefix[next] = static_cast<std::uint16_t>(old);
    t.Suffix[next] = static_cast<std::uint8_t>(first);
    ++next;
    old = code;
    processed = true;
    {
      const bool rowGoesOn = o < safeEnd;
      t.Entries[next] = rowGoesOn ? TDecoderTables::TEntry{static_cast<std::uint32_t>(start - pixels), length + 1}
                                  : TDecoderTables::TEntry{kNowhere, (length + 1) | kElsewhere};
      if (!grow()) [[unlikely]]
        break;
      // At the row's end the next row here when it is the one below; else, or for the last
      // few pixels of the buffer's last row, the caller.
      if (!rowGoesOn) [[unlikely]]
        if (o != rowEnd() || writer.Interlaced || !nextRow()) break;
    }
  read:
    *o = static_cast<std::uint8_t>(first);
    if (static_cast<std::int64_t>(position) > R.SafeBits) [[unlikely]]
      break;
    std::uint64_t word;
    std::memcpy(&word, data + (position >> 3), sizeof word);
    code = static_cast<std::uint32_t>(word >> (position & 7)) & mask;
    position += static_cast<std::uint64_t>(width);
    processed = false;
  }
  if (writer.Row < writer.Height) writer.Column = o - writer.Current;
  R.Position = position;
  R.Width = width;
  R.Mask = mask;
  R.Next = next;
  R.Old = old;
  R.First = first;
  R.OldLength = (t.Entries[next].Length & ~kElsewhere) - 1;
  R.Previous = t.Entries[next].Offset;
  R.Code = code;
  return processed;
}

void DecodeCodes(TDecodeRun& D) {
  TCodeReader& reader = D.Reader;
  TRowWriter& writer = D.Writer;
  TDecoderTables& t = D.T;
  // Literal pixels are the codes below the clear code, whatever the colour table's size.
  const std::uint32_t clear = 1u << D.Minimum, end = clear + 1, firstFree = clear + 2;
  std::uint32_t next = firstFree, limit = 1u << reader.Width, highest = firstFree;
  std::uint32_t old = kNoCode, first = 0, oldLength = 0;
  bool tableFull = false, afterClear = false;
  // While every code names an entry made since the last clear (or the next one), chains end at
  // a literal and each entry knows its length: a string is copied from where it was written
  // before, or its chain is walked straight into the row from its end. A code beyond the next
  // entry makes entries that lead to stale ones; from then on chains are walked through the
  // stack with its bound.
  bool sound = true;
  const bool report = D.Image && D.Size > 0 && D.Image->OnProgress;
  if (t.LiteralsBelow != clear) {
    for (std::uint32_t c = 0; c < clear; ++c) t.Entries[c] = {0, 1};
    t.Entries[clear] = t.Entries[end] = {kNowhere, kElsewhere};
    t.LiteralsBelow = clear;
  }

  // The state of the loop in locals (the rows' bytes may alias anything else).
  const std::uint8_t* const data = reader.Data;
  const std::uint64_t bits = reader.Bits;
  std::uint64_t position = reader.Position;
  int width = reader.Width;
  std::uint32_t mask = reader.Mask;
  std::uint8_t* const pixels = writer.Pixels;
  const std::int64_t rowWidth = writer.Width;
  const std::int64_t rowBytes = writer.Height * writer.Stride;
  std::uint8_t* row = writer.Current;
  std::int64_t column = writer.Column;
  bool rowsLeft = writer.Row < writer.Height;
  // Entries refer to an earlier copy of their string in 8-bit rows (by its offset in Pixels).
  const bool direct = writer.Bits == 8 && rowBytes < static_cast<std::int64_t>(kNowhere);
  // Small pictures have many literal codes: they are written apart from the copies (measured
  // faster below about 64 k pixels, slower above).
  const bool fewPixels = writer.Width * writer.Height < 65536;
  std::uint32_t previous = kNowhere;  // the previous code's string, when its row goes on after it
  // Strings that end before this leave 8 bytes after them in the rows.
  const std::uint8_t* const safeEnd = pixels + (rowBytes < 8 ? 0 : rowBytes - 7);

  auto save = [&] {
    reader.Position = position;
    reader.Width = width;
    reader.Mask = mask;
    writer.Column = column;
  };
  auto load = [&] {
    row = writer.Current;
    column = writer.Column;
    rowsLeft = writer.Row < writer.Height;
  };
  auto corrupt = [&] {
    if (!D.AcceptDamaged) {
      save();
      RaisePxGifError("GIF encoded data is corrupt");
    }
    D.Damaged = true;
  };
  auto read = [&]() -> std::uint32_t {
    if (position + static_cast<std::uint64_t>(width) > bits) {
      save();
      return reader.Read();  // the end of the data, or a sub-block cut short
    }
    std::uint64_t word;
    std::memcpy(&word, data + (position >> 3), sizeof word);
    const unsigned shift = static_cast<unsigned>(position & 7);
    position += static_cast<std::uint64_t>(width);
    return static_cast<std::uint32_t>(word >> shift) & mask;
  };

  std::uint32_t code = read();
  for (;;) {
    // The common case in a loop of its own: a literal or an entry made since the last clear
    // whose string ends in the row, after a previous code, with room left in the table.
    if (direct && sound && !report && !D.Damaged && old != kNoCode && !tableFull && rowsLeft) {
      save();
      TFastRun f{data, static_cast<std::int64_t>(bits) - 12, pixels, safeEnd, &t, &writer, clear,
                 position, width, mask, next, old, first, oldLength, previous, code, false};
      const bool processed = fewPixels ? FastCodes<true>(f) : FastCodes<false>(f);
      load();
      position = f.Position;
      width = f.Width;
      mask = f.Mask;
      next = f.Next;
      limit = 1u << width;
      old = f.Old;
      first = f.First;
      oldLength = f.OldLength;
      previous = f.Previous;
      tableFull = f.TableFull;
      if (processed) {
        // The code read last is done: its row may be whole, and the next code is read here.
        if (column == rowWidth) {
          save();
          writer.EndRow();
          load();
        }
        code = read();
        continue;
      }
      code = f.Code;
    }
    if (code == end || code == kEndOfData || !rowsLeft) break;
    if (code == clear) {
      width = D.Minimum + 1;
      limit = 1u << width;
      mask = limit - 1;
      highest = std::max(highest, next);
      next = firstFree;
      old = kNoCode;
      tableFull = false;
      afterClear = true;
    } else {
      // After a code size that had to be clamped only the code right after a clear is taken.
      if (D.Damaged && !afterClear) break;
      afterClear = false;
      if (code >= next && old == kNoCode) {
        // The entry about to be made, without a previous string: nothing it can stand for.
        corrupt();
        break;
      }
      std::uint32_t length = 0;
      std::uint8_t* written = nullptr;  // where this code's string went, when its row goes on
      if (sound) {
        // Code >= next: the entry about to be made, the previous string and its first pixel.
        const bool repeat = code >= next;
        std::uint8_t* out = row + column;
        const std::int64_t room = rowWidth - column;
        const std::uint32_t from = repeat ? previous : (code < clear ? kNowhere : t.Entries[code].Offset);
        length = repeat ? oldLength + 1 : (code < clear ? 1 : t.Entries[code].Length & ~kElsewhere);
        if (code < clear) {
          *out = static_cast<std::uint8_t>(code);
          first = code;
          written = out;
          column += 1;
        } else if (from != kNowhere) {
          // An earlier copy of the string (for the entry about to be made, all but its last
          // pixel, the previous string's first).
          const std::uint8_t* source = pixels + from;
          const std::uint32_t copied = repeat ? oldLength : length;
          if (!repeat) first = *source;
          if (static_cast<std::int64_t>(length) <= room) {
            std::memcpy(out, source, copied);
            if (repeat) out[copied] = static_cast<std::uint8_t>(first);
            written = out;
            column += length;
          } else {
            save();
            writer.Put(source, copied);
            const std::uint8_t last = static_cast<std::uint8_t>(first);
            if (repeat) writer.Put(&last, 1);
            load();
          }
        } else {
          // Into the row or, when the row ends first, the stack.
          const bool inRow = static_cast<std::int64_t>(length) <= room;
          first = WriteString(t, pixels, code, repeat, old, first, inRow ? out : t.Stack, length, clear);
          if (inRow) {
            written = out;
            column += length;
          } else {
            save();
            writer.Put(t.Stack, length);
            load();
          }
        }
        if (column == rowWidth) {
          save();
          writer.EndRow();
          load();
          written = nullptr;
        }
        if (repeat && code != next) {
          sound = false;
          highest = std::max(highest, next + 1);
          ClearEntriesNotMade(t, clear, firstFree, highest);
        }
      } else {
        int depth = 0;
        std::uint32_t c = code;
        if (code >= next) {
          c = old;
          t.Stack[0] = static_cast<std::uint8_t>(first);
          depth = 1;
        }
        bool overflow = false;
        while (c >= clear) {
          if (depth >= kStackSize - 1) {
            overflow = true;
            break;
          }
          t.Stack[depth++] = t.Suffix[c];
          c = t.Prefix[c];
        }
        if (overflow) {
          corrupt();
          break;
        }
        first = c;
        t.Stack[depth] = static_cast<std::uint8_t>(first);
        std::reverse(t.Stack, t.Stack + depth + 1);
        save();
        writer.Put(t.Stack, depth + 1);
        load();
      }
      // The first code of a run makes no entry.
      if (old != kNoCode && !tableFull) {
        t.Prefix[next] = static_cast<std::uint16_t>(old);
        t.Suffix[next] = static_cast<std::uint8_t>(first);
        t.Entries[next] = PendingEntry(previous, oldLength + 1);
        ++next;
      }
      // The next entry must fit the codes that follow (with code size 1 already after the first).
      if (next >= limit && !tableFull) {
        if (width == 12) {
          tableFull = true;
        } else {
          ++width;
          limit *= 2;
          mask = limit - 1;
        }
      }
      old = code;
      oldLength = length;
      previous = direct && written && written - pixels + length + 8 <= rowBytes ? static_cast<std::uint32_t>(written - pixels)
                                                                                : kNowhere;
    }
    code = read();
    if (report) {
      save();
      D.Image->ReportProgress(psRunning, Percent(SourcePositionAfter(reader, t, D.Base, D.Size), D.Size), "");
    }
  }
  save();
  // Data that ends before the picture is whole (without its end code).
  if (code == kEndOfData && rowsLeft) {
    if (!D.AcceptDamaged) throw EReadError("Stream read error");
    D.Damaged = true;
  }
}

}  // namespace

void PxLzwDecode(TStream* Source, const BITMAPINFOHEADER& Info, bool Interlaced, TPxGIFImage* Image, bool& Damaged,
                 std::uint8_t* Pixels, bool AcceptDamaged) {
  Damaged = false;
  WithProgress(Image, [&] {
    std::uint8_t minimum = 0;
    Source->ReadBuffer(&minimum, 1);
    int min = minimum;
    if (min < kMinCodeSize || min > kMaxCodeSize) {
      if (!AcceptDamaged) RaisePxGifError("GIF code size not in range 1 to 9");
      Damaged = true;
      min = min < kMinCodeSize ? kMinCodeSize : kMaxCodeSize;
    }
    TRowWriter writer;
    writer.Width = Info.biWidth;
    writer.Height = Info.biHeight < 0 ? -static_cast<std::int64_t>(Info.biHeight) : Info.biHeight;
    writer.Bits = Info.biBitCount == 1 || Info.biBitCount == 4 ? Info.biBitCount : 8;
    writer.Interlaced = Interlaced;
    writer.Stride = DibScanlineBytes(static_cast<std::int64_t>(Info.biBitCount) * writer.Width);
    writer.Pixels = Pixels;
    if (writer.Width <= 0 || writer.Height <= 0) return;  // nothing to fill

    TTablesLease lease;
    TDecoderTables& t = *lease;
    const std::int64_t base = Source->Position(), size = Source->Size();
    const std::int64_t rest = std::max<std::int64_t>(size - base, 0);
    const std::uint8_t* data;
    if (auto* memory = dynamic_cast<TCustomMemoryStream*>(Source)) {
      data = static_cast<const std::uint8_t*>(memory->Memory()) + base;
    } else {
      if (t.Copy.size() < static_cast<std::size_t>(rest)) t.Copy.resize(static_cast<std::size_t>(rest));
      Source->ReadBuffer(t.Copy.data(), rest);
      data = t.Copy.data();
    }
    TCodeReader reader;
    JoinSubBlocks(data, rest, t, reader);
    reader.Width = min + 1;
    reader.Mask = (1u << reader.Width) - 1;
    if (writer.Bits != 8) {
      if (t.Row.size() < static_cast<std::size_t>(writer.Width)) t.Row.resize(static_cast<std::size_t>(writer.Width));
      writer.Unpacked = t.Row.data();
      writer.Current = writer.Unpacked;
    } else {
      writer.Current = writer.RowAt(0);
    }

    TDecodeRun run{reader, writer, t, min, AcceptDamaged, Damaged, Image, size, base};
    try {
      DecodeCodes(run);
    } catch (...) {
      Source->SetPosition(SourcePositionAfter(reader, t, base, size));
      throw;
    }
    Source->SetPosition(SourcePositionAfter(reader, t, base, size));
    writer.Finish();
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
