// The installed-updates log "VL_Userlog.txt" in the data directory, newest entry first, and the
// temporary entries an update search leaves for the installer to add once it has installed one.
#pragma once

#include <QString>

class TUserLog {
public:
    // Reads the log's recent part: its first userlog::MaxLogBytes, cut after the last whole line
    // (the log is newest first). Raises EVorlandtError (kind InOut) when it exists but cannot be
    // read or is a link.
    TUserLog();

    // The log's lines, each followed by CR LF; empty when there is no log or it is empty.
    const QString& Content() const { return FContent; }

    // Writes LogText as the temporary entry of one update into the temporary directory,
    // replacing an earlier entry of the same four numbers. Windows-1252, CR LF after every line.
    static void SaveTempEntry(qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion, qint32 Unterversion,
                              const QString& LogText);

    // Puts the temporary entry of the update given by the four numbers, under the heading of
    // ModulBez, today's date and the version, at the top of the log. A missing temporary entry
    // gives an entry without text. The log keeps the encoding it was read in and stays within
    // userlog::MaxLogBytes (the oldest entries go). The one way every program adds to the log:
    // a log this user owns (or none yet) is replaced under a lock on the data directory (waiting
    // a bounded time for another writer); another's log (the machine's shared one) is handed the
    // entry through vorlandt-userlog-writer, which queues it and replaces the log as its owner.
    // When anything fails EVorlandtError (kind InOut) is raised; the log then stays as it was
    // (an entry the writer queued lands with the next one anybody adds).
    static void AddLastTempEntry(const QString& ModulBez, qint32 ModulNr, qint32 Hauptversion,
                                 qint32 Nebenversion, qint32 Unterversion);

    // Where the files lie: the log in the data directory, the entries in the temporary one.
    static QString LogFilePath();
    static QString TempEntryPath(qint32 ModulNr, qint32 Hauptversion, qint32 Nebenversion,
                                 qint32 Unterversion);

private:
    QString FContent;
};

inline const QString UserLogFileName = QStringLiteral("VL_Userlog.txt");
