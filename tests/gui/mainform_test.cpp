// The main window: scanning a folder, browsing and marking the results,
// stopping, help, settings on close and deleting marked files.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <set>

#include "app/MainUnit.h"
#include "app/Utils.h"
#include "controls/ButtonEd.h"
#include "controls/KelvaneStatusBar.h"
#include "finder/DFinder.h"
#include "finder/Deletion.h"
#include "help/HtmlHelpAPI.h"
#include "search/FindFile.h"
#include "settings/SettingsUnit.h"
#include "tests/core/PpmFixture.h"
#include "tests/core/TempTree.h"
#include "view/PreviewFormUnit.h"

namespace {

struct TShownMessage {
  TMsgKind Kind;
  QString Text;
};

// A main window with its compare window, looking for portable pixmaps, and
// every message box answered by `answer` and recorded.
class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageHook([this](TMsgKind kind, const QString& text) {
      messages_.push_back({kind, text});
      return int(kind == TMsgKind::Confirmation ? answer_ : QMessageBox::Ok);
    });
    form_ = std::make_unique<TMainForm>();
    preview_ = std::make_unique<TPreviewForm>(form_.get());
    preview_->SetSource(form_.get());
    form_->SetPreviewForm(preview_.get());
    Settings->SaveSettings = false;
    Settings->MarkSmallerDimImages = true;
    Settings->MarkSmallerFileSizeImages = true;
    Settings->Similarity = 90;
    form_->FileFinder()->Filters = {"*.ppm"};
    form_->show();
  }
  void TearDown() override {
    preview_.reset();
    form_.reset();
    SetMessageHook({});
  }
  void Scan(const std::string& folder) {
    Settings->ScanFolder = folder;
    form_->ActionStartScanExecute();
  }
  // Scans a folder holding two identical pictures of w x h.
  void ScanIdenticalPair(TTempTree& tree, int w, int h) {
    tree.Add("a.ppm", BlocksPpm(w, h));
    tree.Add("b.ppm", BlocksPpm(w, h));
    Scan(tree.Root());
  }
  int RowOf(const std::string& path) const {
    for (int r = 0; r < form_->DupListView->topLevelItemCount(); ++r)
      if (form_->RowText(r, 1) == QString::fromStdString(path)) return r;
    return -1;
  }
  int Confirmations() const {
    int n = 0;
    for (const auto& m : messages_) n += m.Kind == TMsgKind::Confirmation;
    return n;
  }

  std::unique_ptr<TMainForm> form_;
  std::unique_ptr<TPreviewForm> preview_;
  std::vector<TShownMessage> messages_;
  int answer_ = QMessageBox::Yes;
};

TEST_F(MainFormTest, ScanListsGroupsAndMarksTheLesserCopies) {
  TTempTree tree;
  const std::string a = tree.Add("a.ppm", BlocksPpm(64, 48));
  const std::string b = tree.Add("sub/b.ppm", BlocksPpm(64, 48));
  const std::string c = tree.Add("c.ppm", BlocksPpm(32, 24));
  tree.Add("other.ppm", BlocksPpm(64, 48, 7));
  Scan(tree.Root());

  ASSERT_EQ(form_->FilesListBox->count(), 1);
  const QString entry = form_->FilesListBox->item(0)->text();
  EXPECT_TRUE(entry == "1." + QString::fromStdString(a) || entry == "1." + QString::fromStdString(c)) << entry.toStdString();
  EXPECT_EQ(form_->DuplPanel->text(), "Images with duplicates: 1 files");
  EXPECT_EQ(form_->StatusBar->PanelText(0), "Scan finished.");
  EXPECT_EQ(form_->windowTitle(), TitleText());
  EXPECT_TRUE(form_->ActionDeleteSelected->isEnabled());
  EXPECT_TRUE(form_->ActionStartScan->isEnabled());
  EXPECT_FALSE(form_->ActionStopScan->isEnabled());

  // The first entry is shown: three rows, the smaller copy marked, selected
  // and compared with the original.
  ASSERT_EQ(form_->DupListView->topLevelItemCount(), 3);
  EXPECT_EQ(form_->RowText(RowOf(c), 2), "32x24");
  EXPECT_EQ(form_->RowText(RowOf(a), 2), "64x48");
  EXPECT_TRUE(form_->RowChecked(RowOf(c)));
  EXPECT_FALSE(form_->RowChecked(RowOf(a)));
  EXPECT_FALSE(form_->RowChecked(RowOf(b)));
  EXPECT_EQ(form_->PreviewSelectedRow(), RowOf(c));
  EXPECT_TRUE(form_->DupPanel->text().startsWith("Duplicate - ")) << form_->DupPanel->text().toStdString();
  EXPECT_TRUE(form_->DupPanel->text().endsWith("%"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, IdenticalCopyShowsOneHundredPercent) {
  TTempTree tree;
  ScanIdenticalPair(tree, 80, 60);
  ASSERT_EQ(form_->DupListView->topLevelItemCount(), 2);
  // Equal dimensions and sizes: the duplicate is marked, selected and shown.
  EXPECT_FALSE(form_->RowChecked(0));
  EXPECT_TRUE(form_->RowChecked(1));
  EXPECT_EQ(form_->PreviewSelectedRow(), 1);
  EXPECT_EQ(form_->DupPanel->text(), "Duplicate - 100.00%");
}

TEST_F(MainFormTest, UnreadableFilesAreListedAfterTheScan) {
  TTempTree tree;
  const std::string broken = tree.Add("broken.ppm", "P6\n40 30\n255\n");
  ScanIdenticalPair(tree, 40, 30);
  EXPECT_EQ(form_->FilesListBox->count(), 1);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].Kind, TMsgKind::Warning);
  EXPECT_TRUE(messages_[0].Text.contains(QString::fromStdString(broken))) << messages_[0].Text.toStdString();
}

TEST_F(MainFormTest, FolderErrorsLeaveTheWindowIdle) {
  struct Case {
    std::string folder;
    QString message;
  } cases[] = {{"   ", "Select folder first!"},
               {"/no/such/folder", "Folder /no/such/folder doesn't exists!"}};
  for (const auto& c : cases) {
    messages_.clear();
    Scan(c.folder);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].Kind, TMsgKind::Error);
    EXPECT_EQ(messages_[0].Text, c.message);
    EXPECT_TRUE(form_->ActionStartScan->isEnabled());
    EXPECT_EQ(form_->windowTitle(), TitleText());
  }
}

TEST_F(MainFormTest, ConfirmedStopDuringComparisonListsTheGroupsSoFar) {
  TTempTree tree;
  tree.Add("a.ppm", BlocksPpm(40, 30));
  tree.Add("b.ppm", BlocksPpm(40, 30));
  tree.Add("c.ppm", BlocksPpm(40, 30, 5));
  tree.Add("d.ppm", BlocksPpm(40, 30, 5));
  TDFinder* finder = form_->Finder();
  auto original = finder->OnFindProgress;
  bool stopped = false;
  finder->OnFindProgress = [&](void* sender, const std::string& text, int pos, int max) {
    // Escape during the second row of the comparison.
    if (text.rfind("Comparing", 0) == 0 && pos == 2 && !stopped) {
      stopped = true;
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, "\x1b");
      QApplication::sendEvent(form_->FilesListBox, &esc);
      EXPECT_TRUE(form_->StopAsked);
    }
    original(sender, text, pos, max);
  };
  Scan(tree.Root());
  EXPECT_EQ(Confirmations(), 1);
  EXPECT_EQ(messages_[0].Text, "Do you want to stop the current operation?");
  // The first row's group was found before the stop; the pair c, d was not.
  EXPECT_EQ(form_->FilesListBox->count(), 1);
  EXPECT_EQ(form_->StatusBar->PanelText(0), "Scan finished.");
  EXPECT_TRUE(form_->ActionStartScan->isEnabled());
}

TEST_F(MainFormTest, EscapeThenAnotherKeyAsksNothing) {
  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, "\x1b");
  QKeyEvent a(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
  QApplication::sendEvent(form_->FilesListBox, &esc);
  QApplication::sendEvent(form_->FilesListBox, &a);
  form_->FinderProgress(form_.get(), "Comparing images... (1 / 2)", 1, 2);
  EXPECT_EQ(Confirmations(), 0);
  EXPECT_EQ(form_->StatusBar->PanelText(0), "Comparing images... (1 / 2)");

  // Escape alone asks; No lets the report show its own text.
  answer_ = QMessageBox::No;
  QApplication::sendEvent(form_->FilesListBox, &esc);
  form_->FinderProgress(form_.get(), "Comparing images... (2 / 2)", 2, 2);
  EXPECT_EQ(Confirmations(), 1);
  EXPECT_FALSE(form_->StopAsked);
  EXPECT_EQ(form_->StatusBar->PanelText(0), "Comparing images... (2 / 2)");
}

TEST_F(MainFormTest, SortingComparesTheShownTextsAndMarksSurviveSwitching) {
  TTempTree tree;
  tree.Add("x1.ppm", BlocksPpm(200, 200));  // 117.20 KB
  tree.Add("x2.ppm", BlocksPpm(100, 100));  // 29.31 KB
  tree.Add("x3.ppm", BlocksPpm(30, 30));    // 2.65 KB
  tree.Add("y1.ppm", BlocksPpm(60, 60, 9));
  tree.Add("y2.ppm", BlocksPpm(60, 60, 9));
  Scan(tree.Root());
  ASSERT_EQ(form_->FilesListBox->count(), 2);

  // Find the entry of the x group.
  int xEntry = form_->FilesListBox->item(0)->text().contains("/x") ? 0 : 1;
  form_->FilesListBox->setCurrentRow(xEntry);
  ASSERT_EQ(form_->DupListView->topLevelItemCount(), 3);
  form_->DupListViewColumnClick(3);
  EXPECT_EQ(form_->SortColumn, 3);
  EXPECT_EQ(form_->RowText(0, 3), "117.20 KB");
  EXPECT_EQ(form_->RowText(1, 3), "2.65 KB");
  EXPECT_EQ(form_->RowText(2, 3), "29.31 KB");
  form_->DupListViewColumnClick(2);
  EXPECT_EQ(form_->RowText(0, 2), "100x100");
  EXPECT_EQ(form_->RowText(1, 2), "200x200");
  EXPECT_EQ(form_->RowText(2, 2), "30x30");

  // Uncheck the 30 x 30 copy, switch entries and come back.
  const int small = 2;
  ASSERT_TRUE(form_->RowChecked(small));
  form_->PreviewSetRowChecked(small, false);
  form_->FilesListBox->setCurrentRow(1 - xEntry);
  form_->FilesListBox->setCurrentRow(xEntry);
  for (int r = 0; r < 3; ++r)
    if (form_->RowText(r, 2) == "30x30") EXPECT_FALSE(form_->RowChecked(r));
}

TEST_F(MainFormTest, HintShowsTheEntryUnderThePointerOnce) {
  TTempTree tree;
  ScanIdenticalPair(tree, 40, 30);
  ASSERT_EQ(form_->FilesListBox->count(), 1);
  const QPoint at = form_->FilesListBox->visualItemRect(form_->FilesListBox->item(0)).center();
  for (int i = 0; i < 2; ++i) {
    QMouseEvent move(QEvent::MouseMove, QPointF(at + QPoint(i, 0)), QPointF(form_->FilesListBox->viewport()->mapToGlobal(at)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form_->FilesListBox->viewport(), &move);
  }
  EXPECT_EQ(form_->HintsSet(), 1);
  EXPECT_EQ(form_->FilesListBox->toolTip(), form_->FilesListBox->item(0)->text());
}

TEST_F(MainFormTest, HelpTopicsAndNewScan) {
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(form_->DupListView, &f1);
  EXPECT_EQ(CurrentHelpPage(), "results.html");
  form_->MenuHelpHelp->trigger();
  EXPECT_EQ(CurrentHelpPage(), "index.html");

  TTempTree tree;
  ScanIdenticalPair(tree, 40, 30);
  ASSERT_EQ(form_->FilesListBox->count(), 1);
  form_->ActionNewScan->trigger();
  EXPECT_EQ(form_->FilesListBox->count(), 0);
  EXPECT_EQ(form_->DupListView->topLevelItemCount(), 0);
  EXPECT_FALSE(form_->ActionDeleteSelected->isEnabled());
}

TEST_F(MainFormTest, SettingsAreSavedOnCloseOnlyWhenAsked) {
  for (bool save : {false, true}) {
    Settings->Similarity = 90;
    Settings->Save();
    Settings->Similarity = 77;
    Settings->SaveSettings = save;
    form_->close();
    TSettings stored;
    EXPECT_EQ(stored.Similarity, save ? 77 : 90);
    stored.SaveSettings = false;
    stored.Save();
    TearDown();
    SetUp();
  }
}

TEST_F(MainFormTest, ClosingDuringAScanWindsItDownFirst) {
  TTempTree tree;
  for (int i = 0; i < 6; ++i) tree.Add("f" + std::to_string(i) + ".ppm", BlocksPpm(40, 30, i % 2));
  TDFinder* finder = form_->Finder();
  auto original = finder->OnFindProgress;
  bool closed = false;
  finder->OnFindProgress = [&](void* sender, const std::string& text, int pos, int max) {
    if (!closed) {
      closed = true;
      answer_ = QMessageBox::No;  // the close is granted even so
      form_->close();
      EXPECT_NE(form_->Finder(), nullptr);
    }
    original(sender, text, pos, max);
  };
  Scan(tree.Root());
  EXPECT_TRUE(closed);
  EXPECT_FALSE(form_->isVisible());
  EXPECT_EQ(form_->FilesListBox->count(), 0);
  QApplication::processEvents();
  EXPECT_FALSE(form_->Scanning());
}

// Moves a file into a temporary trash folder; the file named "stuck.ppm"
// cannot go to the trash.
std::string gTrash;
bool FakeTrash(const std::string& path) {
  if (path.ends_with("stuck.ppm")) return false;
  std::error_code ec;
  std::filesystem::rename(path, gTrash + "/" + std::filesystem::path(path).filename().string(), ec);
  return !ec;
}

TEST_F(MainFormTest, DeleteSelectedRemovesOnlyMarkedFilesAndListsEachOutcome) {
  TTempTree tree;
  TTempTree trash;
  gTrash = trash.Root();
  SetTrashFunction(&FakeTrash);
  const std::string keep = tree.Add("keep.ppm", BlocksPpm(64, 48));
  const std::string small = tree.Add("sub/small.ppm", BlocksPpm(32, 24));
  const std::string stuck = tree.Add("sub/stuck.ppm", BlocksPpm(16, 12));
  const std::string other = tree.Add("other.ppm", BlocksPpm(64, 48, 3));
  Settings->DeleteToRecycleBin = true;
  Scan(tree.Root());
  ASSERT_EQ(form_->FilesListBox->count(), 1);
  messages_.clear();
  form_->ActionDeleteSelected->trigger();
  ASSERT_GE(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].Kind, TMsgKind::Confirmation);
  EXPECT_TRUE(messages_[0].Text.contains("2")) << messages_[0].Text.toStdString();

  EXPECT_TRUE(std::filesystem::exists(keep));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_FALSE(std::filesystem::exists(small));
  EXPECT_TRUE(std::filesystem::exists(trash.Path("small.ppm")));
  EXPECT_TRUE(std::filesystem::exists(stuck));  // the trash failed: kept, not deleted
  EXPECT_EQ(form_->Panels->currentWidget(), form_->DeletePanel);
  std::set<QString> lines;
  for (int i = 0; i < form_->DeleteListBox->count(); ++i) lines.insert(form_->DeleteListBox->item(i)->text());
  EXPECT_TRUE(lines.count(QString::fromStdString(small) + " - " + DeleteOutcomeText(TDeleteOutcome::Trashed)));
  bool stuckListed = false;
  for (const QString& l : lines)
    stuckListed |= l.startsWith(QString::fromStdString(stuck) + " - " + DeleteOutcomeText(TDeleteOutcome::TrashFailed));
  EXPECT_TRUE(stuckListed);
  form_->NewScanButton->click();
  EXPECT_EQ(form_->Panels->currentWidget(), form_->MainPanel);
  SetTrashFunction(nullptr);
}

TEST_F(MainFormTest, DoubleClickOpensTheCompareWindowAtTheRow) {
  TTempTree tree;
  tree.Add("a.ppm", BlocksPpm(64, 48));
  tree.Add("b.ppm", BlocksPpm(32, 24));
  Scan(tree.Root());
  ASSERT_EQ(form_->DupListView->topLevelItemCount(), 2);
  QString caption;
  QTimer::singleShot(0, [&] {
    caption = preview_->windowTitle();
    preview_->close();
  });
  form_->ImageView2DblClick();
  EXPECT_TRUE(caption.startsWith("Visual Compare - ")) << caption.toStdString();
}

}  // namespace
