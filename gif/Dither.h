#pragma once
// Colour lookups (a colour to the index of a palette entry) and dithering engines that walk a
// picture in serpentine order, spreading the quantisation error over pixels not yet visited.
//
// Protocol, per picture: create the lookup, create the engine with the picture width; for each
// row from the top, while 0 <= Column() < width pass the pixel at Column() to DitherPixel (which
// advances the column) and store the index at that column; then AdvanceRow. Free the engine,
// then the lookup (the engine does not own it).
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/rtl/SysUtils.h"

namespace gif {

class TColorLookup : public TObject {
 public:
  TColorLookup() = default;
  ~TColorLookup() override = default;
  TColorLookup(const TColorLookup&) = delete;
  TColorLookup& operator=(const TColorLookup&) = delete;

  // The palette index for the colour; the out values receive that entry's colour.
  virtual std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                                   std::uint8_t& OutGreen, std::uint8_t& OutBlue) = 0;
  // Entries this lookup can return; 0: no palette, not to be used.
  int ColorCount() const { return FColors; }

 protected:
  int FColors{0};
};

// Nearest entry of a palette by the distance in the colour cube (the sum of the squared channel
// differences, which a dithered picture's error is measured by; the lowest index of equally near
// entries). Each 5-5-5 cell of the cube keeps, once it is first asked, the few entries that can
// be nearest to some colour inside it; a lookup searches only those.
class TFastColorLookup : public TColorLookup {
 public:
  // Copies up to 256 entries of the palette (none: colour count 0).
  explicit TFastColorLookup(HPALETTE Palette);
  std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;

 private:
  // The candidates of a cell, made on first use.
  void BuildCell(int Key);

  std::array<PALETTEENTRY, 256> FEntries{};
  std::vector<std::int32_t> FCellStart;    // 32768 cells: offset into FCandidates, -1 = not yet made
  std::vector<std::uint16_t> FCellCount;   // candidates of a cell
  std::vector<std::uint8_t> FCandidates;   // entry indices, ascending within a cell
  std::uint32_t FLastColor{0xFFFFFFFF};    // the colour asked last and its answer
  std::uint8_t FLastIndex{0};
};

// The 216-colour palette: six levels a channel, index 36r + 6g + b.
class TNetscapeColorLookup : public TColorLookup {
 public:
  explicit TNetscapeColorLookup(HPALETTE = nullptr) { FColors = 216; }
  std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
};

class TGrayScaleLookup : public TColorLookup {
 public:
  explicit TGrayScaleLookup(HPALETTE = nullptr) { FColors = 256; }
  std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
};

class TMonochromeLookup : public TColorLookup {
 public:
  explicit TMonochromeLookup(HPALETTE = nullptr) { FColors = 2; }
  std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
};

// Nearest colour, no diffusion.
class TDitherEngine : public TObject {
 public:
  TDitherEngine(int Width, TColorLookup* Lookup);
  ~TDitherEngine() override = default;
  TDitherEngine(const TDitherEngine&) = delete;
  TDitherEngine& operator=(const TDitherEngine&) = delete;

  // The palette index for the pixel at Column(); advances the column.
  virtual std::uint8_t DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                                   std::uint8_t& OutGreen, std::uint8_t& OutBlue);
  // Reverses the direction; the column goes to the new row's first pixel.
  virtual void AdvanceRow();
  // Skips the pixel at Column() (a transparent one): it takes no error and passes none on.
  virtual void AdvanceColumn() { FColumn += FDirection; }

  int Column() const { return FColumn; }
  int Direction() const { return FDirection; }
  int Width() const { return FWidth; }
  TColorLookup* Lookup() const { return FLookup; }

 protected:
  int FDirection{1};
  int FColumn{0};
  TColorLookup* FLookup;  // not owned
  int FWidth;
};

// Error rounding of the diffusing engines: errors are kept multiplied by the divisor and divided
// once, when a pixel takes them, to the nearest whole level (halves upward) in both signs.
inline std::int32_t DivideError(std::int32_t Sum, std::int32_t Divisor) {
  const std::int32_t N = Sum + Divisor / 2;
  return N >= 0 ? N / Divisor : -((Divisor - 1 - N) / Divisor);
}

// Floyd-Steinberg (7/16 ahead; 3/16, 5/16, 1/16 below, behind to ahead in the direction of the
// scan), its errors in sixteenths: the row being walked, the row below, and the carry ahead.
class TFloydSteinbergDitherer : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int Width, TColorLookup* Lookup);
  std::uint8_t DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
  void AdvanceRow() override;
  void AdvanceColumn() override;

 private:
  // Entry column + 1 of (width + 2) entries, three channels each; the spare entries at both ends
  // take what falls beyond the edges.
  std::vector<std::int32_t> FCurrent, FBelow;
  std::array<std::int32_t, 3> FCarry{};
};

// Kernels spanning several rows, their errors kept multiplied by the divisor. Every row array
// holds the picture's columns plus a margin on each side that takes the cells beyond the edges;
// a pixel's entry is its column plus the margin.
class TKernelDitherer : public TDitherEngine {
 public:
  struct Cell {
    int Row;     // 0 = the current row
    int Column;  // counted in the direction of the scan
    int Weight;
  };
  TKernelDitherer(int Width, TColorLookup* Lookup, int Rows, int Margin, int Divisor, std::vector<Cell> Kernel);
  std::uint8_t DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
  void AdvanceRow() override;
  int Divisor() const { return FDivisor; }

 private:
  int FRows;
  int FMargin;
  int FDivisor;
  std::vector<Cell> FKernel;
  // [channel][row] -> width + 2 * margin entries
  std::array<std::vector<std::vector<std::int32_t>>, 3> FErrors;
};

class TStuckiDitherer : public TKernelDitherer {
 public:
  TStuckiDitherer(int Width, TColorLookup* Lookup);
};
class TSierraDitherer : public TKernelDitherer {
 public:
  TSierraDitherer(int Width, TColorLookup* Lookup);
};
class TJaJuNiDitherer : public TKernelDitherer {
 public:
  TJaJuNiDitherer(int Width, TColorLookup* Lookup);
};
class TSteveArcheDitherer : public TKernelDitherer {
 public:
  TSteveArcheDitherer(int Width, TColorLookup* Lookup);
};
class TBurkesDitherer : public TKernelDitherer {
 public:
  TBurkesDitherer(int Width, TColorLookup* Lookup);
};

}  // namespace gif
