#include <gtest/gtest.h>

#include <QWidget>

TEST(GuiSmoke, WidgetCreates) {
  QWidget w;
  w.resize(10, 10);
  EXPECT_EQ(w.width(), 10);
}
