#pragma once
// Application extensions (identifier + authentication code), the looping extension, unknown
// application data kept byte for byte, and the frame list of an image.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gif/Extensions.h"
#include "gif/Frame.h"
#include "gif/Items.h"

namespace gif {

using TGIFApplicationRec = std::array<std::uint8_t, 11>;  // identifier (8) + authentication code (3)

class TGIFApplicationExtension : public TGIFExtension {
 public:
  explicit TGIFApplicationExtension(TGIFSubImage* Frame);

  static TGIFExtensionClass StaticClass();
  std::uint8_t ExtensionLabel() const override { return 0xFF; }
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;

  // Identifier and authentication code, read, written and compared as one 11-byte block.
  const TGIFApplicationRec& Application() const { return FApplication; }
  void SetApplication(const TGIFApplicationRec& Value) { FApplication = Value; }
  std::string AppIdentifier() const { return std::string(FApplication.begin(), FApplication.begin() + 8); }
  std::string AppAuthCode() const { return std::string(FApplication.begin() + 8, FApplication.end()); }

  virtual void SaveAppData(TStream* Stream) = 0;
  virtual void LoadAppData(TStream* Stream) = 0;

 protected:
  static TGIFExtensionClass Resolve(TGIFExtensionClass Self, TStream* Stream);

  TGIFApplicationRec FApplication{};
  // A block of another size than 11 is written back as it was read: its size byte and, beyond
  // the 11 key bytes, the bytes that follow them.
  std::uint8_t FBlockSize{11};
  std::vector<std::uint8_t> FBlockTail;
};

// One data sub-block.
class TGIFBlock : public TObject {
 public:
  explicit TGIFBlock(std::uint8_t Size) : FData(Size, 0) {}
  std::uint8_t BlockSize() const { return static_cast<std::uint8_t>(FData.size()); }
  const std::uint8_t* BlockData() const { return FData.data(); }
  std::uint8_t* BlockData() { return FData.data(); }
  void SaveToStream(TStream* Stream);
  void LoadFromStream(TStream* Stream);  // exactly BlockSize bytes

 private:
  std::vector<std::uint8_t> FData;
};

// An application this library does not know: its sub-blocks are kept as they are.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  explicit TGIFUnknownAppExtension(TGIFSubImage* Frame);
  ~TGIFUnknownAppExtension() override;

  static TGIFExtensionClass StaticClass();
  TGIFExtensionClass ClassType() const override { return StaticClass(); }
  void SaveAppData(TStream* Stream) override;
  void LoadAppData(TStream* Stream) override;

  const std::vector<std::unique_ptr<TGIFBlock>>& Blocks() const { return FBlocks; }

 private:
  std::vector<std::unique_ptr<TGIFBlock>> FBlocks;
};

// The looping extension ("NETSCAPE2.0", also read as "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* Frame);

  static TGIFExtensionClass StaticClass();
  TGIFExtensionClass ClassType() const override { return StaticClass(); }
  void SaveAppData(TStream* Stream) override;
  void LoadAppData(TStream* Stream) override;

  std::uint16_t LoopCount() const { return FLoops; }
  void SetLoopCount(std::uint16_t Value) { FLoops = Value; }
  std::uint32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(std::uint32_t Value) { FBufferSize = Value; }

 private:
  std::uint16_t FLoops{0};
  std::uint32_t FBufferSize{0};
};

// Identifier + authentication code -> class, searched from the newest registration.
class TAppExtensionList : public TObject {
 public:
  void Register(const TGIFApplicationRec& Key, TGIFExtensionClass Class);
  TGIFExtensionClass FindByIdentifier(const TGIFApplicationRec& Key) const;

 private:
  struct Entry {
    TGIFExtensionClass Class;
    TGIFApplicationRec Key;
  };
  std::vector<Entry> FEntries;
};

TAppExtensionList& AppExtensionRegistry();

// The frames of an image in stream order.
class TGIFImageList : public TGIFList {
 public:
  using TGIFList::TGIFList;
  TGIFSubImage* FrameAt(int Index) const;
  // Parent must be the owning image. Reads the blocks between the header and the trailer.
  void LoadFromStream(TStream* Stream, TObject* Parent) override;
  void SaveToStream(TStream* Stream) override;
};

}  // namespace gif
