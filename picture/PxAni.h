#pragma once
// TPxAni: animated cursors (RIFF "ACON" files) as a picture class. The images are icon or
// cursor files kept as TIcon frames; an optional sequence of steps and an optional table of
// step durations (jiffies, 1/60 s) drive the animation, which a timer on the user-interface
// thread steps when it is switched on. The current step draws at its own size.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Timers.h"

namespace px {

// The 36-byte animation header ("anih"), kept as read and written back.
struct TAniHeader {
  std::uint32_t HeaderSize{0};
  std::uint32_t Icons{0};    // set to the number of icons after reading and before writing
  std::uint32_t Steps{0};
  std::uint32_t Width{0};
  std::uint32_t Height{0};
  std::uint32_t BitCount{0};
  std::uint32_t Planes{0};
  std::uint32_t DisplayRate{0};  // jiffies a step when there is no "rate" chunk
  std::uint32_t Flags{0};        // bit 0: the images are icon or cursor files
};
static_assert(sizeof(TAniHeader) == 36);

// One image: an icon (ICO) or cursor (CUR) with its hot spot and rate.
class TPxIconFrame : public TPersistent {
 public:
  explicit TPxIconFrame(std::uint32_t Rate);
  ~TPxIconFrame() override;
  TPxIconFrame(const TPxIconFrame&) = delete;
  TPxIconFrame& operator=(const TPxIconFrame&) = delete;

  // From a TPxIconFrame: a copy of its icon (made on need), flags, hot spot and rate.
  void Assign(TPersistent* Source) override;

  TIcon* Icon() const { return FIcon; }
  // Takes the icon (owned when Owned).
  void SetIcon(TIcon* Value, bool Owned);
  bool IsIcon{true};
  std::int32_t HotSpotX{0};
  std::int32_t HotSpotY{0};
  std::uint32_t Rate{0};

 private:
  TIcon* FIcon{nullptr};
  bool FOwnsIcon{false};
};

class TPxAni : public TGraphic {
 public:
  DECLARE_GRAPHIC_CLASS(TPxAni)

  TPxAni();
  ~TPxAni() override;

  // Null clears; another TPxAni is copied (header, texts, frames, rates, sequence, current step
  // and animation); anything else raises the class library's conversion error.
  void Assign(TPersistent* Source) override;

  // "Cannot change the size of an icon".
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  void SetTransparent(bool Value) override;  // ignored: always transparent

  // A load that fails resets the graphic; a file that cannot be opened leaves it unchanged.
  void LoadFromFile(const std::string& FileName) override;
  void SaveToFile(const std::string& FileName) override;
  // The RIFF file from the stream's position to its end; damage after the first icons ends
  // reading quietly. EReadError "Stream read error" for a stream that is not an animated
  // cursor, holds no icon, or whose sequence names an icon it does not hold (the graphic is
  // then empty). Any other failed load leaves what was read, when that holds an icon for every
  // step (else the graphic is empty too).
  void LoadFromStream(TStream* Stream) override;
  // EInvalidGraphicOperation "Invalid image" without icons.
  void SaveToStream(TStream* Stream) override;
  // "Clipboard does not support Icons".
  void LoadFromClipboardFormat(WORD AFormat, HANDLE AData, HPALETTE APalette) override;
  void SaveToClipboardFormat(WORD& AFormat, HANDLE& AData, HPALETTE& APalette) override;

  int IconCount() const { return static_cast<int>(FIcons.size()); }
  int FrameCount() const { return FStepCount; }  // steps
  const std::string& TitleText() const { return FTitle; }
  const std::string& AuthorText() const { return FAuthor; }
  void SetTitleText(const std::string& Value) { FTitle = Value; }
  void SetAuthorText(const std::string& Value) { FAuthor = Value; }
  const TAniHeader& Header() const { return FHeader; }
  const std::vector<std::uint32_t>& Rates() const { return FRates; }
  const std::vector<std::uint32_t>& Sequence() const { return FSequence; }
  // The largest colour count of the images read: 2, 16, 256 for 1, 4, 8 bits, 0 otherwise.
  int ImageColorCount() const { return FImageColorCount; }

  // The icon of icon frame Index; null outside the list.
  TIcon* IconAt(int Index) const;
  // The view of step Step (valid until the next lookup): its icon (shared), flags, hot spot
  // and rate (the rate table's entry, else the header's display rate). Null outside the steps.
  TPxIconFrame* FrameAt(int Step);
  int FrameIndex() const { return FCurrent; }
  // Makes Step current (and calls Changed) when it is a step other than the current one.
  void SetFrameIndex(int Step);
  bool IsAnimating() const { return FTimer->Enabled(); }
  void SetAnimating(bool Value);

  // Frees the frames and empties everything, without notification.
  void ResetContents();
  // ResetContents and Changed, when there are frames.
  void ClearFrames();
  // All steps side by side (or one below the other) on Background into Target; with Reduce,
  // the strip is reduced to max(ImageColorCount, 16) colours. The current step stays as it
  // was, also when drawing a step fails.
  void RenderFilmStrip(TBitmap* Target, TColor Background, bool Vertical, bool Reduce);
  // EOutOfResources "Out of system resources" when the film strip of every step (step 0's
  // icon size a step) is larger than a bitmap may be.
  void CheckFilmStripSize(bool Vertical);

  // The timer's tick: the next step, and the next tick after that step's rate.
  void TimerTick(TObject* Sender);
  void ScheduleNextFrame();
  TTimer* Timer() const { return FTimer.get(); }

 protected:
  void AssignTo(TPersistent* Dest) override;
  void Draw(TCanvas* ACanvas, const TRect& Rect) override;
  bool GetEmpty() override { return FStepCount == 0; }
  int GetHeight() override;
  int GetWidth() override;
  bool GetTransparent() override { return true; }

 private:
  void ReadRiff(TMemoryStream* Stream);
  void ReadChunks(TMemoryStream* Stream);
  // Drops icon frames without an icon and completes the step count and the header; resets the
  // graphic and answers false when no icon was read or a step names an icon that is not there.
  bool FinishRead();
  void WriteRiff(TStream* Stream);
  // The icon of an "icon" chunk of Size bytes at the stream's position; null when the chunk
  // holds none.
  std::unique_ptr<TIcon> LoadIconChunk(TMemoryStream* Stream, std::uint32_t Size, bool& IsIcon,
                                       std::int32_t& HotX, std::int32_t& HotY);
  [[noreturn]] static void RaiseRiffError();

  TAniHeader FHeader;
  std::string FTitle;
  std::string FAuthor;
  std::vector<std::unique_ptr<TPxIconFrame>> FIcons;
  int FImageColorCount{0};
  int FCurrent{-1};
  std::vector<std::uint32_t> FRates;
  std::vector<std::uint32_t> FSequence;
  int FStepCount{0};
  std::unique_ptr<TPxIconFrame> FStepView;
  std::unique_ptr<TTimer> FTimer;
};

// Registers "ani" as "ANI Image" with the picture registry (once; later calls do nothing).
void RegisterPxAniFormat();
void UnregisterPxAniFormat();

}  // namespace px
