#pragma once
// TPreviewForm: the Visual Compare window. Shows the image of the row
// selected in the main window's duplicates list at the largest size that
// fits, steps through the list's rows (buttons, Page Up / Page Down, the
// wheel) and marks or unmarks the shown image. It works on the list and the
// finder's records directly, through a TPreviewSource: the row shown is the
// row selected in the list, and the check box writes the record's Marked
// flag and the row's check box.

#include <QDialog>

class QCheckBox;
class QPushButton;
class TDImage;
class TImageBox;
class TPreviewSource;

class TPreviewForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPreviewForm(QWidget* parent);

  void SetSource(TPreviewSource* source) { source_ = source; }
  TPreviewSource* Source() const { return source_; }

  // Prepares the window for the selected row of the list, row being its
  // index: enables the buttons, shows "File not found !" and returns false
  // when the file is gone (the window is then not to be shown), else sets
  // the caption and the check box, loads the image and returns true. Also
  // false when the list has no selected row or the file cannot be opened
  // (the loader's message is shown).
  bool Prepare(int row);

  int CurrentRow() const { return currentRow_; }
  // The record of the image shown; null before the first one was shown.
  TDImage* CurrentRecord() const { return currentRecord_; }

  TImageBox* PreviewImage = nullptr;
  QWidget* LabelPanel = nullptr;
  QPushButton* PreviousBtn = nullptr;
  QPushButton* NextBtn = nullptr;
  QCheckBox* DuplicateChk = nullptr;

  // Closing clears the image to the background colour, keeping its size.
  void done(int result) override;

 protected:
  // The window sees key presses before the focused control.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Previous and next share this handler and tell the buttons apart by sender.
  void PreviousBtnClick(QObject* sender);
  void DuplicateChkClick();
  // Escape, Page Up and Page Down; true when the key was taken.
  bool FormKeyDown(int key);
  void EnableButtons();
  // Shows the selected row of the list; leaves everything as it was and
  // returns false when that row's file is missing.
  bool ShowSelectedRow();

  TPreviewSource* source_ = nullptr;
  int currentRow_ = 0;
  TDImage* currentRecord_ = nullptr;
  int wheelRemainder_ = 0;
};
