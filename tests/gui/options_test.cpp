// The options dialog: file-type rule, numeric field, OK and Cancel.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "app/Utils.h"
#include "help/HtmlHelpAPI.h"
#include <QKeyEvent>
#include "search/FindFile.h"
#include "settings/OptionsFormUnit.h"
#include "settings/Registry.h"
#include "settings/SettingsUnit.h"

namespace {

using Patterns = std::vector<std::string>;

// A settings object in place of the main window's, and a message hook that
// records the boxes shown.
class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.FileTypes = 0;
    Settings = &settings_;
    SetMessageHook([this](TMsgKind, const QString& text) {
      messages_.push_back(text);
      return int(QMessageBox::Ok);
    });
  }
  void TearDown() override {
    SetMessageHook({});
    Settings = nullptr;
  }
  TSettings settings_;
  TFindFile finder_;
  std::vector<QString> messages_;
};

TEST_F(OptionsTest, ShowingAppliesTheSavedFileTypesEvenOnCancel) {
  settings_.FileTypes = (1u << itGIF) | (1u << itPNG);
  TOptionsForm form(nullptr, &finder_);
  form.show();
  EXPECT_EQ(form.windowTitle(), "Options");
  EXPECT_EQ(form.PageControl->currentIndex(), 1);  // opens on "File Types"
  EXPECT_EQ(finder_.Filters, (Patterns{"*.gif", "*.png"}));
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(&form, &f1);
  EXPECT_EQ(CurrentHelpPage(), "options.html");
  form.CancelButton->click();
  EXPECT_EQ(finder_.Filters, (Patterns{"*.gif", "*.png"}));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(OptionsTest, SelectAllAndDeselectAll) {
  settings_.FileTypes = 1u << itJPEG;
  TOptionsForm form(nullptr, &finder_);
  form.show();
  form.SelectAllButton->click();
  EXPECT_EQ(finder_.Filters.size(), 31u);
  EXPECT_EQ(finder_.Filters.front(), "*.jpg");
  EXPECT_EQ(finder_.Filters.back(), "*.ppm");
  EXPECT_EQ(settings_.FileTypes, kAllImageFileTypes);

  form.DeselectAllButton->click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "At least one file type should be selected.\r\nJPG format is now automatically selected.");
  EXPECT_EQ(finder_.Filters, (Patterns{"*.jpg", "*.jpeg", "*.jpe"}));
  EXPECT_EQ(settings_.FileTypes, 1u << itJPEG);
  for (int i = 0; i < form.FileTypesListBox->count(); ++i)
    EXPECT_EQ(form.FileTypesListBox->item(i)->checkState() == Qt::Checked, i == 0) << i;
}

TEST_F(OptionsTest, UncheckingTheLastRowKeepsJpeg) {
  settings_.FileTypes = 1u << itWBMP;
  TOptionsForm form(nullptr, &finder_);
  form.show();
  EXPECT_EQ(finder_.Filters, (Patterns{"*.wbmp"}));
  form.FileTypesListBox->item(itWBMP)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(finder_.Filters, (Patterns{"*.jpg", "*.jpeg", "*.jpe"}));
}

TEST_F(OptionsTest, NumericFieldClampsOnLeavingAndOnOk) {
  struct Case {
    int stored;
    QString typed;  // empty: nothing typed
    int saved;
  } cases[] = {{90, "30", 50}, {120, "", 100}, {90, "77", 77}, {90, "abc", 50}, {90, "250", 100}};
  for (const auto& c : cases) {
    settings_.Similarity = c.stored;
    TOptionsForm form(nullptr, &finder_);
    form.show();
    if (!c.typed.isEmpty()) {
      form.SimilaritySpinEdit->Edit()->setText(c.typed);
      // Typing passes the value on unchecked.
      if (c.typed == "30") {
        EXPECT_EQ(settings_.Similarity, 30);
      }
    }
    form.OKButton->click();
    EXPECT_EQ(settings_.Similarity, c.saved) << c.typed.toStdString();
    TSettings reloaded;
    EXPECT_EQ(reloaded.Similarity, c.saved) << c.typed.toStdString();
  }
}

TEST_F(OptionsTest, CheckBoxesWriteAtOnceAndCancelKeepsThemUnsaved) {
  settings_.DeleteToRecycleBin = true;
  settings_.SaveSettings = true;
  settings_.Save();
  TOptionsForm form(nullptr, &finder_);
  form.show();
  EXPECT_TRUE(form.DeleteToRecycleBin->isChecked());
  form.DeleteToRecycleBin->click();
  form.SaveSettingsOnExit->click();
  EXPECT_FALSE(settings_.DeleteToRecycleBin);
  EXPECT_FALSE(settings_.SaveSettings);
  form.CancelButton->click();
  EXPECT_FALSE(settings_.DeleteToRecycleBin);  // in effect while the program runs
  TSettings stored;
  EXPECT_TRUE(stored.DeleteToRecycleBin);  // but not written
  EXPECT_TRUE(stored.SaveSettings);
}

}  // namespace
