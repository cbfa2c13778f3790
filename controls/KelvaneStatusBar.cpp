#include "controls/KelvaneStatusBar.h"

#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOption>
#include <qdrawutil.h>

namespace {
constexpr int kBarHeight = 21;
constexpr int kTextIndent = 3;
}  // namespace

TKelvaneStatusBar::TKelvaneStatusBar(QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(false);
  panels_ = {{QString(), 400}, {QStringLiteral("Progress:"), 203}, {QString(), 50}};
  // The progress bar is a child placed by hand, not one of the status bar's
  // managed widgets, so it sits exactly inside the second panel.
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("ProgressBar"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setTextVisible(false);
  progress_->setGeometry(453, 3, 150, 15);
  setFixedHeight(kBarHeight);
}

void TKelvaneStatusBar::SetPanelText(int i, const QString& text) {
  if (i < 0 || i >= PanelCount() || panels_[i].Text == text) return;
  panels_[i].Text = text;
  update();
}

QString TKelvaneStatusBar::PanelText(int i) const {
  return i >= 0 && i < PanelCount() ? panels_[i].Text : QString();
}

int TKelvaneStatusBar::PanelWidth(int i) const { return i >= 0 && i < PanelCount() ? panels_[i].Width : 0; }

int TKelvaneStatusBar::PanelLeft(int i) const {
  int left = 0;
  for (int k = 0; k < i && k < PanelCount(); ++k) left += panels_[k].Width;
  return left;
}

QSize TKelvaneStatusBar::sizeHint() const { return QSize(PanelLeft(PanelCount()), kBarHeight); }
QSize TKelvaneStatusBar::minimumSizeHint() const { return QSize(0, kBarHeight); }

void TKelvaneStatusBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  const QString message = currentMessage();
  if (!message.isEmpty()) {
    const QRect r = rect().adjusted(0, 1, 0, -1);
    qDrawShadePanel(&p, r, palette(), true, 1);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r.adjusted(kTextIndent, 0, -kTextIndent, 0), Qt::AlignVCenter | Qt::AlignLeft, message);
    return;
  }
  int left = 0;
  for (int i = 0; i < PanelCount(); ++i) {
    // The last panel runs on to the right edge.
    const int w = i == PanelCount() - 1 ? std::max(width() - left, panels_[i].Width) : panels_[i].Width;
    const QRect r(left, 1, w - 2, height() - 2);
    qDrawShadePanel(&p, r, palette(), true, 1);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(r.adjusted(kTextIndent, 0, -kTextIndent, 0), Qt::AlignVCenter | Qt::AlignLeft, panels_[i].Text);
    left += panels_[i].Width;
  }
}
