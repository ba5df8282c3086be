#include "platform/ui/Dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>

#include "platform/ui/Forms.h"

namespace {

// A message box that is at least as wide as a window manager's caption bar needs to show the
// whole title: the title in a bold caption font beside the window's icon and three caption
// buttons (the box sizes itself to its text only, with a small allowance for the title).
class TMessageBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* Event) override {
    QMessageBox::showEvent(Event);
    const int need = CaptionWidth(windowTitle());
    if (width() < need) setFixedWidth(need);
  }

 private:
  int CaptionWidth(const QString& Title) const {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const int bar = std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this), 16);
    return QFontMetrics(font).horizontalAdvance(Title) + 5 * bar;
  }
};

}  // namespace

void ShowMessage(const std::string& Msg) {
  TMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Application->Title()), QString::fromStdString(Msg),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ShowMessage"));
  box.exec();
}
