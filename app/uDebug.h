#pragma once
// The debug window: created at start-up, never shown.
#include <memory>

#include "platform/ui/Forms.h"

class QPlainTextEdit;
class TDBGrid;
namespace Ui {
class TDebug;
}

class TDebug : public TForm {
 public:
  explicit TDebug(TComponent* AOwner);
  ~TDebug() override;

  TDBGrid* dbgDebug;
  QPlainTextEdit* mDebug;

 private:
  std::unique_ptr<Ui::TDebug> ui;
};

extern TDebug* Debug;
