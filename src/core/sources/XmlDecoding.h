// The bytes of a fetched XML file as the parser reads them: UTF-8, whatever the file was
// written in (a byte-order mark wins, else the declared encoding where it is Windows-1252 or one
// its editors confuse it with).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <cstring>

namespace sources {

// True when the bytes begin with a UTF-16 byte-order mark, either order.
bool HasUtf16ByteOrderMark(QByteArrayView bytes);

// Windows-1252 straight to UTF-8.
QByteArray Windows1252ToUtf8(const QByteArray& bytes);

// The file as UTF-8 for the parser: a byte-order mark wins, else a declared Windows-1252 or
// Latin-1 is decoded by our own table, any other declared encoding by the converters Qt knows;
// without a declaration the bytes are taken as UTF-8 as they are. `encodingError` is set (and
// the result empty) when the declared encoding is unknown or the bytes are not valid in it
// (UTF-8 when none is declared).
QByteArray ParserInput(const QByteArray& bytes, QString& encodingError);

// Word-at-a-time helpers for the byte loops that run over whole descriptors before every parse
// (the decoding here, the markup count of the loader); eight bytes at a time they cost a
// fraction of the parse instead of a multiple of it.
inline constexpr quint64 kHighBits = 0x8080808080808080ull;

inline quint64 Word(const char* p)
{
    quint64 word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// 0x01 in every byte of `word` that equals `c`, 0x00 in every other one; exact, without a
// branch per byte.
inline quint64 ByteMatches(quint64 word, unsigned char c)
{
    constexpr quint64 low7 = 0x7F7F7F7F7F7F7F7Full;
    const quint64 t = word ^ (0x0101010101010101ull * c);
    return (~(((t & low7) + low7) | t | low7)) >> 7;
}

}  // namespace sources
