// A second process for the settings dialog's tests: shows the dialog as whoever runs it, reports
// what it shows, presses OK and reports every message box instead of showing it.
#include "gui/Einstellungen.h"
#include "core/services/FrontEnd.h"
#include "core/services/Registry.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTextStream>

namespace {

class TPrintingFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString& text, TMsgDlgType, TMsgDlgButtons, int) override
    {
        QTextStream(stdout) << "message=" << text << '\n';
        return mrOk;
    }
    bool OpenDocument(const QString&) override { return false; }
};

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TPrintingFrontEnd frontEnd;
    SetFrontEnd(&frontEnd);

    TfrmEinstellungen dialog;
    dialog.show();
    QCoreApplication::processEvents();
    QTextStream out(stdout);
    out << "admin=" << (HasAdminRights() ? "true" : "false") << '\n';
    out << "warning=" << (dialog.pnlNoAdminWarning->isVisible() ? "visible" : "hidden") << '\n';
    out << "modules=" << dialog.clbModule->count() << '\n';
    out.flush();
    dialog.BitBtn1->click();
    QCoreApplication::processEvents();
    out << "closed=" << (dialog.isVisible() ? "no" : "yes") << '\n';
    out.flush();
    SetFrontEnd(nullptr);
    return 0;
}
