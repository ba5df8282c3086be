#include "platform/ui/Dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStyle>
#include <algorithm>

#include "platform/ui/Forms.h"

namespace {

// A message box sizes itself to its text, with a small allowance for the title; a window
// manager's caption bar needs room for the whole title in a bold caption font beside the
// window's icon and three caption buttons. A spacer of that width keeps the box at least as wide
// whenever it sizes itself.
void WidenForTitle(QMessageBox& Box) {
  auto* grid = qobject_cast<QGridLayout*>(Box.layout());
  if (!grid) return;
  QFont font = QApplication::font("QMdiSubWindowTitleBar");
  font.setBold(true);
  const int bar = std::max(Box.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &Box), 16);
  const int need = QFontMetrics(font).horizontalAdvance(Box.windowTitle()) + 5 * bar;
  grid->addItem(new QSpacerItem(need, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                grid->columnCount());
}

}  // namespace

void ShowMessage(const std::string& Msg) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Application->Title()), QString::fromStdString(Msg),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ShowMessage"));
  WidenForTitle(box);
  box.exec();
}
