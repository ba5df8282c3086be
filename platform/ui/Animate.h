#pragma once
// The animation control: plays one of the common clips, frame by frame, on a timer.
//
// Layout properties (dynamic properties of the widget in a .ui): CommonAVI (aviNone,
// aviFindFile, ...), StartFrame, StopFrame (1-based, inclusive), Active (Boolean).
#include <QBasicTimer>
#include <QWidget>
#include <cstdint>

enum TCommonAVI : std::uint8_t {
  aviNone,
  aviFindFolder,
  aviFindFile,
  aviFindComputer,
  aviCopyFiles,
  aviCopyFile,
  aviRecycleFile,
  aviEmptyRecycle,
  aviDeleteFile,
};

class TAnimate : public QWidget {
 public:
  explicit TAnimate(QWidget* Parent = nullptr);
  ~TAnimate() override;

  TCommonAVI CommonAVI() const { return FCommonAVI; }
  void SetCommonAVI(TCommonAVI Value);
  // Frames of the clip (0 for aviNone or a clip this control does not carry).
  int FrameCount() const;
  int StartFrame() const { return FStartFrame; }
  void SetStartFrame(int Value);
  int StopFrame() const { return FStopFrame; }
  void SetStopFrame(int Value);
  // Playing loops from StartFrame to StopFrame; stopping keeps the frame shown. A control
  // without a clip stays still until it gets one.
  bool Active() const { return FActive; }
  void SetActive(bool Value);
  // The frame shown now (1-based).
  int Frame() const { return FFrame; }

  QSize sizeHint() const override { return QSize(16, 16); }

 protected:
  bool event(QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void timerEvent(QTimerEvent* Event) override;

 private:
  void ReadProperty(const QByteArray& Name);
  void Clamp();

  TCommonAVI FCommonAVI{aviNone};
  int FStartFrame{1};
  int FStopFrame{0};
  int FFrame{1};
  bool FActive{false};
  QBasicTimer FTimer;
};
