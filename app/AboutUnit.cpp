#include "app/AboutUnit.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Utils.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About");
  setObjectName("AboutForm");
  // A fixed frame without title-bar buttons.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto* outer = new QVBoxLayout(this);
  auto* group = new QGroupBox("About", this);
  auto* inner = new QHBoxLayout(group);
  auto* picture = new QLabel(group);
  picture->setPixmap(QIcon(":/tarvelle/icons/tarvelle.png").pixmap(64, 64));
  inner->addWidget(picture);
  InfoLabel = new QLabel(TitleText() + "\nFor Windows XP/2K/ME/98", group);
  InfoLabel->setObjectName("InfoLabel");
  InfoLabel->setAlignment(Qt::AlignCenter);
  inner->addWidget(InfoLabel, 1);
  outer->addWidget(group);
  auto* close = new QPushButton("Close", this);
  close->setObjectName("CloseButton");
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  auto* row = new QHBoxLayout();
  row->addStretch();
  row->addWidget(close);
  row->addStretch();
  outer->addLayout(row);
  setFixedSize(sizeHint());
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Over the centre of the main window, without clamping to the screen.
  if (QWidget* main = MessageOwner()) {
    const QRect m = main->frameGeometry();
    move(m.left() + (m.width() - frameGeometry().width()) / 2, m.top() + (m.height() - frameGeometry().height()) / 2);
  }
}
