#include "view/PreviewFormUnit.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QWheelEvent>

#include <exception>
#include <filesystem>
#include <system_error>

#include "app/Utils.h"
#include "finder/DFinder.h"
#include "io/ImageIO.h"
#include "view/ImageView.h"
#include "view/PreviewSource.h"

namespace {

// Client area 687 x 542: the view above a 41-pixel panel.
constexpr int kClientWidth = 687;
constexpr int kClientHeight = 542;
constexpr int kPanelHeight = 41;

bool FileExists(const std::string& name) {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(name), ec);
}

// The file name without its folder (bytes after the last '/').
std::string BaseName(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

TPreviewForm::TPreviewForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PreviewForm"));
  setWindowTitle(QStringLiteral("Visual Compare"));
  // A fixed single border with only the system menu and close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  setFixedSize(kClientWidth, kClientHeight);
  setSizeGripEnabled(false);

  PreviewImage = new TImageBox(this);
  PreviewImage->setObjectName(QStringLiteral("PreviewImage"));
  PreviewImage->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);
  PreviewImage->SetAutoFit(true);
  PreviewImage->SetAutoShrink(true);
  PreviewImage->SetZoomFilter(rfFastLinear);
  PreviewImage->SetAutoUndo(false);
  PreviewImage->DoubleBuffer = false;
  PreviewImage->setCursor(Qt::ArrowCursor);

  LabelPanel = new QWidget(this);
  LabelPanel->setObjectName(QStringLiteral("LabelPanel"));
  LabelPanel->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);

  PreviousBtn = new QPushButton(QStringLiteral("[PgUp] Previous"), LabelPanel);
  PreviousBtn->setObjectName(QStringLiteral("PreviousBtn"));
  PreviousBtn->setGeometry(244, 8, 91, 25);
  NextBtn = new QPushButton(QStringLiteral("Next [PgDn]"), LabelPanel);
  NextBtn->setObjectName(QStringLiteral("NextBtn"));
  NextBtn->setGeometry(348, 8, 89, 25);
  DuplicateChk = new QCheckBox(QStringLiteral("Duplicate"), LabelPanel);
  DuplicateChk->setObjectName(QStringLiteral("DuplicateChk"));
  DuplicateChk->setGeometry(588, 13, 84, 17);
  for (QPushButton* b : {PreviousBtn, NextBtn}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }

  connect(PreviousBtn, &QPushButton::clicked, this, [this] { PreviousBtnClick(PreviousBtn); });
  connect(NextBtn, &QPushButton::clicked, this, [this] { PreviousBtnClick(NextBtn); });
  connect(DuplicateChk, &QCheckBox::clicked, this, [this] { DuplicateChkClick(); });

  for (QWidget* w : {static_cast<QWidget*>(PreviewImage), LabelPanel, static_cast<QWidget*>(PreviousBtn),
                     static_cast<QWidget*>(NextBtn), static_cast<QWidget*>(DuplicateChk)})
    w->installEventFilter(this);
  PreviewImage->setFocus();
}

void TPreviewForm::EnableButtons() {
  const int rows = source_ ? source_->PreviewRowCount() : 0;
  PreviousBtn->setEnabled(currentRow_ > 0);
  NextBtn->setEnabled(currentRow_ < rows - 1);
}

bool TPreviewForm::Prepare(int row) {
  currentRow_ = row;
  EnableButtons();
  return ShowSelectedRow();
}

bool TPreviewForm::ShowSelectedRow() {
  if (!source_) return false;
  TDFinder* finder = source_->PreviewFinder();
  const int selected = source_->PreviewSelectedRow();
  if (!finder || selected < 0 || selected >= source_->PreviewRowCount()) return false;
  const int k = source_->PreviewRowData(selected);
  if (k < 0 || k >= static_cast<int>(finder->FileNames.size()) || k >= static_cast<int>(finder->Images.size()) ||
      !finder->Images[static_cast<size_t>(k)])
    return false;
  const std::string& fileName = finder->FileNames[static_cast<size_t>(k)];
  if (!FileExists(fileName)) {
    ShowError(QStringLiteral("File not found !"));
    return false;
  }
  currentRecord_ = finder->Images[static_cast<size_t>(k)].get();
  setWindowTitle(QStringLiteral("Visual Compare - %1 (%2 x %3) - %4 bytes")
                     .arg(DisplayName(BaseName(fileName)))
                     .arg(currentRecord_->Width)
                     .arg(currentRecord_->Height)
                     .arg(currentRecord_->FileSize));
  // Setting the box runs its handler, which writes the same value back to
  // the record and the row.
  DuplicateChk->setChecked(currentRecord_->Marked);
  DuplicateChkClick();
  // A file that is there but cannot be opened is reported with the loader's
  // own text; the window then is not opened (or, while stepping, keeps the
  // image it had).
  try {
    PreviewImage->IO().LoadFromFile(fileName);
  } catch (const std::exception& e) {
    ShowError(QString::fromLocal8Bit(e.what()));
    return false;
  }
  return true;
}

void TPreviewForm::PreviousBtnClick(QObject* sender) {
  if (!source_) return;
  currentRow_ += sender == PreviousBtn ? -1 : 1;
  EnableButtons();
  // Moves the main window's selection; its row-change handler runs.
  source_->PreviewSelectRow(currentRow_);
  // A missing file only shows the message: caption, image, check box and
  // current record stay those of the previous row.
  ShowSelectedRow();
}

void TPreviewForm::DuplicateChkClick() {
  const bool checked = DuplicateChk->isChecked();
  if (currentRecord_) currentRecord_->Marked = checked;
  if (source_ && currentRow_ >= 0 && currentRow_ < source_->PreviewRowCount())
    source_->PreviewSetRowChecked(currentRow_, checked);
}

bool TPreviewForm::FormKeyDown(int key) {
  switch (key) {
    case Qt::Key_Escape:
      reject();
      return true;
    case Qt::Key_PageUp:
      if (PreviousBtn->isEnabled()) PreviousBtnClick(PreviousBtn);
      return true;
    case Qt::Key_PageDown:
      if (NextBtn->isEnabled()) PreviousBtnClick(NextBtn);
      return true;
    default:
      return false;
  }
}

bool TPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(event);
    if (k->modifiers() == Qt::NoModifier || k->modifiers() == Qt::KeypadModifier) {
      if (FormKeyDown(k->key())) return true;
    }
  } else if (event->type() == QEvent::Wheel) {
    // The wheel over any part of the window steps through the rows; the
    // fitted view would not use it anyway.
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TPreviewForm::keyPressEvent(QKeyEvent* event) {
  if ((event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) &&
      FormKeyDown(event->key())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TPreviewForm::wheelEvent(QWheelEvent* event) {
  wheelRemainder_ += event->angleDelta().y();
  while (wheelRemainder_ <= -QWheelEvent::DefaultDeltasPerStep) {
    wheelRemainder_ += QWheelEvent::DefaultDeltasPerStep;
    if (NextBtn->isEnabled()) PreviousBtnClick(NextBtn);  // toward the user
  }
  while (wheelRemainder_ >= QWheelEvent::DefaultDeltasPerStep) {
    wheelRemainder_ -= QWheelEvent::DefaultDeltasPerStep;
    if (PreviousBtn->isEnabled()) PreviousBtnClick(PreviousBtn);  // away from the user
  }
  event->accept();
}

void TPreviewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterForm(this);
  PreviewImage->setFocus(Qt::ActiveWindowFocusReason);
}

void TPreviewForm::done(int result) {
  PreviewImage->Clear();
  wheelRemainder_ = 0;
  QDialog::done(result);
}
