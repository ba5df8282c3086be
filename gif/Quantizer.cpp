#include "gif/Quantizer.h"

#include <algorithm>
#include <vector>

#include "gif/Utils.h"

namespace gif {

// One cube of the colour space. The sums are 64-bit: a leaf may gather more pixels than
// 32 bits can sum (a picture of more than 8.4 million pixels of one bright colour).
class TOctreeNode {
 public:
  TOctreeNode(int Level, int ColorBits, int& LeafCount, std::array<TOctreeNode*, 9>& Reducible)
      : Leaf(Level == ColorBits) {
    if (Leaf) {
      ++LeafCount;
    } else {
      Next = Reducible[static_cast<std::size_t>(Level)];
      Reducible[static_cast<std::size_t>(Level)] = this;
    }
  }
  ~TOctreeNode() {
    for (int i = 7; i >= 0; --i) Children[i].reset();
  }

  bool Leaf;
  std::int64_t PixelCount{0};
  std::int64_t RedSum{0}, GreenSum{0}, BlueSum{0};
  TOctreeNode* Next{nullptr};
  std::unique_ptr<TOctreeNode> Children[8];
};

namespace {

constexpr std::uint8_t kMask[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

void CollectLeafColors(const TOctreeNode* Node, RGBQUAD* Entries, int Capacity, int& Index) {
  if (!Node) return;
  if (Node->Leaf) {
    if (Index >= Capacity) return;
    RGBQUAD& E = Entries[Index++];
    if (Node->PixelCount != 0) {
      E.rgbBlue = static_cast<BYTE>(Node->BlueSum / Node->PixelCount);
      E.rgbGreen = static_cast<BYTE>(Node->GreenSum / Node->PixelCount);
      E.rgbRed = static_cast<BYTE>(Node->RedSum / Node->PixelCount);
    } else {
      E.rgbBlue = E.rgbGreen = E.rgbRed = 0;
    }
    E.rgbReserved = 0;
    return;
  }
  for (const auto& Child : Node->Children) CollectLeafColors(Child.get(), Entries, Capacity, Index);
}

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& Entries) {
  std::vector<std::uint8_t> Block(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY) * Entries.size());
  auto* Pal = reinterpret_cast<LOGPALETTE*>(Block.data());
  Pal->palVersion = 0x300;
  Pal->palNumEntries = static_cast<WORD>(Entries.size());
  std::copy(Entries.begin(), Entries.end(), Pal->palPalEntry);
  return CheckGDIResult(CreatePalette(Pal));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TColorQuantizer

TColorQuantizer::TColorQuantizer(int MaxColors, int ColorBits)
    : FMaxColors(std::max(MaxColors, 1)), FColorBits(std::clamp(ColorBits, 1, 8)) {}

TColorQuantizer::~TColorQuantizer() { FTree.reset(); }

bool TColorQuantizer::AddBitmap(TDIBReader* Reader) {
  TBitmap* Bitmap = Reader->Bitmap();
  const int Height = Bitmap->Height();
  const int Width = Bitmap->Width();
  for (int y = 0; y < Height; ++y) {
    const auto* P = static_cast<const std::uint8_t*>(Reader->GetScanline(y));
    for (int x = 0; x < Width; ++x, P += 3) AddColor(P[2], P[1], P[0]);
  }
  return true;
}

void TColorQuantizer::AddColor(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue) {
  InsertColor(FTree, Red, Green, Blue, 0);
  while (FLeafCount > FMaxColors)
    if (!MergeDeepestNode()) break;
}

void TColorQuantizer::InsertColor(std::unique_ptr<TOctreeNode>& Node, std::uint8_t Red, std::uint8_t Green,
                                  std::uint8_t Blue, int Level) {
  TOctreeNode* N = nullptr;
  std::unique_ptr<TOctreeNode>* Ref = &Node;
  for (;;) {
    if (!*Ref) *Ref = std::make_unique<TOctreeNode>(Level, FColorBits, FLeafCount, FReducible);
    N = Ref->get();
    if (N->Leaf) break;
    const int Shift = 7 - Level;
    const std::uint8_t M = kMask[Level];
    const int Index = (((Red & M) >> Shift) << 2) | (((Green & M) >> Shift) << 1) | ((Blue & M) >> Shift);
    Ref = &N->Children[Index];
    ++Level;
  }
  ++N->PixelCount;
  N->RedSum += Red;
  N->GreenSum += Green;
  N->BlueSum += Blue;
}

bool TColorQuantizer::MergeDeepestNode() {
  int Level = FColorBits - 1;
  while (Level > 0 && !FReducible[static_cast<std::size_t>(Level)]) --Level;
  TOctreeNode* Node = FReducible[static_cast<std::size_t>(Level)];
  if (!Node) return false;
  FReducible[static_cast<std::size_t>(Level)] = Node->Next;
  Node->Next = nullptr;
  std::int64_t Red = 0, Green = 0, Blue = 0;
  int Merged = 0;
  for (auto& Child : Node->Children) {
    if (!Child) continue;
    Node->PixelCount += Child->PixelCount;
    Red += Child->RedSum;
    Green += Child->GreenSum;
    Blue += Child->BlueSum;
    Child.reset();
    ++Merged;
  }
  Node->Leaf = true;
  Node->RedSum = Red;
  Node->GreenSum = Green;
  Node->BlueSum = Blue;
  FLeafCount -= Merged - 1;
  return true;
}

int TColorQuantizer::FillPalette(RGBQUAD* Entries, int Capacity) const {
  int Index = 0;
  CollectLeafColors(FTree.get(), Entries, Capacity, Index);
  return Index;
}

// ---------------------------------------------------------------------------------------------
// Palettes

HPALETTE OctreePalette(TDIBReader* Reader, int Count, int ColorBits, bool WithSystemColors) {
  // The quantized colours fill a 256-entry table: a larger count would overrun it.
  Count = std::clamp(Count, 1, 256);
  std::vector<PALETTEENTRY> Entries(static_cast<std::size_t>(WithSystemColors ? 256 : Count));
  int Start = 0;
  if (WithSystemColors) {
    PALETTEENTRY System[20];
    const UINT N = GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, System);
    for (UINT i = 0; i < N && i < 20; ++i) Entries[i < 10 ? i : 236 + i] = System[i];
    Count = 236;
    Start = 10;
  }
  std::array<RGBQUAD, 256> Colors{};
  {
    TColorQuantizer Quantizer(Count, ColorBits);
    Quantizer.AddBitmap(Reader);
    Quantizer.FillPalette(Colors.data(), 256);
  }
  for (int c = 0; c < Count; ++c) {
    PALETTEENTRY& E = Entries[static_cast<std::size_t>(Start + c)];
    E.peRed = Colors[static_cast<std::size_t>(c)].rgbRed;
    E.peGreen = Colors[static_cast<std::size_t>(c)].rgbGreen;
    E.peBlue = Colors[static_cast<std::size_t>(c)].rgbBlue;
    E.peFlags = 0;
  }
  return MakePalette(Entries);
}

HPALETTE OptimizedPaletteForBitmap(TBitmap* Bitmap, int Count, int ColorBits, bool WithSystemColors) {
  TDIBReader Reader(Bitmap, pf24bit);
  return OctreePalette(&Reader, Count, ColorBits, WithSystemColors);
}

HPALETTE WebSafePalette() {
  std::vector<PALETTEENTRY> E(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        E[static_cast<std::size_t>(36 * r + 6 * g + b)] =
            PALETTEENTRY{static_cast<BYTE>(51 * r), static_cast<BYTE>(51 * g), static_cast<BYTE>(51 * b), 0};
  return MakePalette(E);
}

HPALETTE Gray256Palette() {
  std::vector<PALETTEENTRY> E(256);
  for (int i = 0; i < 256; ++i) {
    const auto V = static_cast<BYTE>(i);
    E[static_cast<std::size_t>(i)] = PALETTEENTRY{V, V, V, PC_NOCOLLAPSE};
  }
  return MakePalette(E);
}

HPALETTE BlackWhitePalette() {
  return MakePalette({PALETTEENTRY{0, 0, 0, PC_NOCOLLAPSE}, PALETTEENTRY{255, 255, 255, PC_NOCOLLAPSE}});
}

HPALETTE Gray4Palette() {
  std::vector<PALETTEENTRY> E;
  for (BYTE V : {BYTE{0}, BYTE{128}, BYTE{192}, BYTE{255}}) E.push_back(PALETTEENTRY{V, V, V, PC_NOCOLLAPSE});
  return MakePalette(E);
}

HPALETTE HalftonePalette() {
  HDC DC = CheckGDIResult(GetDC(nullptr));
  HPALETTE Palette = nullptr;
  try {
    Palette = CheckGDIResult(CreateHalftonePalette(DC));
  } catch (...) {
    ReleaseDC(nullptr, DC);
    throw;
  }
  ReleaseDC(nullptr, DC);
  return Palette;
}

HPALETTE CopyPalette(HPALETTE Palette) {
  if (!Palette) return nullptr;
  WORD Count = 0;
  if (GetObject(Palette, sizeof(Count), &Count) == 0 || Count == 0) return nullptr;
  std::vector<PALETTEENTRY> E(Count);
  const UINT N = GetPaletteEntries(Palette, 0, Count, E.data());
  E.resize(N);
  if (E.empty()) return nullptr;
  return MakePalette(E);
}

}  // namespace gif
