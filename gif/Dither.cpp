#include "gif/Dither.h"

#include <algorithm>
#include <cstdlib>

namespace gif {

namespace {

inline std::uint8_t ClampByte(std::int32_t V) { return static_cast<std::uint8_t>(std::clamp(V, 0, 255)); }

inline int CellKey(int Red, int Green, int Blue) { return (Red >> 3) | ((Green >> 3) << 5) | ((Blue >> 3) << 10); }

inline int Square(int V) { return V * V; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lookups

TFastColorLookup::TFastColorLookup(HPALETTE Palette) : FCellStart(32768, -1), FCellCount(32768, 0) {
  const UINT N = Palette ? GetPaletteEntries(Palette, 0, 256, FEntries.data()) : 0;
  FColors = static_cast<int>(std::min<UINT>(N, 256));
}

void TFastColorLookup::BuildCell(int Key) {
  // Whatever colour of the cell is asked, its nearest entry lies no farther than the entry whose
  // farthest point of the cell is nearest (Reach); an entry whose nearest point of the cell is
  // beyond Reach can never be chosen. Distances are squared.
  const int Low[3] = {(Key & 31) << 3, ((Key >> 5) & 31) << 3, ((Key >> 10) & 31) << 3};
  std::array<int, 256> Near{};
  int Reach = 196608;
  for (int i = 0; i < FColors; ++i) {
    const int V[3] = {FEntries[i].peRed, FEntries[i].peGreen, FEntries[i].peBlue};
    int Min = 0, Max = 0;
    for (int c = 0; c < 3; ++c) {
      const int Lo = Low[c], Hi = Low[c] + 7;
      Min += Square(V[c] < Lo ? Lo - V[c] : (V[c] > Hi ? V[c] - Hi : 0));
      Max += Square(std::max(std::abs(V[c] - Lo), std::abs(V[c] - Hi)));
    }
    Near[static_cast<std::size_t>(i)] = Min;
    Reach = std::min(Reach, Max);
  }
  FCellStart[static_cast<std::size_t>(Key)] = static_cast<std::int32_t>(FCandidates.size());
  for (int i = 0; i < FColors; ++i)
    if (Near[static_cast<std::size_t>(i)] <= Reach) FCandidates.push_back(static_cast<std::uint8_t>(i));
  FCellCount[static_cast<std::size_t>(Key)] =
      static_cast<std::uint16_t>(FCandidates.size() - static_cast<std::size_t>(FCellStart[static_cast<std::size_t>(Key)]));
}

std::uint8_t TFastColorLookup::LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                           std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const std::uint32_t Color = Red | (Green << 8) | (static_cast<std::uint32_t>(Blue) << 16);
  if (Color != FLastColor && FColors > 0) {
    const int Key = CellKey(Red, Green, Blue);
    if (FCellStart[static_cast<std::size_t>(Key)] < 0) BuildCell(Key);
    const std::uint8_t* C = FCandidates.data() + FCellStart[static_cast<std::size_t>(Key)];
    const int Count = FCellCount[static_cast<std::size_t>(Key)];
    int Best = 196608, Index = 0;
    for (int k = 0; k < Count; ++k) {
      const PALETTEENTRY& E = FEntries[C[k]];
      const int D = Square(E.peRed - Red) + Square(E.peGreen - Green) + Square(E.peBlue - Blue);
      if (D < Best) {
        Best = D;
        Index = C[k];
      }
    }
    FLastColor = Color;
    FLastIndex = static_cast<std::uint8_t>(Index);
  } else if (FColors == 0) {
    FLastIndex = 0;
  }
  const PALETTEENTRY& E = FEntries[FLastIndex];
  OutRed = E.peRed;
  OutGreen = E.peGreen;
  OutBlue = E.peBlue;
  return FLastIndex;
}

std::uint8_t TNetscapeColorLookup::LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                               std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const int R = (Red + 3) / 51, G = (Green + 3) / 51, B = (Blue + 3) / 51;
  OutRed = static_cast<std::uint8_t>(R * 51);
  OutGreen = static_cast<std::uint8_t>(G * 51);
  OutBlue = static_cast<std::uint8_t>(B * 51);
  return static_cast<std::uint8_t>(36 * R + 6 * G + B);
}

std::uint8_t TGrayScaleLookup::LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                           std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const auto Y = static_cast<std::uint8_t>((77 * Red + 150 * Green + 29 * Blue) >> 8);
  OutRed = OutGreen = OutBlue = Y;
  return Y;
}

std::uint8_t TMonochromeLookup::LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                            std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const int S = 77 * Red + 150 * Green + 29 * Blue;
  const bool White = S > 32512;
  OutRed = OutGreen = OutBlue = White ? 255 : 0;
  return White ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Nearest colour

TDitherEngine::TDitherEngine(int Width, TColorLookup* Lookup) : FLookup(Lookup), FWidth(std::max(Width, 0)) {}

std::uint8_t TDitherEngine::DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                                        std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const std::uint8_t Index = FLookup->LookupIndex(Red, Green, Blue, OutRed, OutGreen, OutBlue);
  AdvanceColumn();
  return Index;
}

void TDitherEngine::AdvanceRow() {
  FDirection = -FDirection;
  FColumn = FDirection > 0 ? 0 : FWidth - 1;
}

// ---------------------------------------------------------------------------------------------
// Floyd-Steinberg

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int Width, TColorLookup* Lookup)
    : TDitherEngine(Width, Lookup),
      FCurrent(3 * (static_cast<std::size_t>(FWidth) + 2), 0),
      FBelow(3 * (static_cast<std::size_t>(FWidth) + 2), 0) {}

std::uint8_t TFloydSteinbergDitherer::DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                                  std::uint8_t& OutRed, std::uint8_t& OutGreen,
                                                  std::uint8_t& OutBlue) {
  const std::int64_t At = (static_cast<std::int64_t>(FColumn) + 1) * 3;
  const std::int64_t Ahead = FDirection * 3;
  const std::int32_t* Here = FCurrent.data() + At;
  const std::uint8_t Value[3] = {ClampByte(Red + DivideError(Here[0] + FCarry[0], 16)),
                                 ClampByte(Green + DivideError(Here[1] + FCarry[1], 16)),
                                 ClampByte(Blue + DivideError(Here[2] + FCarry[2], 16))};
  const std::uint8_t Index = TDitherEngine::DitherPixel(Value[0], Value[1], Value[2], OutRed, OutGreen, OutBlue);
  const std::uint8_t Out[3] = {OutRed, OutGreen, OutBlue};
  std::int32_t* Below = FBelow.data() + At;
  for (int c = 0; c < 3; ++c) {
    const std::int32_t E = Value[c] - Out[c];
    FCarry[static_cast<std::size_t>(c)] = 7 * E;
    Below[c - Ahead] += 3 * E;
    Below[c] += 5 * E;
    Below[c + Ahead] += E;
  }
  return Index;
}

void TFloydSteinbergDitherer::AdvanceColumn() {
  FCarry.fill(0);
  TDitherEngine::AdvanceColumn();
}

void TFloydSteinbergDitherer::AdvanceRow() {
  std::swap(FCurrent, FBelow);
  std::fill(FBelow.begin(), FBelow.end(), 0);
  FCarry.fill(0);
  TDitherEngine::AdvanceRow();
}

// ---------------------------------------------------------------------------------------------
// Kernels over several rows

TKernelDitherer::TKernelDitherer(int Width, TColorLookup* Lookup, int Rows, int Margin, int Divisor,
                                 std::vector<Cell> Kernel)
    : TDitherEngine(Width, Lookup), FRows(Rows), FMargin(Margin), FDivisor(Divisor), FKernel(std::move(Kernel)) {
  for (auto& Channel : FErrors)
    Channel.assign(static_cast<std::size_t>(FRows),
                   std::vector<std::int32_t>(static_cast<std::size_t>(FWidth) + 2 * static_cast<std::size_t>(FMargin), 0));
}

std::uint8_t TKernelDitherer::DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                          std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const std::int64_t Pos = static_cast<std::int64_t>(FColumn) + FMargin;
  const std::int64_t Direction = FDirection;
  const std::uint8_t In[3] = {Red, Green, Blue};
  std::uint8_t Value[3];
  for (int c = 0; c < 3; ++c)
    Value[c] = ClampByte(In[c] + DivideError(FErrors[c][0][static_cast<std::size_t>(Pos)], FDivisor));
  const std::uint8_t Index = TDitherEngine::DitherPixel(Value[0], Value[1], Value[2], OutRed, OutGreen, OutBlue);
  const std::uint8_t Out[3] = {OutRed, OutGreen, OutBlue};
  for (int c = 0; c < 3; ++c) {
    const std::int32_t E = Value[c] - Out[c];
    if (E == 0) continue;
    auto& Rows = FErrors[c];
    for (const Cell& K : FKernel)
      Rows[static_cast<std::size_t>(K.Row)][static_cast<std::size_t>(Pos + K.Column * Direction)] += E * K.Weight;
  }
  return Index;
}

void TKernelDitherer::AdvanceRow() {
  for (auto& Rows : FErrors) {
    std::fill(Rows[0].begin(), Rows[0].end(), 0);
    std::rotate(Rows.begin(), Rows.begin() + 1, Rows.end());
  }
  TDitherEngine::AdvanceRow();
}

TStuckiDitherer::TStuckiDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 3, 2, 42,
                      {{0, 1, 8}, {0, 2, 4},                                              //
                       {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},          //
                       {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}) {}

TSierraDitherer::TSierraDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 3, 2, 32,
                      {{0, 1, 5}, {0, 2, 3},                                              //
                       {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},          //
                       {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}) {}

TJaJuNiDitherer::TJaJuNiDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 3, 2, 48,
                      {{0, 1, 7}, {0, 2, 5},                                              //
                       {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},          //
                       {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}) {}

TSteveArcheDitherer::TSteveArcheDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 4, 3, 200,
                      {{0, 2, 32},                                                        //
                       {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16},                 //
                       {2, -2, 12}, {2, 0, 26}, {2, 2, 12},                              //
                       {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}) {}

TBurkesDitherer::TBurkesDitherer(int Width, TColorLookup* Lookup)
    : TKernelDitherer(Width, Lookup, 2, 2, 32,
                      {{0, 1, 8}, {0, 2, 4},                                              //
                       {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}) {}

}  // namespace gif
