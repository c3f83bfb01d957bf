// A module's installed-version file siteinfo_<ModulNr>.ini, raised to the version of an update
// once it is installed; every other line and the file's encoding stay as they were.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TInstalledVersion {
    qint32 Hauptversion = 0;
    qint32 Nebenversion = 0;
    qint32 Unterversion = 0;
};

class TSiteInfo {
public:
    // Zielverzeichnis + "siteinfo_" + ModulNr + ".ini", put together the way the updater reads it.
    static QString PathFor(const QString& Zielverzeichnis, qint32 ModulNr);

    // The file's lines; a missing file gives none. Raises EVorlandtError (kind InOut) when
    // something lies under the name that cannot be read as a small text file.
    static TSiteInfo Read(const QString& path);

    // The version as the updater reads it: the first line "key=value" per key, the key without
    // regard to case; 0 for a missing or non-numeric value.
    TInstalledVersion Version() const;

    // Sets the three keys to `version` when its minor and sub-version are newer than the file's,
    // the rule by which the updater tells a pending update from an installed one; an update
    // installed after a later one never turns the module's version back.
    void Raise(const TInstalledVersion& version);

    bool Changed() const { return FChanged; }
    // The lines with CR LF in the encoding the file was read in (Windows-1252 for a new file).
    QByteArray Bytes() const;

private:
    enum class TEncoding { Windows1252, Utf8, Utf16LE, Utf16BE };

    qsizetype IndexOf(const QString& key) const;
    void Set(const QString& key, qint32 value);

    QStringList FLines;
    TEncoding FEncoding = TEncoding::Windows1252;
    bool FChanged = false;
};
