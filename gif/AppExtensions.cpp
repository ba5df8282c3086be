#include "gif/AppExtensions.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "gif/Image.h"
#include "platform/rtl/Kernel.h"

namespace gif {

namespace {

TGIFApplicationRec MakeKey(const char* Identifier, const char* AuthCode) {
  TGIFApplicationRec Key{};
  std::memcpy(Key.data(), Identifier, 8);
  std::memcpy(Key.data() + 8, AuthCode, 3);
  return Key;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registry

void TAppExtensionList::Register(const TGIFApplicationRec& Key, TGIFExtensionClass Class) {
  FEntries.push_back({Class, Key});
}

TGIFExtensionClass TAppExtensionList::FindByIdentifier(const TGIFApplicationRec& Key) const {
  for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It)
    if (It->Key == Key) return It->Class;
  return nullptr;
}

TAppExtensionList& AppExtensionRegistry() {
  static TAppExtensionList* Registry = [] {
    static TAppExtensionList List;
    List.Register(MakeKey("NETSCAPE", "2.0"), TGIFAppExtNSLoop::StaticClass());
    List.Register(MakeKey("ANIMEXTS", "1.0"), TGIFAppExtNSLoop::StaticClass());
    return &List;
  }();
  return *Registry;
}

// ---------------------------------------------------------------------------------------------
// TGIFApplicationExtension

TGIFApplicationExtension::TGIFApplicationExtension(TGIFSubImage* Frame) : TGIFExtension(Frame) {}

TGIFExtensionClass TGIFApplicationExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{"TGIFApplicationExtension", nullptr, &TGIFApplicationExtension::Resolve};
  return &Info;
}

TGIFExtensionClass TGIFApplicationExtension::Resolve(TGIFExtensionClass Self, TStream* Stream) {
  const std::int64_t Start = Stream->Position();
  std::uint8_t Size = 0;
  if (Stream->Read(&Size, 1) != 1) return nullptr;
  if (Size == 10) {
    std::uint8_t Skip[10];
    if (Stream->Read(Skip, 10) == 10) return TGIFUnknownAppExtension::StaticClass();
    return nullptr;
  }
  if (Size == 11) {
    TGIFApplicationRec Key;
    if (Stream->Read(Key.data(), 11) == 11) {
      TGIFExtensionClass Class = AppExtensionRegistry().FindByIdentifier(Key);
      return Class ? Class : TGIFUnknownAppExtension::StaticClass();
    }
  }
  Stream->SetPosition(Start);
  // The abstract base cannot read a block: other sizes are kept as unknown application data.
  if (Self == TGIFApplicationExtension::StaticClass()) return TGIFUnknownAppExtension::StaticClass();
  return Self;
}

void TGIFApplicationExtension::SaveToStream(TStream* Stream) {
  TGIFExtension::SaveToStream(Stream);
  StreamWriteByte(Stream, FBlockSize);
  // Size 10 ends inside the key: its 11th byte is the first byte of the data.
  Stream->WriteBuffer(FApplication.data(), FBlockSize == 10 ? 10 : 11);
  if (!FBlockTail.empty()) Stream->WriteBuffer(FBlockTail.data(), static_cast<std::int64_t>(FBlockTail.size()));
  SaveAppData(Stream);
}

void TGIFApplicationExtension::LoadFromStream(TStream* Stream) {
  TGIFExtension::LoadFromStream(Stream);
  std::uint8_t Size = 0;
  StreamReadExact(Stream, &Size, 1);
  if (Size < 10) RaiseGIFError("Unsupported Application Extension block size");
  StreamReadExact(Stream, FApplication.data(), 11);
  FBlockSize = Size;
  FBlockTail.clear();
  if (Size == 10) {
    Stream->Seek(-1, soFromCurrent);
  } else if (Size > 11) {
    FBlockTail.resize(Size - 11);
    StreamReadExact(Stream, FBlockTail.data(), static_cast<std::int64_t>(FBlockTail.size()));
  }
  LoadAppData(Stream);
}

// ---------------------------------------------------------------------------------------------
// TGIFBlock

void TGIFBlock::SaveToStream(TStream* Stream) {
  StreamWriteByte(Stream, BlockSize());
  Stream->WriteBuffer(FData.data(), static_cast<std::int64_t>(FData.size()));
}

void TGIFBlock::LoadFromStream(TStream* Stream) {
  StreamReadExact(Stream, FData.data(), static_cast<std::int64_t>(FData.size()));
}

// ---------------------------------------------------------------------------------------------
// TGIFUnknownAppExtension

TGIFUnknownAppExtension::TGIFUnknownAppExtension(TGIFSubImage* Frame) : TGIFApplicationExtension(Frame) {}

TGIFUnknownAppExtension::~TGIFUnknownAppExtension() = default;

TGIFExtensionClass TGIFUnknownAppExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{
      "TGIFUnknownAppExtension",
      [](TGIFSubImage* Frame) -> TGIFExtension* { return new TGIFUnknownAppExtension(Frame); },
      &TGIFApplicationExtension::Resolve};
  return &Info;
}

void TGIFUnknownAppExtension::SaveAppData(TStream* Stream) {
  for (const auto& Block : FBlocks) Block->SaveToStream(Stream);
  StreamWriteByte(Stream, 0);
}

void TGIFUnknownAppExtension::LoadAppData(TStream* Stream) {
  FBlocks.clear();
  for (;;) {
    std::uint8_t Size = 0;
    if (Stream->Read(&Size, 1) != 1 || Size == 0) break;
    auto Block = std::make_unique<TGIFBlock>(Size);
    Block->LoadFromStream(Stream);
    FBlocks.push_back(std::move(Block));
  }
}

// ---------------------------------------------------------------------------------------------
// TGIFAppExtNSLoop

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* Frame) : TGIFApplicationExtension(Frame) {
  FApplication = MakeKey("NETSCAPE", "2.0");
}

TGIFExtensionClass TGIFAppExtNSLoop::StaticClass() {
  static const TGIFExtensionClassInfo Info{
      "TGIFAppExtNSLoop", [](TGIFSubImage* Frame) -> TGIFExtension* { return new TGIFAppExtNSLoop(Frame); },
      &TGIFApplicationExtension::Resolve};
  return &Info;
}

void TGIFAppExtNSLoop::SaveAppData(TStream* Stream) {
  const std::uint8_t Loop[4] = {3, 1, static_cast<std::uint8_t>(FLoops), static_cast<std::uint8_t>(FLoops >> 8)};
  Stream->WriteBuffer(Loop, 4);
  if (FBufferSize != 0) {
    const std::uint8_t Buffer[6] = {5,
                                    2,
                                    static_cast<std::uint8_t>(FBufferSize),
                                    static_cast<std::uint8_t>(FBufferSize >> 8),
                                    static_cast<std::uint8_t>(FBufferSize >> 16),
                                    static_cast<std::uint8_t>(FBufferSize >> 24)};
    Stream->WriteBuffer(Buffer, 6);
  }
  StreamWriteByte(Stream, 0);
}

void TGIFAppExtNSLoop::LoadAppData(TStream* Stream) {
  for (;;) {
    std::uint8_t Size = 0;
    if (Stream->Read(&Size, 1) != 1 || Size == 0) break;
    std::uint8_t Id = 0;
    StreamReadExact(Stream, &Id, 1);
    if ((Id & 7) == 1) {
      if (Size < 3) RaiseGIFError("Invalid GIF data");
      std::uint8_t V[2];
      StreamReadExact(Stream, V, 2);
      FLoops = static_cast<std::uint16_t>(V[0] | (V[1] << 8));
      Stream->Seek(Size - 3, soFromCurrent);
    } else if ((Id & 7) == 2) {
      if (Size < 5) RaiseGIFError("Invalid GIF data");
      std::uint8_t V[4];
      StreamReadExact(Stream, V, 4);
      FBufferSize = static_cast<std::uint32_t>(V[0]) | (static_cast<std::uint32_t>(V[1]) << 8) |
                    (static_cast<std::uint32_t>(V[2]) << 16) | (static_cast<std::uint32_t>(V[3]) << 24);
      Stream->Seek(Size - 5, soFromCurrent);
    } else {
      Stream->Seek(Size - 1, soFromCurrent);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TGIFImageList

TGIFSubImage* TGIFImageList::FrameAt(int Index) const { return static_cast<TGIFSubImage*>(ItemAt(Index)); }

void TGIFImageList::LoadFromStream(TStream* Stream, TObject* Parent) {
  auto* Image = dynamic_cast<TGIFImage*>(Parent);
  if (!Image) throw EInvalidCast();
  auto NextBlockByte = [Stream](std::uint8_t& B) {
    do {
      if (Stream->Read(&B, 1) != 1) return false;
    } while (B == 0);
    return true;
  };
  std::uint8_t B = 0;
  if (!NextBlockByte(B)) return;
  while (B != ';') {
    Stream->Seek(-1, soFromCurrent);
    if (B != '!' && B != ',') {
      // The stream is left on the unknown byte, where the trailer check meets it.
      ReportWarning(1, "Unknown GIF block type");
      return;
    }
    std::unique_ptr<TGIFSubImage> Frame = std::make_unique<TGIFSubImage>(Image);
    Frame->LoadFromStream(Stream);
    Add(Frame.release());
    const std::int64_t Size = Stream->Size();
    const int Percent = Size > 0 ? static_cast<int>((Stream->Position() * 100 + Size / 2) / Size) : 0;
    Image->Progress(this, psRunning, static_cast<BYTE>(std::clamp(Percent, 0, 100)), RenderFramesOnLoad, TRect{},
                    "Loading...");
    if (!NextBlockByte(B)) return;
  }
  Stream->Seek(-1, soFromCurrent);
}

void TGIFImageList::SaveToStream(TStream* Stream) {
  const int Total = Count();
  for (int i = 0; i < Total; ++i) {
    FrameAt(i)->SaveToStream(Stream);
    FImage->Progress(this, psRunning, static_cast<BYTE>(MulDiv(i + 1, 100, Total)), false, TRect{}, "Saving...");
  }
}

}  // namespace gif
