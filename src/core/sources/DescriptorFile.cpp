// Reading one descriptor or news file the way the update checker does, one step after another,
// keeping the first reason a client would have for not taking it.
#include "core/sources/DescriptorFile.h"

#include "core/platform/VorlandtError.h"
#include "core/sources/FileFetch.h"
#include "core/sources/XmlDecoding.h"
#include "core/sources/XmlLoad.h"

#include <QByteArrayView>

#include <algorithm>

namespace sources {

namespace {

// The line of a node the parser placed at `offset` in its input. Only asked for when a reason
// is reported, so decoding the file a second time costs nothing that matters.
qsizetype LineAt(const QByteArray& bytes, std::ptrdiff_t offset)
{
    if (offset < 0)
        return 0;
    QString encodingError;
    const QByteArray input = ParserInput(bytes, encodingError);
    const qsizetype end = std::clamp<qsizetype>(offset, 0, input.size());
    return QByteArrayView(input).first(end).count('\n') + 1;
}

// The checks a client makes before it evaluates anything: the not-available page, then the
// parse. False when the file ends there.
bool LoadLikeTheChecker(const std::optional<QByteArray>& bytes, pugi::xml_document& document,
                        TFileReading& reading)
{
    if (bytes && ContainsNotAvailableMarker(*bytes)) {
        reading.Outcome = TFileReading::TOutcome::NotAvailable;
        reading.Reason = QStringLiteral(
            "Die Datei enthält die Seite \"Datei steht nicht zur Verf&uuml;gung.\" "
            "und gilt als nicht vorhanden.");
        return false;
    }
    const TXmlLoadResult loaded = LoadXml(document, bytes);
    if (!loaded.Error.isEmpty()) {
        reading.Outcome = TFileReading::TOutcome::NotXml;
        reading.Reason = loaded.Error;
        reading.Line = loaded.Line;
        return false;
    }
    return true;
}

void Refuse(TFileReading& reading, const QString& reason, qsizetype line)
{
    reading.Outcome = TFileReading::TOutcome::Malformed;
    reading.Reason = reason;
    reading.Line = line;
}

}  // namespace

QString DescriptorFolder(int ModulID)
{
    return QStringLiteral("Modul_%1").arg(ModulID);
}

QString DescriptorFileName(int ModulID, int ModulHauptversion)
{
    return QStringLiteral("update_%1_%2.xml").arg(ModulID).arg(ModulHauptversion);
}

TDescriptorReading ReadDescriptorFile(const std::optional<QByteArray>& bytes)
{
    TDescriptorReading reading;
    pugi::xml_document document;
    if (!LoadLikeTheChecker(bytes, document, reading))
        return reading;
    const pugi::xml_node root = document.document_element();
    // GetVersionsFromXML's order: a descriptor refused as a whole, then the root's reference to
    // the installation directory, then the updates up to the first malformed one.
    TDescriptorOffers offers = ReadDescriptorOffers(root);
    if (!offers.Refusal.isEmpty()) {
        Refuse(reading, offers.Refusal, 0);
        return reading;
    }
    try {
        ReadZielVerzeichnisAngabe(root);
    } catch (const EVorlandtError& e) {
        Refuse(reading, e.message(), LineAt(*bytes, root.offset_debug()));
        return reading;
    }
    reading.Updates = std::move(offers.Updates);
    if (!offers.Error.isEmpty())
        Refuse(reading, offers.Error, LineAt(*bytes, offers.ErrorOffset));
    return reading;
}

TNewsReading ReadNewsFile(const std::optional<QByteArray>& bytes)
{
    TNewsReading reading;
    pugi::xml_document document;
    if (!LoadLikeTheChecker(bytes, document, reading))
        return reading;
    const pugi::xml_node item = FirstNewsItem(document);
    try {
        reading.Fit = NewsItemFit(item);
        if (const pugi::xml_attribute updaterversion = item.attribute("updaterversion"))
            reading.UpdaterVersion = QString::fromUtf8(updaterversion.value());
        if (reading.Fit == TNewsItemFit::Fits)
            reading.Id = NewsId(item.attribute("id"));
    } catch (const EVorlandtError& e) {
        Refuse(reading, e.message(), LineAt(*bytes, item.offset_debug()));
        return reading;
    }
    // The words of the checker's log line for an item it passes over.
    if (reading.Fit == TNewsItemFit::NoUpdaterVersion) {
        reading.Outcome = TFileReading::TOutcome::NotShown;
        reading.Reason = QStringLiteral(
            "NewsItem verlangt höhere Updater-Version als installiert "
            "(kein Attribut \"updaterversion\")");
    } else if (reading.Fit == TNewsItemFit::NoId) {
        reading.Outcome = TFileReading::TOutcome::NotShown;
        reading.Reason = QStringLiteral("NewsItem hat keine ID-Angabe");
    }
    if (reading.Outcome == TFileReading::TOutcome::NotShown)
        reading.Line = LineAt(*bytes, item.offset_debug());
    return reading;
}

}  // namespace sources
