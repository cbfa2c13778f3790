#include "help/HtmlHelpViewer.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include "app/Utils.h"
#include "help/HtmlHelpAPI.h"

namespace {

// The help window: a browser over the bundled pages with Contents/Back/Forward.
class THelpWindow : public QWidget {
 public:
  THelpWindow() {
    setWindowTitle("Tarvelle Help");
    setObjectName("HelpWindow");
    resize(720, 560);
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout();
    auto* contents = new QPushButton("Contents", this);
    auto* back = new QPushButton("Back", this);
    auto* forward = new QPushButton("Forward", this);
    bar->addWidget(contents);
    bar->addWidget(back);
    bar->addWidget(forward);
    bar->addStretch();
    layout->addLayout(bar);
    Browser = new QTextBrowser(this);
    Browser->setOpenExternalLinks(true);
    layout->addWidget(Browser);
    connect(contents, &QPushButton::clicked, this, [this] { Show(StartPage); });
    connect(back, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, Browser, &QTextBrowser::forward);
  }
  void Show(const QString& page) {
    Browser->setSource(QUrl::fromLocalFile(page));
    show();
    raise();
    activateWindow();
  }
  QTextBrowser* Browser;
  QString StartPage;
};

QPointer<THelpWindow> gWindow;

}  // namespace

QString HelpPageForContext(long context) {
  switch (context) {
    case 1000: return QStringLiteral("index.html");
    case 1010: return QStringLiteral("results.html");
    case 1011: return QStringLiteral("options.html");
    default: return {};
  }
}

QString CurrentHelpPage() {
  if (!gWindow || !gWindow->isVisible()) return {};
  return QFileInfo(gWindow->Browser->source().toLocalFile()).fileName();
}

bool HtmlHelpA(QWidget* caller, const QString& file, unsigned command, long data) {
  (void)caller;
  if (command == HH_CLOSE_ALL) {
    if (gWindow) gWindow->close();
    return true;
  }
  QString helpFile = file, page;
  const int sep = file.indexOf(" ::/");
  if (sep >= 0) {
    helpFile = file.left(sep);
    page = file.mid(sep + 4);
  }
  const QFileInfo info(helpFile);
  if (helpFile.isEmpty() || !info.exists()) return false;
  const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
  QString target;
  switch (command) {
    case HH_DISPLAY_TOPIC: target = page.isEmpty() ? QStringLiteral("index.html") : page; break;
    case HH_DISPLAY_TOC:
    case HH_DISPLAY_INDEX: target = QStringLiteral("index.html"); break;
    case HH_HELP_CONTEXT: target = HelpPageForContext(data); break;
    default: return false;
  }
  if (target.isEmpty() || !QFileInfo::exists(folder + "/" + target)) return false;
  if (!gWindow) gWindow = new THelpWindow();
  gWindow->StartPage = folder + "/index.html";
  gWindow->Show(folder + "/" + target);
  return true;
}

QString THtmlHelpViewer::HelpFile() {
  const QString dir = HelpPagesFolder();
  return dir.isEmpty() ? QString() : dir + "/index.html";
}

QString THtmlHelpViewer::Resolve(const QString& given) const { return given.isEmpty() ? HelpFile() : given; }

void THtmlHelpViewer::ShowTableOfContents() { HtmlHelpA(Caller, Resolve({}), HH_DISPLAY_TOC, 0); }
void THtmlHelpViewer::ShowHelp(const QString&) { HtmlHelpA(Caller, Resolve({}), HH_DISPLAY_INDEX, 0); }
void THtmlHelpViewer::DisplayTopic(const QString& topic) {
  HtmlHelpA(Caller, Resolve({}) + " ::/" + topic, HH_DISPLAY_TOPIC, 0);
}
void THtmlHelpViewer::DisplayHelpContext(long context, const QString& helpFile) {
  HtmlHelpA(Caller, Resolve(helpFile), HH_HELP_CONTEXT, context);
}
void THtmlHelpViewer::ShutDown() { HtmlHelpA(nullptr, {}, HH_CLOSE_ALL, 0); }

THtmlHelpViewer& HelpViewer() {
  static THtmlHelpViewer viewer;
  return viewer;
}

void ShowHelpContext(long context) { HelpViewer().DisplayHelpContext(context); }
