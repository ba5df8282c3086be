#include "gif/Extensions.h"

#include <memory>

#include "gif/AppExtensions.h"
#include "gif/Frame.h"
#include "gif/Image.h"

namespace gif {

// ---------------------------------------------------------------------------------------------
// Registry

void TExtensionList::Register(std::uint8_t Label, TGIFExtensionClass Class) { FEntries.push_back({Class, Label}); }

TGIFExtensionClass TExtensionList::FindByLabel(std::uint8_t Label) const {
  for (auto It = FEntries.rbegin(); It != FEntries.rend(); ++It)
    if (It->Label == Label) return It->Class;
  return nullptr;
}

TExtensionList& ExtensionRegistry() {
  static TExtensionList* Registry = [] {
    static TExtensionList List;
    List.Register(0x01, TGIFTextExtension::StaticClass());
    List.Register(0xF9, TGIFGraphicControlExtension::StaticClass());
    List.Register(0xFE, TGIFCommentExtension::StaticClass());
    List.Register(0xFF, TGIFApplicationExtension::StaticClass());
    return &List;
  }();
  return *Registry;
}

TGIFExtensionClass ExtensionClassFromStream(TStream* Stream) {
  const std::int64_t Start = Stream->Position();
  TGIFExtensionClass Class = nullptr;
  std::uint8_t Label = 0;
  if (Stream->Read(&Label, 1) == 1) Class = ExtensionRegistry().FindByLabel(Label);
  while (Class) {
    TGIFExtensionClass Answer = Class->ResolveSubclass(Class, Stream);
    if (Answer == Class) break;
    Class = Answer;
  }
  Stream->SetPosition(Start);
  return Class;
}

// ---------------------------------------------------------------------------------------------
// TGIFExtension

TGIFExtension::TGIFExtension(TGIFSubImage* Frame) : TGIFItem(Frame ? Frame->Image() : nullptr), FFrame(Frame) {}

TGIFExtension::~TGIFExtension() {
  if (FFrame) FFrame->Extensions().Remove(this);
}

TGIFExtensionClass TGIFExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{"TGIFExtension", nullptr, &TGIFExtension::BaseResolve};
  return &Info;
}

TGIFExtensionClass TGIFExtension::BaseResolve(TGIFExtensionClass Self, TStream*) { return Self; }

void TGIFExtension::SaveToStream(TStream* Stream) {
  const std::uint8_t Header[2] = {'!', ExtensionLabel()};
  Stream->WriteBuffer(Header, 2);
}

std::uint8_t TGIFExtension::ReadIntroducer(TStream* Stream) {
  std::uint8_t Header[2];
  StreamReadExact(Stream, Header, 2);
  if (Header[0] != '!') RaiseGIFError("Invalid extension introducer");
  return Header[1];
}

void TGIFExtension::LoadFromStream(TStream* Stream) {
  if (ReadIntroducer(Stream) != ExtensionLabel())
    RaiseGIFError("Internal error: Extension Instance does not match Extension Label");
}

// ---------------------------------------------------------------------------------------------
// Graphic control extension

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* Frame) : TGIFExtension(Frame) {
  FData[0] = 4;
  if (FFrame && !FFrame->FGCE) FFrame->FGCE = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (FFrame) {
    if (IsTransparent()) FFrame->FTransparent = false;
    if (FFrame->FGCE == this) FFrame->FGCE = nullptr;
  }
}

TGIFExtensionClass TGIFGraphicControlExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{
      "TGIFGraphicControlExtension",
      [](TGIFSubImage* Frame) -> TGIFExtension* { return new TGIFGraphicControlExtension(Frame); },
      &TGIFExtension::BaseResolve};
  return &Info;
}

void TGIFGraphicControlExtension::SetTransparentFlag(bool Value) {
  if (Value)
    FData[1] |= 0x01;
  else
    FData[1] &= 0xFE;
  if (FFrame) FFrame->FTransparent = Value;
}

void TGIFGraphicControlExtension::SetTransparentIndex(std::uint8_t Index) {
  TGIFColorMap* Map = FFrame ? FFrame->EffectiveColorMap() : nullptr;
  if (Map && Map->Count() > 0 && Index >= Map->Count()) {
    ReportWarning(1, "Invalid color index");
    Index = 0;
  }
  FData[4] = Index;
}

void TGIFGraphicControlExtension::SaveToStream(TStream* Stream) {
  TGIFExtension::SaveToStream(Stream);
  Stream->WriteBuffer(FData.data(), 6);
}

void TGIFGraphicControlExtension::LoadFromStream(TStream* Stream) {
  TGIFExtension::LoadFromStream(Stream);
  // The block is read as its size byte says: the fields it holds (at most 4 bytes used), then
  // the sub-blocks up to the terminator. It is written back as the standard 4-byte block.
  std::uint8_t Size = 0;
  if (Stream->Read(&Size, 1) != 1) {
    ReportWarning(1, "Premature end of data");
    return;
  }
  std::uint8_t Body[255] = {};
  if (Stream->Read(Body, Size) != Size) {
    ReportWarning(1, "Premature end of data");
    return;
  }
  FData[0] = 4;
  for (int i = 0; i < 4; ++i) FData[1 + i] = i < Size ? Body[i] : 0;
  FData[5] = 0;
  for (;;) {
    std::uint8_t Len = 0;
    if (Stream->Read(&Len, 1) != 1) {
      ReportWarning(1, "Premature end of data");
      return;
    }
    if (Len == 0) break;
    if (Stream->Read(Body, Len) != Len) {
      ReportWarning(1, "Premature end of data");
      return;
    }
  }
  if (IsTransparent() && FFrame) FFrame->FTransparent = true;
}

// ---------------------------------------------------------------------------------------------
// Plain text extension

TGIFTextExtension::TGIFTextExtension(TGIFSubImage* Frame)
    : TGIFExtension(Frame), FText(std::make_unique<TStringList>()) {
  FData[0] = 12;
}

TGIFTextExtension::~TGIFTextExtension() = default;

TGIFExtensionClass TGIFTextExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{
      "TGIFTextExtension", [](TGIFSubImage* Frame) -> TGIFExtension* { return new TGIFTextExtension(Frame); },
      &TGIFExtension::BaseResolve};
  return &Info;
}

void TGIFTextExtension::SaveToStream(TStream* Stream) {
  TGIFExtension::SaveToStream(Stream);
  Stream->WriteBuffer(FData.data(), 13);
  WriteSubBlockText(Stream, FText.get());
}

void TGIFTextExtension::LoadFromStream(TStream* Stream) {
  TGIFExtension::LoadFromStream(Stream);
  StreamReadExact(Stream, FData.data(), 13);
  ReadSubBlockText(Stream, FText.get());
}

// ---------------------------------------------------------------------------------------------
// Comment extension

TGIFCommentExtension::TGIFCommentExtension(TGIFSubImage* Frame)
    : TGIFExtension(Frame), FText(std::make_unique<TStringList>()) {}

TGIFCommentExtension::~TGIFCommentExtension() = default;

TGIFExtensionClass TGIFCommentExtension::StaticClass() {
  static const TGIFExtensionClassInfo Info{
      "TGIFCommentExtension", [](TGIFSubImage* Frame) -> TGIFExtension* { return new TGIFCommentExtension(Frame); },
      &TGIFExtension::BaseResolve};
  return &Info;
}

void TGIFCommentExtension::SaveToStream(TStream* Stream) {
  TGIFExtension::SaveToStream(Stream);
  WriteSubBlockText(Stream, FText.get());
}

void TGIFCommentExtension::LoadFromStream(TStream* Stream) {
  TGIFExtension::LoadFromStream(Stream);
  ReadSubBlockText(Stream, FText.get());
}

}  // namespace gif
