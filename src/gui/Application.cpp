// The general error display, Qt's own texts in German and the application-wide help file.
#include "gui/Application.h"

#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "gui/FocusOutline.h"
#include "gui/OpenAddress.h"

#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <exception>

namespace {

QString HelpFile;

}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    InstallQtTranslations(QLocale::system());
    // Whichever style the desktop chose: focus marks a person with weak eyes finds.
    UseClearFocusMarks();
}

QTranslator* InstallQtTranslations(const QLocale& userLocale)
{
    // The program speaks German whatever the desktop's language; the user's locale only chooses
    // among the German variants Qt may ship.
    const QLocale locale =
        userLocale.language() == QLocale::German ? userLocale : QLocale(QLocale::German, QLocale::Germany);
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

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
    return HelpFile.isEmpty() ? HelpIndexFile() : HelpFile;
}

void SetApplicationHelpFile(const QString& path)
{
    HelpFile = path;
}

void ShowHelpTopic(QWidget* parent, int helpContext)
{
    const QString helpFile = ApplicationHelpFile();
    // The log says which part was asked for, whatever the browser makes of the anchor.
    WriteLog(TLogAction::AppendLine,
             QStringLiteral("ShowHelpTopic - Hilfe: %1 - HelpContext: %2").arg(helpFile).arg(helpContext));
    if (!QFileInfo(helpFile).isFile()) {
        MessageDialog(QStringLiteral("Die Hilfedatei \"%1\" wurde nicht gefunden.").arg(helpFile),
                      TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
        return;
    }
    OpenAddressOrShow(parent, HelpTopicAddress(helpFile, helpContext));
}
