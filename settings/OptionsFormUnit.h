#pragma once
// TOptionsForm: the "Options" dialog. Its controls write into the settings
// object as the user operates them, and the file-type list rewrites the
// pattern list of the main window's file finder; OK also writes the settings
// to the store. Cancel closes without writing, keeping the changes made.

#include <QDialog>
#include <QWidget>
#include <functional>

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;
class QToolButton;
class TFindFile;

// A whole-number field with up and down arrows. Its value is the number in
// its text (text that is not a number reads as the minimum). Typing passes
// every change on unchecked; leaving the field, or setting a value, brings it
// into MinValue..MaxValue.
class TSpinEdit : public QWidget {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);
  int Value() const;
  void SetValue(int value);
  int MinValue = 50;
  int MaxValue = 100;
  int Increment = 1;
  QLineEdit* Edit() const { return edit_; }
  std::function<void()> OnChange;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int Clamped(int value) const;
  void Step(int delta);
  QLineEdit* edit_;
  QToolButton* up_;
  QToolButton* down_;
};

class TOptionsForm : public QDialog {
  Q_OBJECT
 public:
  // fileFinder is the main window's file finder whose patterns the file-type
  // list rewrites.
  TOptionsForm(QWidget* parent, TFindFile* fileFinder);

  QTabWidget* PageControl;
  TSpinEdit* SimilaritySpinEdit;
  QCheckBox* DeleteToRecycleBin;
  QCheckBox* MarkSmallerDimImages;
  QCheckBox* MarkSmallerFileSizeImages;
  QCheckBox* SaveSettingsOnExit;
  QListWidget* FileTypesListBox;
  QPushButton* SelectAllButton;
  QPushButton* DeselectAllButton;
  QPushButton* OKButton;
  QPushButton* CancelButton;

  // The file-type rule: patterns and flags from the checked rows; with no
  // row checked, an error and the JPEG row checked again.
  void FileTypesListBoxClickCheck();
  void SelectAllButtonClick();
  void DeselectAllClick();
  void OKButtonClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  void SetAllRows(bool checked);
  TFindFile* fileFinder_;
  bool settingRows_ = false;
};
