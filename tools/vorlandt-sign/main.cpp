// vorlandt-sign: how the maker signs descriptors and news before publishing them, and how anyone
// checks a signature the way the updater will. The private key never leaves the maker's machine.
#include "core/platform/Clock.h"
#include "core/platform/crypto/Ed25519.h"
#include "core/platform/files/AtomicFile.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/VorlandtError.h"
#include "core/services/CommandLineHelp.h"
#include "core/sources/SignatureCheck.h"

#include <QCoreApplication>
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

namespace {

using cli::ExitFailed;
using cli::ExitOk;

const QString ProgramName = QStringLiteral("vorlandt-sign");

// A PEM key file is a few hundred bytes; a descriptor with ten thousand updates a few MiB.
constexpr qint64 MaxKeyFileSize = 64 * 1024;
constexpr qint64 MaxSignedFileSize = 256 * 1024 * 1024;

const char UsageText[] =
    "Aufruf: vorlandt-sign BEFEHL ...\n"
    "Signiert Update-Beschreibungen und News für den Vorlandt Online Updater (Ed25519) und\n"
    "prüft Signaturen so, wie der Updater es tut.\n"
    "\n"
    "  keygen SCHLÜSSELDATEI             neuen privaten Schlüssel anlegen (PEM, nur für den\n"
    "                                    Eigentümer lesbar) und den öffentlichen Schlüssel ausgeben\n"
    "  sign [--expires TAGE|JJJJ-MM-TT] [--name NAME] SCHLÜSSELDATEI DATEI...\n"
    "                                    zu jeder DATEI die Signatur DATEI.sig schreiben\n"
    "  verify [--name NAME] ÖFFENTLICHER_SCHLÜSSEL DATEI\n"
    "                                    prüfen, ob DATEI.sig zu DATEI und zum Schlüssel passt\n"
    "  --help                            diese Hilfe\n"
    "  --version                         Version ausgeben\n"
    "\n"
    "Eine Signatur gilt für den Namen, unter dem die Datei veröffentlicht wird\n"
    "(update_12_5.xml, news.xml): das ist der Dateiname von DATEI ohne Ordner, oder NAME\n"
    "(nur bei einer einzigen DATEI). Unter einem anderen Namen ist sie ungültig.\n"
    "--expires TAGE: die Signatur gilt TAGE Tage ab jetzt (1 bis 36500); --expires JJJJ-MM-TT:\n"
    "bis zum Ende dieses Tages (UTC). Danach lehnt der Updater die Datei ab\n"
    "(\"Signatur abgelaufen\"). Ohne --expires gilt sie unbegrenzt.\n"
    "\n"
    "ÖFFENTLICHER_SCHLÜSSEL ist die Zeile, die keygen ausgibt (Base64 der 32 Schlüsselbytes).\n"
    "keygen überschreibt nie eine vorhandene Datei.\n"
    "\n"
    "Exit-Status: 0 Erfolg, 1 Fehler oder Signatur fehlt, ungültig oder abgelaufen (Meldung auf\n"
    "stderr), 2 falscher Aufruf.\n";

using cli::TUsageError;

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

void WriteBytes(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void PrintError(const QString& message)
{
    WriteBytes(stderr, QStringLiteral("%1: %2\n").arg(ProgramName, message).toUtf8());
}

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

// Written the one way files are written, but placed only where nothing has the name yet: an
// existing key is never overwritten, and a link planted at the path is never followed.
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

// A new file beside the target, renamed over it: the rename replaces whatever is at the target's
// name, a link included, and never writes through it.
void ReplaceFile(const QString& target, const QByteArray& content)
{
    platform::WriteFileAtomically(target, content);
}

// What the options before the positional arguments of "sign" and "verify" say.
struct TOptions {
    std::optional<qint64> Expires;  // seconds since 1970 UTC
    std::optional<QString> Name;
};

constexpr qint64 SecondsPerDay = 24 * 60 * 60;
constexpr qint64 MaxExpiryDays = 36500;

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

// The name a signature is for: the file's own name unless one is given.
QString SignedName(const TOptions& options, const QString& path)
{
    return options.Name.value_or(QFileInfo(path).fileName());
}

// Takes the options ("--expires X", "--expires=X", "--name X", "--name=X") off the front of
// `args`; `allowed` lists the ones the command knows.
TOptions TakeOptions(QStringList& args, const QStringList& allowed)
{
    TOptions options;
    while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
        QString option = args.takeFirst();
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
        if (!allowed.contains(option))
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

int SignFiles(const TOptions& options, const QString& keyPath, const QStringList& files)
{
    const TPkey key = ReadPrivateKey(keyPath);
    int result = ExitOk;
    // Every file is tried: one unreadable file should not leave the others unsigned.
    for (const QString& path : files) {
        try {
            const QByteArray content = platform::ReadRegularFile(path, MaxSignedFileSize);
            const QString name = SignedName(options, path);
            const QByteArray message =
                TSignatureCheck::SignedMessage(name, options.Expires, platform::Sha512(content));
            if (message.isEmpty())
                Fail(QStringLiteral("\"%1\" ist als Name zu lang; --name gibt einen kürzeren an.").arg(name));
            const TSignatureFile signature{Sign(key.get(), message), options.Expires};
            ReplaceFile(TSignatureCheck::SignatureFileName(path), signature.Text());
        } catch (const EVorlandtError& error) {
            PrintError(error.message());
            result = ExitFailed;
        }
    }
    return result;
}

int Verify(const TOptions& options, const QString& publicKey, const QString& path)
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
        PrintError(QStringLiteral("%1: %2").arg(signaturePath, TSignatureCheck::ReasonText(result)));
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

int Run(const QStringList& args)
{
    if (args.isEmpty())
        throw TUsageError{QStringLiteral("Befehl fehlt")};
    const QString& command = args.first();
    if (command == u"keygen") {
        if (args.size() != 2)
            throw TUsageError{QStringLiteral("keygen erwartet 1 Argument, nicht %1").arg(args.size() - 1)};
        return Keygen(args.at(1));
    }
    if (command == u"sign") {
        QStringList rest = args.mid(1);
        const TOptions options = TakeOptions(rest, {QStringLiteral("--expires"), QStringLiteral("--name")});
        if (rest.size() < 2)
            throw TUsageError{QStringLiteral("sign erwartet eine Schlüsseldatei und mindestens eine Datei")};
        if (options.Name && rest.size() != 2)
            throw TUsageError{QStringLiteral("--name gilt nur für eine einzige Datei")};
        return SignFiles(options, rest.at(0), rest.mid(1));
    }
    if (command == u"verify") {
        QStringList rest = args.mid(1);
        const TOptions options = TakeOptions(rest, {QStringLiteral("--name")});
        if (rest.size() != 2)
            throw TUsageError{QStringLiteral("verify erwartet 2 Argumente, nicht %1").arg(rest.size())};
        return Verify(options, rest.at(0), rest.at(1));
    }
    throw TUsageError{QStringLiteral("unbekannter Befehl \"%1\"").arg(command)};
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    return cli::RunTool(args, ProgramName, UsageText, Run);
}
