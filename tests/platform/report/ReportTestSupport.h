#pragma once
// Driving the report engine's windows from tests (offscreen Qt): answer the next "Output
// Options" dialog, look into the "Report Preview", read a PDF back with poppler's tools.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "support/TestSupport.h"

namespace reporttest {

// The folder where tests leave rendered sheets and window pictures for a person to look at.
inline std::filesystem::path ArtifactDir() {
#ifdef KELV_REPORT_ARTIFACTS
  std::filesystem::path dir = KELV_REPORT_ARTIFACTS;
#else
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "kelv-report-artifacts";
#endif
  std::filesystem::create_directories(dir);
  return dir;
}

// The visible top-level widget with that object name, or null.
inline QWidget* FindWindow(const QString& ObjectName) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == ObjectName && w->isVisible()) return w;
  return nullptr;
}

// Runs Action once on the window named ObjectName as soon as it is shown, polling from the
// event loop for up to Seconds (by default a hang guard only); stops when destroyed.
class TWatch {
 public:
  TWatch(const QString& ObjectName, std::function<void(QWidget*)> Action, int Seconds = 300)
      : FLeft(Seconds * 100) {
    QObject::connect(&FTimer, &QTimer::timeout, [this, ObjectName, Action] {
      if (QWidget* w = FindWindow(ObjectName)) {
        FTimer.stop();
        FDone = true;
        Action(w);
      } else if (--FLeft <= 0) {
        FTimer.stop();
      }
    });
    FTimer.start(10);
  }
  bool Done() const { return FDone; }

 private:
  QTimer FTimer;
  int FLeft;
  bool FDone{false};
};

// Answers the next "Output Options" dialog with file output to FileName.
inline std::unique_ptr<TWatch> ChooseFileOutput(const QString& FileName) {
  return std::make_unique<TWatch>(QStringLiteral("OutputOptions"), [FileName](QWidget* w) {
    w->findChild<QRadioButton*>(QStringLiteral("rbFile"))->click();
    w->findChild<QLineEdit*>(QStringLiteral("edtFileName"))->setText(FileName);
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
}

// Answers the next "Output Options" dialog with the preview.
inline std::unique_ptr<TWatch> ChoosePreview() {
  return std::make_unique<TWatch>(QStringLiteral("OutputOptions"), [](QWidget* w) {
    w->findChild<QRadioButton*>(QStringLiteral("rbPreview"))->click();
    w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
}

inline std::unique_ptr<TWatch> CancelOutputOptions(int Seconds = 300) {
  return std::make_unique<TWatch>(
      QStringLiteral("OutputOptions"),
      [](QWidget* w) { w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click(); }, Seconds);
}

// Lets the event loop run for about Ms milliseconds.
inline void Pump(int Ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < Ms) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A named action of the preview's tool bar.
inline QAction* PreviewAction(QWidget* Preview, const char* Name) {
  return Preview->findChild<QAction*>(QString::fromLatin1(Name));
}

// Text of a PDF file (pdftotext, UTF-8, layout kept).
inline std::string PdfText(const std::string& File) {
  std::string out;
  testsupport::RunCommand("pdftotext -layout -enc UTF-8 '" + File + "' -", &out);
  return out;
}

// Number of pictures in a PDF file (pdfimages -list).
inline int PdfImageCount(const std::string& File) {
  std::string out;
  testsupport::RunCommand("pdfimages -list '" + File + "' 2>/dev/null | tail -n +3 | wc -l", &out);
  return std::atoi(out.c_str());
}

inline int PdfPageCount(const std::string& File) {
  std::string out;
  testsupport::RunCommand("pdfinfo '" + File + "' 2>/dev/null | sed -n 's/^Pages: *//p'", &out);
  return std::atoi(out.c_str());
}

}  // namespace reporttest
