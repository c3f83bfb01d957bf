// How the maker's tool speaks: results on stdout, problems on stderr, each line flushed at once so
// that the two streams keep their order in a terminal.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdio>

namespace publish {

inline void WriteBytes(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

inline void PrintLine(const QString& line)
{
    WriteBytes(stdout, (line + u'\n').toUtf8());
}

// "program: message" on stderr.
inline void PrintError(const QString& program, const QString& message)
{
    WriteBytes(stderr, QStringLiteral("%1: %2\n").arg(program, message).toUtf8());
}

}  // namespace publish
