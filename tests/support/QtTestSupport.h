#pragma once
// Helpers for the tests of Qt widgets and windows (header only; the program links Qt Widgets):
// one offscreen QApplication for a GoogleTest program, typing as a keyboard does, message boxes
// accepted as they show, and a time limit for event loops.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "support/TestSupport.h"

namespace qttest {

inline QString Q(const std::string& S) { return QString::fromStdString(S); }

// One QApplication (offscreen) for a whole GoogleTest program:
// ::testing::AddGlobalTestEnvironment(new qttest::QtEnvironment).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "qt_test";
      static char* argv[] = {name, nullptr};
      qputenv("QT_QPA_PLATFORM", "offscreen");
      app_ = std::make_unique<QApplication>(argc, argv);
    }
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

// Sends one key press and release per character, with the character as the event's text (so
// any alphabet can be typed).
inline void TypeText(QWidget* W, const QString& Text) {
  for (QChar c : Text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(W, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(W, &release);
  }
}
inline void TypeText(QWidget* W, const char* Utf8) { TypeText(W, QString::fromUtf8(Utf8)); }

// One key with a key code (and the text Qt gives it).
inline void Key(QWidget* W, int Code, Qt::KeyboardModifiers Mods = Qt::NoModifier, const QString& Text = {}) {
  QKeyEvent press(QEvent::KeyPress, Code, Mods, Text);
  QApplication::sendEvent(W, &press);
  QKeyEvent release(QEvent::KeyRelease, Code, Mods, Text);
  QApplication::sendEvent(W, &release);
}

// Message boxes while the object lives: each modal one is noted (text and caption), handed to
// OnShown while it is on screen, and accepted as soon as it shows. Needs a running event loop.
class MessageBoxes {
 public:
  MessageBoxes() {
    FTimer.setInterval(5);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || box->property("seen").toBool()) return;
      box->setProperty("seen", true);
      Texts << box->text();
      Captions << box->windowTitle();
      if (OnShown) OnShown(box);
      box->accept();
    });
    FTimer.start();
  }
  QStringList Texts;
  QStringList Captions;
  std::function<void(QMessageBox*)> OnShown;

 private:
  QTimer FTimer;
};

// Counts the events of one type that reach a widget while the object lives.
class EventCounter : public QObject {
 public:
  EventCounter(QObject* Watched, QEvent::Type Type, int& Count) : FWatched(Watched), FType(Type), FCount(Count) {
    Watched->installEventFilter(this);
  }
  ~EventCounter() override { FWatched->removeEventFilter(this); }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Watched == FWatched && Event->type() == FType) ++FCount;
    return false;
  }

 private:
  QObject* FWatched;
  QEvent::Type FType;
  int& FCount;
};

// A safety net for a test that runs an event loop: a loop still running after Ms milliseconds
// (a hang, not a slow machine) is asked to end, so the test fails (TimedOut) instead of
// hanging. Disarmed when it goes.
class LoopSafetyNet {
 public:
  explicit LoopSafetyNet(int Ms = testsupport::kHangGuardMs) {
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      FTimedOut = true;
      QCoreApplication::quit();
    });
    FTimer.start(Ms);
  }
  bool TimedOut() const { return FTimedOut; }

 private:
  QTimer FTimer;
  bool FTimedOut{false};
};

}  // namespace qttest
