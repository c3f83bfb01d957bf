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

// The help file the windows' help buttons open: set each time the main window is shown.
QString ApplicationHelpFile();
void SetApplicationHelpFile(const QString& path);
