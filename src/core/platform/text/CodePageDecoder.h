// Decoding the bytes of a Windows code page (the pages RTF text names): through ICU's converters
// (QStringDecoder) on Linux, through the system's own tables (MultiByteToWideChar) on Windows,
// whose Qt is built without ICU.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <memory>

namespace platform {

// The pages decoded here: the OEM and ANSI pages of Windows but 1252 (which TextCodec knows),
// the East Asian double-byte pages, Mac Roman and UTF-8.
inline constexpr std::array<int, 19> kDecodedCodePages = {437,  850,  852,  866,  874,  932,  936,
                                                          949,  950,  1250, 1251, 1253, 1254, 1255,
                                                          1256, 1257, 1258, 10000, 65001};

bool KnownCodePage(int codePage);

class TCodePageDecoder {
public:
    // isValid() is false when the page is not among kDecodedCodePages or this system lacks it.
    explicit TCodePageDecoder(int codePage);
    ~TCodePageDecoder();
    TCodePageDecoder(const TCodePageDecoder&) = delete;
    TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

    bool isValid() const;
    // The bytes as text, each call on its own: no state is carried from one call to the next
    // (a lead byte at the end of one run does not reach into the next).
    QString decode(QByteArrayView bytes);

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

}  // namespace platform
