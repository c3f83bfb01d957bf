// Reading a descriptor of 10,000 updates of one module: pugixml loading the file alone against
// the fetch from a local source with the load, and against the whole check (fetch, load and
// evaluation into the catalog). Argument: diagnostic log off (0) or on (1).
#include "core/catalog/Updates.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr int kMinorVersions = 100;
constexpr int kUpdatesPerMinor = 100;

// A realistic update: every attribute set and a few hundred bytes of RTF.
QByteArray DescriptorText()
{
    QByteArray text =
        "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
        "<modul verzeichnis_reg_rootkey=\"{HKLM}\" verzeichnis_reg_key=\"Software\\Vorlandt\\Module\\Kasse\" "
        "verzeichnis_reg_name=\"Pfad\">\r\n";
    for (int minor = 0; minor < kMinorVersions; ++minor) {
        text += "  <version nr=\"" + QByteArray::number(minor) + "\">\r\n";
        for (int update = 0; update < kUpdatesPerMinor; ++update) {
            const QByteArray nr = QByteArray::number(update);
            text +=
                "    <update nr=\"" + nr + "\" filename=\"kasse_" + QByteArray::number(minor) + "_" + nr +
                ".exe\" still=\"nein\" typ=\"execute\" lizenz_url=\"https://download.vorlandt.example/"
                "lizenz.rtf\" updaterversion=\"6\">\r\n"
                "      "
                "<beschreibung><![CDATA[{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 "
                "Arial;}}\\viewkind4\\uc1\\pard\\lang1031\\f0\\fs20 \\b \xC4nderungen in dieser "
                "Fassung:\\b0\\par\r\n"
                "- Die Kassenabrechnung ber\xFC"
                "cksichtigt jetzt den erm\xE4\xDFigten Steuersatz.\\par\r\n"
                "- Beim Drucken von Belegen wird der Drucker nicht mehr zweimal abgefragt.\\par\r\n}]]>"
                "</beschreibung>\r\n    </update>\r\n";
        }
        text += "  </version>\r\n";
    }
    text += "</modul>\r\n";
    return text;
}

struct TFixture {
    QTemporaryDir dir;
    QString descriptor;  // in the local source
    TFixture()
    {
        qputenv("VORLANDT_USER_STORE", dir.filePath(QStringLiteral("user.db")).toUtf8());
        qputenv("VORLANDT_MACHINE_STORE", dir.filePath(QStringLiteral("machine.db")).toUtf8());
        qputenv("TMPDIR", dir.filePath(QStringLiteral("tmp")).toUtf8());
        QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
        QDir().mkpath(dir.filePath(QStringLiteral("quelle/Modul_12")));
        QDir().mkpath(dir.filePath(QStringLiteral("kasse")));
        descriptor = dir.filePath(QStringLiteral("quelle/Modul_12/update_12_3.xml"));
        QFile file(descriptor);
        if (!file.open(QIODevice::WriteOnly) || file.write(DescriptorText()) < 0)
            std::abort();
        file.close();
        QFile siteinfo(dir.filePath(QStringLiteral("kasse/siteinfo_12.ini")));
        if (!siteinfo.open(QIODevice::WriteOnly) ||
            siteinfo.write("hauptversion=3\r\nnebenversion=50\r\nunterversion=0\r\n") < 0)
            std::abort();
        WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Vorlandt\\Module\\Kasse"),
                         QStringLiteral("Pfad"), dir.filePath(QStringLiteral("kasse")));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         dir.filePath(QStringLiteral("quelle")));
    }
};

TFixture& Fixture()
{
    static TFixture fixture;
    return fixture;
}

void SetLog(const benchmark::State& state)
{
    WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::Log, SettingsKeys::LogAktiv, state.range(0) != 0);
    WriteLog(1, QString());
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(state.iterations() * QFile(Fixture().descriptor).size());
}

void BM_PugixmlLoadOnly(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(Fixture().descriptor);
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_file(path.constData(), pugi::parse_default | pugi::parse_comments))
            std::abort();
        benchmark::DoNotOptimize(document.document_element());
    }
    SetBytes(state);
}
BENCHMARK(BM_PugixmlLoadOnly)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_DownloadUpdateXML(benchmark::State& state)
{
    Fixture();
    SetLog(state);
    TUpdates updates;
    TUpdateCheck check(&updates);
    for (auto _ : state) {
        if (!check.DownloadUpdateXML(12, 3))
            std::abort();
    }
    SetBytes(state);
}
BENCHMARK(BM_DownloadUpdateXML)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadVersionTree(benchmark::State& state)
{
    Fixture();
    SetLog(state);
    TUpdates updates;
    TUpdateCheck check(&updates);
    for (auto _ : state) {
        state.PauseTiming();
        updates.Clear();
        WriteLog(1, QString());
        state.ResumeTiming();
        if (!check.ReadVersionTree(QStringLiteral("Kasse"), 12, 3, true))
            std::abort();
    }
    if (updates.UpdateDictionary().size() != kMinorVersions * kUpdatesPerMinor)
        std::abort();
    SetBytes(state);
    state.counters["updates"] = static_cast<double>(updates.UpdateDictionary().size());
}
BENCHMARK(BM_ReadVersionTree)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
