// The bytes of a text in each encoding the installed-updates log may be kept in, written out by
// hand so that the expectations do not lean on the converters the code under test uses.
#pragma once

#include <QByteArray>
#include <QChar>
#include <QMetaType>
#include <QString>

enum class TEncoding { Windows1252, Utf8Bom, Utf16LE, Utf16BE };

Q_DECLARE_METATYPE(TEncoding)

inline QByteArray Encoded(const QString& text, TEncoding encoding)
{
    switch (encoding) {
        case TEncoding::Utf8Bom:
            return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        case TEncoding::Utf16LE:
        case TEncoding::Utf16BE: {
            QByteArray bytes =
                encoding == TEncoding::Utf16LE ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
            for (const QChar c : text) {
                const char high = char(c.unicode() >> 8);
                const char low = char(c.unicode() & 0xFF);
                bytes.append(encoding == TEncoding::Utf16LE ? low : high);
                bytes.append(encoding == TEncoding::Utf16LE ? high : low);
            }
            return bytes;
        }
        case TEncoding::Windows1252:
            break;
    }
    // The tests' texts stay inside Latin-1, the Euro sign and '?'.
    QByteArray bytes = text.toLatin1();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QChar(0x20AC))
            bytes[i] = char(0x80);
    }
    return bytes;
}
