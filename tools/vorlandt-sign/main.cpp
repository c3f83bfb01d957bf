// vorlandt-sign: the older name of vorlandt-publish's keygen, sign and verify, kept for the
// scripts that call it. Its sign warns about a file the updater would not read instead of
// refusing it, as those scripts expect every file to be signed.
#include "Commands.h"

#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, QStringLiteral("vorlandt-sign"), publish::SignUsage, publish::RunSign);
}
