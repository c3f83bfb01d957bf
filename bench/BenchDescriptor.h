// A descriptor of 10,000 updates of one module (100 minor versions of 100 updates, every
// attribute set, a few hundred bytes of RTF each) in a local source, with the module registered
// and installed: what the descriptor benchmarks read and evaluate.
#pragma once

#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "support/PrivateStores.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

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

struct TDescriptorFixture {
    TPrivateStores stores;
    QString descriptor;  // in the local source
    TDescriptorFixture()
    {
        qputenv("TMPDIR", stores.FilePath(QStringLiteral("tmp")).toUtf8());
        QDir().mkpath(stores.FilePath(QStringLiteral("tmp")));
        QDir().mkpath(stores.FilePath(QStringLiteral("quelle/Modul_12")));
        QDir().mkpath(stores.FilePath(QStringLiteral("kasse")));
        descriptor = stores.FilePath(QStringLiteral("quelle/Modul_12/update_12_3.xml"));
        QFile file(descriptor);
        if (!file.open(QIODevice::WriteOnly) || file.write(DescriptorText()) < 0)
            std::abort();
        file.close();
        QFile siteinfo(stores.FilePath(QStringLiteral("kasse/siteinfo_12.ini")));
        if (!siteinfo.open(QIODevice::WriteOnly) ||
            siteinfo.write("hauptversion=3\r\nnebenversion=50\r\nunterversion=0\r\n") < 0)
            std::abort();
        WriteStringValue(HKEY_LOCAL_MACHINE, QStringLiteral("Software\\Vorlandt\\Module\\Kasse"),
                         QStringLiteral("Pfad"), stores.FilePath(QStringLiteral("kasse")));
        WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                         stores.FilePath(QStringLiteral("quelle")));
    }
};

TDescriptorFixture& Fixture()
{
    static TDescriptorFixture fixture;
    return fixture;
}

}  // namespace
