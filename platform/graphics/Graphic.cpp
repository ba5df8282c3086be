#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/graphics/Graphics.h"

namespace {

// Classic desktop scheme, index 0..24: red, green, blue.
constexpr BYTE kSystemColors[25][3] = {
    {212, 208, 200}, {58, 110, 165},  {10, 36, 106},   {128, 128, 128}, {212, 208, 200},
    {255, 255, 255}, {0, 0, 0},       {0, 0, 0},       {0, 0, 0},       {255, 255, 255},
    {212, 208, 200}, {212, 208, 200}, {128, 128, 128}, {10, 36, 106},   {255, 255, 255},
    {212, 208, 200}, {128, 128, 128}, {128, 128, 128}, {0, 0, 0},       {212, 208, 200},
    {255, 255, 255}, {64, 64, 64},    {212, 208, 200}, {0, 0, 0},       {255, 255, 225}};

}  // namespace

TColor ColorToRGB(TColor Color) {
  if (Color >= 0) return Color;
  std::uint32_t index = static_cast<std::uint32_t>(Color) & 0xFF;
  if (index >= 25) return clBlack;
  const BYTE* c = kSystemColors[index];
  return static_cast<TColor>(RGB(c[0], c[1], c[2]));
}

TColor PaletteRGB(BYTE R, BYTE G, BYTE B) { return static_cast<TColor>(0x02000000u | RGB(R, G, B)); }

// ---------------------------------------------------------------------------------------------

bool TGraphicClassInfo::InheritsFrom(const TGraphicClassInfo* Base) const {
  for (const TGraphicClassInfo* c = this; c; c = c->Parent)
    if (c == Base) return true;
  return false;
}

TGraphicClass TGraphic::StaticClass() {
  static const TGraphicClassInfo Info{"TGraphic", nullptr, nullptr};
  return &Info;
}

std::unique_ptr<TGraphic> CreateGraphic(TGraphicClass Class) {
  if (!Class || !Class->Create) throw EInvalidGraphic(std::string("Cannot create an abstract graphic (") +
                                                      (Class ? Class->Name : "nil") + ")");
  return Class->Create();
}

void TGraphic::SetPalette(HPALETTE) {}

void TGraphic::SetTransparent(bool Value) {
  if (Value != FTransparent) {
    FTransparent = Value;
    Changed(this);
  }
}

void TGraphic::SetModified(bool Value) {
  if (Value)
    Changed(this);
  else
    FModified = false;
}

void TGraphic::Changed(TObject*) {
  FModified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::Progress(TObject* Sender, TProgressStage Stage, BYTE PercentDone, bool RedrawNow, const TRect& R,
                        const std::string& Msg) {
  if (OnProgress) OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&stream);
}

void TGraphic::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(&stream);
}

void TGraphic::ReadData(TStream* Stream) { LoadFromStream(Stream); }

void TGraphic::WriteData(TStream* Stream) { SaveToStream(Stream); }

bool TGraphic::Equals(TGraphic* Graphic) {
  if (!Graphic || Graphic->ClassType() != ClassType()) return false;
  if (Empty() || Graphic->Empty()) return Empty() && Graphic->Empty();
  TMemoryStream mine, theirs;
  WriteData(&mine);
  Graphic->WriteData(&theirs);
  return mine.Size() == theirs.Size() &&
         (mine.Size() == 0 || std::memcmp(mine.Memory(), theirs.Memory(), static_cast<std::size_t>(mine.Size())) == 0);
}

// ---------------------------------------------------------------------------------------------
// The registry of file and clipboard formats, newest registration last.

namespace {

struct FileFormat {
  std::string Extension;  // lower case, no dot
  std::string Description;
  TGraphicClass Class;
};

struct ClipboardFormat {
  WORD Format;
  TGraphicClass Class;
};

struct Registry {
  std::mutex Lock;
  std::vector<FileFormat> Files;
  std::vector<ClipboardFormat> Clipboard;

  Registry() {
    Files.push_back({"wmf", "Metafiles", TMetafile::StaticClass()});
    Files.push_back({"emf", "Enhanced Metafiles", TMetafile::StaticClass()});
    Files.push_back({"ico", "Icons", TIcon::StaticClass()});
    Files.push_back({"bmp", "Bitmaps", TBitmap::StaticClass()});
    Clipboard.push_back({static_cast<WORD>(CF_BITMAP), TBitmap::StaticClass()});
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::string NormalExtension(const std::string& Extension) {
  std::string e = Extension;
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  return AnsiLowerCase(e);
}

TGraphicClass FindClipboardFormat(WORD Format) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto it = r.Clipboard.rbegin(); it != r.Clipboard.rend(); ++it)
    if (it->Format == Format) return it->Class;
  return nullptr;
}

TGraphicClass FindClassName(const std::string& Name) {
  for (TGraphicClass builtIn : {TBitmap::StaticClass(), TIcon::StaticClass(), TMetafile::StaticClass()})
    if (Name == builtIn->Name) return builtIn;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it)
    if (Name == it->Class->Name) return it->Class;
  for (auto it = r.Clipboard.rbegin(); it != r.Clipboard.rend(); ++it)
    if (Name == it->Class->Name) return it->Class;
  return nullptr;
}

}  // namespace

void TPicture::RegisterFileFormat(const std::string& AExtension, const std::string& ADescription,
                                  TGraphicClass AGraphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Files.push_back({NormalExtension(AExtension), ADescription, AGraphicClass});
}

void TPicture::RegisterClipboardFormat(WORD AFormat, TGraphicClass AGraphicClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Clipboard.push_back({AFormat, AGraphicClass});
}

void TPicture::UnregisterGraphicClass(TGraphicClass AClass) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  std::erase_if(r.Files, [&](const FileFormat& f) { return f.Class->InheritsFrom(AClass); });
  std::erase_if(r.Clipboard, [&](const ClipboardFormat& f) { return f.Class->InheritsFrom(AClass); });
}

TGraphicClass TPicture::FindFileFormat(const std::string& AExtension) {
  std::string extension = NormalExtension(AExtension);
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  for (auto it = r.Files.rbegin(); it != r.Files.rend(); ++it)
    if (it->Extension == extension) return it->Class;
  return nullptr;
}

bool TPicture::SupportsClipboardFormat(WORD AFormat) { return FindClipboardFormat(AFormat) != nullptr; }

// ---------------------------------------------------------------------------------------------
// TPicture

TPicture::TPicture() = default;

TPicture::~TPicture() {
  if (FGraphic) FGraphic->OnChange = nullptr;
}

void TPicture::Changed(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::TakeGraphic(std::unique_ptr<TGraphic> NewGraphic) {
  if (FGraphic) FGraphic->OnChange = nullptr;
  FGraphic = std::move(NewGraphic);
  if (FGraphic) FGraphic->OnChange = [this](TObject* Sender) { Changed(Sender); };
  Changed(this);
}

void TPicture::SetGraphic(TGraphic* Value) {
  if (!Value) {
    TakeGraphic(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy = CreateGraphic(Value->ClassType());
  copy->Assign(Value);
  TakeGraphic(std::move(copy));
}

void TPicture::SetBitmap(TBitmap* Value) { SetGraphic(Value); }
void TPicture::SetIcon(TIcon* Value) { SetGraphic(Value); }

void TPicture::ForceType(TGraphicClass Class) {
  if (FGraphic && FGraphic->InheritsFrom(Class)) return;
  TakeGraphic(CreateGraphic(Class));
}

TBitmap* TPicture::Bitmap() {
  ForceType(TBitmap::StaticClass());
  return static_cast<TBitmap*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
  ForceType(TIcon::StaticClass());
  return static_cast<TIcon*>(FGraphic.get());
}

int TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::LoadFromFile(const std::string& FileName) {
  std::string extension = ExtractFileExt(FileName);
  if (!extension.empty()) extension.erase(0, 1);
  TGraphicClass graphicClass = FindFileFormat(extension);
  if (!graphicClass) throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
  std::unique_ptr<TGraphic> graphic = CreateGraphic(graphicClass);
  graphic->LoadFromFile(FileName);
  TakeGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& FileName) {
  if (FGraphic) FGraphic->SaveToFile(FileName);
}

void TPicture::LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) {
  TGraphicClass graphicClass = FindClipboardFormat(AFormat);
  if (!graphicClass) throw EInvalidGraphic("Unsupported clipboard format");
  std::unique_ptr<TGraphic> graphic = CreateGraphic(graphicClass);
  graphic->LoadFromClipboardFormat(AFormat, AData, APalette);
  TakeGraphic(std::move(graphic));
}

void TPicture::SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) {
  if (FGraphic) FGraphic->SaveToClipboardFormat(AFormat, AData, APalette);
}

void TPicture::Assign(TPersistent* Source) {
  if (!Source) {
    SetGraphic(nullptr);
  } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
    SetGraphic(picture->Graphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(Source);
  }
}

void TPicture::ReadData(TStream* Stream) {
  BYTE length = 0;
  Stream->ReadBuffer(&length, 1);
  std::string name(length, '\0');
  if (length) Stream->ReadBuffer(name.data(), length);
  if (name.empty()) {
    TakeGraphic(nullptr);
    return;
  }
  TGraphicClass graphicClass = FindClassName(name);
  if (!graphicClass) throw EInvalidGraphic("Unknown picture class (" + name + ")");
  std::unique_ptr<TGraphic> graphic = CreateGraphic(graphicClass);
  graphic->ReadData(Stream);
  TakeGraphic(std::move(graphic));
}

void TPicture::WriteData(TStream* Stream) {
  std::string name = FGraphic ? std::string(FGraphic->ClassType()->Name) : std::string();
  BYTE length = static_cast<BYTE>(std::min<std::size_t>(name.size(), 255));
  Stream->WriteBuffer(&length, 1);
  if (length) Stream->WriteBuffer(name.data(), length);
  if (FGraphic) FGraphic->WriteData(Stream);
}
