#pragma once
// Shared pieces of the GIF benchmarks: the corpus of ImageMagick pictures, giflib in memory as
// the peer, and a table of ours beside the peer with the ratio, printed after the run.
//
// The corpus is made by the bench-corpus script of the shared folder (ImageMagick's built-in
// pictures: photographs and flat graphics from 1 k to 4 M pixels, an interlaced photograph and
// two animations) into the build folder, once; later runs read it from there. Without the
// script or ImageMagick the corpus is empty and the benchmarks run on their generated files.
#include <gif_lib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace benchcorpus {

using Bytes = std::vector<std::uint8_t>;

struct File {
  std::string Name;  // file name, e.g. "photo-1000k.gif"
  Bytes Data;
  std::int64_t Pixels{0};  // index bytes of all frames (from giflib's reading)
};

// The corpus files sorted by name; made first when the build folder has none.
const std::vector<File>& GifCorpus();

// giflib reading a GIF file from memory (DGifSlurp); null when giflib refuses the data. The
// caller closes it with CloseGiflib.
GifFileType* GiflibSlurp(const Bytes& Data);
void CloseGiflib(GifFileType* Gif);
// Index bytes of all frames of a slurped file.
std::int64_t GiflibPixels(const GifFileType* Gif);

// giflib writing a slurped file again: Prepare copies it into a new writer (outside any
// timing), Spew writes it (EGifSpew, which also closes the writer) and returns the bytes.
struct GiflibWriter {
  Bytes Out;
  GifFileType* Gif{nullptr};
};
void PrepareGiflibWriter(GiflibWriter& Writer, const GifFileType* Source);
void SpewGiflibWriter(GiflibWriter& Writer);

// Runs the benchmarks named "<operation>/<implementation>/<case>" (after benchmark::Initialize
// and the registrations), with the usual console output, and then prints one table per
// operation: for each case the median time of Ours and of Peer, Peer's time divided by Ours
// (above 1: ours is faster) and the "bytes" counter of both when set (encoded sizes).
int RunWithRatioTable(const std::string& Ours, const std::string& Peer);

}  // namespace benchcorpus
