#pragma once
// Colour maps: the in-memory form of a GIF colour table (up to 256 RGB entries).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gif/Utils.h"
#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"

namespace gif {

class TGIFHeader;
class TGIFSubImage;
class TGIFImage;

// One histogram pair: how often entry Index is used.
struct TUsageCount {
  std::int32_t Count;
  std::int32_t Index;
};
using TColormapHistogram = std::array<TUsageCount, 256>;
using TColormapReverse = std::array<std::uint8_t, 256>;

// Three bytes of a colour table entry, in stream order.
struct TGIFColor {
  std::uint8_t Red{0}, Green{0}, Blue{0};
};

class TGIFColorMap : public TPersistent {
 public:
  TGIFColorMap() = default;
  ~TGIFColorMap() override = default;
  TGIFColorMap(const TGIFColorMap&) = delete;
  TGIFColorMap& operator=(const TGIFColorMap&) = delete;

  void Clear();  // no change notice
  static TGIFColor ColorToTriple(TColor Color);
  static TColor TripleToColor(const TGIFColor& Triple);

  int Count() const { return FCount; }
  int Capacity() const { return FCapacity; }
  bool Sorted() const { return FSorted; }  // the table is ordered by importance
  void SetSorted(bool Value) { FSorted = Value; }
  const std::uint8_t* Data() const { return FTable.data(); }

  // 0 for an empty table, else the smallest b in 1..8 with 2^b >= Count.
  int TableBits() const;
  // The entries, padded with black to 2^TableBits (nothing for an empty table).
  void WriteToStream(TStream* Stream);
  // Exactly the entries padded with black to 2^Bits (at least TableBits).
  void WriteToStream(TStream* Stream, int Bits);
  void ReadFromStream(TStream* Stream, int Count);
  void EnsureCapacity(int Count);

  int FindColor(TColor Color) const;  // -1 when absent
  int AddColor(TColor Color);
  int AddIfMissing(TColor Color);
  void DeleteColor(int Index);
  TColor ColorAt(int Index);
  // Appends black entries until the table holds Count entries (at most 256).
  void PadWithBlack(int Count);
  // Exchanges the first and third byte of every entry (tables gathered in blue, green, red order).
  void SwapRedBlue();

  void LoadFromPalette(HPALETTE Palette);
  void LoadFromColorTable(const RGBQUAD* Entries, int Count);
  void LoadFromDIBColors(HDC DC);
  HPALETTE CreatePaletteHandle() const;  // the caller owns it; null for an empty table

  bool DoOptimize();
  // Moves entry i to Remap[i] (a permutation of the entries), and with it the pixels and
  // transparent indices that use the map and the background index.
  void Reorder(const TColormapReverse& Remap);
  void Assign(TPersistent* Source) override;

  virtual void ReportWarning(int Severity, const std::string& Message) = 0;
  // Pair i := (uses of entry i, i) for all 256 pairs.
  virtual void BuildHistogram(TColormapHistogram& Histogram) = 0;
  virtual void ApplyRemap(const TColormapReverse& Remap) = 0;
  virtual bool Optimize() = 0;
  virtual void Changed() = 0;

 private:
  std::vector<std::uint8_t> FTable;
  int FCount{0};
  int FCapacity{0};
  bool FSorted{false};
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGIFHeader* Header) : FHeader(Header) {}
  ~TGIFGlobalColorMap() override;
  TGIFHeader* Header() const { return FHeader; }

  void ReportWarning(int Severity, const std::string& Message) override;
  void BuildHistogram(TColormapHistogram& Histogram) override;
  void ApplyRemap(const TColormapReverse& Remap) override;
  bool Optimize() override;
  void Changed() override;

 private:
  TGIFImage* Image() const;
  TGIFHeader* FHeader;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  explicit TGIFLocalColorMap(TGIFSubImage* Frame) : FFrame(Frame) {}
  ~TGIFLocalColorMap() override;
  TGIFSubImage* Frame() const { return FFrame; }

  void ReportWarning(int Severity, const std::string& Message) override;
  void BuildHistogram(TColormapHistogram& Histogram) override;
  void ApplyRemap(const TColormapReverse& Remap) override;
  bool Optimize() override;
  void Changed() override;

 private:
  TGIFSubImage* FFrame;
};

}  // namespace gif
