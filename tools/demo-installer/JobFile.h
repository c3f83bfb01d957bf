// The update job file as the demo installer reads it: every line checked and turned into one
// job before anything is installed, so that a damaged file installs nothing at all.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct TJob {
    int LineNumber = 0;  // 1-based, for messages
    QString DescriptorPath;
    qint32 ModulNr = 0;
    qint32 Hauptversion = 0;
    qint32 Nebenversion = 0;
    qint32 Unterversion = 0;
    bool StillesUpdate = false;
    QString Modulbezeichnung;
};

// The jobs of the file's bytes (a byte-order mark selects the encoding, else Windows-1252).
// Raises EVorlandtError (kind Convert) naming `path` and the line when a line is no job line.
QList<TJob> ParseJobFile(const QString& path, const QByteArray& bytes);

// Reads and parses the file; raises EVorlandtError (kind InOut) when it cannot be read or is not
// a regular file of this user's alone (a link, another owner, a second name, writable by others).
QList<TJob> ReadJobFile(const QString& path);
