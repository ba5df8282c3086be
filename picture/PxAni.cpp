#include "picture/PxAni.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "picture/PxDibConvert.h"
#include "picture/PxGraphUtils.h"
#include "platform/graphics/DibFormat.h"
#include "platform/graphics/Jpeg.h"

namespace px {

IMPLEMENT_GRAPHIC_CLASS(TPxAni, TGraphic)

namespace {

using TFourCC = std::array<char, 4>;

constexpr TFourCC FourCC(const char (&Text)[5]) { return {Text[0], Text[1], Text[2], Text[3]}; }

constexpr std::int64_t PadSize(std::int64_t Size) { return Size + (Size & 1); }

std::int64_t Remaining(TStream* S) { return std::max<std::int64_t>(S->Size() - S->Position(), 0); }

// Clears Id and Size and reads a chunk header; false when fewer than 8 bytes came.
bool RiffReadChunkHeader(TStream* S, TFourCC& Id, std::uint32_t& Size) {
  Id = {0, 0, 0, 0};
  Size = 0;
  std::uint8_t b[8];
  if (S->Read(b, 8) != 8) return false;
  std::memcpy(Id.data(), b, 4);
  Size = GetLE32(b + 4);
  return true;
}

// Moves past Count bytes; false when they go beyond the end of the data.
bool SkipBytes(TStream* S, std::int64_t Count) {
  if (Count > Remaining(S)) {
    S->Seek(0, soFromEnd);
    return false;
  }
  S->Seek(Count, soFromCurrent);
  return true;
}

bool RiffSkipChunk(TStream* S, std::uint32_t Size) { return SkipBytes(S, PadSize(Size)); }

// Zero-fills Capacity bytes of Buffer and reads min(Capacity, Size) of the body into it; false
// when fewer came. Then skips the rest of the body and the pad byte.
bool RiffReadChunkLimited(TStream* S, void* Buffer, std::int64_t Capacity, std::uint32_t Size) {
  if (Capacity > 0) std::memset(Buffer, 0, static_cast<std::size_t>(Capacity));
  const std::int64_t want = std::min<std::int64_t>(Capacity, Size);
  if (S->Read(Buffer, want) != want) return false;
  SkipBytes(S, PadSize(Size) - want);
  return true;
}

// A table of 32-bit entries from a chunk body; false when the body goes beyond the data.
bool ReadTable(TStream* S, std::uint32_t Size, std::vector<std::uint32_t>& Table) {
  const std::int64_t entries = Size / 4;
  if (4 * entries > Remaining(S)) return false;
  std::vector<std::uint32_t> table(static_cast<std::size_t>(entries));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(4 * entries));
  if (!RiffReadChunkLimited(S, bytes.data(), 4 * entries, Size)) return false;
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = GetLE32(bytes.data() + 4 * i);
  Table = std::move(table);
  return true;
}

int ColorsOfBitCount(std::uint16_t BitCount) {
  switch (BitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

// Writes chunks into a memory stream: an id and a size placeholder, the body, the pad byte.
class TRiffWriter {
 public:
  explicit TRiffWriter(TMemoryStream& S) : FStream(S) {}
  void Begin(const TFourCC& Id) {
    FStarts.push_back(FStream.Position());
    FStream.WriteBuffer(Id.data(), 4);
    const std::uint8_t none[4] = {0, 0, 0, 0};
    FStream.WriteBuffer(none, 4);
  }
  void End() {
    const std::int64_t start = FStarts.back();
    FStarts.pop_back();
    const std::int64_t end = FStream.Position();
    const std::int64_t size = end - start - 8;
    std::uint8_t b[4];
    PutLE32(b, static_cast<std::uint32_t>(size));
    FStream.SetPosition(start + 4);
    FStream.WriteBuffer(b, 4);
    FStream.SetPosition(end);
    if (size & 1) {
      const std::uint8_t pad = 0;
      FStream.WriteBuffer(&pad, 1);
    }
  }
  void FourCC(const TFourCC& Id) { FStream.WriteBuffer(Id.data(), 4); }
  void Bytes(const void* P, std::int64_t N) {
    if (N > 0) FStream.WriteBuffer(P, N);
  }
  void Table(const std::vector<std::uint32_t>& T) {
    for (std::uint32_t v : T) {
      std::uint8_t b[4];
      PutLE32(b, v);
      FStream.WriteBuffer(b, 4);
    }
  }

 private:
  TMemoryStream& FStream;
  std::vector<std::int64_t> FStarts;
};

void HeaderFromBytes(TAniHeader& H, const std::uint8_t* B, std::int64_t Count) {
  std::uint32_t fields[9];
  std::memcpy(fields, &H, sizeof fields);
  for (std::int64_t i = 0; i < Count; ++i) {
    const int field = static_cast<int>(i / 4), shift = static_cast<int>(8 * (i % 4));
    fields[field] = (fields[field] & ~(0xFFu << shift)) | static_cast<std::uint32_t>(B[i]) << shift;
  }
  std::memcpy(&H, fields, sizeof fields);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPxIconFrame

TPxIconFrame::TPxIconFrame(std::uint32_t ARate) : Rate(ARate) {}

TPxIconFrame::~TPxIconFrame() {
  if (FOwnsIcon) delete FIcon;
}

void TPxIconFrame::SetIcon(TIcon* Value, bool Owned) {
  if (FOwnsIcon && FIcon != Value) delete FIcon;
  FIcon = Value;
  FOwnsIcon = Owned;
}

void TPxIconFrame::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TPxIconFrame*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  if (!FIcon) SetIcon(new TIcon, true);
  FIcon->Assign(source->FIcon);
  IsIcon = source->IsIcon;
  HotSpotX = source->HotSpotX;
  HotSpotY = source->HotSpotY;
  Rate = source->Rate;
}

// ---------------------------------------------------------------------------------------------
// TPxAni

TPxAni::TPxAni() : FStepView(std::make_unique<TPxIconFrame>(0)), FTimer(std::make_unique<TTimer>()) {
  FTimer->SetEnabled(false);
  FTimer->SetInterval(100);
  FTimer->OnTimer = [this](TObject* Sender) { TimerTick(Sender); };
}

TPxAni::~TPxAni() {
  ResetContents();
  FTimer.reset();
  FStepView->SetIcon(nullptr, false);
}

void TPxAni::RaiseRiffError() { throw EReadError("Stream read error"); }

void TPxAni::ResetContents() {
  FIcons.clear();
  FStepView->SetIcon(nullptr, false);
  FRates.clear();
  FSequence.clear();
  FStepCount = 0;
  FTitle.clear();
  FAuthor.clear();
  FHeader = TAniHeader{};
  FImageColorCount = 0;
  FCurrent = -1;
}

void TPxAni::ClearFrames() {
  if (FIcons.empty()) return;
  ResetContents();
  Changed(this);
}

void TPxAni::Assign(TPersistent* Source) {
  if (!Source) {
    ClearFrames();
    return;
  }
  auto* source = dynamic_cast<TPxAni*>(Source);
  if (!source) {
    TGraphic::Assign(Source);
    return;
  }
  if (source == this) return;
  ClearFrames();
  try {
    FHeader = source->FHeader;
    FTitle = source->FTitle;
    FAuthor = source->FAuthor;
    FImageColorCount = source->FImageColorCount;
    FStepCount = source->FStepCount;
    FRates = source->FRates;
    FSequence = source->FSequence;
    for (const auto& frame : source->FIcons) {
      auto copy = std::make_unique<TPxIconFrame>(source->FHeader.DisplayRate);
      copy->Assign(frame.get());
      FIcons.push_back(std::move(copy));
    }
    FCurrent = source->FCurrent;
    SetAnimating(source->IsAnimating());
  } catch (...) {
    ResetContents();
    throw;
  }
}

void TPxAni::AssignTo(TPersistent* Dest) {
  if (auto* icon = dynamic_cast<TIcon*>(Dest)) {
    TPxIconFrame* frame = FStepCount > 0 ? FrameAt(FCurrent) : nullptr;
    icon->Assign(frame ? frame->Icon() : nullptr);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(Dest)) {
    if (FStepCount == 0)
      bitmap->Assign(nullptr);
    else
      RenderFilmStrip(bitmap, bitmap->Canvas()->Brush()->Color(), false, true);
    return;
  }
  TGraphic::AssignTo(Dest);
}

void TPxAni::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TPxAni::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of an icon"); }
void TPxAni::SetTransparent(bool) {}

void TPxAni::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphicOperation("Clipboard does not support Icons");
}

void TPxAni::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphicOperation("Clipboard does not support Icons");
}

TIcon* TPxAni::IconAt(int Index) const {
  if (Index < 0 || Index >= IconCount()) return nullptr;
  return FIcons[static_cast<std::size_t>(Index)]->Icon();
}

TPxIconFrame* TPxAni::FrameAt(int Step) {
  if (Step < 0 || Step >= FStepCount) return nullptr;
  std::int64_t icon = Step;
  if (!FSequence.empty()) icon = static_cast<std::size_t>(Step) < FSequence.size() ? FSequence[static_cast<std::size_t>(Step)] : -1;
  if (icon < 0 || icon >= IconCount()) throw EListError(Format("List index out of bounds (%lld)", static_cast<long long>(icon)));
  const TPxIconFrame& frame = *FIcons[static_cast<std::size_t>(icon)];
  FStepView->SetIcon(frame.Icon(), false);
  FStepView->IsIcon = frame.IsIcon;
  FStepView->HotSpotX = frame.HotSpotX;
  FStepView->HotSpotY = frame.HotSpotY;
  FStepView->Rate = static_cast<std::size_t>(Step) < FRates.size() ? FRates[static_cast<std::size_t>(Step)] : FHeader.DisplayRate;
  return FStepView.get();
}

void TPxAni::SetFrameIndex(int Step) {
  if (Step < 0 || Step >= FStepCount || Step == FCurrent) return;
  FCurrent = Step;
  Changed(this);
}

void TPxAni::SetAnimating(bool Value) {
  if (FTimer->Enabled() != Value) FTimer->SetEnabled(Value);
}

int TPxAni::GetWidth() {
  TPxIconFrame* frame = FrameAt(FCurrent);
  return frame && frame->Icon() ? frame->Icon()->Width() : 0;
}

int TPxAni::GetHeight() {
  TPxIconFrame* frame = FrameAt(FCurrent);
  return frame && frame->Icon() ? frame->Icon()->Height() : 0;
}

void TPxAni::Draw(TCanvas* ACanvas, const TRect& Rect) {
  if (FIcons.empty() || FCurrent < 0) return;
  TPxIconFrame* frame = FrameAt(FCurrent);
  if (!frame || !frame->Icon() || frame->Icon()->Empty()) return;
  DrawFullSizeIcon(ACanvas, frame->Icon(), Rect.left, Rect.top);
}

void TPxAni::TimerTick(TObject*) {
  FTimer->SetEnabled(false);
  if (FStepCount > 0) SetFrameIndex((FCurrent + 1) % FStepCount);
  ScheduleNextFrame();
  // ScheduleNextFrame switches the animation off when there is no step to show.
  if (FCurrent >= 0) FTimer->SetEnabled(true);
}

void TPxAni::ScheduleNextFrame() {
  TPxIconFrame* frame = FrameAt(FCurrent);
  if (!frame) {
    SetAnimating(false);
    return;
  }
  std::uint64_t interval = static_cast<std::uint64_t>(frame->Rate) * 100 / 6;
  if (interval == 0) interval = 100;
  FTimer->SetInterval(static_cast<UINT>(std::min<std::uint64_t>(interval, INT_MAX)));
}

void TPxAni::CheckFilmStripSize(bool Vertical) {
  if (FIcons.empty()) return;
  const std::int64_t w = IconAt(0)->Width(), h = IconAt(0)->Height();
  const std::int64_t steps = FStepCount;
  const std::int64_t width = Vertical ? w : w * steps, height = Vertical ? h * steps : h;
  if (width > dib::kMaxDimension || height > dib::kMaxDimension ||
      static_cast<std::uint64_t>(width * height) > dib::kMaxPixels)
    RaiseOutOfResources();
}

void TPxAni::RenderFilmStrip(TBitmap* Target, TColor Background, bool Vertical, bool Reduce) {
  TBitmap work;
  if (!FIcons.empty()) {
    CheckFilmStripSize(Vertical);
    work.SetMonochrome(false);
    work.Canvas()->Brush()->SetColor(Background);
    const int w = IconAt(0)->Width(), h = IconAt(0)->Height();
    work.SetWidth(Vertical ? w : w * FStepCount);
    work.SetHeight(Vertical ? h * FStepCount : h);
    work.Canvas()->FillRect(TRect{0, 0, work.Width(), work.Height()});
    const int saved = FCurrent;
    try {
      for (int d = 0; d < FStepCount; ++d) {
        SetFrameIndex(d);
        TPxIconFrame* frame = FrameAt(d);
        const int x = Vertical ? 0 : d * frame->Icon()->Width();
        const int y = Vertical ? d * frame->Icon()->Height() : 0;
        work.Canvas()->Draw(x, y, this);
      }
    } catch (...) {
      SetFrameIndex(saved);
      throw;
    }
    SetFrameIndex(saved);
    if (Reduce) ReduceBitmapColorCount(&work, std::max(FImageColorCount, 16));
  }
  Target->Assign(&work);
}

// ---------------------------------------------------------------------------------------------
// Reading

std::unique_ptr<TIcon> TPxAni::LoadIconChunk(TMemoryStream* Stream, std::uint32_t Size, bool& IsIcon,
                                             std::int32_t& HotX, std::int32_t& HotY) {
  HotX = HotY = 0;
  IsIcon = false;
  if (Size > Remaining(Stream)) {
    Stream->Seek(0, soFromEnd);
    return nullptr;
  }
  TMemoryStream copy;
  copy.SetSize(Size);
  Stream->ReadBuffer(copy.Memory(), Size);
  if (Size < 6) return nullptr;
  auto* data = static_cast<std::uint8_t*>(copy.Memory());
  const std::uint16_t type = GetLE16(data + 2);
  IsIcon = type == 1;
  if (type != 1 && type != 2) return nullptr;
  if (type == 2) PutLE16(data + 2, 1);
  const std::uint32_t count = GetLE16(data + 4);
  for (std::uint32_t e = 0; e < count && 6 + 16 * (e + 1) <= Size; ++e) {
    const std::uint8_t* entry = data + 6 + 16 * e;
    const std::uint64_t offset = GetLE32(entry + 12);
    if (offset + 16 <= Size) FImageColorCount = std::max(FImageColorCount, ColorsOfBitCount(GetLE16(data + offset + 14)));
    HotX = GetLE16(entry + 4);
    HotY = GetLE16(entry + 6);
  }
  auto icon = std::make_unique<TIcon>();
  try {
    icon->LoadFromStream(&copy);
  } catch (const Exception&) {
    return nullptr;
  }
  if (IsIcon) {
    HotX = icon->Width() / 2;
    HotY = icon->Height() / 2;
  }
  return icon;
}

void TPxAni::ReadRiff(TMemoryStream* S) {
  TFourCC id;
  std::uint32_t size = 0;
  TFourCC form{};
  if (!RiffReadChunkHeader(S, id, size) || id != FourCC("RIFF") || S->Read(form.data(), 4) != 4 ||
      form != FourCC("ACON"))
    RaiseRiffError();
  ClearFrames();
  try {
    ReadChunks(S);
  } catch (...) {
    // What was read before the failure stays, but only as a graphic whose every step works.
    FinishRead();
    throw;
  }
  if (!FinishRead()) RaiseRiffError();
}

void TPxAni::ReadChunks(TMemoryStream* S) {
  TFourCC id;
  std::uint32_t size = 0;
  bool reading = true;
  while (reading && RiffReadChunkHeader(S, id, size)) {
    if (id == FourCC("anih")) {
      std::uint8_t bytes[36];
      const std::int64_t n = std::min<std::int64_t>(size, 36);
      if (S->Read(bytes, n) != n) break;
      HeaderFromBytes(FHeader, bytes, n);
      SkipBytes(S, PadSize(size) - n);
      if ((FHeader.Flags & 1) == 0 || FHeader.Icons == 0) RaiseRiffError();
    } else if (id == FourCC("rate")) {
      reading = ReadTable(S, size, FRates);
    } else if (id == FourCC("seq ")) {
      std::vector<std::uint32_t> sequence;
      reading = ReadTable(S, size, sequence) && sequence.size() <= static_cast<std::size_t>(INT_MAX);
      if (reading) {
        FSequence = std::move(sequence);
        FStepCount = static_cast<int>(FSequence.size());
      }
    } else if (id == FourCC("LIST")) {
      std::int64_t remaining = PadSize(size);
      TFourCC type;
      if (S->Read(type.data(), 4) != 4) break;
      remaining -= 4;
      if (type == FourCC("fram")) {
        while (remaining >= 8) {
          TFourCC sub;
          std::uint32_t subSize = 0;
          if (!RiffReadChunkHeader(S, sub, subSize)) break;
          remaining -= 8;
          if (sub == FourCC("icon")) {
            bool isIcon = false;
            std::int32_t hotX = 0, hotY = 0;
            std::unique_ptr<TIcon> icon = LoadIconChunk(S, subSize, isIcon, hotX, hotY);
            if (subSize & 1) SkipBytes(S, 1);
            if (!icon) break;
            auto frame = std::make_unique<TPxIconFrame>(FHeader.DisplayRate);
            frame->SetIcon(icon.release(), true);
            frame->IsIcon = isIcon;
            frame->HotSpotX = hotX;
            frame->HotSpotY = hotY;
            FIcons.push_back(std::move(frame));
          } else if (!RiffSkipChunk(S, subSize)) {
            break;
          }
          remaining -= PadSize(subSize);
        }
      } else if (type == FourCC("INFO")) {
        while (remaining >= 8) {
          TFourCC sub;
          std::uint32_t subSize = 0;
          if (!RiffReadChunkHeader(S, sub, subSize)) break;
          remaining -= 8;
          if (sub == FourCC("INAM") || sub == FourCC("IART")) {
            char text[255];
            if (remaining < subSize || !RiffReadChunkLimited(S, text, sizeof text, subSize)) break;
            (sub == FourCC("INAM") ? FTitle : FAuthor) = std::string(text, strnlen(text, sizeof text));
          } else if (!RiffSkipChunk(S, subSize)) {
            break;
          }
          remaining -= PadSize(subSize);
        }
      } else if (remaining > 0) {
        SkipBytes(S, remaining);
      }
    } else {
      reading = RiffSkipChunk(S, size);
    }
  }

}

bool TPxAni::FinishRead() {
  std::erase_if(FIcons, [](const std::unique_ptr<TPxIconFrame>& F) { return !F->Icon(); });
  // Steps without icons, or a step that names no icon, would fail every use of the graphic.
  const bool usable = !FIcons.empty() && std::all_of(FSequence.begin(), FSequence.end(), [this](std::uint32_t Icon) {
    return Icon < static_cast<std::uint32_t>(IconCount());
  });
  if (!usable) {
    ResetContents();
    return false;
  }
  if (FStepCount == 0) FStepCount = IconCount();
  FHeader.Icons = static_cast<std::uint32_t>(IconCount());
  return true;
}

void TPxAni::LoadFromStream(TStream* Stream) {
  const std::int64_t size = Remaining(Stream);
  TMemoryStream data;
  if (size > 0) {
    data.SetSize(size);
    Stream->ReadBuffer(data.Memory(), size);
    data.SetPosition(0);
    ReadRiff(&data);
  }
  if (FStepCount > 0) SetFrameIndex(0);
}

void TPxAni::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyNone);
  try {
    LoadFromStream(&stream);
  } catch (...) {
    ResetContents();
    throw;
  }
}

void TPxAni::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(&stream);
}

// ---------------------------------------------------------------------------------------------
// Writing

void TPxAni::SaveToStream(TStream* Stream) {
  if (FIcons.empty()) throw EInvalidGraphicOperation("Invalid image");
  WriteRiff(Stream);
}

void TPxAni::WriteRiff(TStream* Stream) {
  TMemoryStream data;
  TRiffWriter w(data);
  w.Begin(FourCC("RIFF"));
  w.FourCC(FourCC("ACON"));
  if (!FTitle.empty() || !FAuthor.empty()) {
    w.Begin(FourCC("LIST"));
    w.FourCC(FourCC("INFO"));
    if (!FTitle.empty()) {
      w.Begin(FourCC("INAM"));
      w.Bytes(FTitle.c_str(), static_cast<std::int64_t>(FTitle.size()) + 1);
      w.End();
    }
    if (!FAuthor.empty()) {
      w.Begin(FourCC("IART"));
      w.Bytes(FAuthor.c_str(), static_cast<std::int64_t>(FAuthor.size()) + 1);
      w.End();
    }
    w.End();
  }
  FHeader.Icons = static_cast<std::uint32_t>(IconCount());
  // A graphic read from a file without "anih" still writes a header that reads back.
  FHeader.Flags |= 1;
  if (FHeader.HeaderSize == 0) FHeader.HeaderSize = sizeof(TAniHeader);
  w.Begin(FourCC("anih"));
  std::uint8_t header[36];
  std::uint32_t fields[9];
  std::memcpy(fields, &FHeader, sizeof fields);
  for (int i = 0; i < 9; ++i) PutLE32(header + 4 * i, fields[i]);
  w.Bytes(header, sizeof header);
  w.End();
  if (!FRates.empty()) {
    w.Begin(FourCC("rate"));
    w.Table(FRates);
    w.End();
  }
  if (!FSequence.empty()) {
    w.Begin(FourCC("seq "));
    w.Table(FSequence);
    w.End();
  }
  w.Begin(FourCC("LIST"));
  w.FourCC(FourCC("fram"));
  for (const auto& frame : FIcons) {
    w.Begin(FourCC("icon"));
    const std::int64_t start = data.Position();
    frame->Icon()->SaveToStream(&data);
    // A cursor was read as an icon: it goes back as a cursor, its hot spots in its directory.
    if (!frame->IsIcon && data.Position() - start >= 6) {
      auto* type = static_cast<std::uint8_t*>(data.Memory()) + start + 2;
      if (GetLE16(type) == 1) PutLE16(type, 2);
    }
    w.End();
  }
  w.End();
  w.End();
  Stream->WriteBuffer(data.Memory(), data.Size());
}

// ---------------------------------------------------------------------------------------------
// Registration

namespace {
std::mutex RegistrationLock;
bool Registered = false;
}  // namespace

void RegisterPxAniFormat() {
  RegisterJpegFormats();  // "jpeg" and "jpg" stay the oldest registrations
  std::lock_guard<std::mutex> guard(RegistrationLock);
  if (Registered) return;
  TPicture::RegisterFileFormat("ani", "ANI Image", TPxAni::StaticClass());
  Registered = true;
}

void UnregisterPxAniFormat() {
  std::lock_guard<std::mutex> guard(RegistrationLock);
  if (!Registered) return;
  TPicture::UnregisterGraphicClass(TPxAni::StaticClass());
  Registered = false;
}

}  // namespace px
