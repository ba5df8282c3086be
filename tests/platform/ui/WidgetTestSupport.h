#pragma once
// Helpers for the widget tests: a QApplication for the whole program, a small dataset held in
// memory, and typing with one key event per character.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/db/DB.h"
#include "platform/db/ResultSet.h"

namespace widgettest {

// One QApplication (offscreen) for the whole test program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "widget_test";
      static char* argv[] = {name, nullptr};
      qputenv("QT_QPA_PLATFORM", "offscreen");
      app_ = std::make_unique<QApplication>(argc, argv);
    }
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// A dataset whose rows are given in code. Values: null, a whole number or a text.
class TMemDataSet : public TDataSet {
 public:
  using Value = std::variant<std::monostate, std::int64_t, std::string>;
  struct Column {
    std::string Name;
    TFieldType Type;
  };

  explicit TMemDataSet(std::vector<Column> Columns) : TDataSet(nullptr), Columns(std::move(Columns)) {}
  ~TMemDataSet() override = default;

  std::vector<Column> Columns;
  std::vector<std::vector<Value>> Rows;
  int AfterScrollCount{0};

  void CountScrolls() {
    AfterScroll = [this](TDataSet*) { ++AfterScrollCount; };
  }

 protected:
  void InternalOpen(kelvdb::ResultSet& R, const FilterRequest*, bool& FilterApplied) override {
    FilterApplied = false;
    for (const Column& c : Columns) {
      kelvdb::ColumnInfo info;
      info.Name = info.Origin = c.Name;
      info.Type = c.Type;
      R.Columns.push_back(info);
    }
    R.Visible = R.Columns.size();
    for (const auto& row : Rows) {
      for (std::size_t i = 0; i < Columns.size(); ++i) {
        kelvdb::Cell cell;
        const Value& v = i < row.size() ? row[i] : Value{};
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
          cell.Type = kelvdb::CellType::Integer;
          cell.I = *n;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
          cell.Type = kelvdb::CellType::Text;
          cell.Off = R.Bytes.size();
          cell.Len = static_cast<std::uint32_t>(s->size());
          R.Bytes += *s;
        }
        R.Cells.push_back(cell);
      }
      ++R.Rows;
    }
  }
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

inline std::filesystem::path Catalogue(const std::string& Name) {
#ifdef KELV_TEST_CATALOGUES
  return std::filesystem::path(KELV_TEST_CATALOGUES) / (Name + ".mdb");
#else
  return std::filesystem::path("/nonexistent") / (Name + ".mdb");
#endif
}

}  // namespace widgettest
