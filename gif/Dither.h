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

// Nearest entry of a palette (sum of the channel differences), remembered per 5-5-5 cell: the
// first colour searched in a cell decides the index for every later colour of that cell.
class TFastColorLookup : public TColorLookup {
 public:
  // Copies up to 256 entries of the palette (none: colour count 0).
  explicit TFastColorLookup(HPALETTE Palette);
  std::uint8_t LookupIndex(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;

 private:
  std::array<PALETTEENTRY, 256> FEntries{};
  std::vector<std::int16_t> FInverse;  // 32768 cells, -1 = not yet known
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
  // Moves the column only (a skipped pixel leaves the error positions where they are).
  void AdvanceColumn() { FColumn += FDirection; }

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

// Floyd-Steinberg with one error row a channel and running values for the next row.
class TFloydSteinbergDitherer : public TDitherEngine {
 public:
  TFloydSteinbergDitherer(int Width, TColorLookup* Lookup);
  std::uint8_t DitherPixel(std::uint8_t Red, std::uint8_t Green, std::uint8_t Blue, std::uint8_t& OutRed,
                           std::uint8_t& OutGreen, std::uint8_t& OutBlue) override;
  void AdvanceRow() override;

 private:
  struct Channel {
    std::vector<std::int32_t> Errors;  // width + 2 entries
    std::int32_t Carry{0}, Below{0}, BelowPrevious{0};
  };
  std::array<Channel, 3> FChannels;
  std::int64_t FPos{0};
};

// Kernels spanning several rows, their errors kept multiplied by the divisor. Every row array
// holds the picture's columns plus a margin on each side that takes the cells beyond the edges.
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
  std::int64_t FPos{0};
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
