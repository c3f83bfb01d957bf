// A private world for the settings dialog's tests: both settings stores and the autostart folder
// in one temporary folder, module registrations, and a store that refuses one registration's
// writes the way a protected key would.
#pragma once

#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <optional>

class TSettingsWorld {
public:
    TSettingsWorld()
        : FUserStore(Swap("VORLANDT_USER_STORE", Path(QStringLiteral("user/registry-user.db")))),
          FMachineStore(Swap("VORLANDT_MACHINE_STORE", Path(QStringLiteral("machine/registry-machine.db")))),
          FConfigHome(Swap("XDG_CONFIG_HOME", Path(QStringLiteral("config")))),
          FConfigDirs(Swap("XDG_CONFIG_DIRS", Path(QStringLiteral("system"))))
    {
        QDir().mkpath(Path(QStringLiteral("user")));
        QDir().mkpath(Path(QStringLiteral("machine")));
    }

    ~TSettingsWorld()
    {
        Restore("VORLANDT_USER_STORE", FUserStore);
        Restore("VORLANDT_MACHINE_STORE", FMachineStore);
        Restore("XDG_CONFIG_HOME", FConfigHome);
        Restore("XDG_CONFIG_DIRS", FConfigDirs);
    }

    TSettingsWorld(const TSettingsWorld&) = delete;
    TSettingsWorld& operator=(const TSettingsWorld&) = delete;

    bool IsValid() const { return FDir.isValid(); }
    QString Root() const { return FDir.path(); }
    QString Path(const QString& name) const { return FDir.filePath(name); }
    QString MachineStoreFile() const { return Path(QStringLiteral("machine/registry-machine.db")); }
    QString UserStoreFile() const { return Path(QStringLiteral("user/registry-user.db")); }
    QString AutostartFile() const { return Path(QStringLiteral("config/autostart/VorlandtUpdate.desktop")); }
    // Where the package's entry for every user lies in this world.
    QString SystemAutostartFile() const
    {
        return Path(QStringLiteral("system/autostart/VorlandtUpdate.desktop"));
    }

    // A registration as an installer writes it; `disabled` is left out when empty.
    static void AddModule(const QString& name, std::optional<qint32> disabled)
    {
        const QString key = SettingsKeys::OnlineUpdateModule + name;
        WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, 7);
        if (disabled)
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabled, *disabled);
    }

    // The key the installers register below, still without any registration.
    static bool CreateRegistrationKey()
    {
        using platform::StoreBackend;
        using platform::TStoreOp;
        return StoreBackend::apply(
            HKEY_LOCAL_MACHINE,
            {TStoreOp{TStoreOp::Type::CreateKey, SettingsKeys::OnlineUpdateModule, {}, {}}});
    }

    // "Disabled" as stored for `name`, or empty when it was never written.
    static std::optional<qint32> ModuleDisabled(const QString& name)
    {
        const QString key = SettingsKeys::OnlineUpdateModule + name;
        if (!ValueExists(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabled))
            return std::nullopt;
        return ReadIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::ModuleDisabled, -99);
    }

    // Every later write below that registration fails inside the store, as on a protected key.
    bool RefuseModuleWrites(const QString& name) const
    {
        const QByteArray fold = (SettingsKeys::OnlineUpdateModule + name).toCaseFolded().toUtf8();
        const QByteArray sql = "CREATE TRIGGER refuse_insert BEFORE INSERT ON vals WHEN NEW.key_fold = '" +
                               fold +
                               "' BEGIN SELECT RAISE(ABORT, 'protected'); END;"
                               "CREATE TRIGGER refuse_update BEFORE UPDATE ON vals WHEN NEW.key_fold = '" +
                               fold + "' BEGIN SELECT RAISE(ABORT, 'protected'); END;";
        sqlite3* db = nullptr;
        if (sqlite3_open(QFile::encodeName(MachineStoreFile()).constData(), &db) != SQLITE_OK) {
            sqlite3_close(db);
            return false;
        }
        const bool done = sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return done;
    }

private:
    std::optional<QByteArray> Swap(const char* name, const QString& value)
    {
        std::optional<QByteArray> previous;
        if (qEnvironmentVariableIsSet(name))
            previous = qgetenv(name);
        qputenv(name, QFile::encodeName(value));
        return previous;
    }

    static void Restore(const char* name, const std::optional<QByteArray>& previous)
    {
        if (previous)
            qputenv(name, *previous);
        else
            qunsetenv(name);
    }

    QTemporaryDir FDir;
    std::optional<QByteArray> FUserStore;
    std::optional<QByteArray> FMachineStore;
    std::optional<QByteArray> FConfigHome;
    std::optional<QByteArray> FConfigDirs;
};
