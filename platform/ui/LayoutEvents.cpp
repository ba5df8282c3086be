// Binding of the event properties a form's layout names to the handlers the form publishes.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>

#include "platform/ui/ComCtrls.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Mask.h"

namespace {

// Runs OnCloseUp each time a combo box's list closes, once the choice made in it is in place.
class TCloseUpWatch : public QObject {
 public:
  TCloseUpWatch(QComboBox* Combo, QObject* Context, std::function<void()> OnCloseUp)
      : QObject(Combo), FContext(Context), FOnCloseUp(std::move(OnCloseUp)) {
    Combo->view()->window()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* /*Watched*/, QEvent* Event) override {
    if (Event->type() == QEvent::Hide) QMetaObject::invokeMethod(FContext, FOnCloseUp, Qt::QueuedConnection);
    return false;
  }

 private:
  QObject* FContext;
  std::function<void()> FOnCloseUp;
};

std::string NameOf(QWidget* Widget) {
  const std::string name = Widget->objectName().toStdString();
  return name.empty() ? std::string(Widget->metaObject()->className()) : name;
}

}  // namespace

template <class Event>
Event TForm::LayoutHandler(QWidget* Widget, const char* Property) const {
  const std::string method = Widget->property(Property).toString().toStdString();
  const auto found = FMethods.find(method);
  if (found == FMethods.end())
    throw EReadError("Error reading " + NameOf(Widget) + "." + Property + ": method '" + method + "' not found");
  if (const Event* handler = std::any_cast<Event>(&found->second)) return *handler;
  throw EReadError("Error reading " + NameOf(Widget) + "." + Property + ": method '" + method +
                   "' does not fit the event");
}

void TForm::BindLayoutEvents() {
  std::vector<QWidget*> widgets{this};
  for (QWidget* child : findChildren<QWidget*>()) widgets.push_back(child);
  for (QWidget* w : widgets) {
    for (const QByteArray& raw : w->dynamicPropertyNames()) {
      if (!raw.startsWith("On")) continue;
      const char* event = raw.constData();
      const std::string name = raw.toStdString();
      if (w == this) {
        if (name == "OnClose") {
          OnClose = LayoutHandler<TCloseEvent>(w, event);
          continue;
        }
        TNotifyEvent* slot = name == "OnCreate" ? &OnCreate : name == "OnShow" ? &OnShow
                             : name == "OnActivate" ? &OnActivate : nullptr;
        if (slot) {
          *slot = LayoutHandler<TNotifyEvent>(w, event);
          continue;
        }
      } else if (auto* button = qobject_cast<QAbstractButton*>(w); button && name == "OnClick") {
        TNotifyEvent handler = LayoutHandler<TNotifyEvent>(w, event);
        connect(button, &QAbstractButton::clicked, this, [this, handler] { Application->Guard([&] { handler(this); }); });
        continue;
      } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (name == "OnChange") {
          TNotifyEvent handler = LayoutHandler<TNotifyEvent>(w, event);
          connect(combo, &QComboBox::activated, this, [this, handler] { Application->Guard([&] { handler(this); }); });
          continue;
        }
        if (name == "OnCloseUp") {
          TNotifyEvent handler = LayoutHandler<TNotifyEvent>(w, event);
          new TCloseUpWatch(combo, this, [this, handler] { Application->Guard([&] { handler(this); }); });
          continue;
        }
      } else if (auto* tree = dynamic_cast<TTreeView*>(w); tree && name == "OnChange") {
        tree->OnChange = LayoutHandler<TTVChangedEvent>(w, event);
        continue;
      } else if (auto* edit = dynamic_cast<TMaskEdit*>(w); edit && name == "OnKeyPress") {
        edit->OnKeyPress = LayoutHandler<TKeyPressEvent>(w, event);
        continue;
      }
      throw EReadError("Error reading " + NameOf(w) + "." + name + ": no such event");
    }
  }
}
