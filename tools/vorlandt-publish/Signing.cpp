// keygen, sign and verify: Ed25519 keys in PEM files, one signature file beside each signed file.
#include "Signing.h"

#include "Output.h"
#include "ReleaseCheck.h"

#include "core/platform/Clock.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/crypto/Ed25519.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/SignatureCheck.h"
#include "core/sources/XmlLoad.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringList>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace publish {

namespace {

using cli::ExitFailed;
using cli::ExitOk;
using cli::TUsageError;

// A PEM key file is a few hundred bytes; a descriptor with ten thousand updates a few MiB.
constexpr qint64 MaxKeyFileSize = 64 * 1024;
constexpr qint64 MaxSignedFileSize = 256 * 1024 * 1024;

struct TPkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TBioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct TMdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using TPkey = std::unique_ptr<EVP_PKEY, TPkeyFree>;

[[noreturn]] void Fail(const QString& message)
{
    ERR_clear_error();
    throw EVorlandtError(message);
}

QByteArray PublicKeyBase64(EVP_PKEY* key)
{
    QByteArray raw(platform::Ed25519PublicKeySize, '\0');
    size_t length = size_t(raw.size());
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(raw.data()), &length) != 1 ||
        length != size_t(raw.size()))
        Fail(QStringLiteral("Der öffentliche Schlüssel kann nicht ermittelt werden."));
    return raw.toBase64();
}

TPkey ReadPrivateKey(const QString& keyPath)
{
    const std::optional<QByteArray> pem = platform::ReadRegularFileWithin(keyPath, MaxKeyFileSize);
    if (!pem)
        Fail(QStringLiteral("\"%1\" ist keine Schlüsseldatei (zu groß).").arg(keyPath));
    const std::unique_ptr<BIO, TBioFree> bio(BIO_new_mem_buf(pem->constData(), int(pem->size())));
    TPkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        Fail(QStringLiteral("\"%1\" enthält keinen privaten Ed25519-Schlüssel im PEM-Format.").arg(keyPath));
    return key;
}

QByteArray Sign(EVP_PKEY* key, const QByteArray& message)
{
    const std::unique_ptr<EVP_MD_CTX, TMdCtxFree> ctx(EVP_MD_CTX_new());
    QByteArray signature(platform::Ed25519SignatureSize, '\0');
    size_t length = size_t(signature.size());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(message.constData()),
                       size_t(message.size())) != 1 ||
        length != size_t(signature.size()))
        Fail(QStringLiteral("Die Signatur kann nicht berechnet werden."));
    return signature;
}

// A new file beside the target, renamed over it: whatever is at the target's name, a link
// included, is replaced, never written through.
void ReplaceFile(const QString& target, const QByteArray& content)
{
    platform::WriteFileAtomically(target, content);
}

constexpr qint64 SecondsPerDay = 24 * 60 * 60;
constexpr qint64 MaxExpiryDays = 36500;

// The name a signature is for: the file's own name unless one is given.
QString SignedName(const TSignOptions& options, const QString& path)
{
    return options.Name.value_or(QFileInfo(path).fileName());
}

// Why the updater would not read `content` when it is published as `name`; empty when it would.
// The same words as the check of a whole tree.
QString ContentProblem(const QByteArray& content, const QString& name, const QString& path)
{
    const TPublishedName published = ParsePublishedName(name);
    if (published.Kind == TPublishedName::TKind::Other)
        return QStringLiteral(
                   "%1: Der Updater fragt nie nach einer Datei namens \"%2\"; er liest "
                   "update_<Modul>_<Hauptversion>.xml und news.xml (--name gibt den Namen an, "
                   "unter dem die Datei veröffentlicht wird).")
            .arg(path, name);
    // What the updater reads at most; anything larger it cannot read.
    const std::optional<QByteArray> bytes =
        content.size() > sources::kMaxXmlFileSize ? std::nullopt : std::optional<QByteArray>(content);
    return JudgeContent(bytes, published, path).Problem;
}

}  // namespace

// Written the one way, linked under its name only while the name is free: an existing key is
// never overwritten, and a link planted at the path is never followed.
int Keygen(const QString& keyPath)
{
    const TPkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        Fail(QStringLiteral("Es kann kein neuer Schlüssel erzeugt werden."));
    const std::unique_ptr<BIO, TBioFree> bio(BIO_new(BIO_s_mem()));
    // PKCS#8 without a passphrase: the key file is protected by its mode and by where it is kept.
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        Fail(QStringLiteral("Der Schlüssel kann nicht als PEM geschrieben werden."));
    char* pemData = nullptr;
    const long pemSize = BIO_get_mem_data(bio.get(), &pemData);

    const auto cleanse = qScopeGuard([pemData, pemSize] { OPENSSL_cleanse(pemData, size_t(pemSize)); });
    if (!platform::NameMissing(keyPath))
        Fail(QStringLiteral("\"%1\" gibt es schon; ein vorhandener Schlüssel wird nie überschrieben.").arg(keyPath));
    {
        // The umask can only take bits away; the mode is set outright so it is 0600 whatever it
        // was (on Windows the file is the user's alone).
        platform::TAtomicFile file(keyPath, platform::FileModePrivate);
        file.RestrictToOwner();
        file.Write(QByteArrayView(pemData, pemSize));
        if (!file.CommitNew())
            Fail(QStringLiteral("\"%1\" gibt es schon; ein vorhandener Schlüssel wird nie überschrieben.")
                     .arg(keyPath));
    }
    WriteBytes(stdout, PublicKeyBase64(key.get()) + '\n');
    return ExitOk;
}

// "30": that many days from now; "2027-01-31": to the end of that day in UTC. Either way the
// signature must still be valid when it is made.
qint64 ParseExpires(const QString& value)
{
    const qint64 now = platform::Clock::now().toSecsSinceEpoch();
    static const QRegularExpression Days(QStringLiteral("^[0-9]{1,6}$"));
    static const QRegularExpression Date(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    if (Days.match(value).hasMatch()) {
        const qint64 days = value.toLongLong();
        if (days < 1 || days > MaxExpiryDays)
            throw TUsageError{QStringLiteral("--expires: %1 Tage liegt nicht zwischen 1 und %2")
                                  .arg(value)
                                  .arg(MaxExpiryDays)};
        return now + days * SecondsPerDay;
    }
    if (Date.match(value).hasMatch()) {
        const QDate date = QDate::fromString(value, Qt::ISODate);
        if (!date.isValid())
            throw TUsageError{QStringLiteral("--expires: \"%1\" ist kein Datum").arg(value)};
        const qint64 end = QDateTime(date.addDays(1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
        if (end <= now)
            throw TUsageError{QStringLiteral("--expires: %1 liegt in der Vergangenheit").arg(value)};
        if (end > now + (MaxExpiryDays + 1) * SecondsPerDay)
            throw TUsageError{QStringLiteral("--expires: %1 liegt mehr als %2 Tage in der Zukunft")
                                  .arg(value)
                                  .arg(MaxExpiryDays)};
        return end;
    }
    throw TUsageError{
        QStringLiteral("--expires erwartet eine Anzahl Tage oder ein Datum JJJJ-MM-TT, nicht \"%1\"")
            .arg(value)};
}

TSignOptions TakeSignOptions(QStringList& args, const QStringList& allowed)
{
    TSignOptions options;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        QString option = args.takeFirst();
        if (option == u"--force" && allowed.contains(option)) {
            options.Force = true;
            continue;
        }
        QString value;
        if (const qsizetype equals = option.indexOf(u'='); equals >= 0) {
            value = option.mid(equals + 1);
            option.truncate(equals);
        } else {
            if (!allowed.contains(option))
                throw TUsageError{QStringLiteral("unbekannte Option \"%1\"").arg(option)};
            if (args.isEmpty())
                throw TUsageError{QStringLiteral("%1 erwartet einen Wert").arg(option)};
            value = args.takeFirst();
        }
        if (!allowed.contains(option) || option == u"--force")
            throw TUsageError{QStringLiteral("unbekannte Option \"%1\"").arg(option)};
        if (option == u"--expires") {
            if (options.Expires)
                throw TUsageError{QStringLiteral("--expires ist doppelt angegeben")};
            options.Expires = ParseExpires(value);
        } else {
            if (options.Name)
                throw TUsageError{QStringLiteral("--name ist doppelt angegeben")};
            if (value.isEmpty() || value.contains(u'/') ||
                value.toUtf8().size() > TSignatureCheck::MaxSignedNameSize)
                throw TUsageError{QStringLiteral("--name: \"%1\" ist kein Dateiname").arg(value)};
            options.Name = value;
        }
    }
    return options;
}

int SignFiles(const QString& program, const TSignOptions& options, TContentRule rule, const QString& keyPath,
              const QStringList& files)
{
    const TPkey key = ReadPrivateKey(keyPath);
    int result = ExitOk;
    // Every file is tried: one unreadable file should not leave the others unsigned.
    for (const QString& path : files) {
        try {
            const QByteArray content = platform::ReadRegularFile(path, MaxSignedFileSize);
            const QString name = SignedName(options, path);
            // A signature makes a file look ready to publish: one the updater would refuse or never
            // ask for is not signed unless the maker insists.
            if (const QString problem = ContentProblem(content, name, path); !problem.isEmpty()) {
                if (rule == TContentRule::Warn || options.Force) {
                    PrintError(program, QStringLiteral("Warnung: ") + problem);
                } else {
                    PrintError(program,
                               problem + QStringLiteral(" Nicht signiert (--force signiert trotzdem)."));
                    result = ExitFailed;
                    continue;
                }
            }
            const QByteArray message =
                TSignatureCheck::SignedMessage(name, options.Expires, platform::Sha512(content));
            if (message.isEmpty())
                Fail(QStringLiteral("\"%1\" ist als Name zu lang; --name gibt einen kürzeren an.").arg(name));
            const TSignatureFile signature{Sign(key.get(), message), options.Expires};
            ReplaceFile(TSignatureCheck::SignatureFileName(path), signature.Text());
        } catch (const EVorlandtError& error) {
            PrintError(program, error.message());
            result = ExitFailed;
        }
    }
    return result;
}

int Verify(const QString& program, const TSignOptions& options, const QString& publicKey, const QString& path)
{
    const TSignatureCheck check = TSignatureCheck::FromKeyText(publicKey);
    if (check.KeyCount() != 1 || !check.BadEntries().isEmpty())
        throw TUsageError{QStringLiteral("\"%1\" ist kein öffentlicher Schlüssel").arg(publicKey)};
    const QByteArray content = platform::ReadRegularFile(path, MaxSignedFileSize);
    const QString signaturePath = TSignatureCheck::SignatureFileName(path);
    std::optional<QByteArray> signature;
    if (QFileInfo::exists(signaturePath)) {
        // Too large to be a signature counts as a bad signature, like in the updater.
        signature = platform::ReadRegularFileWithin(signaturePath, TSignatureCheck::MaxSignatureFileSize)
                        .value_or(QByteArray("-"));
    }
    const QString name = SignedName(options, path);
    const TSignatureCheck::Result result = check.Check(content, name, signature);
    if (result != TSignatureCheck::Result::Good) {
        PrintError(program, QStringLiteral("%1: %2").arg(signaturePath, TSignatureCheck::ReasonText(result)));
        return ExitFailed;
    }
    QString line = QStringLiteral("%1: Signatur gültig für \"%2\"").arg(path, name);
    if (const std::optional<TSignatureFile> parsed = TSignatureFile::Parse(*signature);
        parsed && parsed->Expires)
        line += QStringLiteral(" bis ") +
                QDateTime::fromSecsSinceEpoch(*parsed->Expires, Qt::UTC).toString(Qt::ISODate);
    WriteBytes(stdout, (line + u'\n').toUtf8());
    return ExitOk;
}

std::optional<int> RunSigningCommand(const QString& program, TContentRule rule, const QStringList& args)
{
    const QString& command = args.first();
    if (command == u"keygen") {
        if (args.size() != 2)
            throw TUsageError{QStringLiteral("keygen erwartet 1 Argument, nicht %1").arg(args.size() - 1)};
        return Keygen(args.at(1));
    }
    if (command == u"sign") {
        QStringList rest = args.mid(1);
        QStringList allowed{QStringLiteral("--expires"), QStringLiteral("--name")};
        if (rule == TContentRule::Refuse)
            allowed.append(QStringLiteral("--force"));
        const TSignOptions options = TakeSignOptions(rest, allowed);
        if (rest.size() < 2)
            throw TUsageError{QStringLiteral("sign erwartet eine Schlüsseldatei und mindestens eine Datei")};
        if (options.Name && rest.size() != 2)
            throw TUsageError{QStringLiteral("--name gilt nur für eine einzige Datei")};
        return SignFiles(program, options, rule, rest.at(0), rest.mid(1));
    }
    if (command == u"verify") {
        QStringList rest = args.mid(1);
        const TSignOptions options = TakeSignOptions(rest, {QStringLiteral("--name")});
        if (rest.size() != 2)
            throw TUsageError{QStringLiteral("verify erwartet 2 Argumente, nicht %1").arg(rest.size())};
        return Verify(program, options, rest.at(0), rest.at(1));
    }
    return std::nullopt;
}

}  // namespace publish
