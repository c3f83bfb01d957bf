// Evaluating a module's update descriptor: the interval gate, the installation directory the
// root element names, and every offered update into the catalog.
#include "core/sources/Descriptor.h"

#include "core/catalog/Updates.h"
#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <cstring>
#include <limits>

namespace {

QString Utf8(const char* text)
{
    return QString::fromUtf8(text);
}

// Texts taken from the file into a message are cut, so that a damaged file cannot fill the
// screen with one attribute.
QString Excerpt(const QString& text)
{
    constexpr qsizetype kMax = 40;
    return text.size() <= kMax ? text : text.left(kMax) + QStringLiteral("...");
}

QString Quoted(const char* text)
{
    return u'"' + Excerpt(Utf8(text)) + u'"';
}

// Comments and stray text are named by their words, without the line breaks around them.
QString QuotedWords(const char* text)
{
    return u'"' + Excerpt(Utf8(text).simplified()) + u'"';
}

// How a message names a node of the descriptor.
QString Describe(const pugi::xml_node& node)
{
    switch (node.type()) {
        case pugi::node_element: {
            QString text = QStringLiteral("Element ") + Quoted(node.name());
            if (const pugi::xml_attribute nr = node.attribute("nr"))
                text += QStringLiteral(" (nr=") + Quoted(nr.value()) + u')';
            return text;
        }
        case pugi::node_comment:
            return QStringLiteral("Kommentar ") + QuotedWords(node.value());
        case pugi::node_cdata:
            return QStringLiteral("CDATA-Abschnitt ") + QuotedWords(node.value());
        default:
            return QStringLiteral("Text ") + QuotedWords(node.value());
    }
}

// "nr" is a plain decimal number: optional sign, digits, blanks around; nothing that only a
// locale or a hexadecimal prefix would make a number, and nothing outside 32 bits.
std::optional<qint32> DecimalNr(const char* text)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return std::nullopt;
    qint64 value = 0;
    const qint64 limit =
        negative ? -qint64(std::numeric_limits<qint32>::min()) : std::numeric_limits<qint32>::max();
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit)
            return std::nullopt;
    }
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    if (*p != '\0')
        return std::nullopt;
    return static_cast<qint32>(negative ? -value : value);
}

// Where a node stands, for messages: " unter <the minor-version node>", or nothing for a
// minor-version node itself. Only built when a message needs it.
QString Below(const pugi::xml_node& minor)
{
    return minor ? QStringLiteral(" unter ") + Describe(minor) : QString();
}

// The "nr" of a minor-version or update node; `minor` is the node an update stands below (none
// for a minor-version node).
qint32 Nr(const pugi::xml_node& node, const pugi::xml_attribute& nr, const pugi::xml_node& minor)
{
    if (!nr)
        throw EVorlandtError(Describe(node) + Below(minor) + QStringLiteral(" hat kein Attribut \"nr\"."));
    const std::optional<qint32> value = DecimalNr(nr.value());
    if (!value)
        throw EVorlandtError(QStringLiteral("Das Attribut \"nr\" von ") + Describe(node) + Below(minor) +
                             QStringLiteral(" ist keine ganze Zahl."));
    return *value;
}

// The attributes of an update element that are read, each the first of its name. One pass over
// the attributes instead of a search per name: descriptors hold thousands of updates.
struct TUpdateAttributes {
    pugi::xml_attribute nr;
    pugi::xml_attribute filename;
    pugi::xml_attribute still;
    pugi::xml_attribute typ;
    pugi::xml_attribute lizenzUrl;
    pugi::xml_attribute updaterversion;

    explicit TUpdateAttributes(const pugi::xml_node& update)
    {
        for (pugi::xml_attribute attribute = update.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            const char* name = attribute.name();
            pugi::xml_attribute* slot = nullptr;
            if (std::strcmp(name, "nr") == 0)
                slot = &nr;
            else if (std::strcmp(name, "filename") == 0)
                slot = &filename;
            else if (std::strcmp(name, "still") == 0)
                slot = &still;
            else if (std::strcmp(name, "typ") == 0)
                slot = &typ;
            else if (std::strcmp(name, "lizenz_url") == 0)
                slot = &lizenzUrl;
            else if (std::strcmp(name, "updaterversion") == 0)
                slot = &updaterversion;
            if (slot && !*slot)
                *slot = attribute;
        }
    }
};

// The description: the first child element "beschreibung", holding nothing, one text or one
// CDATA section.
QString Beschreibung(const pugi::xml_node& update, const pugi::xml_node& minor)
{
    const pugi::xml_node element = update.child("beschreibung");
    if (!element)
        throw EVorlandtError(Describe(update) + Below(minor) +
                             QStringLiteral(" hat kein Element \"beschreibung\"."));
    const pugi::xml_node content = element.first_child();
    if (!content)
        return QString();
    if (content.next_sibling() || (content.type() != pugi::node_pcdata && content.type() != pugi::node_cdata))
        throw EVorlandtError(QStringLiteral("Das Element \"beschreibung\" von ") + Describe(update) + Below(minor) +
                             QStringLiteral(" enthält nicht genau einen Text oder CDATA-Abschnitt."));
    return Utf8(content.value());
}

// The number of update nodes; refuses a descriptor with more than kMaxUpdatesPerDescriptor and
// counts no further than one past the limit.
qsizetype CheckUpdateCount(const pugi::xml_node& root)
{
    qsizetype count = 0;
    for (const pugi::xml_node minor : root.children()) {
        for (pugi::xml_node update = minor.first_child(); update; update = update.next_sibling()) {
            if (++count > kMaxUpdatesPerDescriptor)
                throw EVorlandtError(
                    QStringLiteral("Die Datei enthält mehr als %1 Updates.").arg(kMaxUpdatesPerDescriptor));
        }
    }
    return count;
}

// A moment as its wall-clock reading. The gate compares such readings: the stored text carries
// no time zone, and a change to or from daylight saving time must not move the gate by an hour.
QDateTime WallClock(const QDateTime& moment)
{
    return QDateTime(moment.date(), moment.time(), Qt::UTC);
}

// The text of an attribute that most updates of a descriptor give alike (type, licence address,
// ...): converted when it changes, else shared with the update before.
class TRepeatedText {
public:
    const QString& operator()(const char* text)
    {
        if (!FKnown || std::strcmp(text, FLast.constData()) != 0) {
            FLast = text;
            FText = Utf8(text);
            FKnown = true;
        }
        return FText;
    }

private:
    bool FKnown = false;
    QByteArray FLast;
    QString FText;
};

}  // namespace

TDescriptorOffers ReadDescriptorOffers(const pugi::xml_node& root)
{
    TDescriptorOffers offers;
    // A failure of the count refuses the whole descriptor; any later one ends the list.
    QString* failure = &offers.Refusal;
    try {
        offers.Updates.reserve(static_cast<size_t>(CheckUpdateCount(root)));
        failure = &offers.Error;
        TRepeatedText still;
        TRepeatedText typ;
        TRepeatedText lizenzUrl;
        TRepeatedText updaterversion;
        for (const pugi::xml_node minor : root.children()) {
            std::optional<qint32> nebenversion;
            for (const pugi::xml_node update : minor.children()) {
                // A minor version without "nr" is harmless until it holds an update.
                if (!nebenversion)
                    nebenversion = Nr(minor, minor.attribute("nr"), pugi::xml_node());
                const TUpdateAttributes attributes(update);
                TOfferedUpdate offered;
                offered.Nebenversion = *nebenversion;
                offered.Unterversion = Nr(update, attributes.nr, minor);
                offered.BeschreibungRTF = Beschreibung(update, minor);
                offered.Dateiname = Utf8(attributes.filename.value());
                offered.StillesUpdate = still(attributes.still.value());
                offered.Typ = typ(attributes.typ.value());
                offered.LizenzURL = lizenzUrl(attributes.lizenzUrl.value());
                offered.UpdaterVersion = updaterversion(attributes.updaterversion.value());
                offers.Updates.push_back(std::move(offered));
            }
        }
    } catch (const EVorlandtError& e) {
        *failure = e.message();
    } catch (const std::exception& e) {
        *failure = QString::fromLocal8Bit(e.what());
    }
    return offers;
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

TCheckSchedule ReadCheckSchedule()
{
    TCheckSchedule schedule;
    // A value never written means the first of January 2012 in any locale: the default text is
    // German and would not read back under another regional format.
    if (ValueExists(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime))
        schedule.LastCheck = platform::StrToDateTime(
            ReadStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                            SettingsKeys::LastCheckDateTimeDefault));
    else
        schedule.LastCheck = QDateTime(QDate(2012, 1, 1), QTime(0, 0));
    schedule.IntervalHours =
        ReadIntegerValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::IntervalInHours,
                         SettingsKeys::IntervalInHoursDefault);
    return schedule;
}

bool TCheckSchedule::Due() const
{
    // At most 2^31 hours: 7.7e15 milliseconds, far inside the range of a date and time.
    return WallClock(platform::Clock::now()) >= WallClock(LastCheck).addSecs(IntervalHours * 60 * 60);
}

void RecordCheckTime()
{
    WriteStringValue(HKEY_CURRENT_USER, SettingsKeys::OnlineUpdate, SettingsKeys::LastCheckDateTime,
                     platform::DateTimeToStr(platform::Clock::now()));
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

QString GetZielVerzeichnis(const pugi::xml_node& Node)
{
    return LoggedCall<QString>(
        QStringLiteral("GetZielVerzeichnis - Start - Parameters: (XMLNode)"),
        QStringLiteral("GetZielVerzeichnis - Ende - Result: "), [&] {
            const QString rootKey = Utf8(Node.attribute("verzeichnis_reg_rootkey").value());
            TRootKey root;
            if (rootKey == QLatin1String("{HKLM}"))
                root = HKEY_LOCAL_MACHINE;
            else if (rootKey == QLatin1String("{HKCU}"))
                root = HKEY_CURRENT_USER;
            else
                throw EVorlandtError(QStringLiteral("Keine gültige Rootkey-Angabe in XML-Datei."));
            const auto required = [&](const char* name) {
                const pugi::xml_attribute attribute = Node.attribute(name);
                if (!attribute)
                    throw EVorlandtError(Describe(Node) + QStringLiteral(" hat kein Attribut \"") +
                                         Utf8(name) + QStringLiteral("\"."));
                return Utf8(attribute.value());
            };
            const QString name = required("verzeichnis_reg_name");
            const QString key = required("verzeichnis_reg_key");
            const QString directory = ReadStringValue(root, key, name, QString());
            if (directory.isEmpty())
                throw EVorlandtError(
                    QStringLiteral("Keine Verzeichnisangabe am angegebenen Registry-Pfad gefunden."));
            // A folder stored Windows-style with a trailing "\" stays as the installer wrote it; it
            // gets no "/" behind the "\".
            return directory.endsWith(u'/') || directory.endsWith(u'\\') ? directory : directory + u'/';
        });
}
