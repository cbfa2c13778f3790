#pragma once
// TKelvaneStatusBar: the main window's status bar. Three panels of fixed
// width side by side (400, 203 and 50 pixels), the second reading
// "Progress:", and a progress bar hosted as a child control inside the
// second panel, after its text. A temporary message (showMessage) replaces
// the panels while it is shown, as the simple-panel mode does.

#include <QStatusBar>
#include <QString>
#include <vector>

class QProgressBar;

class TKelvaneStatusBar : public QStatusBar {
  Q_OBJECT
 public:
  explicit TKelvaneStatusBar(QWidget* parent = nullptr);

  int PanelCount() const { return static_cast<int>(panels_.size()); }
  // Panel i's text; indices outside the panels are ignored (empty text).
  void SetPanelText(int i, const QString& text);
  QString PanelText(int i) const;
  int PanelWidth(int i) const;
  // Left edge of panel i in the bar.
  int PanelLeft(int i) const;

  // 150 x 15 at (453, 3), smooth, range 0..100.
  QProgressBar* ProgressBar() const { return progress_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  struct TPanel {
    QString Text;
    int Width = 0;
  };
  std::vector<TPanel> panels_;
  QProgressBar* progress_ = nullptr;
};
