// libFuzzer entry for the update descriptor: any bytes, fetched from a local source folder and
// evaluated, must end in true, false or a warning box, never in a crash or a hang, and a
// successful evaluation must leave a catalog whose updates all belong to a module record.
#include "core/catalog/Updates.h"
#include "core/platform/VorlandtError.h"
#include "core/services/FrontEnd.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"
#include "support/PrivateStores.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// The default front end would print every warning box; thousands per second help nobody.
class TSilentFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrOk; }
    bool OpenDocument(const QString&) override { return false; }
};

struct TFuzzSetup {
    TPrivateStores stores;
    TSilentFrontEnd frontEnd;
    TUpdates updates;
    std::unique_ptr<TUpdateCheck> check;
    QString descriptor;

    TFuzzSetup()
    {
        if (!stores.IsValid())
            std::abort();
        qputenv("TMPDIR", stores.FilePath(QStringLiteral("tmp")).toUtf8());
        QDir().mkpath(stores.FilePath(QStringLiteral("tmp")));
        QDir().mkpath(stores.FilePath(QStringLiteral("quelle/Modul_12")));
        QDir().mkpath(stores.FilePath(QStringLiteral("kasse")));
        descriptor = stores.FilePath(QStringLiteral("quelle/Modul_12/update_12_3.xml"));
        QFile siteinfo(stores.FilePath(QStringLiteral("kasse/siteinfo_12.ini")));
        if (!siteinfo.open(QIODevice::WriteOnly) ||
            siteinfo.write("nebenversion=1\r\nunterversion=2\r\n") < 0)
            std::abort();
        siteinfo.close();
        // The seeds name this key and value; both roots hold it so either root key finds it.
        for (const TRootKey root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            WriteStringValue(root, QStringLiteral("Software\\Vorlandt\\Module\\Kasse"),
                             QStringLiteral("Pfad"), stores.FilePath(QStringLiteral("kasse")));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         stores.FilePath(QStringLiteral("quelle")));
        SetFrontEnd(&frontEnd);
        check = std::make_unique<TUpdateCheck>(&updates);
    }
};

TFuzzSetup* Setup = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Setup = new TFuzzSetup;  // lives until the process ends
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        QFile file(Setup->descriptor);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
                static_cast<qint64>(size))
            std::abort();
    }
    Setup->updates.Clear();
    bool result = false;
    try {
        result = Setup->check->ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true);
    } catch (const EVorlandtError&) {
        // A file error reading the fetched file is a clean outcome too.
    }
    if (result) {
        for (const auto& [key, node] : Setup->updates.UpdateDictionary()) {
            if (key.ModulNr != 12 || !node || !Setup->updates.ModulDictionary().contains(12))
                std::abort();
        }
    }
    return 0;
}
