// The update notification dialog's list and description, without widgets.
#include "core/catalog/UpdateList.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/rtf/RtfReader.h"
#include "core/platform/text/TextCodec.h"
#include "core/services/BasicProcs.h"

#include <QUrl>

namespace {

// A description read back may be no larger than what was written plus this margin: a file
// swapped in meanwhile must not make the dialog load something huge.
constexpr qint64 ReadBackMargin = 1024 * 1024;

}  // namespace

QString UpdateEntryText(qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion)
{
    return QStringLiteral("Version %1.%2.%3").arg(Hauptversion).arg(Nebenversion).arg(Unterversion);
}

QList<TUpdateListPanel> GroupUpdateList(const TUpdates& Updates)
{
    QList<TUpdateListPanel> panels;
    const auto& modules = Updates.ModulDictionary();
    int tag = 0;
    for (const TUpdateIdentifier& key : Updates.SortedUpdateKeys()) {
        // The catalog stores a module record with every update; a key without one still gets
        // an entry rather than vanishing from the list.
        const auto modul = modules.find(key.ModulNr);
        const QString name = modul != modules.end() ? modul->second.Modulbezeichnung : QString();
        const qint32 hauptversion = modul != modules.end() ? modul->second.Hauptversion : 0;
        if (panels.isEmpty() || panels.last().Modulbezeichnung != name)
            panels.append(TUpdateListPanel{name, {}});
        panels.last().Entries.append(
            TUpdateListEntry{tag++, key, UpdateEntryText(hauptversion, key.Nebenversion, key.Unterversion)});
    }
    return panels;
}

QString UpdateRTFFileName()
{
    return GetTempDir() + QStringLiteral("VL_UpdateRTF.tmp");
}

QString LoadUpdateDescriptionHtml(const TUpdates& Updates, const TUpdateIdentifier& Key)
{
    const auto node = Updates.UpdateDictionary().find(Key);
    if (node == Updates.UpdateDictionary().end() || !node->second)
        return QString();
    const QString path = UpdateRTFFileName();
    const QByteArray written = platform::RichTextFileBytes(node->second->BeschreibungRTF());
    // Renamed over the old file, so a link planted under the name in a shared temporary folder
    // is replaced rather than followed.
    platform::WriteFileAtomically(path, written);
    const QByteArray bytes =
        platform::ReadRegularFile(path, written.size() + ReadBackMargin, platform::TFileTrust::NoLinks);
    return platform::RtfToHtml(bytes);
}

bool MayOpenUpdateLink(const QString& address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}
