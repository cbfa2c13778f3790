#pragma once
// The program's help viewer: every help request (the Help command, F1 on a
// control with a help topic) ends here and opens the built-in help window on
// the bundled HTML pages.

#include <QString>

class QWidget;

class THtmlHelpViewer {
 public:
  // The application's help file, resolved next to the installed program
  // (never in the current folder).
  static QString HelpFile();
  QString GetViewerName() const { return QStringLiteral("HtmlHelp"); }
  int UnderstandsKeyword(const QString&) const { return 1; }
  QString GetHelpStrings(const QString& keyword) const { return GetViewerName() + ": " + keyword; }
  bool CanShowTableOfContents() const { return true; }
  void ShowTableOfContents();
  void ShowHelp(const QString& keyword);
  bool UnderstandsTopic(const QString&) const { return true; }
  void DisplayTopic(const QString& topic);
  bool UnderstandsContext(long, const QString&) const { return true; }
  void DisplayHelpContext(long context, const QString& helpFile = QString());
  void NotifyID(int id) { id_ = id; }
  void ShutDown();

  // The window requests come from (the main window once it exists).
  QWidget* Caller = nullptr;

 private:
  QString Resolve(const QString& given) const;
  int id_ = 0;
};

// The one viewer of the program.
THtmlHelpViewer& HelpViewer();
// Opens help at a context number: 1000, 1010 or 1011.
void ShowHelpContext(long context);
