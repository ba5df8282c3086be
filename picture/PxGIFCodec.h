#pragma once
// The variable-length LZW of GIF image data (clear and end codes, codes of up to 12 bits,
// least significant bit first, 255-byte sub-blocks) between a frame's stored image data and
// the rows of a 1-, 4- or 8-bit DIB.
#include <cstdint>

#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"

namespace px {

class TPxGIFImage;

// Decoder bit reader: whole sub-blocks (a count byte, then the block) into a 260-byte buffer.
struct TCodeReader {
  std::uint32_t Position{0};  // bit position in Buffer
  std::int32_t Held{0};       // valid bits in Buffer
  std::uint8_t Buffer[260]{};
  std::int32_t Width{0};
  std::uint32_t Mask{0};
};

// Decoder pixel sink.
struct TRowWriter {
  std::int64_t Width{0}, Height{0};
  std::int64_t Column{0}, Row{0};  // row 0 is the top row of the picture
  int BitsPerPixel{8};
  int Pass{0};
  bool Interlaced{false};
  std::int64_t Stride{0};
  std::uint8_t* Pixels{nullptr};
  std::uint8_t* Current{nullptr};  // the current row (bottom-up rows)
};

// The code that ends decoding when the data runs out.
inline constexpr std::uint16_t kEndOfData = 0xFFFF;

// The next code; kEndOfData when the data ends before the code is whole.
std::uint16_t PxLzwReadCode(TStream* Source, TCodeReader& Reader);
// One pixel into the rows (nothing once the last row is done).
void StoreDecodedPixel(std::uint8_t Index, TRowWriter& Writer);
// The row after Row in GIF interlace order (passes of 8, 8, 4 and 2 rows); past the picture
// when it is done.
std::int64_t NextInterlacedRow(std::int64_t Row, std::int64_t Height, int& Pass);

// Decodes one frame's image data (Source at its minimum code size byte) into zeroed bottom-up
// rows of Info's width, height and bit count. Literal pixels are the codes below the clear
// code; the data may begin without a clear code. A code size outside 1..9, a code chain longer
// than the stack or a first code that names no string raises (or, with AcceptDamaged, marks
// Damaged and ends decoding); data that ends before the picture does raises "Stream read
// error" (or marks Damaged). Progress goes to Image when given.
void PxLzwDecode(TStream* Source, const BITMAPINFOHEADER& Info, bool Interlaced, TPxGIFImage* Image, bool& Damaged,
                 std::uint8_t* Pixels, bool AcceptDamaged);

// Encodes bottom-up rows of Info's width, height and bit count (1, 4 or 8) as image data:
// minimum code size byte, sub-blocks and terminator.
void PxLzwEncode(TStream* Target, const BITMAPINFOHEADER& Info, bool Interlaced, TPxGIFImage* Image,
                 const std::uint8_t* Pixels);

struct TCodeWriter {
  std::int32_t Position{0};
  std::int32_t Width{0};
  std::uint8_t Buffer[260]{};
};
void PxLzwWriteCode(TStream* Target, std::uint32_t Code, TCodeWriter& Writer);
void PxLzwFlush(TStream* Target, TCodeWriter& Writer);
constexpr std::int32_t EncoderHashBase(std::int32_t Pixel) { return (Pixel + 3) * 301; }

}  // namespace px
