// vorlandt-publish: the maker's one tool for a release of descriptors and news: enter a version,
// sign, and read the whole tree the way the updater will before anything is published.
#include "Commands.h"

#include "core/services/CommandLineHelp.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, QStringLiteral("vorlandt-publish"), publish::PublishUsage, publish::RunPublish);
}
