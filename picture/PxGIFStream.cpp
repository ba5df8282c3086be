// Reading a GIF stream into a TPxGIFImage and writing it back.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "picture/PxGIF.h"
#include "picture/PxGraphUtils.h"

namespace px {

namespace {

constexpr BYTE kExtensionIntroducer = '!';
constexpr BYTE kImageIntroducer = ',';
constexpr BYTE kTrailer = ';';

const char* const kVersions[3] = {"", "87a", "89a"};
constexpr BYTE kLabels[4] = {0xF9, 0x01, 0xFF, 0xFE};
constexpr int kFixedBytes[4] = {6, 13, 12, 0};

bool AtEnd(TStream* S) { return S->Position() >= S->Size(); }

BYTE ReadByte(TStream* S) {
  BYTE b = 0;
  S->ReadBuffer(&b, 1);
  return b;
}

void WriteByte(TStream* S, BYTE B) { S->WriteBuffer(&B, 1); }

void WriteWord(TStream* S, std::int64_t V) {
  std::uint8_t b[2];
  PutLE16(b, static_cast<std::uint16_t>(V));
  S->WriteBuffer(b, 2);
}

// The first byte that is not 0; 0 at the end of the data.
BYTE NextBlockIntroducer(TStream* S) {
  BYTE b = 0;
  while (S->Read(&b, 1) == 1)
    if (b != 0) return b;
  return 0;
}

bool SameText3(const std::uint8_t* A, const char* B) {
  if (std::strlen(B) != 3) return false;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(A[i]) != std::toupper(static_cast<unsigned char>(B[i]))) return false;
  return true;
}

void ReadColorTable(TStream* S, TGifColorTable& Table, int Bits) {
  static_assert(sizeof Table.Colors == 768, "entries of three bytes, one after another");
  Table.Count = 1 << Bits;
  try {
    S->ReadBuffer(Table.Colors.data(), 3 * Table.Count);
  } catch (...) {
    Table.Colors = {};
    throw;
  }
  std::memset(Table.Colors.data() + Table.Count, 0, 3 * static_cast<std::size_t>(256 - Table.Count));
}

// Count entries, padded with black to Bits entries.
void WriteColorTable(TStream* S, const TGifColorTable& Table, int Bits) {
  std::uint8_t bytes[768] = {};
  const int entries = 1 << Bits;
  for (int i = 0; i < std::min(Table.Count, entries); ++i)
    std::memcpy(bytes + 3 * i, Table.Colors[static_cast<std::size_t>(i)].data(), 3);
  S->WriteBuffer(bytes, 3 * entries);
}

// Data sub-blocks, one line each, until a zero count or the end of the data.
void ReadSubBlockLines(TStream* S, TStringList& Lines) {
  while (!AtEnd(S)) {
    const BYTE count = ReadByte(S);
    if (count == 0) return;
    std::string line(count, '\0');
    S->ReadBuffer(line.data(), count);
    Lines.Add(line);
  }
}

void WriteSubBlockLines(TStream* S, const TStrings& Lines) {
  for (int i = 0; i < Lines.Count(); ++i) {
    const std::string line = Lines.Get(i);
    const std::size_t n = std::min<std::size_t>(line.size(), 255);
    if (n == 0) continue;
    WriteByte(S, static_cast<BYTE>(n));
    S->WriteBuffer(line.data(), static_cast<std::int64_t>(n));
  }
  WriteByte(S, 0);
}

std::unique_ptr<TExtension> ReadOneExtension(TStream* S) {
  const BYTE label = ReadByte(S);
  auto e = std::make_unique<TExtension>();
  switch (label) {
    case 0xF9: e->Kind = gekGraphicControl; break;
    case 0xFE: e->Kind = gekComment; break;
    case 0x01: e->Kind = gekPlainText; break;
    case 0xFF: e->Kind = gekApplication; break;
    default: RaisePxGifError(Format("Unrecognized extension block: %.2x", label));
  }
  // The fixed bytes as they stand, whatever the block-size byte says.
  const int fixed = kFixedBytes[e->Kind];
  if (fixed > 0) S->ReadBuffer(e->FixedBytes.data(), fixed);
  if (e->Kind != gekGraphicControl) {
    e->Lines = std::make_unique<TStringList>();
    ReadSubBlockLines(S, *e->Lines);
  }
  return e;
}

using TExtensionRun = std::vector<std::unique_ptr<TExtension>>;

// The extensions in front of the next block: graphic control and comment blocks are kept;
// a plain-text block drops what the run kept so far; a loop block sets the image's loop.
BYTE ReadExtensionRun(TPxGIFImage& Image, TStream* S, BYTE Introducer, TExtensionRun& Kept) {
  Kept.clear();
  while (Introducer == kExtensionIntroducer) {
    std::unique_ptr<TExtension> e = ReadOneExtension(S);
    if (e->Kind == gekPlainText) Kept.clear();
    if (e->Kind == gekPlainText || e->Kind == gekApplication) {
      if (e->IsLoopBlock()) {
        const std::string first = e->Lines->Get(0);
        Image.LoopAnimation = true;
        Image.LoopCount = static_cast<std::uint16_t>(
            std::min(static_cast<BYTE>(first[1]) + 256 * static_cast<BYTE>(first[2]), 30000));
      }
    } else {
      Kept.push_back(std::move(e));
    }
    if (AtEnd(S)) return kTrailer;
    Introducer = NextBlockIntroducer(S);
  }
  return Introducer;
}

// True when entry Index's colour appears at any other entry.
bool ColorIsDuplicated(int Index, const TGifColorTable& Table) {
  for (int i = 0; i < Table.Count; ++i)
    if (i != Index && Table.Colors[static_cast<std::size_t>(i)] == Table.Colors[static_cast<std::size_t>(Index)])
      return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Reading

void TPxGIFFrame::ReadImage(TCustomMemoryStream* Source) {
  TGIFItem& item = *ItemData;
  item.CodeStream = std::make_unique<TMemoryStream>();
  try {
    std::uint8_t descriptor[9];
    Source->ReadBuffer(descriptor, 9);
    const BYTE packed = descriptor[8];
    IsInterlaced = (packed & 0x40) != 0;
    if (packed & 0x80) {
      item.TableBits = static_cast<BYTE>((packed & 7) + 1);
      ReadColorTable(Source, item.ColorTable, item.TableBits);
      HasLocalTable = true;
    } else {
      HasLocalTable = false;
      item.ColorTable = TGifColorTable{};
    }
    // The code size byte and the sub-blocks up to the terminator, copied at once; a sub-block
    // that runs past the data marks the frame and is left out.
    const auto* data = static_cast<const std::uint8_t*>(Source->Memory());
    const std::int64_t start = Source->Position(), size = Source->Size();
    if (start >= size) throw EReadError();
    std::int64_t at = start + 1, copied = at;
    while (at < size) {
      const std::int64_t count = data[at++];
      if (count > size - at) {
        IsCorrupt = true;
        at = size;
        break;
      }
      at += count;
      copied = at;
      if (count == 0) break;
    }
    item.CodeStream->SetSizeUncleared(copied - start);
    std::memcpy(item.CodeStream->Memory(), data + start, static_cast<std::size_t>(copied - start));
    Source->SetPosition(at);
    if (IsCorrupt && !AcceptDamagedData) throw EReadError("Stream read error");
    item.CodeStream->SetPosition(0);

    std::int32_t width = GetLE16(descriptor + 4), height = GetLE16(descriptor + 6);
    if (height == 0) height = Owner ? Owner->LogicalHeight : 0;
    if (width == 0) width = Owner ? Owner->LogicalWidth : 0;
    OriginX = GetLE16(descriptor);
    OriginY = GetLE16(descriptor + 2);
    item.ImageWidth = width;
    item.ImageHeight = height;
    item.DescriptorFlags = packed;
    if (!HasLocalTable && Owner) item.ColorTable = Owner->GifData->GlobalTable;

    DelayMs = 0;
    for (const auto& e : ExtensionList) {
      if (e->Kind != gekGraphicControl) continue;
      const BYTE flags = e->FixedBytes[1];
      const int index = e->FixedBytes[4];
      if (flags & 1) {
        if (index < item.ColorTable.Count) {
          // The transparent entry is made unique in its blue byte (downward first).
          auto& color = item.ColorTable.Colors[static_cast<std::size_t>(index)];
          int step = -1;
          for (int n = 0; n < 256 && ColorIsDuplicated(index, item.ColorTable); ++n) {
            if (color[2] == 0) step = 1;
            if (color[2] == 255) step = -1;
            color[2] = static_cast<BYTE>(color[2] + step);
          }
          KeyColor = item.ColorTable.ColorAt(index);
        }
      } else {
        KeyColor = clNone;
      }
      DelayMs = std::max<std::uint32_t>(GetLE16(e->FixedBytes.data() + 2) * 10u, DelayMs);
      DisposalCode = static_cast<BYTE>((flags >> 2) & 7);
    }
  } catch (...) {
    item.CodeStream.reset();
    throw;
  }
}

void TPxGIFImage::DecodeStream(std::int64_t Count, TStream* Source, bool DecodeFirst) {
  ResetImage();
  if (Count > std::max<std::int64_t>(Source->Size() - Source->Position(), 0)) throw EReadError("Stream read error");
  // The GIF is read where it lies when the source is in memory, else from a copy.
  TMemoryStream copy;
  std::unique_ptr<TResourceStream> view;
  if (Count > 0) {
    if (auto* memory = dynamic_cast<TCustomMemoryStream*>(Source)) {
      view = std::make_unique<TResourceStream>(static_cast<const std::uint8_t*>(memory->Memory()) + Source->Position(), Count);
      Source->Seek(Count, soFromCurrent);
    } else {
      copy.SetSizeUncleared(Count);
      Source->ReadBuffer(copy.Memory(), Count);
    }
    TCustomMemoryStream& data = view ? static_cast<TCustomMemoryStream&>(*view) : copy;
    data.SetPosition(0);

    std::uint8_t signature[6];
    data.ReadBuffer(signature, 3);
    if (!SameText3(signature, "GIF")) RaisePxGifError("Unknown GIF version");
    data.ReadBuffer(signature + 3, 3);
    for (BYTE v = 0; v < 3 && GifVersion == 0; ++v)
      if (SameText3(signature + 3, kVersions[v])) GifVersion = v;
    if (GifVersion == 0) RaisePxGifError("Unknown GIF version");

    std::uint8_t screen[7];
    data.ReadBuffer(screen, 7);
    LogicalWidth = GetLE16(screen);
    LogicalHeight = GetLE16(screen + 2);
    const BYTE packed = screen[4];
    GifData->AspectByte = screen[6];
    GifData->TableBits = static_cast<BYTE>((packed & 7) + 1);
    GifData->ColorResolution = static_cast<BYTE>(((packed >> 4) & 7) + 1);
    if (packed & 0x80) {
      ReadColorTable(&data, GifData->GlobalTable, GifData->TableBits);
      if (screen[5] < GifData->GlobalTable.Count) BackColor = GifData->GlobalTable.ColorAt(screen[5]);
    }

    BYTE introducer = NextBlockIntroducer(&data);
    TExtensionRun run;
    while (introducer != 0 && introducer != kTrailer && !AtEnd(&data)) {
      introducer = ReadExtensionRun(*this, &data, introducer, run);
      if (introducer == kImageIntroducer) {
        auto frame = std::make_unique<TPxGIFFrame>(this);
        if (GifData->GlobalTable.Count > 0)
          frame->ItemData->TableBits = static_cast<BYTE>(ColorCountToBits(GifData->GlobalTable.Count));
        frame->ExtensionList = std::move(run);
        run.clear();
        frame->ReadImage(&data);
        FrameList.push_back(std::move(frame));
        if (AtEnd(&data)) {
          introducer = kTrailer;
        } else {
          introducer = NextBlockIntroducer(&data);
          if (introducer != kExtensionIntroducer && introducer != kImageIntroducer && introducer != kTrailer)
            introducer = 0;
        }
      } else if (GifData->ImageComment.Count() == 0 && !run.empty()) {
        // Comments after the last frame become the image's comment.
        for (const auto& e : run) {
          if (e->Kind != gekComment || !e->Lines) continue;
          if (GifData->ImageComment.Count() > 0) GifData->ImageComment.Add("\r\n\r\n");
          GifData->ImageComment.AddStrings(e->Lines.get());
        }
        run.clear();
      } else {
        run.clear();
        if (introducer != 0 && introducer != kTrailer) throw EReadError("Stream read error");
      }
    }
  }
  if (!FrameList.empty()) {
    CurrentFrame = 0;
    if (DecodeFirst) {
      try {
        FrameAt(0)->DecodedBitmap();
      } catch (...) {
        FrameList.erase(FrameList.begin());
        throw;
      }
    }
  }
  SetPaletteModified(true);
  Changed(this);
}

// ---------------------------------------------------------------------------------------------
// Writing

void TPxGIFFrame::SyncExtensions() {
  TExtension* control = nullptr;
  for (auto it = ExtensionList.rbegin(); it != ExtensionList.rend() && !control; ++it)
    if ((*it)->Kind == gekGraphicControl) control = it->get();
  if ((DelayMs != 0 || KeyColor != clNone || DisposalCode != 0) && !control) {
    ExtensionList.push_back(std::make_unique<TExtension>());
    control = ExtensionList.back().get();
    control->Kind = gekGraphicControl;
    control->FixedBytes[0] = 4;
  }
  if (control) {
    PutLE16(control->FixedBytes.data() + 2, static_cast<std::uint16_t>(std::min<std::uint32_t>(DelayMs / 10, 0xFFFF)));
    const int index = ColorTableIndexOf(ItemData->ColorTable, KeyColor);
    BYTE& flags = control->FixedBytes[1];
    if (index >= 0) {
      control->FixedBytes[4] = static_cast<BYTE>(index);
      flags |= 1;
    } else {
      flags &= static_cast<BYTE>(~1);
    }
    flags = static_cast<BYTE>((flags & 0xE3) | (DisposalCode & 7) << 2);
  }
  for (std::size_t i = ExtensionList.size(); i-- > 0;) {
    const TExtension& e = *ExtensionList[i];
    if (e.Kind == gekComment && (!e.Lines || e.Lines->Count() == 0)) ExtensionList.erase(ExtensionList.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (!ExtensionList.empty() && Owner) Owner->GifVersion = 2;
}

void TPxGIFFrame::WriteDescriptor(TStream* Target) {
  BYTE packed = 0;
  if (HasLocalTable) {
    int b = 1;
    while ((1 << b) < ItemData->ColorTable.Count && b < 8) ++b;
    if (ItemData->TableBits != b) OwnItem().TableBits = static_cast<BYTE>(b);
    packed = static_cast<BYTE>(0x80 + b - 1);
  }
  if (IsInterlaced) packed |= 0x40;
  WriteWord(Target, OriginX);
  WriteWord(Target, OriginY);
  WriteWord(Target, ItemData->ImageWidth);
  WriteWord(Target, ItemData->ImageHeight);
  WriteByte(Target, packed);
}

void TPxGIFFrame::WriteLocalColors(TStream* Target) {
  // As many entries as the descriptor announces (the table padded with black).
  if (HasLocalTable) WriteColorTable(Target, ItemData->ColorTable, ItemData->TableBits);
}

void TPxGIFFrame::WriteImageData(TStream* Target) {
  if (!ItemData->CodeStream || ItemData->CodeStream->Size() == 0) return;
  const auto* data = static_cast<const std::uint8_t*>(ItemData->CodeStream->Memory());
  const std::int64_t size = ItemData->CodeStream->Size();
  Target->WriteBuffer(data, size);
  // Data that was cut short gets its terminator, so that the blocks after it stay blocks.
  std::int64_t at = 1;
  while (at < size && data[at] != 0) at += data[at] + 1;
  if (at >= size) WriteByte(Target, 0);
}

void TPxGIFImage::EncodeAllFrames() {
  for (const auto& frame : FrameList) {
    const auto& code = frame->ItemData->CodeStream;
    if (!code || code->Size() == 0) {
      frame->OwnItem().CodeStream.reset();
      frame->EncodeBitmap();
    }
    // A frame without any colour table is written with the global one, or with a black
    // two-entry table of its own where there is none.
    if (frame->ItemData->ColorTable.Count == 0) {
      TGIFItem& item = frame->OwnItem();
      if (GifData->GlobalTable.Count > 0) {
        item.ColorTable = GifData->GlobalTable;
        item.TableBits = static_cast<BYTE>(ColorCountToBits(GifData->GlobalTable.Count));
        frame->HasLocalTable = false;
      } else {
        item.ColorTable = TGifColorTable{};
        item.ColorTable.Count = 2;
        item.TableBits = 1;
        frame->HasLocalTable = true;
      }
      frame->BitmapCache.reset();
    }
    frame->SyncExtensions();
  }
}

void TPxGIFImage::EncodeStream(TStream* Target, bool WithCount) {
  if (FrameList.empty()) RaisePxGifError("No GIF Data to write");
  EncodeAllFrames();
  if (GifData->ImageComment.Count() > 0) GifVersion = 2;

  TMemoryStream out;
  out.WriteBuffer("GIF", 3);
  out.WriteBuffer(kVersions[GifVersion == 2 ? 2 : 1], 3);

  RecomputeScreenSize();
  WriteWord(&out, LogicalWidth);
  WriteWord(&out, LogicalHeight);
  const TGifColorTable& global = GifData->GlobalTable;
  BYTE packed = 0, background = 0;
  int globalBits = 0;
  if (global.Count > 0) {
    globalBits = ColorCountToBits(global.Count);
    // The size field follows the table that is written.
    const int sizeBits = GifData->TableBits == globalBits ? GifData->TableBits : globalBits;
    packed = static_cast<BYTE>(0x80 + (globalBits - 1) * 16 + (sizeBits - 1));
    if (BackColor != clNone) background = static_cast<BYTE>(std::max(ColorTableIndexOf(global, BackColor), 0));
  }
  WriteByte(&out, packed);
  WriteByte(&out, background);
  WriteByte(&out, GifData->AspectByte);
  if (global.Count > 0) WriteColorTable(&out, global, globalBits);

  if (LoopAnimation && FrameCount() > 1) {
    const BYTE loop[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01};
    out.WriteBuffer(loop, sizeof loop);
    WriteWord(&out, LoopCount);
    WriteByte(&out, 0);
  }

  for (const auto& frame : FrameList) {
    // A width or height of 0 reads back as the logical screen's: a frame without pixels on a
    // screen that other frames widen cannot be written (it would come back as a frame of the
    // screen's size, with more pixels than its data holds), so it is left out.
    if ((frame->ItemData->ImageWidth == 0 && LogicalWidth != 0) || (frame->ItemData->ImageHeight == 0 && LogicalHeight != 0))
      continue;
    for (const auto& e : frame->ExtensionList) {
      if (!e) continue;
      WriteByte(&out, kExtensionIntroducer);
      WriteByte(&out, kLabels[e->Kind]);
      if (kFixedBytes[e->Kind] > 0) out.WriteBuffer(e->FixedBytes.data(), kFixedBytes[e->Kind]);
      if (e->Kind != gekGraphicControl) {
        if (e->Lines)
          WriteSubBlockLines(&out, *e->Lines);
        else
          WriteByte(&out, 0);
      }
    }
    WriteByte(&out, kImageIntroducer);
    frame->WriteDescriptor(&out);
    frame->WriteLocalColors(&out);
    frame->WriteImageData(&out);
  }
  if (GifData->ImageComment.Count() > 0) {
    WriteByte(&out, kExtensionIntroducer);
    WriteByte(&out, 0xFE);
    WriteSubBlockLines(&out, GifData->ImageComment);
  }
  WriteByte(&out, kTrailer);

  if (WithCount) {
    std::uint8_t count[4];
    PutLE32(count, static_cast<std::uint32_t>(out.Size()));
    Target->WriteBuffer(count, 4);
  }
  Target->WriteBuffer(out.Memory(), out.Size());
}

}  // namespace px
