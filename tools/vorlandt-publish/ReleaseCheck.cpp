// The check of a release: the tree walked the way the updater asks for files, each file read by
// the core's own reader, each reason in the updater's words.
#include "ReleaseCheck.h"

#include "Output.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/files/FileRead.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/FileFetch.h"
#include "core/sources/XmlLoad.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace publish {

namespace {

using sources::TFileReading;

constexpr qint64 SecondsPerDay = 24 * 60 * 60;

QString WithLine(const QString& where, qsizetype line)
{
    return line > 0 ? QStringLiteral("%1:%2").arg(where).arg(line) : where;
}

// The reason as the updater words it, then what the updater does about it.
QString Sentence(const QString& reason, const QString& consequence)
{
    const QString trimmed = reason.trimmed();
    return trimmed + (trimmed.endsWith(u'.') ? QStringLiteral(" ") : QStringLiteral(". ")) + consequence;
}

QString VersionList(const std::vector<TOfferedUpdate>& updates, qint32 haupt)
{
    // As the catalog keeps them: sorted, one entry per version.
    std::set<std::pair<qint32, qint32>> versions;
    for (const TOfferedUpdate& update : updates)
        versions.emplace(update.Nebenversion, update.Unterversion);
    QStringList texts;
    for (const auto& [neben, unter] : versions)
        texts.append(VersionText(haupt, neben, unter));
    return texts.join(QStringLiteral(", "));
}

QString Consequence(const TFileReading& reading, const TPublishedName& name)
{
    const bool news = name.Kind == TPublishedName::TKind::News;
    switch (reading.Outcome) {
        case TFileReading::TOutcome::Read:
            return QString();
        case TFileReading::TOutcome::NotAvailable:
            return news ? QStringLiteral("Der Updater zeigt keine News.")
                        : QStringLiteral("Der Updater überspringt das Modul ohne Meldung.");
        case TFileReading::TOutcome::NotXml:
            return news ? QStringLiteral(
                              "Der Updater meldet \"Exception beim Laden aus dem Tempverzeichnis\" "
                              "und zeigt keine News.")
                        : QStringLiteral("Der Updater überspringt das Modul ohne Meldung.");
        case TFileReading::TOutcome::Malformed: {
            if (news)
                return QStringLiteral("Der Updater bricht die Suche nach Updates mit dieser Meldung ab.");
            const auto& updates = static_cast<const sources::TDescriptorReading&>(reading).Updates;
            if (updates.empty())
                return QStringLiteral(
                    "Der Updater meldet, die Datei habe nicht das richtige Format, und "
                    "bietet keines ihrer Updates an.");
            return QStringLiteral(
                       "Der Updater meldet, die Datei habe nicht das richtige Format, und bietet "
                       "nur die Updates davor an: %1.")
                .arg(VersionList(updates, name.Hauptversion));
        }
        case TFileReading::TOutcome::NotShown:
            return QStringLiteral("Kein Updater zeigt diese Neuigkeit.");
    }
    return QString();
}

// The walk over one tree, counting what it found.
class TTreeCheck {
public:
    TTreeCheck(const QString& program, const TCheckOptions& options, const QString& dir)
        : FProgram(program), FOptions(options), FDir(QDir(dir))
    {
    }

    int Run()
    {
        const QFileInfo top(FDir.path());
        if (!top.isDir())
            throw EVorlandtError(QStringLiteral("\"%1\" ist kein Ordner.").arg(FDir.path()));
        for (const QFileInfo& entry : Entries(FDir)) {
            const QString name = entry.fileName();
            if (entry.isDir()) {
                if (const std::optional<int> modul = ModuleFolderNumber(name))
                    CheckModuleFolder(entry.filePath(), name, *modul);
                else if (name == sources::NewsFolder)
                    CheckNewsFolder(entry.filePath(), name);
                else
                    NeverAsked(name + u'/', FolderHint(name));
            } else if (!IsSignatureOfSibling(entry, FDir)) {
                if (name == sources::NewsFileName)
                    CheckFile(entry.filePath(), name, TPublishedName{TPublishedName::TKind::News});
                else
                    NeverAsked(name, FileHint(name, std::nullopt));
            }
        }
        if (FProblems > 0) {
            PrintError(FProgram,
                       QStringLiteral("%1 Problem(e): ein Client liest nicht alles, was hier liegt.")
                           .arg(FProblems));
            return cli::ExitFailed;
        }
        PrintLine(QStringLiteral("In Ordnung: %1 Update-Beschreibung(en), %2 News-Datei(en).")
                      .arg(FDescriptors)
                      .arg(FNewsFiles));
        return cli::ExitOk;
    }

private:
    // Hidden entries (".htaccess" and the like on a web server) are the server's business; the
    // updater never asks for a name that begins with a dot.
    static QFileInfoList Entries(const QDir& dir)
    {
        return dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    // "X.sig" beside an "X" the walk looks at: checked together with X.
    static bool IsSignatureOfSibling(const QFileInfo& entry, const QDir& dir)
    {
        const QString name = entry.fileName();
        if (!name.endsWith(QStringLiteral(".sig")))
            return false;
        const QFileInfo file(dir.filePath(name.chopped(4)));
        return file.exists() && !file.isDir();
    }

    void Problem(const QString& text)
    {
        ++FProblems;
        WriteBytes(stderr, (text + u'\n').toUtf8());
    }

    void NeverAsked(const QString& where, const QString& hint)
    {
        Problem(QStringLiteral("%1: Der Updater fragt nie danach. %2").arg(where, hint));
    }

    static QString FolderHint(const QString& name)
    {
        static const QRegularExpression LooksLikeModule(QStringLiteral("^modul[_-]?0*([0-9]+)$"),
                                                        QRegularExpression::CaseInsensitiveOption);
        if (const QRegularExpressionMatch match = LooksLikeModule.match(name); match.hasMatch()) {
            if (const std::optional<int> number = ParseNameNumber(match.captured(1)))
                return QStringLiteral(
                           "Der Ordner des Moduls %1 heißt \"%2\" (Groß- und Kleinschreibung "
                           "zählt).")
                    .arg(*number)
                    .arg(sources::DescriptorFolder(*number));
        }
        return QStringLiteral(
            "Update-Beschreibungen liegen in Modul_<Nr>/, die News als news.xml im "
            "Hauptordner (Server) oder in news/ (lokale Quelle).");
    }

    // `modul`: the module folder the file lies in; none for the top of the tree.
    static QString FileHint(const QString& name, std::optional<int> modul)
    {
        if (name.endsWith(QStringLiteral(".sig")))
            return QStringLiteral(
                "Eine Signatur gehört neben die Datei, deren Namen sie ohne \".sig\" trägt; "
                "die gibt es hier nicht.");
        const TPublishedName published = ParsePublishedName(name);
        if (published.Kind == TPublishedName::TKind::Descriptor) {
            if (!modul)
                return QStringLiteral("Sie gehört in den Ordner %1/.")
                    .arg(sources::DescriptorFolder(published.ModulID));
            return QStringLiteral("Sie gehört in den Ordner %1/, nicht in %2/.")
                .arg(sources::DescriptorFolder(published.ModulID), sources::DescriptorFolder(*modul));
        }
        if (published.Kind == TPublishedName::TKind::News)
            return QStringLiteral(
                "Die News liegt als news.xml im Hauptordner (Server) oder in news/ (lokale "
                "Quelle).");
        if (modul)
            return QStringLiteral(
                       "Update-Beschreibungen heißen update_%1_<Hauptversion>.xml (Kleinbuchstaben, "
                       "Unterstriche, Zahlen ohne führende Nullen).")
                .arg(*modul);
        return QStringLiteral("Im Hauptordner liest der Updater nur news.xml.");
    }

    void CheckModuleFolder(const QString& path, const QString& folderName, int modul)
    {
        const QDir dir(path);
        for (const QFileInfo& entry : Entries(dir)) {
            const QString name = entry.fileName();
            const QString where = folderName + u'/' + name;
            if (entry.isDir()) {
                NeverAsked(where + u'/', QStringLiteral("In einem Modulordner liest der Updater nur "
                                                        "update_%1_<Hauptversion>.xml.")
                                             .arg(modul));
                continue;
            }
            if (IsSignatureOfSibling(entry, dir))
                continue;
            const TPublishedName published = ParsePublishedName(name);
            if (published.Kind == TPublishedName::TKind::Descriptor && published.ModulID == modul)
                CheckFile(entry.filePath(), where, published);
            else
                NeverAsked(where, FileHint(name, modul));
        }
    }

    // The local source's layout: news/news.xml.
    void CheckNewsFolder(const QString& path, const QString& folderName)
    {
        const QDir dir(path);
        for (const QFileInfo& entry : Entries(dir)) {
            const QString name = entry.fileName();
            const QString where = folderName + u'/' + name;
            if (entry.isDir())
                NeverAsked(where + u'/', QStringLiteral("In news/ liest der Updater nur news.xml."));
            else if (IsSignatureOfSibling(entry, dir))
                continue;
            else if (name == sources::NewsFileName)
                CheckFile(entry.filePath(), where, TPublishedName{TPublishedName::TKind::News});
            else
                NeverAsked(where, QStringLiteral("In news/ liest der Updater nur news.xml."));
        }
    }

    void CheckFile(const QString& path, const QString& where, const TPublishedName& name)
    {
        std::optional<QByteArray> bytes;
        try {
            bytes = platform::ReadRegularFileWithin(path, sources::kMaxXmlFileSize);
        } catch (const EVorlandtError& error) {
            Problem(QStringLiteral("%1: %2").arg(where, error.message()));
            return;
        }
        const TContentVerdict verdict = JudgeContent(bytes, name, where);
        if (!verdict.Problem.isEmpty())
            Problem(verdict.Problem);
        if (verdict.Descriptor) {
            ++FDescriptors;
            if (verdict.Descriptor->Outcome == TFileReading::TOutcome::Read)
                ReportOffers(where, name, verdict.Descriptor->Updates);
        } else if (verdict.News) {
            ++FNewsFiles;
            if (verdict.News->Outcome == TFileReading::TOutcome::Read)
                ReportNews(where, *verdict.News);
        }
        CheckSignature(path, where, QFileInfo(path).fileName(), bytes);
    }

    void ReportOffers(const QString& where, const TPublishedName& name,
                      const std::vector<TOfferedUpdate>& updates)
    {
        std::map<std::pair<qint32, qint32>, int> seen;
        for (const TOfferedUpdate& update : updates)
            ++seen[{update.Nebenversion, update.Unterversion}];
        for (const auto& [version, count] : seen) {
            if (count > 1)
                PrintLine(QStringLiteral("%1: Hinweis: %2 steht %3-mal darin; der Updater nimmt das letzte.")
                              .arg(where, VersionText(name.Hauptversion, version.first, version.second))
                              .arg(count));
        }
        if (!FOptions.Installed) {
            PrintLine(updates.empty() ? QStringLiteral("%1: bietet keine Updates an.").arg(where)
                                      : QStringLiteral("%1: bietet %2 an.")
                                            .arg(where, VersionList(updates, name.Hauptversion)));
            return;
        }
        const TVersion& installed = *FOptions.Installed;
        const QString installedText = VersionText(installed.Haupt, installed.Neben, installed.Unter);
        if (installed.Haupt != name.Hauptversion) {
            PrintLine(
                QStringLiteral("%1: bietet %2 an; ein Client mit %3 fragt nicht danach, sondern nach %4.")
                    .arg(where,
                         updates.empty() ? QStringLiteral("keine Updates")
                                         : VersionList(updates, name.Hauptversion),
                         installedText, sources::DescriptorFileName(name.ModulID, installed.Haupt)));
            return;
        }
        // The catalog's rule: only what is above the installed minor and sub-version stays.
        std::vector<TOfferedUpdate> newer;
        for (const TOfferedUpdate& update : updates) {
            if (update.Nebenversion > installed.Neben ||
                (update.Nebenversion == installed.Neben && update.Unterversion > installed.Unter))
                newer.push_back(update);
        }
        PrintLine(newer.empty() ? QStringLiteral("%1: bietet einem Client mit %2 nichts Neueres an.")
                                      .arg(where, installedText)
                                : QStringLiteral("%1: bietet einem Client mit %2 an: %3.")
                                      .arg(where, installedText, VersionList(newer, name.Hauptversion)));
    }

    static void ReportNews(const QString& where, const sources::TNewsReading& news)
    {
        switch (news.Fit) {
            case TNewsItemFit::NoItem:
                PrintLine(QStringLiteral("%1: enthält keine Neuigkeit.").arg(where));
                break;
            case TNewsItemFit::NeedsNewerUpdater:
                PrintLine(QStringLiteral("%1: Hinweis: die Neuigkeit verlangt Updater-Version %2; dieser "
                                         "Updater zeigt sie nicht.")
                              .arg(where, news.UpdaterVersion));
                break;
            default:
                PrintLine(
                    QStringLiteral("%1: zeigt die Neuigkeit %2 jedem, der zuletzt eine kleinere ID sah.")
                        .arg(where)
                        .arg(news.Id));
                break;
        }
    }

    // The signature beside the file, read as the updater reads one from a local source.
    void CheckSignature(const QString& path, const QString& where, const QString& fileName,
                        const std::optional<QByteArray>& bytes)
    {
        const QString signaturePath = TSignatureCheck::SignatureFileName(path);
        const QString signatureWhere = TSignatureCheck::SignatureFileName(where);
        const QFileInfo info(signaturePath);
        std::optional<QByteArray> signature;
        if (info.exists() || info.isSymLink()) {
            try {
                // Too large to be a signature reads as none of the known format, as in the updater.
                signature =
                    platform::ReadRegularFileWithin(signaturePath, TSignatureCheck::MaxSignatureFileSize)
                        .value_or(QByteArray());
            } catch (const EVorlandtError& error) {
                Problem(QStringLiteral("%1: %2").arg(signatureWhere, error.message()));
                return;
            }
            if (sources::ContainsNotAvailableMarker(*signature))
                signature.reset();
        }
        const std::optional<TSignatureFile> parsed =
            signature ? TSignatureFile::Parse(*signature) : std::optional<TSignatureFile>();
        const qint64 now = platform::Clock::now().toSecsSinceEpoch();
        if (FOptions.Keys) {
            const TSignatureCheck::Result result =
                bytes ? FOptions.Keys->Check(*bytes, fileName, signature) : TSignatureCheck::Result::Invalid;
            if (result != TSignatureCheck::Result::Good) {
                Problem(QStringLiteral("%1: %2. Ein Client mit diesen Schlüsseln überspringt die Datei ohne "
                                       "Meldung.")
                            .arg(result == TSignatureCheck::Result::Missing ? where : signatureWhere,
                                 TSignatureCheck::ReasonText(result)));
                return;
            }
        } else if (signature && !parsed) {
            Problem(QStringLiteral("%1: %2 (keine Signaturdatei der Version %3). Ein Client, der Signaturen "
                                   "prüft, überspringt die Datei ohne Meldung.")
                        .arg(signatureWhere, TSignatureCheck::ReasonText(TSignatureCheck::Result::Malformed))
                        .arg(TSignatureCheck::FormatVersion));
            return;
        } else if (parsed && parsed->Expires && *parsed->Expires <= now) {
            Problem(QStringLiteral(
                        "%1: %2. Ein Client, der Signaturen prüft, überspringt die Datei ohne Meldung.")
                        .arg(signatureWhere, TSignatureCheck::ReasonText(TSignatureCheck::Result::Expired)));
            return;
        }
        if (!parsed)
            return;
        const QString until =
            parsed->Expires ? QDateTime::fromSecsSinceEpoch(*parsed->Expires, Qt::UTC).toString(Qt::ISODate)
                            : QString();
        if (FOptions.ExpiresWithinDays && parsed->Expires &&
            *parsed->Expires <= now + *FOptions.ExpiresWithinDays * SecondsPerDay) {
            Problem(QStringLiteral("%1: Die Signatur läuft am %2 ab, in weniger als %3 Tag(en); vorher neu "
                                   "signieren und veröffentlichen.")
                        .arg(signatureWhere, until)
                        .arg(*FOptions.ExpiresWithinDays));
            return;
        }
        const QString validity =
            parsed->Expires ? QStringLiteral("bis %1").arg(until) : QStringLiteral("unbefristet");
        PrintLine(FOptions.Keys ? QStringLiteral("%1: Signatur gültig, %2.").arg(signatureWhere, validity)
                                : QStringLiteral("%1: Signatur (nicht geprüft, kein --key), %2.")
                                      .arg(signatureWhere, validity));
    }

    const QString& FProgram;
    const TCheckOptions& FOptions;
    const QDir FDir;
    int FProblems = 0;
    int FDescriptors = 0;
    int FNewsFiles = 0;
};

}  // namespace

std::optional<int> ParseNameNumber(const QString& text)
{
    static const QRegularExpression Canonical(QStringLiteral("^(0|[1-9][0-9]{0,9})$"));
    if (!Canonical.match(text).hasMatch())
        return std::nullopt;
    const qint64 value = text.toLongLong();
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return int(value);
}

TPublishedName ParsePublishedName(const QString& fileName)
{
    if (fileName == sources::NewsFileName)
        return TPublishedName{TPublishedName::TKind::News};
    static const QRegularExpression Descriptor(QStringLiteral("^update_([0-9]+)_([0-9]+)\\.xml$"));
    const QRegularExpressionMatch match = Descriptor.match(fileName);
    if (!match.hasMatch())
        return TPublishedName();
    const std::optional<int> modul = ParseNameNumber(match.captured(1));
    const std::optional<int> haupt = ParseNameNumber(match.captured(2));
    if (!modul || !haupt || sources::DescriptorFileName(*modul, *haupt) != fileName)
        return TPublishedName();
    return TPublishedName{TPublishedName::TKind::Descriptor, *modul, *haupt};
}

std::optional<int> ModuleFolderNumber(const QString& folderName)
{
    if (!folderName.startsWith(QStringLiteral("Modul_")))
        return std::nullopt;
    const std::optional<int> number = ParseNameNumber(folderName.mid(6));
    if (!number || sources::DescriptorFolder(*number) != folderName)
        return std::nullopt;
    return number;
}

std::optional<TVersion> ParseVersion(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    std::optional<int> numbers[3];
    for (int i = 0; i < 3; ++i) {
        numbers[i] = ParseNameNumber(parts.at(i));
        if (!numbers[i])
            return std::nullopt;
    }
    return TVersion{*numbers[0], *numbers[1], *numbers[2]};
}

QString VersionText(qint32 haupt, qint32 neben, qint32 unter)
{
    return QStringLiteral("%1.%2.%3").arg(haupt).arg(neben).arg(unter);
}

TContentVerdict JudgeContent(const std::optional<QByteArray>& bytes, const TPublishedName& name,
                             const QString& where)
{
    TContentVerdict verdict;
    const TFileReading* reading = nullptr;
    if (name.Kind == TPublishedName::TKind::News) {
        verdict.News = sources::ReadNewsFile(bytes);
        reading = &*verdict.News;
    } else {
        verdict.Descriptor = sources::ReadDescriptorFile(bytes);
        reading = &*verdict.Descriptor;
    }
    if (reading->Outcome != TFileReading::TOutcome::Read)
        verdict.Problem = WithLine(where, reading->Line) + QStringLiteral(": ") +
                          Sentence(reading->Reason, Consequence(*reading, name));
    return verdict;
}

TContentVerdict JudgeFile(const QString& path, const TPublishedName& name, const QString& where)
{
    try {
        return JudgeContent(platform::ReadRegularFileWithin(path, sources::kMaxXmlFileSize), name, where);
    } catch (const EVorlandtError& error) {
        TContentVerdict verdict;
        verdict.Problem = QStringLiteral("%1: %2").arg(where, error.message());
        return verdict;
    }
}

int CheckTree(const QString& program, const TCheckOptions& options, const QString& dir)
{
    return TTreeCheck(program, options, dir).Run();
}

}  // namespace publish
