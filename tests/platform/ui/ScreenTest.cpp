// The screen's cursor handles: stock cursors, stored handles and the default.
#include <gtest/gtest.h>

#include <set>

#include "platform/ui/Forms.h"

namespace {

TEST(ScreenCursors, StockCursorsHaveHandlesOfTheirOwn) {
  std::set<HCURSOR> handles;
  for (int i = crSizeAll; i <= crDefault; ++i) {
    ASSERT_NE(Screen->Cursors(i), nullptr) << i;
    EXPECT_EQ(Screen->Cursors(i), Screen->Cursors(i)) << i;
    handles.insert(Screen->Cursors(i));
  }
  EXPECT_EQ(handles.size(), static_cast<std::size_t>(1 - crSizeAll));
  // Indices without a cursor give the default cursor.
  for (int i : {crSizeAll - 1, 1, 100, -1000})
    EXPECT_EQ(Screen->Cursors(i), Screen->Cursors(crDefault)) << i;
  // No GDI object stands behind them: destroying one does nothing.
  EXPECT_FALSE(DestroyIcon(Screen->Cursors(crHourGlass)));
  EXPECT_NE(Screen->Cursors(crHourGlass), Screen->Cursors(crDefault));
}

TEST(ScreenCursors, StoredHandlesAndAliases) {
  Screen->SetCursors(100, Screen->Cursors(crMultiDrag));
  Screen->SetCursors(101, Screen->Cursors(crDrag));
  EXPECT_EQ(Screen->Cursors(100), Screen->Cursors(-16));
  EXPECT_EQ(Screen->Cursors(101), Screen->Cursors(-12));
  EXPECT_NE(Screen->Cursors(100), Screen->Cursors(101));
  // A stock index can be given another handle and gets its own back with null.
  const HCURSOR hourGlass = Screen->Cursors(crHourGlass);
  Screen->SetCursors(crHourGlass, Screen->Cursors(crArrow));
  EXPECT_EQ(Screen->Cursors(crHourGlass), Screen->Cursors(crArrow));
  Screen->SetCursors(crHourGlass, nullptr);
  EXPECT_EQ(Screen->Cursors(crHourGlass), hourGlass);
  Screen->SetCursors(100, nullptr);
  Screen->SetCursors(101, nullptr);
  EXPECT_EQ(Screen->Cursors(100), Screen->Cursors(crDefault));
}

}  // namespace
