// The update checker: fetching a module's update descriptor and the news file into the temporary
// directory, from the download server or a local source folder, and loading them into the
// checker's documents; evaluating a descriptor into the catalog behind the interval gate; the
// news step of an update run.
#include "core/sources/UpdateCheck.h"

#include "core/catalog/Updates.h"
#include "core/news/NewsSelection.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/PrivateFolder.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/settings/CheckSchedule.h"
#include "core/sources/DescriptorFile.h"
#include "core/sources/DescriptorReader.h"
#include "core/sources/Download.h"
#include "core/sources/FileFetch.h"
#include "core/sources/Prefetch.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/XmlLoad.h"

#include <QUrl>

#include <optional>

namespace {

using sources::ContainsNotAvailableMarker;
using sources::DescriptorFileName;
using sources::DescriptorFolder;
using sources::FetchFile;
using sources::kMaxXmlFileSize;
using sources::LoadSignedXml;
using sources::TSource;

QString UrlWithSlash(const QString& base)
{
    return base.endsWith(u'/') ? base : base + u'/';
}

// Admins coming from Windows store the local source with a trailing "\"; it means the same
// as "/" here.
QString FolderWithSlash(const QString& folder)
{
    if (folder.endsWith(u'/'))
        return folder;
    if (folder.endsWith(u'\\'))
        return folder.chopped(1) + u'/';
    return folder + u'/';
}

// Restores the cursor on every way out, exceptions included.
class TWaitCursor {
public:
    TWaitCursor() : FFrontEnd(FrontEnd()) { FFrontEnd.BeginWaitCursor(); }
    ~TWaitCursor() { FFrontEnd.EndWaitCursor(); }
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    TFrontEnd& FFrontEnd;
};

QString LocalSourceSetting()
{
    return ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LocalSource,
                           QString());
}

QString UpdateURLSetting(const QString& defaultURL)
{
    return ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::UpdateURL,
                           defaultURL);
}

QString DescriptorURL(int ModulID, int ModulHauptversion)
{
    return UrlWithSlash(UrlWithSlash(UpdateURLSetting(SettingsKeys::UpdateURLDefault)) +
                        DescriptorFolder(ModulID)) +
           DescriptorFileName(ModulID, ModulHauptversion);
}

// An address as a report may show it: a user name and password someone wrote into it stay out.
QString WithoutCredentials(const QString& address)
{
    QUrl url(address, QUrl::TolerantMode);
    if (!url.isValid() || url.userInfo().isEmpty())
        return address;
    url.setUserInfo(QString());
    return url.toString();
}

QString TempDirWithSlash()
{
    return FolderWithSlash(GetTempDir());
}

}  // namespace

TUpdateCheck::TUpdateCheck(TUpdates* Updates) : FUpdates(Updates)
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("Create - Start"));
    WriteLog(TLogAction::AppendLine, QStringLiteral("Create - Ende"));
}

TUpdateCheck::~TUpdateCheck() = default;

void TUpdateCheck::FetchUpdateXMLsAhead(const std::vector<std::pair<int, int>>& modules)
{
    FPrefetch.reset();
    if (!FFetchAheadOn || modules.empty() || !LocalSourceSetting().isEmpty())
        return;
    // With checking on, each descriptor's signature is fetched right after it; asked for here
    // without a log line, so that a bad key list is still reported where the check is built.
    const bool withSignatures =
        FSignatureCheck ? FSignatureCheck->Enabled() : TSignatureCheck::SwitchedOnInMachineStore();
    // The run's own steps name the folder in the log when they use it; here it is only looked up.
    QString tempDir;
    try {
        tempDir = FolderWithSlash(platform::PrivateTempFolder());
    } catch (const EVorlandtError&) {
        return;  // the run reports it at its first file
    }
    std::vector<sources::TAheadFile> files;
    for (const auto& [id, hauptversion] : modules) {
        const sources::TAheadFile descriptor{DescriptorURL(id, hauptversion),
                                             tempDir + DescriptorFileName(id, hauptversion)};
        files.push_back(descriptor);
        if (withSignatures)
            files.push_back({TSignatureCheck::SignatureFileName(descriptor.Url),
                             TSignatureCheck::SignatureFileName(descriptor.Destination)});
    }
    FPrefetch = std::make_unique<sources::TPrefetch>(files, ReadConnectionSettings(), FLimits);
}

void TUpdateCheck::EndFetchAhead()
{
    FPrefetch.reset();
}

void TUpdateCheck::ReloadSignatureKeys()
{
    FSignatureCheck.reset();
}

const TSignatureCheck& TUpdateCheck::SignatureCheck()
{
    if (!FSignatureCheck)
        FSignatureCheck = std::make_unique<TSignatureCheck>(TSignatureCheck::FromMachineStore());
    return *FSignatureCheck;
}

bool TUpdateCheck::DownloadUpdateXML(int ModulID, int ModulHauptversion)
{
    const QString procedure = QStringLiteral("DownloadUpdateXML");
    return LoggedCall<bool>(
        procedure + QStringLiteral(" - Start; Parameter: %1, %2").arg(ModulID).arg(ModulHauptversion),
        procedure + QStringLiteral(" - Ende - Result: "), [&] {
            FSourceAnswered = false;
            FOffers.reset();
            FModuleCheck = TModuleCheck();
            const QString folder = DescriptorFolder(ModulID);
            const QString fileName = DescriptorFileName(ModulID, ModulHauptversion);
            FxmlVersionenFilename = TempDirWithSlash() + fileName;
            FModuleCheck.File = fileName;

            sources::TXmlLoadResult loaded;
            {
                const TWaitCursor cursor;
                TSource source;
                source.Procedure = procedure;
                source.URL = DescriptorURL(ModulID, ModulHauptversion);
                source.Prefetch = FPrefetch.get();
                source.Limits = FLimits;
                source.LocalSource = LocalSourceSetting();
                source.LocalFile = FolderWithSlash(source.LocalSource) + folder + u'/' + fileName;
                source.Destination = FxmlVersionenFilename;
                FModuleCheck.SourceIsFolder = !source.LocalSource.isEmpty();
                FModuleCheck.Source =
                    FModuleCheck.SourceIsFolder
                        ? FolderWithSlash(source.LocalSource)
                        : WithoutCredentials(UrlWithSlash(UpdateURLSetting(SettingsKeys::UpdateURLDefault)));
                sources::TFetchOutcome fetched;
                const bool got = FetchFile(source, fetched);
                FSourceAnswered = fetched.Answered;
                if (!got) {
                    FModuleCheck.Kind =
                        fetched.Answered ? TModuleCheck::TKind::Missing : TModuleCheck::TKind::Unreachable;
                    FModuleCheck.Reason = fetched.Failure;
                    return false;
                }
                const std::optional<QByteArray> bytes = platform::ReadRegularFileWithin(
                    FxmlVersionenFilename, kMaxXmlFileSize, platform::TFileTrust::NoLinks);
                if (bytes && ContainsNotAvailableMarker(*bytes)) {
                    FModuleCheck.Kind = TModuleCheck::TKind::Missing;
                    return false;
                }
                std::unique_ptr<TDescriptorOffers> offers;
                std::optional<sources::TXmlLoadResult> signedLoad = LoadSignedXml(
                    FxmlVersionen, SignatureCheck(), source, fileName, bytes,
                    [&offers](const pugi::xml_document& parsed) {
                        offers = std::make_unique<TDescriptorOffers>(
                            ReadDescriptorOffers(parsed.document_element()));
                    },
                    &FModuleCheck.Reason);
                if (!signedLoad) {
                    FModuleCheck.Kind = TModuleCheck::TKind::SignatureRefused;
                    return false;
                }
                loaded = std::move(*signedLoad);
                FModuleCheck.Kind =
                    loaded.Error.isEmpty() ? TModuleCheck::TKind::Read : TModuleCheck::TKind::Malformed;
                FModuleCheck.Reason = loaded.Error;
                if (loaded.Error.isEmpty())
                    FOffers = std::move(offers);
                else
                    WriteLog(TLogAction::AppendLine, procedure + QStringLiteral(" - ") + fileName +
                                                         QStringLiteral(": ") + loaded.Error);
            }
            // A descriptor that is not well-formed XML just skips the module without a word; the
            // run goes on. Bytes that are no text in the declared encoding (or an encoding nobody
            // knows) make a file that is not well-formed either.
            return loaded.Error.isEmpty();
        });
}

bool TUpdateCheck::DownloadNewsXML()
{
    const QString procedure = QStringLiteral("DownloadNewsXML");
    const QString endPrefix = procedure + QStringLiteral(" - Ende - Result: ");
    return LoggedCall<bool>(procedure + QStringLiteral(" - Start"), endPrefix, [&] {
        const QString fileName = sources::NewsFileName;
        const QString destination = TempDirWithSlash() + fileName;

        QString error;
        {
            const TWaitCursor cursor;
            TSource source;
            source.Procedure = procedure;
            source.URL = UrlWithSlash(UpdateURLSetting(SettingsKeys::NewsURLDefault)) + fileName;
            source.Limits = FLimits;
            source.LocalSource = LocalSourceSetting();
            source.LocalFile = FolderWithSlash(source.LocalSource) + sources::NewsFolder + u'/' + fileName;
            source.Destination = destination;
            if (!FetchFile(source))
                return false;
            const std::optional<QByteArray> bytes =
                platform::ReadRegularFileWithin(destination, kMaxXmlFileSize, platform::TFileTrust::NoLinks);
            if (bytes && ContainsNotAvailableMarker(*bytes))
                return false;
            const std::optional<sources::TXmlLoadResult> loaded =
                LoadSignedXml(FxmlNews, SignatureCheck(), source, fileName, bytes);
            if (!loaded)
                return false;
            error = loaded->Error;
            if (error.isEmpty())
                return true;
        }
        // The cursor is back to normal before the box asks for a click.
        const QString text =
            QStringLiteral("Exception beim Laden aus dem Tempverzeichnis: \"") + error + u'"';
        WriteLog(TLogAction::AppendLine, procedure + QStringLiteral(" - ") + text);
        MessageDialog(text, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
        return false;
    });
}

bool TUpdateCheck::ReadVersionTree(const QString& ModulBez, int ModulID, int ModulHauptversion,
                                   bool IgnoreCheckInterval)
{
    FHauptversion = ModulHauptversion;
    FSourceAnswered = false;
    FModuleCheck = TModuleCheck();
    if (!IgnoreCheckInterval && !CheckInterval())
        return false;
    if (!DownloadUpdateXML(ModulID, ModulHauptversion))
        return false;
    if (GetVersionsFromXML(ModulBez, ModulID, ModulHauptversion))
        return true;
    FModuleCheck.Kind = TModuleCheck::TKind::Malformed;
    return false;
}

bool TUpdateCheck::CheckInterval()
{
    return LoggedCall<bool>(
        QStringLiteral("CheckInterval - Start"), QStringLiteral("CheckInterval - Ende - Result: "), [] {
            const TCheckSchedule schedule = ReadCheckSchedule();
            WriteLog(TLogAction::AppendLine, QStringLiteral("CheckInterval - letzter Check: ") +
                                                 platform::DateTimeToStr(schedule.LastCheck) +
                                                 QStringLiteral("... Interval [h]: ") +
                                                 QString::number(schedule.IntervalHours));
            return schedule.Due();
        });
}

bool TUpdateCheck::GetVersionsFromXML(const QString& ModulBez, int ModulNr, int Hauptversion)
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("GetVersionsFromXML - Start Parameter: %1").arg(ModulNr));
    bool result = false;
    QString error;
    try {
        // The installed version is read once here instead of once per update; the loop itself
        // writes no log line, since every line costs a settings-store read.
        const TUpdates::TInstalledVersionMemo memo(*FUpdates);
        const pugi::xml_node root = FxmlVersionen.document_element();
        // Read while the descriptor's signature was being checked, or else now. All updates are
        // read before the first is stored: the catalog's entries then come out close together
        // instead of between the texts, and storing 10,000 measured clearly faster that way.
        const std::unique_ptr<TDescriptorOffers> offers =
            FOffers ? std::move(FOffers) : std::make_unique<TDescriptorOffers>(ReadDescriptorOffers(root));
        if (!offers->Refusal.isEmpty())
            throw EVorlandtError(offers->Refusal);
        const QString zielverzeichnis = GetZielVerzeichnis(root);
        // The updates before a malformed one reach the catalog.
        for (TOfferedUpdate& update : offers->Updates)
            FUpdates->AddUpdate(ModulBez, ModulNr, Hauptversion, update.Nebenversion, update.Unterversion,
                                std::move(update.Dateiname), update.StillesUpdate, update.Typ,
                                std::move(update.LizenzURL), update.UpdaterVersion,
                                std::move(update.BeschreibungRTF), zielverzeichnis);
        if (!offers->Error.isEmpty())
            throw EVorlandtError(offers->Error);
        result = true;
    } catch (const EVorlandtError& e) {
        error = e.message();
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
    }
    if (!result) {
        try {
            ReportMalformedDescriptor(error);
        } catch (...) {
            WriteLog(TLogAction::AppendLine, QStringLiteral("GetVersionInfos - Ende"));
            throw;
        }
    }
    WriteLog(TLogAction::AppendLine, QStringLiteral("GetVersionInfos - Ende"));
    return result;
}

void TUpdateCheck::ReportMalformedDescriptor(const QString& error)
{
    FModuleCheck.Reason = error;
    WriteLog(TLogAction::AppendLine, QStringLiteral("GetVersionInfos - ") + error);
    MessageDialog(QStringLiteral("Datei \"") + FxmlVersionenFilename +
                      QStringLiteral("\" hat nicht das richtige Format:\r\n\r\n") + error,
                  TMsgDlgType::mtWarning, TMsgDlgButtons::mbOK, 0);
}

bool TUpdateCheck::CheckForNews()
{
    return LoggedResult<bool>(QStringLiteral("CheckForNews - Result: "), [&](bool& result) {
        if (!ReadBoolValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::NewsAktiv,
                           SettingsKeys::NewsAktivDefault)) {
            WriteLog(TLogAction::AppendLine,
                     QStringLiteral("CheckForNews - News-Anzeige in den Einstellungen deaktiviert"));
        } else {
            WriteLog(TLogAction::AppendLine, QStringLiteral("CheckForNews - Aufruf von \"DownloadNewsXML\""));
            // Without the news file nothing is shown, postponed items included.
            if (DownloadNewsXML()) {
                WriteLog(TLogAction::AppendLine,
                         QStringLiteral("CheckForNews - Check von \"OldNewsExists\""));
                if (OldNewsExist()) {
                    WriteLog(TLogAction::AppendLine,
                             QStringLiteral("CheckForNews - Check von \"NewsExists\""));
                    result = NewsExist();
                }
            }
        }
    });
}

bool TUpdateCheck::OldNewsExist()
{
    return ShowDueOldNews();
}

bool TUpdateCheck::NewsExist()
{
    return ShowNewsIfNew(FxmlNews);
}
