#pragma once
// Items and lists of a GIF stream, and the header (signature, logical screen descriptor,
// global colour table).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gif/ColorMap.h"
#include "gif/Utils.h"
#include "platform/rtl/Classes.h"

namespace gif {

class TGIFImage;
class TGIFExtension;

// The lowest GIF version an item needs.
enum TGIFVersion : std::uint8_t { gvUnknown = 0, gv87a = 1, gv89a = 2 };

// A block of a GIF stream kept in memory; it belongs to one image, which receives its warnings.
class TGIFItem : public TPersistent {
 public:
  explicit TGIFItem(TGIFImage* Image) : FImage(Image) {}
  ~TGIFItem() override = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;

  TGIFImage* Image() const { return FImage; }

  virtual TGIFVersion RequiredVersion() { return gv87a; }
  virtual void ReportWarning(int Severity, const std::string& Message);
  virtual void SaveToStream(TStream* Stream) = 0;
  virtual void LoadFromStream(TStream* Stream) = 0;
  virtual void SaveToFile(const std::string& FileName);
  virtual void LoadFromFile(const std::string& FileName);

 protected:
  TGIFImage* FImage;
};

// An ordered collection of items that it owns.
class TGIFList : public TPersistent {
 public:
  explicit TGIFList(TGIFImage* Image) : FImage(Image) {}
  ~TGIFList() override;
  TGIFList(const TGIFList&) = delete;
  TGIFList& operator=(const TGIFList&) = delete;

  TGIFImage* Image() const { return FImage; }

  virtual void ReportWarning(int Severity, const std::string& Message);
  virtual void SaveToStream(TStream* Stream);
  virtual void LoadFromStream(TStream* Stream, TObject* Parent) = 0;

  // Index errors raise EListError "List index out of bounds (<index>)".
  TGIFItem* ItemAt(int Index) const;
  int Count() const { return static_cast<int>(FItems.size()); }
  int Add(TGIFItem* Item);  // takes ownership; returns the new index
  // Frees every item, first to last, in time linear in their number.
  void Clear();
  void Delete(int Index);       // takes the item out, then frees it
  int Remove(TGIFItem* Item);   // takes it out without freeing; its former index or -1
  int IndexOf(const TGIFItem* Item) const;

  // Items visited by searches and moved by removals, in all lists together (a measure of work).
  static std::int64_t ItemSteps() { return FItemSteps.load(std::memory_order_relaxed); }

 protected:
  TGIFImage* FImage;
  std::vector<TGIFItem*> FItems;

 private:
  static void CountSteps(std::int64_t N) { FItemSteps.fetch_add(N, std::memory_order_relaxed); }
  static inline std::atomic<std::int64_t> FItemSteps{0};
  // The item being freed by Delete or Clear: it is out of the list already when its destructor
  // asks to be removed.
  const TGIFItem* FFreeing{nullptr};
};

// The extensions in front of one frame, in stream order.
class TGIFExtensionList : public TGIFList {
 public:
  using TGIFList::TGIFList;
  TGIFExtension* ExtensionAt(int Index) const;
  // Parent must be the frame (TGIFSubImage); reads "!" blocks up to the next "," or ";",
  // which is left unread.
  void LoadFromStream(TStream* Stream, TObject* Parent) override;
};

// Signature, logical screen descriptor and global colour table.
class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* Image);
  ~TGIFHeader() override;

  void Clear();
  void Assign(TPersistent* Source) override;
  TGIFVersion RequiredVersion() override;
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;

  TGIFGlobalColorMap* ColorMap() const { return FColorMap.get(); }
  TColor BackColor();
  int PixelBits() const { return FColorMap->TableBits(); }
  int ColorResolutionBits() const { return FColorMap->TableBits() - 1; }
  void PrepareDescriptor();

  // The 7 descriptor bytes, as stored.
  const std::array<std::uint8_t, 7>& Descriptor() const { return FDescriptor; }
  int Width() const { return FDescriptor[0] | (FDescriptor[1] << 8); }
  int Height() const { return FDescriptor[2] | (FDescriptor[3] << 8); }
  void SetWidth(int Value);
  void SetHeight(int Value);
  std::uint8_t Packed() const { return FDescriptor[4]; }
  std::uint8_t BackgroundColorIndex() const { return FDescriptor[5]; }
  void SetBackgroundColorIndex(std::uint8_t Value) { FDescriptor[5] = Value; }
  std::uint8_t AspectRatio() const { return FDescriptor[6]; }
  void SetAspectRatio(std::uint8_t Value) { FDescriptor[6] = Value; }

 private:
  std::array<std::uint8_t, 7> FDescriptor{};
  std::unique_ptr<TGIFGlobalColorMap> FColorMap;
};

}  // namespace gif
