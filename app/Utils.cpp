#include "app/Utils.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QUrlQuery>
#include <QWidget>

namespace {

QWidget* gOwner = nullptr;
TMessageHook gMessageHook;
TBrowseHook gBrowseHook;

QRect ScreenRect(QWidget* w) {
  QScreen* s = w && w->screen() ? w->screen() : QGuiApplication::primaryScreen();
  return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

}  // namespace

QString TitleText() { return QStringLiteral("Tarvelle ") + QStringLiteral(TARVELLE_VERSION); }

void SetMessageOwner(QWidget* owner) { gOwner = owner; }
QWidget* MessageOwner() { return gOwner; }
void SetMessageHook(TMessageHook hook) { gMessageHook = std::move(hook); }
void SetBrowseHook(TBrowseHook hook) { gBrowseHook = std::move(hook); }

int ShowMessageDialog(const QString& text, TMsgKind kind, QMessageBox::StandardButtons buttons) {
  if (gMessageHook) return gMessageHook(kind, text);
  QMessageBox box(gOwner);
  switch (kind) {
    case TMsgKind::Information: box.setWindowTitle("Information"); box.setIcon(QMessageBox::Information); break;
    case TMsgKind::Error: box.setWindowTitle("Error"); box.setIcon(QMessageBox::Critical); break;
    case TMsgKind::Confirmation: box.setWindowTitle("Confirm"); box.setIcon(QMessageBox::Question); break;
    case TMsgKind::Warning: box.setWindowTitle("Warning!"); box.setIcon(QMessageBox::Warning); break;
  }
  box.setText(text);
  box.setStandardButtons(buttons);
  if (buttons & QMessageBox::Yes) box.button(QMessageBox::Yes)->setText("&Yes");
  if (buttons & QMessageBox::No) {
    box.button(QMessageBox::No)->setText("&No");
    box.setEscapeButton(QMessageBox::No);
  }
  box.adjustSize();
  CenterForm(&box);
  const int r = box.exec();
  // Closing the box any other way than with a button counts as No.
  if ((buttons & QMessageBox::No) && r != QMessageBox::Yes) return QMessageBox::No;
  return r;
}

void ShowInformation(const QString& text) { ShowMessageDialog(text, TMsgKind::Information, QMessageBox::Ok); }
void ShowError(const QString& text) { ShowMessageDialog(text, TMsgKind::Error, QMessageBox::Ok); }
bool ShowConfirmation(const QString& text) {
  return ShowMessageDialog(text, TMsgKind::Confirmation, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QPoint CenterFormPosition(int mainLeft, int mainTop, int mainWidth, int mainHeight, int formWidth, int formHeight,
                          int screenWidth, int screenHeight) {
  int left = mainLeft + (mainWidth - formWidth) / 2;  // C++ division truncates toward zero
  int top = mainTop + (mainHeight - formHeight) / 2;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  if (left + formWidth > screenWidth) left = screenWidth - formWidth;
  if (top + formHeight > screenHeight) top = screenHeight - formHeight;
  return {left, top};
}

void CenterForm(QWidget* form) {
  if (!form) return;
  const QRect screen = ScreenRect(gOwner ? gOwner : form);
  QRect main = gOwner ? gOwner->frameGeometry() : screen;
  const QSize size = form->frameGeometry().size();
  const QPoint p = CenterFormPosition(main.left(), main.top(), main.width(), main.height(), size.width(),
                                      size.height(), screen.width(), screen.height());
  form->move(p);
}

std::string BrowseForFolder(const QString& title, int root, const std::string& initialFolder) {
  (void)root;  // no special-folder roots here: the whole file system is shown
  if (gBrowseHook) return gBrowseHook(title, initialFolder);
  QFileDialog dialog(gOwner, title);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (!initialFolder.empty()) {
    const QString dir = DisplayName(initialFolder);
    dialog.setDirectory(QFileInfo(dir).absolutePath());
    dialog.selectFile(dir);
  }
  dialog.adjustSize();
  CenterForm(&dialog);
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return {};
  return FileNameBytes(files.first());
}

QString DisplayName(const std::string& fileName) { return QFile::decodeName(QByteArray::fromStdString(fileName)); }
std::string FileNameBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString HelpPagesFolder() {
  const QString exeDir = QCoreApplication::applicationDirPath();
  const QStringList candidates = {exeDir + "/../share/tarvelle/help", exeDir + "/help"};
  for (const QString& c : candidates)
    if (QFileInfo::exists(c + "/index.html")) return QDir(c).canonicalPath();
  return {};
}

void OpenHomepage() {
  const QString dir = HelpPagesFolder();
  if (!dir.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(dir + "/index.html"));
}

void OpenSupportPage() {
  const QString dir = HelpPagesFolder();
  if (!dir.isEmpty()) QDesktopServices::openUrl(QUrl::fromLocalFile(dir + "/support.html"));
}

QString TellAFriendUrl() {
  const QString home = HelpPagesFolder().isEmpty() ? QStringLiteral("the Tarvelle home page")
                                                   : QUrl::fromLocalFile(HelpPagesFolder() + "/index.html").toString();
  const QString subject = QStringLiteral("I found a great application: Tarvelle");
  const QString body = QStringLiteral(
                           "Hi,\n\n"
                           "I have been using Tarvelle. It quickly finds all similar and duplicate images in a folder "
                           "and its subfolders. When the scan has finished it shows all images with duplicates and can "
                           "automatically mark the images of smaller resolution or smaller file size for deletion.\n\n"
                           "You can download it from %1\n\n"
                           "Give it a try, I recommend it!\n")
                           .arg(home);
  QUrl url(QStringLiteral("mailto:"));
  QUrlQuery q;
  q.addQueryItem("subject", QString::fromUtf8(QUrl::toPercentEncoding(subject)));
  q.addQueryItem("body", QString::fromUtf8(QUrl::toPercentEncoding(body)));
  url.setQuery(q);
  return url.toString(QUrl::FullyEncoded);
}

void OpenTellAFriendMail() { QDesktopServices::openUrl(QUrl(TellAFriendUrl(), QUrl::StrictMode)); }
