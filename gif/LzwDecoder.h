#pragma once
// LZW decoding of one frame's image data (code size byte and data sub-blocks).
#include <cstdint>
#include <functional>
#include <string>

#include "platform/rtl/Classes.h"

namespace gif {

// Bytes the decoder may write past the end of the pixels it was given (scratch, never part of
// the picture). Callers that decode in place allocate this much slack behind their pixels.
inline constexpr std::int64_t kLzwOutputSlack = 32;

using TLzwWarning = std::function<void(const std::string& Message)>;

// Reads the minimum code size byte and the code stream at the stream's position and fills
// Width x Height index bytes (rows in interlace order when Interlaced). Pixels need not be
// initialised: those the data does not reach get Fill, also when decoding raises. They must be
// followed by kLzwOutputSlack writable bytes. Damaged data gives warnings and a partly decoded
// frame; a minimum code size above 11 and a self-referencing table entry raise GIFException.
// Afterwards the stream stands after the block terminator (or at its end).
void DecodeLzwImage(TStream* Stream, std::uint8_t* Pixels, std::int64_t Width, std::int64_t Height,
                    bool Interlaced, std::uint8_t Fill, const TLzwWarning& Warn);

// Largest number of pixels that Bytes bytes of LZW data can describe (a 12-bit code stands for
// at most 4096 pixels).
std::int64_t MaxPixelsForData(std::int64_t Bytes);

}  // namespace gif
