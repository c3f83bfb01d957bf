// What each command of vorlandt-publish and vorlandt-sign takes, and where it goes.
#include "Commands.h"

#include "AddUpdate.h"
#include "ReleaseCheck.h"
#include "Signing.h"

#include "core/services/CommandLineHelp.h"

namespace publish {

namespace {

using cli::TUsageError;

const QString PublishName = QStringLiteral("vorlandt-publish");
const QString SignName = QStringLiteral("vorlandt-sign");

constexpr qint64 MaxDays = 36500;

TCheckOptions ParseCheckOptions(QStringList& args)
{
    TCheckOptions options;
    QStringList keys;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        QString option = args.takeFirst();
        QString value;
        if (const qsizetype equals = option.indexOf(u'='); equals >= 0) {
            value = option.mid(equals + 1);
            option.truncate(equals);
        } else if (option == u"--key" || option == u"--expires-within" || option == u"--installed") {
            if (args.isEmpty())
                throw TUsageError{QStringLiteral("%1 erwartet einen Wert").arg(option)};
            value = args.takeFirst();
        }
        if (option == u"--key") {
            const TSignatureCheck one = TSignatureCheck::FromKeyText(value);
            if (one.KeyCount() != 1 || !one.BadEntries().isEmpty())
                throw TUsageError{QStringLiteral("--key: \"%1\" ist kein öffentlicher Schlüssel").arg(value)};
            keys.append(value.trimmed());
        } else if (option == u"--expires-within") {
            if (options.ExpiresWithinDays)
                throw TUsageError{QStringLiteral("--expires-within ist doppelt angegeben")};
            const std::optional<int> days = ParseNameNumber(value);
            if (!days || *days < 1 || *days > MaxDays)
                throw TUsageError{
                    QStringLiteral("--expires-within: \"%1\" ist keine Anzahl Tage zwischen 1 und %2")
                        .arg(value)
                        .arg(MaxDays)};
            options.ExpiresWithinDays = *days;
        } else if (option == u"--installed") {
            if (options.Installed)
                throw TUsageError{QStringLiteral("--installed ist doppelt angegeben")};
            options.Installed = ParseVersion(value);
            if (!options.Installed)
                throw TUsageError{
                    QStringLiteral("--installed: \"%1\" ist keine Version der Form Haupt.Neben.Unter")
                        .arg(value)};
        } else {
            throw TUsageError{QStringLiteral("unbekannte Option \"%1\"").arg(option)};
        }
    }
    if (!keys.isEmpty())
        options.Keys = TSignatureCheck::FromKeyText(keys.join(u' '));
    return options;
}

}  // namespace

const char PublishUsage[] =
    "Aufruf: vorlandt-publish BEFEHL ...\n"
    "Das Werkzeug des Herstellers für Update-Beschreibungen und News des Vorlandt Online Updaters:\n"
    "Versionen eintragen, signieren und einen Update-Baum so lesen, wie der Updater ihn liest.\n"
    "\n"
    "  check [--key ÖFFENTLICHER_SCHLÜSSEL]... [--expires-within TAGE] [--installed H.N.U] ORDNER\n"
    "        den Update-Baum ORDNER (Server oder lokale Quelle) mit dem Leser des Updaters\n"
    "        prüfen: angebotene Versionen je Update-Beschreibung, jede Datei, die der Updater\n"
    "        ablehnen oder nie anfragen würde, jede Signatur, die fehlt, nicht passt oder\n"
    "        innerhalb von TAGE Tagen abläuft\n"
    "  add --modul NR --version H.N.U --text HINWEISE.rtf [--filename DATEI] [--still]\n"
    "      [--typ execute|exec_on_restart] [--lizenz-url URL] [--updaterversion NR]\n"
    "      [--verzeichnis-reg-rootkey {HKLM}|{HKCU} --verzeichnis-reg-key SCHLÜSSEL\n"
    "       --verzeichnis-reg-name NAME] [--sign SCHLÜSSELDATEI [--expires TAGE|JJJJ-MM-TT]] ORDNER\n"
    "        die Version H.N.U in ORDNER/Modul_NR/update_NR_H.xml eintragen (die Datei wird\n"
    "        angelegt, wenn es sie nicht gibt) und sie auf Wunsch signieren\n"
    "  keygen SCHLÜSSELDATEI             neuen privaten Schlüssel anlegen (PEM, nur für den\n"
    "                                    Eigentümer lesbar) und den öffentlichen Schlüssel ausgeben\n"
    "  sign [--expires TAGE|JJJJ-MM-TT] [--name NAME] [--force] SCHLÜSSELDATEI DATEI...\n"
    "                                    zu jeder DATEI die Signatur DATEI.sig schreiben; eine\n"
    "                                    Datei, die der Updater ablehnen würde, nur mit --force\n"
    "  verify [--name NAME] ÖFFENTLICHER_SCHLÜSSEL DATEI\n"
    "                                    prüfen, ob DATEI.sig zu DATEI und zum Schlüssel passt\n"
    "  --help                            diese Hilfe\n"
    "  --version                         Version ausgeben\n"
    "\n"
    "Das Format der Dateien beschreibt vorlandt-update-format(5).\n"
    "\n"
    "Exit-Status: 0 Erfolg (check: ein Client liest alles), 1 Fehler, abgelehnte Datei oder\n"
    "Signatur fehlt, ist ungültig oder abgelaufen (Meldung auf stderr), 2 falscher Aufruf.\n";

const char SignUsage[] =
    "Aufruf: vorlandt-sign BEFEHL ...\n"
    "Signiert Update-Beschreibungen und News für den Vorlandt Online Updater (Ed25519) und\n"
    "prüft Signaturen so, wie der Updater es tut.\n"
    "\n"
    "  keygen SCHLÜSSELDATEI             neuen privaten Schlüssel anlegen (PEM, nur für den\n"
    "                                    Eigentümer lesbar) und den öffentlichen Schlüssel ausgeben\n"
    "  sign [--expires TAGE|JJJJ-MM-TT] [--name NAME] SCHLÜSSELDATEI DATEI...\n"
    "                                    zu jeder DATEI die Signatur DATEI.sig schreiben\n"
    "  verify [--name NAME] ÖFFENTLICHER_SCHLÜSSEL DATEI\n"
    "                                    prüfen, ob DATEI.sig zu DATEI und zum Schlüssel passt\n"
    "  --help                            diese Hilfe\n"
    "  --version                         Version ausgeben\n"
    "\n"
    "Eine Signatur gilt für den Namen, unter dem die Datei veröffentlicht wird\n"
    "(update_12_5.xml, news.xml): das ist der Dateiname von DATEI ohne Ordner, oder NAME\n"
    "(nur bei einer einzigen DATEI). Unter einem anderen Namen ist sie ungültig.\n"
    "--expires TAGE: die Signatur gilt TAGE Tage ab jetzt (1 bis 36500); --expires JJJJ-MM-TT:\n"
    "bis zum Ende dieses Tages (UTC). Danach lehnt der Updater die Datei ab\n"
    "(\"Signatur abgelaufen\"). Ohne --expires gilt sie unbegrenzt.\n"
    "\n"
    "ÖFFENTLICHER_SCHLÜSSEL ist die Zeile, die keygen ausgibt (Base64 der 32 Schlüsselbytes).\n"
    "keygen überschreibt nie eine vorhandene Datei.\n"
    "\n"
    "vorlandt-sign ist der ältere Name von vorlandt-publish keygen, sign und verify. Eine Datei,\n"
    "die der Updater ablehnen würde, signiert es mit einer Warnung; vorlandt-publish sign lehnt\n"
    "sie ab, vorlandt-publish check prüft einen ganzen Update-Baum.\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler oder Signatur fehlt, ungültig oder abgelaufen (Meldung auf\n"
    "stderr), 2 falscher Aufruf.\n";

int RunPublish(const QStringList& args)
{
    if (args.isEmpty())
        throw TUsageError{QStringLiteral("Befehl fehlt")};
    const QString& command = args.first();
    if (command == u"check") {
        QStringList rest = args.mid(1);
        const TCheckOptions options = ParseCheckOptions(rest);
        if (rest.size() != 1)
            throw TUsageError{
                QStringLiteral("check erwartet genau einen Ordner, nicht %1 Argumente").arg(rest.size())};
        return CheckTree(PublishName, options, rest.first());
    }
    if (command == u"add")
        return AddUpdate(PublishName, ParseAddArguments(args.mid(1)));
    if (const std::optional<int> result = RunSigningCommand(PublishName, TContentRule::Refuse, args))
        return *result;
    throw TUsageError{QStringLiteral("unbekannter Befehl \"%1\"").arg(command)};
}

int RunSign(const QStringList& args)
{
    if (args.isEmpty())
        throw TUsageError{QStringLiteral("Befehl fehlt")};
    if (const std::optional<int> result = RunSigningCommand(SignName, TContentRule::Warn, args))
        return *result;
    throw TUsageError{QStringLiteral("unbekannter Befehl \"%1\"").arg(args.first())};
}

}  // namespace publish
