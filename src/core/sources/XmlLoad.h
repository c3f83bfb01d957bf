// Loading a fetched descriptor or news file into an XML document, within limits that keep a
// damaged or hostile file from costing more than a few hundred megabytes.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <pugixml.hpp>

namespace sources {

// Real descriptors and news files are a few hundred kilobytes. The parser needs 64 bytes per
// element, text or comment and 40 per attribute whatever their length, so a file of nothing
// but "<a/>" would cost sixteen times its size; both limits together keep a damaged or
// hostile file below a few hundred megabytes.
inline constexpr qint64 kMaxXmlFileSize = 64 * 1024 * 1024;

// Why a file larger than `limit` bytes is refused.
QString FileTooLargeText(qint64 limit = kMaxXmlFileSize);

struct TXmlLoadResult {
    QString Error;  // empty: loaded
    // The line the parser stopped in (also named in Error), 0 when the error is about the
    // whole file.
    qsizetype Line = 0;
};

// Loads the fetched file (nullopt: larger than kMaxXmlFileSize) into `document`, which keeps its
// earlier content unless the load succeeds. An empty Error on success, else why the file is not
// an XML document we read.
TXmlLoadResult LoadXml(pugi::xml_document& document, const std::optional<QByteArray>& bytes);

}  // namespace sources
