#pragma once
// A literal one-pixel-at-a-time LZW decoder (output stack, sub-block buffer with two carry
// bytes), used to check the library's decoder: same pixels, warnings and stream position.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Classes.h"

namespace giftest {

struct ReferenceResult {
  std::vector<std::uint8_t> Pixels;
  std::vector<std::string> Warnings;
  std::string Error;
  std::int64_t Position{0};
};

ReferenceResult ReferenceDecode(TStream* Stream, int Width, int Height, bool Interlaced, std::uint8_t Fill);

}  // namespace giftest
