// What a huge installed-updates log costs: peak memory (maximum resident set size) of one process
// that adds an entry to a 60 MB log of its own, or shows it in the window "Installierte Updates".
// Run by hand: build/bench/userlog_memory add|window|window-nowrap [megabytes]
// (QT_QPA_PLATFORM=offscreen)
#include "core/catalog/UserLog.h"
#include "support/PrivateStores.h"

#ifdef VORLANDT_WITH_WINDOW
#include "gui/frmUserLog.h"

#include <QApplication>
#include <QPlainTextEdit>
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/resource.h>

namespace {

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char* argv[])
{
    // "window-nowrap": the same window with the memo's line wrapping off, for comparison.
    const bool noWrap = argc > 1 && std::strcmp(argv[1], "window-nowrap") == 0;
    const bool window = noWrap || (argc > 1 && std::strcmp(argv[1], "window") == 0);
    const int megabytes = argc > 2 ? std::atoi(argv[2]) : 60;
    TPrivateStores stores;
    qputenv("TMPDIR", QFile::encodeName(stores.Path() + QStringLiteral("/tmp")));
    QDir().mkpath(stores.Path() + QStringLiteral("/tmp"));
    QFile::setPermissions(stores.Path() + QStringLiteral("/tmp"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString data = stores.ProgramData() + QStringLiteral("/Vorlandt/OnlineUpdater/1.0/");
    QDir().mkpath(data);
    {
        QFile log(data + QStringLiteral("VL_Userlog.txt"));
        if (!log.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray entry(
            "=======================\r\nInstallationsdatum: 01.01.2020\r\nModul: Alt\r\n"
            "Version: 1.0.0\r\n=======================\r\nEine alte Beschreibung\r\n\r\n\r\n");
        const QByteArray chunk = entry.repeated(1024 * 1024 / entry.size());
        for (int i = 0; i < megabytes; ++i)
            log.write(chunk);
    }
    const long before = PeakKilobytes();
#ifdef VORLANDT_WITH_WINDOW
    if (window) {
        QApplication app(argc, argv);
        TfrmUserLog form;
        if (noWrap)
            form.memoUserLog->setLineWrapMode(QPlainTextEdit::NoWrap);
        form.show();
        QCoreApplication::processEvents();
        std::printf("window over a %d MB log: %ld KB peak (%ld KB before), %lld characters shown\n",
                    megabytes, PeakKilobytes(), before,
                    static_cast<long long>(form.memoUserLog->toPlainText().size()));
        return 0;
    }
#else
    if (window) {
        std::fprintf(stderr, "built without the window\n");
        return 2;
    }
#endif
    QCoreApplication app(argc, argv);
    TUserLog::AddLastTempEntry(QStringLiteral("Kasse"), 1, 2, 3, 4);
    std::printf("add to a %d MB log: %ld KB peak (%ld KB before), log now %lld bytes\n", megabytes,
                PeakKilobytes(), before,
                static_cast<long long>(QFile(data + QStringLiteral("VL_Userlog.txt")).size()));
    return 0;
}
