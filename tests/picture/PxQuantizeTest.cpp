#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "picture/PxGraphUtils.h"
#include "picture/PxQuantize.h"

using namespace px;
using namespace px::boxsplit;

namespace {

struct Rgb {
  int R, G, B;
  bool operator<(const Rgb& O) const { return std::tie(R, G, B) < std::tie(O.R, O.G, O.B); }
  bool operator==(const Rgb& O) const = default;
};

// A 24-bit DIB (bottom-up rows padded to 4 bytes) painted by Fn(x, memory row).
struct Dib24 {
  BITMAPINFOHEADER Header{};
  std::vector<std::uint8_t> Rows;
  int Width, Height;
  Dib24(int W, int H, const std::function<Rgb(int X, int Y)>& Fn) : Width(W), Height(H) {
    Header.biSize = 40;
    Header.biWidth = W;
    Header.biHeight = H;
    Header.biBitCount = 24;
    const std::size_t stride = static_cast<std::size_t>(DibScanlineBytes(24 * W));
    Rows.assign(stride * static_cast<std::size_t>(H), 0xEE);  // padding bytes are not zero
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        Rgb c = Fn(x, y);
        std::uint8_t* p = &Rows[static_cast<std::size_t>(y) * stride + 3 * static_cast<std::size_t>(x)];
        p[0] = static_cast<std::uint8_t>(c.B);
        p[1] = static_cast<std::uint8_t>(c.G);
        p[2] = static_cast<std::uint8_t>(c.R);
      }
  }
  Rgb At(int X, int Y) const {
    const std::uint8_t* p = &Rows[static_cast<std::size_t>(Y * DibScanlineBytes(24 * Width) + 3 * X)];
    return {p[2], p[1], p[0]};
  }
  std::uint8_t Index(int X, int Y) const { return Rows[static_cast<std::size_t>(Y * DibScanlineBytes(8 * Width) + X)]; }
};

Rgb Entry(const RGBQUAD* T, int I) { return {T[I].rgbRed, T[I].rgbGreen, T[I].rgbBlue}; }

struct Histogram {
  std::array<RGBQUAD, 256> Table{};
  void Run(Dib24& D, int Wanted = 256) {
    ReduceByHistogram(D.Header, Table.data(), D.Rows.data(), 0xFF, 0xFF, 0xFF, Wanted, D.Rows.data());
  }
};

}  // namespace

TEST(HistogramQuantiser, FewColoursComeOutExactly) {
  // 200 colours, colour i on i + 1 pixels, at width 37 (rows padded).
  std::vector<Rgb> colours;
  for (int i = 0; i < 200; ++i) colours.push_back({i, 255 - i, (i * 7) % 256});
  std::vector<int> pixelColour;
  for (int i = 0; i < 200; ++i) pixelColour.insert(pixelColour.end(), static_cast<std::size_t>(i + 1), i);
  const int w = 37, h = static_cast<int>((pixelColour.size() + w - 1) / w);
  auto colourAt = [&](int X, int Y) {
    std::size_t k = static_cast<std::size_t>(Y * w + X);
    return colours[static_cast<std::size_t>(pixelColour[std::min(k, pixelColour.size() - 1)])];
  };
  Dib24 d(w, h, colourAt);
  Dib24 original = d;
  Histogram q;
  q.Run(d);
  // In order of frequency: the most frequent colour (199) first.
  EXPECT_EQ(Entry(q.Table.data(), 0), colours[199]);
  std::set<Rgb> chosen;
  for (int i = 0; i < 200; ++i) chosen.insert(Entry(q.Table.data(), i));
  EXPECT_EQ(chosen, std::set<Rgb>(colours.begin(), colours.end()));
  for (int i = 200; i < 256; ++i) {
    EXPECT_EQ(Entry(q.Table.data(), i), (Rgb{128, 128, 128}));
    EXPECT_EQ(q.Table[static_cast<std::size_t>(i)].rgbReserved, 0);
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) ASSERT_EQ(Entry(q.Table.data(), d.Index(x, y)), original.At(x, y)) << x << "," << y;
    for (int x = w; x < 40; ++x) ASSERT_EQ(d.Index(x, y), 0) << "padding";
  }
}

TEST(HistogramQuantiser, OverflowDropsTheLowestBlueBitFirst) {
  // Colour A (blue 1) on 3 pixels and B (blue 0, same red and green) on 2, plus 2048 other colours
  // with even blue once each: 2050 colours. Without the dropped bit A would be the most frequent;
  // with it, A and B count together as blue 0.
  std::vector<Rgb> pixels(3, Rgb{200, 100, 1});
  pixels.insert(pixels.end(), 2, Rgb{200, 100, 0});
  for (int i = 0; i < 2048; ++i) pixels.push_back({i % 256, i / 256, 100});
  Dib24 d(static_cast<int>(pixels.size()), 1, [&](int X, int) { return pixels[static_cast<std::size_t>(X)]; });
  Histogram q;
  q.Run(d);
  EXPECT_EQ(Entry(q.Table.data(), 0), (Rgb{200, 100, 0}));
  EXPECT_EQ(d.Index(0, 0), 0);
  EXPECT_EQ(d.Index(3, 0), 0);
}

TEST(HistogramQuantiser, FurtherOverflowDropsRedThenGreen) {
  // 16 x 16 x 32 = 8192 colours: dropping blue's low bit leaves 4096, dropping red's leaves 2048.
  Dib24 d(8192, 1, [](int X, int) { return Rgb{X & 15, (X >> 4) & 15, X >> 8}; });
  Histogram q;
  q.Run(d);
  bool oddGreen = false;
  for (int i = 0; i < 256; ++i) {
    Rgb c = Entry(q.Table.data(), i);
    EXPECT_EQ(c.R % 2, 0);
    EXPECT_EQ(c.B % 2, 0);
    oddGreen = oddGreen || c.G % 2 == 1;
  }
  EXPECT_TRUE(oddGreen);
}

TEST(HistogramQuantiser, OtherColoursMapToTheNearestChosen) {
  // Four frequent colours and one rare colour near the third; two wanted.
  std::vector<Rgb> pixels;
  pixels.insert(pixels.end(), 10, Rgb{0, 0, 0});
  pixels.insert(pixels.end(), 8, Rgb{255, 255, 255});
  pixels.insert(pixels.end(), 6, Rgb{250, 0, 0});
  pixels.push_back({200, 200, 190});
  Dib24 d(static_cast<int>(pixels.size()), 1, [&](int X, int) { return pixels[static_cast<std::size_t>(X)]; });
  Histogram q;
  q.Run(d, 2);
  EXPECT_EQ(Entry(q.Table.data(), 0), (Rgb{0, 0, 0}));
  EXPECT_EQ(Entry(q.Table.data(), 1), (Rgb{255, 255, 255}));
  EXPECT_EQ(Entry(q.Table.data(), 2), (Rgb{128, 128, 128}));
  EXPECT_EQ(d.Index(0, 0), 0);
  EXPECT_EQ(d.Index(10, 0), 1);
  EXPECT_EQ(d.Index(18, 0), 0);  // (250, 0, 0): 62500 from black, 130075 from white
  EXPECT_EQ(d.Index(24, 0), 1);  // (200, 200, 190): nearer white
}

TEST(HistogramQuantiser, TiesGoToTheLowerEntry) {
  // (50, 0, 0) lies halfway between the two chosen colours.
  std::vector<Rgb> pixels;
  pixels.insert(pixels.end(), 3, Rgb{0, 0, 0});
  pixels.insert(pixels.end(), 2, Rgb{100, 0, 0});
  pixels.push_back({50, 0, 0});
  Dib24 d(static_cast<int>(pixels.size()), 1, [&](int X, int) { return pixels[static_cast<std::size_t>(X)]; });
  Histogram q;
  q.Run(d, 2);
  EXPECT_EQ(d.Index(5, 0), 0);
}

TEST(BoxSplitQuantiser, OneColourIsOneBox) {
  for (Rgb c : {Rgb{255, 255, 255}, Rgb{0, 0, 0}, Rgb{0x35, 0x80, 0xF1}}) {
    Dib24 d(7, 3, [&](int, int) { return c; });
    std::array<RGBQUAD, 256> table;
    table.fill(RGBQUAD{9, 9, 9, 9});
    int colours = 256;
    QuantizeByBoxSplit(d.Header, d.Rows.data(), d.Rows.data(), table.data(), colours);
    EXPECT_EQ(colours, 1);
    const Rgb expected = c == Rgb{0, 0, 0} ? Rgb{0, 0, 0} : Rgb{(c.R >> 4) * 16 + 15, (c.G >> 4) * 16 + 15, (c.B >> 4) * 16 + 15};
    EXPECT_EQ(Entry(table.data(), 0), expected);
    for (int i = 1; i < 256; ++i) ASSERT_EQ(Entry(table.data(), i), (Rgb{0, 0, 0}));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(d.Index(x, y), 0);
  }
}

TEST(BoxSplitQuantiser, ColoursOfOneCellAreNeverSplit) {
  Dib24 d(16, 16, [](int X, int Y) { return Rgb{X, Y, (X + Y) % 16}; });
  std::array<RGBQUAD, 256> table{};
  int colours = 256;
  QuantizeByBoxSplit(d.Header, d.Rows.data(), d.Rows.data(), table.data(), colours);
  EXPECT_EQ(colours, 1);
  EXPECT_EQ(Entry(table.data(), 0), (Rgb{0, 0, 0}));  // 15 on every channel: black
}

TEST(BoxSplitQuantiser, TwoCellsMakeTwoBoxes) {
  Dib24 d(10, 2, [](int X, int) { return X < 4 ? Rgb{0x10, 0x20, 0x30} : Rgb{0xF0, 0x20, 0x30}; });
  std::array<RGBQUAD, 256> table{};
  int colours = 256;
  QuantizeByBoxSplit(d.Header, d.Rows.data(), d.Rows.data(), table.data(), colours);
  ASSERT_EQ(colours, 2);
  const Rgb a = Entry(table.data(), d.Index(0, 0)), b = Entry(table.data(), d.Index(9, 1));
  EXPECT_EQ(a, (Rgb{0x1F, 0x2F, 0x3F}));
  EXPECT_EQ(b, (Rgb{0xFF, 0x2F, 0x3F}));
  EXPECT_NE(d.Index(0, 0), d.Index(9, 1));
}

TEST(BoxSplitQuantiser, ManyColoursFillTheTable) {
  std::mt19937 random(7);
  Dib24 d(101, 67, [&](int, int) { return Rgb{static_cast<int>(random() % 256), static_cast<int>(random() % 256), static_cast<int>(random() % 256)}; });
  Dib24 original = d;
  std::array<RGBQUAD, 256> table{};
  int colours = 256;
  QuantizeByBoxSplit(d.Header, d.Rows.data(), d.Rows.data(), table.data(), colours);
  EXPECT_EQ(colours, 256);
  // Every pixel's box holds the pixel's cell: the entry is within a box's reach of the colour.
  double error = 0;
  for (int y = 0; y < 67; ++y)
    for (int x = 0; x < 101; ++x) {
      Rgb o = original.At(x, y), q = Entry(table.data(), d.Index(x, y));
      error += std::abs(o.R - q.R) + std::abs(o.G - q.G) + std::abs(o.B - q.B);
    }
  EXPECT_LT(error / (101 * 67 * 3), 20.0);  // about 13 for uniform noise
}

TEST(BoxSplitQuantiser, FewerColoursWanted) {
  Dib24 d(64, 1, [](int X, int) { return Rgb{X * 4, 255 - X * 4, 128}; });
  std::array<RGBQUAD, 256> table{};
  int colours = 5;
  QuantizeByBoxSplit(d.Header, d.Rows.data(), d.Rows.data(), table.data(), colours);
  EXPECT_EQ(colours, 5);
  for (int x = 0; x < 64; ++x) EXPECT_LT(d.Index(x, 0), 5);
}

TEST(BoxSplit, SplitsAtThePixelMedianOfTheLongestSide) {
  std::vector<TColorCell> cells(4);
  // Cells along red 1, 3, 9, 12 with 5, 1, 1, 5 pixels; all green 0, blue 0.
  const int red[4] = {12, 1, 9, 3};
  const std::uint32_t pixels[4] = {5, 5, 1, 1};
  for (int i = 0; i < 4; ++i) {
    cells[static_cast<std::size_t>(i)].Value[0] = static_cast<BYTE>(red[i]);
    cells[static_cast<std::size_t>(i)].Pixels = pixels[i];
    cells[static_cast<std::size_t>(i)].Next = i + 1 < 4 ? i + 1 : -1;
  }
  std::vector<TColorBox> boxes(256);
  boxes[0].First = 0;
  boxes[0].Cells = 4;
  boxes[0].Pixels = 12;
  boxes[0].Extent[1] = 0;
  boxes[0].Extent[2] = 0;
  int count = 1;
  std::vector<int> scratch;
  SplitColorBoxes(cells, boxes, 2, count, scratch);
  ASSERT_EQ(count, 2);
  // Sorted: 1 (5 px), 3 (1), 9 (1), 12 (5); half 6: 1 and 3 below, 9 and 12 above.
  EXPECT_EQ(boxes[0].Cells, 2u);
  EXPECT_EQ(boxes[0].Pixels, 6u);
  EXPECT_EQ(boxes[1].Cells, 2u);
  EXPECT_EQ(boxes[1].Pixels, 6u);
  EXPECT_EQ(boxes[0].Extent[0], 48);  // 16 x 3 - 0
  EXPECT_EQ(boxes[1].Lower[0], 144);  // 16 x 9
  EXPECT_EQ(boxes[1].Extent[0], 111);  // 0 + 255 - 144
  EXPECT_EQ(boxes[0].First, 1);
  EXPECT_EQ(cells[1].Next, 3);
  EXPECT_EQ(cells[3].Next, -1);
  EXPECT_EQ(boxes[1].First, 2);
  // Further splits take the widest remaining side; single cells stop it.
  SplitColorBoxes(cells, boxes, 256, count, scratch);
  EXPECT_EQ(count, 4);
}

TEST(BoxSplit, SortsByOneChannel) {
  std::mt19937 random(3);
  std::vector<TColorCell> cells(300);
  for (auto& c : cells) c.Value[1] = static_cast<BYTE>(random() % 16);
  for (int n : {0, 1, 2, 7, 8, 9, 50, 300}) {
    std::vector<int> items(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) items[static_cast<std::size_t>(i)] = i;
    QuickSortByKey(cells, items.data(), n, 1);
    for (int i = 1; i < n; ++i)
      ASSERT_LE(cells[static_cast<std::size_t>(items[i - 1])].Value[1], cells[static_cast<std::size_t>(items[i])].Value[1]);
    std::vector<int> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < n; ++i) ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i);
  }
  // Insertion puts an element in front of earlier ones with an equal key.
  std::vector<TColorCell> same(3);
  int items[3] = {0, 1, 2};
  InsertionSortByKey(same, items, 3, 0);
  EXPECT_EQ(items[0], 2);
  EXPECT_EQ(items[1], 1);
  EXPECT_EQ(items[2], 0);
}
