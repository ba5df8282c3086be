#pragma once
// Helpers of the GIF library tests: GIF streams written byte by byte, the peer decoder
// (giflib) and loading through the library.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gif/GIFImage.h"

namespace giftest {

using Bytes = std::vector<std::uint8_t>;

// Codes packed least significant bit first, each (code, width).
Bytes PackCodes(const std::vector<std::pair<int, int>>& Codes);
// Data cut into sub-blocks of the given sizes (the last size repeats), then a terminator
// unless Terminate is false.
Bytes SubBlocks(const Bytes& Data, std::vector<int> Sizes = {255}, bool Terminate = true);

// A GIF stream assembled block by block.
class GifWriter {
 public:
  GifWriter& Raw(const Bytes& B);
  GifWriter& Byte(std::uint8_t B);
  GifWriter& Word(int W);
  // "GIF89a" (or another version), screen size, packed byte, background, aspect.
  GifWriter& Header(int Width, int Height, std::uint8_t Packed = 0, std::uint8_t Background = 0,
                    std::uint8_t Aspect = 0, const char* Version = "89a");
  GifWriter& Table(int Entries, int Seed = 0);  // Entries triples (r, g, b) = (i+seed, 2i, 3i)
  GifWriter& Gce(std::uint8_t Packed, int Delay, std::uint8_t TransparentIndex, std::uint8_t Size = 4);
  GifWriter& Comment(const std::vector<std::string>& SubBlocks);
  GifWriter& AppExt(const std::string& Key, const Bytes& Data, std::uint8_t Size = 11);
  GifWriter& Descriptor(int Left, int Top, int Width, int Height, std::uint8_t Packed = 0);
  // Code size byte, then the data in sub-blocks.
  GifWriter& ImageData(int MinCodeSize, const Bytes& Data, std::vector<int> Sizes = {255}, bool Terminate = true);
  GifWriter& Trailer() { return Byte(0x3B); }
  const Bytes& Get() const { return FBytes; }

 private:
  Bytes FBytes;
};

// A simple LZW encoder for tests (clear first, deferred width change as in the format):
// returns the codes as (code, width) pairs, ending with the end code.
std::vector<std::pair<int, int>> LzwCodes(const Bytes& Pixels, int MinCodeSize, bool LeadingClear = true);

// A one-frame GIF: the pixels LZW-coded, a global table of GlobalEntries (a power of two, or
// 0 for none), a local table of LocalEntries (0 for none), a graphic control block with the
// transparent index when Transparent >= 0.
Bytes SimpleGif(int Width, int Height, const Bytes& Pixels, int GlobalEntries, int LocalEntries = 0,
                int Transparent = -1, bool Interlaced = false);

// The picture as the peer decodes it.
struct PeerFrame {
  int Left{0}, Top{0}, Width{0}, Height{0};
  bool Interlace{false};
  std::vector<std::uint8_t> LocalMap;  // r, g, b triples
  Bytes Pixels;                        // rows in display order
  bool HasGcb{false};
  int Disposal{0}, Delay{0}, Transparent{-1};
};
struct PeerImage {
  bool Ok{false};
  int Error{0};
  int Width{0}, Height{0}, Background{0};
  std::vector<std::uint8_t> GlobalMap;
  std::vector<PeerFrame> Frames;
  int LoopCount{-1};  // from a NETSCAPE2.0 block
};
PeerImage PeerDecode(const Bytes& Gif);
// Peer encoding of an image that it decoded (EGifSpew).
Bytes PeerEncode(const Bytes& Gif);

// Loading through the library.
struct Loaded {
  std::unique_ptr<gif::TGIFImage> Image;
  std::vector<std::string> Warnings;
  std::string Error;  // message of the exception that ended loading, if any
  std::int64_t Position{0};
};
Loaded Load(const Bytes& Gif);
Bytes Save(gif::TGIFImage& Image);

// The frame's pixels as a vector.
Bytes FramePixels(gif::TGIFSubImage* Frame);
// Colour map entries as r, g, b triples.
std::vector<std::uint8_t> MapBytes(gif::TGIFColorMap* Map);

// Memory stream over bytes.
std::unique_ptr<TMemoryStream> StreamOf(const Bytes& B);
Bytes BytesOf(TMemoryStream& S);

// A deterministic pseudo-random generator.
struct Rng {
  std::uint64_t S;
  explicit Rng(std::uint64_t Seed) : S(Seed * 2654435761u + 1) {}
  std::uint32_t Next() {
    S ^= S << 13;
    S ^= S >> 7;
    S ^= S << 17;
    return static_cast<std::uint32_t>(S >> 11);
  }
  int Below(int N) { return static_cast<int>(Next() % static_cast<std::uint32_t>(N)); }
};

// Pictures for tests: noise with a given number of colours, smooth gradients, flat shapes.
Bytes NoisePixels(int Width, int Height, int Colors, std::uint64_t Seed);
Bytes FlatPixels(int Width, int Height, int Colors, std::uint64_t Seed);

}  // namespace giftest
