// The key list comes from the machine-wide store alone: whoever may write there may also replace
// the program, while a value in the per-user store would let any user switch the check off.
#include "core/sources/SignatureCheck.h"

#include "core/services/Log.h"
#include "core/services/Registry.h"
#include "core/services/SettingsKeys.h"

#include <QRegularExpression>

namespace {

const QString LogPrefix = QStringLiteral("Signaturprüfung - ");

}  // namespace

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

TSignatureCheck::Result TSignatureCheck::Check(QByteArrayView file,
                                               const std::optional<QByteArray>& signatureFileContent) const
{
    if (!FEnabled)
        return Result::Good;
    if (!signatureFileContent)
        return Result::Missing;
    const std::optional<QByteArray> signature = platform::DecodeSignatureFile(*signatureFileContent);
    if (!signature)
        return Result::Malformed;
    const qsizetype first = FFirstKey->load(std::memory_order_relaxed);
    for (qsizetype i = 0; i < FKeys.size(); ++i) {
        const qsizetype index = (first + i) % FKeys.size();
        if (FKeys.at(index).Verify(file, *signature)) {
            FFirstKey->store(index, std::memory_order_relaxed);
            return Result::Good;
        }
    }
    return Result::Invalid;
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
    }
    return QStringLiteral("Signatur ungültig");
}

QString TSignatureCheck::LogText(const QString& fileName, Result result)
{
    return LogPrefix + fileName + QStringLiteral(": ") + ReasonText(result);
}
