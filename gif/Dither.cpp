#include "gif/Dither.h"

#include <algorithm>
#include <cstdlib>

namespace gif {

namespace {

inline std::uint8_t ClampByte(std::int32_t V) { return static_cast<std::uint8_t>(std::clamp(V, 0, 255)); }

inline int CellKey(int Red, int Green, int Blue) { return (Red >> 3) | ((Green >> 3) << 5) | ((Blue >> 3) << 10); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Lookups

TFastColorLookup::TFastColorLookup(HPALETTE Palette) : FInverse(32768, -1) {
  const UINT N = Palette ? GetPaletteEntries(Palette, 0, 256, FEntries.data()) : 0;
  FColors = static_cast<int>(std::min<UINT>(N, 256));
  for (int i = 0; i < FColors; ++i) {
    const int Key = CellKey(FEntries[i].peRed, FEntries[i].peGreen, FEntries[i].peBlue);
    if (FInverse[Key] < 0) FInverse[Key] = static_cast<std::int16_t>(i);
  }
}

std::uint8_t TFastColorLookup::LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                           std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const int Key = CellKey(Red, Green, Blue);
  int Index = FInverse[Key];
  if (Index < 0) {
    Index = 0;
    int Best = 196608;
    for (int i = 0; i < FColors; ++i) {
      const PALETTEENTRY& E = FEntries[i];
      const int D = std::abs(E.peRed - Red) + std::abs(E.peGreen - Green) + std::abs(E.peBlue - Blue);
      if (D < Best) {
        Best = D;
        Index = i;
      }
    }
    FInverse[Key] = static_cast<std::int16_t>(Index);
  }
  OutRed = FEntries[Index].peRed;
  OutGreen = FEntries[Index].peGreen;
  OutBlue = FEntries[Index].peBlue;
  return static_cast<std::uint8_t>(Index);
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

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int Width, TColorLookup* Lookup) : TDitherEngine(Width, Lookup) {
  for (Channel& C : FChannels) C.Errors.assign(static_cast<std::size_t>(FWidth) + 2, 0);
}

std::uint8_t TFloydSteinbergDitherer::DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                                  std::uint8_t& OutRed, std::uint8_t& OutGreen,
                                                  std::uint8_t& OutBlue) {
  const std::uint8_t In[3] = {Red, Green, Blue};
  std::uint8_t Value[3];
  for (int c = 0; c < 3; ++c) {
    const Channel& C = FChannels[c];
    Value[c] = ClampByte(In[c] + (C.Errors[static_cast<std::size_t>(FPos)] + C.Carry + 8) / 16);
  }
  const std::uint8_t Index = TDitherEngine::DitherPixel(Value[0], Value[1], Value[2], OutRed, OutGreen, OutBlue);
  const std::uint8_t Out[3] = {OutRed, OutGreen, OutBlue};
  for (int c = 0; c < 3; ++c) {
    Channel& C = FChannels[c];
    const std::int32_t E = Value[c] - Out[c];
    if (E != 0) {
      C.Errors[static_cast<std::size_t>(FPos)] = C.BelowPrevious + 3 * E;
      C.BelowPrevious = C.Below + 5 * E;
      C.Below = E;
      C.Carry = 7 * E;
    } else {
      C.Carry = 0;
    }
  }
  FPos += FDirection;
  return Index;
}

void TFloydSteinbergDitherer::AdvanceRow() {
  // The walk ends one entry beyond its last pixel, which is still inside the spare entries.
  for (Channel& C : FChannels) {
    if (FPos >= 0 && FPos < static_cast<std::int64_t>(C.Errors.size()))
      C.Errors[static_cast<std::size_t>(FPos)] = C.BelowPrevious;
    C.Carry = C.Below = C.BelowPrevious = 0;
  }
  TDitherEngine::AdvanceRow();
  FPos = FDirection > 0 ? 0 : FWidth + 1;
}

// ---------------------------------------------------------------------------------------------
// Kernels over several rows

TKernelDitherer::TKernelDitherer(int Width, TColorLookup* Lookup, int Rows, int Margin, int Divisor,
                                 std::vector<Cell> Kernel)
    : TDitherEngine(Width, Lookup), FRows(Rows), FMargin(Margin), FDivisor(Divisor), FKernel(std::move(Kernel)) {
  for (auto& Channel : FErrors)
    Channel.assign(static_cast<std::size_t>(FRows),
                   std::vector<std::int32_t>(static_cast<std::size_t>(FWidth) + 2 * static_cast<std::size_t>(FMargin), 0));
  FPos = FMargin;
}

std::uint8_t TKernelDitherer::DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue,
                                          std::uint8_t& OutRed, std::uint8_t& OutGreen, std::uint8_t& OutBlue) {
  const std::uint8_t In[3] = {Red, Green, Blue};
  const std::int32_t Half = FDivisor / 2;
  std::uint8_t Value[3];
  for (int c = 0; c < 3; ++c)
    Value[c] = ClampByte(In[c] + (FErrors[c][0][static_cast<std::size_t>(FPos)] + Half) / FDivisor);
  const std::uint8_t Index = TDitherEngine::DitherPixel(Value[0], Value[1], Value[2], OutRed, OutGreen, OutBlue);
  const std::uint8_t Out[3] = {OutRed, OutGreen, OutBlue};
  for (int c = 0; c < 3; ++c) {
    const std::int32_t E = Value[c] - Out[c];
    if (E == 0) continue;
    auto& Rows = FErrors[c];
    for (const Cell& K : FKernel)
      Rows[static_cast<std::size_t>(K.Row)][static_cast<std::size_t>(FPos + K.Column * FDirection)] += E * K.Weight;
  }
  FPos += FDirection;
  return Index;
}

void TKernelDitherer::AdvanceRow() {
  for (auto& Rows : FErrors) {
    std::fill(Rows[0].begin(), Rows[0].end(), 0);
    std::rotate(Rows.begin(), Rows.begin() + 1, Rows.end());
  }
  TDitherEngine::AdvanceRow();
  FPos = FDirection > 0 ? FMargin : FMargin + FWidth - 1;
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
