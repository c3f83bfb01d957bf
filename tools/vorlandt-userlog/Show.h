// `vorlandt-userlog show`: the installed-updates log as the window shows it, newest entry first,
// or as JSON for scripts. It only reads (through TUserLog, as the window does).
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

// The entries of the log's text, newest first: each an object with "date", "module", "version"
// and "text" (its lines joined with "\n"). Text before the first entry, which no writer of ours
// puts there, is left out.
QJsonArray UserLogEntries(const QString& content);

// What `show` prints: the log with "\n" line ends (the window's "Keine Updates seit Anlage
// dieses Dokumentes durchgeführt." when it is empty or missing), or with `json` one document
// {"log": path, "entries": [...]}.
QByteArray ShowUserLog(bool json);
