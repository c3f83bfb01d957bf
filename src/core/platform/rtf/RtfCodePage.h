// Code pages of RTF text: which one a font's character set selects, and the decoding of the
// bytes an RTF file writes in it (\'hh escapes and raw 8-bit characters).
#pragma once

#include <QByteArrayView>
#include <QString>

#include <map>
#include <memory>

namespace platform {

class TCodePageDecoder;

constexpr int kRtfAnsiCodePage = 1252;
// Windows' own number for symbol fonts (CP_SYMBOL): their bytes are glyph numbers, not text.
constexpr int kRtfSymbolCodePage = 42;

// The code page a font's \fcharset selects; 0 when the character set leaves it to the document
// (\ansicpg), as ANSI_CHARSET and DEFAULT_CHARSET do.
int CodePageOfCharset(int charset);

// Decodes byte runs of one code page after another. Single-byte pages go through tables shared
// by the whole process; multi-byte pages (932, 936, 949, 950, UTF-8) through a converter of this
// decoder's own. Code pages nobody can decode here fall back to Windows-1252.
class TRtfTextDecoder {
public:
    TRtfTextDecoder();
    ~TRtfTextDecoder();
    TRtfTextDecoder(const TRtfTextDecoder&) = delete;
    TRtfTextDecoder& operator=(const TRtfTextDecoder&) = delete;

    // Appends the text of bytes to out. Control characters other than the tab are left out,
    // since no rendering can show them; bytes the page does not define become U+FFFD.
    void decode(int codePage, QByteArrayView bytes, QString& out);

private:
    std::map<int, std::unique_ptr<TCodePageDecoder>> FConverters;
    int FTablePage = 0;
    const void* FTable = nullptr;  // the shared table of FTablePage
    TCodePageDecoder* converter(int codePage);
};

}  // namespace platform
