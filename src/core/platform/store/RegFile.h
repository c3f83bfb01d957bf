// Reading and writing registry export files (.reg text) without touching the store: a file
// becomes one batch of store operations per root, and keys with their values become text.
#pragma once

#include "core/platform/store/StoreBackend.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace regfile {

// The signature line of the files regedit writes since Windows 2000.
inline constexpr char16_t Signature[] = u"Windows Registry Editor Version 5.00";

// "HKLM", "HKCU", "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", in any letter case.
std::optional<TRootKey> RootFromName(QStringView name);

// What one file asks for, kept per root so that each root's batch can go into the store as one
// transaction. Within a root the operations keep the order of the file.
struct TRegImport {
    QList<platform::TStoreOp> userOps;
    QList<platform::TStoreOp> machineOps;

    QList<platform::TStoreOp>& opsFor(TRootKey root)
    {
        return root == HKEY_LOCAL_MACHINE ? machineOps : userOps;
    }
};

// Parses a whole file before anything is applied, so a damaged file changes nothing.
// `fileName` only serves the messages: every syntax error raises EVorlandtError with
// "<fileName>:<line>: <what is wrong>".
TRegImport ParseRegFile(const QByteArray& bytes, const QString& fileName);

// Byte lists as .reg files and the tool's command line write them: "01,ff,0" (one or two hex
// digits per byte, blanks around commas, a trailing comma allowed). nullopt when malformed.
std::optional<QByteArray> ParseHexBytes(QStringView text);
// "01,ff,00" without wrapping, as the tool prints binary values.
QString FormatHexBytes(const QByteArray& bytes);

struct TRegKey {
    QString path;  // below the root, without a trailing "\"; empty for the root itself
    QList<platform::TNamedValue> values;
};

// The export text with "\n" line ends: signature, blank line, then each key with its values and
// a blank line. Raises EVorlandtError when a key or value name holds a line break, which the
// format has no way to write.
QString FormatRegText(TRootKey root, const QList<TRegKey>& keys);

// For files: UTF-16 LE with byte-order mark and CR LF, as regedit writes and reads them.
QByteArray EncodeForFile(const QString& text);
// For a terminal: UTF-8 with LF; the tool's import reads this form as well.
QByteArray EncodeForTerminal(const QString& text);

}  // namespace regfile
