// "add": one new version entered into its module's descriptor, as a small edit of the file's text
// (its encoding, line ends, indentation, element names and everything else stay as they were),
// checked by the updater's own reader before anything is written.
#pragma once

#include "ReleaseCheck.h"
#include "Signing.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace publish {

struct TAddRequest {
    int Modul = 0;
    TVersion Version;
    QString TextPath;  // the release notes, RTF
    // The update element's optional attributes, as they are written into it.
    std::optional<QString> Filename;
    bool Still = false;
    std::optional<QString> Typ;
    std::optional<QString> LizenzUrl;
    std::optional<QString> UpdaterVersion;
    // The root's reference to the installation directory, for a new file.
    std::optional<QString> RegRootKey;
    std::optional<QString> RegKey;
    std::optional<QString> RegName;
    // Sign what was written with this private key.
    std::optional<QString> SignKey;
    TSignOptions SignOptions;
    QString Dir;
};

// The arguments after "add". Raises cli::TUsageError.
TAddRequest ParseAddArguments(QStringList args);

int AddUpdate(const QString& program, const TAddRequest& request);

}  // namespace publish
