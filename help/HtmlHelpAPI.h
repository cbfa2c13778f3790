#pragma once
// The help entry point: one call with a caller window, a help file (optionally
// followed by " ::/" and a page), a command code and its argument. The help
// "file" is the start page of the bundled HTML pages shipped with the program.

#include <QString>

class QWidget;

enum : unsigned {
  HH_DISPLAY_TOPIC = 0x0000,
  HH_DISPLAY_TOC = 0x0001,
  HH_DISPLAY_INDEX = 0x0002,
  HH_HELP_CONTEXT = 0x000F,
  HH_CLOSE_ALL = 0x0012,
};

// Shows the help window for the command; returns false when nothing was shown
// (a missing help file drops the request silently).
bool HtmlHelpA(QWidget* caller, const QString& file, unsigned command, long data);

// The page a context number opens (1000 the start page, 1010 the results,
// 1011 the options); empty for an unknown number.
QString HelpPageForContext(long context);

// The page the help window shows now (empty when it is not open); for tests.
QString CurrentHelpPage();
