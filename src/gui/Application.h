// The application object of the GUI and its general error display: no exception ever crosses
// Qt's event loop; whatever leaves an event handler is shown as a message box with its text.
#pragma once

#include <QApplication>
#include <QLocale>

class QTranslator;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // Delivers the event; an error that leaves its handler goes to ShowException.
    bool notify(QObject* receiver, QEvent* event) override;
};

// The general error display: shows the message of the exception being handled (call it inside a
// catch block) as an error box through the front end in charge.
void ShowException();

// The program's names for the desktop: the application name (which also names its folders) and
// its desktop entry. Deliberately no display name: the platform would append it to the caption of
// every window whose caption differs from it ("Warnung — ..."), and each caption is the window's own.
void SetProgramIdentity();

// Loads Qt's own German texts (standard dialogs, context menus, buttons) for `userLocale`'s German
// variant, or Germany's German when the user's language is another: the program speaks German
// throughout. Returns the installed translator (owned by the application), or nullptr when the
// translations are not installed.
QTranslator* InstallQtTranslations(const QLocale& userLocale);

// The help contexts of the windows: the part of the manual each window's help opens.
inline constexpr int MainHelpContext = 10001;
inline constexpr int UserLogHelpContext = 10002;
// 10003, the settings, is SettingsHelpContext (core/settings/SettingsValues.h).
inline constexpr int NotificationHelpContext = 10004;
inline constexpr int NewsHelpContext = 10005;
inline constexpr int ConsentHelpContext = 10006;

// The user manual the windows' help opens: the one set last, else the installed one
// (HelpIndexFile). The main window sets it each time it is shown.
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString& path);

// Opens the manual at the part for `helpContext` in the desktop's browser; a missing manual gets
// an error box naming its path, a desktop that cannot open it the window with the address to copy.
void ShowHelpTopic(QWidget* parent, int helpContext);
