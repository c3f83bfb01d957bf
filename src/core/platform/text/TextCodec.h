// Windows-1252, the code page of every text file the updater and its peers exchange, and the
// byte-order-mark rule for files being read.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// Characters Windows-1252 cannot hold become '?', as the original code page conversion did.
QByteArray EncodeWindows1252(const QString& text);
QString DecodeWindows1252(const QByteArray& bytes);

// A byte-order mark (UTF-8, UTF-16 LE, UTF-16 BE) selects the encoding and is dropped;
// without one the bytes are Windows-1252.
QString DecodeText(const QByteArray& bytes);

// Lines as a text-file reader sees them: split at CR LF, LF or a lone CR; a final line break
// does not start another (empty) line.
QStringList SplitLines(const QString& text);

}  // namespace platform
