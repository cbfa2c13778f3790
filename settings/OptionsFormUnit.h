#pragma once
// The options dialog: similarity threshold, switches and file types. Every
// change takes effect at once in the settings and in the file finder's
// patterns; OK also saves the settings to the store.

#include <QAbstractSpinBox>
#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class TSettings;

// A numeric field with arrows whose text is passed on unchecked while the
// user types; leaving the field brings the value into Minimum..Maximum.
// Text that is not a number reads as the minimum.
class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);
  int Value() const;
  // Sets the value, brought into range, and raises valueChanged.
  void SetValue(int v);
  int Minimum = 50, Maximum = 100;
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;

 signals:
  void valueChanged(int value);

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;
};

class TOptionsForm : public QDialog {
  Q_OBJECT
 public:
  TOptionsForm(TSettings& settings, std::vector<std::string>& filters, QWidget* parent = nullptr);

  // The file-type rule: patterns and FileTypes from the checked rows; with
  // none checked, the error and JPEG.
  void FileTypesListBoxClickCheck();
  void SelectAllButtonClick();
  void DeselectAllClick();
  void OKButtonClick();
  void CancelButtonClick();

  QTabWidget* PageControl = nullptr;
  TSpinEdit* SimilaritySpinEdit = nullptr;
  QCheckBox* DeleteToRecycleBin = nullptr;
  QCheckBox* MarkSmallerDimImages = nullptr;
  QCheckBox* MarkSmallerFileSizeImages = nullptr;
  QCheckBox* SaveSettingsOnExit = nullptr;
  QListWidget* FileTypesListBox = nullptr;
  QPushButton* SelectAllButton = nullptr;
  QPushButton* DeselectAllButton = nullptr;
  QPushButton* OKButton = nullptr;
  QPushButton* CancelButton = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  TSettings& settings_;
  std::vector<std::string>& filters_;
  bool applying_ = false;
};
