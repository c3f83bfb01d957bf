// Keys and signatures for descriptors and news: a key made once on the maker's machine, a
// signature beside each file before it is published, and a signature checked as the updater
// checks it. The private key never leaves the maker's machine.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace publish {

// What the options in front of the arguments of "sign" and "verify" say.
struct TSignOptions {
    std::optional<qint64> Expires;  // seconds since 1970 UTC
    std::optional<QString> Name;
    bool Force = false;
};

// Takes the options ("--expires X", "--expires=X", "--name X", "--name=X", "--force") off the
// front of `args`; `allowed` lists the ones the command knows. Raises cli::TUsageError.
TSignOptions TakeSignOptions(QStringList& args, const QStringList& allowed);

// "30": that many days from now; "2027-01-31": to the end of that day in UTC. Raises
// cli::TUsageError for anything else, a moment already past and more than 36500 days ahead.
qint64 ParseExpires(const QString& value);

// What "sign" does with a file the updater would not read.
enum class TContentRule {
    Refuse,  // not signed, unless forced; the run fails
    Warn,    // signed, with the reason on stderr (the older name's behaviour, kept for its scripts)
};

int Keygen(const QString& keyPath);
// Every file is tried; the result is cli::ExitFailed when one failed or was refused.
int SignFiles(const QString& program, const TSignOptions& options, TContentRule rule, const QString& keyPath,
              const QStringList& files);
int Verify(const QString& program, const TSignOptions& options, const QString& publicKey,
           const QString& path);

// The commands "keygen", "sign" and "verify" with their arguments; nullopt for another command.
std::optional<int> RunSigningCommand(const QString& program, TContentRule rule, const QStringList& args);

}  // namespace publish
