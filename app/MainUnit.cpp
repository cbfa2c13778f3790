#include "app/MainUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <exception>
#include <sys/stat.h>

#include "app/AboutUnit.h"
#include "app/Utils.h"
#include "controls/ButtonEd.h"
#include "controls/KelvaneStatusBar.h"
#include "finder/DFinder.h"
#include "finder/Marking.h"
#include "help/HtmlHelpViewer.h"
#include "image/ImageProc.h"
#include "io/ImageIO.h"
#include "search/FindFile.h"
#include "settings/FileTypes.h"
#include "settings/OptionsFormUnit.h"
#include "settings/SettingsUnit.h"
#include "view/ImageView.h"
#include "view/PreviewFormUnit.h"

namespace {

constexpr long kHelpContents = 1000;
constexpr long kHelpResults = 1010;
const QColor kOriginalColour(0x00, 0x80, 0x00);   // green
const QColor kDuplicateColour(0x80, 0x00, 0x00);  // maroon
constexpr int kRecordRole = Qt::UserRole;
const char kStopQuestion[] = "Do you want to stop the current operation?";
// Names listed at most in the message about files that could not be read.
constexpr size_t kUnreadableListed = 20;

// Numbers with two decimals in the user's own notation, without grouping.
QString TwoDecimals(double value) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return locale.toString(value, 'f', 2);
}

QString SizeText(int64_t bytes) { return TwoDecimals(static_cast<double>(bytes) / 1024.0) + " KB"; }

bool FolderExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

}  // namespace

void TDupRowDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const QColor colour = index.row() == 0 ? kOriginalColour : kDuplicateColour;
  option->palette.setColor(QPalette::Text, colour);
  // The selection stays visible, in the same colours, when the list has no
  // focus.
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    option->palette.setColor(group, QPalette::Highlight, option->palette.color(QPalette::Active, QPalette::Highlight));
    option->palette.setColor(group, QPalette::HighlightedText, Qt::white);
  }
}

// ------------------------------------------------------------------ set-up

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  io_ = std::make_unique<TImageIO>();
  proc_ = std::make_unique<TImageProc>();
  fileFinder_ = std::make_unique<TFindFile>();
  CreateActions();
  CreateMenusAndToolBar();
  Panels = new QStackedWidget;
  CreateMainPanel();
  CreateDeletePanel();
  Panels->addWidget(MainPanel);
  Panels->addWidget(DeletePanel);
  Panels->setCurrentWidget(MainPanel);
  setCentralWidget(Panels);
  StatusBar = new TKelvaneStatusBar(this);
  setStatusBar(StatusBar);
  // The panels keep their layout of 677 x 426 pixels; the window takes the
  // height the tool bar, status bar and menu bar need with the desktop's
  // fonts, and cannot be resized.
  MainPanel->setFixedSize(677, 426);
  DeletePanel->setFixedSize(677, 426);
  setFixedSize(677, menuBar()->sizeHint().height() + ToolBar->sizeHint().height() + 426 +
                        StatusBar->sizeHint().height());
  qApp->installEventFilter(this);
  SetMessageOwner(this);
  HelpViewer().Caller = this;
  FormCreate();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  if (MessageOwner() == this) SetMessageOwner(nullptr);
  if (HelpViewer().Caller == this) HelpViewer().Caller = nullptr;
  if (Settings == settings_.get()) Settings = nullptr;
}

void TMainForm::CreateActions() {
  auto make = [this](const QString& caption, const QString& icon, const QKeySequence& key) {
    auto* a = new QAction(caption, this);
    if (!icon.isEmpty()) a->setIcon(QIcon(":/tarvelle/icons/" + icon + ".png"));
    a->setToolTip(QString(caption).remove("..."));
    a->setStatusTip(caption);
    if (!key.isEmpty()) a->setShortcut(key);
    // Shortcuts work whatever the state of the menus.
    addAction(a);
    return a;
  };
  ActionNewScan = make("New Scan", "new", QKeySequence(Qt::CTRL | Qt::Key_N));
  ActionStartScan = make("Start Scan", "start", QKeySequence(Qt::Key_F5));
  ActionStopScan = make("Stop Scan", "stop", QKeySequence(Qt::Key_F6));
  ActionStopScan->setEnabled(false);
  ActionOptions = make("Options...", "options", QKeySequence(Qt::CTRL | Qt::Key_O));
  ActionDeleteSelected = make("Delete Selected", "delete", QKeySequence());
  ActionDeleteSelected->setEnabled(false);
  MenuHelpHelp = make("Help", "help", QKeySequence(Qt::Key_F1));
  MenuHelpHomepage = make("Go To Homepage", "home", QKeySequence());
  MenuHelpTellAFriend = make("Tell A Friend", "", QKeySequence());
  MenuHelpSupport = make("Support", "", QKeySequence());
  MenuHelpAbout = make("About", "about", QKeySequence());
  MenuFileExit = make("Exit", "", QKeySequence(Qt::CTRL | Qt::Key_X));

  connect(ActionNewScan, &QAction::triggered, this, [this] { Guard([this] { ActionNewScanExecute(); }); });
  connect(ActionStartScan, &QAction::triggered, this, [this] { Guard([this] { ActionStartScanExecute(); }); });
  connect(ActionStopScan, &QAction::triggered, this, [this] { ActionStopScanExecute(); });
  connect(ActionOptions, &QAction::triggered, this, [this] { Guard([this] { ActionOptionsExecute(); }); });
  connect(ActionDeleteSelected, &QAction::triggered, this,
          [this] { Guard([this] { ActionDeleteSelectedExecute(); }); });
  connect(MenuHelpHelp, &QAction::triggered, this, [this] { MenuHelpHelpClick(); });
  connect(MenuHelpHomepage, &QAction::triggered, this, [] { OpenHomepage(); });
  connect(MenuHelpTellAFriend, &QAction::triggered, this, [] { OpenTellAFriendMail(); });
  connect(MenuHelpSupport, &QAction::triggered, this, [] { OpenSupportPage(); });
  connect(MenuHelpAbout, &QAction::triggered, this, [this] { MenuHelpAboutClick(); });
  connect(MenuFileExit, &QAction::triggered, this, [this] { close(); });
}

void TMainForm::CreateMenusAndToolBar() {
  FileMenu = menuBar()->addMenu("&File");
  FileMenu->addAction(ActionNewScan);
  FileMenu->addSeparator();
  FileMenu->addAction(ActionStartScan);
  FileMenu->addAction(ActionStopScan);
  FileMenu->addSeparator();
  FileMenu->addAction(ActionDeleteSelected);
  FileMenu->addSeparator();
  FileMenu->addAction(ActionOptions);
  FileMenu->addSeparator();
  FileMenu->addAction(MenuFileExit);
  HelpMenu = menuBar()->addMenu("&Help");
  HelpMenu->addAction(MenuHelpHelp);
  HelpMenu->addAction(MenuHelpHomepage);
  HelpMenu->addSeparator();
  HelpMenu->addAction(MenuHelpTellAFriend);
  HelpMenu->addAction(MenuHelpSupport);
  HelpMenu->addSeparator();
  HelpMenu->addAction(MenuHelpAbout);

  ToolBar = addToolBar("Tools");
  ToolBar->setMovable(false);
  ToolBar->setFloatable(false);
  ToolBar->setIconSize(QSize(24, 24));
  ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
  ToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
  ToolBar->addAction(ActionNewScan);
  ToolBar->addSeparator();
  ToolBar->addAction(ActionStartScan);
  ToolBar->addAction(ActionStopScan);
  StopScanToolButton = qobject_cast<QToolButton*>(ToolBar->widgetForAction(ActionStopScan));
  ToolBar->addSeparator();
  ToolBar->addAction(ActionDeleteSelected);
  ToolBar->widgetForAction(ActionDeleteSelected)->setToolTip("Delete Selected Duplicates");
  ToolBar->addSeparator();
  ToolBar->addAction(ActionOptions);
  ToolBar->widgetForAction(ActionOptions)->setToolTip("Options");
  ToolBar->addSeparator();
  ToolBar->addAction(MenuHelpHelp);
  ToolBar->addAction(MenuHelpHomepage);
  ToolBar->addAction(MenuHelpAbout);
}

void TMainForm::CreateMainPanel() {
  MainPanel = new QWidget;
  auto header = [this](const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, MainPanel);
    l->setGeometry(x, y, w, 18);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Raised);
    return l;
  };
  DuplPanel = header("Images with duplicates:", 4, 2, 221);
  FilesListBox = new QListWidget(MainPanel);
  FilesListBox->setGeometry(4, 22, 221, 399);
  FilesListBox->setMouseTracking(true);
  FilesListBox->viewport()->installEventFilter(this);
  FilesListBox->setSelectionMode(QAbstractItemView::SingleSelection);

  header("Folder", 232, 2, 441);
  ScanFolder = new TButtonEdit(MainPanel);
  ScanFolder->setGeometry(232, 22, 441, 22);
  header("Duplicates - Mark the files you want to delete", 232, 48, 441);

  DupListView = new QTreeWidget(MainPanel);
  DupListView->setGeometry(232, 68, 441, 158);
  DupListView->setColumnCount(4);
  DupListView->setHeaderLabels({"", "File name", "Dimensions", "File size"});
  DupListView->setRootIsDecorated(false);
  DupListView->setItemsExpandable(false);
  DupListView->setUniformRowHeights(true);
  DupListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  DupListView->setSelectionMode(QAbstractItemView::SingleSelection);
  DupListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DupListView->setAllColumnsShowFocus(true);
  DupListView->setStyleSheet(
      "QTreeView::item { border-right: 1px solid #d0d0d0; border-bottom: 1px solid #d0d0d0; }"
      "QTreeView::item:selected { background: palette(highlight); color: white; }");
  DupListView->setItemDelegate(new TDupRowDelegate(DupListView));
  QHeaderView* h = DupListView->header();
  h->setSectionsClickable(true);
  h->setSortIndicatorShown(false);
  h->setStretchLastSection(false);
  h->setMinimumSectionSize(20);
  h->resizeSection(0, 30);
  h->resizeSection(1, 220);
  h->resizeSection(2, 80);
  h->resizeSection(3, 70);
  h->setSectionResizeMode(0, QHeaderView::Fixed);
  h->setSectionResizeMode(1, QHeaderView::Interactive);
  h->setSectionResizeMode(2, QHeaderView::Fixed);
  h->setSectionResizeMode(3, QHeaderView::Fixed);
  connect(h, &QHeaderView::sectionResized, this, [h](int index, int, int size) {
    // The file-name column may be widened from 220 up to 420 pixels.
    if (index == 1 && (size < 220 || size > 420)) h->resizeSection(1, std::clamp(size, 220, 420));
  });
  DupListView->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  DupListView->headerItem()->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);

  OrigPanel = new QLabel("Original", MainPanel);
  OrigPanel->setGeometry(232, 230, 210, 16);
  OrigPanel->setStyleSheet("color: #008000;");
  DupPanel = new QLabel("Duplicate", MainPanel);
  DupPanel->setGeometry(463, 230, 210, 16);
  DupPanel->setStyleSheet("color: #800000;");
  ImageView1 = new TImageView(MainPanel);
  ImageView1->setGeometry(232, 248, 210, 136);
  ImageView2 = new TImageView(MainPanel);
  ImageView2->setGeometry(463, 248, 210, 136);
  for (TImageView* v : {ImageView1, ImageView2}) v->setCursor(Qt::PointingHandCursor);
  ImageView1->OnDblClick = [this] { Guard([this] { ImageView1DblClick(); }); };
  ImageView2->OnDblClick = [this] { Guard([this] { ImageView2DblClick(); }); };

  auto* note = new QLabel("'Original' is the file you've selected from the images list box on the left side.", MainPanel);
  note->setGeometry(232, 386, 441, 14);
  QFont small = note->font();
  small.setPointSizeF(small.pointSizeF() * 0.8);
  note->setFont(small);
  StartScanButton = new QPushButton("Start Scan", MainPanel);
  StartScanButton->setGeometry(232, 402, 100, 22);
  connect(StartScanButton, &QPushButton::clicked, ActionStartScan, &QAction::trigger);
  connect(ActionStartScan, &QAction::changed, this, [this] { StartScanButton->setEnabled(ActionStartScan->isEnabled()); });
  DeleteAllButton = new QPushButton("Delete All Selected", MainPanel);
  DeleteAllButton->setGeometry(553, 402, 120, 22);
  DeleteAllButton->setEnabled(false);
  connect(DeleteAllButton, &QPushButton::clicked, ActionDeleteSelected, &QAction::trigger);
  connect(ActionDeleteSelected, &QAction::changed, this,
          [this] { DeleteAllButton->setEnabled(ActionDeleteSelected->isEnabled()); });

  connect(FilesListBox, &QListWidget::currentRowChanged, this, [this](int) { Guard([this] { FilesListBoxClick(); }); });
  connect(FilesListBox, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
    // A click on the entry already shown reloads it, as a click does.
    if (item == FilesListBox->currentItem() && DupListTag != item->data(kRecordRole).toInt())
      Guard([this] { FilesListBoxClick(); });
  });
  connect(DupListView, &QTreeWidget::itemClicked, this, [this] { Guard([this] { DupListViewClick(); }); });
  connect(DupListView, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (filling_ || !current) return;
    DupListViewChange(current);
  });
  connect(DupListView, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
    if (!filling_) DupListViewChange(item);
  });
  connect(DupListView, &QTreeWidget::itemDoubleClicked, this, [this] { Guard([this] { DupListViewDblClick(); }); });
  connect(h, &QHeaderView::sectionClicked, this, [this](int column) { DupListViewColumnClick(column); });
  ScanFolder->OnButtonClick = [this] { Guard([this] { ScanFolderButtonClick(); }); };
  connect(ScanFolder, &QLineEdit::textEdited, this, [this](const QString& text) { ScanFolderChange(text); });
}

void TMainForm::CreateDeletePanel() {
  DeletePanel = new QWidget;
  auto* header = new QLabel("Deleted files:", DeletePanel);
  header->setGeometry(4, 2, 669, 18);
  header->setFrameShape(QFrame::Panel);
  header->setFrameShadow(QFrame::Raised);
  DeleteListBox = new QListWidget(DeletePanel);
  DeleteListBox->setGeometry(4, 22, 669, 374);
  NewScanButton = new QPushButton("New Scan", DeletePanel);
  NewScanButton->setGeometry(4, 402, 100, 22);
  connect(NewScanButton, &QPushButton::clicked, ActionNewScan, &QAction::trigger);
}

void TMainForm::FormCreate() {
  StopAsked = false;
  settings_ = std::make_unique<TSettings>();
  Settings = settings_.get();
  finder_ = std::make_unique<TDFinder>();
  finder_->OnFindProgress = [this](void* sender, const std::string& text, int position, int maximum) {
    FinderProgress(sender, text, position, maximum);
  };
  fileFinder_->Recurse = true;
  fileFinder_->OnNewPath = [this](TFindFile* sender, const std::string& path, bool& abort) {
    FindFileNewPath(sender, path, abort);
  };
  // The patterns of the saved file types; with none saved, JPEG.
  if ((Settings->FileTypes & kAllImageFileTypes) == 0) Settings->FileTypes = 1u << itJPEG;
  Settings->FileTypes &= kAllImageFileTypes;
  fileFinder_->Filters = PatternsForFileTypes(Settings->FileTypes);
  ScanFolder->setText(DisplayName(Settings->ScanFolder));
  setWindowTitle(TitleText());
}

void TMainForm::FormClose() {
  if (settings_) {
    if (settings_->SaveSettings) {
      try {
        settings_->Save();
      } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
      }
    }
    if (Settings == settings_.get()) Settings = nullptr;
  }
}

void TMainForm::Guard(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  }
}

// ------------------------------------------------------------------- scan

void TMainForm::ActionStartScanExecute() {
  if (scanning_ || !Settings) return;
  if (Trimmed(Settings->ScanFolder).empty()) {
    ShowError("Select folder first!");
    return;
  }
  if (!FolderExists(Settings->ScanFolder)) {
    ShowError(QString("Folder %1 doesn't exists!").arg(DisplayName(Settings->ScanFolder)));
    return;
  }
  scanning_ = true;
  struct TFinally {
    std::function<void()> fn;
    ~TFinally() { fn(); }
  } finalStep{[this] {
    scanning_ = false;
    if (closeAfterScan_) {
      // The window was closed during the scan: now that the scan no longer
      // uses the finder and the settings, close for good.
      QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
      return;
    }
    SetControlsEnabled(true);
    StatusBar->ProgressBar()->setValue(0);
    if (FilesListBox->count() > 0) {
      const QSignalBlocker block(FilesListBox);
      FilesListBox->setCurrentRow(0);
      Guard([this] { FilesListBoxClick(); });
    }
    MainPanel->unsetCursor();
    setWindowTitle(TitleText());
  }};

  setWindowTitle(TitleText() + " - (Working... Press ESC to abort)");
  DuplPanel->setText("Images with duplicates:");
  DupPanel->setText("Duplicate");
  SetControlsEnabled(false);
  {
    const QSignalBlocker b1(DupListView), b2(FilesListBox);
    DupListView->clear();
    DupListTag = -1;
    FilesListBox->clear();
    lastHintItem_ = nullptr;
  }
  StatusBar->ProgressBar()->setValue(0);

  fileFinder_->Directory = Settings->ScanFolder;
  fileFinder_->Execute();
  if (finder_->StopRequested) {
    finder_->StopRequested = false;
    return;
  }

  MainPanel->setCursor(Qt::WaitCursor);
  QElapsedTimer ticks;
  ticks.start();
  finder_->FindDuplicates(fileFinder_->Files, Settings->Similarity);
  if (closeAfterScan_) return;

  const TMarkingRules rules{Settings->MarkSmallerDimImages, Settings->MarkSmallerFileSizeImages};
  {
    const QSignalBlocker block(FilesListBox);
    for (auto& record : finder_->Images) {
      if (!record->HasDuplicates) continue;
      const QString text = QString("%1.%2").arg(FilesListBox->count() + 1).arg(DisplayName(finder_->FileNames[record->Index]));
      auto* item = new QListWidgetItem(text, FilesListBox);
      item->setData(kRecordRole, record->Index);
      ApplyMarkingRules(finder_->Images, *record, rules);
    }
  }
  const double seconds = static_cast<double>(ticks.elapsed()) / 1000.0;
  setWindowTitle(QString::asprintf("%.3f sec (%d duplicates)", seconds, FilesListBox->count()));
  DuplPanel->setText(QString("Images with duplicates: %1 files").arg(FilesListBox->count()));
  StatusBar->SetPanelText(0, "Scan finished.");
  ReportUnreadable();
}

void TMainForm::StartScanOf(const std::string& folder) {
  if (!Settings || scanning_) return;
  Settings->ScanFolder = folder;
  {
    const QSignalBlocker block(ScanFolder);
    ScanFolder->setText(DisplayName(folder));
  }
  Guard([this] { ActionStartScanExecute(); });
}

void TMainForm::ReportUnreadable() {
  if (!finder_ || finder_->Unreadable.empty()) return;
  QString text = QString("%1 file(s) could not be read and were left out of the comparison:\n")
                     .arg(finder_->Unreadable.size());
  size_t listed = 0;
  for (int32_t k : finder_->Unreadable) {
    if (listed == kUnreadableListed) {
      text += QString("... and %1 more.").arg(finder_->Unreadable.size() - listed);
      break;
    }
    text += "\n" + DisplayName(finder_->FileNames[static_cast<size_t>(k)]);
    ++listed;
  }
  ShowMessageDialog(text, TMsgKind::Warning, QMessageBox::Ok);
}

void TMainForm::FinderProgress(void*, const std::string& text, int position, int maximum) {
  if (StopAsked && ShowConfirmation(kStopQuestion)) {
    if (finder_) finder_->StopRequested = true;
    StatusBar->SetPanelText(0, "Aborted by user...");
    StatusBar->ProgressBar()->setValue(0);
    StopAsked = false;
    SetControlsEnabled(true);
    return;
  }
  StopAsked = false;
  StatusBar->SetPanelText(0, QString::fromUtf8(text.c_str()));
  StatusBar->ProgressBar()->setMaximum(maximum);
  StatusBar->ProgressBar()->setValue(position);
  QApplication::processEvents();
}

void TMainForm::FindFileNewPath(TFindFile* sender, const std::string&, bool&) {
  if (StopAsked) {
    if (ShowConfirmation(kStopQuestion)) {
      SetControlsEnabled(true);
      if (finder_) finder_->StopRequested = true;
      StatusBar->SetPanelText(0, "Aborted by user...");
      StatusBar->ProgressBar()->setValue(0);
    }
  } else {
    StatusBar->SetPanelText(0, QString("Building file list ... %1 files found.").arg(sender ? sender->FileCount : 0));
  }
  StopAsked = false;
}

void TMainForm::SetControlsEnabled(bool value) {
  const bool wasUpdating = updatesEnabled();
  if (wasUpdating) setUpdatesEnabled(false);
  for (QObject* child : MainPanel->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w || w == StartScanButton || w == DeleteAllButton) continue;
    w->setEnabled(value);
  }
  for (QAction* a : {MenuHelpHelp, MenuHelpHomepage, MenuHelpAbout})
    if (QWidget* b = ToolBar->widgetForAction(a)) b->setEnabled(value);
  FileMenu->menuAction()->setEnabled(value);
  HelpMenu->menuAction()->setEnabled(value);
  ActionNewScan->setEnabled(value);
  ActionStartScan->setEnabled(value);
  ActionOptions->setEnabled(value);
  ActionStopScan->setEnabled(!value);
  if (StopScanToolButton) StopScanToolButton->setEnabled(!value);
  ActionDeleteSelected->setEnabled(FilesListBox->count() > 0);
  if (wasUpdating) setUpdatesEnabled(true);
}

// --------------------------------------------------------------- commands

void TMainForm::ActionStopScanExecute() { StopAsked = true; }

void TMainForm::ActionNewScanExecute() {
  ImageView1->Clear();
  ImageView2->Clear();
  ActionDeleteSelected->setEnabled(false);
  const QSignalBlocker b1(DupListView), b2(FilesListBox);
  FilesListBox->clear();
  DupListView->clear();
  DupListTag = -1;
  lastHintItem_ = nullptr;
  Panels->setCurrentWidget(MainPanel);
}

void TMainForm::ActionOptionsExecute() {
  TOptionsForm form(this, fileFinder_.get());
  form.exec();
}

void TMainForm::ScanFolderChange(const QString& text) {
  if (Settings) Settings->ScanFolder = FileNameBytes(text);
}

void TMainForm::ScanFolderButtonClick() {
  if (!Settings) return;
  const std::string folder = BrowseForFolder("Select images folder", 0, Settings->ScanFolder);
  if (folder.empty()) return;
  // The chosen name is kept as bytes; the box only shows it.
  Settings->ScanFolder = folder;
  const QSignalBlocker block(ScanFolder);
  ScanFolder->setText(DisplayName(folder));
}

void TMainForm::MenuHelpHelpClick() { ShowHelpContext(kHelpContents); }

void TMainForm::MenuHelpAboutClick() {
  TAboutForm about(this);
  about.exec();
}

void TMainForm::ActionDeleteSelectedExecute() {
  if (!finder_ || !Settings) return;
  std::vector<int> marked;
  for (const auto& record : finder_->Images)
    if (record->Marked) marked.push_back(record->Index);
  if (marked.empty()) {
    ShowInformation("No files are marked for deletion.");
    return;
  }
  const bool toTrash = Settings->DeleteToRecycleBin;
  const QString question =
      toTrash ? QString("Move the %1 marked file(s) to the trash?").arg(marked.size())
              : QString("Delete the %1 marked file(s) permanently?").arg(marked.size());
  if (!ShowConfirmation(question)) return;

  DeleteListBox->clear();
  int removed = 0;
  for (int k : marked) {
    TDImage& record = *finder_->Images[static_cast<size_t>(k)];
    const std::string& name = finder_->FileNames[static_cast<size_t>(k)];
    const TDeleteResult result = DeleteMarkedFile(name, record.Identity, toTrash);
    QString line = DisplayName(name) + " - " + DeleteOutcomeText(result.Outcome);
    if (!result.Detail.empty()) line += " (" + QString::fromUtf8(result.Detail.c_str()) + ")";
    DeleteListBox->addItem(line);
    if (result.Outcome == TDeleteOutcome::Trashed || result.Outcome == TDeleteOutcome::Deleted ||
        result.Outcome == TDeleteOutcome::Missing) {
      // Gone: it cannot be deleted a second time.
      record.Marked = false;
      if (result.Outcome != TDeleteOutcome::Missing) ++removed;
    }
  }
  DeleteListBox->addItem(QString("%1 of %2 marked file(s) removed.").arg(removed).arg(marked.size()));
  ImageView1->Clear();
  ImageView2->Clear();
  Panels->setCurrentWidget(DeletePanel);
}

// --------------------------------------------------------------- browsing

void TMainForm::AddDupRow(int index) {
  const TDImage& record = *finder_->Images[static_cast<size_t>(index)];
  auto* item = new QTreeWidgetItem;
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(0, record.Marked ? Qt::Checked : Qt::Unchecked);
  item->setText(1, DisplayName(finder_->FileNames[static_cast<size_t>(index)]));
  item->setText(2, QString("%1x%2").arg(record.Width).arg(record.Height));
  item->setText(3, SizeText(record.FileSize));
  item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
  item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
  item->setData(0, kRecordRole, index);
  DupListView->addTopLevelItem(item);
}

void TMainForm::LoadIntoView(TImageView* view, int index) {
  io_->SetAttachedView(view);
  proc_->SetAttachedView(view);
  io_->LoadFromFile(finder_->FileNames[static_cast<size_t>(index)]);
  proc_->Resample(view->ViewWidth(), view->ViewHeight(), rfNone);
}

void TMainForm::FilesListBoxClick() {
  QListWidgetItem* entry = FilesListBox->currentItem();
  if (!entry || !entry->isSelected() || !finder_) return;
  const bool wasUpdating = DupListView->updatesEnabled();
  if (wasUpdating) DupListView->setUpdatesEnabled(false);
  struct TResume {
    QTreeWidget* list;
    bool resume;
    ~TResume() {
      if (resume) list->setUpdatesEnabled(true);
    }
  } resume{DupListView, wasUpdating};

  const int k = entry->data(kRecordRole).toInt();
  if (k < 0 || static_cast<size_t>(k) >= finder_->Images.size()) return;
  LoadIntoView(ImageView1, k);
  filling_ = true;
  {
    const QSignalBlocker block(DupListView);
    DupListView->clear();
    DupListTag = k;
    AddDupRow(k);
    for (int32_t d : finder_->Images[static_cast<size_t>(k)]->Duplicates) AddDupRow(d);
  }
  filling_ = false;
  for (int row = 0; row < DupListView->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = DupListView->topLevelItem(row);
    if (item->checkState(0) != Qt::Checked) continue;
    {
      const QSignalBlocker block(DupListView);
      DupListView->setCurrentItem(item);
    }
    DupListViewClick();
    break;
  }
}

void TMainForm::DupListViewClick() {
  QTreeWidgetItem* item = DupListView->currentItem();
  if (!item || !item->isSelected() || DupListTag < 0 || !finder_) return;
  const int d = item->data(0, kRecordRole).toInt();
  if (d < 0 || static_cast<size_t>(d) >= finder_->Images.size()) return;
  LoadIntoView(ImageView2, d);
  const double s = proc_->ComputeSimilarity(*ImageView1->ViewBitmap());
  DupPanel->setText("Duplicate - " + TwoDecimals(s * 100.0) + "%");
}

void TMainForm::DupListViewChange(QTreeWidgetItem* item) {
  if (!item || !finder_) return;
  const int k = item->data(0, kRecordRole).toInt();
  if (k < 0 || static_cast<size_t>(k) >= finder_->Images.size()) return;
  finder_->Images[static_cast<size_t>(k)]->Marked = item->checkState(0) == Qt::Checked;
}

void TMainForm::DupListViewColumnClick(int column) {
  SortColumn = column;
  const int n = DupListView->topLevelItemCount();
  if (n < 2) return;
  QTreeWidgetItem* current = DupListView->currentItem();
  const bool currentSelected = current && current->isSelected();
  const QSignalBlocker block(DupListView);
  std::vector<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<size_t>(n));
  while (DupListView->topLevelItemCount() > 0) rows.push_back(DupListView->takeTopLevelItem(0));
  // Rows compare by the texts shown, ignoring case; column 0 shows no text,
  // so all rows are equal there and keep their order.
  std::stable_sort(rows.begin(), rows.end(), [column](QTreeWidgetItem* a, QTreeWidgetItem* b) {
    if (column == 0) return false;
    return QString::compare(a->text(column), b->text(column), Qt::CaseInsensitive) < 0;
  });
  for (QTreeWidgetItem* r : rows) DupListView->addTopLevelItem(r);
  if (current) {
    DupListView->setCurrentItem(current);
    current->setSelected(currentSelected);
  }
}

void TMainForm::OpenCompare(int row) {
  if (!previewForm_) return;
  if (previewForm_->Prepare(row)) previewForm_->exec();
}

void TMainForm::DupListViewDblClick() {
  QTreeWidgetItem* item = DupListView->currentItem();
  if (!item || !item->isSelected() || DupListTag < 0) return;
  OpenCompare(DupListView->indexOfTopLevelItem(item));
}

void TMainForm::ImageView1DblClick() {
  QListWidgetItem* entry = FilesListBox->currentItem();
  if (DupListView->topLevelItemCount() == 0 || !entry || !entry->isSelected()) return;
  const int k = entry->data(kRecordRole).toInt();
  for (int row = 0; row < DupListView->topLevelItemCount(); ++row) {
    if (DupListView->topLevelItem(row)->data(0, kRecordRole).toInt() != k) continue;
    PreviewSelectRow(row);
    OpenCompare(row);
    return;
  }
}

void TMainForm::ImageView2DblClick() {
  QTreeWidgetItem* item = DupListView->currentItem();
  if (DupListView->topLevelItemCount() == 0 || !item || !item->isSelected()) return;
  OpenCompare(DupListView->indexOfTopLevelItem(item));
}

void TMainForm::FilesListBoxMouseMove(const QPoint& pos) {
  QListWidgetItem* item = FilesListBox->itemAt(pos);
  if (!item) {
    QToolTip::hideText();
    return;
  }
  if (item == lastHintItem_) return;
  lastHintItem_ = item;
  QToolTip::hideText();
  FilesListBox->setToolTip(item->text());
  ++hintsSet_;
}

QString TMainForm::RowText(int row, int column) const {
  const QTreeWidgetItem* item = DupListView->topLevelItem(row);
  return item ? item->text(column) : QString();
}

bool TMainForm::RowChecked(int row) const {
  const QTreeWidgetItem* item = DupListView->topLevelItem(row);
  return item && item->checkState(0) == Qt::Checked;
}

// ---------------------------------------------------- the compare window

int TMainForm::PreviewRowCount() const { return DupListView->topLevelItemCount(); }

int TMainForm::PreviewSelectedRow() const {
  QTreeWidgetItem* item = DupListView->currentItem();
  return item && item->isSelected() ? DupListView->indexOfTopLevelItem(item) : -1;
}

void TMainForm::PreviewSelectRow(int row) {
  QTreeWidgetItem* item = DupListView->topLevelItem(row);
  if (!item) return;
  DupListView->setCurrentItem(item);
  item->setSelected(true);
  DupListView->scrollToItem(item);
}

int TMainForm::PreviewRowData(int row) const {
  const QTreeWidgetItem* item = DupListView->topLevelItem(row);
  return item ? item->data(0, kRecordRole).toInt() : -1;
}

void TMainForm::PreviewSetRowChecked(int row, bool checked) {
  if (QTreeWidgetItem* item = DupListView->topLevelItem(row))
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

TDFinder* TMainForm::PreviewFinder() { return finder_.get(); }

// ---------------------------------------------------- keys and closing

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove && watched == FilesListBox->viewport()) {
    FilesListBoxMouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
  } else if (event->type() == QEvent::KeyPress) {
    // The window sees key presses before its controls.
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this && w->isWidgetType()) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier &&
          (w == FilesListBox || w == DupListView || w == ScanFolder || FilesListBox->isAncestorOf(w) ||
           DupListView->isAncestorOf(w) || ScanFolder->isAncestorOf(w))) {
        ShowHelpContext(kHelpResults);
        return true;
      }
      // Character keys only: Escape asks for a stop, any other clears it.
      if (!key->text().isEmpty()) StopAsked = key->key() == Qt::Key_Escape;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (scanning_ && !closeAfterScan_) {
    StopAsked = true;
    FinderProgress(this, std::string(), 0, 100);
    // The close is granted whatever the answer; the scan winds down first,
    // because it still uses the finder and the settings.
    closeAfterScan_ = true;
    if (finder_) finder_->StopRequested = true;
    event->ignore();
    hide();
    return;
  }
  if (scanning_) {
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}
