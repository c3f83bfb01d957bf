// Wall time of a manual update run over 100 registrations against the loopback HTTPS server
// (descriptors of about 10 KB, nothing pending), against one curl command line that makes the
// same HEAD and GET requests: the limit the transfers themselves set. Needs python3, openssl, curl.
//   build/bench/bench_updateRun
#include "core/run/UpdateRun.h"
#include "core/catalog/Updates.h"
#include "core/services/FrontEnd.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/sources/UpdateCheck.h"

#include "BenchHttpsServer.h"

#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int ModuleCount = 100;

// Answers the closing "nothing found" box and shows nothing.
class TSilentFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString&, TMsgDlgType, TMsgDlgButtons, int) override { return mrOk; }
    bool OpenDocument(const QString&) override { return true; }
};

// A descriptor of about 10 KB whose updates are all installed already.
QByteArray Descriptor(int id)
{
    QByteArray xml =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<modul verzeichnis_reg_rootkey=\"{HKLM}\" "
            "verzeichnis_reg_key=\"Software\\Bench\\%1\" verzeichnis_reg_name=\"Pfad\">\n")
            .arg(id)
            .toUtf8();
    for (int minor = 0; xml.size() < 10 * 1024; ++minor) {
        xml += QStringLiteral("<version nr=\"%1\">").arg(minor).toUtf8();
        for (int sub = 0; sub < 3; ++sub)
            xml += QStringLiteral(
                       "<update nr=\"%1\" filename=\"m%2_%3_%1.exe\" still=\"ja\" typ=\"execute\">"
                       "<beschreibung><![CDATA[{\\rtf1\\ansi{\\fonttbl{\\f0 Tahoma;}}\\f0\\fs16 "
                       "\\b Neu in %3.%1:\\b0\\par Schnellere Suche, neue Berichte und viele kleine "
                       "Verbesserungen.\\par}]]></beschreibung></update>\n")
                       .arg(sub)
                       .arg(id)
                       .arg(minor)
                       .toUtf8();
        xml += "</version>\n";
    }
    return xml + "</modul>\n";
}

struct TRunFixture : TBenchHttpsServer {
    TSilentFrontEnd FrontEnd;

    TRunFixture()
    {
        if (!Error.isEmpty())
            return;
        const QString base = Dir.path() + u'/';
        qputenv("VORLANDT_MACHINE_STORE", (base + QStringLiteral("machine.db")).toUtf8());
        qputenv("VORLANDT_PROGRAMDATA", (base + QStringLiteral("programdata")).toUtf8());
        qputenv("TMPDIR", (base + QStringLiteral("tmp")).toUtf8());
        QDir().mkpath(base + QStringLiteral("tmp"));
        QDir().mkpath(base + QStringLiteral("programdata/Vorlandt/OnlineUpdater/1.0"));
        for (const char* variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
            qunsetenv(variable);

        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                         Url(QStringLiteral("/")));
        WriteBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv, false);
        for (int id = 1; id <= ModuleCount; ++id) {
            const QString key =
                SettingsKeys::OnlineUpdateModule + QStringLiteral("Modul%1").arg(id, 3, 10, QLatin1Char('0'));
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateID, id);
            WriteIntegerValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateHauptversion, 1);
            WriteStringValue(HKEY_LOCAL_MACHINE, key, SettingsKeys::UpdateModulbezeichnung,
                             QStringLiteral("Modul %1").arg(id));
            const QString folder = base + QStringLiteral("modules/%1/").arg(id);
            WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Bench\\%1").arg(id),
                             QStringLiteral("Pfad"), folder);
            if (!WriteFile(folder + QStringLiteral("siteinfo_%1.ini").arg(id),
                           "hauptversion=1\r\nnebenversion=999\r\nunterversion=0\r\n") ||
                !WriteFile(Root() + QStringLiteral("/Modul_%1/update_%1_1.xml").arg(id), Descriptor(id))) {
                Error = QStringLiteral("cannot write the fixture");
                return;
            }
        }
        SetFrontEnd(&FrontEnd);
    }

    ~TRunFixture() { SetFrontEnd(nullptr); }

    // The requests the run makes, as one curl command line.
    QStringList CurlArguments() const
    {
        QStringList arguments;
        for (int id = 1; id <= ModuleCount; ++id) {
            const QString url = Url(QStringLiteral("/Modul_%1/update_%1_1.xml").arg(id));
            for (bool head : {true, false}) {
                if (!arguments.isEmpty())
                    arguments << QStringLiteral("--next");
                arguments << QStringLiteral("-s") << QStringLiteral("--cacert") << CertFile()
                          << QStringLiteral("-o") << QStringLiteral("/dev/null");
                if (head)
                    arguments << QStringLiteral("-I");
                arguments << url;
            }
        }
        return arguments;
    }
};

std::unique_ptr<TRunFixture> gFixture;

TRunFixture* Fixture()
{
    if (!gFixture)
        gFixture = std::make_unique<TRunFixture>();
    return gFixture.get();
}

void BM_ManualRun100(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    if (!fixture->Error.isEmpty()) {
        state.SkipWithError(qPrintable(fixture->Error));
        return;
    }
    for (auto _ : state) {
        TUpdates updates;
        TUpdateCheck check(&updates);
        TUpdateRun(updates, check, false).RunUpdateCheck(true);
    }
}
BENCHMARK(BM_ManualRun100)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_CurlSameRequests(benchmark::State& state)
{
    TRunFixture* fixture = Fixture();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (!fixture->Error.isEmpty() || curl.isEmpty()) {
        state.SkipWithError(curl.isEmpty() ? "curl missing" : qPrintable(fixture->Error));
        return;
    }
    const QStringList arguments = fixture->CurlArguments();
    for (auto _ : state) {
        QProcess process;
        process.start(curl, arguments);
        if (!process.waitForFinished(120000) || process.exitCode() != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
}
BENCHMARK(BM_CurlSameRequests)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksWithApplication(argc, argv, [] { gFixture.reset(); });
}
