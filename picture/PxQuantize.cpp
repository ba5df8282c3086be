#include "picture/PxQuantize.h"

#include <cstring>
#include <utility>

#include "picture/PxGraphUtils.h"

namespace px {

namespace {

struct TDibSize {
  std::int64_t Width;
  std::int64_t Height;
  std::int64_t InStride;   // 24-bit rows
  std::int64_t OutStride;  // 8-bit rows
};

TDibSize SizeOf(const BITMAPINFOHEADER& Header) {
  TDibSize s;
  s.Width = Header.biWidth < 0 ? 0 : Header.biWidth;
  s.Height = Header.biHeight < 0 ? -static_cast<std::int64_t>(Header.biHeight) : Header.biHeight;
  s.InStride = DibScanlineBytes(24 * s.Width);
  s.OutStride = DibScanlineBytes(8 * s.Width);
  return s;
}

// ---------------------------------------------------------------------------------------------
// Histogram

constexpr int kMaxEntries = 2049;
constexpr int kHashSlots = 5191;
constexpr std::uint16_t kEmptySlot = 0xFFFF;

struct THistEntry {
  BYTE Blue, Green, Red;
  std::uint32_t Count;
  BYTE Index;
};

struct THistogram {
  std::vector<THistEntry> Entries;
  std::vector<std::uint16_t> Slots;
  BYTE Masks[3];  // red, green, blue

  THistogram() : Slots(kHashSlots, kEmptySlot) { Entries.reserve(kMaxEntries); }

  void Clear() {
    Entries.clear();
    std::fill(Slots.begin(), Slots.end(), kEmptySlot);
  }

  // The slot of a masked colour: its entry's, or the empty slot where it belongs.
  int Probe(BYTE R, BYTE G, BYTE B) const {
    int slot = static_cast<int>(((R + G) * (G + B) * (R + B)) % kHashSlots);
    while (Slots[static_cast<std::size_t>(slot)] != kEmptySlot) {
      const THistEntry& e = Entries[Slots[static_cast<std::size_t>(slot)]];
      if (e.Red == R && e.Green == G && e.Blue == B) break;
      slot = slot + 1 == kHashSlots ? 0 : slot + 1;
    }
    return slot;
  }

  // Counts every pixel; false when more than kMaxEntries colours turn up.
  bool Count(const std::uint8_t* Rows, const TDibSize& S) {
    for (std::int64_t y = 0; y < S.Height; ++y) {
      const std::uint8_t* p = Rows + y * S.InStride;
      for (std::int64_t x = 0; x < S.Width; ++x, p += 3) {
        const BYTE b = p[0] & Masks[2], g = p[1] & Masks[1], r = p[2] & Masks[0];
        const int slot = Probe(r, g, b);
        std::uint16_t& s = Slots[static_cast<std::size_t>(slot)];
        if (s != kEmptySlot) {
          ++Entries[s].Count;
          continue;
        }
        if (static_cast<int>(Entries.size()) >= kMaxEntries) return false;
        s = static_cast<std::uint16_t>(Entries.size());
        Entries.push_back(THistEntry{b, g, r, 1, 0});
      }
    }
    return true;
  }

  // Drops one more low bit: green when red is below it, else red when above blue, else blue.
  void Coarsen() {
    BYTE& m = Masks[0] < Masks[1] ? Masks[1] : (Masks[0] > Masks[2] ? Masks[0] : Masks[2]);
    m = static_cast<BYTE>(m << 1);
  }
};

// ---------------------------------------------------------------------------------------------
// Box split

constexpr int kCells = 4096;

int CellOf(const std::uint8_t* P) { return (P[2] >> 4) * 256 + (P[1] >> 4) * 16 + (P[0] >> 4); }

}  // namespace

void ReduceByHistogram(const BITMAPINFOHEADER& Header, RGBQUAD* ColorTable, std::uint8_t* Rows24, BYTE RedMask,
                       BYTE GreenMask, BYTE BlueMask, int WantedColors, std::uint8_t* Rows8) {
  const TDibSize size = SizeOf(Header);
  THistogram h;
  h.Masks[0] = RedMask;
  h.Masks[1] = GreenMask;
  h.Masks[2] = BlueMask;
  while (!h.Count(Rows24, size)) {
    h.Coarsen();
    h.Clear();
  }

  // The most frequent colours take the table, the first of equal counts first.
  const int entries = static_cast<int>(h.Entries.size());
  const int wanted = WantedColors < 0 ? 0 : (WantedColors > 256 ? 256 : WantedColors);
  int chosen = 0;
  for (; chosen < wanted && chosen < entries; ++chosen) {
    int best = 0;
    for (int e = 1; e < entries; ++e)
      if (h.Entries[static_cast<std::size_t>(e)].Count > h.Entries[static_cast<std::size_t>(best)].Count) best = e;
    THistEntry& e = h.Entries[static_cast<std::size_t>(best)];
    e.Index = static_cast<BYTE>(chosen);
    e.Count = 0;
    ColorTable[chosen] = RGBQUAD{e.Blue, e.Green, e.Red, 0};
  }
  for (int i = chosen; i < 256; ++i) ColorTable[i] = RGBQUAD{128, 128, 128, 0};

  // Every colour not chosen takes its nearest chosen entry (the lowest index on a tie).
  for (THistEntry& e : h.Entries) {
    if (e.Count == 0) continue;
    int bestDistance = 0x30000;
    for (int i = 0; i < wanted; ++i) {
      const int dr = e.Red - ColorTable[i].rgbRed, dg = e.Green - ColorTable[i].rgbGreen,
                db = e.Blue - ColorTable[i].rgbBlue;
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDistance) {
        bestDistance = d;
        e.Index = static_cast<BYTE>(i);
      }
    }
  }

  // Mapping, row by row in memory order (in place: each output row is shorter than its input).
  for (std::int64_t y = 0; y < size.Height; ++y) {
    const std::uint8_t* in = Rows24 + y * size.InStride;
    std::uint8_t* out = Rows8 + y * size.OutStride;
    for (std::int64_t x = 0; x < size.Width; ++x, in += 3) {
      const BYTE b = in[0] & h.Masks[2], g = in[1] & h.Masks[1], r = in[2] & h.Masks[0];
      out[x] = h.Entries[h.Slots[static_cast<std::size_t>(h.Probe(r, g, b))]].Index;
    }
    for (std::int64_t x = size.Width; x < size.OutStride; ++x) out[x] = 0;
  }
}

namespace boxsplit {

void InsertionSortByKey(const std::vector<TColorCell>& Cells, int* Items, int Count, int Channel) {
  for (int i = 1; i < Count; ++i) {
    const int t = Items[i];
    const BYTE key = Cells[static_cast<std::size_t>(t)].Value[Channel];
    int j = i - 1;
    while (j >= 0 && Cells[static_cast<std::size_t>(Items[j])].Value[Channel] >= key) {
      Items[j + 1] = Items[j];
      --j;
    }
    Items[j + 1] = t;
  }
}

void QuickSortByKey(const std::vector<TColorCell>& Cells, int* Items, int Count, int Channel) {
  while (Count >= 8) {
    auto key = [&](int I) { return Cells[static_cast<std::size_t>(Items[I])].Value[Channel]; };
    const BYTE pivot = key(Count / 2);
    int i = 0, j = Count - 1;
    do {
      while (key(i) < pivot) ++i;
      while (key(j) > pivot) --j;
      if (i <= j) {
        std::swap(Items[i], Items[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    // Recurse into the smaller part, loop on the larger.
    if (j + 1 < Count - i) {
      QuickSortByKey(Cells, Items, j + 1, Channel);
      Items += i;
      Count -= i;
    } else {
      QuickSortByKey(Cells, Items + i, Count - i, Channel);
      Count = j + 1;
    }
  }
  InsertionSortByKey(Cells, Items, Count, Channel);
}

void SplitColorBoxes(std::vector<TColorCell>& Cells, std::vector<TColorBox>& Boxes, int Wanted, int& Count,
                     std::vector<int>& Scratch) {
  while (Count < Wanted && Count < static_cast<int>(Boxes.size())) {
    // The box and channel with the largest extent among boxes of more than one cell.
    int chosen = -1, channel = 0, extent = -1;
    for (int b = 0; b < Count; ++b) {
      const TColorBox& box = Boxes[static_cast<std::size_t>(b)];
      if (box.Cells <= 1) continue;
      for (int c = 0; c < 3; ++c)
        if (box.Extent[c] > extent) {
          extent = box.Extent[c];
          chosen = b;
          channel = c;
        }
    }
    if (chosen < 0) return;
    TColorBox& box = Boxes[static_cast<std::size_t>(chosen)];

    // Its cells in order of the channel, relinked so.
    Scratch.clear();
    for (int c = box.First; c >= 0; c = Cells[static_cast<std::size_t>(c)].Next) Scratch.push_back(c);
    const int n = static_cast<int>(Scratch.size());
    QuickSortByKey(Cells, Scratch.data(), n, channel);
    for (int i = 0; i < n; ++i) Cells[static_cast<std::size_t>(Scratch[i])].Next = i + 1 < n ? Scratch[i + 1] : -1;
    box.First = Scratch[0];

    // The lower part takes cells while they stay within half of the pixels; each part keeps one.
    const std::int64_t half = box.Pixels / 2;
    int last = 0;
    std::int64_t lowerPixels = Cells[static_cast<std::size_t>(Scratch[0])].Pixels;
    while (last + 2 < n && half - lowerPixels - Cells[static_cast<std::size_t>(Scratch[last + 1])].Pixels >= 0) {
      ++last;
      lowerPixels += Cells[static_cast<std::size_t>(Scratch[last])].Pixels;
    }

    TColorBox& upper = Boxes[static_cast<std::size_t>(Count)];
    upper = box;
    upper.First = Scratch[last + 1];
    upper.Cells = static_cast<std::uint32_t>(n - last - 1);
    upper.Pixels = static_cast<std::uint32_t>(box.Pixels - lowerPixels);
    Cells[static_cast<std::size_t>(Scratch[last])].Next = -1;
    box.Cells = static_cast<std::uint32_t>(last + 1);
    box.Pixels = static_cast<std::uint32_t>(lowerPixels);

    // Bounds on the split channel, in byte arithmetic.
    const BYTE lowerTop = static_cast<BYTE>(16 * Cells[static_cast<std::size_t>(Scratch[last])].Value[channel]);
    const BYTE upperBottom = static_cast<BYTE>(16 * Cells[static_cast<std::size_t>(Scratch[last + 1])].Value[channel]);
    upper.Extent[channel] = static_cast<BYTE>(box.Lower[channel] + box.Extent[channel] - upperBottom);
    upper.Lower[channel] = upperBottom;
    box.Extent[channel] = static_cast<BYTE>(lowerTop - box.Lower[channel]);
    ++Count;
  }
}

}  // namespace boxsplit

void QuantizeByBoxSplit(const BITMAPINFOHEADER& Header, std::uint8_t* Rows24, std::uint8_t* Rows8,
                        RGBQUAD* ColorTable, int& Colors) {
  using namespace boxsplit;
  const TDibSize size = SizeOf(Header);
  const std::int64_t pixels = size.Width * size.Height;
  std::vector<TColorCell> cells(kCells);
  for (int c = 0; c < kCells; ++c) {
    cells[static_cast<std::size_t>(c)].Value[0] = static_cast<BYTE>(c >> 8);
    cells[static_cast<std::size_t>(c)].Value[1] = static_cast<BYTE>((c >> 4) & 15);
    cells[static_cast<std::size_t>(c)].Value[2] = static_cast<BYTE>(c & 15);
  }
  TGlobalBuffer cellOfPixel(2 * pixels);
  auto* list = reinterpret_cast<std::uint16_t*>(cellOfPixel.get());
  std::int64_t k = 0;
  for (std::int64_t y = size.Height - 1; y >= 0; --y) {
    const std::uint8_t* p = Rows24 + y * size.InStride;
    for (std::int64_t x = 0; x < size.Width; ++x, p += 3) {
      const int cell = CellOf(p);
      ++cells[static_cast<std::size_t>(cell)].Pixels;
      list[k++] = static_cast<std::uint16_t>(cell);
    }
  }

  const int wanted = Colors < 1 ? 1 : (Colors > 256 ? 256 : Colors);
  std::vector<TColorBox> boxes(256);
  TColorBox& first = boxes[0];
  first.Pixels = static_cast<std::uint32_t>(pixels);
  int* link = &first.First;
  for (int c = 0; c < kCells; ++c) {
    if (cells[static_cast<std::size_t>(c)].Pixels == 0) continue;
    *link = c;
    link = &cells[static_cast<std::size_t>(c)].Next;
    ++first.Cells;
  }
  int count = 1;
  std::vector<int> scratch;
  scratch.reserve(kCells);
  SplitColorBoxes(cells, boxes, wanted, count, scratch);

  for (int i = count; i < 256; ++i) ColorTable[i] = RGBQUAD{0, 0, 0, 0};
  for (int b = 0; b < count; ++b) {
    const TColorBox& box = boxes[static_cast<std::size_t>(b)];
    ColorTable[b] = RGBQUAD{0, 0, 0, 0};
    if (box.Cells == 0) continue;
    std::int64_t sum[3] = {0, 0, 0};
    for (int c = box.First; c >= 0; c = cells[static_cast<std::size_t>(c)].Next) {
      TColorCell& cell = cells[static_cast<std::size_t>(c)];
      cell.Box = static_cast<BYTE>(b);
      for (int ch = 0; ch < 3; ++ch) sum[ch] += cell.Value[ch];
    }
    std::int64_t mean[3];
    for (int ch = 0; ch < 3; ++ch) mean[ch] = (sum[ch] * 16 + 15) / box.Cells;
    if (mean[0] > 16 || mean[1] > 16 || mean[2] > 16)
      ColorTable[b] = RGBQUAD{static_cast<BYTE>(mean[2]), static_cast<BYTE>(mean[1]), static_cast<BYTE>(mean[0]), 0};
  }
  Colors = count;

  std::memset(Rows8, 0, static_cast<std::size_t>(size.OutStride * size.Height));
  for (std::int64_t t = 0; t < size.Height; ++t) {
    std::uint8_t* out = Rows8 + t * size.OutStride;
    const std::uint16_t* from = list + (size.Height - 1 - t) * size.Width;
    for (std::int64_t x = 0; x < size.Width; ++x) out[x] = cells[from[x]].Box;
  }
}

}  // namespace px
