// Whether a fetched descriptor or news file comes from the maker: its detached signature beside
// it ("FILE.sig") must verify with one of the keys the administrator put in the machine-wide
// store. Without configured keys nothing is checked and every file passes.
#pragma once

#include "core/platform/Ed25519.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>

class TSignatureCheck {
public:
    enum class Result { Good, Missing, Malformed, Invalid };

    // A signature file is one base64 line; anything this large is no signature and is not read.
    static constexpr qint64 MaxSignatureFileSize = 1024;

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

    // `signatureFileContent` is the fetched "FILE.sig", nullopt when there was none.
    // Good whenever the check is off. Safe to call from several threads at once.
    Result Check(QByteArrayView file, const std::optional<QByteArray>& signatureFileContent) const;

    // "update_12_5.xml" -> "update_12_5.xml.sig" (also for paths and addresses).
    static QString SignatureFileName(const QString& fileName);
    // "Signatur fehlt", "Signatur ungültig"; empty for Good.
    static QString ReasonText(Result result);
    // The diagnostic line for a file that failed: "Signaturprüfung - <file>: <reason>".
    static QString LogText(const QString& fileName, Result result);

private:
    static TSignatureCheck ReadMachineStore();

    bool FEnabled = false;
    QList<platform::TEd25519PublicKey> FKeys;
    QStringList FBadEntries;
    // The key that verified last is tried first: while two keys are configured for a rotation,
    // a maker signs all files with one of them, and each further key tried costs one more pass
    // over the file. Shared by copies, which hold the same keys.
    std::shared_ptr<std::atomic<qsizetype>> FFirstKey = std::make_shared<std::atomic<qsizetype>>(0);
};
