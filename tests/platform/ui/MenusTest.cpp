#include "platform/ui/Menus.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QWidget>

#include "platform/rtl/SysUtils.h"
#include "WidgetTestSupport.h"

namespace {

void RightClick(QWidget* W) {
  QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5), W->mapToGlobal(QPoint(5, 5)));
  QGuiApplication::sendEvent(W, &e);
}

TEST(PopupMenu, ItemsAndSeparators) {
  TPopupMenu menu(nullptr);
  menu.Add("Избери всичко");
  TMenuItem* line = menu.Add("-");
  TMenuItem* copy = menu.Add("Копирай");
  ASSERT_EQ(menu.Count(), 3);
  EXPECT_EQ(menu.Items(2), copy);
  EXPECT_THROW(menu.Items(3), EListError);
  EXPECT_EQ(menu.Menu()->actions().size(), 3);
  EXPECT_TRUE(line->Action()->isSeparator());
  EXPECT_FALSE(copy->Action()->isSeparator());
  // A line is nothing but a separator: no "-" shows in the menu, nor after a change of caption.
  EXPECT_EQ(line->Action()->text(), QString());
  copy->SetCaption("-");
  EXPECT_TRUE(copy->IsLine());
  EXPECT_TRUE(copy->Action()->isSeparator());
  EXPECT_EQ(copy->Action()->text(), QString());
  line->SetCaption("Копирай");
  EXPECT_FALSE(line->Action()->isSeparator());
  EXPECT_EQ(line->Action()->text(), QStringLiteral("Копирай"));
}

TEST(PopupMenu, ChoosingAnEnabledItemRaisesOnClick) {
  TPopupMenu menu(nullptr);
  std::vector<TObject*> senders;
  TMenuItem* item = menu.Add("Копирай", [&](TObject* Sender) { senders.push_back(Sender); });
  item->Action()->trigger();
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0], item);
  item->SetEnabled(false);
  item->Action()->trigger();
  item->Click();
  EXPECT_EQ(senders.size(), 1u);
  // An exception from the handler goes to the application, not through Qt.
  item->SetEnabled(true);
  item->OnClick = [](TObject*) { throw EAbort("stop"); };
  item->Action()->trigger();
}

TEST(PopupMenu, RightClickRaisesOnPopupThenShows) {
  QWidget w;
  w.resize(100, 100);
  w.show();
  auto menu = std::make_unique<TPopupMenu>(nullptr);
  TMenuItem* copy = menu->Add("Копирай");
  int popups = 0;
  bool shownDuringOnPopup = true;
  menu->OnPopup = [&](TObject* Sender) {
    EXPECT_EQ(Sender, menu.get());
    ++popups;
    shownDuringOnPopup = menu->Menu()->isVisible();
    copy->SetEnabled(false);
  };
  SetPopupMenu(&w, menu.get());
  RightClick(&w);
  EXPECT_EQ(popups, 1);
  EXPECT_FALSE(shownDuringOnPopup);
  EXPECT_TRUE(menu->Menu()->isVisible());
  EXPECT_FALSE(copy->Action()->isEnabled());
  EXPECT_EQ(menu->PopupComponent(), &w);
  menu->Menu()->hide();

  // Attaching again replaces; detaching ends it.
  SetPopupMenu(&w, menu.get());
  RightClick(&w);
  EXPECT_EQ(popups, 2);
  menu->Menu()->hide();
  SetPopupMenu(&w, nullptr);
  RightClick(&w);
  EXPECT_EQ(popups, 2);

  // A menu that goes first leaves the widget without one.
  SetPopupMenu(&w, menu.get());
  menu.reset();
  RightClick(&w);
}

}  // namespace
