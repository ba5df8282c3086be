#pragma once
// TPxGIFImage: a GIF 87a/89a picture as a list of frames over shared image data, read and
// written as GIF streams (plain, or with a 32-bit byte count in front in the layout form and on
// the clipboard). It draws its current frame and has no animation of its own.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"

namespace px {

class TPxAni;
class TPxGIFImage;

// Frames whose data is damaged or truncated are kept with what could be read.
inline bool AcceptDamagedData = true;
// The longest delay a graphic control block holds (65535 hundredths of a second), in ms.
inline constexpr std::uint32_t kMaxDelayMs = 655350;
// Clipboard format "GIF Image" (0 until registered).
inline WORD GifClipboardFormat = 0;

// The clipboard as the image needs it (the user-interface layer connects it): the block held
// under a format (null when none), and placing a block (the clipboard then owns it; a failure
// raises). Unconnected, the clipboard holds nothing and GIF data is not placed.
struct TPxClipboardAccess {
  std::function<HANDLE(UINT Format)> GetData;
  std::function<void(UINT Format, HANDLE Data)> SetData;
};
void SetPxClipboardAccess(TPxClipboardAccess Access);

// Raises EInvalidGraphicOperation with the message.
[[noreturn]] void RaisePxGifError(const std::string& Message);

// A colour table: Count entries (0..256) of red, green, blue.
struct TGifColorTable {
  std::int32_t Count{0};
  std::array<std::array<BYTE, 3>, 256> Colors{};
  TColor ColorAt(int Index) const {
    const auto& c = Colors[static_cast<std::size_t>(Index)];
    return c[0] | c[1] << 8 | c[2] << 16;
  }
};

// 1..8 for 2, 4, ..., 256 colours; any other count raises
// "Wrong number of colors; must be a power of 2".
int ColorCountToBits(int Count);
// -1 for clNone; else the first entry equal to ColorToRGB(Color), -1 when none.
int ColorTableIndexOf(const TGifColorTable& Table, TColor Color);

enum TGifExtensionKind : BYTE { gekGraphicControl = 0, gekPlainText = 1, gekApplication = 2, gekComment = 3 };

// An extension block: its kind, its fixed bytes (from the block-size byte on: 6 for a graphic
// control, 13 for plain text, 12 for an application block, none for a comment) and its data
// sub-blocks, one line each.
class TExtension : public TPersistent {
 public:
  TGifExtensionKind Kind{gekGraphicControl};
  std::unique_ptr<TStringList> Lines;
  std::array<BYTE, 14> FixedBytes{};

  void Assign(TPersistent* Source) override;
  // A "NETSCAPE2.0" or "ANIMEXTS1.0" application block whose first data line is a loop count.
  bool IsLoopBlock() const;
};

// Image data shared by images assigned from one another (copied before one of them changes it).
struct TGIFData {
  TStringList ImageComment;
  BYTE AspectByte{0};
  BYTE TableBits{0};
  BYTE ColorResolution{0};
  TGifColorTable GlobalTable;
};

// Frame data shared by frames assigned from one another (copied before one of them changes it).
struct TGIFItem {
  std::unique_ptr<TMemoryStream> CodeStream;  // minimum code size, sub-blocks, terminator
  std::int32_t ImageWidth{0};
  std::int32_t ImageHeight{0};
  BYTE DescriptorFlags{0};
  BYTE TableBits{0};
  TGifColorTable ColorTable;
};

class TPxGIFFrame : public TPersistent {
 public:
  explicit TPxGIFFrame(TPxGIFImage* AOwner);
  ~TPxGIFFrame() override;
  TPxGIFFrame(const TPxGIFFrame&) = delete;
  TPxGIFFrame& operator=(const TPxGIFFrame&) = delete;

  // Null resets; a frame shares the source's data; an image gives its current frame; any other
  // graphic becomes the frame's bitmap (drawn on clFuchsia when a bitmap cannot take it).
  void Assign(TPersistent* Source) override;

  // New shared data and default settings; the bitmap and extensions stay.
  void ResetImage();
  // The frame's data for a change: first copied when another frame shares it.
  TGIFItem& OwnItem();
  void RecreateBitmap();
  // The frame's pixels, decoded on first use.
  TBitmap* DecodedBitmap();
  int PixelWidth();
  int PixelHeight();
  // The lines of the last comment extension (made when Create).
  TStringList* CommentExtension(bool Create);
  TStringList* CommentLines() { return CommentExtension(true); }
  void AssignComment(TStrings* Lines);
  void DrawOnCanvas(TCanvas* Canvas, const TRect& Rect, bool Transparent);

  // The GIF image data as a BMP file of 1, 4 or 8 bits.
  void DecodeToDib(TMemoryStream* Target);
  // The bitmap as GIF image data (through an 8-bit reduction when it has more colours).
  void EncodeBitmap();
  void EncodeDib(TMemoryStream* Bmp);

  // Reading and writing the frame's blocks.
  void ReadImage(TCustomMemoryStream* Source);
  void WriteDescriptor(TStream* Target);
  void WriteLocalColors(TStream* Target);
  void WriteImageData(TStream* Target);
  void SyncExtensions();

  TPxGIFImage* Owner;
  std::unique_ptr<TBitmap> BitmapCache;
  std::shared_ptr<TGIFItem> ItemData;
  std::vector<std::unique_ptr<TExtension>> ExtensionList;
  std::int32_t OriginX{0};
  std::int32_t OriginY{0};
  bool IsInterlaced{false};
  bool IsCorrupt{false};
  bool IsGray{false};
  TColor KeyColor{clNone};
  std::uint32_t DelayMs{0};  // written in hundredths of a second (at most kMaxDelayMs)
  BYTE DisposalCode{0};
  bool HasLocalTable{false};

 protected:
  friend class TPxGIFImage;
  void AssignTo(TPersistent* Dest) override;
};

class TPxGIFImage : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TPxGIFImage)

  TPxGIFImage();
  ~TPxGIFImage() override;

  // Null resets; an image shares the source's data and copies its frames; a frame, a bitmap or
  // an animated cursor become frames; anything else raises the class library's conversion error.
  void Assign(TPersistent* Source) override;
  // "Cannot change the Size of a GIF image".
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;

  // A GIF stream from the position to the end.
  void LoadFromStream(TStream* Stream) override;
  void SaveToStream(TStream* Stream) override;
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  // Appends a frame made from Graphic and makes it current; returns its index.
  virtual int AppendFrame(TGraphic* Graphic);

  void ResetImage();
  // The image data for a change: first copied when another image shares it.
  TGIFData& OwnData();
  int FrameCount() const { return static_cast<int>(FrameList.size()); }
  TPxGIFFrame* FrameAt(int Index) const;  // EListError outside the list
  // The current frame's bitmap (frame 0's when CurrentFrame is out of range); an image without
  // frames gets one frame without data first.
  TBitmap* CurrentBitmap();
  void RecomputeScreenSize();
  void ReportProgress(TProgressStage Stage, BYTE Percent, const std::string& Message);

  // Replaces the whole image by the GIF in the next Count bytes of Source.
  void DecodeStream(std::int64_t Count, TStream* Source, bool DecodeFirst);
  // Writes the whole image, with a 32-bit byte count first when WithCount.
  void EncodeStream(TStream* Target, bool WithCount);

  std::shared_ptr<TGIFData> GifData;
  BYTE GifVersion{0};  // 0 none, 1 "87a", 2 "89a"
  std::vector<std::unique_ptr<TPxGIFFrame>> FrameList;
  std::int32_t CurrentFrame{-1};
  std::uint16_t LogicalWidth{0};
  std::uint16_t LogicalHeight{0};
  TColor BackColor{clNone};
  bool LoopAnimation{false};
  bool ImageDamaged{false};
  std::uint16_t LoopCount{1};

 protected:
  void AssignTo(TPersistent* Dest) override;
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  // The same shared data.
  bool Equals(TGraphic* Graphic) override;
  bool GetEmpty() override;
  int GetHeight() override;
  HPALETTE GetPalette() override;
  bool GetTransparent() override;
  int GetWidth() override;
  // The layout form: a 32-bit byte count, then the GIF stream.
  void ReadData(TStream* Stream) override;
  void WriteData(TStream* Stream) override;

 private:
  void FreeFrames();
  void AssignFromAni(TPxAni* Ani);
  void EncodeAllFrames();
};

// Registers "gif" as "CompuServe GIF Image" and the clipboard format "GIF Image" (once).
void RegisterPxGifFormats();
void UnregisterPxGifFormats();

}  // namespace px
