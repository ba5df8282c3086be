#pragma once
// Extension blocks: the label registry, the extension base class, and the graphic control,
// plain text and comment extensions.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gif/Items.h"

namespace gif {

class TGIFSubImage;
class TGIFExtension;

// Class reference of an extension class (the stand-in for virtual constructors and class-level
// virtual operations). Classes compare by address.
struct TGIFExtensionClassInfo {
  const char* Name;
  // Null for an abstract class.
  TGIFExtension* (*Create)(TGIFSubImage* Frame);
  // Given the stream positioned after the label, the class that should really read the block,
  // or null; the base rule answers Self and reads nothing.
  const TGIFExtensionClassInfo* (*ResolveSubclass)(const TGIFExtensionClassInfo* Self, TStream* Stream);
};
using TGIFExtensionClass = const TGIFExtensionClassInfo*;

// Label -> class registry, searched from the newest registration.
class TExtensionList : public TObject {
 public:
  void Register(std::uint8_t Label, TGIFExtensionClass Class);
  TGIFExtensionClass FindByLabel(std::uint8_t Label) const;

 private:
  struct Entry {
    TGIFExtensionClass Class;
    std::uint8_t Label;
  };
  std::vector<Entry> FEntries;
};

// The library's registry, made on first use with the four extension kinds.
TExtensionList& ExtensionRegistry();

// The class for the extension whose label follows at the stream's position (just after "!"),
// refined through ResolveSubclass; the stream position is restored. Null when none.
TGIFExtensionClass ExtensionClassFromStream(TStream* Stream);

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* Frame);
  // Leaves the frame's extension list (without being freed a second time).
  ~TGIFExtension() override;

  static TGIFExtensionClass StaticClass();
  virtual TGIFExtensionClass ClassType() const = 0;
  TGIFSubImage* Frame() const { return FFrame; }

  TGIFVersion RequiredVersion() override { return gv89a; }
  virtual std::uint8_t ExtensionLabel() const = 0;
  // Writes "!" and the label.
  void SaveToStream(TStream* Stream) override;
  // Reads "!" and the label, which must be this class's.
  void LoadFromStream(TStream* Stream) override;

 protected:
  std::uint8_t ReadIntroducer(TStream* Stream);
  static TGIFExtensionClass BaseResolve(TGIFExtensionClass Self, TStream* Stream);

  TGIFSubImage* FFrame;
};

// Transparency, delay, disposal and user input of a frame.
class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  explicit TGIFGraphicControlExtension(TGIFSubImage* Frame);
  ~TGIFGraphicControlExtension() override;

  static TGIFExtensionClass StaticClass();
  TGIFExtensionClass ClassType() const override { return StaticClass(); }
  std::uint8_t ExtensionLabel() const override { return 0xF9; }
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;

  bool IsTransparent() const { return (FData[1] & 0x01) != 0; }
  void SetTransparentFlag(bool Value);
  std::uint8_t TransparentIndex() const { return FData[4]; }
  // An index outside a non-empty effective colour map warns "Invalid color index" and stores 0.
  void SetTransparentIndex(std::uint8_t Index);
  // Stores the index unchecked (colour map remapping).
  void SetTransparentIndexRaw(std::uint8_t Index) { FData[4] = Index; }
  std::uint16_t DelayTime() const { return static_cast<std::uint16_t>(FData[2] | (FData[3] << 8)); }
  void SetDelayTime(std::uint16_t Value) {
    FData[2] = static_cast<std::uint8_t>(Value);
    FData[3] = static_cast<std::uint8_t>(Value >> 8);
  }
  bool WaitsForUserInput() const { return (FData[1] & 0x02) != 0; }
  int DisposalMethod() const { return (FData[1] >> 2) & 7; }
  void SetDisposalMethod(int Value) {
    FData[1] = static_cast<std::uint8_t>((FData[1] & 0xE3) | ((Value * 4) & 0x1C));
  }
  // The block body as held: size, packed, delay (2), transparent index, terminator.
  const std::array<std::uint8_t, 6>& Data() const { return FData; }

 private:
  std::array<std::uint8_t, 6> FData{};
};

// Plain text extension: a text grid with its text.
class TGIFTextExtension : public TGIFExtension {
 public:
  explicit TGIFTextExtension(TGIFSubImage* Frame);
  ~TGIFTextExtension() override;

  static TGIFExtensionClass StaticClass();
  TGIFExtensionClass ClassType() const override { return StaticClass(); }
  std::uint8_t ExtensionLabel() const override { return 0x01; }
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;

  TStrings* Text() const { return FText.get(); }
  // The 13 header bytes as held: size, left, top, width, height, cell width and height,
  // foreground and background colour index.
  const std::array<std::uint8_t, 13>& Data() const { return FData; }
  int Left() const { return Word(1); }
  int Top() const { return Word(3); }
  int GridWidth() const { return Word(5); }
  int GridHeight() const { return Word(7); }
  int CharWidth() const { return FData[9]; }
  int CharHeight() const { return FData[10]; }
  int ForegroundColorIndex() const { return FData[11]; }
  int BackgroundColorIndex() const { return FData[12]; }

 private:
  int Word(int At) const { return FData[At] | (FData[At + 1] << 8); }
  std::unique_ptr<TStringList> FText;
  std::array<std::uint8_t, 13> FData{};
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  explicit TGIFCommentExtension(TGIFSubImage* Frame);
  ~TGIFCommentExtension() override;

  static TGIFExtensionClass StaticClass();
  TGIFExtensionClass ClassType() const override { return StaticClass(); }
  std::uint8_t ExtensionLabel() const override { return 0xFE; }
  void SaveToStream(TStream* Stream) override;
  void LoadFromStream(TStream* Stream) override;

  TStrings* Text() const { return FText.get(); }

 private:
  std::unique_ptr<TStringList> FText;
};

}  // namespace gif
