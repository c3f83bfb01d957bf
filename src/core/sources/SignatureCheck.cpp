// The key list comes from the machine-wide store alone: whoever may write there may also replace
// the program, while a value in the per-user store would let any user switch the check off.
#include "core/sources/SignatureCheck.h"

#include "core/platform/Clock.h"
#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>

namespace {

const QString LogPrefix = QStringLiteral("Signaturprüfung - ");

// The first word of a signature file, and (with its terminating zero byte) the start of every
// signed message: no other text this program signs begins with it, so a signature made for a
// file is never valid for anything else.
constexpr char FileMarker[] = "vorlandt-signatur";

const QString ExpiryFormat = QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'");

bool IsTrailingBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArray ExpiryText(qint64 expires)
{
    return QDateTime::fromSecsSinceEpoch(expires, Qt::UTC).toString(ExpiryFormat).toLatin1();
}

// Only the spelling ExpiryText writes: one moment has one text, as the signature has one.
std::optional<qint64> ParseExpiry(QByteArrayView text)
{
    static const QRegularExpression Shape(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}Z$"));
    const QString string = QString::fromLatin1(text);
    if (!Shape.match(string).hasMatch())
        return std::nullopt;
    QDateTime moment = QDateTime::fromString(string, ExpiryFormat);
    moment.setTimeSpec(Qt::UTC);
    if (!moment.isValid())
        return std::nullopt;
    const qint64 seconds = moment.toSecsSinceEpoch();
    if (ExpiryText(seconds) != text)
        return std::nullopt;
    return seconds;
}

}  // namespace

QByteArray TSignatureFile::Text() const
{
    return QByteArray(FileMarker) + ' ' + QByteArray::number(TSignatureCheck::FormatVersion) + ' ' +
           (Expires ? ExpiryText(*Expires) : QByteArray("-")) + ' ' + Signature.toBase64() + '\n';
}

std::optional<TSignatureFile> TSignatureFile::Parse(QByteArrayView content)
{
    if (content.size() > TSignatureCheck::MaxSignatureFileSize)
        return std::nullopt;
    qsizetype end = content.size();
    while (end > 0 && IsTrailingBlank(content.at(end - 1)))
        --end;
    // Single blanks between the fields, none before: one signature has one spelling.
    const QList<QByteArray> fields = content.first(end).toByteArray().split(' ');
    if (fields.size() != 4 || fields.at(0) != FileMarker ||
        fields.at(1) != QByteArray::number(TSignatureCheck::FormatVersion))
        return std::nullopt;
    TSignatureFile file;
    if (fields.at(2) != "-") {
        file.Expires = ParseExpiry(fields.at(2));
        if (!file.Expires)
            return std::nullopt;
    }
    std::optional<QByteArray> signature =
        platform::DecodeBase64Exactly(fields.at(3), platform::Ed25519SignatureSize);
    if (!signature)
        return std::nullopt;
    file.Signature = std::move(*signature);
    return file;
}

QByteArray TSignatureCheck::SignedMessage(const QString& fileName, std::optional<qint64> expires,
                                          QByteArrayView fileDigest)
{
    const QByteArray name = fileName.toUtf8();
    if (name.isEmpty() || name.size() > MaxSignedNameSize || fileDigest.size() != platform::Sha512Size)
        return {};
    // Every part has a fixed size or its length in front of it, so no two different
    // (name, expiry, digest) give the same message.
    QByteArray message(FileMarker, sizeof FileMarker);
    message += char(FormatVersion);
    message += char(name.size() >> 8);
    message += char(name.size() & 0xFF);
    message += name;
    message += char(expires ? 1 : 0);
    char seconds[8];
    qToBigEndian<qint64>(expires.value_or(0), seconds);
    message += QByteArrayView(seconds, sizeof seconds);
    message += fileDigest;
    return message;
}

TSignatureCheck TSignatureCheck::FromKeyText(const QString& keyText)
{
    TSignatureCheck check;
    static const QRegularExpression Blanks(QStringLiteral("\\s+"));
    const QStringList entries = keyText.split(Blanks, Qt::SkipEmptyParts);
    check.FEnabled = !entries.isEmpty();
    for (const QString& entry : entries) {
        // A character outside Latin-1 becomes "?", which no base64 text contains.
        std::optional<platform::TEd25519PublicKey> key =
            platform::TEd25519PublicKey::FromBase64(entry.toLatin1());
        if (key)
            check.FKeys.append(std::move(*key));
        else
            check.FBadEntries.append(entry);
    }
    return check;
}

TSignatureCheck TSignatureCheck::ReadMachineStore()
{
    platform::TReadStatus status = platform::TReadStatus::Missing;
    const std::optional<platform::TRawValue> raw = platform::StoreBackend::readValue(
        HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate, SettingsKeys::SignatureKeys, &status);
    TSignatureCheck check;
    if (status == platform::TReadStatus::Failed) {
        // The list may well be configured in a store that could not be read: an unreadable
        // store must not switch the check off.
        check.FEnabled = true;
        check.FBadEntries.append(QStringLiteral("(Einstellungsspeicher nicht lesbar)"));
    } else if (!raw) {
        return {};
    } else if (raw->kind == platform::TValueKind::DWord || raw->kind == platform::TValueKind::QWord) {
        // A number is no key list; the administrator meant to switch the check on, so it stays on.
        check.FEnabled = true;
        check.FBadEntries.append(QStringLiteral("(Zahl statt Text)"));
    } else {
        check = FromKeyText(ReadStringValue(HKEY_LOCAL_MACHINE, SettingsKeys::OnlineUpdate,
                                            SettingsKeys::SignatureKeys, QString()));
    }
    return check;
}

TSignatureCheck TSignatureCheck::FromMachineStore()
{
    TSignatureCheck check = ReadMachineStore();
    if (!check.FBadEntries.isEmpty()) {
        QStringList quoted;
        for (const QString& entry : std::as_const(check.FBadEntries))
            quoted.append(u'"' + entry + u'"');
        QString line = LogPrefix + QStringLiteral("ungültiger Schlüssel in %1 übergangen: %2")
                                       .arg(SettingsKeys::SignatureKeys, quoted.join(QStringLiteral(", ")));
        if (check.FKeys.isEmpty())
            line += QStringLiteral(" - kein gültiger Schlüssel, jede Datei wird abgelehnt");
        WriteLog(TLogAction::AppendLine, line);
    }
    return check;
}

bool TSignatureCheck::SwitchedOnInMachineStore()
{
    return ReadMachineStore().Enabled();
}

TSignatureCheck::Result TSignatureCheck::Check(QByteArrayView file, const QString& fileName,
                                               const std::optional<QByteArray>& signatureFileContent) const
{
    if (!FEnabled)
        return Result::Good;
    if (!signatureFileContent)
        return Result::Missing;
    const std::optional<TSignatureFile> signature = TSignatureFile::Parse(*signatureFileContent);
    if (!signature)
        return Result::Malformed;
    // The file is hashed once; each key then checks a message of a few dozen bytes.
    const QByteArray message = SignedMessage(fileName, signature->Expires, platform::Sha512(file));
    if (message.isEmpty())
        return Result::Invalid;
    const bool verified = std::any_of(
        FKeys.cbegin(), FKeys.cend(),
        [&](const platform::TEd25519PublicKey& key) { return key.Verify(message, signature->Signature); });
    if (!verified)
        return Result::Invalid;
    // The expiry counts only once the signature vouches for it.
    if (signature->Expires && platform::Clock::now().toSecsSinceEpoch() >= *signature->Expires)
        return Result::Expired;
    return Result::Good;
}

QString TSignatureCheck::SignatureFileName(const QString& fileName)
{
    return fileName + QStringLiteral(".sig");
}

QString TSignatureCheck::ReasonText(Result result)
{
    switch (result) {
        case Result::Good:
            return {};
        case Result::Missing:
            return QStringLiteral("Signatur fehlt");
        case Result::Malformed:
        case Result::Invalid:
            return QStringLiteral("Signatur ungültig");
        case Result::Expired:
            return QStringLiteral("Signatur abgelaufen");
    }
    return QStringLiteral("Signatur ungültig");
}

QString TSignatureCheck::LogText(const QString& fileName, Result result)
{
    return LogPrefix + fileName + QStringLiteral(": ") + ReasonText(result);
}
