// The status bar with its hosted progress bar, and the edit box with the
// browse button.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "controls/ButtonEd.h"
#include "controls/KelvaneStatusBar.h"

TEST(KelvaneStatusBar, PanelsAndProgressBar) {
  TKelvaneStatusBar bar;
  ASSERT_EQ(bar.PanelCount(), 3);
  EXPECT_EQ(bar.PanelWidth(0), 400);
  EXPECT_EQ(bar.PanelWidth(1), 203);
  EXPECT_EQ(bar.PanelWidth(2), 50);
  EXPECT_EQ(bar.PanelText(1), "Progress:");
  bar.SetPanelText(0, "Building file list ... 3 files found.");
  EXPECT_EQ(bar.PanelText(0), "Building file list ... 3 files found.");
  bar.SetPanelText(7, "ignored");
  EXPECT_EQ(bar.PanelText(7), QString());

  QProgressBar* p = bar.ProgressBar();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->parentWidget(), &bar);
  EXPECT_EQ(p->geometry(), QRect(453, 3, 150, 15));
  // Inside the second panel, after its text.
  EXPECT_GT(p->x(), bar.PanelLeft(1));
  EXPECT_LE(p->x() + p->width(), bar.PanelLeft(2));
  EXPECT_EQ(p->minimum(), 0);
  EXPECT_EQ(p->maximum(), 100);
}

namespace {
// A window with the folder box and one more control after it.
struct EditWindow {
  QWidget window;
  TButtonEdit* edit = new TButtonEdit(&window);
  QPushButton* next = new QPushButton("Next", &window);
  EditWindow() {
    edit->setGeometry(8, 8, 433, 21);
    next->setGeometry(8, 40, 75, 25);
    window.resize(460, 80);
    window.show();
    window.activateWindow();
    QApplication::processEvents();
  }
};
}  // namespace

TEST(ButtonEdit, ButtonIsSquareFlushRightAndNoTabStop) {
  EditWindow w;
  QPushButton* b = w.edit->Button();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->text(), "...");
  EXPECT_EQ(b->parentWidget(), w.edit);
  EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
  const QRect client = w.edit->ClientRect();
  EXPECT_EQ(b->height(), client.height());
  EXPECT_EQ(b->width(), b->height());
  EXPECT_EQ(b->geometry().right(), client.right());
  EXPECT_EQ(b->y(), client.top());
  // A flat border keeps the button a pixel off it.
  w.edit->SetCtl3D(false);
  const QRect flat = w.edit->ClientRect();
  EXPECT_EQ(b->height(), flat.height() - 2);
  EXPECT_EQ(b->geometry().right(), flat.right() - 1);
  // Placement follows a size change.
  w.edit->SetCtl3D(true);
  w.edit->resize(300, 30);
  EXPECT_EQ(b->geometry().right(), w.edit->ClientRect().right());
  EXPECT_EQ(b->height(), w.edit->ClientRect().height());
}

TEST(ButtonEdit, ClickRaisesEventAndReturnsFocusEvenAfterADialog) {
  EditWindow w;
  w.next->setFocus();
  QApplication::processEvents();
  int clicks = 0;
  int emitted = 0;
  QObject::connect(w.edit, &TCustomButtonEdit::buttonClicked, [&] { ++emitted; });
  w.edit->OnButtonClick = [&] {
    ++clicks;
    QDialog dlg(&w.window);
    auto* other = new QPushButton("OK", &dlg);
    QTimer::singleShot(0, &dlg, [&] {
      other->setFocus();
      dlg.accept();
    });
    dlg.exec();
  };
  w.edit->Button()->click();
  QApplication::processEvents();
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(emitted, 1);
  EXPECT_EQ(QApplication::focusWidget(), w.edit);
}

TEST(ButtonEdit, TabMovesToTheNextControlNotTheButton) {
  EditWindow w;
  w.edit->setFocus();
  QApplication::processEvents();
  ASSERT_EQ(QApplication::focusWidget(), w.edit);
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(w.edit, &tab);
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), w.next);
}
