#pragma once
// TButtonEdit: a one-line edit box with a "..." push button inside its right
// end. The button is square, as high as the client area, flush with the right
// edge, not a tab stop; the text area is not narrowed, so a long text runs on
// beneath the button. A click raises OnButtonClick and then gives the focus
// back to the edit box.

#include <QLineEdit>
#include <functional>

class QPushButton;

class TCustomButtonEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TCustomButtonEdit(QWidget* parent = nullptr);

  QPushButton* Button() const { return button_; }

  // A flat one-pixel border instead of the 3-D one; the button then keeps a
  // pixel off the border.
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool on);

  // The client area: the widget inside its border.
  QRect ClientRect() const;

 signals:
  void buttonClicked();

 protected:
  // Raises OnButtonClick (in TButtonEdit) and buttonClicked.
  virtual void DoButtonClick();
  void resizeEvent(QResizeEvent* event) override;
  void PlaceButton();

 private:
  void ButtonClick();
  QPushButton* button_ = nullptr;
  bool ctl3D_ = true;
};

class TButtonEdit : public TCustomButtonEdit {
  Q_OBJECT
 public:
  explicit TButtonEdit(QWidget* parent = nullptr) : TCustomButtonEdit(parent) {}

  // Raised by a click on the button (the edit box is the sender).
  std::function<void()> OnButtonClick;

 protected:
  void DoButtonClick() override;
};
