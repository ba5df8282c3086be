#pragma once
// The GIF graphic: logical screen header, global colour map and frames. This part holds
// what reading and writing streams need; drawing, animation, colour reduction, optimisation,
// the clipboard and the picture registration come with the rendering layer.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gif/AppExtensions.h"
#include "gif/Frame.h"
#include "gif/Items.h"
#include "platform/graphics/Graphics.h"

namespace gif {

enum TGIFCompressionKind : std::uint8_t { ckLZW = 0, ckRLE = 1 };

using TGIFWarningEvent = std::function<void(TObject* Sender, int Severity, const std::string& Message)>;

class TGIFImage : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TGIFImage)

  TGIFImage();
  ~TGIFImage() override;

  void Clear();
  TGIFImageList& Images() const { return *FFrames; }
  TGIFHeader& Header() const { return *FHeader; }
  TGIFGlobalColorMap* GlobalColorMap() const { return FHeader->ColorMap(); }

  // Highest version any frame needs; gvUnknown without frames.
  TGIFVersion RequiredVersion() const;
  int ColorResolutionBits() const;
  int PixelBits() const;
  TColor BackColor() { return FHeader->BackColor(); }

  TGIFCompressionKind Compression() const { return FCompression; }
  void SetCompression(TGIFCompressionKind Value) { FCompression = Value; }

  // Every frame must fit: a value below a frame's extent raises "Image width too small for
  // contained frames" ("... height ...") and changes nothing.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  // Takes ownership of the palette handle.
  void SetPalette(HPALETTE Value) override;

  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  // Passes the warnings of the whole object tree to OnFormatWarning.
  virtual void ReportWarning(TObject* Sender, int Severity, const std::string& Message);

  TGIFWarningEvent OnFormatWarning;

 protected:
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() override { return FFrames->Count() == 0; }
  int GetHeight() override { return FHeader->Height(); }
  int GetWidth() override { return FHeader->Width(); }

 private:
  std::unique_ptr<TGIFImageList> FFrames;
  std::unique_ptr<TGIFHeader> FHeader;
  HPALETTE FCachedPalette{nullptr};
  TGIFCompressionKind FCompression{ckLZW};
};

}  // namespace gif
