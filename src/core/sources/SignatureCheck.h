// Whether a fetched descriptor or news file comes from the maker: its detached signature beside
// it ("FILE.sig") must verify with one of the keys the administrator put in the machine-wide
// store, for the name the file was asked for under, and must not have expired. Without
// configured keys nothing is checked and every file passes.
//
// A signature file is one line: "vorlandt-signatur 1 <expiry> <signature>", where <expiry> is
// "-" or a UTC moment "2027-02-01T00:00:00Z" and <signature> is base64 of the 64 Ed25519
// signature bytes. The signature is made over the message SignedMessage() builds: a fixed
// context, the format version, the file's name, the expiry and the SHA-512 digest of the file's
// bytes. The same bytes published under another name, or with another expiry, do not verify.
#pragma once

#include "core/platform/crypto/Ed25519.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What a signature file says: the raw signature and until when it holds.
struct TSignatureFile {
    QByteArray Signature;           // Ed25519SignatureSize raw bytes
    std::optional<qint64> Expires;  // seconds since 1970-01-01 UTC; none: it never expires

    // The file's one line, with its line end.
    QByteArray Text() const;
    // nullopt for anything but one line of the current format (blanks, CR and LF may follow);
    // an unknown version is no signature file either.
    static std::optional<TSignatureFile> Parse(QByteArrayView content);
};

class TSignatureCheck {
public:
    // Malformed: no signature file of a version this program knows. Expired: a signature that
    // holds, past its expiry.
    enum class Result { Good, Missing, Malformed, Invalid, Expired };

    // A signature file is one short line; anything this large is no signature: it is not
    // downloaded past this size and not read.
    static constexpr qint64 MaxSignatureFileSize = 4096;
    // The longest file name a signature is made for or checked against, in UTF-8 bytes.
    static constexpr qsizetype MaxSignedNameSize = 255;
    // The version this program writes and the only one it accepts.
    static constexpr int FormatVersion = 1;

    // What is signed for the file with SHA-512 digest `fileDigest`, published as `fileName`
    // ("update_12_5.xml", "news.xml": the name alone, no folder), valid until `expires`.
    // Empty when the name is empty or longer than MaxSignedNameSize.
    static QByteArray SignedMessage(const QString& fileName, std::optional<qint64> expires,
                                    QByteArrayView fileDigest);

    // The machine-wide value only. Bad entries in it are logged (one diagnostic line) and
    // skipped; the check stays on with the rest, and with none left every file fails.
    // Build it once per search: every call reads the store and may log.
    static TSignatureCheck FromMachineStore();
    // Whether the machine-wide value asks for checking, read without logging anything.
    static bool SwitchedOnInMachineStore();
    // The same rules for a value's text, without logging.
    static TSignatureCheck FromKeyText(const QString& keyText);

    bool Enabled() const { return FEnabled; }
    // The entries of the value that are no key, as written.
    const QStringList& BadEntries() const { return FBadEntries; }
    qsizetype KeyCount() const { return FKeys.size(); }

    // `file` as fetched for the name `fileName` the caller asked for (never a name the source
    // supplied); `signatureFileContent` is the fetched "FILE.sig", nullopt when there was none.
    // Good whenever the check is off. The expiry is measured against platform::Clock. Safe to
    // call from several threads at once.
    Result Check(QByteArrayView file, const QString& fileName,
                 const std::optional<QByteArray>& signatureFileContent) const;

    // "update_12_5.xml" -> "update_12_5.xml.sig" (also for paths and addresses).
    static QString SignatureFileName(const QString& fileName);
    // "Signatur fehlt", "Signatur ungültig", "Signatur abgelaufen"; empty for Good.
    static QString ReasonText(Result result);
    // The diagnostic line for a file that failed: "Signaturprüfung - <file>: <reason>".
    static QString LogText(const QString& fileName, Result result);

private:
    static TSignatureCheck ReadMachineStore();

    bool FEnabled = false;
    QList<platform::TEd25519PublicKey> FKeys;
    QStringList FBadEntries;
};
