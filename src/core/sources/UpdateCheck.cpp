// Fetching a module's update descriptor and the news file into the temporary directory, from
// the download server or a local source folder, and loading them into the checker's documents.
#include "core/sources/UpdateCheck.h"

#include "core/platform/FileRead.h"
#include "core/platform/PrivateFolder.h"
#include "core/platform/VorlandtError.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
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

QString DescriptorFolder(int ModulID)
{
    return QStringLiteral("Modul_%1").arg(ModulID);
}

QString DescriptorFileName(int ModulID, int ModulHauptversion)
{
    return QStringLiteral("update_%1_%2.xml").arg(ModulID).arg(ModulHauptversion);
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

// Runs a fetch operation between its start line and its end line; the end line is written
// on every way out, with False when an error leaves.
template <typename Body>
bool Logged(const QString& procedure, const QString& startLine, Body body)
{
    return LoggedCall<bool>(startLine, procedure + QStringLiteral(" - Ende - Result: "), body);
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
    return Logged(
        procedure,
        procedure + QStringLiteral(" - Start; Parameter: %1, %2").arg(ModulID).arg(ModulHauptversion), [&] {
            FSourceAnswered = false;
            FOffers.reset();
            FModuleCheck = TModuleCheck();
            const QString folder = DescriptorFolder(ModulID);
            const QString fileName = DescriptorFileName(ModulID, ModulHauptversion);
            FxmlVersionenFilename = TempDirWithSlash() + fileName;

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
    return Logged(procedure, procedure + QStringLiteral(" - Start"), [&] {
        const QString fileName = QStringLiteral("news.xml");
        const QString destination = TempDirWithSlash() + fileName;

        QString error;
        {
            const TWaitCursor cursor;
            TSource source;
            source.Procedure = procedure;
            source.URL = UrlWithSlash(UpdateURLSetting(SettingsKeys::NewsURLDefault)) + fileName;
            source.Limits = FLimits;
            source.LocalSource = LocalSourceSetting();
            source.LocalFile = FolderWithSlash(source.LocalSource) + QStringLiteral("news/") + fileName;
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
