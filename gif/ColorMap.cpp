#include "gif/ColorMap.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "gif/Image.h"

namespace gif {

void TGIFColorMap::Clear() {
  FTable.clear();
  FTable.shrink_to_fit();
  FCount = 0;
  FCapacity = 0;
  FSorted = false;
}

TGIFColor TGIFColorMap::ColorToTriple(TColor Color) {
  const auto C = static_cast<std::uint32_t>(Color);
  return TGIFColor{static_cast<std::uint8_t>(C), static_cast<std::uint8_t>(C >> 8), static_cast<std::uint8_t>(C >> 16)};
}

TColor TGIFColorMap::TripleToColor(const TGIFColor& Triple) {
  return static_cast<TColor>(Triple.Red | (Triple.Green << 8) | (Triple.Blue << 16));
}

int TGIFColorMap::TableBits() const {
  if (FCount <= 0) return 0;
  int Bits = 1;
  while (Bits < 8 && (1 << Bits) < FCount) ++Bits;
  return Bits;
}

void TGIFColorMap::WriteToStream(TStream* Stream) { WriteToStream(Stream, TableBits()); }

void TGIFColorMap::WriteToStream(TStream* Stream, int Bits) {
  if (FCount == 0 && Bits <= 0) return;
  Bits = std::clamp(std::max(Bits, TableBits()), 1, 8);
  std::vector<std::uint8_t> Out(static_cast<std::size_t>(3) << Bits, 0);
  if (FCount > 0) std::memcpy(Out.data(), FTable.data(), static_cast<std::size_t>(FCount) * 3);
  Stream->WriteBuffer(Out.data(), static_cast<std::int64_t>(Out.size()));
}

void TGIFColorMap::ReadFromStream(TStream* Stream, int Count) {
  Clear();
  Count = std::clamp(Count, 0, 256);
  EnsureCapacity(Count);
  StreamReadExact(Stream, FTable.data(), static_cast<std::int64_t>(Count) * 3);
  FCount = Count;
}

void TGIFColorMap::EnsureCapacity(int Count) {
  if (Count < FCapacity) return;
  int NewCapacity = Count <= 16 ? 16 : (Count + 31) / 32 * 32;
  NewCapacity = std::min(NewCapacity, 256);
  FCapacity = NewCapacity;
  FTable.resize(static_cast<std::size_t>(NewCapacity) * 3, 0);
}

int TGIFColorMap::FindColor(TColor Color) const {
  const TGIFColor T = ColorToTriple(Color);
  auto Match = [&](int i) {
    const std::uint8_t* E = &FTable[static_cast<std::size_t>(i) * 3];
    return E[0] == T.Red && E[1] == T.Green && E[2] == T.Blue;
  };
  if (FSorted) {
    for (int i = 0; i < FCount; ++i)
      if (Match(i)) return i;
  } else {
    for (int i = FCount - 1; i >= 0; --i)
      if (Match(i)) return i;
  }
  return -1;
}

int TGIFColorMap::AddColor(TColor Color) {
  if (FCount >= 256) RaiseGIFError("Color table overflow");
  if (FCount >= FCapacity) EnsureCapacity(FCount + 1);
  const TGIFColor T = ColorToTriple(Color);
  std::uint8_t* E = &FTable[static_cast<std::size_t>(FCount) * 3];
  E[0] = T.Red;
  E[1] = T.Green;
  E[2] = T.Blue;
  const int Index = FCount++;
  FSorted = false;
  Changed();
  return Index;
}

int TGIFColorMap::AddIfMissing(TColor Color) {
  const int Index = FindColor(Color);
  return Index >= 0 ? Index : AddColor(Color);
}

void TGIFColorMap::DeleteColor(int Index) {
  if (Index < 0 || Index >= FCount) RaiseGIFError("Invalid color index");
  std::memmove(&FTable[static_cast<std::size_t>(Index) * 3], &FTable[static_cast<std::size_t>(Index + 1) * 3],
               static_cast<std::size_t>(FCount - Index - 1) * 3);
  --FCount;
  FSorted = false;
  Changed();
}

TColor TGIFColorMap::ColorAt(int Index) {
  if (Index < 0 || Index >= FCount) {
    ReportWarning(1, "Invalid color index");
    if (FCount == 0) RaiseGIFError("Color table is empty");
    Index = 0;
  }
  const std::uint8_t* E = &FTable[static_cast<std::size_t>(Index) * 3];
  return TripleToColor(TGIFColor{E[0], E[1], E[2]});
}

void TGIFColorMap::PadWithBlack(int Count) {
  Count = std::min(Count, 256);
  if (Count <= FCount) return;
  EnsureCapacity(Count);
  std::memset(&FTable[static_cast<std::size_t>(FCount) * 3], 0, static_cast<std::size_t>(Count - FCount) * 3);
  FCount = Count;
  Changed();
}

void TGIFColorMap::SwapRedBlue() {
  for (int i = 0; i < FCount; ++i) std::swap(FTable[static_cast<std::size_t>(i) * 3], FTable[static_cast<std::size_t>(i) * 3 + 2]);
  if (FCount > 0) Changed();
}

void TGIFColorMap::LoadFromPalette(HPALETTE Palette) {
  Clear();
  PALETTEENTRY Entries[256];
  const UINT N = Palette ? GetPaletteEntries(Palette, 0, 256, Entries) : 0;
  if (N == 0) return;
  const int Count = static_cast<int>(std::min<UINT>(N, 256));
  EnsureCapacity(Count);
  for (int i = 0; i < Count; ++i) {
    FTable[i * 3] = Entries[i].peRed;
    FTable[i * 3 + 1] = Entries[i].peGreen;
    FTable[i * 3 + 2] = Entries[i].peBlue;
  }
  FCount = Count;
  Changed();
}

void TGIFColorMap::LoadFromColorTable(const RGBQUAD* Entries, int Count) {
  Clear();
  Count = std::clamp(Count, 0, 256);
  if (Count == 0) return;
  EnsureCapacity(Count);
  for (int i = 0; i < Count; ++i) {
    FTable[i * 3] = Entries[i].rgbRed;
    FTable[i * 3 + 1] = Entries[i].rgbGreen;
    FTable[i * 3 + 2] = Entries[i].rgbBlue;
  }
  FCount = Count;
  Changed();
}

void TGIFColorMap::LoadFromDIBColors(HDC DC) {
  Clear();
  std::vector<RGBQUAD> Buffer(256);
  const UINT N = GetDIBColorTable(DC, 0, 256, Buffer.data());
  LoadFromColorTable(Buffer.data(), static_cast<int>(std::min<UINT>(N, 256)));
  Changed();
}

HPALETTE TGIFColorMap::CreatePaletteHandle() const {
  if (FCount == 0) return nullptr;
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * static_cast<std::size_t>(FCount));
  auto* Pal = reinterpret_cast<LOGPALETTE*>(Block.data());
  Pal->palVersion = 0x300;
  Pal->palNumEntries = static_cast<WORD>(FCount);
  PALETTEENTRY* E = Pal->palPalEntry;
  for (int i = 0; i < FCount; ++i) {
    E[i].peRed = FTable[i * 3];
    E[i].peGreen = FTable[i * 3 + 1];
    E[i].peBlue = FTable[i * 3 + 2];
    E[i].peFlags = PC_NOCOLLAPSE;
  }
  return CreatePalette(Pal);
}

namespace {

// Quicksort on the use counts, largest first; equal counts end in the order this produces.
void SortByUse(TColormapHistogram& H, int L, int R) {
  int I;
  do {
    I = L;
    int J = R;
    const std::int32_t Pivot = H[(L + R) / 2].Count;
    do {
      while (H[I].Count > Pivot) ++I;
      while (H[J].Count < Pivot) --J;
      if (I <= J) {
        std::swap(H[I], H[J]);
        ++I;
        --J;
      }
    } while (I <= J);
    if (L < J) SortByUse(H, L, J);
    L = I;
  } while (I < R);
}

}  // namespace

bool TGIFColorMap::DoOptimize() {
  if (FCount <= 1) return false;
  FSorted = true;
  TColormapHistogram H;
  BuildHistogram(H);
  // Pixels (or a transparent index) at or beyond the count take black entries of their own,
  // so that every pixel keeps an entry.
  int N = FCount;
  for (int i = 255; i >= FCount; --i)
    if (H[i].Count > 0) {
      N = i + 1;
      break;
    }
  SortByUse(H, 0, N - 1);
  bool InOrder = true;
  for (int i = 0; i < N; ++i)
    if (H[i].Index != i) {
      InOrder = false;
      break;
    }
  if (InOrder) {
    if (N > FCount) PadWithBlack(N);
    return true;
  }
  TColormapReverse Remap;
  for (int i = 0; i < 256; ++i) Remap[i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < N; ++i) Remap[H[i].Index] = static_cast<std::uint8_t>(i);
  if (N > FCount) {
    EnsureCapacity(N);
    std::memset(&FTable[static_cast<std::size_t>(FCount) * 3], 0, static_cast<std::size_t>(N - FCount) * 3);
    FCount = N;
  }
  Reorder(Remap);
  for (int i = 0; i < N; ++i)
    if (H[i].Count == 0) {
      FCount = i;
      Changed();
      break;
    }
  return true;
}

void TGIFColorMap::Reorder(const TColormapReverse& Remap) {
  ApplyRemap(Remap);
  const std::vector<std::uint8_t> Old(FTable.begin(), FTable.begin() + static_cast<std::ptrdiff_t>(FCount) * 3);
  for (int i = 0; i < FCount; ++i)
    std::memcpy(&FTable[static_cast<std::size_t>(Remap[static_cast<std::size_t>(i)]) * 3], &Old[static_cast<std::size_t>(i) * 3], 3);
  Changed();
}

void TGIFColorMap::Assign(TPersistent* Source) {
  if (auto* Map = dynamic_cast<TGIFColorMap*>(Source)) {
    if (Map == this) return;
    Clear();
    FCapacity = Map->FCapacity;
    FCount = Map->FCount;
    FSorted = Map->FSorted;
    FTable.assign(static_cast<std::size_t>(FCapacity) * 3, 0);
    if (FCount > 0) std::memcpy(FTable.data(), Map->FTable.data(), static_cast<std::size_t>(FCount) * 3);
    Changed();
    return;
  }
  TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------------------------

namespace {

void ClearHistogram(TColormapHistogram& H) {
  for (int i = 0; i < 256; ++i) H[i] = TUsageCount{0, i};
}

void CountFrame(TColormapHistogram& H, TGIFSubImage* Frame) {
  if (Frame->IsEmpty()) return;
  std::array<std::int64_t, 256> Counts{};
  const std::uint8_t* P = Frame->Data();
  const std::int64_t Size = Frame->DataSize();
  for (std::int64_t i = 0; i < Size; ++i) ++Counts[P[i]];
  if (Frame->Transparent() && Frame->GraphicControlExtension())
    ++Counts[Frame->GraphicControlExtension()->TransparentIndex()];
  for (int i = 0; i < 256; ++i)
    H[i].Count = static_cast<std::int32_t>(std::min<std::int64_t>(H[i].Count + Counts[i], INT32_MAX));
}

void RemapFrame(const TColormapReverse& Remap, TGIFSubImage* Frame) {
  if (!Frame->IsEmpty()) {
    std::uint8_t* P = Frame->Data();
    const std::int64_t Size = Frame->DataSize();
    for (std::int64_t i = 0; i < Size; ++i) P[i] = Remap[P[i]];
  }
  if (Frame->Transparent() && Frame->GraphicControlExtension()) {
    TGIFGraphicControlExtension* GCE = Frame->GraphicControlExtension();
    GCE->SetTransparentIndexRaw(Remap[GCE->TransparentIndex()]);
  }
}

}  // namespace

TGIFGlobalColorMap::~TGIFGlobalColorMap() {
  Clear();
  Changed();
}

TGIFImage* TGIFGlobalColorMap::Image() const { return FHeader ? FHeader->Image() : nullptr; }

void TGIFGlobalColorMap::ReportWarning(int Severity, const std::string& Message) {
  if (TGIFImage* Img = Image()) Img->ReportWarning(this, Severity, Message);
}

void TGIFGlobalColorMap::BuildHistogram(TColormapHistogram& Histogram) {
  ClearHistogram(Histogram);
  TGIFImage* Img = Image();
  if (!Img) return;
  for (int i = 0; i < Img->Images().Count(); ++i) {
    TGIFSubImage* Frame = Img->Images().FrameAt(i);
    if (Frame->EffectiveColorMap() == this) CountFrame(Histogram, Frame);
  }
  // The header's background colour is a use of its entry too: it must survive the trimming.
  if (FHeader && FHeader->BackgroundColorIndex() < Count()) {
    TUsageCount& Background = Histogram[FHeader->BackgroundColorIndex()];
    if (Background.Count < INT32_MAX) ++Background.Count;
  }
}

void TGIFGlobalColorMap::ApplyRemap(const TColormapReverse& Remap) {
  TGIFImage* Img = Image();
  if (!Img) return;
  for (int i = 0; i < Img->Images().Count(); ++i) {
    TGIFSubImage* Frame = Img->Images().FrameAt(i);
    if (Frame->EffectiveColorMap() == this) RemapFrame(Remap, Frame);
  }
  if (FHeader && FHeader->BackgroundColorIndex() < Count())
    FHeader->SetBackgroundColorIndex(Remap[FHeader->BackgroundColorIndex()]);
}

bool TGIFGlobalColorMap::Optimize() {
  TGIFImage* Img = Image();
  if (!Img || Img->Images().Count() == 0) return false;
  return DoOptimize();
}

void TGIFGlobalColorMap::Changed() {
  TGIFImage* Img = Image();
  if (!Img) return;
  Img->SetPalette(nullptr);
  // Frames on this map keep a palette made from it: it is outdated now.
  for (int i = 0; i < Img->Images().Count(); ++i) {
    TGIFSubImage* Frame = Img->Images().FrameAt(i);
    if (Frame->ColorMap()->Count() == 0) Frame->SetPaletteHandle(nullptr);
  }
}

TGIFLocalColorMap::~TGIFLocalColorMap() {
  Clear();
  Changed();
}

void TGIFLocalColorMap::ReportWarning(int Severity, const std::string& Message) {
  if (FFrame && FFrame->Image()) FFrame->Image()->ReportWarning(this, Severity, Message);
}

void TGIFLocalColorMap::BuildHistogram(TColormapHistogram& Histogram) {
  ClearHistogram(Histogram);
  if (FFrame) CountFrame(Histogram, FFrame);
}

void TGIFLocalColorMap::ApplyRemap(const TColormapReverse& Remap) {
  if (FFrame) RemapFrame(Remap, FFrame);
}

bool TGIFLocalColorMap::Optimize() { return DoOptimize(); }

void TGIFLocalColorMap::Changed() {
  if (FFrame) FFrame->SetPaletteHandle(nullptr);
}

}  // namespace gif
