// Shared dialogs, centring, help requests and the About window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QUrlQuery>

#include "app/AboutUnit.h"
#include "app/Utils.h"
#include "help/HtmlHelpAPI.h"
#include "help/HtmlHelpViewer.h"

TEST(Shell, CenterFormArithmetic) {
  struct Case { int mainLeft, mainWidth, formWidth, screenWidth, left; } cases[] = {
      {100, 677, 400, 1920, 238},
      {100, 677, 680, 1920, 99},    // (677 - 680) / 2 truncates to -1
      {0, 677, 2000, 1920, -80},    // wider than the screen: right edge at the screen's edge
      {1800, 677, 400, 1920, 1520}, // kept on the screen
      {-500, 677, 400, 1920, 0},
  };
  for (const auto& c : cases) {
    const QPoint p = CenterFormPosition(c.mainLeft, 0, c.mainWidth, 474, c.formWidth, 100, c.screenWidth, 1080);
    EXPECT_EQ(p.x(), c.left) << c.mainLeft << " " << c.formWidth;
  }
}

TEST(Shell, ConfirmationClosedWithEscapeIsNo) {
  // A real box, closed with Escape as soon as it is shown.
  QTimer::singleShot(50, [] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(w, &esc);
  });
  EXPECT_FALSE(ShowConfirmation("Do you want to stop the current operation?"));

  QString title;
  QTimer::singleShot(50, [&title] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr);
    title = w->windowTitle();
    static_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(ShowConfirmation("Sure?"));
  EXPECT_EQ(title, "Confirm");
}

TEST(Shell, HelpContextsOpenBundledPagesWhateverTheCurrentFolder) {
  const QString saved = QDir::currentPath();
  QDir::setCurrent(QDir::tempPath());
  ASSERT_FALSE(THtmlHelpViewer::HelpFile().isEmpty());
  for (auto [context, page] : {std::pair{1000L, "index.html"}, {1010L, "results.html"}, {1011L, "options.html"}}) {
    ShowHelpContext(context);
    EXPECT_EQ(CurrentHelpPage(), page);
  }
  HelpViewer().ShutDown();
  EXPECT_EQ(CurrentHelpPage(), "");
  // A help file that does not exist drops the request.
  EXPECT_FALSE(HtmlHelpA(nullptr, "/no/such/help.chm", HH_HELP_CONTEXT, 1011));
  QDir::setCurrent(saved);
}

TEST(Shell, AboutShowsVersionAndMailDraftNamesProgram) {
  TAboutForm about;
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_EQ(about.InfoLabel->text(), "Tarvelle 1.0.0.0\nFor Windows XP/2K/ME/98");
  EXPECT_EQ(TitleText(), "Tarvelle 1.0.0.0");
  const QUrl url(TellAFriendUrl());
  EXPECT_EQ(url.scheme(), "mailto");
  EXPECT_TRUE(url.path().isEmpty());
  const QUrlQuery q(url);
  EXPECT_TRUE(q.queryItemValue("subject", QUrl::FullyDecoded).contains("Tarvelle"));
  EXPECT_TRUE(q.queryItemValue("body", QUrl::FullyDecoded).contains("similar and duplicate images"));
}
