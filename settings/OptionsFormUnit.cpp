#include "settings/OptionsFormUnit.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/Utils.h"
#include "help/HtmlHelpViewer.h"
#include "search/FindFile.h"
#include "settings/FileTypes.h"
#include "settings/SettingsUnit.h"

namespace {
constexpr long kOptionsHelpContext = 1011;
}

// ---------------------------------------------------------------- TSpinEdit

TSpinEdit::TSpinEdit(QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  edit_ = new QLineEdit(this);
  layout->addWidget(edit_);
  auto* arrows = new QVBoxLayout;
  arrows->setSpacing(0);
  up_ = new QToolButton(this);
  down_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFocusPolicy(Qt::NoFocus);
    b->setAutoRepeat(true);
    b->setFixedSize(16, 11);
    arrows->addWidget(b);
  }
  layout->addLayout(arrows);
  setFocusProxy(edit_);
  edit_->installEventFilter(this);
  connect(edit_, &QLineEdit::textChanged, this, [this] {
    if (OnChange) OnChange();
  });
  connect(up_, &QToolButton::clicked, this, [this] { Step(Increment); });
  connect(down_, &QToolButton::clicked, this, [this] { Step(-Increment); });
}

int TSpinEdit::Value() const {
  bool ok = false;
  const int v = edit_->text().trimmed().toInt(&ok);
  return ok ? v : MinValue;
}

int TSpinEdit::Clamped(int value) const { return value < MinValue ? MinValue : value > MaxValue ? MaxValue : value; }

void TSpinEdit::SetValue(int value) {
  const QString text = QString::number(Clamped(value));
  if (edit_->text() == text) {
    // Setting the same text raises no change of its own; callers still
    // expect the value to be passed on.
    if (OnChange) OnChange();
    return;
  }
  edit_->setText(text);
}

void TSpinEdit::Step(int delta) { SetValue(Value() + delta); }

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_) {
    if (event->type() == QEvent::FocusOut) {
      const int v = Value();
      if (v != Clamped(v) || edit_->text().trimmed() != QString::number(v)) SetValue(v);
    } else if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Up) {
        Step(Increment);
        return true;
      }
      if (key->key() == Qt::Key_Down) {
        Step(-Increment);
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ------------------------------------------------------------- TOptionsForm

TOptionsForm::TOptionsForm(QWidget* parent, TFindFile* fileFinder) : QDialog(parent), fileFinder_(fileFinder) {
  setWindowTitle("Options");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(412, 287);

  PageControl = new QTabWidget(this);
  PageControl->setGeometry(8, 8, 396, 236);

  // Page "Settings".
  auto* settingsPage = new QWidget;
  auto* settingsGroup = new QGroupBox("Settings", settingsPage);
  settingsGroup->setGeometry(8, 8, 374, 190);
  auto* similarityLabel = new QLabel("Image similarity (%) :", settingsGroup);
  similarityLabel->setGeometry(16, 28, 120, 20);
  SimilaritySpinEdit = new TSpinEdit(settingsGroup);
  SimilaritySpinEdit->setGeometry(140, 26, 60, 22);
  similarityLabel->setBuddy(SimilaritySpinEdit->Edit());
  DeleteToRecycleBin = new QCheckBox("Move deleted files to Recycle Bin", settingsGroup);
  DeleteToRecycleBin->setGeometry(16, 60, 350, 20);
  MarkSmallerDimImages = new QCheckBox("Automatically mark duplicates with smaller dimensions", settingsGroup);
  MarkSmallerDimImages->setGeometry(16, 88, 350, 20);
  MarkSmallerFileSizeImages =
      new QCheckBox("Automatically mark duplicates with smaller file sizes if dimensions are equal", settingsGroup);
  MarkSmallerFileSizeImages->setGeometry(16, 116, 350, 34);
  SaveSettingsOnExit = new QCheckBox("Save settings on exit", settingsGroup);
  SaveSettingsOnExit->setGeometry(16, 156, 350, 20);
  PageControl->addTab(settingsPage, "Settings");

  // Page "File Types".
  auto* typesPage = new QWidget;
  auto* typesGroup = new QGroupBox("Search for file types", typesPage);
  typesGroup->setGeometry(8, 8, 374, 190);
  FileTypesListBox = new QListWidget(typesGroup);
  FileTypesListBox->setGeometry(12, 22, 260, 158);
  for (const auto& row : ImageFileTypeRows()) {
    auto* item = new QListWidgetItem(row.Caption, FileTypesListBox);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
  SelectAllButton = new QPushButton("Select All", typesGroup);
  SelectAllButton->setGeometry(282, 22, 82, 25);
  DeselectAllButton = new QPushButton("Deselect All", typesGroup);
  DeselectAllButton->setGeometry(282, 54, 82, 25);
  PageControl->addTab(typesPage, "File Types");

  OKButton = new QPushButton("OK", this);
  OKButton->setGeometry(248, 254, 75, 25);
  OKButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setGeometry(329, 254, 75, 25);

  SimilaritySpinEdit->OnChange = [this] {
    if (Settings) Settings->Similarity = SimilaritySpinEdit->Value();
  };
  connect(DeleteToRecycleBin, &QCheckBox::toggled, this, [](bool on) {
    if (Settings) Settings->DeleteToRecycleBin = on;
  });
  connect(MarkSmallerDimImages, &QCheckBox::toggled, this, [](bool on) {
    if (Settings) Settings->MarkSmallerDimImages = on;
  });
  connect(MarkSmallerFileSizeImages, &QCheckBox::toggled, this, [](bool on) {
    if (Settings) Settings->MarkSmallerFileSizeImages = on;
  });
  connect(SaveSettingsOnExit, &QCheckBox::toggled, this, [](bool on) {
    if (Settings) Settings->SaveSettings = on;
  });
  connect(FileTypesListBox, &QListWidget::itemChanged, this, [this](QListWidgetItem*) {
    if (!settingRows_) FileTypesListBoxClickCheck();
  });
  connect(SelectAllButton, &QPushButton::clicked, this, &TOptionsForm::SelectAllButtonClick);
  connect(DeselectAllButton, &QPushButton::clicked, this, &TOptionsForm::DeselectAllClick);
  connect(OKButton, &QPushButton::clicked, this, &TOptionsForm::OKButtonClick);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

  PageControl->setCurrentIndex(1);
}

void TOptionsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TOptionsForm::FormShow() {
  CenterForm(this);
  if (!Settings) return;
  // Each box writes its setting back as it is set; read all values first so
  // that no write can change a value not yet shown.
  const TSettings s = *Settings;
  DeleteToRecycleBin->setChecked(s.DeleteToRecycleBin);
  MarkSmallerDimImages->setChecked(s.MarkSmallerDimImages);
  MarkSmallerFileSizeImages->setChecked(s.MarkSmallerFileSizeImages);
  SaveSettingsOnExit->setChecked(s.SaveSettings);
  SimilaritySpinEdit->SetValue(s.Similarity);
  settingRows_ = true;
  for (int i = 0; i < kImageFileTypeCount; ++i)
    FileTypesListBox->item(i)->setCheckState(((s.FileTypes >> i) & 1u) ? Qt::Checked : Qt::Unchecked);
  settingRows_ = false;
  FileTypesListBoxClickCheck();
}

void TOptionsForm::FileTypesListBoxClickCheck() {
  if (!Settings) return;
  std::vector<std::string> patterns;
  TImageFileTypes types = 0;
  const auto& rows = ImageFileTypeRows();
  for (int i = 0; i < kImageFileTypeCount; ++i) {
    if (FileTypesListBox->item(i)->checkState() != Qt::Checked) continue;
    patterns.insert(patterns.end(), rows[i].Patterns.begin(), rows[i].Patterns.end());
    types = static_cast<TImageFileTypes>(types | (1u << i));
  }
  if (types == 0) {
    ShowError("At least one file type should be selected.\r\nJPG format is now automatically selected.");
    settingRows_ = true;
    FileTypesListBox->item(0)->setCheckState(Qt::Checked);
    settingRows_ = false;
    FileTypesListBoxClickCheck();
    return;
  }
  Settings->FileTypes = types;
  if (fileFinder_) fileFinder_->Filters = std::move(patterns);
}

void TOptionsForm::SetAllRows(bool checked) {
  settingRows_ = true;
  for (int i = 0; i < FileTypesListBox->count(); ++i)
    FileTypesListBox->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  settingRows_ = false;
  FileTypesListBoxClickCheck();
}

void TOptionsForm::SelectAllButtonClick() { SetAllRows(true); }
void TOptionsForm::DeselectAllClick() { SetAllRows(false); }

void TOptionsForm::OKButtonClick() {
  // The numeric field corrects its value when it loses the focus, as it does
  // when OK is clicked with the mouse; a keyboard OK must not skip that.
  SimilaritySpinEdit->SetValue(SimilaritySpinEdit->Value());
  if (Settings) {
    try {
      Settings->Save();
    } catch (const std::exception& e) {
      // The dialog stays open so that the user can try again.
      ShowError(QString::fromStdString(e.what()));
      return;
    }
  }
  accept();
}

void TOptionsForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    ShowHelpContext(kOptionsHelpContext);
    return;
  }
  QDialog::keyPressEvent(event);
}
