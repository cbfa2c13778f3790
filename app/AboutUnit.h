#pragma once
// The About window: the program's picture and version, and a Close button.

#include <QDialog>

class QLabel;

class TAboutForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* parent = nullptr);
  QLabel* InfoLabel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
};
