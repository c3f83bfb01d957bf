// vorlandt-reg: the settings store from the command line, for the suite's installers,
// administrators and scripts; .reg import and export keep registrations portable to Windows.
#include "core/platform/store/RegFile.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/store/StoreBackend.h"
#include "core/platform/VorlandtError.h"
#include "core/services/CommandLineHelp.h"
#include "core/services/Registry.h"
#include "core/settings/EffectiveSettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <cstdio>

namespace {

using platform::StoreBackend;
using platform::TRawValue;
using platform::TReadStatus;
using platform::TValueKind;

using cli::ExitFailed;
using cli::ExitOk;

const QString ProgramName = QStringLiteral("vorlandt-reg");

// A .reg file this large is no registration file; reading it whole would only eat memory.
constexpr qint64 MaxImportSize = 64 * 1024 * 1024;

const char UsageText[] =
    "Aufruf: vorlandt-reg BEFEHL ...\n"
    "Liest und schreibt den Einstellungsspeicher des Vorlandt Online Updaters.\n"
    "\n"
    "  get    ROOT SCHLÜSSEL NAME            Wert ausgeben\n"
    "  set    ROOT SCHLÜSSEL NAME ART WERT   Wert schreiben (fehlende Schlüssel werden angelegt)\n"
    "  delete ROOT SCHLÜSSEL NAME            Wert löschen\n"
    "  list   ROOT SCHLÜSSEL                 Unterschlüssel, danach die Werte als \"name = art:wert\"\n"
    "  effective                             jede Einstellung mit dem Wert, der gilt, und seiner\n"
    "                                        Herkunft (Richtlinie, Benutzer, Rechner, Vorgabe),\n"
    "                                        danach unbekannte Richtlinienwerte und abgelehnte\n"
    "                                        Richtliniendateien\n"
    "  import DATEI                          .reg-Datei einlesen: ganz oder gar nicht\n"
    "  export ROOT SCHLÜSSEL [DATEI]         Schlüssel mit allen Unterschlüsseln als .reg ausgeben\n"
    "  repair [ROOT]                         Speicher nach einer unterbrochenen Änderung reparieren\n"
    "                                        und prüfen (ohne ROOT: HKLM; braucht Schreibrecht)\n"
    "  --help                                diese Hilfe ausgeben\n"
    "  --version                             Versionsnummer ausgeben\n"
    "\n"
    "ROOT       HKLM, HKCU, HKEY_LOCAL_MACHINE oder HKEY_CURRENT_USER (Groß-/Kleinschreibung egal)\n"
    "SCHLÜSSEL  Pfad mit \\ getrennt, z. B. 'Software\\KRSoftware\\OnlineUpdate'\n"
    "NAME       Wertname; @ oder '' steht für den Standardwert des Schlüssels\n"
    "ART        sz, expand_sz, dword, qword, binary\n"
    "WERT       dword, qword: dezimal, negativ dezimal oder hexadezimal mit 0x (42, -1, 0x2a)\n"
    "           binary: Hex-Bytes wie 01,ff,00; sz, expand_sz: der Text\n"
    "\n"
    "get und list zeigen dword vorzeichenbehaftet (32 Bit), qword vorzeichenlos (64 Bit) und\n"
    "binary als Hex-Bytes.\n"
    "export schreibt DATEI als UTF-16 LE mit BOM und CR LF, wie regedit; ohne DATEI geht der Text\n"
    "als UTF-8 mit LF auf die Standardausgabe. import liest beide Formen (UTF-8 auch ohne BOM;\n"
    "Dateien ohne BOM, die kein gültiges UTF-8 sind, gelten als Windows-1252).\n"
    "\n"
#ifdef Q_OS_WIN
    // The store is the registry itself (32-bit view): what differs is where it lives and what
    // repair can do there.
    "Richtlinien kommen aus HKLM\\Software\\Policies\\KRSoftware\\OnlineUpdate.\n"
    "\n"
    "Der Speicher ist die Registrierung (die 32-Bit-Ansicht, wie \"reg.exe /reg:32\" sie zeigt).\n"
    "VORLANDT_USER_STORE und VORLANDT_MACHINE_STORE (Schlüssel wie 'HKCU\\Software\\Test\\user')\n"
    "ersetzen die Hauptschlüssel. import nimmt bei einem Fehler zurück, was es schon geschrieben\n"
    "hat; wird es selbst abgebrochen, bleibt das bis dahin Geschriebene stehen.\n"
    "\n"
    "repair prüft, ob alle Schlüssel unter Software\\KRSoftware und Software\\Policies\\KRSoftware\n"
    "lesbar sind; unterbrochene Änderungen nimmt Windows selbst zurück.\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler (Meldung auf stderr; bei get auch: Wert fehlt; bei repair:\n"
    "Schlüssel nicht lesbar), 2 falscher Aufruf.\n";
#else
    "Richtlinien kommen aus HKLM\\Software\\Policies\\KRSoftware\\OnlineUpdate und aus jeder\n"
    "Datei *.reg in /etc/vorlandt/policy.d (root gehörend, für andere nicht beschreibbar; in\n"
    "Namensreihenfolge, ein Wert aus einer Datei gilt vor dem Wert im Speicher).\n"
    "\n"
    "VORLANDT_USER_STORE (Dateipfad) ersetzt den Speicher des Benutzers. VORLANDT_MACHINE_STORE\n"
    "und VORLANDT_POLICY_DIR ersetzen den Rechnerspeicher und den Richtlinienordner nur für root\n"
    "oder für ein nicht installiertes Programm (Tests, Demo).\n"
    "\n"
    "repair nimmt eine abgebrochene Änderung zurück (etwa ein unterbrochenes import), so dass\n"
    "der zuletzt vollständig gespeicherte Stand wieder gilt, und prüft danach die ganze Datei.\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler (Meldung auf stderr; bei get auch: Wert fehlt; bei repair:\n"
    "Datei beschädigt oder nicht prüfbar), 2 falscher Aufruf.\n";
#endif

using cli::TUsageError;

void WriteBytes(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

void Print(const QString& text)
{
    WriteBytes(stdout, text.toUtf8());
}

QString ReadMessage(TRootKey root, const QString& key)
{
    return WithStoreCondition(
        root, QStringLiteral("Unable to open key \"%1\\%2\" for read").arg(RootKeyName(root), key));
}

QString WriteMessage(TRootKey root, const QString& key)
{
    return QStringLiteral("Unable to open key \"%1\\%2\" for write").arg(RootKeyName(root), key);
}

QString ValueMessage(TRootKey root, const QString& key, const QString& name)
{
    return QStringLiteral("Unable to open key \"%1\\%2\" and access value \"%3\"")
        .arg(RootKeyName(root), key, name);
}

TRootKey RootArg(const QString& arg)
{
    if (const auto root = regfile::RootFromName(arg))
        return *root;
    throw TUsageError{QStringLiteral("unbekannter Hauptschlüssel \"%1\"").arg(arg)};
}

// "@" is how list and .reg files show the default value, so it names it here too.
QString NameArg(const QString& arg)
{
    return arg == u"@" ? QString() : arg;
}

std::optional<quint64> ParseDigits(QStringView digits, int base)
{
    if (digits.isEmpty())
        return std::nullopt;
    quint64 value = 0;
    for (QChar c : digits) {
        const int digit = QStringView(u"0123456789abcdef").first(base).indexOf(c.toLower());
        if (digit < 0 || value > (~quint64(0) - quint64(digit)) / quint64(base))
            return std::nullopt;
        value = value * quint64(base) + quint64(digit);
    }
    return value;
}

// Decimal, negative decimal or 0x hexadecimal, fitting `bits` as signed or unsigned; the
// result is the bit pattern.
std::optional<quint64> ParseInteger(QStringView text, int bits)
{
    const quint64 unsignedMax = bits == 64 ? ~quint64(0) : (quint64(1) << bits) - 1;
    const quint64 negativeMax = quint64(1) << (bits - 1);
    if (text.startsWith(u"0x", Qt::CaseInsensitive)) {
        const auto value = ParseDigits(text.sliced(2), 16);
        return value && *value <= unsignedMax ? value : std::nullopt;
    }
    if (text.startsWith(u'-')) {
        const auto magnitude = ParseDigits(text.sliced(1), 10);
        if (!magnitude || *magnitude > negativeMax)
            return std::nullopt;
        return (quint64(0) - *magnitude) & unsignedMax;
    }
    const auto value = ParseDigits(text, 10);
    return value && *value <= unsignedMax ? value : std::nullopt;
}

TRawValue ValueArg(const QString& kind, const QString& text)
{
    const auto bad = [&] {
        return TUsageError{QStringLiteral("ungültiger Wert \"%1\" für die Art %2").arg(text, kind)};
    };
    if (kind == u"sz")
        return TRawValue::fromString(text, TValueKind::String);
    if (kind == u"expand_sz")
        return TRawValue::fromString(text, TValueKind::ExpandString);
    if (kind == u"dword") {
        const auto value = ParseInteger(text, 32);
        if (!value)
            throw bad();
        return TRawValue::fromDWord(quint32(*value));
    }
    if (kind == u"qword") {
        const auto value = ParseInteger(text, 64);
        if (!value)
            throw bad();
        return TRawValue::fromQWord(*value);
    }
    if (kind == u"binary") {
        const auto bytes = regfile::ParseHexBytes(text);
        if (!bytes)
            throw bad();
        return TRawValue::fromBinary(*bytes);
    }
    throw TUsageError{
        QStringLiteral("unbekannte Art \"%1\" (erlaubt: sz, expand_sz, dword, qword, binary)").arg(kind)};
}

QString KindName(TValueKind kind)
{
    switch (kind) {
        case TValueKind::String:
            return QStringLiteral("sz");
        case TValueKind::ExpandString:
            return QStringLiteral("expand_sz");
        case TValueKind::DWord:
            return QStringLiteral("dword");
        case TValueKind::QWord:
            return QStringLiteral("qword");
        case TValueKind::Binary:
            return QStringLiteral("binary");
    }
    return QStringLiteral("hex(%1)").arg(int(kind), 0, 16);
}

// Strings as stored (without the terminating NUL), numbers in decimal, the rest as hex bytes.
QString DisplayValue(const TRawValue& value)
{
    const QByteArray& data = value.data;
    switch (value.kind) {
        case TValueKind::String:
        case TValueKind::ExpandString: {
            QString text(data.size() / 2, Qt::Uninitialized);
            for (qsizetype i = 0; i < text.size(); ++i)
                text[i] = QChar(qFromLittleEndian<quint16>(data.constData() + 2 * i));
            while (text.endsWith(QChar(0)))
                text.chop(1);
            return text;
        }
        case TValueKind::DWord:
            if (data.size() == 4)
                return QString::number(qFromLittleEndian<qint32>(data.constData()));
            break;
        case TValueKind::QWord:
            if (data.size() == 8)
                return QString::number(qFromLittleEndian<quint64>(data.constData()));
            break;
        case TValueKind::Binary:
            break;
    }
    return regfile::FormatHexBytes(data);
}

int CmdGet(TRootKey root, const QString& key, const QString& name)
{
    TReadStatus status = TReadStatus::Missing;
    const auto value = StoreBackend::readValue(root, key, name, &status);
    // A file that could not be read is not reported as a missing value.
    if (status == TReadStatus::Failed)
        throw EVorlandtError(ReadMessage(root, key), EVorlandtError::Kind::Store);
    if (!value)
        throw EVorlandtError(ValueMessage(root, key, name), EVorlandtError::Kind::Store);
    Print(DisplayValue(*value) + u'\n');
    return ExitOk;
}

int CmdSet(TRootKey root, const QString& key, const QString& name, const TRawValue& value)
{
    if (!StoreBackend::writeValue(root, key, name, value))
        throw EVorlandtError(WriteMessage(root, key), EVorlandtError::Kind::Store);
    return ExitOk;
}

int CmdList(TRootKey root, const QString& key)
{
    QStringList subKeys;
    GetSubKeyNames(root, key, subKeys);
    const auto values = StoreBackend::values(root, key);
    if (!values)
        throw EVorlandtError(ReadMessage(root, key), EVorlandtError::Kind::Store);
    QString out;
    for (const QString& subKey : subKeys)
        out += subKey + u'\n';
    for (const platform::TNamedValue& value : *values) {
        out += (value.name.isEmpty() ? QStringLiteral("@") : value.name) + QStringLiteral(" = ") +
               KindName(value.value.kind) + u':' + DisplayValue(value.value) + u'\n';
    }
    Print(out);
    return ExitOk;
}

int CmdImport(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw EVorlandtError(
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(fileName, file.errorString()),
            EVorlandtError::Kind::InOut);
    if (file.size() > MaxImportSize)
        throw EVorlandtError(QStringLiteral("%1: mit %2 Bytes zu groß für eine .reg-Datei (höchstens %3)")
                                 .arg(fileName)
                                 .arg(file.size())
                                 .arg(MaxImportSize),
                             EVorlandtError::Kind::InOut);
    const QByteArray bytes = file.read(MaxImportSize + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > MaxImportSize)
        throw EVorlandtError(
            QStringLiteral("%1: kann nicht gelesen werden: %2").arg(fileName, file.errorString()),
            EVorlandtError::Kind::InOut);

    regfile::TRegImport import = regfile::ParseRegFile(bytes, fileName);
    // The machine-wide part goes first: it is the one a missing right refuses, and then
    // nothing of the file has been applied.
    bool machineApplied = false;
    for (const TRootKey root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        const QList<platform::TStoreOp>& ops = import.opsFor(root);
        if (ops.isEmpty())
            continue;
        if (!StoreBackend::apply(root, ops)) {
            QString message = WriteMessage(root, ops.first().key);
            if (machineApplied)
                message += QStringLiteral(
                               "\n%1: die Einträge unter HKEY_LOCAL_MACHINE sind bereits übernommen, "
                               "die unter HKEY_CURRENT_USER nicht")
                               .arg(fileName);
            throw EVorlandtError(message, EVorlandtError::Kind::Store);
        }
        machineApplied = root == HKEY_LOCAL_MACHINE;
    }
    return ExitOk;
}

int CmdExport(TRootKey root, const QString& key, const QString& fileName)
{
    QString top = key;
    while (top.endsWith(u'\\'))
        top.chop(1);

    // Depth first in the store's listing order; an explicit stack, because a hostile store may
    // nest deeper than the call stack would go.
    QList<regfile::TRegKey> keys;
    QStringList pending{top};
    while (!pending.isEmpty()) {
        const QString path = pending.takeLast();
        const auto values = StoreBackend::values(root, path);
        const auto subKeys = StoreBackend::subKeyNames(root, path);
        if (!values || !subKeys)
            throw EVorlandtError(ReadMessage(root, keys.isEmpty() ? key : path), EVorlandtError::Kind::Store);
        keys.append({path, *values});
        for (qsizetype i = subKeys->size() - 1; i >= 0; --i)
            pending.append(path.isEmpty() ? subKeys->at(i) : path + u'\\' + subKeys->at(i));
    }

    const QString text = regfile::FormatRegText(root, keys);
    if (fileName.isEmpty()) {
        WriteBytes(stdout, regfile::EncodeForTerminal(text));
        return ExitOk;
    }
    try {
        platform::WriteFileAtomically(fileName, regfile::EncodeForFile(text));
    } catch (const EVorlandtError& e) {
        // The tool's messages begin with the file name; the reason is the system's.
        const QString reason = e.message().section(QStringLiteral(" kann nicht geschrieben werden: "), -1);
        throw EVorlandtError(QStringLiteral("%1: kann nicht geschrieben werden: %2").arg(fileName, reason),
                             EVorlandtError::Kind::InOut);
    }
    return ExitOk;
}

int CmdRepair(TRootKey root)
{
    const platform::TRepairReport report = StoreBackend::repair(root);
    const QString file = StoreBackend::storePath(root);
    switch (report.outcome) {
        case platform::TRepairReport::Outcome::NoFile:
            Print(QStringLiteral("%1: nicht vorhanden, nichts zu reparieren\n").arg(file));
            return ExitOk;
        case platform::TRepairReport::Outcome::Sound:
            Print(report.rolledBack
                      ? QStringLiteral("%1: unterbrochene Änderung zurückgenommen, der zuletzt "
                                       "vollständig gespeicherte Stand gilt; Prüfung ohne Fehler\n")
                            .arg(file)
                      : QStringLiteral("%1: Prüfung ohne Fehler\n").arg(file));
            return ExitOk;
        case platform::TRepairReport::Outcome::NotPermitted:
            throw EVorlandtError(
                QStringLiteral("%1: reparieren darf nur, wer die Datei schreiben darf (als root aufrufen)")
                    .arg(file),
                EVorlandtError::Kind::Store);
        case platform::TRepairReport::Outcome::Damaged:
            throw EVorlandtError(
                QStringLiteral("%1: beschädigt%2:\n%3")
                    .arg(file,
                         report.rolledBack ? QStringLiteral(" (unterbrochene Änderung zurückgenommen)")
                                           : QString(),
                         report.findings.join(u'\n')),
                EVorlandtError::Kind::Store);
        case platform::TRepairReport::Outcome::Failed:
            break;
    }
    throw EVorlandtError(
        QStringLiteral("%1: kann nicht geprüft werden: %2").arg(file, report.findings.join(u' ')),
        EVorlandtError::Kind::Store);
}

int Run(const QStringList& args)
{
    const auto need = [&](qsizetype min, qsizetype max) {
        if (args.size() < min || args.size() > max)
            throw TUsageError{QStringLiteral("falsche Anzahl Argumente für %1").arg(args.first())};
    };
    if (args.isEmpty())
        throw TUsageError{QStringLiteral("kein Befehl angegeben")};
    const QString& command = args.first();
    if (command == u"get") {
        need(4, 4);
        return CmdGet(RootArg(args[1]), args[2], NameArg(args[3]));
    }
    if (command == u"set") {
        need(6, 6);
        const TRootKey root = RootArg(args[1]);
        return CmdSet(root, args[2], NameArg(args[3]), ValueArg(args[4], args[5]));
    }
    if (command == u"delete") {
        need(4, 4);
        const TRootKey root = RootArg(args[1]);
        DeleteValue(root, args[2], NameArg(args[3]));
        return ExitOk;
    }
    if (command == u"list") {
        need(3, 3);
        return CmdList(RootArg(args[1]), args[2]);
    }
    if (command == u"effective") {
        need(1, 1);
        QString out;
        for (const TEffectiveSetting& setting : ReadEffectiveSettings())
            out += EffectiveSettingLine(setting) + u'\n';
        for (const TPolicyProblem& problem : PolicyProblems())
            out += PolicyProblemLine(problem) + u'\n';
        Print(out);
        return ExitOk;
    }
    if (command == u"import") {
        need(2, 2);
        return CmdImport(args[1]);
    }
    if (command == u"export") {
        need(3, 4);
        return CmdExport(RootArg(args[1]), args[2], args.value(3));
    }
    if (command == u"repair") {
        need(1, 2);
        return CmdRepair(args.size() == 2 ? RootArg(args[1]) : HKEY_LOCAL_MACHINE);
    }
    throw TUsageError{QStringLiteral("unbekannter Befehl \"%1\"").arg(command)};
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, ProgramName, UsageText, Run, true);
}
