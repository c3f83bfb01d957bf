// The main of a Windows test executable. Without arguments but an output folder it runs every
// registered class in a process of its own (each as it would run alone on Linux: no state left
// by another class), writing "<class>.txt" into the folder, and prints one line per class;
// "--one <class> <QtTest arguments>" is such a process. The exit status is the number of classes
// that failed.
#include "WinTestRegistry.h"

#include <QDir>
#include <QProcess>

#ifdef VORLANDT_WIN_TEST_GUI
#include <QApplication>
#endif
#include <QCoreApplication>

#include <cstdio>
#include <map>
#include <string>

namespace wintest {

namespace {

std::map<std::string, TRun>& Classes()
{
    static std::map<std::string, TRun> classes;
    return classes;
}

int RunOne(int argc, char** argv, const QString& name, const QStringList& testArguments)
{
    // Wine does not hand QT_* variables to the program: the platform is chosen here.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef VORLANDT_WIN_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    const auto found = Classes().find(name.toStdString());
    if (found == Classes().end()) {
        std::fprintf(stderr, "unknown test class %s\n", qPrintable(name));
        return 1;
    }
    return found->second(QStringList{QCoreApplication::applicationFilePath()} + testArguments);
}

}  // namespace

bool Register(const char* name, TRun run)
{
    Classes()[name] = run;
    return true;
}

}  // namespace wintest

int main(int argc, char** argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--one") {
        QStringList testArguments;
        for (int i = 3; i < argc; ++i)
            testArguments.append(QString::fromLocal8Bit(argv[i]));
        return wintest::RunOne(argc, argv, QString::fromLocal8Bit(argv[2]), testArguments);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder> [class...] | --one <class> [QtTest arguments]\n", argv[0]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString output = QDir::fromNativeSeparators(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(output);
    QStringList chosen;
    for (int i = 2; i < argc; ++i)
        chosen.append(QString::fromLocal8Bit(argv[i]));
    int failed = 0;
    for (const auto& [name, run] : wintest::Classes()) {
        const QString className = QString::fromStdString(name);
        if (!chosen.isEmpty() && !chosen.contains(className))
            continue;
        const QString log = output + u'/' + className + QStringLiteral(".txt");
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--one"), className, QStringLiteral("-o"), log + QStringLiteral(",txt")});
        const bool finished = child.waitForFinished(600 * 1000);
        const bool passed = finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        if (!finished)
            child.kill();
        std::printf("%s %s\n", passed ? "PASS" : "FAIL", qPrintable(className));
        std::fflush(stdout);
        failed += passed ? 0 : 1;
    }
    return failed;
}
