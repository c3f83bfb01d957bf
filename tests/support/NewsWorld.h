// The private world a news test runs in: temporary, data and source folders and both stores
// inside one temporary folder, the diagnostic log switched on, the regional format German and
// the clock stopped at 15 March 2024, 10:00.
#pragma once

#include "core/platform/Clock.h"
#include "core/platform/text/RegionalFormat.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"
#include "support/TestClock.h"
#include "support/TestFiles.h"
#include "support/TestFormatSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pugixml.hpp>

class TNewsWorld {
public:
    TNewsWorld() : FOriginalTmpDir(qgetenv("TMPDIR"))
    {
        if (!FStores.IsValid())
            return;
        QDir().mkpath(TempDir());
        QDir().mkpath(SourceDir() + QStringLiteral("news"));
        qputenv("TMPDIR", QFile::encodeName(TempDir()));
        QDir().mkpath(DataDir());
        TestFormatSettings::set(platform::TFormatSettings::German());
        SetNow(QDate(2024, 3, 15), QTime(10, 0));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteLog(TLogAction::StartBuffer, QString());
    }

    ~TNewsWorld()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        TestClock::set(QDateTime());
        TestFormatSettings::set(std::nullopt);
        qputenv("TMPDIR", FOriginalTmpDir);
    }

    TNewsWorld(const TNewsWorld&) = delete;
    TNewsWorld& operator=(const TNewsWorld&) = delete;

    bool IsValid() const { return FStores.IsValid(); }
    QString TempDir() const { return FStores.FilePath(QStringLiteral("tmp")) + u'/'; }
    QString DataDir() const
    {
        return FStores.FilePath(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0")) + u'/';
    }
    QString SourceDir() const { return FStores.FilePath(QStringLiteral("source")) + u'/'; }
    QString Path(const QString& name) const { return FStores.FilePath(name); }

    static void SetNow(const QDate& date, const QTime& time)
    {
        TestClock::set(QDateTime(date, time));
    }

    // The names in the data folder, sorted.
    QStringList DataFiles() const
    {
        return QDir(DataDir()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

private:
    TPrivateStores FStores;
    QByteArray FOriginalTmpDir;
};

inline QStringList LogLines()
{
    return LogBuffer().value_or(QStringList());
}

// A document parsed from UTF-8 text, the way the update checker parses the news file.
inline bool ParseNews(pugi::xml_document& document, const QByteArray& xml)
{
    return bool(document.load_buffer(xml.constData(), static_cast<size_t>(xml.size()),
                                     pugi::parse_default | pugi::parse_comments, pugi::encoding_utf8));
}
