// One face for every program's command line: "--version" and "--help" answer alike everywhere,
// and a wrong call ends with the usage on stderr and exit status 2.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace cli {

enum TExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

// "vorlandt-reg (Vorlandt Online-Updater) 1.0": the version of the build, from the project.
QString VersionLine(const QString& program);

// The arguments after the program name, for a program that needs them before its application
// object exists (the window program answers --help without a display).
QStringList ArgumentsOf(int argc, char** argv);

// A call whose first argument is "--help", "-h" or "--version" gets the usage or the version on
// stdout and ExitOk; every other call gets nullopt and is the program's own to parse.
std::optional<int> AnswerInfoCall(const QStringList& arguments, const QString& program, const char* usage);

// "program: message", an empty line and the usage on stderr; returns ExitUsage.
int UsageError(const QString& program, const QString& message, const char* usage);

// Thrown by a tool's command while it reads its arguments: the call itself is wrong.
struct TUsageError {
    QString message;
};

// The frame of a tool with commands: the info calls answered, then `run`. A TUsageError becomes
// UsageError; any other exception one line on stderr and ExitFailed. That line is "program:
// what" unless `storeMessage` is set: an EVorlandtError then goes out as its message alone (the
// store's messages name what they are about themselves). A tool that speaks under another name
// than it is called by (the demo installer's lines say "VorlandtUpdate") gives it as `speaker`;
// the usage and the version keep `program`.
int RunTool(const QStringList& arguments, const QString& program, const char* usage,
            const std::function<int(const QStringList&)>& run, bool storeMessage = false,
            const QString& speaker = QString());

}  // namespace cli
