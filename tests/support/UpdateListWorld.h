// The private world a notification-dialog test runs in: temporary folder and both stores inside
// one temporary folder, and a catalog filled by a short call per update.
#pragma once

#include "core/catalog/Updates.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>

class TUpdateListWorld {
public:
    TUpdateListWorld() : FOriginalTmpDir(qgetenv("TMPDIR"))
    {
        if (!FStores.IsValid())
            return;
        QDir().mkpath(TempDir());
        QDir().mkpath(ModulDir());
        qputenv("TMPDIR", QFile::encodeName(TempDir()));
    }
    ~TUpdateListWorld() { qputenv("TMPDIR", FOriginalTmpDir); }

    TUpdateListWorld(const TUpdateListWorld&) = delete;
    TUpdateListWorld& operator=(const TUpdateListWorld&) = delete;

    bool IsValid() const { return FStores.IsValid(); }
    QString TempDir() const { return FStores.FilePath(QStringLiteral("tmp")) + u'/'; }
    // A module folder without a siteinfo file: every installed version counts as 0.0.0.
    QString ModulDir() const { return FStores.FilePath(QStringLiteral("modul")) + u'/'; }
    QString Path(const QString& name) const { return FStores.FilePath(name); }
    QString DescriptionFile() const { return TempDir() + QStringLiteral("VL_UpdateRTF.tmp"); }

    void Add(const QString& name, qint32 nr, qint32 haupt, qint32 neben, qint32 unter,
             const QString& rtf = QString(), const QString& lizenz = QString())
    {
        Updates.AddUpdate(name, nr, haupt, neben, unter, QStringLiteral("setup_%1.exe").arg(nr),
                          QStringLiteral("nein"), QStringLiteral("execute"), lizenz, QStringLiteral("6"), rtf,
                          ModulDir());
    }

    TUpdates Updates;

private:
    TPrivateStores FStores;
    QByteArray FOriginalTmpDir;
};
