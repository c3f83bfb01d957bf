// Settings stores and a data folder of their own for one test, benchmark or fuzz run: a temporary
// folder holding user.db, machine.db, policy.d and programdata, the variables that point the
// program at them set while the fixture lives and put back as they were (or unset) when it goes.
// Header-only, so that the fuzz and benchmark builds, which have no test library, can use it too.
// On Windows the stores are keys, HKCU\Software\VorlandtTests\<the folder's name>\user and
// ...\machine, which stand in for the registry's roots and go with the fixture.
// Lifetimes must nest: end one (reset it in cleanup()) before making the next, or the older one,
// ending last, puts back the variables as they were before the newer one.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#ifdef Q_OS_WIN
#include <QFileInfo>
#include <QSettings>
#endif

#include <optional>

class TPrivateStores {
public:
    TPrivateStores() { PointAtFolder(); }
    // The folder made from a QTemporaryDir template, for a caller that has moved TMPDIR elsewhere.
    explicit TPrivateStores(const QString& folderTemplate) : FDir(folderTemplate) { PointAtFolder(); }

    ~TPrivateStores()
    {
        Restore(FUser, "VORLANDT_USER_STORE");
        Restore(FMachine, "VORLANDT_MACHINE_STORE");
        Restore(FPolicy, "VORLANDT_POLICY_DIR");
        Restore(FProgramData, "VORLANDT_PROGRAMDATA");
#ifdef Q_OS_WIN
        if (FDir.isValid()) {
            QSettings tests(QStringLiteral("HKEY_CURRENT_USER\\Software\\VorlandtTests"),
                            QSettings::NativeFormat);
            tests.remove(KeyName());
        }
#endif
    }

    TPrivateStores(const TPrivateStores&) = delete;
    TPrivateStores& operator=(const TPrivateStores&) = delete;

    bool IsValid() const { return FDir.isValid(); }
    // The temporary folder; everything else a test puts in it goes away with the stores.
    QString Path() const { return FDir.path(); }
    QString FilePath(const QString& name) const { return FDir.filePath(name); }
#ifdef Q_OS_WIN
    QString UserStore() const { return StoreKey() + QStringLiteral("\\user"); }
    QString MachineStore() const { return StoreKey() + QStringLiteral("\\machine"); }
#else
    QString UserStore() const { return FilePath(QStringLiteral("user.db")); }
    QString MachineStore() const { return FilePath(QStringLiteral("machine.db")); }
#endif
    // The policy files' folder; not created: no policy file until a test makes one.
    QString PolicyFolder() const { return FilePath(QStringLiteral("policy.d")); }
    // Not created: the program makes what it needs below it.
    QString ProgramData() const { return FilePath(QStringLiteral("programdata")); }

private:
#ifdef Q_OS_WIN
    QString KeyName() const { return QFileInfo(FDir.path()).fileName(); }
    QString StoreKey() const { return QStringLiteral("HKCU\\Software\\VorlandtTests\\") + KeyName(); }
#endif

    // What a variable held before; empty when it was not set at all.
    struct TSaved {
        bool Taken = false;
        std::optional<QByteArray> Value;
    };

    void PointAtFolder()
    {
        // Without a folder the variables stay as they were: an empty one would send the program to
        // the stores of the person running the tests.
        if (!FDir.isValid())
            return;
        Swap(FUser, "VORLANDT_USER_STORE", UserStore());
        Swap(FMachine, "VORLANDT_MACHINE_STORE", MachineStore());
        Swap(FPolicy, "VORLANDT_POLICY_DIR", PolicyFolder());
        Swap(FProgramData, "VORLANDT_PROGRAMDATA", ProgramData());
    }

    static void Swap(TSaved& saved, const char* name, const QString& value)
    {
        saved.Taken = true;
        if (qEnvironmentVariableIsSet(name))
            saved.Value = qgetenv(name);
        qputenv(name, QFile::encodeName(value));
    }

    static void Restore(const TSaved& saved, const char* name)
    {
        if (!saved.Taken)
            return;
        if (saved.Value)
            qputenv(name, *saved.Value);
        else
            qunsetenv(name);
    }

    QTemporaryDir FDir;
    TSaved FUser;
    TSaved FMachine;
    TSaved FPolicy;
    TSaved FProgramData;
};
