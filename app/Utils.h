#pragma once
// Shared pieces of the application shell: message boxes, form centring, the
// title text, the folder picker, file sizes and the Help-menu hand-overs.

#include <QMessageBox>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

class QWidget;

enum class TMsgKind { Information, Error, Confirmation, Warning };

// "Tarvelle " followed by the full version text.
QString TitleText();

// The window message boxes centre on (the main window once it exists).
void SetMessageOwner(QWidget* owner);
QWidget* MessageOwner();

// Shows a modal message box; returns the QMessageBox::StandardButton pressed.
int ShowMessageDialog(const QString& text, TMsgKind kind, QMessageBox::StandardButtons buttons);
void ShowInformation(const QString& text);
void ShowError(const QString& text);
// True only when Yes was pressed; Escape or the close box count as No.
bool ShowConfirmation(const QString& text);

// Test double for every message box: gets the kind and the text and returns
// the button "pressed". Empty shows real boxes.
using TMessageHook = std::function<int(TMsgKind kind, const QString& text)>;
void SetMessageHook(TMessageHook hook);

// Centring arithmetic: the left/top of a form of formW x formH over the
// centre of the main window's rectangle, kept on a screen of screenW x screenH
// (clamped to 0 first, then to the far edges).
QPoint CenterFormPosition(int mainLeft, int mainTop, int mainWidth, int mainHeight, int formWidth, int formHeight,
                          int screenWidth, int screenHeight);
// Places `form` over the centre of the main window, kept on the screen.
void CenterForm(QWidget* form);

// Folder picker: returns the chosen folder or an empty string. Test double:
// SetBrowseHook.
std::string BrowseForFolder(const QString& title, int root, const std::string& initialFolder);
using TBrowseHook = std::function<std::string(const QString& title, const std::string& initial)>;
void SetBrowseHook(TBrowseHook hook);

// File names are bytes; these convert for display only.
QString DisplayName(const std::string& fileName);
std::string FileNameBytes(const QString& text);

// Folder of the bundled help pages, next to the installed program.
QString HelpPagesFolder();

// Help-menu hand-overs to the desktop's browser and mail program.
void OpenHomepage();
void OpenSupportPage();
void OpenTellAFriendMail();
// The mail link "Tell A Friend" opens (for tests).
QString TellAFriendUrl();
