// "add": the new version goes into the descriptor's text at the place the updater's reader says,
// written the way the file already writes its entries. Nothing is serialised anew: a maker's file
// keeps its encoding, comments, attribute order and line ends, and the diff shows one entry.
#include "AddUpdate.h"

#include "DescriptorText.h"

#include "Output.h"

#include "core/platform/VorlandtError.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/rtf/RtfReader.h"
#include "core/platform/text/TextCodec.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/DescriptorFile.h"
#include "core/sources/XmlLoad.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

namespace publish {

namespace {

using cli::TUsageError;

// Release notes are a few kilobytes; a file this large is no release note.
constexpr qint64 MaxNotesSize = 16 * 1024 * 1024;

[[noreturn]] void Fail(const QString& message)
{
    throw EVorlandtError(message);
}

// ---- the new entry ------------------------------------------------------------------------------

QString EscapedAttribute(const QString& value)
{
    QString escaped = value;
    escaped.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"))
        .replace(u'"', QStringLiteral("&quot;"));
    return escaped;
}

QString EscapedText(const QString& value)
{
    QString escaped = value;
    escaped.replace(u'&', QStringLiteral("&amp;"))
        .replace(u'<', QStringLiteral("&lt;"))
        .replace(u'>', QStringLiteral("&gt;"));
    return escaped;
}

// Every line end of `text` as `eol`.
QString WithLineEnds(QString text, const QString& eol)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (eol != u"\n")
        text.replace(QStringLiteral("\n"), eol);
    return text;
}

struct TNewEntry {
    const TAddRequest& Request;
    QString Rtf;  // as the updater will read it back: line ends as LF

    QString Attributes() const
    {
        QString attributes = QStringLiteral(" nr=\"%1\"").arg(Request.Version.Unter);
        const auto add = [&](const char* name, const std::optional<QString>& value) {
            if (value)
                attributes += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), EscapedAttribute(*value));
        };
        add("filename", Request.Filename);
        add("still", Request.Still ? std::optional<QString>(QStringLiteral("ja")) : std::nullopt);
        add("typ", Request.Typ);
        add("lizenz_url", Request.LizenzUrl);
        add("updaterversion", Request.UpdaterVersion);
        return attributes;
    }

    // The description as one CDATA section, or as escaped text when the notes hold the CDATA end
    // marker: the updater takes exactly one text or one CDATA section.
    QString Beschreibung(const TLayout& layout) const
    {
        const QString text = WithLineEnds(Rtf, layout.Eol);
        const QString content = Rtf.contains(QStringLiteral("]]>"))
                                    ? EscapedText(text)
                                    : QStringLiteral("<![CDATA[") + text + QStringLiteral("]]>");
        return QStringLiteral("<beschreibung>") + content + QStringLiteral("</beschreibung>");
    }

    // The update element; `indent` is its own when it stands on a line of its own, none inline.
    QString Update(const TLayout& layout, const std::optional<QString>& indent) const
    {
        const QString open = u'<' + layout.UpdateName + Attributes() + u'>';
        const QString close = QStringLiteral("</") + layout.UpdateName + u'>';
        if (!indent || layout.InlineBeschreibung)
            return open + Beschreibung(layout) + close;
        return open + layout.Eol + *indent + layout.Unit + Beschreibung(layout) + layout.Eol + *indent +
               close;
    }

    QString Minor(const TLayout& layout, const std::optional<QString>& indent) const
    {
        const QString open =
            QStringLiteral("<%1 nr=\"%2\">").arg(layout.MinorName).arg(Request.Version.Neben);
        const QString close = QStringLiteral("</") + layout.MinorName + u'>';
        if (!indent)
            return open + Update(layout, std::nullopt) + close;
        const QString inner = *indent + layout.Unit;
        return open + layout.Eol + inner + Update(layout, inner) + layout.Eol + *indent + close;
    }
};

// The first element child of `parent` whose "nr" is above `nr`: where a new entry goes so that
// the file stays in ascending order.
pugi::xml_node FirstAbove(const pugi::xml_node& parent, qint32 nr)
{
    for (const pugi::xml_node child : parent.children()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::optional<qint32> value = DescriptorNr(child.attribute("nr").value());
        if (value && *value > nr)
            return child;
    }
    return pugi::xml_node();
}

pugi::xml_node MinorWithNr(const pugi::xml_node& root, qint32 nr)
{
    for (const pugi::xml_node child : root.children()) {
        if (child.type() != pugi::node_element)
            continue;
        const std::optional<qint32> value = DescriptorNr(child.attribute("nr").value());
        if (value && *value == nr)
            return child;
    }
    return pugi::xml_node();
}

QByteArray Extended(const TDescriptorDocument& doc, const TNewEntry& entry)
{
    const TLayout layout = doc.Layout();
    const pugi::xml_node root = doc.Document.document_element();
    if (const pugi::xml_node minor = MinorWithNr(root, entry.Request.Version.Neben))
        return InsertChild(
            doc, layout, minor, FirstAbove(minor, entry.Request.Version.Unter),
            [&](const std::optional<QString>& indent) { return entry.Update(layout, indent); });
    return InsertChild(doc, layout, root, FirstAbove(root, entry.Request.Version.Neben),
                       [&](const std::optional<QString>& indent) { return entry.Minor(layout, indent); });
}

QByteArray NewFile(const TLayout& layout, const TZielVerzeichnisAngabe& angabe, const QString& rootKeyText,
                   const TNewEntry& entry)
{
    const QString& eol = layout.Eol;
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + eol;
    text += QStringLiteral(
                "<%1 verzeichnis_reg_rootkey=\"%2\" verzeichnis_reg_key=\"%3\" "
                "verzeichnis_reg_name=\"%4\">")
                .arg(layout.RootName, EscapedAttribute(rootKeyText), EscapedAttribute(angabe.Key),
                     EscapedAttribute(angabe.Name)) +
            eol;
    text += layout.Unit + entry.Minor(layout, layout.Unit) + eol;
    text += QStringLiteral("</") + layout.RootName + u'>' + eol;
    return text.toUtf8();
}

// ---- the request --------------------------------------------------------------------------------

struct TUpdateKey {
    qint32 Neben;
    qint32 Unter;
    QString Dateiname, Still, Typ, Lizenz, UpdaterVersion, Rtf;
    friend bool operator==(const TUpdateKey&, const TUpdateKey&) = default;
};

TUpdateKey KeyOf(const TOfferedUpdate& update)
{
    return {update.Nebenversion, update.Unterversion, update.Dateiname,      update.StillesUpdate,
            update.Typ,          update.LizenzURL,    update.UpdaterVersion, update.BeschreibungRTF};
}

// What the updater must read from the new file: the old entries unchanged, the new one once.
void Verify(const QByteArray& bytes, const std::vector<TOfferedUpdate>& before, const TNewEntry& entry)
{
    const sources::TDescriptorReading after = sources::ReadDescriptorFile(bytes);
    if (after.Outcome != sources::TFileReading::TOutcome::Read)
        Fail(QStringLiteral("Der neue Eintrag machte die Datei unlesbar (%1); nichts geschrieben.")
                 .arg(after.Reason));
    std::vector<TUpdateKey> expected;
    for (const TOfferedUpdate& update : before)
        expected.push_back(KeyOf(update));
    const TAddRequest& r = entry.Request;
    const TUpdateKey added{r.Version.Neben,
                           r.Version.Unter,
                           r.Filename.value_or(QString()),
                           r.Still ? QStringLiteral("ja") : QString(),
                           r.Typ.value_or(QString()),
                           r.LizenzUrl.value_or(QString()),
                           r.UpdaterVersion.value_or(QString()),
                           entry.Rtf};
    std::vector<TUpdateKey> read;
    bool addedSeen = false;
    for (const TOfferedUpdate& update : after.Updates) {
        TUpdateKey key = KeyOf(update);
        if (!addedSeen && key == added)
            addedSeen = true;
        else
            read.push_back(std::move(key));
    }
    if (!addedSeen || read != expected)
        Fail(QStringLiteral(
            "Der neue Eintrag käme beim Updater nicht so an wie beabsichtigt; nichts geschrieben."));
}

// The release notes: RTF, read as the updater hands a description to its reader (Windows-1252
// unless a byte-order mark says otherwise), without the line ends after the last brace.
QString ReadNotes(const QString& path)
{
    const QByteArray bytes = platform::ReadRegularFile(path, MaxNotesSize);
    if (!platform::IsRtf(bytes))
        Fail(QStringLiteral("\"%1\" ist kein RTF (die Datei beginnt nicht mit \"{\\rtf\").").arg(path));
    QString text = platform::DecodeText(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    while (!text.isEmpty() && text.back().isSpace())
        text.chop(1);
    // The updater turns every description into plain text for its log; one it cannot read must not
    // reach it.
    ConvertRTFToText(text);
    return WithLineEnds(text, QStringLiteral("\n"));
}

// The verzeichnis_reg_* attributes for a new file: from the options, else from the module's
// other descriptors (the highest major version first). The root key's text as written.
std::pair<TZielVerzeichnisAngabe, QString> ReferenceForNewFile(const TAddRequest& request, const QDir& folder,
                                                               TLayout& layout, QString& takenFrom)
{
    const int given = int(request.RegRootKey.has_value()) + int(request.RegKey.has_value()) +
                      int(request.RegName.has_value());
    if (given == 3) {
        TZielVerzeichnisAngabe angabe;
        angabe.Key = *request.RegKey;
        angabe.Name = *request.RegName;
        return {angabe, *request.RegRootKey};
    }
    if (given != 0)
        throw TUsageError{
            QStringLiteral("--verzeichnis-reg-rootkey, --verzeichnis-reg-key und "
                           "--verzeichnis-reg-name gehören zusammen")};
    std::vector<std::pair<int, QString>> siblings;
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files, QDir::Name)) {
        const TPublishedName name = ParsePublishedName(entry.fileName());
        if (name.Kind == TPublishedName::TKind::Descriptor && name.ModulID == request.Modul)
            siblings.emplace_back(name.Hauptversion, entry.filePath());
    }
    std::sort(siblings.begin(), siblings.end(), std::greater<>());
    for (const auto& [haupt, path] : siblings) {
        std::optional<TDescriptorDocument> doc;
        try {
            doc = ParseForEditing(platform::ReadRegularFile(path, sources::kMaxXmlFileSize));
        } catch (const EVorlandtError&) {
            continue;
        }
        if (!doc)
            continue;
        const pugi::xml_node root = doc->Document.document_element();
        try {
            const TZielVerzeichnisAngabe angabe = ReadZielVerzeichnisAngabe(root);
            layout = doc->Layout();
            takenFrom = QFileInfo(path).fileName();
            return {angabe, QString::fromUtf8(root.attribute("verzeichnis_reg_rootkey").value())};
        } catch (const EVorlandtError&) {
            continue;
        }
    }
    throw TUsageError{
        QStringLiteral("Für die neue Datei %1 fehlen --verzeichnis-reg-rootkey, --verzeichnis-reg-key "
                       "und --verzeichnis-reg-name (es gibt keine andere lesbare "
                       "Update-Beschreibung des Moduls, aus der sie sich übernehmen ließen)")
            .arg(sources::DescriptorFileName(request.Modul, request.Version.Haupt))};
}

// The options of an existing file must not say something else than the file.
void CheckSameReference(const TAddRequest& request, const pugi::xml_node& root, const QString& where)
{
    const auto differs = [&](const std::optional<QString>& option, const char* attribute) {
        return option && *option != QString::fromUtf8(root.attribute(attribute).value());
    };
    if (differs(request.RegRootKey, "verzeichnis_reg_rootkey") ||
        differs(request.RegKey, "verzeichnis_reg_key") || differs(request.RegName, "verzeichnis_reg_name"))
        Fail(QStringLiteral(
                 "%1 nennt andere verzeichnis_reg_*-Angaben als die Optionen; die Datei bleibt, wie "
                 "sie ist.")
                 .arg(where));
}

QString RequiredValue(QStringList& args, const QString& option)
{
    if (args.isEmpty())
        throw TUsageError{QStringLiteral("%1 erwartet einen Wert").arg(option)};
    return args.takeFirst();
}

// A text that goes into an attribute as it is: no line breaks or other control characters,
// which the parser would turn into blanks.
QString AttributeValue(const QString& option, const QString& value)
{
    for (const QChar c : value) {
        if (c.category() == QChar::Other_Control)
            throw TUsageError{QStringLiteral("%1: der Wert enthält ein Steuerzeichen").arg(option)};
    }
    return value;
}

}  // namespace

TAddRequest ParseAddArguments(QStringList args)
{
    TAddRequest request;
    std::optional<QString> modul;
    std::optional<QString> version;
    std::optional<QString> text;
    std::optional<QString> expires;
    QStringList seen;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        QString option = args.takeFirst();
        std::optional<QString> inlineValue;
        if (const qsizetype equals = option.indexOf(u'='); equals >= 0) {
            inlineValue = option.mid(equals + 1);
            option.truncate(equals);
        }
        if (seen.contains(option))
            throw TUsageError{QStringLiteral("%1 ist doppelt angegeben").arg(option)};
        seen.append(option);
        if (option == u"--still") {
            if (inlineValue)
                throw TUsageError{QStringLiteral("--still erwartet keinen Wert")};
            request.Still = true;
            continue;
        }
        static const QStringList valued{"--modul",
                                        "--version",
                                        "--text",
                                        "--filename",
                                        "--typ",
                                        "--lizenz-url",
                                        "--updaterversion",
                                        "--verzeichnis-reg-rootkey",
                                        "--verzeichnis-reg-key",
                                        "--verzeichnis-reg-name",
                                        "--sign",
                                        "--expires"};
        if (!valued.contains(option))
            throw TUsageError{QStringLiteral("unbekannte Option \"%1\"").arg(option)};
        const QString value = inlineValue ? *inlineValue : RequiredValue(args, option);
        if (option == u"--modul")
            modul = value;
        else if (option == u"--version")
            version = value;
        else if (option == u"--text")
            text = value;
        else if (option == u"--filename")
            request.Filename = AttributeValue(option, value);
        else if (option == u"--typ")
            request.Typ = value;
        else if (option == u"--lizenz-url")
            request.LizenzUrl = AttributeValue(option, value);
        else if (option == u"--updaterversion")
            request.UpdaterVersion = value;
        else if (option == u"--verzeichnis-reg-rootkey")
            request.RegRootKey = value;
        else if (option == u"--verzeichnis-reg-key")
            request.RegKey = AttributeValue(option, value);
        else if (option == u"--verzeichnis-reg-name")
            request.RegName = AttributeValue(option, value);
        else if (option == u"--sign")
            request.SignKey = value;
        else
            expires = value;
    }
    if (!modul || !version || !text)
        throw TUsageError{QStringLiteral("add erwartet --modul, --version und --text")};
    if (args.size() != 1)
        throw TUsageError{
            QStringLiteral("add erwartet genau einen Ordner, nicht %1 Argumente").arg(args.size())};
    const std::optional<int> parsedModul = ParseNameNumber(*modul);
    if (!parsedModul)
        throw TUsageError{QStringLiteral("--modul: \"%1\" ist keine Modulnummer").arg(*modul)};
    request.Modul = *parsedModul;
    const std::optional<TVersion> parsedVersion = ParseVersion(*version);
    if (!parsedVersion)
        throw TUsageError{
            QStringLiteral("--version: \"%1\" ist keine Version der Form Haupt.Neben.Unter (z. B. 12.3.2)")
                .arg(*version)};
    request.Version = *parsedVersion;
    request.TextPath = *text;
    if (request.Typ && *request.Typ != u"execute" && *request.Typ != u"exec_on_restart")
        throw TUsageError{
            QStringLiteral("--typ: \"%1\" ist weder execute noch exec_on_restart").arg(*request.Typ)};
    if (request.UpdaterVersion && !DescriptorNr(request.UpdaterVersion->toUtf8().constData()))
        throw TUsageError{
            QStringLiteral("--updaterversion: \"%1\" ist keine ganze Zahl").arg(*request.UpdaterVersion)};
    if (request.RegRootKey && *request.RegRootKey != u"{HKLM}" && *request.RegRootKey != u"{HKCU}")
        throw TUsageError{QStringLiteral("--verzeichnis-reg-rootkey: \"%1\" ist weder {HKLM} noch {HKCU}")
                              .arg(*request.RegRootKey)};
    if (expires && !request.SignKey)
        throw TUsageError{QStringLiteral("--expires gilt nur mit --sign")};
    if (expires)
        request.SignOptions.Expires = ParseExpires(*expires);
    request.Dir = args.first();
    return request;
}

int AddUpdate(const QString& program, const TAddRequest& request)
{
    const QDir top(request.Dir);
    if (!QFileInfo(request.Dir).isDir())
        Fail(QStringLiteral("\"%1\" ist kein Ordner.").arg(request.Dir));
    const QString folderName = sources::DescriptorFolder(request.Modul);
    const QString fileName = sources::DescriptorFileName(request.Modul, request.Version.Haupt);
    const QString where = folderName + u'/' + fileName;
    const QString path = top.filePath(where);
    const QString versionText =
        VersionText(request.Version.Haupt, request.Version.Neben, request.Version.Unter);
    const TNewEntry entry{request, ReadNotes(request.TextPath)};

    QByteArray written;
    QString done;
    const QFileInfo existing(path);
    if (existing.exists() || existing.isSymLink()) {
        const QByteArray bytes = platform::ReadRegularFile(path, sources::kMaxXmlFileSize);
        // Only a file the updater reads whole is extended: an entry added to a damaged file would
        // not reach anyone either.
        const sources::TDescriptorReading before = sources::ReadDescriptorFile(bytes);
        if (before.Outcome != sources::TFileReading::TOutcome::Read) {
            const TContentVerdict verdict = JudgeContent(bytes, ParsePublishedName(fileName), where);
            Fail(verdict.Problem +
                 QStringLiteral(" Die Datei bleibt, wie sie ist; bitte zuerst berichtigen."));
        }
        for (const TOfferedUpdate& update : before.Updates) {
            if (update.Nebenversion == request.Version.Neben && update.Unterversion == request.Version.Unter)
                Fail(QStringLiteral("%1: %2 steht schon darin; die Datei bleibt, wie sie ist.")
                         .arg(where, versionText));
        }
        const std::optional<TDescriptorDocument> doc = ParseForEditing(bytes);
        if (!doc)
            Fail(QStringLiteral(
                     "%1: Die Datei lässt sich in ihrer Kodierung nicht Byte für Byte zurückschreiben; "
                     "add ändert sie nicht.")
                     .arg(where));
        CheckSameReference(request, doc->Document.document_element(), where);
        written = Extended(*doc, entry);
        Verify(written, before.Updates, entry);
        done = QStringLiteral("%1: %2 eingetragen.").arg(where, versionText);
    } else {
        if (!QDir().mkpath(top.filePath(folderName)))
            Fail(QStringLiteral("Der Ordner \"%1\" kann nicht angelegt werden.")
                     .arg(top.filePath(folderName)));
        TLayout layout;
        QString takenFrom;
        const auto [angabe, rootKeyText] =
            ReferenceForNewFile(request, QDir(top.filePath(folderName)), layout, takenFrom);
        written = NewFile(layout, angabe, rootKeyText, entry);
        Verify(written, {}, entry);
        done = takenFrom.isEmpty() ? QStringLiteral("%1: neu angelegt mit %2.").arg(where, versionText)
                                   : QStringLiteral("%1: neu angelegt mit %2 (verzeichnis_reg_* aus %3).")
                                         .arg(where, versionText, takenFrom);
    }
    platform::WriteFileAtomically(path, written);
    PrintLine(done);
    if (!request.SignKey) {
        if (QFileInfo::exists(TSignatureCheck::SignatureFileName(path)))
            PrintLine(QStringLiteral(
                          "%1: Hinweis: die Signatur daneben gilt nicht mehr; vor dem Veröffentlichen neu "
                          "signieren (sign oder add --sign).")
                          .arg(where));
        return cli::ExitOk;
    }
    return SignFiles(program, request.SignOptions, TContentRule::Refuse, *request.SignKey, {path});
}

}  // namespace publish
