#pragma once
// The variable-length LZW of GIF image data (clear and end codes, codes of up to 12 bits,
// least significant bit first, 255-byte sub-blocks) between a frame's stored image data and
// the rows of a 1-, 4- or 8-bit DIB.
#include <cstdint>

#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"

namespace px {

class TPxGIFImage;

// The row after Row in GIF interlace order (passes of 8, 8, 4 and 2 rows); past the picture
// when it is done.
std::int64_t NextInterlacedRow(std::int64_t Row, std::int64_t Height, int& Pass);

// Decodes one frame's image data (Source at its minimum code size byte) into bottom-up rows of
// Info's width, height and bit count; every byte of the rows is written, those the data does
// not reach (and the rows' padding) with 0. The data is the sub-blocks' bytes joined, up to
// the end of Source. Literal pixels are the codes below the clear code; the data may begin
// without a clear code. A code size outside 1..9, a code chain longer than the stack or a first
// code that names no string raises (or, with AcceptDamaged, marks Damaged and ends decoding);
// data that ends before the picture does raises "Stream read error" (or marks Damaged), and a
// sub-block cut short raises it when the decoder reaches it. Source is left after the last
// sub-block the codes read reach into. Progress goes to Image when given. The tables are kept
// for the thread.
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
