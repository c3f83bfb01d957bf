// Reading a module's update descriptor: the updates it offers and the installation directory
// its root element names.
#include "core/sources/DescriptorReader.h"

#include "core/platform/VorlandtError.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"

#include <cstring>
#include <limits>
#include <optional>

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

}  // namespace

// "nr" is a plain decimal number: optional sign, digits, blanks around; nothing that only a
// locale or a hexadecimal prefix would make a number, and nothing outside 32 bits.
std::optional<qint32> DescriptorNr(const char* text)
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

namespace {

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
    const std::optional<qint32> value = DescriptorNr(nr.value());
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
    // The node being read when a failure comes: what the message names.
    pugi::xml_node reading;
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
                if (!nebenversion) {
                    reading = minor;
                    nebenversion = Nr(minor, minor.attribute("nr"), pugi::xml_node());
                }
                reading = update;
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
    if (!offers.Error.isEmpty() && reading)
        offers.ErrorOffset = reading.offset_debug();
    return offers;
}

TZielVerzeichnisAngabe ReadZielVerzeichnisAngabe(const pugi::xml_node& Node)
{
    TZielVerzeichnisAngabe angabe;
    const QString rootKey = Utf8(Node.attribute("verzeichnis_reg_rootkey").value());
    if (rootKey == QLatin1String("{HKLM}"))
        angabe.Root = HKEY_LOCAL_MACHINE;
    else if (rootKey == QLatin1String("{HKCU}"))
        angabe.Root = HKEY_CURRENT_USER;
    else
        throw EVorlandtError(QStringLiteral("Keine gültige Rootkey-Angabe in XML-Datei."));
    const auto required = [&](const char* name) {
        const pugi::xml_attribute attribute = Node.attribute(name);
        if (!attribute)
            throw EVorlandtError(Describe(Node) + QStringLiteral(" hat kein Attribut \"") + Utf8(name) +
                                 QStringLiteral("\"."));
        return Utf8(attribute.value());
    };
    angabe.Name = required("verzeichnis_reg_name");
    angabe.Key = required("verzeichnis_reg_key");
    return angabe;
}

QString GetZielVerzeichnis(const pugi::xml_node& Node)
{
    return LoggedCall<QString>(
        QStringLiteral("GetZielVerzeichnis - Start - Parameters: (XMLNode)"),
        QStringLiteral("GetZielVerzeichnis - Ende - Result: "), [&] {
            const TZielVerzeichnisAngabe angabe = ReadZielVerzeichnisAngabe(Node);
            const QString directory = ReadStringValue(angabe.Root, angabe.Key, angabe.Name, QString());
            if (directory.isEmpty())
                throw EVorlandtError(
                    QStringLiteral("Keine Verzeichnisangabe am angegebenen Registry-Pfad gefunden."));
            // A folder stored Windows-style with a trailing "\" stays as the installer wrote it; it
            // gets no "/" behind the "\".
            return directory.endsWith(u'/') || directory.endsWith(u'\\') ? directory : directory + u'/';
        });
}
