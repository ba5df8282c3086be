#include "app/LayoutPicture.h"

#include <QEvent>
#include <QFile>
#include <QWidget>

#include "platform/graphics/Graphics.h"
#include "platform/rtl/Classes.h"
#include "platform/ui/ExtCtrls.h"
#include "platform/ui/QtHost.h"

namespace {

// Keeps the image the size of its placeholder.
class TFollowSize : public QObject {
 public:
  TFollowSize(QWidget* Placeholder, TImage* Image) : QObject(Placeholder), FImage(Image) {}
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Resize) {
      auto* w = static_cast<QWidget*>(Watched);
      FImage->SetBounds(0, 0, w->width(), w->height());
    }
    return false;
  }

 private:
  TImage* FImage;
};

}  // namespace

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
  image->SetName(Placeholder->objectName().toStdString());
  image->SetBounds(0, 0, Placeholder->width(), Placeholder->height());
  HostControl(image, Placeholder);
  Placeholder->installEventFilter(new TFollowSize(Placeholder, image));
  const QString resource = Placeholder->property("Picture").toString();
  if (!resource.isEmpty()) LoadLayoutPicture(image->Picture(), resource);
  return image;
}
