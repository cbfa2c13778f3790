#pragma once
// TMainForm: the program's main window. It owns the settings, the duplicate
// finder and the file finder; it runs a scan on the user-interface thread
// with progress and the stop question, lists the images that have
// duplicates, marks the lesser copies, lets the user browse and compare the
// groups, and deletes the files the user marked.

#include <QMainWindow>
#include <QStyledItemDelegate>
#include <functional>
#include <memory>
#include <string>

#include "finder/Deletion.h"
#include "view/PreviewSource.h"

class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TButtonEdit;
class TDFinder;
class TFindFile;
class TImageIO;
class TImageProc;
class TImageView;
class TKelvaneStatusBar;
class TPreviewForm;
class TSettings;

// Draws the rows of the duplicates list: the first row in the colour of the
// "Original" caption, every other row in the colour of "Duplicate".
class TDupRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

class TMainForm : public QMainWindow, public TPreviewSource {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The compare window the duplicates list opens (created by the program
  // after the main window).
  void SetPreviewForm(TPreviewForm* form) { previewForm_ = form; }

  // State.
  bool StopAsked = false;
  TDFinder* Finder() const { return finder_.get(); }
  TFindFile* FileFinder() const { return fileFinder_.get(); }
  TSettings* SettingsObject() const { return settings_.get(); }
  bool Scanning() const { return scanning_; }
  // Index of the image whose duplicates are listed, or -1.
  int DupListTag = -1;
  // Column the duplicates list was last sorted by.
  int SortColumn = 0;

  // Controls.
  QWidget* MainPanel;
  QWidget* DeletePanel;
  QStackedWidget* Panels;
  QLabel* DuplPanel;
  QListWidget* FilesListBox;
  TButtonEdit* ScanFolder;
  QTreeWidget* DupListView;
  QLabel* OrigPanel;
  QLabel* DupPanel;
  TImageView* ImageView1;
  TImageView* ImageView2;
  QPushButton* StartScanButton;
  QPushButton* DeleteAllButton;
  QListWidget* DeleteListBox;
  QPushButton* NewScanButton;
  TKelvaneStatusBar* StatusBar;
  QToolBar* ToolBar;
  QMenu* FileMenu;
  QMenu* HelpMenu;
  QAction* ActionNewScan;
  QAction* ActionStartScan;
  QAction* ActionStopScan;
  QAction* ActionOptions;
  QAction* ActionDeleteSelected;
  QAction* MenuHelpHelp;
  QAction* MenuHelpHomepage;
  QAction* MenuHelpTellAFriend;
  QAction* MenuHelpSupport;
  QAction* MenuHelpAbout;
  QAction* MenuFileExit;
  QToolButton* StopScanToolButton;

  // Commands.
  void ActionStartScanExecute();
  // Puts folder into the folder box and scans it.
  void StartScanOf(const std::string& folder);
  void ActionStopScanExecute();
  void ActionNewScanExecute();
  void ActionOptionsExecute();
  void ActionDeleteSelectedExecute();
  void ScanFolderButtonClick();
  void MenuHelpHelpClick();
  void MenuHelpAboutClick();

  // Browsing.
  void FilesListBoxClick();
  void DupListViewClick();
  void DupListViewColumnClick(int column);
  void DupListViewDblClick();
  void ImageView1DblClick();
  void ImageView2DblClick();
  // Opens the compare window at a row of the duplicates list.
  void OpenCompare(int row);

  // Callbacks of the finders.
  void FinderProgress(void* sender, const std::string& text, int position, int maximum);
  void FindFileNewPath(TFindFile* sender, const std::string& newPath, bool& abort);
  void SetControlsEnabled(bool value);

  // The duplicates list's row texts, for tests and sorting.
  QString RowText(int row, int column) const;
  bool RowChecked(int row) const;

  // TPreviewSource: what the compare window reads from the duplicates list.
  int PreviewRowCount() const override;
  int PreviewSelectedRow() const override;
  void PreviewSelectRow(int row) override;
  int PreviewRowData(int row) const override;
  void PreviewSetRowChecked(int row, bool checked) override;
  TDFinder* PreviewFinder() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateActions();
  void CreateMenusAndToolBar();
  void CreateMainPanel();
  void CreateDeletePanel();
  void FormCreate();
  void FormClose();
  void ScanFolderChange(const QString& text);
  void DupListViewChange(QTreeWidgetItem* item);
  void FilesListBoxMouseMove(const QPoint& pos);
  void AddDupRow(int index);
  void LoadIntoView(TImageView* view, int index);
  void ReportUnreadable();
  // Runs a handler; a failure it raises is shown the way the program
  // reports errors and does not leave the handler's caller.
  void Guard(const std::function<void()>& handler);

  std::unique_ptr<TSettings> settings_;
  std::unique_ptr<TDFinder> finder_;
  std::unique_ptr<TFindFile> fileFinder_;
  std::unique_ptr<TImageIO> io_;
  std::unique_ptr<TImageProc> proc_;
  TPreviewForm* previewForm_ = nullptr;
  bool scanning_ = false;
  // A close was granted while a scan ran: the scan winds down, then the
  // window closes.
  bool closeAfterScan_ = false;
  bool filling_ = false;
  QListWidgetItem* lastHintItem_ = nullptr;
  int hintsSet_ = 0;

 public:
  // How often the file list's hint text was replaced (for tests).
  int HintsSet() const { return hintsSet_; }
};
