#pragma once
// Two colour quantisers for 24-bit DIBs: a colour histogram that keeps the most frequent
// colours, and a median split of colour boxes. Both read the rows of a 24-bit DIB (bottom row
// first, each padded to 4 bytes), fill a 256-entry colour table and write one 8-bit index per
// pixel into the same buffer (rows padded to 4 bytes): an output row is never longer than its
// input row and rows are written in the order they are read, so the conversion runs in place.
#include <cstdint>
#include <vector>

#include "platform/gdi/Gdi.h"

namespace px {

// Histogram reduction. The masks start at the given values (0xFF keeps every bit); while the
// picture has more than 2049 distinct masked colours, one more low bit of one mask is dropped
// (blue, red, green in turn from three equal masks). The WantedColors most frequent colours take
// the table in order of frequency; every other colour maps to its nearest chosen entry; the
// unused entries are (128, 128, 128, 0). Header gives width and height.
void ReduceByHistogram(const BITMAPINFOHEADER& Header, RGBQUAD* ColorTable, std::uint8_t* Rows24, BYTE RedMask,
                       BYTE GreenMask, BYTE BlueMask, int WantedColors, std::uint8_t* Rows8);

// Box-split quantiser over 4096 cells of 4-bit red, green and blue: boxes are split at the pixel
// median of their longest side until Colors boxes exist or no box has two cells; each box's
// entry is the mean of its cells. On return Colors holds the number of boxes made; the entries
// from there on are zero.
void QuantizeByBoxSplit(const BITMAPINFOHEADER& Header, std::uint8_t* Rows24, std::uint8_t* Rows8,
                        RGBQUAD* ColorTable, int& Colors);

// The parts of the box split, for tests.
namespace boxsplit {

struct TColorCell {
  BYTE Value[3]{0, 0, 0};  // red, green, blue (4 bits each)
  BYTE Box{0};
  std::uint32_t Pixels{0};
  int Next{-1};  // the next cell of its box
};

struct TColorBox {
  BYTE Lower[3]{0, 0, 0};
  BYTE Extent[3]{255, 255, 255};
  std::uint32_t Cells{0};
  std::uint32_t Pixels{0};
  int First{-1};
};

// Splits boxes until Count reaches Wanted or no box has more than one cell.
void SplitColorBoxes(std::vector<TColorCell>& Cells, std::vector<TColorBox>& Boxes, int Wanted, int& Count,
                     std::vector<int>& Scratch);
// Sorts cell numbers ascending by the cells' value of one channel (0 red, 1 green, 2 blue):
// a quicksort with the middle element as pivot, runs shorter than 8 by insertion (which puts an
// element in front of earlier ones with an equal key).
void QuickSortByKey(const std::vector<TColorCell>& Cells, int* Items, int Count, int Channel);
void InsertionSortByKey(const std::vector<TColorCell>& Cells, int* Items, int Count, int Channel);

}  // namespace boxsplit

}  // namespace px
