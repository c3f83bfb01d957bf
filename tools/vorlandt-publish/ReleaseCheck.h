// Reading a release the way the updater will: which files and folders of an update tree a client
// asks for, what it takes from each (through the core's own reading of descriptors, news and
// signatures), and every reason it would have for not taking one.
#pragma once

#include "core/sources/DescriptorFile.h"
#include "core/sources/SignatureCheck.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace publish {

// What a file's published name tells the updater it is.
struct TPublishedName {
    enum class TKind { Descriptor, News, Other };
    TKind Kind = TKind::Other;
    int ModulID = 0;
    int Hauptversion = 0;
};

// A number as the updater writes one into a name: decimal, no sign, no leading zero, 32 bits.
std::optional<int> ParseNameNumber(const QString& text);

// "update_12_3.xml": module 12's descriptor for major version 3, written exactly as the updater
// asks for it (no leading zeros, no sign); "news.xml": the news file; anything else: Other.
TPublishedName ParsePublishedName(const QString& fileName);
// "Modul_12" -> 12, written exactly as the updater asks for it; nullopt for any other name.
std::optional<int> ModuleFolderNumber(const QString& folderName);

// A version as the maker writes it: "12.3.2".
struct TVersion {
    qint32 Haupt = 0;
    qint32 Neben = 0;
    qint32 Unter = 0;
};
// Three plain decimal numbers from 0 to 2147483647 separated by dots; nullopt otherwise.
std::optional<TVersion> ParseVersion(const QString& text);
QString VersionText(qint32 haupt, qint32 neben, qint32 unter);

// What a client makes of a file's content, its signature aside. `where` names the file in the
// message; the message is empty when a client reads the whole file.
struct TContentVerdict {
    std::optional<sources::TDescriptorReading> Descriptor;
    std::optional<sources::TNewsReading> News;
    QString Problem;
};
// `bytes`: nullopt for a file larger than the updater reads. `name` must be a descriptor's or the
// news file's.
TContentVerdict JudgeContent(const std::optional<QByteArray>& bytes, const TPublishedName& name,
                             const QString& where);
// Reads the file at `path` as the updater reads a fetched one and judges it; a file that cannot be
// read at all gives its read error as the problem.
TContentVerdict JudgeFile(const QString& path, const TPublishedName& name, const QString& where);

struct TCheckOptions {
    // The keys a client is configured with; nullopt: signatures are only looked at, not verified.
    std::optional<TSignatureCheck> Keys;
    // A signature that expires within this many days counts as a problem.
    std::optional<qint64> ExpiresWithinDays;
    // A client's installed version: the versions offered are the ones it would be offered.
    std::optional<TVersion> Installed;
};

// The check of a whole tree: every result line on stdout, every problem on stderr. Returns
// cli::ExitOk when a client reads everything in it, cli::ExitFailed otherwise.
int CheckTree(const QString& program, const TCheckOptions& options, const QString& dir);

}  // namespace publish
