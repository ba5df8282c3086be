#include "gif/Image.h"

#include <algorithm>

namespace gif {

IMPLEMENT_GRAPHIC_CLASS(TGIFImage, TGraphic)

TGIFImage::TGIFImage()
    : FFrames(std::make_unique<TGIFImageList>(this)), FHeader(std::make_unique<TGIFHeader>(this)) {
  Clear();
}

TGIFImage::~TGIFImage() {
  // Frames leave the list as they go and the colour maps report their end to this image, so
  // everything is freed while the image is still whole.
  FFrames->Clear();
  FHeader.reset();
  FFrames.reset();
  if (FCachedPalette) DeleteObject(FCachedPalette);
  FCachedPalette = nullptr;
}

void TGIFImage::Clear() {
  FFrames->Clear();
  FHeader->ColorMap()->Clear();
  FHeader->SetWidth(0);
  FHeader->SetHeight(0);
  FHeader->PrepareDescriptor();
  SetPalette(nullptr);
}

TGIFVersion TGIFImage::RequiredVersion() const {
  TGIFVersion Version = gvUnknown;
  for (int i = 0; i < FFrames->Count(); ++i) {
    Version = std::max(Version, FFrames->FrameAt(i)->RequiredVersion());
    if (Version == gv89a) break;
  }
  return Version;
}

int TGIFImage::ColorResolutionBits() const {
  int Bits = FHeader->ColorResolutionBits();
  for (int i = 0; i < FFrames->Count(); ++i) Bits = std::max(Bits, FFrames->FrameAt(i)->ColorResolutionBits());
  return Bits;
}

int TGIFImage::PixelBits() const {
  int Bits = FHeader->PixelBits();
  for (int i = 0; i < FFrames->Count(); ++i) Bits = std::max(Bits, FFrames->FrameAt(i)->PixelBits());
  return Bits;
}

void TGIFImage::SetWidth(int Value) {
  for (int i = 0; i < FFrames->Count(); ++i) {
    TGIFSubImage* Frame = FFrames->FrameAt(i);
    if (Value < Frame->Left() + Frame->Width()) RaiseGIFError("Image width too small for contained frames");
  }
  if (Value != FHeader->Width()) {
    FHeader->SetWidth(Value);
    Changed(this);
  }
}

void TGIFImage::SetHeight(int Value) {
  for (int i = 0; i < FFrames->Count(); ++i) {
    TGIFSubImage* Frame = FFrames->FrameAt(i);
    if (Value < Frame->Top() + Frame->Height()) RaiseGIFError("Image height too small for contained frames");
  }
  if (Value != FHeader->Height()) {
    FHeader->SetHeight(Value);
    Changed(this);
  }
}

void TGIFImage::SetPalette(HPALETTE Value) {
  if (Value == FCachedPalette) return;
  if (FCachedPalette) DeleteObject(FCachedPalette);
  FCachedPalette = Value;
}

void TGIFImage::LoadFromStream(TStream* Stream) {
  Progress(this, psStarting, 0, false, TRect{}, "Loading...");
  bool Ok = false;
  try {
    Clear();
    const std::int64_t Start = Stream->Position();
    try {
      FHeader->LoadFromStream(Stream);
      FFrames->LoadFromStream(Stream, this);
      TGIFTrailer Trailer(this);
      Trailer.LoadFromStream(Stream);
    } catch (...) {
      Stream->SetPosition(Start);
      throw;
    }
    Ok = true;
  } catch (...) {
    Progress(this, psEnding, 0, true, TRect{}, "Loading...");
    throw;
  }
  if (Ok) Progress(this, psEnding, 100, true, TRect{}, "Loading...");
}

void TGIFImage::SaveToStream(TStream* Stream) {
  Progress(this, psStarting, 0, false, TRect{}, "Saving...");
  try {
    FHeader->SaveToStream(Stream);
    FFrames->SaveToStream(Stream);
    TGIFTrailer Trailer(this);
    Trailer.SaveToStream(Stream);
  } catch (...) {
    Progress(this, psEnding, 0, true, TRect{}, "Saving...");
    throw;
  }
  Progress(this, psEnding, 100, true, TRect{}, "Saving...");
}

void TGIFImage::ReportWarning(TObject* Sender, int Severity, const std::string& Message) {
  if (OnFormatWarning) OnFormatWarning(Sender, Severity, Message);
}

// Not available until the rendering layer is built: these raise instead of pretending.
void TGIFImage::Draw(TCanvas*, const TRect&) {
  throw EInvalidGraphicOperation("Drawing GIF images is not available");
}

void TGIFImage::LoadFromClipboardFormat(WORD, HANDLE, HPALETTE) {
  throw EInvalidGraphicOperation("Clipboard exchange of GIF images is not available");
}

void TGIFImage::SaveToClipboardFormat(WORD&, HANDLE&, HPALETTE&) {
  throw EInvalidGraphicOperation("Clipboard exchange of GIF images is not available");
}

}  // namespace gif
