// The private world a catalog test runs in: temporary and data folders and both stores inside one
// temporary folder, plus writing and reading the files a test sets up and checks.
#pragma once

#include "support/PrivateStores.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

class TCatalogWorld {
public:
    TCatalogWorld() : FOriginalTmpDir(qgetenv("TMPDIR"))
    {
        if (!FStores.IsValid())
            return;
        QDir().mkpath(TempDir());
        qputenv("TMPDIR", QFile::encodeName(TempDir()));
    }

    ~TCatalogWorld() { qputenv("TMPDIR", FOriginalTmpDir); }

    TCatalogWorld(const TCatalogWorld&) = delete;
    TCatalogWorld& operator=(const TCatalogWorld&) = delete;

    // Also false when the temporary folder could not be made.
    bool IsValid() const { return FStores.IsValid() && QFileInfo(TempDir()).isDir(); }
    QString Root() const { return FStores.Path(); }
    QString Path(const QString& name) const { return FStores.FilePath(name); }
    QString TempDir() const { return Path(QStringLiteral("tmp")) + u'/'; }
    QString DataDir() const { return Path(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0")) + u'/'; }

private:
    TPrivateStores FStores;
    QByteArray FOriginalTmpDir;
};

inline void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write fixture %s", qPrintable(path));
}

// "<missing>" for a file that cannot be opened, so a comparison shows the difference.
inline QByteArray Read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}
