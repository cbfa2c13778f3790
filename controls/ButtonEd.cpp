#include "controls/ButtonEd.h"

#include <QPushButton>
#include <QResizeEvent>

namespace {
// Border thickness of the 3-D edit frame and of the flat one.
constexpr int kEdge3D = 2;
constexpr int kEdgeFlat = 1;
}  // namespace

TCustomButtonEdit::TCustomButtonEdit(QWidget* parent) : QLineEdit(parent) {
  button_ = new QPushButton(QStringLiteral("..."), this);
  button_->setObjectName(QStringLiteral("Button"));
  button_->setCursor(Qt::ArrowCursor);
  // Not a tab stop, and a click does not move the focus either.
  button_->setFocusPolicy(Qt::NoFocus);
  button_->setAutoDefault(false);
  button_->setDefault(false);
  connect(button_, &QPushButton::clicked, this, &TCustomButtonEdit::ButtonClick);
  PlaceButton();
}

void TCustomButtonEdit::SetCtl3D(bool on) {
  if (on == ctl3D_) return;
  ctl3D_ = on;
  PlaceButton();
}

QRect TCustomButtonEdit::ClientRect() const {
  const int e = !hasFrame() ? 0 : ctl3D_ ? kEdge3D : kEdgeFlat;
  return rect().adjusted(e, e, -e, -e);
}

void TCustomButtonEdit::PlaceButton() {
  const QRect client = ClientRect();
  const int b = hasFrame() && !ctl3D_ ? 1 : 0;
  const int h = std::max(client.height() - 2 * b, 0);
  const int w = h;
  button_->setGeometry(client.left() + client.width() - w - b, client.top() + b, w, h);
}

void TCustomButtonEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  PlaceButton();
}

void TCustomButtonEdit::DoButtonClick() { emit buttonClicked(); }

void TCustomButtonEdit::ButtonClick() {
  DoButtonClick();
  // The handler may have opened and closed a dialog; the edit takes the
  // focus back either way.
  activateWindow();
  setFocus(Qt::OtherFocusReason);
}

void TButtonEdit::DoButtonClick() {
  if (OnButtonClick) OnButtonClick();
  TCustomButtonEdit::DoButtonClick();
}
