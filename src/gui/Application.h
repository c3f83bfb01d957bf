// The application object of the GUI and its general error display: no exception ever crosses
// Qt's event loop; whatever leaves an event handler is shown as a message box with its text.
#pragma once

#include <QApplication>

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

// The help file the windows' help buttons open: the one set last, else the help file beside the
// program. The main window sets it each time it is shown.
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString& path);
// "vorlandt-online-updater.chm" in the folder of the program file.
QString HelpFileBesideProgram();
