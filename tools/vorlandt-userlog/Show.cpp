// Reading the installed-updates log back into its entries.
#include "Show.h"

#include "core/catalog/UserLog.h"
#include "core/services/FrontEnd.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

const QString Separator(23, u'=');

// A heading: separator, the three labelled lines, separator.
bool EntryStartsAt(const QStringList& lines, qsizetype i)
{
    return i + 4 < lines.size() && lines[i] == Separator &&
           lines[i + 1].startsWith(QStringLiteral("Installationsdatum: ")) &&
           lines[i + 2].startsWith(QStringLiteral("Modul: ")) && lines[i + 3].startsWith(QStringLiteral("Version: ")) &&
           lines[i + 4] == Separator;
}

QString After(const QString& line, const QString& label)
{
    return line.mid(label.size());
}

}  // namespace

QJsonArray UserLogEntries(const QString& content)
{
    const QStringList lines = content.split(QStringLiteral("\r\n"));
    QJsonArray entries;
    qsizetype i = 0;
    while (i < lines.size() && !EntryStartsAt(lines, i))
        ++i;
    while (i < lines.size()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("date"), After(lines[i + 1], QStringLiteral("Installationsdatum: ")));
        entry.insert(QStringLiteral("module"), After(lines[i + 2], QStringLiteral("Modul: ")));
        entry.insert(QStringLiteral("version"), After(lines[i + 3], QStringLiteral("Version: ")));
        i += 5;
        QStringList text;
        while (i < lines.size() && !EntryStartsAt(lines, i))
            text.append(lines[i++]);
        // Each entry ends with two empty lines (and the file with its last line end).
        while (!text.isEmpty() && text.last().isEmpty())
            text.removeLast();
        entry.insert(QStringLiteral("text"), text.join(u'\n'));
        entries.append(entry);
    }
    return entries;
}

QByteArray ShowUserLog(bool json)
{
    const TUserLog log;
    if (json) {
        QJsonObject document;
        document.insert(QStringLiteral("log"), TUserLog::LogFilePath());
        document.insert(QStringLiteral("entries"), UserLogEntries(log.Content()));
        return QJsonDocument(document).toJson(QJsonDocument::Indented);
    }
    if (log.Content().isEmpty())
        return QStringLiteral("Keine Updates seit Anlage dieses Dokumentes durchgeführt.\n").toLocal8Bit();
    // Plain text as the window shows it; nothing in it may act on the terminal.
    return WithoutControlCharacters(DisplayLineBreaks(log.Content())).toLocal8Bit();
}
