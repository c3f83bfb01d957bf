// The version comes from the project's version in CMake (VORLANDT_VERSION on this file only).
#include "core/services/CommandLineHelp.h"

#include "core/platform/VorlandtError.h"

#include <cstdio>
#include <exception>

namespace cli {

namespace {

void Write(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

}  // namespace

QString VersionLine(const QString& program)
{
    return QStringLiteral("%1 (Vorlandt Online-Updater) %2").arg(program, QStringLiteral(VORLANDT_VERSION));
}

QStringList ArgumentsOf(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

std::optional<int> AnswerInfoCall(const QStringList& arguments, const QString& program, const char* usage)
{
    if (arguments.isEmpty())
        return std::nullopt;
    const QString& first = arguments.first();
    if (first == u"--help" || first == u"-h") {
        Write(stdout, QByteArray(usage));
        return ExitOk;
    }
    if (first == u"--version") {
        Write(stdout, (VersionLine(program) + u'\n').toUtf8());
        return ExitOk;
    }
    return std::nullopt;
}

int UsageError(const QString& program, const QString& message, const char* usage)
{
    Write(stderr, QStringLiteral("%1: %2\n\n").arg(program, message).toUtf8());
    Write(stderr, QByteArray(usage));
    return ExitUsage;
}

int RunTool(const QStringList& arguments, const QString& program, const char* usage,
            const std::function<int(const QStringList&)>& run, bool storeMessage, const QString& speaker)
{
    if (const std::optional<int> answered = AnswerInfoCall(arguments, program, usage))
        return *answered;
    const QString& name = speaker.isEmpty() ? program : speaker;
    QString failure;
    try {
        const int code = run(arguments);
        std::fflush(stdout);
        return code;
    } catch (const TUsageError& error) {
        return UsageError(program, error.message, usage);
    } catch (const EVorlandtError& error) {
        failure = storeMessage ? error.message() : QStringLiteral("%1: %2").arg(name, error.message());
    } catch (const std::exception& error) {
        failure = QStringLiteral("%1: %2").arg(name, QString::fromLocal8Bit(error.what()));
    }
    std::fflush(stdout);
    Write(stderr, (failure + u'\n').toUtf8());
    return ExitFailed;
}

}  // namespace cli
