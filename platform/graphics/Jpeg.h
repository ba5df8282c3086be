#pragma once
// TJPEGImage: the JPEG graphic of the class library, over libjpeg (JpegCodec.h).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphics.h"

enum TJPEGScale { jsFullSize, jsHalf, jsQuarter, jsEighth };
enum TJPEGPixelFormat { jf24Bit, jf8Bit };
enum TJPEGPerformance { jpBestQuality, jpBestSpeed };
using TJPEGQualityRange = int;  // 1..100

// Data libjpeg cannot read, or a picture beyond the size limits; the message is libjpeg's.
class EJPEG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// Holds the JPEG data as loaded (written back unchanged until the picture changes) and, when
// needed, the picture decoded from it with the current options as a bitmap. A bitmap assigned to
// it is the picture itself until it is compressed (on saving, Compress or JPEGNeeded).
//
// Width and Height: the header's size divided by Scale (rounded up), i.e. the decoded size;
// for an assigned bitmap not yet compressed, the bitmap's size.
class TJPEGImage : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TJPEGImage)

  TJPEGImage();
  ~TJPEGImage() override;

  // Null empties; a TJPEGImage is copied (data, options, picture); a TBitmap's picture is taken
  // (the JPEG data is made from it at the next save); anything else is asked to fill this image.
  void Assign(TPersistent* Source) override;

  // The size comes from the data: both are ignored.
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  // JPEG pictures are opaque: ignored.
  void SetTransparent(bool Value) override;

  // Reads the stream from its position to its end and its header (EJPEG when it is not JPEG
  // data or claims a size beyond the limits; the image is unchanged then).
  void LoadFromStream(TStream* Stream) override;
  // The JPEG data (made from the picture first when it has none); nothing for an empty image.
  void SaveToStream(TStream* Stream) override;
  // Through a bitmap: CF_BITMAP only.
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  // New JPEG data with CompressionQuality, ProgressiveEncoding and Grayscale (a grey file) from
  // the assigned picture, or from the data decoded at full size; the decoded picture is dropped
  // and made again from the new data when needed. Nothing for an empty image.
  void Compress();
  // Decodes the picture now (Draw and AssignTo do it when first needed).
  void DIBNeeded();
  // Makes the JPEG data when the image holds only a picture.
  void JPEGNeeded();

  // Decoding options: a change drops the decoded picture (an assigned one is compressed first).
  TJPEGScale Scale() const { return FScale; }
  void SetScale(TJPEGScale Value);
  bool Smoothing() const { return FSmoothing; }
  void SetSmoothing(bool Value);
  bool Grayscale() const { return FGrayscale; }
  void SetGrayscale(bool Value);
  // jf8Bit quantises to a palette of at most 256 colours.
  TJPEGPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TJPEGPixelFormat Value);
  // jpBestSpeed decodes with the fast integer DCT.
  TJPEGPerformance Performance() const { return FPerformance; }
  void SetPerformance(TJPEGPerformance Value);
  // Encoding options, used by the next compression; values outside 1..100 are clamped.
  TJPEGQualityRange CompressionQuality() const { return FQuality; }
  void SetCompressionQuality(TJPEGQualityRange Value);
  bool ProgressiveEncoding() const { return FProgressiveEncoding; }
  void SetProgressiveEncoding(bool Value) { FProgressiveEncoding = Value; }
  // Stored only: decoding always delivers the finished picture.
  bool ProgressiveDisplay() const { return FProgressiveDisplay; }
  void SetProgressiveDisplay(bool Value) { FProgressiveDisplay = Value; }

 protected:
  // A TBitmap receives the decoded picture; anything else raises EConvertError.
  void AssignTo(TPersistent* Dest) override;
  // Stretches the decoded picture into Rect.
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  // Another TJPEGImage with the same JPEG data (both empty counts as equal).
  bool Equals(TGraphic* Graphic) override;
  bool GetEmpty() override;
  int GetHeight() override;
  int GetWidth() override;
  // The decoded picture's palette for jf8Bit; none for jf24Bit.
  HPALETTE GetPalette() override;
  bool GetTransparent() override { return false; }

 private:
  void DecodeOptionChanged();
  void Clear();

  std::vector<std::uint8_t> FData;  // the JPEG file; empty when none
  int FDataWidth{0};                // full size from the data's header
  int FDataHeight{0};
  std::unique_ptr<TBitmap> FBitmap;  // decoded from FData, or the picture itself when FData is empty

  TJPEGScale FScale{jsFullSize};
  bool FSmoothing{true};
  bool FGrayscale{false};
  TJPEGPixelFormat FPixelFormat{jf24Bit};
  TJPEGPerformance FPerformance{jpBestQuality};
  TJPEGQualityRange FQuality{90};
  bool FProgressiveEncoding{false};
  bool FProgressiveDisplay{false};
};

// Registers TJPEGImage for "jpeg" and then "jpg" as "JPEG Image File". The program calls it first
// at start-up, before any other picture format registers; later calls do nothing.
void RegisterJpegFormats();
