// The general error display and the application-wide help file.
#include "gui/Application.h"

#include "core/platform/VorlandtError.h"
#include "core/services/FrontEnd.h"
#include "core/settings/EinstellungenStore.h"

#include <QDir>
#include <QFileInfo>

#include <QPointer>

#include <exception>

namespace {

QString HelpFile;

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

void SetProgramIdentity()
{
    QCoreApplication::setApplicationName(QStringLiteral("VorlandtOnlineUpdater"));
    QGuiApplication::setDesktopFileName(QStringLiteral("vorlandt-online-updater"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException();
        return false;
    }
}

void ShowException()
{
    QString message;
    try {
        throw;
    } catch (const EVorlandtError& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = QString::fromLocal8Bit(error.what());
    } catch (...) {
        message = QStringLiteral("Unbekannter Fehler.");
    }
    try {
        MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
    } catch (...) {
        // The display of an error must never raise another one out of the event loop.
    }
}

QString ApplicationHelpFile()
{
    return HelpFile.isEmpty() ? HelpFileBesideProgram() : HelpFile;
}

QString HelpFileBesideProgram()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).absoluteDir().filePath(HelpFileName);
}

void SetApplicationHelpFile(const QString& path)
{
    HelpFile = path;
}
