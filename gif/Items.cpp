#include "gif/Items.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "gif/Extensions.h"
#include "gif/Frame.h"
#include "gif/Image.h"

namespace gif {

// ---------------------------------------------------------------------------------------------
// TGIFItem

void TGIFItem::ReportWarning(int Severity, const std::string& Message) {
  if (FImage) FImage->ReportWarning(this, Severity, Message);
}

void TGIFItem::SaveToFile(const std::string& FileName) {
  TFileStream Stream(FileName, fmCreate);
  SaveToStream(&Stream);
}

void TGIFItem::LoadFromFile(const std::string& FileName) {
  TFileStream Stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&Stream);
}

// ---------------------------------------------------------------------------------------------
// TGIFList

TGIFList::~TGIFList() { Clear(); }

void TGIFList::ReportWarning(int Severity, const std::string& Message) {
  if (FImage) FImage->ReportWarning(this, Severity, Message);
}

void TGIFList::SaveToStream(TStream* Stream) {
  for (TGIFItem* Item : FItems) Item->SaveToStream(Stream);
}

TGIFItem* TGIFList::ItemAt(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", Index));
  return FItems[static_cast<std::size_t>(Index)];
}

int TGIFList::Add(TGIFItem* Item) {
  FItems.push_back(Item);
  return Count() - 1;
}

void TGIFList::Clear() {
  // All items leave the list at once and are then freed in order; items added meanwhile (by a
  // destructor) are freed in a further round.
  while (!FItems.empty()) {
    std::vector<TGIFItem*> Items;
    Items.swap(FItems);
    for (TGIFItem* Item : Items) {
      FFreeing = Item;
      delete Item;
    }
    FFreeing = nullptr;
  }
}

void TGIFList::Delete(int Index) {
  TGIFItem* Item = ItemAt(Index);
  CountSteps(Count() - Index - 1);
  FItems.erase(FItems.begin() + Index);
  FFreeing = Item;
  struct Reset {
    const TGIFItem*& Freeing;
    ~Reset() { Freeing = nullptr; }
  } Guard{FFreeing};
  delete Item;
}

int TGIFList::Remove(TGIFItem* Item) {
  if (Item == FFreeing) return -1;
  const int Index = IndexOf(Item);
  if (Index >= 0) {
    CountSteps(Count() - Index - 1);
    FItems.erase(FItems.begin() + Index);
  }
  return Index;
}

int TGIFList::IndexOf(const TGIFItem* Item) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i] == Item) {
      CountSteps(static_cast<std::int64_t>(i + 1));
      return static_cast<int>(i);
    }
  CountSteps(static_cast<std::int64_t>(FItems.size()));
  return -1;
}

// ---------------------------------------------------------------------------------------------
// TGIFExtensionList

TGIFExtension* TGIFExtensionList::ExtensionAt(int Index) const {
  return static_cast<TGIFExtension*>(ItemAt(Index));
}

void TGIFExtensionList::LoadFromStream(TStream* Stream, TObject* Parent) {
  auto* Frame = dynamic_cast<TGIFSubImage*>(Parent);
  if (!Frame) throw EInvalidCast();
  std::uint8_t B = 0;
  if (Stream->Read(&B, 1) != 1) return;
  while (B != ',' && B != ';') {
    if (B != '!') {
      ReportWarning(1, "Invalid extension introducer");
      break;
    }
    TGIFExtensionClass Class = ExtensionClassFromStream(Stream);
    if (!Class || !Class->Create) RaiseGIFError("Unknown extension type");
    Stream->Seek(-1, soFromCurrent);
    std::unique_ptr<TGIFExtension> Extension(Class->Create(Frame));
    Extension->LoadFromStream(Stream);
    Add(Extension.release());
    if (Stream->Read(&B, 1) != 1) return;
  }
  Stream->Seek(-1, soFromCurrent);
}

// ---------------------------------------------------------------------------------------------
// TGIFHeader

TGIFHeader::TGIFHeader(TGIFImage* Image) : TGIFItem(Image), FColorMap(std::make_unique<TGIFGlobalColorMap>(this)) {
  Clear();
}

TGIFHeader::~TGIFHeader() { FColorMap.reset(); }

void TGIFHeader::Clear() {
  FColorMap->Clear();
  FDescriptor.fill(0);
}

void TGIFHeader::Assign(TPersistent* Source) {
  if (auto* Header = dynamic_cast<TGIFHeader*>(Source)) {
    if (Header == this) return;
    FColorMap->Assign(Header->FColorMap.get());
    FDescriptor = Header->FDescriptor;
    return;
  }
  if (auto* Map = dynamic_cast<TGIFColorMap*>(Source)) {
    Clear();
    FColorMap->Assign(Map);
    return;
  }
  TGIFItem::Assign(Source);
}

TGIFVersion TGIFHeader::RequiredVersion() {
  if (FColorMap->Sorted() || AspectRatio() != 0) return gv89a;
  return TGIFItem::RequiredVersion();
}

TColor TGIFHeader::BackColor() { return FColorMap->ColorAt(BackgroundColorIndex()); }

void TGIFHeader::SetWidth(int Value) {
  FDescriptor[0] = static_cast<std::uint8_t>(Value);
  FDescriptor[1] = static_cast<std::uint8_t>(Value >> 8);
}

void TGIFHeader::SetHeight(int Value) {
  FDescriptor[2] = static_cast<std::uint8_t>(Value);
  FDescriptor[3] = static_cast<std::uint8_t>(Value >> 8);
}

void TGIFHeader::PrepareDescriptor() {
  std::uint8_t Packed = 0;
  if (FColorMap->Count() > 0) Packed = FColorMap->Sorted() ? 0x88 : 0x80;
  const int Resolution = FImage ? FImage->ColorResolutionBits() : ColorResolutionBits();
  int Bits = FImage ? FImage->PixelBits() : PixelBits();
  if (FImage && FColorMap->Count() > 0) {
    // The table is written at its own size, or as far as the frames on it have pixels (its
    // further entries black): a larger local table does not pad it.
    int Needed = FColorMap->TableBits();
    for (int i = 0; i < FImage->Images().Count() && Needed < Bits; ++i) {
      TGIFSubImage* Frame = FImage->Images().FrameAt(i);
      if (Frame->ColorMap()->Count() == 0 && !Frame->IsEmpty())
        Needed = std::max(Needed, IndexBits(Frame->Data(), Frame->DataSize()));
    }
    Bits = std::min(Bits, Needed);
  }
  Packed |= static_cast<std::uint8_t>((Resolution << 4) & 0x70);
  Packed |= static_cast<std::uint8_t>((Bits - 1) & 7);
  FDescriptor[4] = Packed;
}

void TGIFHeader::SaveToStream(TStream* Stream) {
  const TGIFVersion Version = FImage ? FImage->RequiredVersion() : gvUnknown;
  if (Version == gvUnknown) RaiseGIFError("Unsupported GIF version");
  static const char* const Versions[] = {"87a", "89a"};
  char Signature[6] = {'G', 'I', 'F', 0, 0, 0};
  std::memcpy(Signature + 3, Versions[Version - 1], 3);
  PrepareDescriptor();
  Stream->WriteBuffer(Signature, 6);
  Stream->WriteBuffer(FDescriptor.data(), 7);
  // The table is written at the size the descriptor declares, which may exceed the table's
  // own when a frame's table needs more bits.
  if (FDescriptor[4] & 0x80) FColorMap->WriteToStream(Stream, (FDescriptor[4] & 7) + 1);
}

void TGIFHeader::LoadFromStream(TStream* Stream) {
  auto IsGIF = [](const char* S) {
    return std::toupper(static_cast<unsigned char>(S[0])) == 'G' &&
           std::toupper(static_cast<unsigned char>(S[1])) == 'I' &&
           std::toupper(static_cast<unsigned char>(S[2])) == 'F';
  };
  const std::int64_t Start = Stream->Position();
  char Signature[6];
  StreamReadExact(Stream, Signature, 6);
  if (!IsGIF(Signature)) {
    Stream->SetPosition(Start);
    Stream->Seek(4, soFromCurrent);
    StreamReadExact(Stream, Signature, 6);
    if (!IsGIF(Signature)) RaiseGIFError("Invalid GIF signature");
  }
  StreamReadExact(Stream, FDescriptor.data(), 7);
  if (FDescriptor[4] & 0x80)
    FColorMap->ReadFromStream(Stream, 2 << (FDescriptor[4] & 7));
  else
    FColorMap->Clear();
}

}  // namespace gif
