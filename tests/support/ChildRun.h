// What tests that start the real programs share: the outcome of one program run, and fixture
// files written with their folders and read back whole.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

struct TRun {
    int exitCode = -1;  // -1: did not start, crashed or timed out
    QString out;
    QString err;
};

inline bool WriteFile(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Empty when the file is missing.
inline QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
