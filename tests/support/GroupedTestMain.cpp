// The one program that runs every suite registered by VORLANDT_TEST_MAIN in a grouped build:
//   <program> [-d FOLDER] [SUITE ...] [-- QTEST-ARGUMENTS]
// Each suite runs with its own QtTest output file FOLDER/<suite>.txt (plain text), because a
// program without a console loses QtTest's standard output under Wine and Windows; without -d
// the output goes to the standard output. No SUITE names all of them; -l lists the names. The
// exit status is the number of suites with failures.
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <map>
#include <vector>

namespace grouped {

namespace {

std::map<QByteArray, TRunSuite>& Suites()
{
    static std::map<QByteArray, TRunSuite> suites;
    return suites;
}

}  // namespace

TRegistration::TRegistration(const char* name, TRunSuite run)
{
    Suites().emplace(QByteArray(name), std::move(run));
}

}  // namespace grouped

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString folder;
    std::vector<QByteArray> chosen;
    std::vector<QByteArray> passed;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--") {
            for (++i; i < argc; ++i)
                passed.push_back(argv[i]);
        } else if (argument == "-d" && i + 1 < argc) {
            folder = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "-l") {
            for (const auto& [name, run] : grouped::Suites())
                std::printf("%s\n", name.constData());
            return 0;
        } else if (grouped::Suites().count(argument)) {
            chosen.push_back(argument);
        } else {
            std::fprintf(stderr, "unbekannte Testklasse oder Option: %s\n", argv[i]);
            return 2;
        }
    }
    if (chosen.empty()) {
        for (const auto& [name, run] : grouped::Suites())
            chosen.push_back(name);
    }
    if (!folder.isEmpty())
        QDir().mkpath(folder);

    int failedSuites = 0;
    for (const QByteArray& name : chosen) {
        std::vector<QByteArray> arguments{QByteArray(argv[0])};
        if (!folder.isEmpty()) {
            arguments.push_back("-o");
            arguments.push_back(
                QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".txt,txt")).toLocal8Bit());
        }
        arguments.insert(arguments.end(), passed.begin(), passed.end());
        std::vector<char*> pointers;
        for (QByteArray& argument : arguments)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        if (grouped::Suites().at(name)(static_cast<int>(arguments.size()), pointers.data()) != 0)
            ++failedSuites;
    }
    return failedSuites;
}
