// The private world an update-run test runs in: stores, temporary, data, source and suite folders
// inside one temporary folder; modules registered with their descriptors in the local source;
// the diagnostic log on, the regional format German and the clock stopped at 15 March 2024, 10:00.
#pragma once

#include "core/catalog/JobHandOff.h"
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
#include <QList>

#include <utility>

class TRunWorld {
public:
    TRunWorld() : FOriginalTmpDir(qgetenv("TMPDIR"))
    {
        if (!FStores.IsValid())
            return;
        for (const QString& dir : {TempDir(), SourceDir(), DataDir(), SuiteDir()})
            QDir().mkpath(dir);
        qputenv("TMPDIR", QFile::encodeName(TempDir()));
        TestFormatSettings::set(platform::TFormatSettings::German());
        TestClock::set(QDateTime(QDate(2024, 3, 15), QTime(10, 0)));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, true);
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         SourceDir());
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, false);
        WriteStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::StdEinstellungen, SettingsKeys::Pfad, SuiteDir());
        // Asked about usage tracking today and declined: the main window asks nothing and sends nothing.
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::Standardeinstellungen,
                         SettingsKeys::TrackingLastQuery, QStringLiteral("15.03.2024"));
    }

    ~TRunWorld()
    {
        WriteLog(TLogAction::DiscardBuffer, QString());
        TestClock::set(QDateTime());
        TestFormatSettings::set(std::nullopt);
        qputenv("TMPDIR", FOriginalTmpDir);
    }

    TRunWorld(const TRunWorld&) = delete;
    TRunWorld& operator=(const TRunWorld&) = delete;

    bool IsValid() const { return FStores.IsValid(); }
    QString Path(const QString& name) const { return FStores.FilePath(name); }
    QString TempDir() const { return Path(QStringLiteral("tmp")) + u'/'; }
    QString DataDir() const { return Path(QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0")) + u'/'; }
    QString SourceDir() const { return Path(QStringLiteral("source")) + u'/'; }
    QString SuiteDir() const { return Path(QStringLiteral("suite")) + u'/'; }
    QString ModuleDir(int id) const { return Path(QStringLiteral("modules/%1").arg(id)) + u'/'; }

    // Registers a module under `subkey` and puts its descriptor, offering the (minor, sub)
    // versions given, into the local source; the module is installed at version haupt.0.0.
    bool AddModule(const QString& subkey, int id, int haupt, const QString& displayName,
                   const QList<std::pair<int, int>>& offered)
    {
        const QString key = SettingsKeys::OnlineUpdateModule + subkey;
        WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, id);
        WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion, haupt);
        WriteStringValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateModulbezeichnung, displayName);
        const QString folderKey = QStringLiteral("Software\\Vorlandt\\Test\\%1").arg(id);
        WriteStringValue(HKEY_LOCAL_MACHINE, folderKey, QStringLiteral("Pfad"), ModuleDir(id));
        if (!QDir().mkpath(ModuleDir(id)) ||
            !WriteFile(ModuleDir(id) + QStringLiteral("siteinfo_%1.ini").arg(id),
                       QStringLiteral("hauptversion=%1\r\nnebenversion=0\r\nunterversion=0\r\n")
                           .arg(haupt)
                           .toLatin1()))
            return false;

        QString xml =
            QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modul verzeichnis_reg_rootkey=\"{HKLM}\" "
                "verzeichnis_reg_key=\"%1\" verzeichnis_reg_name=\"Pfad\">\n")
                .arg(folderKey);
        QMap<int, QList<int>> byMinor;
        for (const auto& [minor, sub] : offered)
            byMinor[minor].append(sub);
        for (auto minor = byMinor.cbegin(); minor != byMinor.cend(); ++minor) {
            xml += QStringLiteral("  <version nr=\"%1\">\n").arg(minor.key());
            for (int sub : minor.value())
                xml += QStringLiteral(
                           "    <update nr=\"%1\" filename=\"m%2_%3_%1.exe\"><beschreibung>"
                           "{\\rtf1 Neu in %3.%1: \\b fett\\b0 .}</beschreibung></update>\n")
                           .arg(sub)
                           .arg(id)
                           .arg(minor.key());
            xml += QStringLiteral("  </version>\n");
        }
        xml += QStringLiteral("</modul>\n");
        return WriteFile(SourceDir() + QStringLiteral("Modul_%1/update_%1_%2.xml").arg(id).arg(haupt),
                         xml.toUtf8());
    }

    // A news file in the local source with one item meant for this updater.
    bool AddNews() const
    {
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, true);
        return WriteFile(
            SourceDir() + QStringLiteral("news/news.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<news><item id=\"1\" datum=\"01.03.2024\" "
            "updaterversion=\"6\"><beschreibung><![CDATA[{\\rtf1 "
            "Neuigkeit}]]></beschreibung></item></news>\n");
    }

    // Puts the fake installer (which records its call in aufruf.txt) into the suite folder.
    bool AddInstaller(const QString& fakeInstaller) const
    {
        const QString target = SuiteDir() + InstallerFileName;
        return QFile::copy(fakeInstaller, target) &&
               QFile::setPermissions(
                   target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QString InstallerCall() const
    {
        return QString::fromUtf8(ReadFile(SuiteDir() + QStringLiteral("aufruf.txt")));
    }

private:
    TPrivateStores FStores;
    QByteArray FOriginalTmpDir;
};
