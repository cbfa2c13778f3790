// Tarvelle: finds visually similar and duplicate images in a folder tree.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QScreen>
#include <exception>

#include "app/MainUnit.h"
#include "app/Utils.h"
#include "io/MetafileReader.h"
#include "view/PreviewFormUnit.h"

namespace {

// Reports a failure that escaped an event handler the way the program reports
// errors, instead of ending the program.
class TApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
      ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
      ShowError("Unknown error.");
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  // The application title; window captions stay exactly as the windows set them.
  QApplication::setApplicationName("Tarvelle 1.0");
  QApplication::setWindowIcon(QIcon(":/tarvelle/icons/tarvelle.png"));
  // Placeable Windows metafiles are sized with the screen's logical
  // resolution, read once at start-up.
  if (const QScreen* primary = QGuiApplication::primaryScreen()) {
    const int dpi = qRound(primary->logicalDotsPerInchY());
    if (dpi > 0) ImScreenPixelsPerInch = dpi;
  }

  TMainForm mainForm;
  TPreviewForm previewForm(&mainForm);
  previewForm.SetSource(&mainForm);
  mainForm.SetPreviewForm(&previewForm);
  // The main window starts at the centre of the screen.
  const QRect screen = mainForm.screen()->availableGeometry();
  const QRect frame = mainForm.frameGeometry();
  mainForm.move(screen.left() + (screen.width() - frame.width()) / 2,
                screen.top() + (screen.height() - frame.height()) / 2);
  mainForm.show();
  // A folder given on the command line ("Open with") is scanned at once.
  const QStringList args = QApplication::arguments();
  if (args.size() > 1) {
    const std::string folder = QFile::encodeName(args.at(1)).toStdString();
    QMetaObject::invokeMethod(&mainForm, [&mainForm, folder] { mainForm.StartScanOf(folder); }, Qt::QueuedConnection);
  }
  return app.exec();
}
