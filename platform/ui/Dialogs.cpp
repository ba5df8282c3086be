#include "platform/ui/Dialogs.h"

#include <QMessageBox>

#include "platform/ui/Forms.h"

void ShowMessage(const std::string& Msg) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(Application->Title()), QString::fromStdString(Msg),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("ShowMessage"));
  box.exec();
}
