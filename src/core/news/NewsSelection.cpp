// Which news items an update run shows, and how it reads the news file: which element is the
// current item, and the item's numbers.
#include "core/news/NewsSelection.h"

#include "core/news/NewsItem.h"
#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"
#include "core/services/Version.h"

#include <limits>
#include <optional>

namespace {

struct TDecimal {
    bool Negative = false;
    // Saturates at the largest qint64: a longer number is still known to be huge.
    qint64 Magnitude = 0;
};

// A plain decimal integer: optional blanks, an optional sign, digits, optional blanks. Neither
// a hexadecimal prefix nor a locale's grouping or fraction makes a number here: the maker
// writes these attributes as plain decimals, and "$10" taken for 16 would show an item meant
// for a newer updater.
std::optional<TDecimal> ParseDecimal(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    TDecimal result;
    if (*p == '+' || *p == '-')
        result.Negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return std::nullopt;
    constexpr qint64 limit = std::numeric_limits<qint64>::max();
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        result.Magnitude = result.Magnitude > (limit - digit) / 10 ? limit : result.Magnitude * 10 + digit;
    }
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    if (*p != '\0')
        return std::nullopt;
    return result;
}

}  // namespace

bool NeedsNewerUpdater(const pugi::xml_attribute& updaterversion)
{
    const std::optional<TDecimal> value = ParseDecimal(updaterversion.value());
    if (!value)
        throw EVorlandtError(QStringLiteral("Die Updater-Version \"%1\" der Neuigkeit ist keine ganze Zahl.")
                                 .arg(QString::fromUtf8(updaterversion.value())),
                             EVorlandtError::Kind::Convert);
    return !value->Negative && value->Magnitude > UpdaterVersion;
}

qint32 NewsId(const pugi::xml_attribute& id)
{
    const std::optional<TDecimal> value = ParseDecimal(id.value());
    constexpr qint64 maxMagnitude = std::numeric_limits<qint32>::max();
    if (!value || value->Magnitude > maxMagnitude + (value->Negative ? 1 : 0))
        throw EVorlandtError(QStringLiteral("Die ID \"%1\" der Neuigkeit ist keine ganze Zahl zwischen "
                                            "-2147483648 und 2147483647.")
                                 .arg(QString::fromUtf8(id.value())),
                             EVorlandtError::Kind::Convert);
    return static_cast<qint32>(value->Negative ? -value->Magnitude : value->Magnitude);
}

pugi::xml_node FirstNewsItem(const pugi::xml_document& news)
{
    for (const pugi::xml_node child : news.document_element().children()) {
        if (child.type() == pugi::node_element)
            return child;
    }
    return pugi::xml_node();
}

TNewsItemFit NewsItemFit(const pugi::xml_node& item)
{
    if (!item)
        return TNewsItemFit::NoItem;
    const pugi::xml_attribute updaterversion = item.attribute("updaterversion");
    if (!updaterversion)
        return TNewsItemFit::NoUpdaterVersion;
    if (NeedsNewerUpdater(updaterversion))
        return TNewsItemFit::NeedsNewerUpdater;
    if (!item.attribute("id"))
        return TNewsItemFit::NoId;
    return TNewsItemFit::Fits;
}

bool ShowDueOldNews()
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("OldNewsExist - Start"));
    const QStringList oldNewsFiles = TNewsItem::GetOldNewsFiles();
    for (const QString& oldNewsFile : oldNewsFiles) {
        TNewsItem news(oldNewsFile);
        news.ShowModal();
    }
    WriteLog(TLogAction::AppendLine, QStringLiteral("OldNewsExist - Ende - Result: True"));
    return true;
}

bool ShowNewsIfNew(const pugi::xml_document& newsFile)
{
    WriteLog(TLogAction::AppendLine, QStringLiteral("NewsExist - Start"));
    bool result = false;
    const QString newerUpdaterLine =
        QStringLiteral("NewsExist - NewsItem verlangt höhere Updater-Version als installiert");
    const pugi::xml_node newsNode = FirstNewsItem(newsFile);
    switch (NewsItemFit(newsNode)) {
        case TNewsItemFit::NoItem:
            break;
        case TNewsItemFit::NoUpdaterVersion:
        case TNewsItemFit::NeedsNewerUpdater:
            WriteLog(TLogAction::AppendLine, newerUpdaterLine);
            break;
        case TNewsItemFit::NoId:
            WriteLog(TLogAction::AppendLine, QStringLiteral("NewsExist - NewsItem hat keine ID-Angabe"));
            break;
        case TNewsItemFit::Fits: {
            const pugi::xml_attribute id = newsNode.attribute("id");
            const qint32 lastNewsID =
                ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID,
                                 SettingsKeys::LastNewsIDDefault);
            const qint32 newsID = NewsId(id);
            // Stored before the comparison: the item evaluated last is what counts, also when
            // the maker went back to a lower id.
            WriteIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastNewsID,
                              newsID);
            if (newsID <= lastNewsID) {
                WriteLog(TLogAction::AppendLine, QStringLiteral("NewsExist - NewsItem bereits angezeigt"));
            } else {
                TNewsItem news(newsNode);
                news.ShowModal();
                result = true;
            }
            break;
        }
    }
    WriteLog(TLogAction::AppendLine, QStringLiteral("NewsExist - Ende - Result: ") + BoolText(result));
    return result;
}
