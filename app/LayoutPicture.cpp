#include "app/LayoutPicture.h"

#include <QFile>
#include <QWidget>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/ui/ExtCtrls.h"
#include "platform/ui/QtHost.h"

bool LoadLayoutPicture(TPicture* Picture, const QString& Resource) {
  QFile file(Resource);
  if (!file.open(QIODevice::ReadOnly)) throw EFOpenError("Cannot open resource " + Resource.toStdString());
  const QByteArray bytes = file.readAll();
  TResourceStream stream(bytes.constData(), bytes.size());
  try {
    Picture->ReadData(&stream);
  } catch (const EInvalidGraphic& e) {
    // A class that has not registered (yet): the picture stays empty.
    if (e.Message().rfind("Unknown picture class (", 0) != 0) throw;
    Picture->Assign(nullptr);
    return false;
  }
  return Picture->Graphic() != nullptr;
}

TImage* CreateLayoutImage(QWidget* Placeholder, TComponent* Owner) {
  auto* image = new TImage(Owner);
  const QString resource = Placeholder->property("PictureResource").toString();
  HostInPlaceOf(Placeholder, image);
  if (!resource.isEmpty()) LoadLayoutPicture(image->Picture(), resource);
  return image;
}
